#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>

#include "editor/artwork/artwork.h"
#include "editor/artwork/keycap_legends.h"
#include "editor/artwork/paint_helpers.h"
#include "editor/key_button_model.h"

namespace vexa::artwork {
namespace {

using layout::PlacedKey;

// Shrinks a shape about its centre by `inset` points on each side and moves
// it by `lift` (negative = up).
QPainterPath inset(const QPainterPath& shape, double dx, double dy, double lift) {
    const QRectF box = shape.boundingRect();
    QTransform t;
    t.translate(box.center().x(), box.center().y() + lift);
    t.scale((box.width() - 2 * dx) / box.width(), (box.height() - 2 * dy) / box.height());
    t.translate(-box.center().x(), -box.center().y());
    return t.map(shape);
}

QPainterPath keyShape(const PlacedKey& key) {
    if (key.tall) return KeyButtonModel::jisReturnOutline().translated(key.x, key.y);
    QPainterPath path;
    path.addRoundedRect(QRectF(key.x, key.y, key.width, key.height), 5, 5);
    return path;
}

// The usage the same key sends on the other layer.
std::uint8_t baseCodeAt(const layout::PageSpec& page, std::size_t index) {
    const layout::PageSpec& base = page.board == layout::Board::Jis ? layout::pages()[2] : layout::pages()[0];
    return layout::placeKeys(base)[index].code;
}

void drawKey(QPainter& p, const layout::PageSpec& page, const PlacedKey& key, bool fnFunction) {
    const CapLegend legend = capLegend(key.code, page.board);
    const bool fnKey = !key.assignable;
    const bool light = legend.style == CapStyle::Alpha;
    const QColor skirt = fnKey ? QColor("#7f9cc4") : light ? QColor("#b9bcc1") : QColor("#969ba3");
    const QColor top = fnKey ? QColor("#c3d6f0") : light ? QColor("#eceef0") : QColor("#cfd3d9");
    const QColor bottom = fnKey ? QColor("#a9c2e6") : light ? QColor("#dcdfe3") : QColor("#bcc1c8");

    const QPainterPath shape = inset(keyShape(key), 1.5, 1.5, 0);
    p.fillPath(shape, skirt);
    p.setPen(QPen(QColor(0, 0, 0, 110), 0.6));
    p.drawPath(shape);
    const QPainterPath face = inset(shape, 4, 3.5, -1.5);
    QLinearGradient shade(face.boundingRect().topLeft(), face.boundingRect().bottomLeft());
    shade.setColorAt(0, top);
    shade.setColorAt(1, bottom);
    p.fillPath(face, shade);

    // The printed legend sits in the top-left corner; the cap image of the
    // assigned output covers the middle of the key.
    const QColor ink = fnFunction ? QColor("#1d56b5") : QColor("#2b2e33");
    const std::string& text = legend.main;
    if (fnKey) {
        drawFittedText(p, QRectF(key.x, key.y, key.width, key.height), text, 11, QColor("#1d3f73"));
    } else {
        const QRectF corner(key.x + 5, key.y + 3, key.width - 10, 7);
        drawFittedText(p, corner, text, 6.5, ink, Qt::AlignLeft | Qt::AlignVCenter);
    }
}

}  // namespace

QImage drawKeyboardPicture(const layout::PageSpec& page) {
    QImage picture = newCanvas(layout::kPageWidth, layout::kPageHeight);
    QPainter p(&picture);
    p.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);

    // The case: dark, slightly lit from above, with a bevelled edge.
    const QRectF bounds(0, 0, layout::kPageWidth, layout::kPageHeight);
    QPainterPath body;
    body.addRoundedRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5), 14, 14);
    QLinearGradient caseShade(bounds.topLeft(), bounds.bottomLeft());
    caseShade.setColorAt(0, QColor("#4a4e55"));
    caseShade.setColorAt(1, QColor("#2a2c31"));
    p.fillPath(body, caseShade);
    p.setPen(QPen(QColor("#16171a"), 1));
    p.drawPath(body);
    QPainterPath well;
    well.addRoundedRect(bounds.adjusted(layout::kMargin - 3, layout::kMargin - 3, 3 - layout::kMargin,
                                        3 - layout::kMargin),
                        6, 6);
    p.fillPath(well, QColor("#1f2125"));

    const QString title = QStringLiteral("Vexa Orla %1%2")
                              .arg(page.board == layout::Board::Jis ? "JIS" : "ANSI")
                              .arg(page.fnLayer ? "  \u2014  with Fn held" : "");
    drawFittedText(p, QRectF(layout::kMargin, 2, 300, layout::kMargin - 4), title.toStdString(), 8,
                   QColor("#b8bdc6"), Qt::AlignLeft | Qt::AlignVCenter);

    const std::vector<PlacedKey> keys = layout::placeKeys(page);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const bool fnFunction = page.fnLayer && keys[i].code != baseCodeAt(page, i);
        drawKey(p, page, keys[i], fnFunction);
    }
    return picture;
}

}  // namespace vexa::artwork
