// The VexaOrlaSetUpper process on a private system bus with the driver's and
// logind's policies, against stand-ins for the driver, logind and the
// desktop's notification server: scenarios of start, keyboards, console
// users, "Reconfigure", failures, restarts of logind and the driver, refused
// starts, SIGTERM and a lost system bus.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "keymap/keymap.h"
#include "prefs/prefs.h"
#include "prefs/setupper_bus.h"
#include "tests/standins/daemon_process.h"
#include "tests/standins/driver_standin.h"
#include "tests/standins/logind_standin.h"
#include "tests/standins/notification_standin.h"
#include "tests/support/event_loop.h"
#include "tests/support/private_bus.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using Table = std::array<std::uint8_t, KZ714_KEYMAP_SIZE>;
using vexa::test::DriverStandin;
using vexa::test::runDefaultEventLoopUntil;

Table defaults(KeymapType type) {
    Table t{};
    if (std::strcmp(type, KZ714_TYPE_JIS) == 0) KZ714defaultOrlaJISKeymap(t.data());
    else KZ714defaultOrlaANSIKeymap(t.data());
    return t;
}
Table with(KeymapType type, std::initializer_list<std::pair<int, int>> entries) {
    Table t = defaults(type);
    for (auto [index, value] : entries) t[static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(value);
    return t;
}
const Table kAnsi = defaults(KZ714_TYPE_ANSI);
const Table kJis = defaults(KZ714_TYPE_JIS);
// Saved tables: A sends Escape for alice, B for bob; root's own file must never be read.
struct Tables {
    Table ansi, jis;
};
const Tables kAlice{with(KZ714_TYPE_ANSI, {{0x04, 0x29}}), with(KZ714_TYPE_JIS, {{0x04, 0x29}})};
const Tables kAlice2{with(KZ714_TYPE_ANSI, {{0x04, 0x2B}}), with(KZ714_TYPE_JIS, {{0x04, 0x2B}})};
const Tables kBob{with(KZ714_TYPE_ANSI, {{0x04, 0x05}}), with(KZ714_TYPE_JIS, {{0x05, 0x04}})};
const Tables kRoot{with(KZ714_TYPE_ANSI, {{0x04, 0x1E}}), with(KZ714_TYPE_JIS, {{0x04, 0x1E}})};

struct User {
    std::string name;
    std::uint32_t uid, gid;
};
const std::vector<User> kUsers = {{"alice", 4101, 4101}, {"bob", 4102, 4102}, {"dave", 4103, 4103}};

// Keyboards: the vendor and product pairs of both types, and another maker's.
struct Keyboard {
    std::int32_t vendor, product;
};
const Keyboard kOrlaANSI{1278, 6}, kOrlaJIS{1138, 104}, kOther{0x046D, 0xC31C};

namespace step {
struct Publish { std::string name; Keyboard keyboard; std::string className = "mirlan_VexaOrla"; };
struct Answer { std::string name; std::int32_t status; std::string busError = ""; };
struct RestartDriver {};
struct Console { std::optional<std::string> user; };  // a new session of the user, or nobody
struct ExpectReading {};                               // the daemon has read the new session
struct Regroup { std::string user; std::uint32_t gid; };
struct Save { std::string user; Tables tables; };      // "root" is root's own $HOME
struct NoLogind {};
struct StartLogind {};
struct StopLogind {};     // logind's name loses its owner; its sessions stay
struct RestartLogind {};  // logind is back with its sessions
struct FailListing { std::string busError; };  // the driver's GetManagedObjects fails ("": it answers)
struct LoseSystemBus {};
struct MarkupServer {};
struct Start { std::string launcher = "systemd"; };
struct Post { std::string object; };
// The SetProperties calls since the last expectation, by instance.
struct ExpectSet { std::vector<std::pair<std::string, Table>> calls; };
// `count` calls since the last expectation, all with `table`, to any instances.
struct ExpectSetAny { std::size_t count; Table table; };
struct ExpectNotice { int urgency; std::string body; bool sound = true; };
struct ExpectExit {};  // the process ends by itself with status 0
struct Stop {};        // SIGTERM: status 0, watchers removed in reverse order, nothing left unseen
struct ExpectFailureExit {};  // the process ends by itself with status 1, watchers removed in reverse order
}  // namespace step

using Step = std::variant<step::Publish, step::Answer, step::RestartDriver, step::Console, step::ExpectReading,
                          step::Regroup, step::Save, step::NoLogind, step::StartLogind, step::StopLogind,
                          step::RestartLogind, step::FailListing, step::LoseSystemBus, step::MarkupServer, step::Start,
                          step::Post, step::ExpectSet, step::ExpectSetAny, step::ExpectNotice, step::ExpectExit,
                          step::Stop, step::ExpectFailureExit>;
struct Scenario {
    const char* name;
    std::vector<Step> steps;
};
void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

std::string policy(const char* file) { return std::string("<include>") + file + "</include>"; }

class DaemonTest : public ::testing::TestWithParam<Scenario> {
protected:
    void SetUp() override {
        // The daemon reads each home with its user's rights: the users must be
        // able to pass through the folder that holds their homes.
        ASSERT_EQ(::chmod(dir_.path().c_str(), 0711), 0);
        for (const User& u : kUsers) {
            const std::string home = dir_ / u.name;
            std::filesystem::create_directories(home);
            ASSERT_EQ(::chown(home.c_str(), u.uid, u.gid), 0);
            ::chmod(home.c_str(), 0700);
        }
        std::filesystem::create_directories(dir_ / "root");
        writeUserDatabase();
        {
            // The session bus knows the test users (it lets in only users it can name).
            vexa::test::ScopedEnv preload("LD_PRELOAD", VEXA_NSS_WRAPPER);
            vexa::test::ScopedEnv passwd("NSS_WRAPPER_PASSWD", (dir_ / "passwd").c_str());
            vexa::test::ScopedEnv group("NSS_WRAPPER_GROUP", (dir_ / "group").c_str());
            sessionBus_.emplace("<policy context=\"default\"><allow own=\"org.freedesktop.Notifications\"/>"
                                "<allow send_destination=\"org.freedesktop.Notifications\"/></policy>",
                                vexa::test::BusKind::Session);
        }
        notifications_.emplace();
        // The console user reaches the session bus, as under /run/user/<uid>.
        const std::string& address = sessionBus_->address();
        const auto start = address.find("path=") + 5;
        const std::string socket = address.substr(start, address.find(',', start) - start);
        ASSERT_EQ(::chmod(std::filesystem::path(socket).parent_path().c_str(), 0755), 0);
        sd_bus* raw = nullptr;
        ASSERT_GE(sd_bus_open_system(&raw), 0);
        poster_.reset(raw);
    }

    void writeUserDatabase() {
        std::ofstream passwd(dir_ / "passwd.new"), group(dir_ / "group");
        passwd << "root:x:0:0:root:" << (dir_ / "root") << ":/bin/sh\n";
        group << "root:x:0:\nother:x:4200:\n";
        for (const User& u : users_) {
            passwd << u.name << ":x:" << u.uid << ":" << u.gid << "::" << (dir_ / u.name) << ":/bin/sh\n";
            group << u.name << ":x:" << u.gid << ":\n";
        }
        passwd.close();
        // A new file (not rewritten in place), so that readers notice the change.
        std::filesystem::rename(dir_ / "passwd.new", dir_ / "passwd");
    }

    const User& user(const std::string& name) {
        const auto it = std::find_if(users_.begin(), users_.end(), [&](const User& u) { return u.name == name; });
        if (it == users_.end()) throw std::runtime_error("no test user " + name);
        return *it;
    }

    void save(const std::string& name, const Tables& tables) {
        const std::string home = dir_ / name;
        vexa::archive::Dictionary root;
        ASSERT_EQ(KZ730setKeymapToPrefData(&root, KZ714_TYPE_ANSI, tables.ansi.data()), 0);
        ASSERT_EQ(KZ730setKeymapToPrefData(&root, KZ714_TYPE_JIS, tables.jis.data()), 0);
        {
            vexa::test::ScopedEnv homeEnv("HOME", home.c_str());
            ASSERT_EQ(KZ730writeNewPrefFile(nullptr, &root, nullptr), 0);
        }
        if (name == "root") return;
        // The user's own file, as the editor run by that user leaves it.
        const User& u = user(name);
        for (const auto& p : std::filesystem::recursive_directory_iterator(home)) {
            ASSERT_EQ(::lchown(p.path().c_str(), u.uid, u.gid), 0);
        }
    }

    // The daemon with its own environment: the test users, root's home.
    void start(const std::string& launcher) {
        auto env = vexa::test::environmentWithout({"ASAN_OPTIONS", "HOME", "LD_PRELOAD"});
        const char* asan = std::getenv("ASAN_OPTIONS");
        // nss_wrapper is preloaded before the sanitizer's runtime.
        env.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0");
        env.push_back("LD_PRELOAD=" VEXA_NSS_WRAPPER);
        env.push_back("NSS_WRAPPER_DISABLE_DEEPBIND=1");  // the sanitizers' runtime refuses RTLD_DEEPBIND
        env.push_back("NSS_WRAPPER_PASSWD=" + (dir_ / "passwd"));
        env.push_back("NSS_WRAPPER_GROUP=" + (dir_ / "group"));
        env.push_back("HOME=" + (dir_ / "root"));
        // A unit search path without the driver's unit: the daemon never
        // re-enumerates the keyboards of the machine the tests run on.
        env.push_back("SYSTEMD_UNIT_PATH=" + (dir_ / "units"));
        daemon_.start(std::move(env), launcher);
    }

    // Runs the loop (which serves every stand-in) until `done`, taking in
    // the daemon's output and noticing its end on the way.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
        return runDefaultEventLoopUntil(
            [&] {
                daemon_.poll();
                return done();
            },
            timeout);
    }

    std::string describe(const std::vector<DriverStandin::Call>& calls, std::size_t from) {
        std::string out;
        for (std::size_t i = from; i < calls.size(); ++i) out += " " + calls[i].path;
        return out.empty() ? " (none)" : out;
    }

    void exec(const step::Publish& s) {
        paths_[s.name] = driver_.publish({s.name, s.keyboard.vendor, s.keyboard.product, 0, s.className, 0, ""});
    }
    void exec(const step::Answer& s) { driver_.setAnswer(paths_.at(s.name), s.status, s.busError); }
    void exec(const step::RestartDriver&) { driver_.restart(); }
    void exec(const step::Console& s) {
        ASSERT_TRUE(logind_) << "no logind";
        if (!s.user) logind_->activate(std::nullopt);
        else logind_->activate(vexa::test::LogindStandin::User{*s.user, user(*s.user).uid});
        nameReads_ = logind_->activeNameReads();
    }
    void exec(const step::ExpectReading&) {
        EXPECT_TRUE(runUntil([&] { return logind_->activeNameReads() > nameReads_; }))
            << "the daemon did not read the session";
    }
    void exec(const step::Regroup& s) {
        std::find_if(users_.begin(), users_.end(), [&](const User& u) { return u.name == s.user; })->gid = s.gid;
        writeUserDatabase();
    }
    void exec(const step::Save& s) { save(s.user, s.tables); }
    void exec(const step::NoLogind&) { logind_.reset(); }
    void exec(const step::StartLogind&) { logind_.emplace(); }
    void exec(const step::StopLogind&) { logind_->stop(); }
    void exec(const step::RestartLogind&) {
        logind_->restart();
        nameReads_ = logind_->activeNameReads();
    }
    void exec(const step::FailListing& s) { driver_.listingError = s.busError; }
    void exec(const step::LoseSystemBus&) { ASSERT_EQ(::kill(systemBus_.pid(), SIGKILL), 0); }
    void exec(const step::MarkupServer&) { notifications_->bodyMarkup = true; }
    void exec(const step::Start& s) {
        start(s.launcher);
        if (s.launcher != "systemd") return;
        // Steps after the start find every watcher installed.
        ASSERT_TRUE(runUntil([&] { return daemon_.ready(); })) << "the daemon never said it is ready; stderr:\n"
                                                              << daemon_.log();
    }
    void exec(const step::Post& s) {
        namespace names = vexa::setupper_bus;
        ASSERT_GE(sd_bus_emit_signal(poster_.get(), names::kObjectPath, names::kInterface, names::kMember, "s",
                                     s.object.c_str()),
                  0);
        ASSERT_GE(sd_bus_flush(poster_.get()), 0);
    }
    void exec(const step::ExpectSet& s) {
        const auto& calls = driver_.calls;
        runUntil([&] { return calls.size() >= seenCalls_ + s.calls.size(); });
        std::map<std::string, Table> got, wanted;
        for (std::size_t i = seenCalls_; i < calls.size(); ++i) {
            Table t{};
            ASSERT_EQ(calls[i].table.size(), t.size()) << calls[i].path;
            std::copy(calls[i].table.begin(), calls[i].table.end(), t.begin());
            EXPECT_TRUE(got.emplace(calls[i].path, t).second) << calls[i].path << " set twice";
        }
        for (const auto& [name, table] : s.calls) wanted[paths_.at(name)] = table;
        EXPECT_EQ(calls.size() - seenCalls_, s.calls.size()) << "calls:" << describe(calls, seenCalls_) << "\n" << daemon_.log();
        for (const auto& [path, table] : wanted) {
            const auto it = got.find(path);
            if (it == got.end()) ADD_FAILURE() << path << " was not set; calls:" << describe(calls, seenCalls_) << daemon_.log();
            else EXPECT_TRUE(it->second == table) << path << " got another table";
        }
        seenCalls_ = calls.size();
    }
    void exec(const step::ExpectSetAny& s) {
        const auto& calls = driver_.calls;
        runUntil([&] { return calls.size() >= seenCalls_ + s.count; });
        EXPECT_EQ(calls.size() - seenCalls_, s.count) << "calls:" << describe(calls, seenCalls_);
        for (std::size_t i = seenCalls_; i < calls.size(); ++i) {
            EXPECT_TRUE(std::equal(s.table.begin(), s.table.end(), calls[i].table.begin(), calls[i].table.end()))
                << calls[i].path << " got another table";
        }
        seenCalls_ = calls.size();
    }
    void exec(const step::ExpectNotice& s) {
        const auto& got = notifications_->received;
        ASSERT_TRUE(runUntil([&] { return got.size() > seenNotices_; })) << "no notice; stderr:\n" << daemon_.log();
        const auto& n = got[seenNotices_++];
        EXPECT_EQ(n.summary, "Vexa Orla SetUpper");
        EXPECT_EQ(n.body, s.body);
        EXPECT_EQ(n.urgency, s.urgency);
        EXPECT_EQ(n.soundName, s.sound ? "dialog-warning" : "");
        EXPECT_EQ(n.expireTimeout, 0);
        EXPECT_EQ(n.appName, "VexaOrlaSetUpper");
        // Shown by the console user's own process, never by root.
        EXPECT_EQ(n.senderUid, user("alice").uid);
        // That process holds nothing of the running daemon's: no bus connection, no event loop.
        EXPECT_GT(n.senderPid, 0);
        if (daemon_.pid() <= 0) return;
        const auto daemonFiles = vexa::test::openFilesOf(daemon_.pid());
        for (const std::string& file : n.senderFiles) {
            if (file.starts_with("/")) continue;  // a path: opened by each on its own
            EXPECT_EQ(daemonFiles.count(file), 0u) << "the notice's sender holds the daemon's " << file;
        }
    }
    void exec(const step::ExpectExit&) {
        ASSERT_TRUE(runUntil([&] { return daemon_.exitStatus().has_value(); })) << "still running; stderr:\n" << daemon_.log();
        EXPECT_EQ(*daemon_.exitStatus(), 0);
        EXPECT_EQ(driver_.calls.size(), seenCalls_) << "calls:" << describe(driver_.calls, seenCalls_);
    }
    void exec(const step::Stop&) {
        ASSERT_GT(daemon_.pid(), 0) << "the daemon ended early (status " << daemon_.exitStatus().value_or(-1) << "); stderr:\n" << daemon_.log();
        daemon_.terminate();
        ASSERT_TRUE(runUntil([&] { return daemon_.exitStatus().has_value(); })) << "no exit after SIGTERM; stderr:\n" << daemon_.log();
        EXPECT_EQ(*daemon_.exitStatus(), 0) << daemon_.log();
        expectWatchersRemoved();
    }
    void exec(const step::ExpectFailureExit&) {
        ASSERT_TRUE(runUntil([&] { return daemon_.exitStatus().has_value(); })) << "still running; stderr:\n" << daemon_.log();
        EXPECT_EQ(*daemon_.exitStatus(), 1) << daemon_.log();
        EXPECT_NE(daemon_.log().find("lost the system bus"), std::string::npos) << daemon_.log();
        expectWatchersRemoved();
    }
    void expectWatchersRemoved() {
        const auto reconfigure = daemon_.log().find("no longer observing \"Reconfigure\"");
        const auto devices = daemon_.log().find("no longer watching driver instances");
        const auto console = daemon_.log().find("no longer watching the console user");
        EXPECT_TRUE(reconfigure != std::string::npos && devices != std::string::npos && console != std::string::npos &&
                    reconfigure < devices && devices < console)
            << "watchers not removed in reverse order:\n" << daemon_.log();
        EXPECT_EQ(driver_.calls.size(), seenCalls_) << "unexpected calls:" << describe(driver_.calls, seenCalls_);
        EXPECT_EQ(notifications_->received.size(), seenNotices_) << "unexpected notice: "
                                                                 << notifications_->received.back().body;
    }

    vexa::test::TempDir dir_;
    vexa::test::PrivateSystemBus systemBus_{policy(VEXA_DRIVER_POLICY) + policy(VEXA_LOGIND_POLICY)};
    DriverStandin driver_;
    std::optional<vexa::test::LogindStandin> logind_{std::in_place};
    std::optional<vexa::test::PrivateSystemBus> sessionBus_;
    std::optional<vexa::test::NotificationStandin> notifications_;
    vexa::BusPtr poster_;
    std::vector<User> users_ = kUsers;
    std::map<std::string, std::string> paths_;
    std::size_t seenCalls_ = 0, seenNotices_ = 0;
    int nameReads_ = 0;  // the active session's Name reads when logind last changed
    vexa::test::DaemonProcess daemon_{VEXA_DAEMON, dir_.path()};
};

TEST_P(DaemonTest, Scenario) {
    for (const Step& s : GetParam().steps) {
        std::visit([this](const auto& st) { exec(st); }, s);
        if (HasFatalFailure()) return;
    }
}

using namespace step;
const std::string kChain = "VexaOrlaSetUpper 4.0.2: ";

const Scenario kScenarios[] = {
    {"PresentKeyboardsGetTheConsoleUsersTablesAtStart",
     {Save{"alice", kAlice}, Console{"alice"}, Publish{"ansi", kOrlaANSI}, Publish{"jis", kOrlaJIS}, Start{},
      ExpectSet{{{"ansi", kAlice.ansi}, {"jis", kAlice.jis}}}, Stop{}}},
    {"ANewKeyboardGetsThem",
     {Save{"alice", kAlice}, Console{"alice"}, Start{}, ExpectSet{}, Publish{"jis", kOrlaJIS},
      ExpectSet{{{"jis", kAlice.jis}}}, Publish{"ansi", kOrlaANSI}, ExpectSet{{{"ansi", kAlice.ansi}}}, Stop{}}},
    {"ReconfigureAppliesTheSavedTablesAgainAndOtherObjectsDoNothing",
     {Save{"alice", kAlice}, Console{"alice"}, Publish{"ansi", kOrlaANSI}, Publish{"jis", kOrlaJIS}, Start{},
      ExpectSet{{{"ansi", kAlice.ansi}, {"jis", kAlice.jis}}}, Save{"alice", kAlice2}, Post{"reconfigure"},
      Post{"RECONFIGURE"}, Post{"Reconfigure "}, Post{""}, Post{"Reconfigure"},
      ExpectSet{{{"ansi", kAlice2.ansi}, {"jis", kAlice2.jis}}}, Post{"Reconfigure"},
      ExpectSet{{{"ansi", kAlice2.ansi}, {"jis", kAlice2.jis}}}, Stop{}}},
    {"TwoReconfiguresInARowGiveTwoPasses",
     {Save{"alice", kAlice}, Console{"alice"}, Publish{"a", kOrlaANSI}, Publish{"b", kOrlaANSI}, Start{},
      ExpectSetAny{2, kAlice.ansi}, Save{"alice", kAlice2}, Post{"Reconfigure"}, Post{"Reconfigure"},
      ExpectSetAny{4, kAlice2.ansi}, Stop{}}},
    {"AnotherConsoleUserGetsOnePassTheSameIdsNone",
     {Save{"alice", kAlice}, Save{"bob", kBob}, Console{"alice"}, Publish{"ansi", kOrlaANSI}, Start{},
      ExpectSet{{{"ansi", kAlice.ansi}}}, Console{"bob"}, ExpectSet{{{"ansi", kBob.ansi}}},
      // The same IDs in a new session: no pass (the next change would come after it).
      Console{"bob"}, ExpectReading{}, Regroup{"bob", 4200}, Console{"bob"}, ExpectSet{{{"ansi", kBob.ansi}}},
      Console{std::nullopt}, ExpectSet{{{"ansi", kAnsi}}}, Console{"alice"}, ExpectSet{{{"ansi", kAlice.ansi}}},
      Stop{}}},
    {"NobodyAtTheConsoleGetsDefaultsAndRootsFileIsNeverRead",
     {Save{"root", kRoot}, Save{"alice", kAlice}, Publish{"ansi", kOrlaANSI}, Publish{"jis", kOrlaJIS}, Start{},
      ExpectSet{{{"ansi", kAnsi}, {"jis", kJis}}}, Post{"Reconfigure"}, ExpectSet{{{"ansi", kAnsi}, {"jis", kJis}}},
      Console{"dave"}, ExpectSet{{{"ansi", kAnsi}, {"jis", kJis}}}, Stop{}}},
    {"WithoutLogindDefaultsUntilItComes",
     {NoLogind{}, Save{"alice", kAlice}, Publish{"jis", kOrlaJIS}, Start{}, ExpectSet{{{"jis", kJis}}},
      StartLogind{}, Console{"alice"}, ExpectSet{{{"jis", kAlice.jis}}}, Stop{}}},
    {"KeyboardsOfOtherMakersAndOtherClassesAreSkipped",
     {Save{"alice", kAlice}, Console{"alice"}, Publish{"other", kOther}, Publish{"ansi", kOrlaANSI},
      Publish{"foreign", kOrlaJIS, "mirlan_VexaOrla2"}, Start{}, ExpectSet{{{"ansi", kAlice.ansi}}},
      Publish{"other2", kOther}, Publish{"jis", kOrlaJIS}, ExpectSet{{{"jis", kAlice.jis}}}, Post{"Reconfigure"},
      ExpectSet{{{"ansi", kAlice.ansi}, {"jis", kAlice.jis}}}, Stop{}}},
    {"APassStopsAtTheFirstFailureWithOneCautionNotice",
     {Save{"alice", kAlice}, Console{"alice"}, Publish{"a", kOrlaANSI}, Publish{"b", kOrlaANSI}, Answer{"a", -5},
      Answer{"b", -5}, Start{}, ExpectSetAny{1, kAlice.ansi},
      ExpectNotice{1, "An error occurred.\n" + kChain + "120.0043, 130.0069, 130.0054, 130.0029, -5, "},
      Post{"Reconfigure"}, ExpectSetAny{1, kAlice.ansi},
      ExpectNotice{1, "An error occurred.\n" + kChain + "140.0037, 130.0086, 130.0069, 130.0054, 130.0029, -5, "},
      // A refusal by the bus reads as its errno.
      Answer{"a", 0, "org.freedesktop.DBus.Error.AccessDenied"}, Answer{"b", 0, "org.freedesktop.DBus.Error.AccessDenied"},
      Post{"Reconfigure"}, ExpectSetAny{1, kAlice.ansi},
      ExpectNotice{1, "An error occurred.\n" + kChain + "140.0037, 130.0086, 130.0069, 130.0054, 130.0029, -13, "},
      // The failed passes left the notification armed: a new keyboard is still served.
      Answer{"a", 0}, Answer{"b", 0}, Publish{"c", kOrlaJIS}, ExpectSet{{{"c", kAlice.jis}}}, Post{"Reconfigure"},
      ExpectSet{{{"a", kAlice.ansi}, {"b", kAlice.ansi}, {"c", kAlice.jis}}}, Stop{}}},
    {"LogindRestartingIsNoConsoleChange",
     {Save{"alice", kAlice}, Save{"bob", kBob}, Console{"alice"}, Publish{"ansi", kOrlaANSI}, Start{},
      ExpectSet{{{"ansi", kAlice.ansi}}}, StopLogind{}, Post{"Reconfigure"}, ExpectSet{{{"ansi", kAlice.ansi}}},
      RestartLogind{}, ExpectReading{}, Post{"Reconfigure"}, ExpectSet{{{"ansi", kAlice.ansi}}},
      // Another user at the console by the time logind is back: one pass.
      StopLogind{}, Console{"bob"}, RestartLogind{}, ExpectSet{{{"ansi", kBob.ansi}}}, Stop{}}},
    {"ADriverThatFailsToListItsInstancesIsHeardWhenItAnnouncesOne",
     {Save{"alice", kAlice}, Console{"alice"}, Publish{"ansi", kOrlaANSI},
      FailListing{"org.freedesktop.DBus.Error.AccessDenied"}, Start{},
      ExpectNotice{1, "An error occurred.\n" + kChain + "100.0036, 120.0022, 722.0045, -13, "}, ExpectSet{},
      FailListing{""}, Publish{"jis", kOrlaJIS}, ExpectSet{{{"ansi", kAlice.ansi}, {"jis", kAlice.jis}}},
      RestartDriver{}, ExpectSet{{{"ansi", kAlice.ansi}, {"jis", kAlice.jis}}}, Stop{}}},
    {"ADriverThatFailsToListItsInstancesIsHeardWhenItStartsAgain",
     {Save{"alice", kAlice}, Console{"alice"}, Publish{"ansi", kOrlaANSI},
      FailListing{"org.freedesktop.DBus.Error.AccessDenied"}, Start{},
      ExpectNotice{1, "An error occurred.\n" + kChain + "100.0036, 120.0022, 722.0045, -13, "}, FailListing{""},
      RestartDriver{}, ExpectSet{{{"ansi", kAlice.ansi}}}, Stop{}}},
    {"LosingTheSystemBusEndsTheDaemonWithAFailure",
     {Save{"alice", kAlice}, Console{"alice"}, Publish{"ansi", kOrlaANSI}, Start{}, ExpectSet{{{"ansi", kAlice.ansi}}},
      LoseSystemBus{}, ExpectFailureExit{}}},
    {"ARestartedDriverGetsTheTablesAgain",
     {Save{"alice", kAlice}, Console{"alice"}, Publish{"ansi", kOrlaANSI}, Start{}, ExpectSet{{{"ansi", kAlice.ansi}}},
      RestartDriver{}, ExpectSet{{{"ansi", kAlice.ansi}}}, Stop{}}},
    {"StartedFromAShellItRefusesWithANote",
     {Save{"alice", kAlice}, Console{"alice"}, Publish{"ansi", kOrlaANSI}, Start{"sh"}, ExpectExit{},
      ExpectNotice{0, "Launcher (sh) is illegal.", false}}},
    {"TheLaunchersNameIsEscapedForAServerThatReadsMarkup",
     {MarkupServer{}, Console{"alice"}, Start{"a<b>&c"}, ExpectExit{},
      ExpectNotice{0, "Launcher (a&lt;b&gt;&amp;c) is illegal.", false}}},
};

INSTANTIATE_TEST_SUITE_P(SetUpper, DaemonTest, ::testing::ValuesIn(kScenarios),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
