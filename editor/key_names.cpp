#include "editor/key_names.h"

namespace vexa {
namespace {

// Keys the JIS keyboard prints differently; null when it prints the ANSI legend.
const char* jisName(std::uint32_t code) {
    switch (code) {
    case 0x2E: return "Caret";
    case 0x2F: return "At Sign";
    case 0x30: return "Left Bracket";
    case 0x32: return "Right Bracket";
    case 0x34: return "Colon";
    case 0x35: return "Zenkaku/Hankaku";
    default: return nullptr;
    }
}

const char* fixedName(std::uint32_t code) {
    switch (code) {
    case 0x00: return "No Key";
    case 0x28: return "Return";
    case 0x29: return "Escape";
    case 0x2A: return "Backspace";
    case 0x2B: return "Tab";
    case 0x2C: return "Space";
    case 0x2D: return "Minus";
    case 0x2E: return "Equal";
    case 0x2F: return "Left Bracket";
    case 0x30: return "Right Bracket";
    case 0x31: return "Backslash";
    case 0x32: return "Non-US Number Sign";
    case 0x33: return "Semicolon";
    case 0x34: return "Apostrophe";
    case 0x35: return "Grave Accent";
    case 0x36: return "Comma";
    case 0x37: return "Period";
    case 0x38: return "Slash";
    case 0x39: return "Caps Lock";
    case 0x46: return "Print Screen";
    case 0x47: return "Scroll Lock";
    case 0x48: return "Pause";
    case 0x49: return "Insert";
    case 0x4A: return "Home";
    case 0x4B: return "Page Up";
    case 0x4C: return "Delete";
    case 0x4D: return "End";
    case 0x4E: return "Page Down";
    case 0x4F: return "Right Arrow";
    case 0x50: return "Left Arrow";
    case 0x51: return "Down Arrow";
    case 0x52: return "Up Arrow";
    case 0x53: return "Num Lock";
    case 0x54: return "Keypad Slash";
    case 0x55: return "Keypad Asterisk";
    case 0x56: return "Keypad Minus";
    case 0x57: return "Keypad Plus";
    case 0x58: return "Keypad Enter";
    case 0x63: return "Keypad Period";
    case 0x64: return "Non-US Backslash";
    case 0x65: return "Application";
    case 0x66: return "Power";
    case 0x67: return "Keypad Equal";
    case 0x6F: return "Eject";  // the driver sends F20 as Eject
    case 0x74: return "Execute";
    case 0x75: return "Help";
    case 0x76: return "Menu";
    case 0x77: return "Select";
    case 0x78: return "Stop";
    case 0x79: return "Again";
    case 0x7A: return "Undo";
    case 0x7B: return "Cut";
    case 0x7C: return "Copy";
    case 0x7D: return "Paste";
    case 0x7E: return "Find";
    case 0x7F: return "Mute";
    case 0x80: return "Volume Up";
    case 0x81: return "Volume Down";
    case 0x85: return "Keypad Comma";
    case 0x86: return "Keypad Equal Sign";
    case 0x87: return "Ro";
    case 0x88: return "Kana";
    case 0x89: return "Yen";
    case 0x8A: return "Henkan";
    case 0x8B: return "Muhenkan";
    case 0x90: return "LANG1";
    case 0x91: return "LANG2";
    case 0xE0: return "Left Control";
    case 0xE1: return "Left Shift";
    case 0xE2: return "Left Alt";
    case 0xE3: return "Left Super";
    case 0xE4: return "Right Control";
    case 0xE5: return "Right Shift";
    case 0xE6: return "Right Alt";
    case 0xE7: return "Right Super";
    case 0xFE:
    case 0xFF: return "Fn";
    default: return nullptr;
    }
}

}  // namespace

QString keyName(std::uint32_t code, KeymapTypeNumber type) {
    if (code > 255) return QStringLiteral("Code %1").arg(code);
    if (type == kKeymapTypeJIS) {
        if (const char* name = jisName(code)) return QString::fromLatin1(name);
    }
    if (const char* name = fixedName(code)) return QString::fromLatin1(name);
    if (code >= 0x04 && code <= 0x1D) return QChar(char16_t(u'A' + (code - 0x04)));
    if (code >= 0x1E && code <= 0x27) return QString::number((code - 0x1E + 1) % 10);
    if (code >= 0x3A && code <= 0x45) return QStringLiteral("F%1").arg(code - 0x3A + 1);
    if (code >= 0x68 && code <= 0x73) return QStringLiteral("F%1").arg(code - 0x68 + 13);
    if (code >= 0x59 && code <= 0x62) return QStringLiteral("Keypad %1").arg((code - 0x59 + 1) % 10);
    return QStringLiteral("Usage 0x") + QStringLiteral("%1").arg(code, 2, 16, QLatin1Char('0')).toUpper();
}

}  // namespace vexa
