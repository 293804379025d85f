#include "platform/user/user.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include "tests/support/temp_dir.h"

namespace {

using vexa::test::ScopedEnv;
using vexa::user::homeDirectoryForUser;

// Some account in the passwd database other than the one running the test.
const passwd* otherUser() {
    const uid_t self = ::getuid();
    for (const char* name : {"nobody", "daemon", "root"}) {
        const passwd* pw = ::getpwnam(name);
        if (pw != nullptr && pw->pw_uid != self) return pw;
    }
    return nullptr;
}

TEST(User, UserNameIsTheRealUsersLoginName) {
    const passwd* pw = ::getpwuid(::getuid());
    ASSERT_NE(pw, nullptr);
    EXPECT_EQ(vexa::user::userName(), pw->pw_name);
}

TEST(User, HomeOfTheRunningUserFollowsHomeWhenSet) {
    const std::string self = vexa::user::userName();
    const passwd* pw = ::getpwuid(::getuid());
    ASSERT_NE(pw, nullptr);
    const std::string passwdHome = pw->pw_dir;
    {
        ScopedEnv home("HOME", "/tmp/elsewhere");
        EXPECT_EQ(homeDirectoryForUser(self.c_str()), "/tmp/elsewhere");
        EXPECT_EQ(homeDirectoryForUser(nullptr), "/tmp/elsewhere");
    }
    for (const char* unsetOrEmpty : {static_cast<const char*>(nullptr), ""}) {
        ScopedEnv home("HOME", unsetOrEmpty);
        EXPECT_EQ(homeDirectoryForUser(self.c_str()), passwdHome);
        EXPECT_EQ(homeDirectoryForUser(nullptr), passwdHome);
    }
}

TEST(User, HomeOfAnotherUserComesFromPasswdNeverFromHome) {
    const passwd* other = otherUser();
    ASSERT_NE(other, nullptr) << "no second account in the passwd database";
    const std::string name = other->pw_name;
    const std::string home = other->pw_dir;
    ScopedEnv env("HOME", "/tmp/elsewhere");
    EXPECT_EQ(homeDirectoryForUser(name.c_str()), home);
}

TEST(User, UnknownOrEmptyNameHasNoHome) {
    EXPECT_EQ(homeDirectoryForUser("no-such-user-vexa-test"), std::nullopt);
    EXPECT_EQ(homeDirectoryForUser(""), std::nullopt);
}

}  // namespace
