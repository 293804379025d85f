// Keyed archives shared with another implementation of the format: Debian's
// python3 plistlib reads the file we write and finds UID values where the
// graph has references, and writes files laid out as the platform's archiver
// writes them, which we read and update without losing what we do not interpret.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sys/wait.h>

#include "prefs_fixture.h"

namespace {

using namespace vexa::prefs::test;
using vexa::archive::Array;
using vexa::archive::Date;
using vexa::archive::Dictionary;
using vexa::archive::Value;

std::string hex(const Table& t) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (auto b : t) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

// Runs a script with its arguments (a file path last); returns its exit
// status and standard output.
std::pair<int, std::string> runPython(const std::string& scriptAndArguments, const std::string& path) {
    const std::string command =
        std::string("PYTHONIOENCODING=utf-8 ") + VEXA_PYTHON3 + " " + scriptAndArguments + " '" + path + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    EXPECT_NE(pipe, nullptr);
    if (pipe == nullptr) return {-1, {}};
    std::string out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

std::pair<int, std::string> runChecker(const std::string& path) { return runPython(VEXA_CHECK_ARCHIVE_SCRIPT, path); }

TEST_F(PrefsTest, PythonsPlistlibReadsOurFileAsAKeyedArchive) {
    Dictionary root{{"Other", "text"}, {"Count", 7}, {"Offset", -3}, {"Flag", true}, {"List", Array{1, "x"}}};
    ASSERT_EQ(KZ730setKeymapToPrefData(&root, KZ714_TYPE_ANSI, table(1).data()), 0);
    ASSERT_EQ(KZ730setKeymapToPrefData(&root, KZ714_TYPE_JIS, table(2).data()), 0);
    writeCurrent(root);

    const auto [status, out] = runChecker(prefPath());
    ASSERT_EQ(status, 0) << out;
    EXPECT_EQ(out,
              "Count=int:7\n"
              "Flag=bool:True\n"
              "List/0=int:1\n"
              "List/1=str:x\n"
              "Offset=int:-3\n"
              "Other=str:text\n"
              "VexaKeyMap/Vexa Orla ANSI=data:" + hex(table(1)) + "\n"
              "VexaKeyMap/Vexa Orla JIS=data:" + hex(table(2)) + "\n");
}

TEST_F(PrefsTest, ThePlistlibCheckerRejectsAFileThatIsNoKeyedArchive) {
    vexa::test::writeTestFile(prefPath(), {'b', 'p', 'l', 'i', 's', 't', '0', '0'});
    EXPECT_NE(runChecker(prefPath()).first, 0);
}

// The tables of a file from the platform's archiver (NSDictionary root,
// NSMutableString key, NSMutableData table, a shared inner dictionary,
// two-byte references) are read; the editor's update keeps every other entry.
TEST_F(PrefsTest, AFileFromThePlatformsArchiverIsReadAndUpdatedWithoutLoss) {
    Table ansi, jis;
    for (int i = 0; i < 256; ++i) {
        ansi[i] = static_cast<std::uint8_t>(i);
        jis[i] = static_cast<std::uint8_t>(255 - i);
    }
    std::filesystem::create_directories(home / "Library/Preferences");
    const auto [made, log] = runPython(VEXA_PLATFORM_ARCHIVE_SCRIPT, prefPath());
    ASSERT_EQ(made, 0) << log;

    Table t{};
    EXPECT_EQ(KZ730readKeymap(user.c_str(), KZ714_TYPE_ANSI, t.data()), 0);
    EXPECT_EQ(t, ansi);
    EXPECT_EQ(KZ730readKeymap(user.c_str(), KZ714_TYPE_JIS, t.data()), 0);
    EXPECT_EQ(t, jis);
    EXPECT_TRUE(errorStack().empty());

    auto root = KZ730readNewPrefFile(user.c_str());
    ASSERT_TRUE(root.has_value());
    EXPECT_EQ(root->size(), 2u + 300 + 3);
    const Value* shared = root->find("Shared");
    const Value* minus299 = root->find("k299");
    const Value* when = root->find("when");
    ASSERT_TRUE(shared != nullptr && minus299 != nullptr && when != nullptr);
    EXPECT_EQ(*shared, *root->find("VexaKeyMap"));
    EXPECT_EQ(*minus299, Value(-299));
    EXPECT_EQ(*when, Value(Date{750000000.5}));

    ASSERT_EQ(KZ730setKeymapToPrefData(&*root, KZ714_TYPE_ANSI, table(3).data()), 0);
    ASSERT_EQ(KZ730writeNewPrefFile(user.c_str(), &*root, nullptr), 0);
    const auto [status, out] = runChecker(prefPath());
    ASSERT_EQ(status, 0) << out;
    for (const std::string& line : {"VexaKeyMap/Vexa Orla ANSI=data:" + hex(table(3)),
                                   "VexaKeyMap/Vexa Orla JIS=data:" + hex(jis), "Shared/Vexa Orla ANSI=data:" + hex(ansi),
                                   std::string("k000=int:0"), std::string("k299=int:-299"),
                                   std::string("flag=bool:True"), std::string("when=date:750000000.5"),
                                   std::string("Größe ✓ 設定=real:2.5")}) {
        EXPECT_NE(out.find(line + "\n"), std::string::npos) << line;
    }
}

// A file holding, beside the tables, objects the suite does not interpret
// (other classes, numbers above INT64_MAX, number keys, shared objects and a
// cycle) or damaged objects of the classes it does: the tables are read, a
// save writes new ones, and plistlib finds every other entry as it was.
TEST_F(PrefsTest, EntriesOfOtherKindsSurviveASaveAsPlistlibSeesThem) {
    const std::string script = std::string(VEXA_FOREIGN_ENTRIES_SCRIPT);
    const struct {
        const char* write;
        std::vector<const char*> kinds;  // some of what the file holds beside the tables
    } files[] = {
        {"write",
         {"NSNull", "NSURL", "NSUUID", "NSMutableSet", "VXNode", "int:18446744073709551615", "root int:42 = str:answer",
          "VexaKeyMap int:7 = str:seven", "root str:null = @0"}},
        {"write-damaged",
         {"root str:nul = str:'a\\x00b'", "root str:nul long = str:'\U0001F600\\x00xxxxxxxxxxxxxxxxxxxx'",
          "$classname: str:NSDictionary} {NS.keys: [str:a, str:b], NS.objects: [str:c]}",
          "root str:no string = #", "VexaKeyMap str:Damaged = #"}},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.write);
        std::filesystem::remove_all(home / "Library");
        std::filesystem::create_directories(home / "Library/Preferences");
        ASSERT_EQ(runPython(script + " " + f.write, prefPath()).first, 0);
        const auto [shown, before] = runPython(script + " show", prefPath());
        ASSERT_EQ(shown, 0) << before;
        const std::string foreign = before.substr(before.find("--\n"));
        for (const char* kind : f.kinds) EXPECT_NE(foreign.find(kind), std::string::npos) << kind;

        Table ansi{}, jis{};
        EXPECT_EQ(KZ730readKeymap(user.c_str(), KZ714_TYPE_ANSI, ansi.data()), 0);
        EXPECT_EQ(KZ730readKeymap(user.c_str(), KZ714_TYPE_JIS, jis.data()), 0);
        EXPECT_EQ("Vexa Orla ANSI = data:" + hex(ansi) + "\nVexa Orla JIS = data:" + hex(jis) + "\n" + foreign, before);
        EXPECT_NE(ansi, defaultTable(KZ714_TYPE_ANSI));
        EXPECT_TRUE(errorStack().empty());

        // The editor's save.
        auto root = KZ730readNewPrefFile(user.c_str());
        ASSERT_TRUE(root.has_value());
        ASSERT_EQ(KZ730setKeymapToPrefData(&*root, KZ714_TYPE_ANSI, table(3).data()), 0);
        ASSERT_EQ(KZ730setKeymapToPrefData(&*root, KZ714_TYPE_JIS, table(4).data()), 0);
        ASSERT_EQ(KZ730writeNewPrefFile(user.c_str(), &*root, nullptr), 0);

        const auto [status, after] = runPython(script + " show", prefPath());
        ASSERT_EQ(status, 0) << after;
        EXPECT_EQ(after, "Vexa Orla ANSI = data:" + hex(table(3)) + "\nVexa Orla JIS = data:" + hex(table(4)) + "\n" +
                             foreign);
    }
}

// Damage to what the suite reads (a table, the "VexaKeyMap" dictionary, the
// root) counts as no file, as any unreadable file does: both tables come
// from the fallbacks.
TEST_F(PrefsTest, DamageToTheTablesOrTheWayToThemCountsAsNoFile) {
    std::filesystem::create_directories(home / "Library/Preferences");
    for (const char* where : {"table", "keymaps", "root"}) {
        SCOPED_TRACE(where);
        ASSERT_EQ(runPython(std::string(VEXA_FOREIGN_ENTRIES_SCRIPT) + " write-damaged " + where, prefPath()).first, 0);
        EXPECT_EQ(KZ730readNewPrefFile(user.c_str()), std::nullopt);
        Table ansi{}, jis{};
        EXPECT_EQ(KZ730readKeymap(user.c_str(), KZ714_TYPE_ANSI, ansi.data()), 0);
        EXPECT_EQ(KZ730readKeymap(user.c_str(), KZ714_TYPE_JIS, jis.data()), 0);
        EXPECT_EQ(ansi, defaultTable(KZ714_TYPE_ANSI));
        EXPECT_EQ(jis, defaultTable(KZ714_TYPE_JIS));
        EXPECT_TRUE(errorStack().empty());
    }
}

}  // namespace
