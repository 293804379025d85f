#include "editor/app_delegate.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenu>
#include <QScopedValueRollback>
#include <QSettings>
#include <QStandardPaths>
#include <QTabBar>
#include <QUrl>

#include "about/about_win.h"
#include "editor/editor_platform.h"
#include "editor/key_button.h"
#include "editor/keyboard_rules.h"
#include "editor/keycap_palette.h"
#include "errors/alerts.h"
#include "keymap/keymap.h"
#include "platform/hid/hid_manager.h"
#include "platform/user/user.h"
#include "prefs/prefs.h"
#include "prefs/reconfigure.h"
#include "ui_dip_switch_sheet.h"
#include "ui_main_window.h"
#include "ui_page_ansi.h"
#include "ui_page_ansi_fn.h"
#include "ui_page_jis.h"
#include "ui_page_jis_fn.h"

namespace {

// True when the root holds a readable table of the type equal to `keymap`.
bool storedKeymapEquals(const vexa::archive::Dictionary& root, KeymapType type, const std::uint8_t* keymap) {
    Keymap stored;
    return KZ730getKeymapFromPrefData(&root, type, stored) == 0 && KZ714compareKeymap(stored, keymap);
}

}  // namespace

AppDelegateClass::AppDelegateClass(std::unique_ptr<EditorPlatform> platform)
    : userName_(vexa::user::userName()),
      platform_(platform ? std::move(platform) : std::make_unique<LinuxEditorPlatform>()),
      window_(std::make_unique<QMainWindow>()),
      ui_(std::make_unique<Ui::MainWindow>()) {
    resourceFolders = resourceFoldersFor(QCoreApplication::applicationDirPath());

    ui_->setupUi(window_.get());
    keyboardTab = ui_->keyboardTab;
    initButton = ui_->initButton;
    keytopCollection = ui_->keytopCollection;
    keytopPalette = new KeyCapPalette(this);
    keytopCollection->setModel(keytopPalette);
    loadPages();
    connectWindow();
    // Alerts that report back to a delegate open on this window, whatever
    // window is active.
    vexa::setAlertWindow(window_.get());
}

AppDelegateClass::~AppDelegateClass() = default;

QStringList AppDelegateClass::resourceFoldersFor(const QString& programFolder) {
    const QString own = QStringLiteral("vexaorla");
    QStringList folders{programFolder, QDir::cleanPath(programFolder + QStringLiteral("/../share/") + own)};
    for (const QString& data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        folders.append(QDir::cleanPath(data + QLatin1Char('/') + own));
    }
    folders.removeDuplicates();
    return folders;
}

void AppDelegateClass::loadPages() {
    Ui::PageAnsi().setupUi(ui_->page_ansi);
    Ui::PageAnsiFn().setupUi(ui_->page_ansi_fn);
    Ui::PageJis().setupUi(ui_->page_jis);
    Ui::PageJisFn().setupUi(ui_->page_jis_fn);
    // Set-up runs once every page is complete, as the buttons read their
    // neighbours (picture, cap markers).
    for (KeyButtonClass* button : keyboardTab->findChildren<KeyButtonClass*>()) {
        button->awakeFromNib();
        connectKeyButton(button);
    }
}

void AppDelegateClass::connectKeyButton(KeyButtonClass* button) {
    connect(button, &KeyButtonClass::keyClicked, this, &AppDelegateClass::clickedKeyButton);
    connect(button, &KeyButtonClass::focusChanged, this,
            [this](KeyButtonClass* key, bool focused) { shouldEnableInitButtonBy(focused ? key : nullptr); });
    connect(button, &KeyButtonClass::keycodeChangedWhileFocused, this, &AppDelegateClass::shouldEnableInitButtonBy);
}

void AppDelegateClass::connectWindow() {
    // Pages are reached through the keyboard menu and the FN keys.
    keyboardTab->tabBar()->hide();
    connect(keyboardTab, &QTabWidget::currentChanged, this, &AppDelegateClass::keyboardPageDidChange);

    connectMenuItems();
    connect(ui_->actionAbout, &QAction::triggered, this, &AppDelegateClass::showAboutWindow);
    connect(ui_->actionQuit, &QAction::triggered, this, &AppDelegateClass::terminate);

    connect(ui_->applyButton, &QPushButton::clicked, this, [this] { applyButton(ui_->applyButton); });
    connect(ui_->okButton, &QPushButton::clicked, this, [this] { okButton(ui_->okButton); });
    connect(ui_->initButton, &QPushButton::clicked, this, [this] { restoreFocusedKey(ui_->initButton); });
    connect(ui_->licenseButton, &QPushButton::clicked, this, [this] { licenseButton(ui_->licenseButton); });
}

QMainWindow* AppDelegateClass::mainWindow() const { return window_.get(); }

void AppDelegateClass::terminateWithMsgInfo(const QString& message, const QString& info) {
    KZ712showAlert(message, info, nullptr);
    vexa::terminateApplication();
}

void AppDelegateClass::terminate() { QCoreApplication::quit(); }

void AppDelegateClass::bindSiblings() {
    keyboardTab->bindSiblingsANSI();
    keyboardTab->bindSiblingsJIS();
}

void AppDelegateClass::loadSettingsAtStart() {
    if (const ErrorCode error = readSettings(); error != 0) KZ712abendApp(nullptr, error, kErrStartReadSettings);
}

void AppDelegateClass::showMainWindow() {
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void AppDelegateClass::selectKeyboard(KeymapTypeNumber type) {
    {
        // The palette is filled below, for the type asked for.
        const QScopedValueRollback selecting(selectingKeyboard_, true);
        keyboardTab->selectKeymapType(type);
    }
    configureKeytopListForKeymapType(type);
    showDipSwitchWindowIfFirstTimeToConnect();
}

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

const char* AppDelegateClass::user() const { return userName_.empty() ? nullptr : userName_.c_str(); }

ErrorCode AppDelegateClass::readSettings() {
    Keymap table;
    const struct {
        KeymapType type;
        KeyButtonSet buttons;
        ErrorCode readFailed, spreadFailed;
    } steps[] = {
        {KZ714_TYPE_ANSI, keyboardTab->allKeyButtonsANSI(), kErrReadANSI, kErrSpreadANSI},
        {KZ714_TYPE_JIS, keyboardTab->allKeyButtonsJIS(), kErrReadJIS, kErrSpreadJIS},
    };
    for (const auto& step : steps) {
        if (const ErrorCode error = KZ730readKeymap(user(), step.type, table); error != 0) {
            KZ710stackError(nullptr, error);
            return step.readFailed;
        }
        if (const ErrorCode error = setKeyButtonsWithKeymap(step.buttons, table); error != 0) {
            KZ710stackError(nullptr, error);
            return step.spreadFailed;
        }
    }
    return 0;
}

ErrorCode AppDelegateClass::setKeyButtonsWithKeymap(const KeyButtonSet& buttons, const std::uint8_t* keymap) {
    if (keymap == nullptr) return kErrNoKeymap;
    for (KeyButtonClass* button : buttons) {
        if (button->basecode() <= 255) button->setKeycode(KZ714keycodeFromKeymap(keymap, button->basecode()));
    }
    return 0;
}

void AppDelegateClass::writeSettings() {
    Keymap ansi, jis;
    keyboardTab->getKeymapANSI(ansi);
    keyboardTab->getKeymapJIS(jis);

    // Every other entry of the root is kept as it was read.
    vexa::archive::Dictionary root = KZ730readNewPrefFile(user()).value_or(vexa::archive::Dictionary{});
    if (storedKeymapEquals(root, KZ714_TYPE_ANSI, ansi) && storedKeymapEquals(root, KZ714_TYPE_JIS, jis)) return;

    if (const ErrorCode error = KZ730setKeymapToPrefData(&root, KZ714_TYPE_ANSI, ansi); error != 0) {
        KZ712abendApp(nullptr, error, kErrPutANSI);
    }
    if (const ErrorCode error = KZ730setKeymapToPrefData(&root, KZ714_TYPE_JIS, jis); error != 0) {
        KZ712abendApp(nullptr, error, kErrPutJIS);
    }
    std::optional<vexa::Error> failure;
    if (const ErrorCode error = KZ730writeNewPrefFile(user(), &root, &failure); error != 0) {
        if (failure) KZ712abendAppNSError(&*failure, error, kErrWriteWithError);
        KZ712abendApp(nullptr, error, kErrWrite);
    }
}

void AppDelegateClass::saveSettings() {
    writeSettings();
    KZ730postReconfigureNotification();
}

void AppDelegateClass::applyButton(QObject*) { saveSettings(); }

void AppDelegateClass::okButton(QObject* sender) {
    applyButton(sender);
    terminate();
}

void AppDelegateClass::restoreFocusedKey(QObject*) {
    if (auto* key = qobject_cast<KeyButtonClass*>(window_->focusWidget())) key->restoreKeycode();
}

void AppDelegateClass::licenseButton(QObject*) {
    for (const QString& folder : resourceFolders) {
        const QFileInfo document(QDir(folder).filePath(QStringLiteral("License.rtf")));
        if (document.isFile()) {
            QDesktopServices::openUrl(QUrl::fromLocalFile(document.absoluteFilePath()));
            return;
        }
    }
}

void AppDelegateClass::configureKeytopListForKeymapType(KeymapTypeNumber type) {
    keytopPalette->configureForKeymapType(type);
}

vexa::NamedImage AppDelegateClass::keytopImageForKeycodeKeymapType(std::uint32_t code, KeymapTypeNumber type) const {
    return vexa::keytopImage(code, type);
}

void AppDelegateClass::keyboardPageDidChange() {
    if (selectingKeyboard_) return;
    // A page of the other keyboard needs the other caps; the FN page of the
    // same keyboard keeps those shown.
    const KeymapTypeNumber shown = keyboardTab->selectedKeymapType();
    const bool sameCaps = keytopPalette->isConfigured() &&
                          (keytopPalette->keymapType() == kKeymapTypeJIS) == (shown == kKeymapTypeJIS);
    if (!sameCaps) configureKeytopListForKeymapType(shown);
}

void AppDelegateClass::shouldEnableInitButtonBy(KeyButtonClass* button) {
    initButton->setEnabled(button != nullptr && button->isKeycodeChanged());
}

void AppDelegateClass::clickedKeyButton(KeyButtonClass* button) {
    if (button->isFNKey()) keyboardTab->toggleFNMode();
}
