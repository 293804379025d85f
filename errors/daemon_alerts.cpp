#include "errors/daemon_alerts.h"

#include <cstdlib>

#include "errors/app_identity.h"
#include "platform/notice/notice.h"

namespace {

void post(int level, std::string text, bool sound) {
    vexa::notice::post({static_cast<vexa::notice::Level>(level), vexa::appIdentity().bundleName,
                        kDaemonNoticeHeader, std::move(text), sound});
}

}  // namespace

std::string daemonNoticeText(const char* message) {
    const std::string line = message != nullptr && message[0] != '\0' ? message : "An error occurred.";
    return line + "\n" + KZ710getErrorString();
}

void AlertApp(int level, const char* message, std::int64_t code1, std::int64_t code2) {
    KZ710stackError(nullptr, code1);
    KZ710stackError(nullptr, code2);
    post(level, daemonNoticeText(message), true);
}

void CautionApp(const char* message, std::int64_t code1, std::int64_t code2) {
    AlertApp(kNoticeCautionLevel, message, code1, code2);
}

void AbendApp(const char* message, std::int64_t code1, std::int64_t code2) {
    AlertApp(kNoticeStopLevel, message, code1, code2);
    std::exit(0);
}

void postPlainNotice(int level, const std::string& text) { post(level, text, false); }
