#include "installer/app_delegate.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QTextBrowser>

#include "about/about_win.h"
#include "errors/alerts.h"
#include "errors/app_identity.h"
#include "errors/error_stack.h"
#include "ui_guide_window.h"
#include "ui_main_window.h"

using vexa::installer::Authorization;

namespace {

// Login items of earlier generations of the suite, removed in this order.
constexpr const char* kOldLoginItems[] = {"VexaKeyboard SetUpper", "Vexa Orla SetUpper"};

QString filledFormat(const char* format, const QString& value) {
    return vexa::localizedText(format).replace(QStringLiteral("%@"), value);
}

}  // namespace

AppDelegate::AppDelegate(vexa::installer::InstallerPlatform& platform)
    : platform_(platform),
      mainUi_(std::make_unique<Ui::InstallerWindow>()),
      mainWindow_(std::make_unique<QMainWindow>()),
      guideUi_(std::make_unique<Ui::GuideWindow>()),
      guideWindow_(std::make_unique<QWidget>()) {
    mainUi_->setupUi(mainWindow_.get());
    guideUi_->setupUi(guideWindow_.get());
    versionText = mainUi_->versionText;
    selectorMenu = mainUi_->selectorMenu;
    skelTextview = guideUi_->skelTextview;
    selectorMenu->addItem(vexa::localizedText("Install"));
    selectorMenu->addItem(vexa::localizedText("Uninstall"));
    mainUi_->startButton->setText(vexa::localizedText("Start"));
    guideUi_->continueButton->setText(vexa::localizedText("Continue"));

    connect(mainUi_->startButton, &QPushButton::clicked, this, [this] { start(); });
    connect(guideUi_->continueButton, &QPushButton::clicked, this, [this] { startInstaller(); });
    connect(mainUi_->aboutAction, &QAction::triggered, this, [this] { showAboutWindow(); });
    // Quitting ends the application the usual way: applicationWillTerminate
    // runs from aboutToQuit.
    connect(mainUi_->quitAction, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    // Closing the main window quits; the hidden guide window keeps nothing open.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { applicationWillTerminate(); });
    vexa::setWillTerminateHandler([](void* self) { static_cast<AppDelegate*>(self)->applicationWillTerminate(); },
                                  this);
}

AppDelegate::~AppDelegate() { vexa::setWillTerminateHandler(nullptr, nullptr); }

void AppDelegate::applicationDidFinishLaunching() {
    versionText->setText(filledFormat(kVersionFormat, QString::fromUtf8(vexa::appIdentity().shortVersion)));
    // The copy the package installs has no package beside it: there the
    // installer is for taking the suite off, so that is what it offers first.
    if (platform_.pathForResource("VexaOrla", "deb").empty()) selectorMenu->setCurrentIndex(1);
    mainWindow_->show();
    mainWindow_->raise();
    mainWindow_->activateWindow();
}

void AppDelegate::start() {
    if (selectorMenu->currentIndex() == 0)
        install();
    else
        uninstall();
}

void AppDelegate::install() {
    if (platform_.systemVersionAtLeast(10, 16)) {
        KZ712cautionApp(kSystemTooNewMessage, 0, 0, false);
        return;
    }
    if (platform_.systemVersionAtLeast(10, 13)) {
        // The guide explains a step the system needs before the driver may
        // run. Shown only when it loads.
        QFile guide(QString::fromStdString(platform_.pathForResource("guide", "html")));
        if (guide.fileName().size() > 0 && guide.open(QIODevice::ReadOnly)) {
            skelTextview->setHtml(QString::fromUtf8(guide.readAll()));
            mainWindow_->hide();
            guideWindow_->show();
            guideWindow_->raise();
            guideWindow_->activateWindow();
        }
    }
    if (guideWindow_->isVisible()) return;
    startInstaller();
}

void AppDelegate::startInstaller() {
    const std::string package = platform_.pathForResource("VexaOrla", "deb");
    if (package.empty()) KZ712abendApp(nullptr, 0, kInstallerPackageMissing);
    // Cancelled or refused: nothing more; the codes stay on the error stack
    // and the user may press the button again.
    if (!auth && createAuthorization(&auth) != 0) return;
    const std::string command =
        QString::fromUtf8(kPackageOpeningCommand)
            .replace(QStringLiteral("%@"), QString::fromStdString(vexa::installer::shellQuoted(package)))
            .toStdString();
    platform_.runShellCommand(command);
    removeOldLoginItems();
}

ErrorCode AppDelegate::createAuthorization(std::unique_ptr<Authorization>* place) {
    if (place == nullptr) return kNoAuthorizationPlace;
    if (const int r = platform_.authorizationCreate(place); r != 0) {
        KZ710stackError(nullptr, r);
        return kAuthorizationCreateFailed;
    }
    if (const int status = platform_.authorizationCopyRights(**place); status != 0) {
        place->reset();
        KZ710stackError(nullptr, kRightNotGranted);
        return status;
    }
    return 0;
}

ErrorCode AppDelegate::finishInstaller(const Authorization* authorization) {
    if (authorization == nullptr) return kFinishWithoutAuthorization;
    if (const int status = platform_.executeWithPrivileges(*authorization, kUdevReloadProgram, {}); status != 0) {
        KZ710stackError(nullptr, status);
        return kFinishFailed;
    }
    return 0;
}

void AppDelegate::applicationWillTerminate() {
    if (terminated_) return;
    terminated_ = true;
    if (auth) {
        finishInstaller(auth.get());
        auth.reset();
    }
}

void AppDelegate::uninstall() {
    removeOldLoginItems();
    const std::string path = platform_.pathForResource("uninstall", "sh");
    if (path.empty()) KZ712abendApp(nullptr, 0, kUninstallScriptMissing);
    const std::optional<std::string> script = platform_.loadScript(path);
    if (!script) KZ712abendApp(nullptr, 0, kUninstallScriptNotLoadable);
    if (platform_.runScript(*script) != 0) KZ712abendApp(nullptr, 0, kUninstallScriptFailed);
    vexa::terminateApplication();
}

void AppDelegate::removeOldLoginItems() {
    for (const char* name : kOldLoginItems) removeFileFromLoginItems(name);
}

void AppDelegate::removeFileFromLoginItems(const char* name) {
    if (name == nullptr) return;
    std::unique_ptr<vexa::installer::LoginItemList> list = platform_.openLoginItems();
    vexa::installer::removeMatchingLoginItems(list.get(), name);
}

AboutWinClass* AppDelegate::aboutWindow() const { return aboutWindow_; }

void AppDelegate::showAboutWindow() {
    if (!aboutWindow_) {
        // A window of its own that goes with the main window.
        aboutWindow_ = new AboutWinClass(QString(), mainWindow_.get());
        aboutWindow_->setAttribute(Qt::WA_DeleteOnClose);
    }
    aboutWindow_->show();
    aboutWindow_->raise();
    aboutWindow_->activateWindow();
}
