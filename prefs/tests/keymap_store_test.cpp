// Tables in the root dictionary, and reading a table from the current file, else the legacy file, else the defaults.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "platform/keyedarchive/keyed_archive.h"
#include "platform/resourcefile/resource_file.h"
#include "prefs_fixture.h"

namespace {

using namespace vexa::prefs::test;
using vexa::archive::Data;
using vexa::archive::Dictionary;
using vexa::test::TestResource;
using vexa::test::writeTestFile;

constexpr std::uint32_t kKcoD = vexa::resource::fourCharCode("KcoD");

TEST(KeymapInDictionary, GetChecksInOrder) {
    const Table stored = table(4);
    const Dictionary good{{"VexaKeyMap", Dictionary{{KZ714_TYPE_ANSI, data(stored)}}}};
    const Dictionary noMap{{"Other", 1}};
    const Dictionary mapIsData{{"VexaKeyMap", data(stored)}};
    const Dictionary tableIsText{{"VexaKeyMap", Dictionary{{KZ714_TYPE_ANSI, "table"}}}};
    const Dictionary short255{{"VexaKeyMap", Dictionary{{KZ714_TYPE_ANSI, Data(255, 1)}}}};
    const Dictionary long257{{"VexaKeyMap", Dictionary{{KZ714_TYPE_ANSI, Data(257, 1)}}}};
    Table out = table(0);
    const struct {
        const char* what;
        const Dictionary* root;
        KeymapType type;
        std::uint8_t* keymap;
        ErrorCode expected;
    } cases[] = {
        {"null dictionary", nullptr, KZ714_TYPE_ANSI, out.data(), KZ730_ERR_GET_ARGUMENT},
        {"null type beats a missing map", &noMap, nullptr, out.data(), KZ730_ERR_GET_ARGUMENT},
        {"null table", &good, KZ714_TYPE_ANSI, nullptr, KZ730_ERR_GET_ARGUMENT},
        {"no VexaKeyMap", &noMap, KZ714_TYPE_ANSI, out.data(), KZ730_ERR_GET_NO_KEYMAPS},
        {"VexaKeyMap is data", &mapIsData, KZ714_TYPE_ANSI, out.data(), KZ730_ERR_GET_NO_KEYMAPS},
        {"type missing", &good, KZ714_TYPE_JIS, out.data(), KZ730_ERR_GET_NO_TABLE},
        {"type holds text", &tableIsText, KZ714_TYPE_ANSI, out.data(), KZ730_ERR_GET_NO_TABLE},
        {"255 bytes", &short255, KZ714_TYPE_ANSI, out.data(), KZ730_ERR_GET_TABLE_SIZE},
        {"257 bytes", &long257, KZ714_TYPE_ANSI, out.data(), KZ730_ERR_GET_TABLE_SIZE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(KZ730getKeymapFromPrefData(c.root, c.type, c.keymap), c.expected);
        EXPECT_EQ(out, table(0));  // untouched by every failure
    }
    EXPECT_EQ(KZ730getKeymapFromPrefData(&good, KZ714_TYPE_ANSI, out.data()), 0);
    EXPECT_EQ(out, stored);
}

TEST(KeymapInDictionary, SetKeepsOtherEntriesAndReplacesAForeignMap) {
    const Table t = table(5);
    EXPECT_EQ(KZ730setKeymapToPrefData(nullptr, KZ714_TYPE_ANSI, t.data()), KZ730_ERR_SET_ARGUMENT);
    Dictionary root{{"VexaKeyMap", Dictionary{{KZ714_TYPE_ANSI, data(table(1))}, {KZ714_TYPE_JIS, data(table(2))},
                                              {"Other", "kept"}}},
                    {"Root entry", 3}};
    const Dictionary before = root;
    EXPECT_EQ(KZ730setKeymapToPrefData(&root, nullptr, t.data()), KZ730_ERR_SET_ARGUMENT);
    EXPECT_EQ(KZ730setKeymapToPrefData(&root, KZ714_TYPE_ANSI, nullptr), KZ730_ERR_SET_ARGUMENT);
    EXPECT_EQ(root, before);

    ASSERT_EQ(KZ730setKeymapToPrefData(&root, KZ714_TYPE_ANSI, t.data()), 0);
    EXPECT_EQ(root, (Dictionary{{"VexaKeyMap", Dictionary{{KZ714_TYPE_ANSI, data(t)}, {KZ714_TYPE_JIS, data(table(2))},
                                                          {"Other", "kept"}}},
                                {"Root entry", 3}}));

    Dictionary foreign{{"VexaKeyMap", "not a dictionary"}, {"Root entry", 3}};
    ASSERT_EQ(KZ730setKeymapToPrefData(&foreign, KZ714_TYPE_JIS, t.data()), 0);
    EXPECT_EQ(foreign, (Dictionary{{"VexaKeyMap", Dictionary{{KZ714_TYPE_JIS, data(t)}}}, {"Root entry", 3}}));
}

// Where each type's table comes from in one arrangement of files.
enum class From { Current, Legacy, Default };

struct Scenario {
    const char* what;
    std::optional<Dictionary> current;           // none: no current file
    std::vector<std::uint8_t> currentBytes;      // raw current file instead, when not empty
    std::optional<std::vector<TestResource>> legacy;
    From ansi, jis;
    std::vector<std::string> stack;              // error stack after reading ANSI then JIS, newest first
};

const Table kCurrentANSI = table(10), kCurrentJIS = table(20);
const Table kLegacyANSI = legacyTable(1), kLegacyJIS = legacyTable(2);

Dictionary current(std::optional<Data> ansi, std::optional<Data> jis) {
    Dictionary maps;
    if (ansi) maps.set(KZ714_TYPE_ANSI, *ansi);
    if (jis) maps.set(KZ714_TYPE_JIS, *jis);
    return Dictionary{{"VexaKeyMap", maps}};
}

std::vector<TestResource> legacy(bool ansi, bool jis, std::size_t ansiSize = 256) {
    std::vector<TestResource> r;
    if (ansi) r.push_back({kKcoD, 101, Data(kLegacyANSI.begin(), kLegacyANSI.begin() + std::min<std::size_t>(256, ansiSize)), ""});
    if (ansi && ansiSize > 256) r.back().data.resize(ansiSize, 0);
    if (jis) r.push_back({kKcoD, 104, Data(kLegacyJIS.begin(), kLegacyJIS.end()), ""});
    return r;
}

TEST_F(PrefsTest, ReadKeymapFallsBackFromCurrentToLegacyToDefault) {
    const Scenario scenarios[] = {
        {"no files at all", {}, {}, {}, From::Default, From::Default, {}},
        {"current file with both", current(data(kCurrentANSI), data(kCurrentJIS)), {}, legacy(true, true),
         From::Current, From::Current, {}},
        {"current file with ANSI only", current(data(kCurrentANSI), {}), {}, {}, From::Current, From::Default,
         {"730.0085"}},
        {"JIS entry of 255 bytes, legacy has JIS", current(data(kCurrentANSI), Data(255, 1)), {},
         legacy(false, true), From::Current, From::Legacy, {"730.0087"}},
        {"JIS entry of 255 bytes, no legacy", current(data(kCurrentANSI), Data(255, 1)), {}, {}, From::Current,
         From::Default, {"730.0087"}},
        {"legacy file with only resource 101", {}, {}, legacy(true, false), From::Legacy, From::Default, {}},
        {"legacy ANSI resource of 257 bytes", {}, {}, legacy(true, true, 257), From::Default, From::Legacy, {}},
        {"corrupt current file", {}, {'b', 'p', 'l', 'i', 's', 't', '0', '0', 1, 2, 3}, legacy(true, true),
         From::Legacy, From::Legacy, {}},
        {"current root without VexaKeyMap", Dictionary{{"Other", 1}}, {}, {}, From::Default, From::Default,
         {"730.0082", "730.0082"}},
        {"legacy file that is no resource file", {}, {}, std::vector<TestResource>{}, From::Default, From::Default, {}},
    };
    for (const auto& s : scenarios) {
        SCOPED_TRACE(s.what);
        std::filesystem::remove_all(home / "Library");
        if (s.current) writeCurrent(*s.current);
        if (!s.currentBytes.empty()) writeTestFile(prefPath(), s.currentBytes);
        if (s.legacy) {
            if (s.legacy->empty()) {
                writeTestFile(oldPath(), {0, 0, 0, 16});
            } else {
                writeLegacy(*s.legacy);
            }
        }
        auto expected = [](From from, const Table& cur, const Table& old, KeymapType type) {
            return from == From::Current ? cur : from == From::Legacy ? converted(old) : defaultTable(type);
        };
        Table ansi = table(99), jis = table(98);
        EXPECT_EQ(KZ730readKeymap(user.c_str(), KZ714_TYPE_ANSI, ansi.data()), 0);
        EXPECT_EQ(KZ730readKeymap(user.c_str(), KZ714_TYPE_JIS, jis.data()), 0);
        EXPECT_EQ(ansi, expected(s.ansi, kCurrentANSI, kLegacyANSI, KZ714_TYPE_ANSI));
        EXPECT_EQ(jis, expected(s.jis, kCurrentJIS, kLegacyJIS, KZ714_TYPE_JIS));
        EXPECT_EQ(errorStack(), s.stack);
        KZ710getErrorString();
    }
}

TEST_F(PrefsTest, AnUnknownTypeTextIsLookedUpAsItIs) {
    const KeymapType iso = "Vexa Orla ISO";
    writeLegacy({{kKcoD, 0, Data(kLegacyJIS.begin(), kLegacyJIS.end()), ""}});
    Table t = table(0);
    EXPECT_EQ(KZ730readOldKeymap(user.c_str(), iso, t.data()), 0);
    EXPECT_EQ(t, converted(kLegacyJIS));
    writeCurrent(Dictionary{{"VexaKeyMap", Dictionary{{iso, data(kCurrentANSI)}}}});
    EXPECT_EQ(KZ730readKeymap(user.c_str(), iso, t.data()), 0);
    EXPECT_EQ(t, kCurrentANSI);
    std::filesystem::remove_all(home / "Library");
    EXPECT_EQ(KZ730readKeymap(user.c_str(), iso, t.data()), 0);
    EXPECT_EQ(t, defaultTable(KZ714_TYPE_ANSI));
}

TEST_F(PrefsTest, ANullTypeGetsTheAnsiDefault) {
    writeCurrent(current(data(kCurrentANSI), data(kCurrentJIS)));
    Table t = table(0);
    EXPECT_EQ(KZ730readKeymap(user.c_str(), nullptr, t.data()), 0);
    EXPECT_EQ(t, defaultTable(KZ714_TYPE_ANSI));
    EXPECT_EQ(errorStack(), std::vector<std::string>{"730.0079"});
    EXPECT_EQ(KZ730readKeymap(user.c_str(), KZ714_TYPE_ANSI, nullptr), 0);  // nothing to fill
}

TEST_F(PrefsTest, ReadOldKeymapReportsEachFailureAndLeavesTheTable) {
    const std::string longHome(PATH_MAX, 'h');
    const struct {
        const char* what;
        std::function<void()> arrange;
        const char* user;  // null: the running user
        KeymapType type;
        ErrorCode expected;
    } cases[] = {
        {"null type", [] {}, nullptr, nullptr, KZ730_ERR_OLD_ARGUMENT},
        {"unknown user", [] {}, "no-such-user-vexa-test", KZ714_TYPE_ANSI, KZ730_ERR_OLD_NO_HOME},
        {"path too long", [&] { ::setenv("HOME", ("/" + longHome).c_str(), 1); }, nullptr, KZ714_TYPE_ANSI,
         KZ730_ERR_OLD_NO_PATH},
        {"no legacy file", [] {}, nullptr, KZ714_TYPE_ANSI, KZ730_ERR_OLD_NO_FILE},
        {"garbage", [&] { writeTestFile(oldPath(), {1, 2, 3}); }, nullptr, KZ714_TYPE_ANSI,
         KZ730_ERR_OLD_CANNOT_OPEN},
        {"FIFO",
         [&] {
             std::filesystem::create_directories(home / "Library/Preferences");
             ASSERT_EQ(::mkfifo(oldPath().c_str(), 0600), 0);
         },
         nullptr, KZ714_TYPE_ANSI, KZ730_ERR_OLD_CANNOT_OPEN},
        {"symbolic link to nothing",
         [&] {
             std::filesystem::create_directories(home / "Library/Preferences");
             ASSERT_EQ(::symlink((home / "old.prefs").c_str(), oldPath().c_str()), 0);
         },
         nullptr, KZ714_TYPE_ANSI, KZ730_ERR_OLD_NO_FILE},
        {"Preferences is a file", [&] { writeTestFile(home / "Library/Preferences", {1}); }, nullptr,
         KZ714_TYPE_ANSI, KZ730_ERR_OLD_NO_FILE},
        {"folder", [&] { std::filesystem::create_directories(oldPath()); }, nullptr, KZ714_TYPE_ANSI,
         KZ730_ERR_OLD_CANNOT_OPEN},
        {"no resource for the type", [&] { writeLegacy(legacy(false, true)); }, nullptr, KZ714_TYPE_ANSI,
         KZ730_ERR_OLD_NO_RESOURCE},
        {"resource of 255 bytes", [&] { writeLegacy({{kKcoD, 101, Data(255, 1), ""}}); }, nullptr, KZ714_TYPE_ANSI,
         KZ730_ERR_OLD_NO_RESOURCE},
        {"resource of 257 bytes", [&] { writeLegacy({{kKcoD, 101, Data(257, 1), ""}}); }, nullptr, KZ714_TYPE_ANSI,
         KZ730_ERR_OLD_NO_RESOURCE},
        {"resource of another type with the ID",
         [&] { writeLegacy({{vexa::resource::fourCharCode("DSsw"), 101, Data(256, 1), ""}}); }, nullptr,
         KZ714_TYPE_ANSI, KZ730_ERR_OLD_NO_RESOURCE},
    };
    ::alarm(20);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        vexa::test::ScopedEnv restoreHome("HOME", home.path().c_str());
        std::filesystem::remove_all(home / "Library");
        std::filesystem::remove(home / "old.prefs");
        c.arrange();
        Table t = table(7);
        EXPECT_EQ(KZ730readOldKeymap(c.user, c.type, t.data()), c.expected);
        EXPECT_EQ(t, table(7));
    }
    ::alarm(0);
    EXPECT_EQ(KZ730readOldKeymap(nullptr, KZ714_TYPE_ANSI, nullptr), KZ730_ERR_OLD_ARGUMENT);
    EXPECT_TRUE(errorStack().empty());
}

}  // namespace
