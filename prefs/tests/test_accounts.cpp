#include "test_accounts.h"

#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace vexa::prefs::test {
namespace {

std::string errorText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// Copies `original` with `lines` appended to `copy` and binds it over `original`.
std::string bindExtended(const char* original, const std::string& copy, const std::string& lines) {
    std::ifstream in(original);
    std::ostringstream content;
    content << in.rdbuf();
    std::string text = content.str();
    if (!text.empty() && text.back() != '\n') text += '\n';
    std::ofstream(copy) << text << lines;
    if (::mount(copy.c_str(), original, nullptr, MS_BIND, nullptr) != 0) return errorText("bind mount");
    return {};
}

}  // namespace

std::string addTestAccounts(const std::vector<TestAccount>& accounts, const std::vector<TestGroup>& groups,
                            const std::string& scratchFolder) {
    if (::unshare(CLONE_NEWNS) != 0) return errorText("unshare(CLONE_NEWNS)");
    // Keep our mounts from reaching the machine's namespace.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return errorText("private mounts");
    std::string passwd, group;
    for (const auto& a : accounts) {
        passwd += a.name + ":x:" + std::to_string(a.uid) + ":" + std::to_string(a.gid) + "::" + a.home +
                  ":/usr/sbin/nologin\n";
        group += a.name + ":x:" + std::to_string(a.gid) + ":\n";
    }
    for (const auto& g : groups) {
        std::string members;
        for (const auto& a : accounts) {
            for (const auto& name : a.groups) {
                if (name == g.name) members += (members.empty() ? "" : ",") + a.name;
            }
        }
        group += g.name + ":x:" + std::to_string(g.gid) + ":" + members + "\n";
    }
    std::string why = bindExtended("/etc/passwd", scratchFolder + "/passwd", passwd);
    if (why.empty()) why = bindExtended("/etc/group", scratchFolder + "/group", group);
    return why;
}

}  // namespace vexa::prefs::test
