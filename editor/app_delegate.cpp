#include "editor/app_delegate.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QTabBar>

#include "editor/key_button.h"
#include "editor/keyboard_rules.h"
#include "editor/keyboard_tab.h"
#include "errors/alerts.h"
#include "ui_main_window.h"
#include "ui_page_ansi.h"
#include "ui_page_ansi_fn.h"
#include "ui_page_jis.h"
#include "ui_page_jis_fn.h"

namespace {
AppDelegateClass* g_sharedDelegate = nullptr;
}

AppDelegateClass::AppDelegateClass() : window_(std::make_unique<QMainWindow>()), ui_(std::make_unique<Ui::MainWindow>()) {
    // Key buttons find the delegate while the interface loads.
    g_sharedDelegate = this;
    ui_->setupUi(window_.get());
    keyboardTab = ui_->keyboardTab;
    initButton = ui_->initButton;
    keytopCollection = ui_->keytopCollection;
    loadPages();

    // Pages are reached through the keyboard menu and the FN keys.
    keyboardTab->tabBar()->hide();

    connect(ui_->menuKeyboard, &QMenu::aboutToShow, this, [this] {
        for (QAction* item : ui_->menuKeyboard->actions()) item->setEnabled(validateKeyboardMenuItem(item));
    });
    for (QAction* item : {ui_->actionKeyboardANSI, ui_->actionKeyboardJIS}) {
        connect(item, &QAction::triggered, this, [this, item] { selectKeyboardByMenuItem(item); });
    }
    connect(ui_->actionQuit, &QAction::triggered, window_.get(), &QWidget::close);
}

AppDelegateClass::~AppDelegateClass() {
    if (g_sharedDelegate == this) g_sharedDelegate = nullptr;
}

AppDelegateClass* AppDelegateClass::sharedDelegate() { return g_sharedDelegate; }

void AppDelegateClass::loadPages() {
    Ui::PageAnsi().setupUi(ui_->page_ansi);
    Ui::PageAnsiFn().setupUi(ui_->page_ansi_fn);
    Ui::PageJis().setupUi(ui_->page_jis);
    Ui::PageJisFn().setupUi(ui_->page_jis_fn);
    // Set-up runs once every page is complete, as the buttons read their
    // neighbours (picture, cap markers).
    for (KeyButtonClass* button : keyboardTab->findChildren<KeyButtonClass*>()) button->awakeFromNib();
}

QMainWindow* AppDelegateClass::mainWindow() const { return window_.get(); }

void AppDelegateClass::terminateWithMsgInfo(const QString& message, const QString& info) {
    KZ712showAlert(message, info, nullptr);
    vexa::terminateApplication();
}

void AppDelegateClass::applicationDidFinishLaunching() {
    keyboardTab->bindSiblingsANSI();
    keyboardTab->bindSiblingsJIS();
    selectKeyboard();
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void AppDelegateClass::selectKeyboard(KeymapTypeNumber type) { keyboardTab->selectKeymapType(type); }

void AppDelegateClass::selectKeyboardByMenuItem(QAction* item) { selectKeyboard(keymapTypeForMenuItem(item)); }

void AppDelegateClass::selectKeyboard() {
    selectKeyboard(isKeyboardConnectedForKeymapType(kKeymapTypeJIS) ? kKeymapTypeJIS : kKeymapTypeANSI);
}

bool AppDelegateClass::validateKeyboardMenuItem(QAction* item) {
    if (!window_->isActiveWindow()) return false;
    item->setCheckable(true);  // every item of the menu has an on/off state
    item->setChecked(keymapTypeForMenuItem(item) == keyboardTab->selectedKeymapType());
    return true;
}

KeymapTypeNumber AppDelegateClass::keymapTypeForMenuItem(const QAction* item) {
    for (QObject* owner : item->associatedObjects()) {
        if (const auto* menu = qobject_cast<const QMenu*>(owner)) {
            return vexa::pages::keymapTypeForMenuIndex(menu->actions().indexOf(item));
        }
    }
    return vexa::pages::keymapTypeForMenuIndex(-1);
}

bool AppDelegateClass::isKeyboardConnectedForKeymapType(KeymapTypeNumber) const {
    // Attached keyboards are known only through the HID manager that keyboard
    // watching creates; this build has none yet, so no keyboard counts as
    // attached and the editor starts on the ANSI pages.
    return false;
}

vexa::NamedImage AppDelegateClass::keytopImageForKeycodeKeymapType(std::uint32_t code, KeymapTypeNumber type) {
    if (code > 255) return {};
    const QString name = QString::asprintf("%d-%d", type, static_cast<int>(code));
    if (vexa::NamedImage image = vexa::imageNamed(name); !image.isNull()) return image;
    const vexa::NamedImage sheet =
        vexa::imageNamed(type == kKeymapTypeJIS ? QStringLiteral("keytop_jis") : QStringLiteral("keytop_ansi"));
    vexa::NamedImage cap{name, vexa::cutKeycap(sheet.pixmap, code)};
    vexa::registerImage(cap);
    return cap;
}

void AppDelegateClass::shouldEnableInitButtonBy(KeyButtonClass* button) {
    initButton->setEnabled(button != nullptr && button->isKeycodeChanged());
}

void AppDelegateClass::clickedKeyButton(KeyButtonClass* button) {
    if (button->isFNKey()) keyboardTab->toggleFNMode();
}
