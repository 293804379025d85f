// KeymapEditor: drag key caps onto a picture of the Vexa Orla keyboard and
// save the tables that the set-up daemon loads into the keyboard.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include "editor/app_delegate.h"
#include "editor/editor_platform.h"
#include "editor/startup_commands.h"
#include "errors/app_identity.h"
#include "errors/alerts.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

// SIGTERM (the session ends), SIGINT and SIGHUP end the editor the way Quit
// does, on the event loop, so that it ends cleanly.
void quitOnTerminationSignals(QObject* owner) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [] {
        char bytes[16];
        while (::read(g_signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

}  // namespace

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
    // Every way out runs applicationWillTerminate: Quit, OK and closing the
    // window end the event loop; an alert that ends the editor, and a
    // termination signal, go through terminateApplication or the loop.
    vexa::setWillTerminateHandler(
        [](void* context) { static_cast<AppDelegateClass*>(context)->applicationWillTerminate(); }, &delegate);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, &AppDelegateClass::applicationWillTerminate);
    quitOnTerminationSignals(&delegate);

    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
    return QApplication::exec();
}
