// Module 110: the user at the console, whose tables every pass applies.
#include "daemon/set_upper.h"

#include "errors/daemon_alerts.h"
#include "platform/glue/log.h"

using vexa::console::ConsoleStore;

ErrorCode SetUpperClass::installLoginNotify() {
    sessionStore_ = ConsoleStore::create([this] { Session_Notify(sessionStore_.get(), this); });
    if (!sessionStore_) return kSetUpperErrNoStore;
    sessionKey_ = ConsoleStore::consoleUserKey();
    if (sessionKey_->empty()) return kSetUpperErrNoKey;
    if (sessionStore_->setNotificationKey(*sessionKey_) < 0) return kSetUpperErrWatchKey;
    if (sessionStore_->attachToDefaultLoop() < 0) return kSetUpperErrNoLoopSource;
    sessionRunLoop_ = true;
    // The first tables are applied when the driver notifications are installed.
    updateSessionInfo();
    return 0;
}

void SetUpperClass::removeLoginNotify() {
    if (sessionRunLoop_) {
        sessionStore_->detachFromLoop();
        sessionRunLoop_ = false;
    }
    sessionKey_.reset();
    if (sessionStore_) {
        sessionStore_.reset();
        vexa::logLine(SD_INFO "VexaOrlaSetUpper: no longer watching the console user");
    }
    sessionHost_.reset();
    sessionUser_.reset();
}

void SetUpperClass::Session_Notify(ConsoleStore*, void* info) { static_cast<SetUpperClass*>(info)->loginNotify(); }

void SetUpperClass::loginNotify() {
    if (!updateSessionInfo()) return;
    const ErrorCode r = setupAllKeyboards();
    if (r != 0) CautionApp(nullptr, r, kSetUpperErrLoginPass);
}

bool SetUpperClass::updateSessionInfo() {
    std::optional<std::string> host, user;
    std::uint32_t uid = 0, gid = 0;
    getCurrentUserHostUserNameUidGid(&host, &user, &uid, &gid);
    // Only the IDs count: the same IDs under another name are no change.
    const bool changed = uid != sessionUID_ || gid != sessionGID_;
    sessionHost_ = std::move(host);
    sessionUser_ = std::move(user);
    sessionUID_ = uid;
    sessionGID_ = gid;
    if (changed) {
        vexa::logLine(SD_INFO "VexaOrlaSetUpper: console user %s (%u:%u)",
                      sessionUser_ ? sessionUser_->c_str() : "(none)", uid, gid);
    }
    return changed;
}

void SetUpperClass::getCurrentUserHostUserNameUidGid(std::optional<std::string>* host,
                                                    std::optional<std::string>* user, std::uint32_t* uid,
                                                    std::uint32_t* gid) {
    std::optional<std::string> hostName, userName;
    std::uint32_t userID = 0, groupID = 0;
    if (sessionStore_) {
        if (std::string name = vexa::console::localHostName(); !name.empty()) hostName = std::move(name);
        if (const auto console = sessionStore_->copyConsoleUser()) {
            userName = console->name;
            userID = console->uid;
            groupID = console->gid;
        }
    }
    if (host != nullptr) *host = std::move(hostName);
    if (user != nullptr) *user = std::move(userName);
    if (uid != nullptr) *uid = userID;
    if (gid != nullptr) *gid = groupID;
}
