// Tests the installer's platform on Linux: quoting for the shell, polkit's programs (stood in for by scripts that log how they were called), the uninstall script's loading and running, resources, and the process identity polkit is given.
#include "installer/linux_platform.h"

#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/temp_dir.h"

namespace {

using vexa::installer::Authorization;
using vexa::installer::LinuxInstallerPlatform;
using vexa::installer::PlatformPrograms;

void writeScript(const std::string& path, const std::string& body) {
    std::ofstream(path) << "#!/bin/sh\n" << body;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Stand-ins for pkaction, pkcheck and pkexec: each appends
// "<name> <parent pid> <args...>" to a log and exits with the status that
// the file <name>.status holds.
struct FakePolkit {
    vexa::test::TempDir dir;
    PlatformPrograms programs;

    FakePolkit() {
        for (const char* name : {"pkaction", "pkcheck", "pkexec"}) {
            writeScript(dir / name, std::string("echo \"") + name + " $PPID $*\" >> " + (dir / "log") +
                                        "\nexit $(cat " + (dir / name) + ".status 2>/dev/null || echo 0)\n");
        }
        programs.pkaction = dir / "pkaction";
        programs.pkcheck = dir / "pkcheck";
        programs.pkexec = dir / "pkexec";
    }
    void status(const char* name, int status) { std::ofstream(dir / name + std::string(".status")) << status; }
    std::string log() { return readFile(dir / "log"); }
};

TEST(LinuxPlatform, ShellQuotingKeepsAnyPathOneWord) {
    vexa::test::TempDir dir;
    LinuxInstallerPlatform platform(dir.path());
    for (const std::string path : {"/plain/VexaOrla.deb", "/with space/x.deb", "/it's/a'b''c.deb",
                                   "/$(touch pwned)/`id`/x;y|z&.deb", "/new\nline/*.deb", "-starts-with-dash"}) {
        const std::string out = dir / "out";
        const int status = platform.runShellCommand("printf %s " + vexa::installer::shellQuoted(path) + " > " +
                                                    vexa::installer::shellQuoted(out));
        EXPECT_EQ(status, 0) << path;
        EXPECT_EQ(readFile(out), path);
    }
    EXPECT_FALSE(std::filesystem::exists("pwned"));
}

TEST(LinuxPlatform, AuthorizationAsksPolkitAboutThisProcess) {
    struct Case {
        const char* what;
        int pkactionStatus, pkcheckStatus;
        const char* action;
    };
    const Case cases[] = {
        {"installed suite: its own action, granted", 0, 0, "mirlan.installer.vexaorla"},
        {"installed suite: dismissed", 0, 3, "mirlan.installer.vexaorla"},
        {"first install: the action to run programs as administrator", 1, 0, "org.freedesktop.policykit.exec"},
        {"first install: not authorized", 1, 1, "org.freedesktop.policykit.exec"},
    };
    for (const Case& c : cases) {
        FakePolkit polkit;
        polkit.status("pkaction", c.pkactionStatus);
        polkit.status("pkcheck", c.pkcheckStatus);
        LinuxInstallerPlatform platform(polkit.dir.path(), polkit.programs);
        std::unique_ptr<Authorization> auth;
        ASSERT_EQ(platform.authorizationCreate(&auth), 0);
        ASSERT_NE(auth, nullptr);
        EXPECT_EQ(auth->pid, getpid());
        EXPECT_EQ(auth->uid, getuid());
        EXPECT_EQ(platform.authorizationCopyRights(*auth), c.pkcheckStatus) << c.what;
        EXPECT_EQ(auth->grantedAction, c.pkcheckStatus == 0 ? c.action : "") << c.what;
        const std::string me = std::to_string(getpid());
        const std::string subject = me + "," + std::to_string(auth->startTime) + "," + std::to_string(getuid());
        EXPECT_EQ(polkit.log(), "pkaction " + me + " --action-id mirlan.installer.vexaorla\npkcheck " + me +
                                    " --action-id " + c.action + " --process " + subject +
                                    " --allow-user-interaction\n")
            << c.what;
    }
}

TEST(LinuxPlatform, PrivilegedProgramsRunThroughPkexecAsOurChild) {
    for (int status : {0, 126, 127}) {
        FakePolkit polkit;
        polkit.status("pkexec", status);
        LinuxInstallerPlatform platform(polkit.dir.path(), polkit.programs);
        Authorization auth;
        EXPECT_EQ(platform.executeWithPrivileges(auth, "/usr/lib/vexaorla/reload-udev", {"a b", "c"}), status);
        // pkexec's parent is the subject polkit checks: it must be us.
        EXPECT_EQ(polkit.log(), "pkexec " + std::to_string(getpid()) + " /usr/lib/vexaorla/reload-udev a b c\n");
    }
    PlatformPrograms missing;
    missing.pkexec = "/nonexistent/pkexec";
    LinuxInstallerPlatform platform("/", missing);
    EXPECT_EQ(platform.executeWithPrivileges(Authorization{}, "/bin/true", {}), -ENOENT);
}

TEST(LinuxPlatform, UninstallScriptLoadsOnlyWhenItParsesAndReportsItsStatus) {
    vexa::test::TempDir dir;
    LinuxInstallerPlatform platform(dir.path());
    writeScript(dir / "good.sh", "echo ran > \"$(dirname \"$0\")/ran\"\nexit 0\n");
    writeScript(dir / "broken.sh", "if then fi (\n");
    std::ofstream(dir / "empty.sh").close();
    std::filesystem::create_directory(dir / "folder.sh");

    EXPECT_FALSE(platform.loadScript(dir / "broken.sh"));
    EXPECT_FALSE(platform.loadScript(dir / "empty.sh"));
    EXPECT_FALSE(platform.loadScript(dir / "folder.sh"));
    EXPECT_FALSE(platform.loadScript(dir / "missing.sh"));
    const auto good = platform.loadScript(dir / "good.sh");
    ASSERT_TRUE(good);
    EXPECT_EQ(*good, readFile(dir / "good.sh"));

    EXPECT_EQ(platform.runScript("touch " + vexa::installer::shellQuoted(dir / "ran") + "; exit 0"), 0);
    EXPECT_TRUE(std::filesystem::exists(dir / "ran"));
    EXPECT_EQ(platform.runScript("exit 3"), 3);
    EXPECT_EQ(platform.runScript("kill -TERM $$"), 128 + SIGTERM);
}

TEST(LinuxPlatform, ResourcesAreRegularFilesInTheResourceFolder) {
    vexa::test::TempDir dir;
    std::ofstream(dir / "VexaOrla.deb").close();
    std::filesystem::create_directory(dir / "uninstall.sh");
    LinuxInstallerPlatform platform(dir.path());
    EXPECT_EQ(platform.pathForResource("VexaOrla", "deb"), dir / "VexaOrla.deb");
    EXPECT_EQ(platform.pathForResource("VexaOrla", "pkg"), "");
    EXPECT_EQ(platform.pathForResource("uninstall", "sh"), "");
    EXPECT_FALSE(platform.systemVersionAtLeast(10, 13));
    // Without a folder: the one that holds the running program.
    EXPECT_EQ(LinuxInstallerPlatform().resourceFolder(),
              std::filesystem::canonical("/proc/self/exe").parent_path().string());
}

TEST(LinuxPlatform, StartTimeSurvivesAProcessNameWithParentheses) {
    const long long before = vexa::installer::processStartTime(getpid());
    ASSERT_GT(before, 0);
    char name[16] = {};
    prctl(PR_GET_NAME, name);
    prctl(PR_SET_NAME, "a) b ) (c 1 2");
    const long long renamed = vexa::installer::processStartTime(getpid());
    prctl(PR_SET_NAME, name);
    EXPECT_EQ(renamed, before);
    EXPECT_LT(vexa::installer::processStartTime(0x7ffffff0), 0);
}

}  // namespace
