// The editor's application object: it owns the main window loaded from the
// interface file and the editor's state, connects the key buttons' signals
// to its own operations, runs the keyboard menu and the key cap palette,
// loads the user's tables into the keys and saves them on Apply and OK.
// Exactly one exists.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <QObject>
#include <QStringList>

#include "editor/keyboard_tab.h"
#include "editor/keymap_type_number.h"
#include "editor/named_images.h"
#include "errors/error_stack.h"

class KeyButtonClass;
class KeyCapPalette;
class KeyCapPaletteView;
class QAction;
class QDialog;
class QMainWindow;
class QPushButton;

namespace Ui {
class MainWindow;
}

namespace vexa::hid {
class Manager;
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
    };

    // Loads the main window and its four keyboard pages and connects the keys.
    AppDelegateClass();
    ~AppDelegateClass() override;

    // Fields, connected from the interface file or filled at run time.
    KeyboardTab* keyboardTab = nullptr;
    QPushButton* initButton = nullptr;
    bool karabinerElements = false;
    bool deviceOpenErrShown = false;
    KeyCapPaletteView* keytopCollection = nullptr;
    KeyCapPalette* keytopPalette = nullptr;  // the palette's caps (its keytopList)
    vexa::hid::Manager* hidManager = nullptr;  // owned once keyboard watching exists
    QDialog* dipSwitchWindow = nullptr;
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

    // Start-up, each step a method of its own: link the twin keys, load the
    // saved tables (a failure ends the editor), show the layout to start
    // with, then the window.
    void applicationDidFinishLaunching();
    void bindSiblings();
    void loadSettingsAtStart();
    void showMainWindow();

    // Keyboard menu: item 0 is ANSI, item 1 is JIS. Selecting a keyboard
    // shows its base page and fills the palette with its caps.
    void selectKeyboard(KeymapTypeNumber type);
    void selectKeyboardByMenuItem(QAction* item);
    void selectKeyboard();
    bool validateKeyboardMenuItem(QAction* item);
    static KeymapTypeNumber keymapTypeForMenuItem(const QAction* item);

    // True when a keyboard of the type is attached. Keyboards are known only
    // through the HID manager; without one, none is.
    bool isKeyboardConnectedForKeymapType(KeymapTypeNumber type) const;

    // Loading and saving the tables of the user running the editor.
    const std::string& userName() const { return userName_; }
    ErrorCode readSettings();
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
    // The window follows the page shown, however it was chosen: the palette
    // holds the caps of the page's keyboard.
    void keyboardPageDidChange();
    // The user name for the preference store; null means the user running
    // the process, for a process without a passwd entry.
    const char* user() const;
    bool selectingKeyboard_ = false;
    std::string userName_;
    std::unique_ptr<QMainWindow> window_;
    std::unique_ptr<Ui::MainWindow> ui_;
};
