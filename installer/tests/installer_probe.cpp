// Test helper: runs the installer's AppDelegate on a platform that carries
// out the safe calls for real (resources, script loading, the user's
// autostart folder) and prints, instead of running them, the ones that
// would ask for a password or change the system. Each alert is printed and
// dismissed; "exit" is printed when the process ends.
//   installer_probe RESOURCE_DIR [version=MAJOR.MINOR] [pkcheck=S,S...]
//                   [create=ERRNO] [privileged=S] [script=S] [shell=real] ACTION...
// shell=real runs the shell commands (printed all the same) instead of only
// printing them.
// Actions: install, uninstall, continue (the guide window's button),
// windows (which windows are visible), stack (the error stack), quit (the
// application menu's Quit).
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "errors/alerts.h"
#include "errors/error_stack.h"
#include "errors/tests/alert_catcher.h"
#include "installer/app_delegate.h"
#include "installer/linux_platform.h"

namespace {

using vexa::installer::Authorization;

class ProbePlatform : public vexa::installer::LinuxInstallerPlatform {
public:
    explicit ProbePlatform(const std::string& resources) : LinuxInstallerPlatform(resources) {}

    int major = 0, minor = 0;
    std::deque<int> pkcheck;
    int create = 0, privileged = 0, script = 0;
    bool realShell = false;

    bool systemVersionAtLeast(int wantMajor, int wantMinor) const override {
        return major > wantMajor || (major == wantMajor && minor >= wantMinor);
    }
    int runShellCommand(const std::string& commandLine) override {
        std::printf("shell %s\n", commandLine.c_str());
        return realShell ? LinuxInstallerPlatform::runShellCommand(commandLine) : 0;
    }
    int authorizationCreate(std::unique_ptr<Authorization>* out) override {
        return create != 0 ? create : LinuxInstallerPlatform::authorizationCreate(out);
    }
    int authorizationCopyRights(Authorization&) override {
        const int status = pkcheck.empty() ? 0 : pkcheck.front();
        if (!pkcheck.empty()) pkcheck.pop_front();
        std::printf("pkcheck -> %d\n", status);
        return status;
    }
    int executeWithPrivileges(const Authorization&, const std::string& program,
                              const std::vector<std::string>&) override {
        std::printf("pkexec %s -> %d\n", program.c_str(), privileged);
        return privileged;
    }
    int runScript(const std::string&) override {
        std::printf("script -> %d\n", script);
        return script;
    }
};

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication app(argc, argv);
    vexa::installTranslationLookup();
    if (argc < 2) return 2;
    ProbePlatform platform(argv[1]);
    std::deque<std::string> actions;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto eq = arg.find('=');
        const std::string key = arg.substr(0, eq), value = eq == std::string::npos ? "" : arg.substr(eq + 1);
        if (key == "version") {
            std::sscanf(value.c_str(), "%d.%d", &platform.major, &platform.minor);
        } else if (key == "pkcheck") {
            for (std::size_t p = 0; p < value.size();) {
                const auto comma = value.find(',', p);
                platform.pkcheck.push_back(std::stoi(value.substr(p, comma - p)));
                p = comma == std::string::npos ? value.size() : comma + 1;
            }
        } else if (key == "create") {
            platform.create = std::stoi(value);
        } else if (key == "privileged") {
            platform.privileged = std::stoi(value);
        } else if (key == "script") {
            platform.script = std::stoi(value);
        } else if (key == "shell") {
            platform.realShell = value == "real";
        } else {
            actions.push_back(arg);
        }
    }
    std::atexit([] { std::printf("exit\n"); });

    AppDelegate delegate(platform);
    QTimer alerts;
    QObject::connect(&alerts, &QTimer::timeout, [] {
        if (QMessageBox* box = vexa::test::AlertCatcher::openAlert()) {
            std::printf("alert %s | %s\n", qPrintable(box->text()), qPrintable(box->informativeText()));
            box->defaultButton()->click();
        }
    });
    alerts.start(10);

    delegate.applicationDidFinishLaunching();
    std::printf("version %s\n", qPrintable(delegate.versionText->text()));
    for (const std::string& action : actions) {
        if (action == "install") {
            delegate.selectorMenu->setCurrentIndex(0);
            delegate.start();
        } else if (action == "uninstall") {
            delegate.selectorMenu->setCurrentIndex(1);
            delegate.start();
        } else if (action == "continue") {
            delegate.guideWindow()->findChild<QPushButton*>("continueButton")->click();
        } else if (action == "windows") {
            std::printf("windows main=%d guide=%d\n", delegate.mainWindow()->isVisible(),
                        delegate.guideWindow()->isVisible());
        } else if (action == "selected") {
            std::printf("selected %s\n", qPrintable(delegate.selectorMenu->currentText()));
        } else if (action == "stack") {
            std::printf("stack %s\n", KZ710getErrorString().c_str());
        } else if (action == "quit") {
            // The Quit item of the application menu.
            auto* quit = delegate.mainWindow()->findChild<QAction*>("quitAction");
            QTimer::singleShot(0, quit, &QAction::trigger);
            return QApplication::exec();
        } else {
            std::fprintf(stderr, "unknown action %s\n", action.c_str());
            return 2;
        }
    }
    return 0;
}
