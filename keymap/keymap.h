/* Keymap tables and keyboard types.
 *
 * A Keymap is 256 bytes owned by the caller: index = the HID usage (page 7)
 * that a physical key reports, value = the usage to send instead, 0 = the key
 * is disabled, 111 = sent as Eject (consumer page 12, usage 0xB8).
 *
 * Everything here is safe in an input driver's hot path: no allocation, no
 * state, no I/O, no exceptions. The header is valid C and C++. */
#ifndef VEXA_KEYMAP_KEYMAP_H
#define VEXA_KEYMAP_KEYMAP_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { KZ714_KEYMAP_SIZE = 256 };

typedef uint8_t Keymap[KZ714_KEYMAP_SIZE];

/* A keyboard layout name, or NULL for "no keyboard of this suite". */
typedef const char *KeymapType;

#define KZ714_TYPE_ANSI "Vexa Orla ANSI"
#define KZ714_TYPE_JIS "Vexa Orla JIS"

/* Key code that the driver sends as consumer-page Eject. */
#define KZ714_KEYCODE_EJECT 111

/* The layout of the keyboard with this USB vendor and product, or NULL. */
KeymapType KZ714keymapType(int32_t vendorID, int32_t productID);

/* Fill a table with the ANSI default (identity); NULL does nothing. */
void KZ714defaultOrlaANSIKeymap(uint8_t *keymap);

/* Fill a table with the JIS default (identity plus four remappings). */
void KZ714defaultOrlaJISKeymap(uint8_t *keymap);

/* keymap[usage]; 0 when the table is NULL or usage > 255. */
uint8_t KZ714keycodeFromKeymap(const uint8_t *keymap, uint32_t usage);

/* True when both tables are non-NULL and all 256 bytes are equal. */
bool KZ714compareKeymap(const uint8_t *a, const uint8_t *b);

/* Convert a table of classic virtual key codes (older preference files)
 * into HID usages, in place; NULL does nothing. Not idempotent. */
void KZ714converOldOrlaKeymap(uint8_t *keymap);

#ifdef __cplusplus
}
#endif

#endif
