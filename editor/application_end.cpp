#include "editor/application_end.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include <QCoreApplication>
#include <QSocketNotifier>

#include "editor/app_delegate.h"
#include "errors/alerts.h"
#include "platform/glue/log.h"

namespace {

int g_signalSocket[2] = {-1, -1};

// Only writes a byte: the event loop does the rest.
void onTerminationSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalSocket[1], &byte, 1);
    errno = saved;
}

void quitOnTerminationSignals(QObject* owner) {
    if (g_signalSocket[0] < 0 &&
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalSocket) != 0) {
        vexa::logErrno(-errno, SD_WARNING "KeymapEditor: termination signals will end the editor abruptly");
        return;
    }
    auto* notifier = new QSocketNotifier(g_signalSocket[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [] {
        char bytes[16];
        while (::read(g_signalSocket[0], bytes, sizeof bytes) > 0) {
        }
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

}  // namespace

void runWillTerminateOnEveryWayOut(QCoreApplication& application, AppDelegateClass& delegate) {
    vexa::setWillTerminateHandler(
        [](void* context) { static_cast<AppDelegateClass*>(context)->applicationWillTerminate(); }, &delegate);
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &delegate,
                     &AppDelegateClass::applicationWillTerminate);
    quitOnTerminationSignals(&delegate);
}
