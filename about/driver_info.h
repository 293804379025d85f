// The driver information that the About window saves for support: a
// listing of every HID device with its udev properties, made by a shell
// command, and the rules that turn the command's output into the file's text.
#pragma once

#include <QByteArray>
#include <QString>

namespace vexa::about {

// For every HID device, udev's record of it and of each device below it
// (its hidraw node, its input devices and their event nodes), as
// "udevadm info" prints them, one blank line apart. Run with /bin/sh -c.
extern const char* const kDriverInfoCommand;

// Saved instead of the listing when the command printed nothing (untranslated).
inline constexpr char kNoListingText[] = "ioreg error.";

// The command's output as text: UTF-8 when it is valid UTF-8, otherwise
// one character per byte (plain ASCII for ASCII bytes), so that a stray
// byte does not lose the listing; kNoListingText when there is no output.
QString driverInfoText(const QByteArray& output);

}  // namespace vexa::about
