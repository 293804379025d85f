// Is the keyboard driver loaded: does at least one driver object (one
// keyboard that the driver serves) exist on the system bus?
#pragma once

namespace vexa::editor {

// False also when the system bus cannot be asked.
bool driverObjectExists();

}  // namespace vexa::editor
