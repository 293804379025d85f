#include "editor/artwork/paint_helpers.h"

#include <cmath>

#include <QFontMetricsF>

#include "editor/layout/keyboard_layout.h"

namespace vexa::artwork {

QImage newCanvas(double width, double height) {
    QImage image(static_cast<int>(std::lround(width * layout::kArtworkScale)),
                 static_cast<int>(std::lround(height * layout::kArtworkScale)), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(layout::kArtworkScale);
    return image;
}

QFont legendFont(double pixelSize) {
    QFont font;
    font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("IPAGothic")});
    font.setPixelSize(static_cast<int>(std::lround(pixelSize * layout::kArtworkScale)));
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

void drawFittedText(QPainter& p, const QRectF& box, const std::string& text, double pixelSize, const QColor& ink,
                    Qt::Alignment align) {
    const QString label = QString::fromStdString(text);
    // Fonts are sized in device pixels and drawn through a scale, so the
    // glyphs are hinted for the image's real resolution.
    p.save();
    p.translate(box.topLeft());
    p.scale(1.0 / layout::kArtworkScale, 1.0 / layout::kArtworkScale);
    const QRectF target(0, 0, box.width() * layout::kArtworkScale, box.height() * layout::kArtworkScale);
    QFont font = legendFont(pixelSize);
    while (font.pixelSize() > 6 && QFontMetricsF(font).horizontalAdvance(label) > target.width()) {
        font.setPixelSize(font.pixelSize() - 1);
    }
    p.setFont(font);
    p.setPen(ink);
    p.drawText(target, align, label);
    p.restore();
}

}  // namespace vexa::artwork
