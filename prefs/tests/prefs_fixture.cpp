#include "prefs_fixture.h"

#include "errors/error_stack.h"
#include "platform/resourcefile/resource_file.h"
#include "platform/user/user.h"

namespace vexa::prefs::test {

Table table(std::uint8_t seed) {
    Table t;
    for (std::size_t i = 0; i < t.size(); ++i) t[i] = static_cast<std::uint8_t>(seed + i * 7 + 1);
    return t;
}

vexa::archive::Data data(const Table& t) { return vexa::archive::Data(t.begin(), t.end()); }

Table legacyTable(std::uint8_t seed) {
    Table t;
    for (std::size_t i = 0; i < t.size(); ++i) t[i] = static_cast<std::uint8_t>((seed + i * 5) % 128);
    return t;
}

Table converted(Table legacy) {
    KZ714converOldOrlaKeymap(legacy.data());
    return legacy;
}

Table defaultTable(KeymapType type) {
    Table t;
    if (type != nullptr && std::string(type) == KZ714_TYPE_JIS) {
        KZ714defaultOrlaJISKeymap(t.data());
    } else {
        KZ714defaultOrlaANSIKeymap(t.data());
    }
    return t;
}

std::vector<std::string> errorStack() {
    std::vector<std::string> entries;
    for (const auto& e : g_err_buf) {
        if (e[0] != '\0') entries.emplace_back(e);
    }
    return entries;
}

void PrefsTest::SetUp() {
    user = vexa::user::userName();
    ASSERT_FALSE(user.empty());
    KZ710getErrorString();  // starts with an empty stack
}

void PrefsTest::TearDown() { KZ710getErrorString(); }

void PrefsTest::writeCurrent(const vexa::archive::Dictionary& root) {
    std::optional<vexa::Error> error;
    ASSERT_EQ(KZ730writeNewPrefFile(user.c_str(), &root, &error), 0);
}

void PrefsTest::writeLegacy(const std::vector<vexa::test::TestResource>& resources) {
    vexa::test::writeTestFile(oldPath(), vexa::test::makeResourceFile(resources));
}

}  // namespace vexa::prefs::test
