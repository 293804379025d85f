// Tests the udev rule for the keyboards' hidraw nodes: udev's syntax, and that it tags exactly the keyboards keymap/ knows.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "keymap/keymap.h"

namespace {

struct Assignment {
    std::string key;  // with its {attribute}, if any
    std::string op;
    std::string value;
};
using Rule = std::vector<Assignment>;

// Splits one rule line as udev does: KEY[{attr}] OP "value", separated by
// commas. False, with the reason, for anything udev would refuse or warn about.
bool parseLine(const std::string& line, Rule& rule, std::string& error) {
    static const std::regex item(R"re(\s*([A-Z]+(?:\{[^}]+\})?)\s*(==|!=|\+=|-=|:=|=)\s*"([^"]*)"\s*(,|$))re");
    static const std::set<std::string> matchKeys = {"ACTION", "SUBSYSTEM", "SUBSYSTEMS", "KERNEL", "KERNELS", "TAG"};
    static const std::set<std::string> assignKeys = {"TAG", "GOTO", "LABEL"};
    auto at = line.cbegin();
    std::smatch m;
    while (at != line.cend()) {
        if (!std::regex_search(at, line.cend(), m, item, std::regex_constants::match_continuous)) {
            error = "cannot read \"" + std::string(at, line.cend()) + "\"";
            return false;
        }
        const Assignment a{m[1], m[2], m[3]};
        const bool isMatch = a.op == "==" || a.op == "!=";
        if (!(isMatch ? matchKeys : assignKeys).count(a.key)) {
            error = a.key + a.op + " is not among the " + (isMatch ? "matches" : "assignments") + " of this rule file";
            return false;
        }
        rule.push_back(a);
        at = m[0].second;
        if (m[4].length() == 0 && at != line.cend()) return false;
    }
    return !rule.empty();
}

const Assignment* find(const Rule& rule, const std::string& key, const std::string& op) {
    for (const Assignment& a : rule) {
        if (a.key == key && a.op == op) return &a;
    }
    return nullptr;
}

TEST(UdevRule, TagsTheKeyboardsOfKeymapAndNothingElse) {
    std::ifstream file(VEXA_UDEV_RULE);
    ASSERT_TRUE(file) << VEXA_UDEV_RULE;
    std::vector<Rule> rules;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        const auto first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        Rule rule;
        std::string error;
        ASSERT_TRUE(parseLine(line, rule, error)) << "line " << number << ": " << error;
        rules.push_back(rule);
    }

    // Every GOTO leads forward to its LABEL; the tag lines lie between the
    // "not hidraw" skip and that label.
    std::map<std::string, std::size_t> labels;
    for (std::size_t i = 0; i < rules.size(); ++i) {
        if (const Assignment* l = find(rules[i], "LABEL", "=")) labels[l->value] = i;
    }
    std::size_t hidrawOnlyFrom = rules.size(), hidrawOnlyTo = 0;
    for (std::size_t i = 0; i < rules.size(); ++i) {
        const Assignment* jump = find(rules[i], "GOTO", "=");
        if (!jump) continue;
        ASSERT_TRUE(labels.count(jump->value) && labels[jump->value] > i) << "GOTO " << jump->value;
        const Assignment* notHidraw = find(rules[i], "SUBSYSTEM", "!=");
        if (notHidraw && notHidraw->value == "hidraw" && rules[i].size() == 2) {
            hidrawOnlyFrom = i;
            hidrawOnlyTo = labels[jump->value];
        }
    }

    static const std::regex hidKernelName(R"(0003:([0-9A-F]{4}):([0-9A-F]{4})\.\*)");
    std::set<std::pair<int, int>> tagged;
    for (std::size_t i = 0; i < rules.size(); ++i) {
        const Assignment* tag = find(rules[i], "TAG", "+=");
        if (!tag) continue;
        EXPECT_EQ(tag->value, "uaccess");
        EXPECT_TRUE(i > hidrawOnlyFrom && i < hidrawOnlyTo) << "rule " << i << " may tag other subsystems";
        const Assignment* subsystems = find(rules[i], "SUBSYSTEMS", "==");
        const Assignment* kernels = find(rules[i], "KERNELS", "==");
        ASSERT_TRUE(subsystems && kernels) << "rule " << i << " matches no HID device";
        EXPECT_EQ(subsystems->value, "hid");
        std::smatch ids;
        ASSERT_TRUE(std::regex_match(kernels->value, ids, hidKernelName)) << kernels->value;
        const int vendor = std::stoi(ids[1], nullptr, 16), product = std::stoi(ids[2], nullptr, 16);
        EXPECT_NE(KZ714keymapType(vendor, product), nullptr) << kernels->value << " is no keyboard of the suite";
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
