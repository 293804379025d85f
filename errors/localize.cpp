#include "errors/localize.h"

namespace {
vexa::Localizer g_localizer = nullptr;
}

void vexa::setLocalizer(Localizer localizer) { g_localizer = localizer; }

std::string vexa::localizedString(const char* key) {
    if (key == nullptr) return {};
    if (g_localizer != nullptr) {
        std::string text = g_localizer(key);
        if (!text.empty()) return text;
    }
    return key;
}
