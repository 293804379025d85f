// Runs terminateWithMsgInfo in a process of its own: prints what the alert
// showed, dismisses it, and prints a line from the will-terminate handler.
// The line after the call must never appear.
#include <cstdio>

#include <QApplication>

#include "editor/app_delegate.h"
#include "errors/tests/alert_catcher.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    vexa::test::ProbeReporter reporter;
    AppDelegateClass delegate;
    delegate.terminateWithMsgInfo(QStringLiteral("Driver is not loaded."),
                                  QStringLiteral("You need to install driver again."));
    std::printf("returned\n");
    return 3;
}
