// KeymapEditor: drag key caps onto a picture of the Vexa Orla keyboard and
// save the tables that the set-up daemon loads into the keyboard.
#include <memory>

#include <QApplication>
#include <QTimer>

#include "editor/app_delegate.h"
#include "editor/application_end.h"
#include "editor/editor_platform.h"
#include "editor/startup_commands.h"
#include "errors/alerts.h"
#include "errors/app_identity.h"

int main(int argc, char** argv) {
    // The start-up's process checks run while the window is being made.
    auto platform = std::make_unique<LinuxEditorPlatform>();
    platform->startShellCommand(vexa::startup::kKarabinerCheck);
    platform->startShellCommand(vexa::startup::kSetUpperCheck);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(vexa::appIdentity().bundleName));
    QApplication::setApplicationVersion(QString::fromUtf8(vexa::appIdentity().shortVersion));
    vexa::installTranslationLookup();

    AppDelegateClass delegate(std::move(platform));
    runWillTerminateOnEveryWayOut(app, delegate);
    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
    return QApplication::exec();
}
