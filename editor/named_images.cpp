#include "editor/named_images.h"

#include <QCoreApplication>
#include <QHash>
#include <QPainter>

#include "editor/keytop_list.h"
#include "editor/layout/keyboard_layout.h"

namespace vexa {
namespace {

QHash<QString, QPixmap>& registry() {
    static QHash<QString, QPixmap> images;
    return images;
}

// Pixmaps must go before the application object does.
void forgetImages() { registry().clear(); }

}  // namespace

NamedImage imageNamed(const QString& name) {
    if (auto found = registry().constFind(name); found != registry().constEnd()) return {name, *found};
    QPixmap pixmap(QStringLiteral(":/images/%1.png").arg(name));
    if (pixmap.isNull()) return {};
    pixmap.setDevicePixelRatio(layout::kArtworkScale);
    return {name, pixmap};
}

void registerImage(const NamedImage& image) {
    if (registry().isEmpty()) qAddPostRoutine(forgetImages);
    registry().insert(image.name, image.pixmap);
}

QRectF keycapRectInSheet(std::uint32_t code, double sheetHeight) {
    const double column = code % 16;
    const double row = code / 16;
    const double yFromBottom = row * 37 + 10;
    return {column * 34 + 10, sheetHeight - yFromBottom - layout::kCapHeight, layout::kCapWidth,
            layout::kCapHeight};
}

QPixmap cutKeycap(const QPixmap& sheet, std::uint32_t code) {
    const qreal scale = sheet.isNull() ? qreal(layout::kArtworkScale) : sheet.devicePixelRatio();
    QPixmap cap(qRound(layout::kCapWidth * scale), qRound(layout::kCapHeight * scale));
    cap.setDevicePixelRatio(scale);
    cap.fill(Qt::transparent);
    if (!sheet.isNull()) {
        const QRectF source = keycapRectInSheet(code, sheet.height() / scale);
        QPainter p(&cap);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.drawPixmap(QRectF(0, 0, layout::kCapWidth, layout::kCapHeight), sheet,
                     QRectF(source.topLeft() * scale, source.size() * scale));
    }
    return cap;
}

NamedImage keytopImage(std::uint32_t code, KeymapTypeNumber type) {
    if (code > 255) return {};
    const QString name = keytops::imageName(type, code);
    if (NamedImage image = imageNamed(name); !image.isNull()) return image;
    const NamedImage sheet =
        imageNamed(type == kKeymapTypeJIS ? QStringLiteral("keytop_jis") : QStringLiteral("keytop_ansi"));
    // The sheet is decoded once and kept under its name: a palette and its
    // keys cut over a hundred caps from it.
    if (!sheet.isNull()) registerImage(sheet);
    NamedImage cap{name, cutKeycap(sheet.pixmap, code)};
    registerImage(cap);
    return cap;
}

}  // namespace vexa
