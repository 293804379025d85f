// A private home folder for each test ($HOME points at it), the running
// user's name, and small helpers shared by the module's tests.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "keymap/keymap.h"
#include "platform/keyedarchive/value.h"
#include "prefs/prefs.h"
#include "tests/support/resource_file_writer.h"
#include "tests/support/temp_dir.h"

namespace vexa::prefs::test {

using Table = std::array<std::uint8_t, KZ714_KEYMAP_SIZE>;

// A table whose bytes all differ from the defaults' pattern.
Table table(std::uint8_t seed);
vexa::archive::Data data(const Table& t);
// A legacy table: classic key codes 0-127.
Table legacyTable(std::uint8_t seed);
Table converted(Table legacy);
Table defaultTable(KeymapType type);

// The error stack's entries, newest first.
std::vector<std::string> errorStack();

class PrefsTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string prefPath() const { return home / KZ730_PREF_FILE; }
    std::string oldPath() const { return home / KZ730_OLD_PREF_FILE; }
    void writeCurrent(const vexa::archive::Dictionary& root);
    void writeLegacy(const std::vector<vexa::test::TestResource>& resources);

    vexa::test::TempDir home;
    vexa::test::ScopedEnv homeEnv{"HOME", home.path().c_str()};
    std::string user;
};

}  // namespace vexa::prefs::test
