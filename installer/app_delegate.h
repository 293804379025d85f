// The installer's application object: its main window offers install or
// uninstall and a start button. Installing obtains an administrator
// authorization from polkit, hands the suite's package to the desktop's
// package installer and, when the program quits, has udev reload its rules
// with that authorization. Uninstalling runs the uninstall script among the
// installer's resources. Both first remove login items that earlier
// generations of the suite left behind.
#pragma once

#include <memory>

#include <QObject>
#include <QPointer>

#include "errors/error_stack.h"
#include "installer/installer_platform.h"

class AboutWinClass;
class QComboBox;
class QLabel;
class QMainWindow;
class QTextBrowser;
class QWidget;

namespace Ui {
class InstallerWindow;
class GuideWindow;
}  // namespace Ui

// Failure sites: 110 for installing, 120 for uninstalling.
enum : ErrorCode {
    kInstallerPackageMissing = 1100047,
    kFinishWithoutAuthorization = 1100083,
    kFinishFailed = 1100095,
    kNoAuthorizationPlace = 1100111,
    kAuthorizationCreateFailed = 1100117,
    kRightNotGranted = 1100134,
    kUninstallScriptMissing = 1200025,
    kUninstallScriptNotLoadable = 1200028,
    kUninstallScriptFailed = 1200032,
};

class AppDelegate : public QObject {
    Q_OBJECT

public:
    // Loads the main window and the guide window (both hidden). The
    // platform must outlive the delegate.
    explicit AppDelegate(vexa::installer::InstallerPlatform& platform);
    ~AppDelegate() override;

    // Fields, connected from the interface files.
    QLabel* versionText = nullptr;
    QComboBox* selectorMenu = nullptr;
    QTextBrowser* skelTextview = nullptr;
    std::unique_ptr<vexa::installer::Authorization> auth;

    QMainWindow* mainWindow() const { return mainWindow_.get(); }
    QWidget* guideWindow() const { return guideWindow_.get(); }

    // Sets the version text and shows the main window.
    void applicationDidFinishLaunching();
    // The start button: item 0 installs, any other item uninstalls.
    void start();
    void install();
    // Obtains the authorization and hands the package over; also the guide
    // window's button.
    void startInstaller();
    ErrorCode createAuthorization(std::unique_ptr<vexa::installer::Authorization>* place);
    // Reloads udev's rules and re-triggers input and hidraw devices as root.
    ErrorCode finishInstaller(const vexa::installer::Authorization* authorization);
    // Runs once as the program ends (normal quit or abend): finishes with a
    // held authorization, then frees it.
    void applicationWillTerminate();
    // Never returns: the program ends on success and on failure.
    [[noreturn]] void uninstall();
    void removeOldLoginItems();
    void removeFileFromLoginItems(const char* name);

    // The About window (the application menu's first item), without a
    // version field: the main window shows the version. Made when first
    // asked for, brought forward after that; closing it deletes it and
    // leaves the installer running.
    void showAboutWindow();
    AboutWinClass* aboutWindow() const;

private:
    vexa::installer::InstallerPlatform& platform_;
    std::unique_ptr<Ui::InstallerWindow> mainUi_;
    std::unique_ptr<QMainWindow> mainWindow_;
    std::unique_ptr<Ui::GuideWindow> guideUi_;
    std::unique_ptr<QWidget> guideWindow_;
    QPointer<AboutWinClass> aboutWindow_;
    bool terminated_ = false;
};

// Texts and fixed commands of the installer.
inline constexpr const char* kVersionFormat = "Ver %@";
inline constexpr const char* kSystemTooNewMessage = "macOS 10.16 or later are not supported.";
// Run through the shell with the package's path, quoted, in place of "%@".
// In the background: where xdg-open knows no desktop it runs the package
// installer itself and waits until that closes; the installer's window must
// go on meanwhile.
inline constexpr const char* kPackageOpeningCommand = "/usr/bin/xdg-open %@ &";
// What the suite's package installs for the reload at quit; its polkit
// action keeps the authorization obtained when installing.
inline constexpr const char* kUdevReloadProgram = "/usr/lib/vexaorla/reload-udev";
