#include "platform/input/hid_keycodes.h"

#include <linux/input-event-codes.h>

#include <array>

namespace vexa {
namespace {

constexpr std::uint16_t NONE = 0;  // KEY_RESERVED: the kernel ignores the usage
// The kernel reports these usages as KEY_UNKNOWN with their scan code: no
// key of Linux's own, but an event that scan-code remapping can act on.
constexpr std::uint16_t UNK = KEY_UNKNOWN;

// Keyboard/Keypad page (0x07), usage -> key code. Names in comments are the
// usage names of the HID Usage Tables.
constexpr std::array<std::uint16_t, 256> kKeyboardPage = {
    // 0x00 reserved, ErrorRollOver, POSTFail, ErrorUndefined; 0x04-0x0F a-l
    NONE, NONE, NONE, NONE, KEY_A, KEY_B, KEY_C, KEY_D,
    KEY_E, KEY_F, KEY_G, KEY_H, KEY_I, KEY_J, KEY_K, KEY_L,
    // 0x10 m-z
    KEY_M, KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R, KEY_S, KEY_T,
    KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z, KEY_1, KEY_2,
    // 0x20 3-0, Return, Escape, Backspace, Tab, Space, - = [
    KEY_3, KEY_4, KEY_5, KEY_6, KEY_7, KEY_8, KEY_9, KEY_0,
    KEY_ENTER, KEY_ESC, KEY_BACKSPACE, KEY_TAB, KEY_SPACE, KEY_MINUS, KEY_EQUAL, KEY_LEFTBRACE,
    // 0x30 ] \ Non-US # ; ' ` , . / CapsLock F1-F6
    KEY_RIGHTBRACE, KEY_BACKSLASH, KEY_BACKSLASH, KEY_SEMICOLON, KEY_APOSTROPHE, KEY_GRAVE, KEY_COMMA, KEY_DOT,
    KEY_SLASH, KEY_CAPSLOCK, KEY_F1, KEY_F2, KEY_F3, KEY_F4, KEY_F5, KEY_F6,
    // 0x40 F7-F12, PrintScreen, ScrollLock, Pause, Insert, Home, PageUp, Delete Forward, End, PageDown, Right
    KEY_F7, KEY_F8, KEY_F9, KEY_F10, KEY_F11, KEY_F12, KEY_SYSRQ, KEY_SCROLLLOCK,
    KEY_PAUSE, KEY_INSERT, KEY_HOME, KEY_PAGEUP, KEY_DELETE, KEY_END, KEY_PAGEDOWN, KEY_RIGHT,
    // 0x50 Left, Down, Up, NumLock, keypad / * - + Enter 1-7
    KEY_LEFT, KEY_DOWN, KEY_UP, KEY_NUMLOCK, KEY_KPSLASH, KEY_KPASTERISK, KEY_KPMINUS, KEY_KPPLUS,
    KEY_KPENTER, KEY_KP1, KEY_KP2, KEY_KP3, KEY_KP4, KEY_KP5, KEY_KP6, KEY_KP7,
    // 0x60 keypad 8 9 0 ., Non-US \, Application, Power, keypad =, F13-F20
    KEY_KP8, KEY_KP9, KEY_KP0, KEY_KPDOT, KEY_102ND, KEY_COMPOSE, KEY_POWER, KEY_KPEQUAL,
    KEY_F13, KEY_F14, KEY_F15, KEY_F16, KEY_F17, KEY_F18, KEY_F19, KEY_F20,
    // 0x70 F21-F24, Execute, Help, Menu, Select, Stop, Again, Undo, Cut, Copy, Paste, Find, Mute
    KEY_F21, KEY_F22, KEY_F23, KEY_F24, KEY_OPEN, KEY_HELP, KEY_PROPS, KEY_FRONT,
    KEY_STOP, KEY_AGAIN, KEY_UNDO, KEY_CUT, KEY_COPY, KEY_PASTE, KEY_FIND, KEY_MUTE,
    // 0x80 Volume Up, Volume Down, locking Caps/Num/Scroll Lock, keypad comma,
    // keypad equal (AS/400), International1-9
    KEY_VOLUMEUP, KEY_VOLUMEDOWN, UNK, UNK, UNK, KEY_KPCOMMA, UNK, KEY_RO,
    KEY_KATAKANAHIRAGANA, KEY_YEN, KEY_HENKAN, KEY_MUHENKAN, KEY_KPJPCOMMA, UNK, UNK, UNK,
    // 0x90 LANG1-LANG9, Alternate Erase, SysReq/Attention, Cancel, Clear, Prior, Return, Separator
    KEY_HANGEUL, KEY_HANJA, KEY_KATAKANA, KEY_HIRAGANA, KEY_ZENKAKUHANKAKU, UNK, UNK, UNK,
    UNK, UNK, UNK, UNK, KEY_DELETE, UNK, UNK, UNK,
    // 0xA0 Out, Oper, Clear/Again, CrSel, ExSel, reserved
    UNK, UNK, UNK, UNK, UNK, UNK, UNK, UNK,
    UNK, UNK, UNK, UNK, UNK, UNK, UNK, UNK,
    // 0xB0 keypad 00, 000, separators, currency, keypad ( ) { } ...
    UNK, UNK, UNK, UNK, UNK, UNK, KEY_KPLEFTPAREN, KEY_KPRIGHTPAREN,
    UNK, UNK, UNK, UNK, UNK, UNK, UNK, UNK,
    // 0xC0 keypad operators
    UNK, UNK, UNK, UNK, UNK, UNK, UNK, UNK,
    UNK, UNK, UNK, UNK, UNK, UNK, UNK, UNK,
    // 0xD0 keypad memory and number base keys; 0xD8 keypad Clear is Delete
    UNK, UNK, UNK, UNK, UNK, UNK, UNK, UNK,
    KEY_DELETE, UNK, UNK, UNK, UNK, UNK, UNK, UNK,
    // 0xE0 modifiers; 0xE8-0xFB are reserved in the usage tables, but the
    // kernel gives them media keys, so a keyboard sending them has these.
    KEY_LEFTCTRL, KEY_LEFTSHIFT, KEY_LEFTALT, KEY_LEFTMETA, KEY_RIGHTCTRL, KEY_RIGHTSHIFT, KEY_RIGHTALT, KEY_RIGHTMETA,
    KEY_PLAYPAUSE, KEY_STOPCD, KEY_PREVIOUSSONG, KEY_NEXTSONG, KEY_EJECTCD, KEY_VOLUMEUP, KEY_VOLUMEDOWN, KEY_MUTE,
    // 0xF0
    KEY_WWW, KEY_BACK, KEY_FORWARD, KEY_STOP, KEY_FIND, KEY_SCROLLUP, KEY_SCROLLDOWN, KEY_EDIT,
    KEY_SLEEP, KEY_COFFEE, KEY_REFRESH, KEY_CALC, UNK, UNK, UNK, UNK,
};

}  // namespace

std::optional<std::uint16_t> reportedKeyFromUsage(HidUsage u) {
    if (u.page == kUsagePageKeyboard && u.usage <= 255) {
        const std::uint16_t key = kKeyboardPage[u.usage];
        if (key == NONE) return std::nullopt;
        return key;
    }
    if (u.page == kUsagePageConsumer && u.usage == kConsumerEject) return KEY_EJECTCD;
    return std::nullopt;
}

}  // namespace vexa
