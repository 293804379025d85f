// Tests the removal of old login items: the pass loop, and the user's XDG autostart entries as the list it works on.
#include "installer/login_items.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "tests/support/temp_dir.h"

namespace {

using vexa::installer::AutostartLoginItems;
using vexa::installer::LoginItem;
using vexa::installer::LoginItemList;
using vexa::installer::removeMatchingLoginItems;

// --- The pass loop, on a list whose removals can be told to fail ----------

// Items by display name; a name in `failing` cannot be removed, one in
// `undying` reports success but stays.
class ScriptedList : public LoginItemList {
public:
    std::vector<std::string> names;
    std::vector<std::string> failing, undying;
    bool unreadable = false;
    int snapshots = 0;

    std::optional<std::vector<LoginItem>> snapshot() override {
        ++snapshots;
        if (unreadable) return std::nullopt;
        std::vector<LoginItem> items;
        for (std::size_t i = 0; i < names.size(); ++i)
            items.push_back({std::to_string(i), names[i] == "<none>" ? std::nullopt : std::optional(names[i])});
        return items;
    }
    int remove(const LoginItem& item) override {
        const std::string name = names[std::stoul(item.id)];
        if (std::count(failing.begin(), failing.end(), name)) return -EPERM;
        if (std::count(undying.begin(), undying.end(), name)) return 0;
        names[std::stoul(item.id)] = "<gone>";
        return 0;
    }
};

struct LoopCase {
    const char* what;
    std::vector<std::string> names, failing, undying;
    bool unreadable;
    int passes;
    std::vector<std::string> left;
};

TEST(LoginItemPasses, EndWhenAPassRemovesNothing) {
    const std::string n = "Vexa Orla SetUpper";
    const LoopCase cases[] = {
        {"no matching item: one pass", {"Other", "Vexa Orla SetUpper 2"}, {}, {}, false, 1,
         {"Other", "Vexa Orla SetUpper 2"}},
        {"an empty list: one pass", {}, {}, {}, false, 1, {}},
        {"a list that cannot be read: one try", {n}, {}, {}, true, 1, {n}},
        {"two items of the same name go in the first pass", {n, "Other", n}, {}, {}, false, 2,
         {"<gone>", "Other", "<gone>"}},
        {"extensions are ignored on both sides", {n + ".app", "Vexa Orla SetUpper.prefPane", "Vexa Orla"}, {}, {},
         false, 2, {"<gone>", "<gone>", "Vexa Orla"}},
        {"letter case counts", {"vexa orla setupper", "VEXA ORLA SETUPPER.app"}, {}, {}, false, 1,
         {"vexa orla setupper", "VEXA ORLA SETUPPER.app"}},
        {"an item without a display name is skipped", {"<none>", n}, {}, {}, false, 2, {"<none>", "<gone>"}},
        {"a removal that keeps failing ends after one pass", {n}, {n}, {}, false, 1, {n}},
        {"a failing item beside a removed one: one more pass", {n, n + ".app"}, {n}, {}, false, 2,
         {n, "<gone>"}},
        {"an item that comes back is tried five times", {n}, {}, {n}, false, 5, {n}},
    };
    for (const LoopCase& c : cases) {
        ScriptedList list;
        list.names = c.names;
        list.failing = c.failing;
        list.undying = c.undying;
        list.unreadable = c.unreadable;
        EXPECT_EQ(removeMatchingLoginItems(&list, n.c_str()), c.passes) << c.what;
        EXPECT_EQ(list.snapshots, c.passes) << c.what;
        EXPECT_EQ(list.names, c.left) << c.what;
    }
    ScriptedList list;
    EXPECT_EQ(removeMatchingLoginItems(&list, nullptr), 0);
    EXPECT_EQ(removeMatchingLoginItems(nullptr, n.c_str()), 0);
}

TEST(LoginItemPasses, PathExtensionRemoval) {
    const std::pair<const char*, const char*> cases[] = {
        {"Vexa Orla SetUpper.app", "Vexa Orla SetUpper"}, {"/a/b.c/d.app/", "/a/b.c/d"}, {"a.b/c", "a.b/c"},
        {".hidden", ".hidden"}, {"x..y", "x."}, {"/", "/"}, {"", ""}, {"a.", "a"},
    };
    for (auto [in, out] : cases) EXPECT_EQ(vexa::installer::deletingPathExtension(in), out) << in;
}

// --- The XDG autostart folders as the list --------------------------------

void writeFile(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << text;
}

std::string entry(const std::string& name, const std::string& extra = "") {
    return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=/bin/true\n" + extra;
}

// A folder as "file=Name" words ("file=-" for a Hidden=true entry), sorted.
std::string describeFolder(const std::string& folder) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (const auto& f : std::filesystem::directory_iterator(folder, ec)) {
        std::ifstream in(f.path());
        std::string line, name = "?";
        bool hidden = false;
        while (std::getline(in, line)) {
            if (line.rfind("Name=", 0) == 0) name = line.substr(5);
            if (line == "Hidden=true") hidden = true;
        }
        files[f.path().filename().string()] = hidden ? "-" : name;
    }
    std::string out;
    for (const auto& [file, name] : files) out += (out.empty() ? "" : " ") + file + "=" + name;
    return out;
}

struct AutostartCase {
    const char* what;
    std::map<std::string, std::string> user, system;  // file -> content
    bool configHomeIsAFile;
    int passes;
    const char* userAfter;  // describeFolder of the user's folder afterwards
};

// Counts the snapshots the loop takes of the real list.
class Counting : public LoginItemList {
public:
    explicit Counting(LoginItemList& list) : list_(list) {}
    int snapshots = 0;
    std::optional<std::vector<LoginItem>> snapshot() override {
        ++snapshots;
        return list_.snapshot();
    }
    int remove(const LoginItem& item) override { return list_.remove(item); }

private:
    LoginItemList& list_;
};

TEST(AutostartLoginItems, RemovalDeletesOrHidesEntries) {
    const std::string n = "Vexa Orla SetUpper";
    const AutostartCase cases[] = {
        {"an empty folder: one pass", {}, {}, false, 1, ""},
        {"the user's entry is deleted; others stay",
         {{"old.desktop", entry(n)}, {"mail.desktop", entry("Mail")}}, {}, false, 2, "mail.desktop=Mail"},
        {"an entry named with an extension matches", {{"a.desktop", entry(n + ".app")}}, {}, false, 2, ""},
        {"letter case counts", {{"a.desktop", entry("vexa orla SetUpper")}}, {}, false, 1, "a.desktop=vexa orla SetUpper"},
        {"two entries of the same name go in one pass",
         {{"a.desktop", entry(n)}, {"b.desktop", entry(n)}}, {}, false, 2, ""},
        {"the translated name does not count",
         {{"a.desktop", "[Desktop Entry]\nName[de]=" + n + "\nName=Other\n"}}, {}, false, 1, "a.desktop=Other"},
        {"escapes in the name are decoded", {{"a.desktop", entry("Vexa\\sOrla SetUpper")}}, {}, false, 2, ""},
        {"a Name= outside the main group does not count",
         {{"a.desktop", "[Desktop Action x]\nName=" + n + "\n[Desktop Entry]\nName=Other\n"}}, {}, false, 1,
         "a.desktop=Other"},
        {"a system entry is hidden by a user entry", {}, {{"s.desktop", entry(n)}}, false, 2, "s.desktop=-"},
        {"a user entry over a system entry becomes a hiding entry",
         {{"s.desktop", entry(n)}}, {{"s.desktop", entry("Something else")}}, false, 2, "s.desktop=-"},
        {"an already hidden system entry is no item",
         {{"s.desktop", entry(n, "Hidden=true\n")}}, {{"s.desktop", entry(n)}}, false, 1, "s.desktop=-"},
        {"a hiding entry that cannot be written: the loop ends after one pass", {}, {{"s.desktop", entry(n)}},
         true, 1, ""},
    };
    for (const AutostartCase& c : cases) {
        vexa::test::TempDir dir;
        const std::string configHome = dir / "config";
        const std::string userFolder = configHome + "/autostart";
        if (c.configHomeIsAFile) writeFile(configHome, "not a folder");
        for (const auto& [file, text] : c.user) writeFile(userFolder + "/" + file, text);
        for (const auto& [file, text] : c.system) writeFile(dir / "xdg/autostart/" + file, text);

        AutostartLoginItems items(userFolder, {dir / "xdg/autostart", dir / "xdg2/autostart"});
        Counting counting(items);
        removeMatchingLoginItems(&counting, n.c_str());
        EXPECT_EQ(counting.snapshots, c.passes) << c.what;
        EXPECT_EQ(describeFolder(userFolder), c.userAfter) << c.what;
        // Whatever was done, the name is no longer among the items, unless
        // its removal was impossible.
        const auto left = items.snapshot();
        ASSERT_TRUE(left.has_value()) << c.what;
        const bool stillThere = std::any_of(left->begin(), left->end(), [&](const LoginItem& i) {
            return i.displayName && vexa::installer::loginItemMatches(*i.displayName, n);
        });
        EXPECT_EQ(stillThere, c.configHomeIsAFile) << c.what;
        // The system's folder is never written.
        for (const auto& [file, text] : c.system) {
            std::ifstream in(dir / "xdg/autostart/" + file);
            std::stringstream now;
            now << in.rdbuf();
            EXPECT_EQ(now.str(), text) << c.what;
        }
    }
}

TEST(AutostartLoginItems, FoldersComeFromTheEnvironment) {
    vexa::test::TempDir dir;
    writeFile(dir / "home/.config/autostart/u.desktop", entry("From home"));
    writeFile(dir / "xdg-a/autostart/s.desktop", entry("First system folder"));
    writeFile(dir / "xdg-b/autostart/s.desktop", entry("Second system folder"));
    writeFile(dir / "xdg-b/autostart/t.desktop", entry("Only in the second"));
    vexa::test::ScopedEnv home("HOME", (dir / "home").c_str());
    vexa::test::ScopedEnv configHome("XDG_CONFIG_HOME", "relative/is/ignored");
    const std::string dirs = "relative:" + (dir / "xdg-a") + "::" + (dir / "xdg-b");
    vexa::test::ScopedEnv configDirs("XDG_CONFIG_DIRS", dirs.c_str());
    auto items = AutostartLoginItems::forCurrentUser();
    ASSERT_NE(items, nullptr);
    const auto snapshot = items->snapshot();
    ASSERT_TRUE(snapshot.has_value());
    std::vector<std::string> names;
    for (const LoginItem& i : *snapshot) names.push_back(*i.displayName);
    EXPECT_EQ(names, (std::vector<std::string>{"From home", "First system folder", "Only in the second"}));

    vexa::test::ScopedEnv noHome("HOME", nullptr);
    vexa::test::ScopedEnv noConfigHome("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(AutostartLoginItems::forCurrentUser(), nullptr);
}

}  // namespace
