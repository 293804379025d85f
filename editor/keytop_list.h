// The key cap palette without a window: which caps each keyboard type
// offers and in which order, the names of cap images, the two-per-row grid
// and the drag payload.
#pragma once

#include <cstdint>
#include <span>

#include <QByteArray>
#include <QString>

#include "editor/keymap_type_number.h"

namespace vexa::keytops {

// Drag type of a key cap; the payload is the key code as decimal text.
inline constexpr char kMimeType[] = "mirlan.PboardType.keytop";

// Codes offered for the type, in palette order: the JIS list for 2, the
// ANSI list for every other value.
std::span<const std::uint8_t> paletteCodes(KeymapTypeNumber type);

// Name of a cap image: type and code joined by a hyphen ("1-4").
QString imageName(KeymapTypeNumber type, std::uint32_t code);

// The code in a cap image's name: the number after the first hyphen, read as
// a drop's payload is; 0 when the name has no hyphen.
std::int32_t keycodeFromImageName(const QString& name);

// "%d" of the code.
QByteArray dragPayload(std::int32_t code);

// The grid holds two caps per row; the last row of an odd count has an
// empty second slot.
inline constexpr int kColumns = 2;
inline int rowCount(qsizetype caps) { return int((caps + kColumns - 1) / kColumns); }
inline qsizetype listIndex(int row, int column) { return qsizetype(row) * kColumns + column; }

}  // namespace vexa::keytops
