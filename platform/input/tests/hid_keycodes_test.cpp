// The HID usage -> Linux key code table: the kernel's key for each usage
// (the guest's HID table check compares all 256 with the running kernel).
#include "platform/input/hid_keycodes.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

namespace {

using vexa::reportedKeyFromUsage;

std::optional<std::uint16_t> key7(std::uint32_t usage) { return reportedKeyFromUsage({7, usage}); }

TEST(HidKeycodes, LettersAndDigits) {
    const int letters[] = {KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I,
                           KEY_J, KEY_K, KEY_L, KEY_M, KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R,
                           KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z};
    for (int i = 0; i < 26; ++i) EXPECT_EQ(key7(0x04 + i), letters[i]) << "letter " << char('a' + i);
    const int digits[] = {KEY_1, KEY_2, KEY_3, KEY_4, KEY_5, KEY_6, KEY_7, KEY_8, KEY_9, KEY_0};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(key7(0x1E + i), digits[i]) << "digit index " << i;
}

TEST(HidKeycodes, SpotChecks) {
    EXPECT_EQ(key7(0x28), KEY_ENTER);
    EXPECT_EQ(key7(0x29), KEY_ESC);
    EXPECT_EQ(key7(0x2C), KEY_SPACE);
    EXPECT_EQ(key7(0x3A), KEY_F1);
    EXPECT_EQ(key7(0x45), KEY_F12);
    EXPECT_EQ(key7(0x4C), KEY_DELETE);
    EXPECT_EQ(key7(0x52), KEY_UP);
    EXPECT_EQ(key7(0x58), KEY_KPENTER);
    EXPECT_EQ(key7(0x66), KEY_POWER);
    EXPECT_EQ(key7(0x6F), KEY_F20);
    EXPECT_EQ(key7(0x7F), KEY_MUTE);
    EXPECT_EQ(key7(0x80), KEY_VOLUMEUP);
    EXPECT_EQ(key7(0x81), KEY_VOLUMEDOWN);
}

TEST(HidKeycodes, JapaneseAndLanguageKeys) {
    EXPECT_EQ(key7(0x87), KEY_RO);
    EXPECT_EQ(key7(0x88), KEY_KATAKANAHIRAGANA);
    EXPECT_EQ(key7(0x89), KEY_YEN);
    EXPECT_EQ(key7(0x8A), KEY_HENKAN);
    EXPECT_EQ(key7(0x8B), KEY_MUHENKAN);
    EXPECT_EQ(key7(0x90), KEY_HANGEUL);
    EXPECT_EQ(key7(0x91), KEY_HANJA);
}

TEST(HidKeycodes, Modifiers) {
    const int mods[] = {KEY_LEFTCTRL,  KEY_LEFTSHIFT,  KEY_LEFTALT,  KEY_LEFTMETA,
                        KEY_RIGHTCTRL, KEY_RIGHTSHIFT, KEY_RIGHTALT, KEY_RIGHTMETA};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(key7(0xE0 + i), mods[i]);
}

TEST(HidKeycodes, ConsumerEjectUnknownsAndIgnored) {
    EXPECT_EQ(reportedKeyFromUsage({12, 0xB8}), KEY_EJECTCD);
    EXPECT_EQ(reportedKeyFromUsage({12, 0xB7}), std::nullopt);
    EXPECT_EQ(reportedKeyFromUsage({1, 0x04}), std::nullopt);
    EXPECT_EQ(key7(0xD8), KEY_DELETE) << "keypad Clear";
    // Usages the kernel passes on as KEY_UNKNOWN with their scan code.
    for (std::uint32_t u : {0x82u, 0x8Du, 0xA5u, 0xD7u, 0xFFu}) EXPECT_EQ(key7(u), KEY_UNKNOWN) << "usage " << u;
    // Usages the kernel ignores.
    for (std::uint32_t u : {0x00u, 0x01u, 0x03u, 256u}) EXPECT_EQ(key7(u), std::nullopt) << "usage " << u;
}

}  // namespace
