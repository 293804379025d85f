// Where a notice's text goes besides the journal: standard error, unless
// standard error is the journal stream systemd gave the service.
#include "platform/notice/notice.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "tests/support/temp_dir.h"

namespace {

using vexa::notice::Level;
using vexa::notice::Notice;

// Writes `notice` with standard error on a stream socket, as systemd
// connects a service's output to the journal, and JOURNAL_STREAM made by
// `stream` from that socket (null: unset). Returns what standard error got.
std::string standardErrorOf(const Notice& notice, const std::function<std::string(const struct stat&)>& stream) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return "no socket";
    struct stat st {};
    ::fstat(pair[0], &st);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(pair[0], STDERR_FILENO);
    {
        const std::string value = stream ? stream(st) : "";
        vexa::test::ScopedEnv env("JOURNAL_STREAM", stream ? value.c_str() : nullptr);
        vexa::notice::writeToJournal(notice);
    }
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(pair[0]);
    std::string out;
    char buffer[256];
    for (ssize_t n; (n = ::read(pair[1], buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<std::size_t>(n));
    ::close(pair[1]);
    return out;
}

std::string id(unsigned long long device, unsigned long long inode) {
    return std::to_string(device) + ":" + std::to_string(inode);
}

TEST(NoticeJournal, StandardErrorCarriesTheTextUnlessItIsTheJournal) {
    const Notice notice{Level::Caution, "VexaOrlaSetUpper", "Vexa Orla SetUpper",
                        "An error occurred.\nVexaOrlaSetUpper 4.0.2: 130.0029, -5, ", true};
    const std::string lines =
        "<4>Vexa Orla SetUpper: An error occurred.\n<4>Vexa Orla SetUpper: VexaOrlaSetUpper 4.0.2: 130.0029, -5, \n";
    const struct {
        const char* name;
        std::function<std::string(const struct stat&)> stream;
        std::string expected;
    } cases[] = {
        {"the service's journal stream", [](const struct stat& st) { return id(st.st_dev, st.st_ino); }, ""},
        {"no journal stream (a terminal, a test)", nullptr, lines},
        {"standard error redirected elsewhere", [](const struct stat& st) { return id(st.st_dev, st.st_ino + 1); },
         lines},
        {"an unreadable stream name", [](const struct stat&) { return std::string("journal"); }, lines},
    };
    for (const auto& c : cases) EXPECT_EQ(standardErrorOf(notice, c.stream), c.expected) << c.name;
}

}  // namespace
