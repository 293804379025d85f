// systemd's unit search path and finding a unit file in it.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/units/unit_files.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr char kUnit[] = "mirlan.driver.VexaOrla.service";

enum class Entry { None, File, Empty, MaskLink, FileLink, DanglingLink, Folder };

struct Case {
    const char* name;
    Entry first, second;  // what each of two folders of the path holds under the unit's name
    bool found;
    int foundIn;  // 0 or 1: which folder's entry is found
};

void make(const std::string& folder, Entry entry, const std::string& elsewhere) {
    const std::string path = folder + "/" + kUnit;
    switch (entry) {
    case Entry::None: break;
    case Entry::File: std::ofstream(path) << "[Service]\nExecStart=/bin/true\n"; break;
    case Entry::Empty: std::ofstream(path).flush(); break;
    case Entry::MaskLink: ASSERT_EQ(::symlink("/dev/null", path.c_str()), 0); break;
    case Entry::FileLink:
        std::ofstream(elsewhere) << "[Service]\nExecStart=/bin/true\n";
        ASSERT_EQ(::symlink(elsewhere.c_str(), path.c_str()), 0);
        break;
    case Entry::DanglingLink: ASSERT_EQ(::symlink((folder + "/nowhere").c_str(), path.c_str()), 0); break;
    case Entry::Folder: ASSERT_EQ(::mkdir(path.c_str(), 0755), 0); break;
    }
}

}  // namespace

TEST(UnitFiles, FirstFolderOfTheSearchPathDecides) {
    const Case cases[] = {
        {"nowhere", Entry::None, Entry::None, false, 0},
        {"in the first folder", Entry::File, Entry::None, true, 0},
        {"in a later folder", Entry::None, Entry::File, true, 1},
        {"in both: the first wins", Entry::File, Entry::File, true, 0},
        {"masked by a link to /dev/null", Entry::MaskLink, Entry::File, false, 0},
        {"masked by an empty file", Entry::Empty, Entry::File, false, 0},
        {"a link to a unit file elsewhere", Entry::FileLink, Entry::None, true, 0},
        {"a dangling link", Entry::DanglingLink, Entry::File, false, 0},
        {"a folder of that name", Entry::Folder, Entry::None, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        vexa::test::TempDir root;
        const std::string folders[] = {root / "etc", root / "lib"};
        for (const std::string& folder : folders) ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
        make(folders[0], c.first, root / "aliased.service");
        make(folders[1], c.second, root / "aliased.service");
        // Without a trailing colon, the variable's folders are the whole path.
        const std::string path = folders[0] + ":" + folders[1];
        vexa::test::ScopedEnv unitPath("SYSTEMD_UNIT_PATH", path.c_str());
        EXPECT_EQ(vexa::units::systemUnitSearchPath(), std::vector<std::string>(std::begin(folders), std::end(folders)));

        const auto found = vexa::units::findSystemUnitFile(kUnit);
        EXPECT_EQ(found.has_value(), c.found);
        EXPECT_EQ(vexa::units::isSystemUnitInstalled(kUnit), c.found);
        if (found) {
            EXPECT_EQ(*found, folders[c.foundIn] + "/" + kUnit);
        }
    }
}

TEST(UnitFiles, NamesThatLeaveTheFoldersAreRefused) {
    vexa::test::TempDir root;
    std::ofstream(root / "outside.service") << "[Service]\n";
    const std::string folder = root / "units";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    vexa::test::ScopedEnv unitPath("SYSTEMD_UNIT_PATH", folder.c_str());
    EXPECT_FALSE(vexa::units::isSystemUnitInstalled("../outside.service"));
    EXPECT_FALSE(vexa::units::isSystemUnitInstalled(""));
}
