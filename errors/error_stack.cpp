#include "errors/error_stack.h"

#include <cstdio>
#include <cstring>

#include "errors/app_identity.h"
#include "errors/localize.h"

char g_err_buf[KZ710_STACK_ENTRIES][KZ710_ENTRY_SIZE];

namespace {

// Length of at most `limit` bytes of `text` that does not split a UTF-8
// sequence, so a cut domain stays valid text.
std::size_t utf8Prefix(const char* text, std::size_t limit) {
    std::size_t len = strnlen(text, limit + 1);
    if (len <= limit) return len;
    len = limit;
    while (len > 0 && (static_cast<unsigned char>(text[len]) & 0xC0) == 0x80) --len;
    return len;
}

void writeEntry(char* entry, const char* domain, std::int64_t code) {
    if (domain != nullptr) {
        // The code stays readable: only the domain is cut when the entry
        // would not fit.
        char suffix[16];
        const int suffixLen = std::snprintf(suffix, sizeof suffix, "(%d)", static_cast<std::int32_t>(code));
        const std::size_t room = KZ710_ENTRY_SIZE - 1 - static_cast<std::size_t>(suffixLen);
        const std::size_t domainLen = utf8Prefix(domain, room);
        std::memcpy(entry, domain, domainLen);
        std::memcpy(entry + domainLen, suffix, static_cast<std::size_t>(suffixLen) + 1);
    } else if (code < 10000) {
        std::snprintf(entry, KZ710_ENTRY_SIZE, "%ld", static_cast<long>(code));
    } else {
        std::snprintf(entry, KZ710_ENTRY_SIZE, "%.4f", static_cast<double>(code) / 10000.0);
    }
}

}  // namespace

extern "C" void KZ710stackError(const char* domain, std::int64_t code) {
    if (code == 0) return;
    for (int i = KZ710_STACK_ENTRIES - 1; i > 0; --i) {
        if (g_err_buf[i][0] == '\0' && g_err_buf[i - 1][0] == '\0') continue;
        std::memcpy(g_err_buf[i], g_err_buf[i - 1], KZ710_ENTRY_SIZE);
    }
    writeEntry(g_err_buf[0], domain, code);
}

void KZ710stackNSError(const vexa::Error* error) {
    for (const vexa::Error* e = error; e != nullptr; e = e->underlying.get()) {
        KZ710stackError(e->domain.c_str(), e->code);
    }
}

std::string KZ710getErrorString() {
    const vexa::AppIdentity& id = vexa::appIdentity();
    std::string header = vexa::localizedString("%@ %@: ");
    // Fill the two "%@" placeholders in order with name and version.
    std::string text;
    const char* fills[] = {id.bundleName, id.shortVersion};
    std::size_t next = 0;
    for (std::size_t i = 0; i < header.size(); ++i) {
        if (next < 2 && header.compare(i, 2, "%@") == 0) {
            text += fills[next++];
            ++i;
        } else {
            text += header[i];
        }
    }
    for (auto& entry : g_err_buf) {
        if (entry[0] == '\0') continue;
        text += entry;
        text += ", ";
        entry[0] = '\0';
    }
    return text;
}
