// The current preference file: its path, writing it whole and atomically, reading it, and what counts as no file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <systemd/sd-daemon.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/files/file_io.h"
#include "platform/keyedarchive/keyed_archive.h"
#include "prefs_fixture.h"

namespace {

using namespace vexa::prefs::test;
using vexa::archive::Array;
using vexa::archive::Data;
using vexa::archive::Dictionary;
using vexa::test::writeTestFile;

std::vector<std::uint8_t> fileBytes(const std::string& path) {
    std::vector<std::uint8_t> out;
    EXPECT_EQ(vexa::files::readRegularFile(path, out), 0) << path;
    return out;
}

TEST_F(PrefsTest, PathIsUnderTheUsersHome) {
    EXPECT_EQ(KZ730prefFilePath(user.c_str()), home / "Library/Preferences/VexaKeyboard_64bit.prefs");
    EXPECT_EQ(KZ730prefFilePath(nullptr), home / "Library/Preferences/VexaKeyboard_64bit.prefs");
    EXPECT_EQ(KZ730prefFilePath("no-such-user-vexa-test"), std::nullopt);
}

TEST_F(PrefsTest, WriteCreatesTheFoldersAndOtherRootEntriesSurvive) {
    const Dictionary root{
        {"VexaKeyMap", Dictionary{{KZ714_TYPE_ANSI, data(table(1))}, {KZ714_TYPE_JIS, data(table(2))}, {"later", 5}}},
        {"DipSwitch", Array{true, false}},
        {"Window", Dictionary{{"x", 10.5}, {"title", "Keymap ✓"}}},
    };
    std::optional<vexa::Error> error = vexa::Error::posix(EIO);  // cleared by a good write
    ASSERT_EQ(KZ730writeNewPrefFile(user.c_str(), &root, &error), 0);
    EXPECT_FALSE(error.has_value());
    EXPECT_TRUE(std::filesystem::is_directory(home / "Library/Preferences"));
    EXPECT_EQ(KZ730readNewPrefFile(user.c_str()), root);

    // An update of one table through the editor's steps keeps everything else.
    auto reread = KZ730readNewPrefFile(user.c_str());
    ASSERT_TRUE(reread.has_value());
    const Table updated = table(9);
    ASSERT_EQ(KZ730setKeymapToPrefData(&*reread, KZ714_TYPE_ANSI, updated.data()), 0);
    ASSERT_EQ(KZ730writeNewPrefFile(user.c_str(), &*reread, nullptr), 0);
    Dictionary expected = root;
    expected.set("VexaKeyMap", Dictionary{{KZ714_TYPE_ANSI, data(updated)}, {KZ714_TYPE_JIS, data(table(2))}, {"later", 5}});
    EXPECT_EQ(KZ730readNewPrefFile(user.c_str()), expected);
}

TEST_F(PrefsTest, RefusedWritesLeaveTheFileUntouched) {
    writeCurrent(Dictionary{{"keep", 1}});
    const auto before = fileBytes(prefPath());
    struct stat st0 {};
    ASSERT_EQ(::stat(prefPath().c_str(), &st0), 0);

    const Dictionary empty;
    const Dictionary unarchivable{{"text", std::string("nul\0inside", 10)}};
    const struct {
        const char* what;
        const char* user;
        const Dictionary* root;
        ErrorCode expected;
    } cases[] = {
        {"empty root", user.c_str(), &empty, KZ730_ERR_WRITE_EMPTY},
        {"null root", user.c_str(), nullptr, KZ730_ERR_WRITE_EMPTY},
        {"no home directory", "no-such-user-vexa-test", &unarchivable, KZ730_ERR_WRITE_NO_PATH},
        {"cannot be archived", user.c_str(), &unarchivable, KZ730_ERR_WRITE_NO_DATA},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::optional<vexa::Error> error = vexa::Error::posix(EIO);
        EXPECT_EQ(KZ730writeNewPrefFile(c.user, c.root, &error), c.expected);
        EXPECT_FALSE(error.has_value());
        EXPECT_EQ(fileBytes(prefPath()), before);
    }
    struct stat st1 {};
    ASSERT_EQ(::stat(prefPath().c_str(), &st1), 0);
    EXPECT_EQ(st1.st_ino, st0.st_ino);
    EXPECT_EQ(st1.st_mtim.tv_nsec, st0.st_mtim.tv_nsec);
}

TEST_F(PrefsTest, AFailedWriteGivesAnErrorObjectWithThePosixErrorUnderneath) {
    const Dictionary root{{"VexaKeyMap", Dictionary{{KZ714_TYPE_ANSI, data(table(1))}}}};
    // The file is a link (as dotfile managers make) to `target`.
    const auto linkTo = [&](const std::string& target) {
        std::filesystem::create_directories(home / "Library/Preferences");
        ASSERT_EQ(::symlink(target.c_str(), prefPath().c_str()), 0);
    };
    const struct {
        const char* what;
        std::function<void()> arrange;
        int errnum;
        std::int64_t code;
        const char* file = "VexaKeyboard_64bit.prefs";  // what the message names
        const char* folder = "Preferences";
    } cases[] = {
        {"Preferences is a file",
         [&] { writeTestFile(home / "Library/Preferences", {1}); }, ENOTDIR, 4},
        {"home folder missing",
         [&] { ::setenv("HOME", (home / "gone").c_str(), 1); }, ENOENT, 4},
        {"the file links into a folder that does not exist", [&] { linkTo(home / "gone/vexa.prefs"); }, ENOENT, 4,
         "vexa.prefs", "gone"},
        {"the file links to itself", [&] { linkTo(prefPath()); }, ELOOP, 512},
        {"archive larger than readers accept",
         [&] {
             Dictionary big = root;
             big.set("blob", Data(vexa::files::kMaxFileSize, 0xAB));
             std::optional<vexa::Error> error;
             ASSERT_EQ(KZ730writeNewPrefFile(user.c_str(), &big, &error), KZ730_ERR_WRITE_FAILED);
             ASSERT_TRUE(error.has_value());
             EXPECT_EQ(error->underlying->code, EFBIG);
             EXPECT_FALSE(std::filesystem::exists(prefPath()));
         },
         0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        vexa::test::ScopedEnv restoreHome("HOME", home.path().c_str());
        std::filesystem::remove_all(home / "Library");
        c.arrange();
        if (c.errnum == 0) continue;  // the case checked itself
        std::optional<vexa::Error> error;
        EXPECT_EQ(KZ730writeNewPrefFile(user.c_str(), &root, &error), KZ730_ERR_WRITE_FAILED);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->domain, "NSCocoaErrorDomain");
        EXPECT_EQ(error->code, c.code);
        for (const std::string name : {c.file, c.folder}) {
            EXPECT_NE(error->localizedDescription.find("\u201C" + name + "\u201D"), std::string::npos)
                << error->localizedDescription;
        }
        ASSERT_NE(error->underlying, nullptr);
        EXPECT_EQ(error->underlying->domain, "NSPOSIXErrorDomain");
        EXPECT_EQ(error->underlying->code, c.errnum);
        // Without a slot the failure is still reported.
        EXPECT_EQ(KZ730writeNewPrefFile(user.c_str(), &root, nullptr), KZ730_ERR_WRITE_FAILED);
    }
}

// Once the new file is in place the save has worked: the editor must not
// report a failure (and skip telling the daemon) for the folder's flush.
TEST_F(PrefsTest, ASaveIsDoneOnceTheFileIsInPlaceEvenIfTheFolderCannotBeFlushed) {
    writeCurrent(Dictionary{{"VexaKeyMap", Dictionary{{KZ714_TYPE_ANSI, data(table(1))}}}});
    const Dictionary next{{"VexaKeyMap", Dictionary{{KZ714_TYPE_ANSI, data(table(2))}}}};
    static std::vector<std::string> flushed;
    flushed.clear();
    const auto before = vexa::files::setFolderSync([](const std::string& folder) -> ErrorCode {
        flushed.push_back(folder);
        return -EIO;
    });
    std::optional<vexa::Error> error = vexa::Error::posix(EIO);
    ::testing::internal::CaptureStderr();
    const ErrorCode r = KZ730writeNewPrefFile(user.c_str(), &next, &error);
    const std::string log = ::testing::internal::GetCapturedStderr();
    vexa::files::setFolderSync(before);

    EXPECT_EQ(r, 0);
    EXPECT_FALSE(error.has_value());
    EXPECT_EQ(KZ730readNewPrefFile(user.c_str()), next);
    EXPECT_EQ(flushed, std::vector<std::string>{home / "Library/Preferences"});
    EXPECT_EQ(log, std::string(SD_WARNING) + prefPath() + ": saved, but its folder could not be flushed to disk: " +
                       std::strerror(EIO) + "\n");
}

TEST_F(PrefsTest, UnsafeOrUnreadableFilesCountAsNoFile) {
    const Dictionary valid{{"VexaKeyMap", Dictionary{{KZ714_TYPE_ANSI, data(table(1))}}}};
    const struct {
        const char* what;
        std::function<void()> arrange;
    } cases[] = {
        {"missing", [] {}},
        {"symbolic link to nothing",
         [&] {
             std::filesystem::create_directories(home / "Library/Preferences");
             ASSERT_EQ(::symlink((home / "gone.prefs").c_str(), prefPath().c_str()), 0);
         }},
        {"symbolic link to a FIFO",
         [&] {
             ASSERT_EQ(::mkfifo((home / "fifo").c_str(), 0600), 0);
             std::filesystem::create_directories(home / "Library/Preferences");
             ASSERT_EQ(::symlink((home / "fifo").c_str(), prefPath().c_str()), 0);
         }},
        {"FIFO",
         [&] {
             std::filesystem::create_directories(home / "Library/Preferences");
             ASSERT_EQ(::mkfifo(prefPath().c_str(), 0600), 0);
         }},
        {"folder", [&] { std::filesystem::create_directories(prefPath()); }},
        {"valid archive over 1 MiB",
         [&] {
             Dictionary big = valid;
             big.set("blob", Data(vexa::files::kMaxFileSize, 1));
             writeTestFile(prefPath(), vexa::archive::archivedDataWithRootObject(big));
         }},
        {"not an archive", [&] { writeTestFile(prefPath(), {'h', 'e', 'l', 'l', 'o'}); }},
        {"archive whose root is an array",
         [&] { writeTestFile(prefPath(), vexa::archive::archivedDataWithRootObject(vexa::archive::Array{1})); }},
        {"archive whose root is data",
         [&] { writeTestFile(prefPath(), vexa::archive::archivedDataWithRootObject(data(table(1)))); }},
    };
    ::alarm(20);  // a read that blocks on the FIFO ends the test
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(home / "Library");
        std::filesystem::remove(home / "fifo");
        c.arrange();
        EXPECT_EQ(KZ730readNewPrefFile(user.c_str()), std::nullopt);
        Table t = table(3);
        EXPECT_EQ(KZ730readNewKeymap(user.c_str(), KZ714_TYPE_ANSI, t.data()), KZ730_ERR_NEW_NO_FILE);
        EXPECT_EQ(t, table(3));
    }
    ::alarm(0);
    EXPECT_TRUE(errorStack().empty());
}

// A writer killed at any moment leaves the old or the new file, never a mix.
TEST_F(PrefsTest, AKilledWriterNeverLeavesAHalfWrittenFile) {
    const Dictionary a{{"VexaKeyMap", Dictionary{{KZ714_TYPE_ANSI, data(table(1))}}}, {"pad", Data(300000, 0xA)}};
    const Dictionary b{{"VexaKeyMap", Dictionary{{KZ714_TYPE_ANSI, data(table(2))}}}, {"pad", Data(200000, 0xB)}};
    writeCurrent(a);
    for (int round = 0; round < 12; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) {
                KZ730writeNewPrefFile(user.c_str(), &b, nullptr);
                KZ730writeNewPrefFile(user.c_str(), &a, nullptr);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(3 + round * 7 % 23));
        ::kill(child, SIGKILL);
        ASSERT_EQ(::waitpid(child, nullptr, 0), child);
        const auto found = KZ730readNewPrefFile(user.c_str());
        ASSERT_TRUE(found.has_value()) << "round " << round;
        EXPECT_TRUE(*found == a || *found == b) << "round " << round;
    }
}

}  // namespace
