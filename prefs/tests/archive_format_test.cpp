// The file we write is a keyed archive that another reader understands:
// Debian's python3 plistlib reads it and finds UID values where the graph
// has references.
#include <gtest/gtest.h>

#include <cstdio>
#include <sys/wait.h>

#include "prefs_fixture.h"

namespace {

using namespace vexa::prefs::test;
using vexa::archive::Array;
using vexa::archive::Dictionary;

std::string hex(const Table& t) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (auto b : t) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

// Runs the checker on a file; returns its exit status and standard output.
std::pair<int, std::string> runChecker(const std::string& path) {
    const std::string command = std::string(VEXA_PYTHON3) + " " + VEXA_CHECK_ARCHIVE_SCRIPT + " '" + path + "'";
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

}  // namespace
