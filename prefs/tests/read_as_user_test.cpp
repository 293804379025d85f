// Reading a user's preference files with exactly that user's rights, as root, as the daemon and as the user.
#include <gtest/gtest.h>
#include <grp.h>
#include <linux/capability.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <functional>
#include <memory>

#include "platform/files/file_io.h"
#include "platform/keyedarchive/keyed_archive.h"
#include "platform/resourcefile/resource_file.h"
#include "prefs/legacy_file.h"
#include "prefs_fixture.h"
#include "test_accounts.h"

namespace {

using namespace vexa::prefs::test;
using vexa::archive::Dictionary;
using Bytes = std::vector<std::uint8_t>;
using Tables = std::array<Table, 2>;  // ANSI, JIS

constexpr uid_t kAlice = 3990001, kBob = 3990002;
constexpr gid_t kShared = 3990010;
constexpr char kAliceName[] = "vexa-test-alice";

// The daemon's capabilities; its unit grants these and nothing else.
bool keepOnlyCapabilities(std::uint32_t mask) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {{mask, mask, 0}, {0, 0, 0}};
    return ::syscall(SYS_capset, &header, data) == 0;
}

// Runs `work` in a child process after `become` has made it the reader
// (false: it could not) and returns the tables it produced.
std::optional<Tables> inChild(const std::function<bool()>& become, const std::function<Tables()>& work) {
    int fds[2];
    if (::pipe(fds) != 0) return std::nullopt;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        if (!become()) ::_exit(2);
        const Tables tables = work();
        const bool sent = ::write(fds[1], tables.data(), sizeof tables) == static_cast<ssize_t>(sizeof tables);
        ::_exit(sent ? 0 : 3);
    }
    ::close(fds[1]);
    Tables tables{};
    const ssize_t got = child > 0 ? ::read(fds[0], tables.data(), sizeof tables) : -1;
    ::close(fds[0]);
    int status = 0;
    if (child > 0) ::waitpid(child, &status, 0);
    if (got != static_cast<ssize_t>(sizeof tables) || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return tables;
}

Tables readTables(const char* userName) {
    Tables t{};
    KZ730readKeymap(userName, KZ714_TYPE_ANSI, t[0].data());
    KZ730readKeymap(userName, KZ714_TYPE_JIS, t[1].data());
    return t;
}

bool becomeAlice(const std::string& home) {
    return ::initgroups(kAliceName, kAlice) == 0 && ::setgid(kAlice) == 0 && ::setuid(kAlice) == 0 &&
           ::setenv("HOME", home.c_str(), 1) == 0;
}

// Every folder from the root down to `folder` may be searched by any user.
bool othersCanReach(std::filesystem::path folder) {
    for (;; folder = folder.parent_path()) {
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0 || (st.st_mode & S_IXOTH) == 0) return false;
        if (folder == folder.root_path()) return true;
    }
}

bool becomeDaemon() { return keepOnlyCapabilities((1u << CAP_SETUID) | (1u << CAP_SETGID)); }

std::string operator/(const std::string& a, const char* b) { return a + "/" + b; }

class ReadAsUserTest : public PrefsTest {
protected:
    static void SetUpTestSuite() {
        if (::geteuid() != 0) {
            why_ = "needs root to make test accounts and to read as them";
            return;
        }
        base_ = std::make_unique<vexa::test::TempDir>();
        if (!othersCanReach(std::filesystem::path(base_->path()).parent_path())) {
            // $TMPDIR lies in a private folder (root's home, say): the test
            // users could not reach their homes there.
            base_.reset();
            const vexa::test::ScopedEnv tmp("TMPDIR", "/tmp");
            base_ = std::make_unique<vexa::test::TempDir>();
            if (!othersCanReach(std::filesystem::path(base_->path()).parent_path())) {
                why_ = "no temporary folder that other users can reach";
                return;
            }
        }
        ::chmod(base_->path().c_str(), 0755);
        why_ = addTestAccounts({{kAliceName, kAlice, kAlice, *base_ / "alice", {"vexa-test-shared"}},
                                {"vexa-test-bob", kBob, kBob, *base_ / "bob"}},
                               {{"vexa-test-shared", kShared}}, base_->path());
    }

    void SetUp() override {
        PrefsTest::SetUp();
        if (!why_.empty()) GTEST_SKIP() << why_;
        reset();
    }

    // Empty homes for Alice and Bob, and a folder of root's for other files.
    static void reset() {
        std::filesystem::remove_all(alice());
        std::filesystem::remove_all(bob());
        std::filesystem::remove_all(base() / "extra");
        folder(alice(), kAlice, kAlice, 0700);
        folder(bob(), kBob, kBob, 0755);
        folder(base() / "extra", 0, 0, 0755);
    }

    static std::string base() { return base_->path(); }
    static std::string alice() { return *base_ / "alice"; }
    static std::string bob() { return *base_ / "bob"; }

    static void folder(const std::string& path, uid_t uid, gid_t gid, mode_t mode) {
        std::filesystem::create_directories(path);
        ASSERT_EQ(::chown(path.c_str(), uid, gid), 0) << path;
        ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
    }
    static void put(const std::string& path, const Bytes& bytes, uid_t uid, gid_t gid, mode_t mode) {
        vexa::test::writeTestFile(path, bytes);
        ASSERT_EQ(::chown(path.c_str(), uid, gid), 0) << path;
        ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
    }
    static void link(const std::string& target, const std::string& at) {
        ASSERT_EQ(::symlink(target.c_str(), at.c_str()), 0) << at;
    }
    // Alice's Library/Preferences as real folders of hers.
    static void preferences() {
        folder(alice() / "Library", kAlice, kAlice, 0700);
        folder(alice() / "Library/Preferences", kAlice, kAlice, 0700);
    }
    // Alice's `file` a link to `target`, which holds `content`.
    static void linkedFile(const std::string& target, uid_t uid, gid_t gid, mode_t mode, const std::string& file,
                           const Bytes& content) {
        preferences();
        put(target, content, uid, gid, mode);
        link(target, file);
    }
    // Alice's Library/Preferences a link to `target`, a private folder of
    // `owner` holding `file`'s content under its name.
    static void linkedPreferences(const std::string& target, uid_t owner, mode_t mode, const std::string& file,
                                  const Bytes& content) {
        folder(alice() / "Library", kAlice, kAlice, 0700);
        folder(target, owner, owner, 0700);
        put(target + "/" + std::filesystem::path(file).filename().string(), content, owner, owner, mode);
        link(target, alice() / "Library/Preferences");
    }

    static inline std::unique_ptr<vexa::test::TempDir> base_;
    static inline std::string why_;
};

struct Case {
    const char* what;
    // Puts `content` somewhere and makes `file` (in Alice's Preferences) lead to it.
    std::function<void(const std::string& file, const Bytes& content)> arrange;
    bool readable;  // what Alice herself could read
};

TEST_F(ReadAsUserTest, TheDaemonTheEditorAndRootReadExactlyWhatTheUserCould) {
    const Case cases[] = {
        {"a file of the user's", [](auto& file, auto& content) { preferences(); put(file, content, kAlice, kAlice, 0600); },
         true},
        {"Preferences is a link to a folder of the user's, as dotfile managers make",
         [](auto& file, auto& content) { linkedPreferences(alice() / "dotfiles", kAlice, 0600, file, content); }, true},
        {"the file is a link to a root-only file",
         [](auto& file, auto& content) { linkedFile(base() / "extra/root-only", 0, 0, 0600, file, content); }, false},
        {"the file is a hard link to another user's private file",
         [](auto& file, auto& content) {
             preferences();
             put(bob() / "private", content, kBob, kBob, 0600);
             ASSERT_EQ(::link((bob() / "private").c_str(), file.c_str()), 0);
         },
         false},
        {"Preferences is a link into another user's private folder",
         [](auto& file, auto& content) { linkedPreferences(bob() / "prefs", kBob, 0644, file, content); }, false},
        {"the file is a link to a file the user's group may read",
         [](auto& file, auto& content) { linkedFile(base() / "extra/shared", 0, kShared, 0640, file, content); }, true},
        {"the file is a link to a file only root's group may read",
         [](auto& file, auto& content) { linkedFile(base() / "extra/root-group", 0, 0, 0640, file, content); },
         false},
        {"the file is a FIFO of the user's",
         [](auto& file, auto&) {
             preferences();
             ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
             ASSERT_EQ(::chown(file.c_str(), kAlice, kAlice), 0);
         },
         false},
        {"the file is a link to a FIFO anybody may open",
         [](auto& file, auto&) {
             preferences();
             ASSERT_EQ(::mkfifo((base() / "extra/fifo").c_str(), 0666), 0);
             ASSERT_EQ(::chmod((base() / "extra/fifo").c_str(), 0666), 0);
             link(base() / "extra/fifo", file);
         },
         false},
    };
    const Tables current{table(1), table(2)};
    const Tables legacy{converted(legacyTable(3)), converted(legacyTable(4))};
    const Tables defaults{defaultTable(KZ714_TYPE_ANSI), defaultTable(KZ714_TYPE_JIS)};
    const struct {
        const char* kind;
        const char* relative;
        Bytes content;
        const Tables& tables;
    } files[] = {
        {"current file", KZ730_PREF_FILE,
         vexa::archive::archivedDataWithRootObject(
             Dictionary{{"VexaKeyMap", Dictionary{{KZ714_TYPE_ANSI, data(table(1))}, {KZ714_TYPE_JIS, data(table(2))}}}}),
         current},
        {"legacy file", KZ730_OLD_PREF_FILE,
         vexa::test::makeResourceFile(
             {{vexa::resource::fourCharCode("KcoD"), 101, data(legacyTable(3)), ""},
              {vexa::resource::fourCharCode("KcoD"), 104, data(legacyTable(4)), ""}}),
         legacy},
    };
    std::vector<gid_t> groups(64);
    groups.resize(static_cast<std::size_t>(::getgroups(static_cast<int>(groups.size()), groups.data())));

    ::alarm(60);  // a read that blocks on a FIFO ends the test
    for (const auto& f : files) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(f.kind) + ": " + c.what);
            reset();
            c.arrange(alice() + "/" + f.relative, f.content);
            const Tables& expected = c.readable ? f.tables : defaults;

            EXPECT_EQ(readTables(kAliceName), expected) << "root";
            EXPECT_EQ(::setfsuid(static_cast<uid_t>(-1)), 0);
            EXPECT_EQ(::setfsgid(static_cast<gid_t>(-1)), 0);
            std::vector<gid_t> after(64);
            after.resize(static_cast<std::size_t>(::getgroups(static_cast<int>(after.size()), after.data())));
            EXPECT_EQ(after, groups);

            EXPECT_EQ(inChild(becomeDaemon, [] { return readTables(kAliceName); }), expected) << "daemon";
            EXPECT_EQ(inChild([] { return becomeAlice(alice()); }, [] { return readTables(kAliceName); }), expected)
                << "editor";
            EXPECT_TRUE(errorStack().empty());
        }
    }
    ::alarm(0);
}

// The editor's old DIP switch settings live in the legacy file too, and are
// read from it exactly as the tables are.
TEST_F(ReadAsUserTest, TheLegacyDipSwitchResourceIsReadWithTheUsersRightsToo) {
    using vexa::prefs::LegacyResource;
    const Bytes settings{0, 0, 0, 0, 0, 1, 0, 0};
    const Bytes legacy = vexa::test::makeResourceFile({{vexa::resource::fourCharCode("DSsw"), 128, settings, ""}});
    const std::string file = alice() + "/" + KZ730_OLD_PREF_FILE;
    const struct {
        const char* what;
        std::function<void()> arrange;
        LegacyResource expected;
    } cases[] = {
        {"Preferences is a link to a folder of the user's",
         [&] { linkedPreferences(alice() / "dotfiles", kAlice, 0600, file, legacy); }, LegacyResource::Found},
        {"the file is a link to a file of the user's",
         [&] { linkedFile(alice() / "legacy.prefs", kAlice, kAlice, 0600, file, legacy); }, LegacyResource::Found},
        {"the file is a link to a root-only file",
         [&] { linkedFile(base() / "extra/root-only", 0, 0, 0600, file, legacy); }, LegacyResource::CannotOpen},
        {"no legacy file", [] { preferences(); }, LegacyResource::NoFile},
    };
    // The status in the first byte, the settings after it.
    const auto read = [] {
        Tables t{};
        std::vector<std::uint8_t> out;
        t[0][0] = static_cast<std::uint8_t>(
            vexa::prefs::readLegacyResource(kAliceName, vexa::resource::fourCharCode("DSsw"), 128, out));
        std::copy_n(out.begin(), std::min<std::size_t>(out.size(), 16), t[0].begin() + 1);
        return t;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reset();
        c.arrange();
        Tables expected{};
        expected[0][0] = static_cast<std::uint8_t>(c.expected);
        if (c.expected == LegacyResource::Found) std::copy(settings.begin(), settings.end(), expected[0].begin() + 1);
        EXPECT_EQ(read(), expected) << "root";
        EXPECT_EQ(inChild(becomeDaemon, read), expected) << "daemon";
        EXPECT_EQ(inChild([] { return becomeAlice(alice()); }, read), expected) << "editor";
    }
}

// The editor saves through a linked Preferences folder or a linked file;
// the daemon then reads what was saved, where the link leads. Root, which a
// user's link could point at any file, does not save through her link.
TEST_F(ReadAsUserTest, WhatTheEditorSavesThroughALinkIsWhatTheDaemonReads) {
    const struct {
        const char* what;
        std::function<void()> arrange;
        std::string copy;  // where the saved file lands
        const char* link;  // what stays a link
    } cases[] = {
        {"Preferences is a link to a folder of hers",
         [] {
             folder(alice() / "Library", kAlice, kAlice, 0700);
             folder(alice() / "dotfiles", kAlice, kAlice, 0700);
             link(alice() / "dotfiles", alice() / "Library/Preferences");
         },
         alice() / "dotfiles/VexaKeyboard_64bit.prefs", "Library/Preferences"},
        {"the file is a link to her copy",
         [] {
             preferences();
             folder(alice() / "dotfiles", kAlice, kAlice, 0700);
             put(alice() / "dotfiles/vexa.prefs", {}, kAlice, kAlice, 0640);
             link(alice() / "dotfiles/vexa.prefs", alice() + "/" + KZ730_PREF_FILE);
             ASSERT_EQ(::lchown((alice() + "/" + KZ730_PREF_FILE).c_str(), kAlice, kAlice), 0);
         },
         alice() / "dotfiles/vexa.prefs", KZ730_PREF_FILE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reset();
        c.arrange();
        const auto saved = inChild([] { return becomeAlice(alice()); }, [] {
            Dictionary root = KZ730readNewPrefFile(kAliceName).value_or(Dictionary{});
            KZ730setKeymapToPrefData(&root, KZ714_TYPE_ANSI, table(5).data());
            KZ730setKeymapToPrefData(&root, KZ714_TYPE_JIS, table(6).data());
            if (KZ730writeNewPrefFile(kAliceName, &root, nullptr) != 0) return Tables{};
            return readTables(kAliceName);
        });
        EXPECT_EQ(saved, (Tables{table(5), table(6)}));
        struct stat st {};
        ASSERT_EQ(::stat(c.copy.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, kAlice);
        EXPECT_TRUE(std::filesystem::is_symlink(alice() + "/" + c.link));
        EXPECT_EQ(inChild(becomeDaemon, [] { return readTables(kAliceName); }), (Tables{table(5), table(6)}));

        if (std::string(c.link) != KZ730_PREF_FILE) continue;
        // Root saving for her: refused, and her copy stays as she saved it.
        Bytes copied, after;
        ASSERT_EQ(vexa::files::readRegularFile(c.copy, copied), 0);
        const Dictionary other{{"VexaKeyMap", Dictionary{{KZ714_TYPE_ANSI, data(table(7))}}}};
        std::optional<vexa::Error> error;
        EXPECT_EQ(KZ730writeNewPrefFile(kAliceName, &other, &error), KZ730_ERR_WRITE_FAILED);
        ASSERT_TRUE(error.has_value() && error->underlying != nullptr);
        EXPECT_EQ(error->underlying->code, EACCES);
        EXPECT_TRUE(std::filesystem::is_symlink(alice() + "/" + c.link));
        ASSERT_EQ(vexa::files::readRegularFile(c.copy, after), 0);
        EXPECT_EQ(after, copied);
    }
}

// Without the capabilities to take the user's identity the daemon reads
// nothing, even a file that it could read as root.
TEST_F(ReadAsUserTest, ADaemonThatCannotTakeTheUsersIdentityReadsNothing) {
    ::chmod(alice().c_str(), 0755);
    folder(alice() / "Library", kAlice, kAlice, 0755);
    folder(alice() / "Library/Preferences", kAlice, kAlice, 0755);
    const Dictionary root{{"VexaKeyMap", Dictionary{{KZ714_TYPE_ANSI, data(table(7))}}}};
    put(base() / "extra/root-only", vexa::archive::archivedDataWithRootObject(root), 0, 0, 0600);
    link(base() / "extra/root-only", alice() + "/" + KZ730_PREF_FILE);

    const Tables defaults{defaultTable(KZ714_TYPE_ANSI), defaultTable(KZ714_TYPE_JIS)};
    EXPECT_EQ(inChild([] { return keepOnlyCapabilities(0); }, [] { return readTables(kAliceName); }), defaults);
    EXPECT_EQ(inChild([] { return keepOnlyCapabilities(1u << CAP_SETUID); }, [] { return readTables(kAliceName); }),
              defaults);
    // Yet such a process could read the file as root.
    const auto asRoot = inChild([] { return keepOnlyCapabilities(0); }, [] {
        std::vector<std::uint8_t> bytes;
        Tables t{};
        t[0][0] = vexa::files::readRegularFileFollowingLinks(alice() + "/" + KZ730_PREF_FILE, bytes) == 0;
        return t;
    });
    ASSERT_TRUE(asRoot.has_value());
    EXPECT_EQ((*asRoot)[0][0], 1);
}

}  // namespace
