// Runs the editor's start-up in a process of its own against stand-in
// answers of the system, prints what happens, and ends the editor the way
// the arguments say. Prints:
//   asked <what>        each question to the system ("installed", "loaded",
//                       or the command line), as it is asked
//   watching            keyboard watching starts
//   window karabiner=N  the window is shown; N: the remapping tool was seen
//   text=...|detail=... each alert, which is then dismissed
//   ended hid=N         at exit; N: keyboard watching still on
//
//   editor_startup_probe <way out> [no-driver] [no-daemon] [karabiner] [read-fails]
// Ways out: quit, ok, close, signal (SIGTERM), driver-gone (an ANSI and a
// JIS keyboard appear while no driver object exists), none (the start-up
// ends it).
// HOME and XDG_CONFIG_HOME are the caller's: the settings file is read there
// afterwards.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

#include "editor/app_delegate.h"
#include "editor/application_end.h"
#include "editor/startup_commands.h"
#include "editor/tests/test_editor.h"
#include "errors/tests/alert_catcher.h"

namespace {

class PrintingPlatform : public vexa::test::FakePlatform {
public:
    bool isDriverInstalled() override { return print(FakePlatform::isDriverInstalled()); }
    bool isDriverLoaded() override { return print(FakePlatform::isDriverLoaded()); }
    int runShellCommand(const std::string& commandLine) override {
        const int status = FakePlatform::runShellCommand(commandLine);
        print(status);
        return status;
    }

private:
    template <typename T>
    T print(T answer) {
        std::printf("asked %s\n", qPrintable(asked.back()));
        std::fflush(stdout);
        return answer;
    }
};

class ProbeDelegate : public AppDelegateClass {
public:
    using AppDelegateClass::AppDelegateClass;
    bool readFails = false;

    ErrorCode readSettings() override {
        if (!readFails) return AppDelegateClass::readSettings();
        KZ710stackError(nullptr, 7300154);
        return kErrReadANSI;
    }
    ErrorCode installDeviceNotify() override {
        std::printf("watching\n");
        return AppDelegateClass::installDeviceNotify();
    }
};

// Reachable until the process ends, however it ends.
ProbeDelegate* g_delegate = nullptr;

void printEnded() {
    if (g_delegate != nullptr) std::printf("ended hid=%d\n", g_delegate->hidManager ? 1 : 0);
}

bool has(int argc, char** argv, const char* word) {
    for (int i = 2; i < argc; ++i)
        if (std::strcmp(argv[i], word) == 0) return true;
    return false;
}

void endTheWay(const char* way, vexa::test::FifoKeyboard* ansi, vexa::test::FifoKeyboard* jis) {
    AppDelegateClass& app = *g_delegate;
    const auto item = [&](const char* name) { return app.mainWindow()->findChild<QAction*>(QLatin1String(name)); };
    if (std::strcmp(way, "quit") == 0) item("actionQuit")->trigger();
    if (std::strcmp(way, "ok") == 0) app.mainWindow()->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
    if (std::strcmp(way, "close") == 0) app.mainWindow()->close();
    if (std::strcmp(way, "signal") == 0) ::raise(SIGTERM);
    if (std::strcmp(way, "driver-gone") == 0) {
        app.hidManager->addDevice(ansi->device());
        app.hidManager->addDevice(jis->device());
    }
    if (std::strcmp(way, "unplugged-at-once") == 0) {
        // Plugged in and pulled out again before its check comes due; the
        // editor is quit once the check has passed.
        const std::string syspath = app.hidManager->addDevice(ansi->device())->syspath();
        QTimer::singleShot(500, &app, [&app, syspath] { app.hidManager->removeDevice(syspath); });
        QTimer::singleShot(3000, &app, [&app] {
            app.mainWindow()->findChild<QAction*>(QStringLiteral("actionQuit"))->trigger();
        });
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    QApplication application(argc, argv);
    vexa::test::ProbeReporter reporter;

    auto platform = std::make_unique<PrintingPlatform>();
    platform->driverInstalled = !has(argc, argv, "no-driver");
    platform->driverLoaded = std::strcmp(argv[1], "driver-gone") != 0 && std::strcmp(argv[1], "unplugged-at-once") != 0;
    platform->statuses[vexa::startup::kKarabinerCheck] = has(argc, argv, "karabiner") ? 0 : 1;
    platform->statuses[vexa::startup::kSetUpperCheck] = has(argc, argv, "no-daemon") ? 1 : 0;
    g_delegate = new ProbeDelegate(std::move(platform));
    g_delegate->readFails = has(argc, argv, "read-fails");
    std::atexit(printEnded);
    runWillTerminateOnEveryWayOut(application, *g_delegate);

    // Keyboards for the driver check; DIP switches set, so no sheet opens.
    const std::string home = std::getenv("HOME");
    vexa::test::FifoKeyboard ansi(vexa::guest::kOrlaANSI, home + "/ansi");
    vexa::test::FifoKeyboard jis(vexa::guest::kOrlaJIS, home + "/jis");
    g_delegate->wtiteNewDipSwitchWithSwitch3Switch4(false, false);

    QTimer::singleShot(0, g_delegate, [&] {
        g_delegate->applicationDidFinishLaunching();
        std::printf("window karabiner=%d\n", g_delegate->mainWindow()->isVisible() ? int(g_delegate->karabinerElements) : -1);
        std::fflush(stdout);
        // A setting changed just now must reach the disk on the way out.
        g_delegate->userDefaults().setValue(QStringLiteral("probe"), 1);
        endTheWay(argv[1], &ansi, &jis);
    });
    const int status = QApplication::exec();
    printEnded();
    delete std::exchange(g_delegate, nullptr);
    return status;
}
