// KeymapEditor: drag key caps onto a picture of the Vexa Orla keyboard and
// save the tables that the set-up daemon loads into the keyboard.
#include <QApplication>
#include <QTimer>

#include "editor/app_delegate.h"
#include "errors/app_identity.h"
#include "errors/alerts.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(vexa::appIdentity().bundleName));
    QApplication::setApplicationVersion(QString::fromUtf8(vexa::appIdentity().shortVersion));
    vexa::installTranslationLookup();

    AppDelegateClass delegate;
    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
    return QApplication::exec();
}
