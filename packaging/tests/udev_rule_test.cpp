// Tests the udev rule for the keyboards' hidraw nodes: udev's syntax, and that it tags exactly the keyboards keymap/ knows.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "keymap/keymap.h"

namespace {

// One rule line as udev splits it: KEY[{attr}] OP "value", comma-separated,
// as "KEY OP value" strings. Empty when udev would refuse or warn about it.
std::vector<std::string> parseRule(const std::string& line) {
    static const std::regex item(R"re(\s*([A-Z]+)\s*(==|!=|\+=|=)\s*"([^"]*)"\s*(,\s*|$))re");
    static const std::set<std::string> known = {"ACTION==",     "SUBSYSTEM!=", "SUBSYSTEMS==", "KERNELS==",
                                                "TAG+=",        "GOTO=",       "LABEL="};
    std::vector<std::string> rule;
    std::smatch m;
    for (auto at = line.cbegin(); at != line.cend(); at = m[0].second) {
        if (!std::regex_search(at, line.cend(), m, item, std::regex_constants::match_continuous)) return {};
        if (!known.count(m.str(1) + m.str(2))) return {};
        rule.push_back(m.str(1) + " " + m.str(2) + " " + m.str(3));
    }
    return rule;
}

TEST(UdevRule, TagsTheKeyboardsOfKeymapAndNothingElse) {
    std::ifstream file(VEXA_UDEV_RULE);
    ASSERT_TRUE(file) << VEXA_UDEV_RULE;
    std::vector<std::vector<std::string>> rules;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        if (line.find_first_not_of(" \t") == std::string::npos || line[line.find_first_not_of(" \t")] == '#') continue;
        rules.push_back(parseRule(line));
        ASSERT_FALSE(rules.back().empty()) << "line " << number << " is not a rule of this file's kind: " << line;
    }
    // Removals and every other subsystem jump past the tags.
    ASSERT_GE(rules.size(), 3u);
    using Rule = std::vector<std::string>;
    EXPECT_EQ(rules[0], (Rule{"ACTION == remove", "GOTO = mirlan_vexa_orla_end"}));
    EXPECT_EQ(rules[1], (Rule{"SUBSYSTEM != hidraw", "GOTO = mirlan_vexa_orla_end"}));
    EXPECT_EQ(rules.back(), (Rule{"LABEL = mirlan_vexa_orla_end"}));

    // Each rule between them tags one vendor/product pair of the parent HID
    // device, whose kernel name the kernel writes in upper-case hexadecimal.
    static const std::regex tagRule(R"(KERNELS == 0003:([0-9A-F]{4}):([0-9A-F]{4})\.\*)");
    std::set<std::pair<int, int>> tagged;
    for (std::size_t i = 2; i + 1 < rules.size(); ++i) {
        std::smatch ids;
        ASSERT_EQ(rules[i].size(), 3u);
        EXPECT_EQ(rules[i][0], "SUBSYSTEMS == hid");
        ASSERT_TRUE(std::regex_match(rules[i][1], ids, tagRule)) << rules[i][1];
        EXPECT_EQ(rules[i][2], "TAG += uaccess");
        const int vendor = std::stoi(ids[1], nullptr, 16), product = std::stoi(ids[2], nullptr, 16);
        EXPECT_NE(KZ714keymapType(vendor, product), nullptr) << rules[i][1] << " is no keyboard of the suite";
        tagged.insert({vendor, product});
    }
    // Every pair the keymap module knows (product ids below 256) is tagged.
    for (int vendor = 0; vendor <= 0xFFFF; ++vendor) {
        for (int product = 0; product <= 0xFF; ++product) {
            if (KZ714keymapType(vendor, product) != nullptr) {
                EXPECT_TRUE(tagged.count({vendor, product})) << vendor << "/" << product << " is not tagged";
            }
        }
    }
    EXPECT_EQ(tagged.size(), 4u);
}

}  // namespace
