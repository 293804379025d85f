#include <utility>

#include "editor/editor_platform.h"
#include "driver/bus_names.h"
#include "editor/driver_presence.h"
#include "platform/shell/shell_command.h"
#include "platform/units/unit_files.h"

LinuxEditorPlatform::LinuxEditorPlatform() = default;
LinuxEditorPlatform::~LinuxEditorPlatform() = default;

bool LinuxEditorPlatform::isDriverInstalled() {
    return vexa::units::isSystemUnitInstalled(vexa::driverbus::kServiceUnit);
}

bool LinuxEditorPlatform::isDriverLoaded() { return vexa::editor::driverObjectExists(); }

int LinuxEditorPlatform::runShellCommand(const std::string& commandLine) {
    if (auto it = started_.find(commandLine); it != started_.end()) {
        const std::unique_ptr<vexa::shell::ShellCommand> command = std::move(it->second);
        started_.erase(it);
        return command->wait();
    }
    return vexa::shell::runShellCommand(commandLine);
}

void LinuxEditorPlatform::startShellCommand(const std::string& commandLine) {
    auto command = std::make_unique<vexa::shell::ShellCommand>(commandLine);
    if (command->start() == 0) started_.insert_or_assign(commandLine, std::move(command));
}
