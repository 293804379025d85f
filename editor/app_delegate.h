// The editor's application object: it owns the main window loaded from the
// interface file and the editor's state, connects the key buttons' signals
// to its own operations, runs the keyboard menu and the key cap palette,
// loads the user's tables into the keys and saves them on Apply and OK,
// lights the keys pressed on attached keyboards (live_keys.cpp), keeps the
// ANSI keyboard's DIP switch settings (dip_switch.cpp), and checks at start
// that the suite is in place (startup.cpp). Exactly one exists.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>

#include "editor/editor_platform.h"
#include "editor/keyboard_tab.h"
#include "editor/keymap_type_number.h"
#include "editor/named_images.h"
#include "errors/error_stack.h"

class AboutWinClass;
class KeyButtonClass;
class KeyCapPalette;
class KeyCapPaletteView;
class QAction;
class QDialog;
class QMainWindow;
class QPushButton;
class QSettings;

namespace Ui {
class DipSwitchSheet;
class MainWindow;
}

namespace vexa::hid {
class Device;
class Manager;
struct InputValue;
}

class AppDelegateClass : public QObject {
    Q_OBJECT

public:
    // Failure sites of loading and saving, and of the start-up step that loads.
    enum : ErrorCode {
        kErrReadANSI = 1300023,
        kErrSpreadANSI = 1300025,
        kErrReadJIS = 1300028,
        kErrSpreadJIS = 1300030,
        kErrNoKeymap = 1300079,
        kErrPutANSI = 1300125,
        kErrPutJIS = 1300127,
        kErrWriteWithError = 1300135,
        kErrWrite = 1300136,
        kErrStartReadSettings = 1000054,
        kErrStartInstallDeviceNotify = 1000058,
    };
    // Failure sites of keyboard watching and highlighting.
    enum : ErrorCode {
        kErrCreateHidManager = 1400028,
        kErrTagKeyboard = 1400074,
        kErrUntaggedKeyboard = 1400161,
        kErrInputValue = 1400164,
    };
    // DIP switch settings: only kErrStoreDipSwitch reaches the user; the
    // others say that the store consulted holds no settings.
    enum : ErrorCode {
        kErrStoreDipSwitch = 1500047,
        kErrDipSwitchNotConfigured = 1500152,
        kErrNoDipSwitch3 = 1500174,
        kErrNoDipSwitch4 = 1500178,
        kErrFlushDipSwitch = 1500192,
        kErrLegacyLocation = 1500209,
        kErrLegacyResolve = 1500212,
        kErrLegacyOpen = 1500218,
        kErrLegacyNoDipSwitch = 1500229,
    };

    // Loads the main window and its four keyboard pages and connects the
    // keys. `platform` answers the questions put to the system (null: this
    // Linux system's answers).
    explicit AppDelegateClass(std::unique_ptr<EditorPlatform> platform = nullptr);
    ~AppDelegateClass() override;

    // Fields, connected from the interface file or filled at run time.
    KeyboardTab* keyboardTab = nullptr;
    QPushButton* initButton = nullptr;
    bool karabinerElements = false;
    bool deviceOpenErrShown = false;
    KeyCapPaletteView* keytopCollection = nullptr;
    KeyCapPalette* keytopPalette = nullptr;  // the palette's caps (its keytopList)
    std::unique_ptr<vexa::hid::Manager> hidManager;  // while keyboards are watched
    QDialog* dipSwitchWindow = nullptr;  // made when it first opens; the main window owns it
    // Where the application's resources (the licence document) are looked
    // for, in order; resourceFoldersFor the program's folder.
    QStringList resourceFolders;
    // Beside the program (the build tree; programs in /usr/lib/vexaorla),
    // then vexaorla in the share folder of the program's prefix
    // (<prefix>/bin → <prefix>/share/vexaorla), then vexaorla in each of the
    // desktop's data folders ($XDG_DATA_HOME, $XDG_DATA_DIRS).
    static QStringList resourceFoldersFor(const QString& programFolder);

    // The window that contains keyboardTab.
    QMainWindow* mainWindow() const;

    // Application-modal alert with the message and the detail, then the
    // application ends. Never returns.
    [[noreturn]] void terminateWithMsgInfo(const QString& message, const QString& info);

    // Ends the application the way the Quit menu item and closing the window
    // do: the event loop ends and the program returns from main.
    void terminate();

    // Start-up, in a fixed order: the process and driver checks, the DIP
    // switch base codes and twin keys, the saved tables (a failure ends the
    // editor), keyboard watching, the layout to start with, the window.
    void applicationDidFinishLaunching();
    void bindSiblings();
    void loadSettingsAtStart();
    void showMainWindow();
    // Every way out passes here once: keyboard watching stops, the settings
    // reach the disk.
    void applicationWillTerminate();
    // Enables a menu item that the delegate acts on (its action's name is
    // the item's "delegateAction" property, set in the interface file): the
    // keyboard items and the DIP switch item by their own rules, any other
    // disabled.
    bool validateMenuItem(QAction* item);
    // The About window, made when it is first asked for.
    void showAboutWindow();
    AboutWinClass* aboutWindow() const;

    // Keyboard menu: item 0 is ANSI, item 1 is JIS. Selecting a keyboard
    // shows its base page, fills the palette with its caps and, the first
    // time an ANSI keyboard is attached, asks for its DIP switches.
    void selectKeyboard(KeymapTypeNumber type);
    void selectKeyboardByMenuItem(QAction* item);
    void selectKeyboard();
    bool validateKeyboardMenuItem(QAction* item);
    static KeymapTypeNumber keymapTypeForMenuItem(const QAction* item);

    // Keyboard watching and live keys. Every keyboard is watched; the two
    // supported ones are tagged with their type, opened, and light the keys
    // of the page shown while their type's pages are shown. (This and
    // readSettings are virtual so that a test's delegate can watch the
    // start-up's order.)
    virtual ErrorCode installDeviceNotify();
    void removeDeviceNotify();
    void registerInputValue(vexa::hid::Device* device);
    ErrorCode inputValueKeymapType(const vexa::hid::InputValue& value, KeymapTypeNumber type);
    // Ends the editor when no driver object exists.
    void checkDriver();
    // The attached supported keyboards; none without keyboard watching.
    std::optional<QSet<vexa::hid::Device*>> connectedKeyboards() const;
    bool isKeyboardConnectedForKeymapType(KeymapTypeNumber type) const;
    bool isDriverLoaded() const;
    bool isDriverInstalled() const;
    // May this user read the keyboard's input? (Its hidraw node.)
    static bool ioHIDCheckAccess(const vexa::hid::Device* device);
    // The alert shown when a keyboard cannot be opened: message and info.
    static std::pair<QString, QString> deviceOpenAlert(bool allowed, bool karabinerElements, ErrorCode status);

    // The ANSI keyboard's DIP switches 3 and 4: the settings in the user
    // defaults (the legacy file as a fallback) and the keys they move.
    void showDipSwitchWindow(QObject* sender = nullptr);
    void showDipSwitchWindowIfFirstTimeToConnect();
    void closeDipSwitchWindow();
    void applyDipSwitch3Switch4(bool switch3, bool switch4);
    void applyDipSwitchANSI();
    void setBasecodeKeycodeToKeyButtonWithDefaultBasecodeInLabel(std::uint32_t basecode, std::uint32_t keycode,
                                                                std::uint32_t defaultBasecode, const QString& label);
    bool validateDipSwitchMenuItem(QAction* item);
    ErrorCode readDipSwitch3Switch4(bool* switch3, bool* switch4);
    void getDipSwitch3Switch4(bool* switch3, bool* switch4);
    bool isDipSwitchConfigured();
    ErrorCode readNewDipSwitch3Switch4(bool* switch3, bool* switch4);
    ErrorCode wtiteNewDipSwitchWithSwitch3Switch4(bool switch3, bool switch4);
    ErrorCode readOldDipSwitch3Switch4(bool* switch3, bool* switch4);
    // The editor's own settings ("user defaults").
    QSettings& userDefaults();

    // Loading and saving the tables of the user running the editor.
    const std::string& userName() const { return userName_; }
    virtual ErrorCode readSettings();
    static ErrorCode setKeyButtonsWithKeymap(const KeyButtonSet& buttons, const std::uint8_t* keymap);
    // Writes both tables when either differs from the file or is missing
    // there; a failure ends the application after its alert.
    void writeSettings();
    // writeSettings, then always the "Reconfigure" notification.
    void saveSettings();

    // Actions of the window's buttons (the sender is not used). The Init
    // button's action cannot share its name with the initButton field, so it
    // is named after what it does: the focused key gets its default output back.
    void applyButton(QObject* sender = nullptr);
    // applyButton, then the application ends as on Quit.
    void okButton(QObject* sender = nullptr);
    void licenseButton(QObject* sender = nullptr);
    void restoreFocusedKey(QObject* sender = nullptr);

    // The key cap palette.
    void configureKeytopListForKeymapType(KeymapTypeNumber type);
    vexa::NamedImage keytopImageForKeycodeKeymapType(std::uint32_t code, KeymapTypeNumber type) const;

    // What the key buttons' signals lead to.
    void shouldEnableInitButtonBy(KeyButtonClass* button);
    void clickedKeyButton(KeyButtonClass* button);

private:
    void loadPages();
    void connectKeyButton(KeyButtonClass* button);
    void connectWindow();
    void connectMenuItems();
    void performMenuItem(QAction* item);
    void dipSwitchSheetDidEnd(bool switch3, bool switch4);
    // The window follows the page shown, however it was chosen: the palette
    // holds the caps of the page's keyboard.
    void keyboardPageDidChange();
    // The user name for the preference store; null means the user running
    // the process, for a process without a passwd entry.
    const char* user() const;
    bool selectingKeyboard_ = false;
    std::string userName_;
    std::unique_ptr<EditorPlatform> platform_;
    std::unique_ptr<QMainWindow> window_;
    std::unique_ptr<Ui::MainWindow> ui_;
    std::unique_ptr<Ui::DipSwitchSheet> dipSwitchUi_;
    std::unique_ptr<QSettings> userDefaults_;
    QPointer<AboutWinClass> aboutWindow_;
    bool terminating_ = false;
    bool driverCheckFailed_ = false;
};
