// The About window of the keymap editor and the installer (AboutWinClass):
// the program's version, the key code of the last key event the window
// received, and a control that saves the driver information (every HID
// device with its udev properties) to a text file of the user's choice.
#pragma once

#include <memory>

#include <QString>
#include <QStringView>
#include <QWidget>

class QProcess;

namespace Ui {
class AboutWindow;
}

// The Linux key code (the evdev code) of a key event with this native scan
// code under this Qt platform. X11 and Wayland number keys the XKB way,
// evdev code + 8; other platforms pass the scan code as it is.
int linuxKeyCode(QStringView platformName, quint32 nativeScanCode);

class AboutWinClass : public QWidget {
    Q_OBJECT

public:
    // `version` is the program's short version; the window shows it as
    // "Ver %@" and shows no version field when it is empty (the installer).
    explicit AboutWinClass(const QString& version = {}, QWidget* parent = nullptr);
    ~AboutWinClass() override;

    // The shell command whose output saveIORegistry saves; by default the
    // listing of the HID devices.
    void setDumpCommand(const QString& command) { dumpCommand_ = command; }

public slots:
    // Runs the dump command and, once it has finished, offers a save panel
    // on this window; the listing is written as UTF-8 where the user says.
    void saveIORegistry();

signals:
    // The driver information was written to `path`.
    void driverInfoSaved(const QString& path);

protected:
    // Every key event of this window passes here before any widget sees it.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void dumpFinished();
    void showSavePanel(const QString& content);

    std::unique_ptr<Ui::AboutWindow> ui_;
    QString dumpCommand_;
    QProcess* dump_ = nullptr;  // while the command runs
    bool watchingWindow_ = false;
};
