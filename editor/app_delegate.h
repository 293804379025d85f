// The editor's application object: it owns the main window loaded from the
// interface file, holds the editor's state, serves the key buttons (key cap
// images, Init button, clicks) and runs the keyboard menu. Exactly one exists.
#pragma once

#include <cstdint>
#include <memory>

#include <QList>
#include <QObject>

#include "editor/key_button_model.h"
#include "editor/named_images.h"

class KeyboardTab;
class KeyButtonClass;
class QAction;
class QDialog;
class QListView;
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
    // Loads the main window and its four keyboard pages.
    AppDelegateClass();
    ~AppDelegateClass() override;

    static AppDelegateClass* sharedDelegate();

    // Fields, connected from the interface file or filled at run time.
    KeyboardTab* keyboardTab = nullptr;
    QPushButton* initButton = nullptr;
    bool karabinerElements = false;
    bool deviceOpenErrShown = false;
    QListView* keytopCollection = nullptr;
    QList<vexa::NamedImage> keytopList;
    vexa::hid::Manager* hidManager = nullptr;  // owned once keyboard watching exists
    QDialog* dipSwitchWindow = nullptr;

    // The window that contains keyboardTab.
    QMainWindow* mainWindow() const;

    // Application-modal alert with the message and the detail, then the
    // application ends. Never returns.
    [[noreturn]] void terminateWithMsgInfo(const QString& message, const QString& info);

    // Start-up: link the twin keys of both keyboards, show the layout to
    // start with and bring the window to the front.
    void applicationDidFinishLaunching();

    // Keyboard menu: item 0 is ANSI, item 1 is JIS.
    void selectKeyboard(KeymapTypeNumber type);
    void selectKeyboardByMenuItem(QAction* item);
    void selectKeyboard();
    bool validateKeyboardMenuItem(QAction* item);
    static KeymapTypeNumber keymapTypeForMenuItem(const QAction* item);

    // True when a keyboard of the type is attached. Keyboards are known only
    // through the HID manager; without one, none is.
    bool isKeyboardConnectedForKeymapType(KeymapTypeNumber type) const;

    // Served to the key buttons.
    vexa::NamedImage keytopImageForKeycodeKeymapType(std::uint32_t code, KeymapTypeNumber type);
    void shouldEnableInitButtonBy(KeyButtonClass* button);
    void clickedKeyButton(KeyButtonClass* button);

private:
    void loadPages();

    std::unique_ptr<QMainWindow> window_;
    std::unique_ptr<Ui::MainWindow> ui_;
};
