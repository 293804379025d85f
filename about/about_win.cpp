#include "about/about_win.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QProcess>
#include <QSaveFile>
#include <QTimer>
#include <QWindow>

#include "about/driver_info.h"
#include "errors/alerts.h"
#include "ui_about_window.h"

namespace {

// A listing that takes longer has hung (udevadm waiting for udev, say): it
// is stopped and what it printed so far is offered.
constexpr int kDumpTimeLimitMs = 30000;
// XKB numbers keys from 8: the evdev code plus 8.
constexpr quint32 kXkbKeycodeOffset = 8;

}  // namespace

int linuxKeyCode(QStringView platformName, quint32 nativeScanCode) {
    const bool xkb = platformName == u"xcb" || platformName.startsWith(u"wayland");
    if (!xkb) return static_cast<quint16>(nativeScanCode);
    return nativeScanCode >= kXkbKeycodeOffset ? static_cast<quint16>(nativeScanCode - kXkbKeycodeOffset) : 0;
}

AboutWinClass::AboutWinClass(const QString& version, QWidget* parent)
    : QWidget(parent, Qt::Window),
      ui_(std::make_unique<Ui::AboutWindow>()),
      dumpCommand_(QString::fromLatin1(vexa::about::kDriverInfoCommand)) {
    ui_->setupUi(this);
    ui_->saveButton->setText(vexa::localizedText("Save Driver Information…"));
    if (version.isEmpty()) {
        ui_->verText->hide();
    } else {
        ui_->verText->setText(vexa::localizedText("Ver %@").replace(QLatin1String("%@"), version));
    }
    connect(ui_->saveButton, &QPushButton::clicked, this, &AboutWinClass::saveIORegistry);
}

AboutWinClass::~AboutWinClass() = default;

void AboutWinClass::showEvent(QShowEvent* event) {
    // Key events reach the window's QWindow before the focus widget: watching
    // it shows every key event, whichever control has the focus.
    if (QWindow* window = windowHandle(); window != nullptr && !watchingWindow_) {
        window->installEventFilter(this);
        watchingWindow_ = true;
    }
    QWidget::showEvent(event);
}

bool AboutWinClass::eventFilter(QObject* watched, QEvent* event) {
    if (watched == windowHandle() && (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)) {
        // Modifier keys alone come as key presses and releases of their own.
        const auto* key = static_cast<const QKeyEvent*>(event);
        ui_->keycodeText->setText(QString::number(linuxKeyCode(QGuiApplication::platformName(), key->nativeScanCode())));
    }
    return false;  // every event goes on to the window unchanged
}

void AboutWinClass::saveIORegistry() {
    if (dump_ != nullptr) return;  // one listing at a time
    dump_ = new QProcess(this);
    dump_->setProcessChannelMode(QProcess::ForwardedErrorChannel);  // standard error is not part of the listing
    dump_->setStandardInputFile(QProcess::nullDevice());
    connect(dump_, &QProcess::finished, this, &AboutWinClass::dumpFinished);
    connect(dump_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) dumpFinished();
    });
    QTimer::singleShot(kDumpTimeLimitMs, dump_, [process = dump_] { process->kill(); });
    // The window stays responsive meanwhile; the panel opens when the listing is complete.
    ui_->saveButton->setEnabled(false);
    dump_->start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), dumpCommand_});
}

void AboutWinClass::dumpFinished() {
    if (dump_ == nullptr) return;
    const QByteArray output = dump_->readAllStandardOutput();
    dump_->deleteLater();
    dump_ = nullptr;
    ui_->saveButton->setEnabled(true);
    showSavePanel(vexa::about::driverInfoText(output));
}

void AboutWinClass::showSavePanel(const QString& content) {
    auto* panel = new QFileDialog(this);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setWindowModality(Qt::WindowModal);
    panel->setAcceptMode(QFileDialog::AcceptSave);
    panel->setFileMode(QFileDialog::AnyFile);
    panel->setWindowTitle(vexa::localizedText("Please select the destination to save a file."));
    panel->selectFile(vexa::localizedText("Driver_Info.txt"));
    connect(panel, &QFileDialog::fileSelected, this, [this, content](const QString& path) {
        QSaveFile file(path);
        const QByteArray bytes = content.toUtf8();
        if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit()) {
            emit driverInfoSaved(path);
            return;
        }
        // A silent failure would leave the user believing the file exists.
        KZ712showAlert(vexa::localizedText("The driver information could not be saved."), file.errorString(), this);
    });
    panel->open();
}
