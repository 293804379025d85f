// The editor's start-up, its way out and its menus. The editor runs only
// with the whole suite in place: the driver installed, the set-up daemon
// running. Then, in this order: the DIP switch base codes and twin keys,
// the saved tables, keyboard watching, the keyboard to show, the window.
#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>

#include "about/about_win.h"
#include "editor/app_delegate.h"
#include "editor/editor_platform.h"
#include "editor/startup_commands.h"
#include "errors/alerts.h"
#include "errors/app_identity.h"

namespace {

// Menu items that the delegate acts on carry the name of their action in
// this property (set in the interface file).
constexpr char kActionProperty[] = "delegateAction";
constexpr char kSelectKeyboardAction[] = "selectKeyboardByMenuItem:";
constexpr char kShowDipSwitchAction[] = "showDipSwitchWindow:";

QString actionOf(const QAction* item) { return item->property(kActionProperty).toString(); }

}  // namespace

void AppDelegateClass::applicationDidFinishLaunching() {
    karabinerElements = platform_->runShellCommand(vexa::startup::kKarabinerCheck) == 0;
    if (!isDriverInstalled()) {
        terminateWithMsgInfo(vexa::localizedText("Driver is not installed."),
                             vexa::localizedText("You need to install driver again."));
    }
    if (platform_->runShellCommand(vexa::startup::kSetUpperCheck) != 0) {
        terminateWithMsgInfo(vexa::localizedText("A program for setting keyboards is not found."),
                             vexa::localizedText("You need to install driver again."));
    }
    // The base codes are in place before the tables are loaded, as a table
    // reaches the keys by their base codes.
    applyDipSwitchANSI();
    keyboardTab->bindSiblingsJIS();
    loadSettingsAtStart();
    if (const ErrorCode error = installDeviceNotify(); error != 0) {
        KZ712abendApp(nullptr, error, kErrStartInstallDeviceNotify);
    }
    selectKeyboard();
    showMainWindow();
}

void AppDelegateClass::applicationWillTerminate() {
    if (terminating_) return;
    terminating_ = true;
    removeDeviceNotify();
    if (userDefaults_) userDefaults_->sync();
}

bool AppDelegateClass::validateMenuItem(QAction* item) {
    const QString action = actionOf(item);
    if (action == QLatin1String(kSelectKeyboardAction)) return validateKeyboardMenuItem(item);
    if (action == QLatin1String(kShowDipSwitchAction)) return validateDipSwitchMenuItem(item);
    return false;
}

void AppDelegateClass::performMenuItem(QAction* item) {
    const QString action = actionOf(item);
    if (action == QLatin1String(kSelectKeyboardAction)) selectKeyboardByMenuItem(item);
    if (action == QLatin1String(kShowDipSwitchAction)) showDipSwitchWindow(item);
}

void AppDelegateClass::connectMenuItems() {
    const QList<QAction*> items = window_->findChildren<QAction*>();
    for (QAction* item : items) {
        if (actionOf(item).isEmpty()) continue;
        connect(item, &QAction::triggered, this, [this, item] { performMenuItem(item); });
    }
    // Items are validated as their menu opens.
    for (QMenu* menu : window_->menuBar()->findChildren<QMenu*>()) {
        connect(menu, &QMenu::aboutToShow, this, [this, menu] {
            for (QAction* item : menu->actions()) {
                if (!actionOf(item).isEmpty()) item->setEnabled(validateMenuItem(item));
            }
        });
    }
}

AboutWinClass* AppDelegateClass::aboutWindow() const { return aboutWindow_; }

void AppDelegateClass::showAboutWindow() {
    if (!aboutWindow_) {
        // A window of its own that goes with the main window; closing it
        // does not end the editor.
        aboutWindow_ = new AboutWinClass(QString::fromUtf8(vexa::appIdentity().shortVersion), window_.get());
        aboutWindow_->setAttribute(Qt::WA_DeleteOnClose);
    }
    aboutWindow_->show();
    aboutWindow_->raise();
    aboutWindow_->activateWindow();
}
