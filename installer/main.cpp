// VexaOrlaInstaller: installs the Vexa Orla suite's package or uninstalls
// the suite, and removes login items of earlier generations of the suite.
#include <QApplication>
#include <QTimer>

#include "errors/alerts.h"
#include "errors/app_identity.h"
#include "installer/app_delegate.h"
#include "installer/linux_platform.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(vexa::appIdentity().bundleName));
    QApplication::setApplicationVersion(QString::fromUtf8(vexa::appIdentity().shortVersion));
    vexa::installTranslationLookup();

    vexa::installer::LinuxInstallerPlatform platform;
    AppDelegate delegate(platform);
    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
    return QApplication::exec();
}
