// Images of the application by name: images registered at run time (key
// caps cut from a sheet), then the application's resources (":/images/",
// drawn at the artwork scale). A name is the only link from an image back to
// what it shows.
#pragma once

#include <cstdint>

#include <QPixmap>
#include <QString>

#include "editor/keymap_type_number.h"

namespace vexa {

struct NamedImage {
    QString name;
    QPixmap pixmap;

    bool isNull() const { return pixmap.isNull(); }
};

NamedImage imageNamed(const QString& name);
void registerImage(const NamedImage& image);

// Key cap sheets: 16 columns; the cap of code c lies in column c % 16, row
// c / 16, at x = column * 34 + 10, y = row * 37 + 10 (points, origin at the
// lower left), 24 x 27 points.
QRectF keycapRectInSheet(std::uint32_t code, double sheetHeight);

// A 24 x 27 point image holding the sheet's cap for the code, copied at full
// opacity; transparent where the sheet has nothing (or there is no sheet).
QPixmap cutKeycap(const QPixmap& sheet, std::uint32_t code);

// The key cap of a code on a keyboard type, named "type-code": the image of
// that name when there is one, else the cap cut from the type's sheet
// ("keytop_jis" for 2, "keytop_ansi" otherwise) and registered under the
// name, so each cap is cut once per process. Null above 255.
NamedImage keytopImage(std::uint32_t code, KeymapTypeNumber type);

}  // namespace vexa
