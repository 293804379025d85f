#include "platform/files/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "tests/support/resource_file_writer.h"
#include "tests/support/temp_dir.h"

namespace {

using vexa::files::readRegularFile;
using vexa::files::readRegularFileBelow;
using vexa::files::writeFileAtomically;
using vexa::test::TempDir;
using vexa::test::writeTestFile;
using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
    return names;
}

TEST(ReadRegularFile, RefusesNonRegularFilesAndFilesOverTheCap) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    ::alarm(20);  // a read that blocks on the FIFO ends the test
    Bytes out{1, 2, 3};
    EXPECT_EQ(readRegularFile(dir / "fifo", out), -EINVAL);
    ::alarm(0);
    EXPECT_TRUE(out.empty());
    writeTestFile(dir / "big", Bytes(101, 7));
    EXPECT_EQ(readRegularFile(dir / "big", out, 100), -EFBIG);
    writeTestFile(dir / "big", Bytes(vexa::files::kMaxFileSize + 1, 7));
    EXPECT_EQ(readRegularFile(dir / "big", out), -EFBIG);
    EXPECT_TRUE(out.empty());
}

TEST(ReadRegularFile, ReadsTheWholeFileUpToTheCap) {
    TempDir dir;
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{100}}) {
        Bytes content(size);
        for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<std::uint8_t>(i * 7);
        writeTestFile(dir / "f", content);
        Bytes out;
        ASSERT_EQ(readRegularFile(dir / "f", out, 100), 0) << size;
        EXPECT_EQ(out, content);
    }
}

TEST(ReadRegularFileBelow, FollowsTheBaseButNoLinkBelowIt) {
    TempDir dir;
    std::filesystem::create_directories(dir / "home/a/b");
    writeTestFile(dir / "home/a/b/file", bytesOf("mine"));
    std::filesystem::create_directories(dir / "secret/b");
    writeTestFile(dir / "secret/b/file", bytesOf("theirs"));
    std::filesystem::create_directories(dir / "linkhome");
    ASSERT_EQ(::symlink((dir / "home").c_str(), (dir / "homelink").c_str()), 0);

    Bytes out;
    EXPECT_EQ(readRegularFileBelow(dir / "home", "a/b/file", out), 0);
    EXPECT_EQ(out, bytesOf("mine"));
    // The base itself may be a link (a home folder reached through one).
    EXPECT_EQ(readRegularFileBelow(dir / "homelink", "a/b/file", out), 0);
    EXPECT_EQ(out, bytesOf("mine"));

    // A folder below the base that links elsewhere is refused, at any depth.
    ASSERT_EQ(::symlink((dir / "secret").c_str(), (dir / "linkhome/a").c_str()), 0);
    EXPECT_EQ(readRegularFileBelow(dir / "linkhome", "a/b/file", out), -ELOOP);
    std::filesystem::remove(dir / "linkhome/a");
    std::filesystem::create_directories(dir / "linkhome/a");
    ASSERT_EQ(::symlink((dir / "secret/b").c_str(), (dir / "linkhome/a/b").c_str()), 0);
    EXPECT_EQ(readRegularFileBelow(dir / "linkhome", "a/b/file", out), -ELOOP);
    EXPECT_TRUE(out.empty());

    EXPECT_EQ(readRegularFileBelow(dir / "home", "a/../../secret/b/file", out), -EINVAL);
    EXPECT_EQ(readRegularFileBelow(dir / "home", "a/b/file/x", out), -ENOTDIR);
    EXPECT_EQ(readRegularFileBelow(dir / "home", "a/missing/file", out), -ENOENT);
}

TEST(WriteFileAtomically, CreatesAndReplacesWithAPrivateFileAndLeavesNoTemporary) {
    TempDir dir;
    const std::string path = dir / "prefs";
    for (const char* text : {"first", "second, longer than the first", ""}) {
        ASSERT_EQ(writeFileAtomically(path, bytesOf(text)), 0);
        Bytes out;
        ASSERT_EQ(readRegularFile(path, out), 0);
        EXPECT_EQ(out, bytesOf(text));
        EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"prefs"});
    }
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST(WriteFileAtomically, ReplacesASymlinkItselfNotItsTarget) {
    TempDir dir;
    writeTestFile(dir / "target", bytesOf("keep"));
    ASSERT_EQ(::symlink((dir / "target").c_str(), (dir / "prefs").c_str()), 0);
    ASSERT_EQ(writeFileAtomically(dir / "prefs", bytesOf("new")), 0);
    Bytes out;
    ASSERT_EQ(readRegularFile(dir / "target", out), 0);
    EXPECT_EQ(out, bytesOf("keep"));
    ASSERT_EQ(readRegularFile(dir / "prefs", out), 0);
    EXPECT_EQ(out, bytesOf("new"));
}

// A link at the written path, as dotfile managers make: what it leads to is
// replaced, in its own folder, and every link stays as it was.
TEST(WriteFileThroughLinks, ReplacesWhatTheLinksLeadToAndKeepsTheLinks) {
    struct File {
        const char* path;
        const char* content;
        mode_t mode;
    };
    struct Link {
        const char* path;
        const char* text;  // relative, or under the test folder when it starts with '/'
    };
    const struct {
        const char* what;
        std::vector<File> files;
        std::vector<Link> links;
        ErrorCode expected;
        const char* lands;  // the file that holds the new bytes afterwards; null: none changes
        mode_t mode;        // its mode then
    } cases[] = {
        {"link to a file in another folder", {{"dot/v.prefs", "old", 0644}}, {{"prefs/p", "/dot/v.prefs"}}, 0,
         "dot/v.prefs", 0644},
        {"relative link to a relative link",
         {{"dot/v.prefs", "old", 0640}},
         {{"prefs/p", "../mid/q"}, {"mid/q", "../dot/v.prefs"}},
         0, "dot/v.prefs", 0640},
        {"link to nothing, in a folder that exists", {}, {{"prefs/p", "../dot/new.prefs"}}, 0, "dot/new.prefs", 0600},
        {"link to nothing, in a folder that does not exist", {}, {{"prefs/p", "/gone/new.prefs"}}, -ENOENT, nullptr, 0},
        {"links that lead to each other", {}, {{"prefs/p", "q"}, {"prefs/q", "p"}}, -ELOOP, nullptr, 0},
        {"a plain file keeps its mode", {{"prefs/p", "old", 0644}}, {}, 0, "prefs/p", 0644},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        for (const char* folder : {"prefs", "dot", "mid"}) std::filesystem::create_directories(dir / folder);
        for (const auto& f : c.files) {
            writeTestFile(dir / f.path, bytesOf(f.content));
            ASSERT_EQ(::chmod((dir / f.path).c_str(), f.mode), 0);
        }
        for (const auto& l : c.links) {
            const std::string text = l.text[0] == '/' ? dir.path() + l.text : l.text;
            ASSERT_EQ(::symlink(text.c_str(), (dir / l.path).c_str()), 0);
        }

        std::string written = "stale";
        EXPECT_EQ(vexa::files::writeFileThroughLinks(dir / "prefs/p", bytesOf("new"), &written), c.expected);
        if (c.lands != nullptr) {
            EXPECT_EQ(written, std::filesystem::canonical(dir.path()).string() + "/" + c.lands);
            Bytes out;
            ASSERT_EQ(readRegularFile(dir / c.lands, out), 0);
            EXPECT_EQ(out, bytesOf("new"));
            struct stat st {};
            ASSERT_EQ(::stat((dir / c.lands).c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, c.mode);
        }
        for (const auto& f : c.files) {
            if (c.lands != nullptr && std::string(f.path) == c.lands) continue;
            Bytes out;
            ASSERT_EQ(readRegularFile(dir / f.path, out), 0);
            EXPECT_EQ(out, bytesOf(f.content)) << f.path;
        }
        for (const auto& l : c.links) {
            std::error_code ec;
            const auto text = std::filesystem::read_symlink(dir / l.path, ec);
            EXPECT_FALSE(ec) << l.path << " is no longer a link";
            EXPECT_EQ(text.string(), l.text[0] == '/' ? dir.path() + l.text : l.text);
        }
        // No temporary file is left anywhere.
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path())) {
            EXPECT_NE(e.path().filename().string().front(), '.') << e.path();
        }
    }
}

TEST(WriteFileAtomically, AFailedWriteLeavesTheOldStateAndNoTemporary) {
    TempDir dir;
    // Missing folder.
    EXPECT_EQ(writeFileAtomically(dir / "none/prefs", bytesOf("x")), -ENOENT);
    // The rename cannot replace a non-empty folder (this holds for root too).
    std::filesystem::create_directories(dir / "prefs/inside");
    const ErrorCode r = writeFileAtomically(dir / "prefs", bytesOf("x"));
    EXPECT_TRUE(r == -EISDIR || r == -ENOTEMPTY || r == -EEXIST) << r;
    EXPECT_TRUE(std::filesystem::is_directory(dir / "prefs/inside"));
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"prefs"});
}

TEST(FileWriteError, MapsErrnoToAFileWriteCodeWithThePosixErrorUnderneath) {
    const struct {
        int errnum;
        std::int64_t code;
    } cases[] = {{EACCES, 513}, {EPERM, 513}, {EROFS, 642}, {ENOSPC, 640}, {EDQUOT, 640},
                 {ENAMETOOLONG, 514}, {ENOTDIR, 4}, {EIO, 512}, {EFBIG, 512}};
    for (const auto& c : cases) {
        const vexa::Error e = vexa::files::fileWriteError("/home/u/Library/Preferences/P.prefs", c.errnum);
        EXPECT_EQ(e.domain, "NSCocoaErrorDomain");
        EXPECT_EQ(e.code, c.code) << c.errnum;
        EXPECT_NE(e.localizedDescription.find("\u201CP.prefs\u201D"), std::string::npos) << e.localizedDescription;
        ASSERT_NE(e.underlying, nullptr);
        EXPECT_EQ(e.underlying->domain, "NSPOSIXErrorDomain");
        EXPECT_EQ(e.underlying->code, c.errnum);
    }
}

}  // namespace
