// Text lookup with the English text as key. A program with translations
// (the Qt applications) installs its lookup at start; without one, and
// whenever a lookup yields an empty text, the key itself is the text.
#pragma once

#include <string>

namespace vexa {

using Localizer = std::string (*)(const char* key);

void setLocalizer(Localizer localizer);
std::string localizedString(const char* key);

}  // namespace vexa
