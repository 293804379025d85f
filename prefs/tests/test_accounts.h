// Accounts that exist for one test process only: the process moves into a
// private mount namespace and binds copies of /etc/passwd and /etc/group,
// with the accounts added, over the real ones. Nothing on the machine
// changes and nothing is left behind, even when a test crashes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vexa::prefs::test {

struct TestAccount {
    std::string name;
    uid_t uid;
    gid_t gid;
    std::string home;                     // not created
    std::vector<std::string> groups = {};  // supplementary groups, made too
};

struct TestGroup {
    std::string name;
    gid_t gid;
};

// Makes the accounts and groups visible to this process (each account also
// gets a group of its own name and id). Needs root. Returns "" or why it
// could not; call it once per process.
std::string addTestAccounts(const std::vector<TestAccount>& accounts, const std::vector<TestGroup>& groups,
                            const std::string& scratchFolder);

}  // namespace vexa::prefs::test
