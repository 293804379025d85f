// Build-time artwork of the editor, drawn with QPainter: the key cap sheets,
// the keyboard pictures of the four pages, and the pages' interface files.
#pragma once

#include <QImage>
#include <QString>

#include "editor/layout/keyboard_layout.h"

namespace vexa::artwork {

// Sheet of all 256 key caps of a keyboard type: 16 columns; the cap of code c
// lies in column c % 16 and row c / 16 at x = column * 34 + 10,
// y = row * 37 + 10 (points, origin at the lower left), 24 x 27 points.
QImage drawKeycapSheet(layout::Board board);

// The keyboard as seen on one page: case, keys and their printed legends.
QImage drawKeyboardPicture(const layout::PageSpec& page);

// The page's Qt Designer interface: the picture, one plain cap marker per
// assignable key and one key button per key titled with its usage in hex.
QString pageInterface(const layout::PageSpec& page);

}  // namespace vexa::artwork
