// Runs terminateWithMsgInfo in a process of its own: prints what the alert
// showed, dismisses it, and prints a line from the will-terminate handler.
// The line after the call must never appear.
#include <cstdio>

#include <QApplication>
#include <QTimer>

#include "editor/app_delegate.h"
#include "errors/alerts.h"
#include "errors/tests/alert_catcher.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    vexa::installTranslationLookup();
    vexa::setWillTerminateHandler([](void*) { std::printf("will-terminate\n"); }, nullptr);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [] {
        if (QMessageBox* box = vexa::test::AlertCatcher::openAlert()) {
            std::printf("text=%s|detail=%s\n", qPrintable(box->text()), qPrintable(box->informativeText()));
            box->defaultButton()->click();
        }
    });
    poll.start(10);

    AppDelegateClass delegate;
    delegate.terminateWithMsgInfo(QStringLiteral("Driver is not loaded."),
                                  QStringLiteral("You need to install driver again."));
    std::printf("returned\n");
    return 3;
}
