// Test helpers for the editor's application object: a stand-in for the
// system's answers (driver, shell commands), an editor in a fresh home
// folder with settings of its own, and keyboards whose reports go through
// a FIFO that stands in for their hidraw node.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <string>

#include <QSettings>
#include <QStringList>

#include "editor/app_delegate.h"
#include "editor/editor_platform.h"
#include "platform/hid/hid_manager.h"
#include "tests/support/temp_dir.h"
#include "tests/vm/test_keyboard.h"

namespace vexa::test {

// Answers as configured and records what was asked, in order: "installed",
// "loaded", or the command line.
class FakePlatform : public EditorPlatform {
public:
    bool driverInstalled = true;
    bool driverLoaded = true;
    std::map<std::string, int> statuses;  // command line -> exit status; any other: 1
    QStringList asked;

    bool isDriverInstalled() override {
        asked << QStringLiteral("installed");
        return driverInstalled;
    }
    bool isDriverLoaded() override {
        asked << QStringLiteral("loaded");
        return driverLoaded;
    }
    int runShellCommand(const std::string& commandLine) override {
        asked << QString::fromStdString(commandLine);
        const auto it = statuses.find(commandLine);
        return it == statuses.end() ? 1 : it->second;
    }
};

// The editor's object in a home folder of its own (preference files,
// settings), with a stand-in platform that stays reachable.
class TestEditor {
public:
    TestEditor() : homeEnv_("HOME", home.path().c_str()) {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(home / ".config"));
        auto fake = std::make_unique<FakePlatform>();
        platform = fake.get();
        app = std::make_unique<AppDelegateClass>(std::move(fake));
    }

    // Start-up from the DIP switches up to the keyboard shown, without the
    // checks and the window: keys, tables, watching, the ANSI pages. False
    // when the tables cannot be read or keyboards not watched.
    bool start() {
        app->applyDipSwitchANSI();
        app->keyboardTab->bindSiblingsJIS();
        if (app->readSettings() != 0 || app->installDeviceNotify() != 0) return false;
        app->selectKeyboard(kKeymapTypeANSI);
        return true;
    }

    // The settings file as another reader finds it on disk.
    QSettings storedSettings() const {
        return QSettings(QString::fromStdString(home / ".config/mirlan/KeymapEditor.conf"), QSettings::IniFormat);
    }

    TempDir home;
    FakePlatform* platform = nullptr;
    std::unique_ptr<AppDelegateClass> app;

private:
    ScopedEnv homeEnv_;
};

// A keyboard of the guest tier's descriptions whose reports go into a FIFO,
// which the HID layer opens and reads as it reads a hidraw node.
class FifoKeyboard : public guest::TestKeyboard {
public:
    // `node` is the FIFO's path; without makeNode no FIFO is made there, so
    // that opening the keyboard fails.
    FifoKeyboard(const guest::KeyboardDescription& d, std::string node, bool makeNode = true)
        : TestKeyboard(d), node_(std::move(node)) {
        if (makeNode && ::mkfifo(node_.c_str(), 0600) == 0) fd_ = ::open(node_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    }
    ~FifoKeyboard() override {
        if (fd_ >= 0) ::close(fd_);
    }

    // The HID layer's device for this keyboard, as udev would describe it.
    std::unique_ptr<hid::Device> device() const {
        hid::ReportDescriptor descriptor;
        hid::parseReportDescriptor(description.reportDescriptor, descriptor);
        hid::DeviceFacts facts{description.vendor, description.product, descriptor.topLevelCollections};
        return std::make_unique<hid::Device>("/test" + node_, node_, std::move(facts), std::move(descriptor));
    }

    bool sendReport(const std::uint8_t* report) override { return ::write(fd_, report, 8) == 8; }
    void pump(int) override {}

private:
    std::string node_;
    int fd_ = -1;
};

}  // namespace vexa::test
