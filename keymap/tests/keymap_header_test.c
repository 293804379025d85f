/* Compiled as C: the keymap header must serve C programs too. */
#include "keymap/keymap.h"

#include <string.h>

/* Fills the JIS default through the C interface and reports entry 53 and
 * whether the type of the JIS keyboard is the JIS text. */
int keymap_from_c(uint8_t *entry53) {
    Keymap km;
    KZ714defaultOrlaJISKeymap(km);
    *entry53 = KZ714keycodeFromKeymap(km, 53);
    KeymapType t = KZ714keymapType(1278, 7);
    return t != NULL && strcmp(t, KZ714_TYPE_JIS) == 0 && KZ714compareKeymap(km, km);
}
