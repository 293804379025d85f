#include "installer/linux_platform.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/files/file_io.h"
#include "platform/shell/shell_command.h"

namespace vexa::installer {

using vexa::shell::runProgram;

namespace {

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string folderOfRunningProgram() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return ".";
    const std::string path(buffer, static_cast<std::size_t>(n));
    const auto slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

long long processStartTime(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!in || !std::getline(in, stat)) return -ESRCH;
    // The command name (field 2) may hold spaces and parentheses: count the
    // fields from the last ')'. The start time is field 22.
    const auto close = stat.rfind(')');
    if (close == std::string::npos) return -EINVAL;
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    for (int i = 3; i <= 22; ++i)
        if (!(fields >> field)) return -EINVAL;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(field.c_str(), &end, 10);
    if (errno != 0 || end == field.c_str() || *end != '\0' || value > LLONG_MAX) return -EINVAL;
    return static_cast<long long>(value);
}

LinuxInstallerPlatform::LinuxInstallerPlatform(std::string resourceFolder, PlatformPrograms programs)
    : resourceFolder_(resourceFolder.empty() ? folderOfRunningProgram() : std::move(resourceFolder)),
      programs_(std::move(programs)) {}

bool LinuxInstallerPlatform::systemVersionAtLeast(int, int) const { return false; }

std::string LinuxInstallerPlatform::pathForResource(const std::string& name, const std::string& extension) const {
    const std::string path = resourceFolder_ + "/" + name + (extension.empty() ? "" : "." + extension);
    return isRegularFile(path) ? path : std::string();
}

int LinuxInstallerPlatform::runShellCommand(const std::string& commandLine) {
    return runProgram({programs_.shell, "-c", commandLine});
}

int LinuxInstallerPlatform::authorizationCreate(std::unique_ptr<Authorization>* out) {
    const pid_t pid = ::getpid();
    const long long startTime = processStartTime(pid);
    if (startTime < 0) return static_cast<int>(startTime);
    auto authorization = std::make_unique<Authorization>();
    authorization->pid = pid;
    authorization->startTime = static_cast<unsigned long long>(startTime);
    authorization->uid = ::getuid();
    *out = std::move(authorization);
    return 0;
}

int LinuxInstallerPlatform::authorizationCopyRights(Authorization& authorization) {
    // Before the suite's package is installed polkit does not know the
    // installer's action; the general "run a program as administrator"
    // action, which every polkit system has, stands in for it.
    const bool ours = runProgram({programs_.pkaction, "--action-id", kInstallerAction}) == 0;
    const std::string action = ours ? kInstallerAction : kRunAsAdministratorAction;
    const std::string subject = std::to_string(authorization.pid) + "," + std::to_string(authorization.startTime) +
                                "," + std::to_string(authorization.uid);
    const int status =
        runProgram({programs_.pkcheck, "--action-id", action, "--process", subject, "--allow-user-interaction"});
    if (status == 0) authorization.grantedAction = action;
    return status;
}

int LinuxInstallerPlatform::executeWithPrivileges(const Authorization&, const std::string& program,
                                                  const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{programs_.pkexec, program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runProgram(argv);
}

std::unique_ptr<LoginItemList> LinuxInstallerPlatform::openLoginItems() { return AutostartLoginItems::forCurrentUser(); }

std::optional<std::string> LinuxInstallerPlatform::loadScript(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    if (vexa::files::readRegularFile(path, bytes) != 0 || bytes.empty()) return std::nullopt;
    std::string script(bytes.begin(), bytes.end());
    // Parse only (-n): a script with a syntax error is not loadable.
    if (runProgram({programs_.shell, "-n", "-c", script}) != 0) return std::nullopt;
    return script;
}

int LinuxInstallerPlatform::runScript(const std::string& script) {
    return runProgram({programs_.shell, "-c", script, "uninstall"});
}

}  // namespace vexa::installer
