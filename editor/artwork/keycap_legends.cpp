#include "editor/artwork/keycap_legends.h"

#include <cstdio>

namespace vexa::artwork {
namespace {

CapLegend alpha(const char* main, const char* shifted = "") { return {main, shifted, "", CapStyle::Alpha}; }
CapLegend function(const char* main, const char* sub = "") { return {main, "", sub, CapStyle::Function}; }
CapLegend keypad(const char* main) { return {main, "", "keypad", CapStyle::Keypad}; }
CapLegend japanese(const char* main, const char* shifted = "") { return {main, shifted, "", CapStyle::Japanese}; }

// Legends where the JIS keyboard prints something else than the ANSI one.
bool jisLegend(std::uint8_t code, CapLegend& legend) {
    switch (code) {
    case 0x1F: legend = alpha("2", "\""); return true;
    case 0x23: legend = alpha("6", "&"); return true;
    case 0x24: legend = alpha("7", "'"); return true;
    case 0x25: legend = alpha("8", "("); return true;
    case 0x26: legend = alpha("9", ")"); return true;
    case 0x27: legend = alpha("0"); return true;
    case 0x2D: legend = alpha("-", "="); return true;
    case 0x2E: legend = alpha("^", "~"); return true;
    case 0x2F: legend = alpha("@", "`"); return true;
    case 0x30: legend = alpha("[", "{"); return true;
    case 0x32: legend = alpha("]", "}"); return true;
    case 0x33: legend = alpha(";", "+"); return true;
    case 0x34: legend = alpha(":", "*"); return true;
    case 0x35: legend = japanese("全角", "半角"); return true;
    default: return false;
    }
}

CapLegend ansiLegend(std::uint8_t code) {
    static const char* const kLetters[] = {"A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L", "M",
                                           "N", "O", "P", "Q", "R", "S", "T", "U", "V", "W", "X", "Y", "Z"};
    static const char* const kDigits[][2] = {{"1", "!"}, {"2", "@"}, {"3", "#"}, {"4", "$"}, {"5", "%"},
                                             {"6", "^"}, {"7", "&"}, {"8", "*"}, {"9", "("}, {"0", ")"}};
    static const char* const kFunctionKeys[] = {"F1", "F2", "F3", "F4",  "F5",  "F6",
                                                "F7", "F8", "F9", "F10", "F11", "F12"};
    static const char* const kHighFunctionKeys[] = {"F13", "F14", "F15", "F16", "F17", "F18",
                                                    "F19", "F20", "F21", "F22", "F23", "F24"};
    static const char* const kKeypadDigits[] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "0"};

    if (code == 0x00) return {"", "", "", CapStyle::Blank};
    if (code >= 0x04 && code <= 0x1D) return alpha(kLetters[code - 0x04]);
    if (code >= 0x1E && code <= 0x27) return alpha(kDigits[code - 0x1E][0], kDigits[code - 0x1E][1]);
    if (code >= 0x3A && code <= 0x45) return function(kFunctionKeys[code - 0x3A]);
    if (code >= 0x59 && code <= 0x62) return keypad(kKeypadDigits[code - 0x59]);
    if (code >= 0x68 && code <= 0x73 && code != 0x6F) return function(kHighFunctionKeys[code - 0x68]);
    switch (code) {
    case 0x28: return function("Enter");
    case 0x29: return function("Esc");
    case 0x2A: return function("⌫", "Back");
    case 0x2B: return function("Tab");
    case 0x2C: return alpha("Space");
    case 0x2D: return alpha("-", "_");
    case 0x2E: return alpha("=", "+");
    case 0x2F: return alpha("[", "{");
    case 0x30: return alpha("]", "}");
    case 0x31: return alpha("\\", "|");
    case 0x32: return alpha("#", "~");
    case 0x33: return alpha(";", ":");
    case 0x34: return alpha("'", "\"");
    case 0x35: return alpha("`", "~");
    case 0x36: return alpha(",", "<");
    case 0x37: return alpha(".", ">");
    case 0x38: return alpha("/", "?");
    case 0x39: return function("Caps", "Lock");
    case 0x46: return function("PrtSc");
    case 0x47: return function("ScrLk");
    case 0x48: return function("Pause");
    case 0x49: return function("Ins");
    case 0x4A: return function("Home");
    case 0x4B: return function("PgUp");
    case 0x4C: return function("Del");
    case 0x4D: return function("End");
    case 0x4E: return function("PgDn");
    case 0x4F: return function("→");
    case 0x50: return function("←");
    case 0x51: return function("↓");
    case 0x52: return function("↑");
    case 0x53: return {"Num", "", "Lock", CapStyle::Keypad};
    case 0x54: return keypad("/");
    case 0x55: return keypad("*");
    case 0x56: return keypad("−");
    case 0x57: return keypad("+");
    case 0x58: return {"Enter", "", "keypad", CapStyle::Keypad};
    case 0x63: return keypad(".");
    case 0x64: return {"\\", "|", "", CapStyle::Alpha};
    case 0x65: return function("Menu");
    case 0x66: return function("Power");
    case 0x67: return keypad("=");
    case 0x6F: return function("⏏", "Eject");  // the driver sends F20 as Eject
    case 0x74: return function("Exec");
    case 0x75: return function("Help");
    case 0x76: return function("Menu");
    case 0x77: return function("Select");
    case 0x78: return function("Stop");
    case 0x79: return function("Again");
    case 0x7A: return function("Undo");
    case 0x7B: return function("Cut");
    case 0x7C: return function("Copy");
    case 0x7D: return function("Paste");
    case 0x7E: return function("Find");
    case 0x7F: return function("Mute");
    case 0x80: return function("Vol+");
    case 0x81: return function("Vol−");
    case 0x85: return keypad(",");
    case 0x86: return keypad("=");
    case 0x87: return japanese("\\", "_");
    case 0x88: return japanese("カナ");
    case 0x89: return japanese("¥", "|");
    case 0x8A: return japanese("変換");
    case 0x8B: return japanese("無変換");
    case 0x90: return japanese("かな");
    case 0x91: return japanese("英数");
    case 0xE0: return function("Ctrl", "left");
    case 0xE1: return function("Shift", "left");
    case 0xE2: return function("Alt", "left");
    case 0xE3: return function("Super", "left");
    case 0xE4: return function("Ctrl", "right");
    case 0xE5: return function("Shift", "right");
    case 0xE6: return function("Alt", "right");
    case 0xE7: return function("Super", "right");
    case 0xFE:
    case 0xFF: return function("Fn");
    default: break;
    }
    char number[8];
    std::snprintf(number, sizeof number, "%02X", code);
    return {number, "", "usage", CapStyle::Other};
}

}  // namespace

CapLegend capLegend(std::uint8_t code, layout::Board board) {
    CapLegend legend;
    if (board == layout::Board::Jis && jisLegend(code, legend)) return legend;
    return ansiLegend(code);
}

bool differsByLayout(std::uint8_t code) {
    const CapLegend ansi = capLegend(code, layout::Board::Ansi);
    const CapLegend jis = capLegend(code, layout::Board::Jis);
    return ansi.main != jis.main || ansi.shifted != jis.shifted;
}

}  // namespace vexa::artwork
