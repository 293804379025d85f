#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "editor/artwork/artwork.h"
#include "editor/artwork/keycap_legends.h"
#include "editor/artwork/paint_helpers.h"

namespace vexa::artwork {
namespace {

constexpr int kColumns = 16;
constexpr double kPitchX = 34, kPitchY = 37, kOrigin = 10;
constexpr double kSheetWidth = kColumns * kPitchX + kOrigin;
constexpr double kSheetHeight = (256 / kColumns) * kPitchY + kOrigin;

struct CapColors {
    QColor top, bottom, skirt;
};

CapColors colorsFor(const CapLegend& legend, bool layoutSpecific, layout::Board board) {
    if (layoutSpecific) {
        return board == layout::Board::Jis ? CapColors{"#fff1de", "#f7d6aa", "#c99e67"}
                                           : CapColors{"#e8f1ff", "#c6dbfa", "#7f9fcc"};
    }
    switch (legend.style) {
    case CapStyle::Blank: return {"#f4f4f2", "#e6e6e3", "#b5b5b2"};
    case CapStyle::Alpha: return {"#fdfdfc", "#e9e9e6", "#a9aaa8"};
    case CapStyle::Function: return {"#e6e9ed", "#cdd2d9", "#8e959f"};
    case CapStyle::Keypad: return {"#f4f8f1", "#dbe6d3", "#98a88d"};
    case CapStyle::Japanese: return {"#fff1de", "#f7d6aa", "#c99e67"};
    case CapStyle::Other: return {"#eeeeee", "#dddddd", "#b0b0b0"};
    }
    return {"#ffffff", "#eeeeee", "#aaaaaa"};
}

void drawCap(QPainter& p, const QRectF& cap, const CapLegend& legend, bool layoutSpecific, layout::Board board) {
    const CapColors colors = colorsFor(legend, layoutSpecific, board);
    // Skirt, then the top face set back from the sides and raised from the bottom.
    QPainterPath skirt;
    skirt.addRoundedRect(cap.adjusted(0.25, 0.25, -0.25, -0.25), 3.5, 3.5);
    p.fillPath(skirt, colors.skirt);
    const QRectF face = cap.adjusted(1.5, 1, -1.5, -3.5);
    QLinearGradient shade(face.topLeft(), face.bottomLeft());
    shade.setColorAt(0, colors.top);
    shade.setColorAt(1, colors.bottom);
    QPainterPath top;
    top.addRoundedRect(face, 2.5, 2.5);
    p.fillPath(top, shade);
    p.setPen(QPen(QColor(0, 0, 0, 70), 0.5));
    p.drawPath(skirt);

    const QColor ink = legend.style == CapStyle::Other ? QColor("#6a6a6a") : QColor("#202124");
    const QRectF text = face.adjusted(0.5, 0.5, -0.5, -0.5);
    if (legend.style == CapStyle::Blank) return;
    if (!legend.shifted.empty()) {
        drawFittedText(p, QRectF(text.left(), text.top(), text.width(), text.height() * 0.45), legend.shifted, 7.5,
                       ink);
        drawFittedText(p, QRectF(text.left(), text.top() + text.height() * 0.42, text.width(), text.height() * 0.58),
                       legend.main, 10, ink);
    } else if (!legend.sub.empty()) {
        drawFittedText(p, QRectF(text.left(), text.top(), text.width(), text.height() * 0.68), legend.main, 11, ink);
        drawFittedText(p, QRectF(text.left(), text.top() + text.height() * 0.64, text.width(), text.height() * 0.36),
                       legend.sub, 5.5, QColor("#55595f"));
    } else {
        const bool oneSymbol = QString::fromStdString(legend.main).size() == 1;
        drawFittedText(p, text, legend.main, oneSymbol ? 12 : 9.5, ink);
    }
}

}  // namespace

QImage drawKeycapSheet(layout::Board board) {
    QImage sheet = newCanvas(kSheetWidth, kSheetHeight);
    QPainter p(&sheet);
    p.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    for (int code = 0; code < 256; ++code) {
        const int column = code % kColumns;
        const int row = code / kColumns;
        // Sheet coordinates count from the lower left; QPainter's from the top left.
        const double x = column * kPitchX + kOrigin;
        const double yFromBottom = row * kPitchY + kOrigin;
        const QRectF cap(x, kSheetHeight - yFromBottom - layout::kCapHeight, layout::kCapWidth, layout::kCapHeight);
        const auto usage = static_cast<std::uint8_t>(code);
        drawCap(p, cap, capLegend(usage, board), differsByLayout(usage), board);
    }
    return sheet;
}

}  // namespace vexa::artwork
