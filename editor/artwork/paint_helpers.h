// Small drawing helpers shared by the sheet and picture painters.
#pragma once

#include <string>

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QRectF>

namespace vexa::artwork {

// A transparent image of the given size in points, at the artwork scale.
QImage newCanvas(double width, double height);

// The font of all legends: Latin and symbols first, CJK after.
QFont legendFont(double pixelSize);

// Draws text centred in the box, shrinking the font until it fits.
void drawFittedText(QPainter& p, const QRectF& box, const std::string& text, double pixelSize, const QColor& ink,
                    Qt::Alignment align = Qt::AlignCenter);

}  // namespace vexa::artwork
