// What the editor asks of the system, behind one small interface: is the
// driver installed (its unit file) and loaded (a driver object on the
// system bus), and what a shell command line answers. The editor's rules
// run in tests against a stand-in; LinuxEditorPlatform asks this system.
#pragma once

#include <map>
#include <memory>
#include <string>

namespace vexa::shell {
class ShellCommand;
}

class EditorPlatform {
public:
    virtual ~EditorPlatform() = default;

    // The driver's unit file is in systemd's unit search path.
    virtual bool isDriverInstalled() = 0;
    // At least one driver object (one keyboard served) is on the system bus.
    virtual bool isDriverLoaded() = 0;
    // Runs the command line through /bin/sh and waits: its exit status, or
    // a negative errno when it could not be run.
    virtual int runShellCommand(const std::string& commandLine) = 0;
};

class LinuxEditorPlatform : public EditorPlatform {
public:
    LinuxEditorPlatform();
    ~LinuxEditorPlatform() override;

    bool isDriverInstalled() override;
    bool isDriverLoaded() override;
    // A command line started ahead (startShellCommand) gives the answer of
    // that run; any other is run now.
    int runShellCommand(const std::string& commandLine) override;

    // Starts a command line now whose answer runShellCommand will be asked
    // for later, so that it runs while the program is still starting.
    void startShellCommand(const std::string& commandLine);

private:
    std::map<std::string, std::unique_ptr<vexa::shell::ShellCommand>> started_;
};
