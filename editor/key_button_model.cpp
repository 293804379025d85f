#include "editor/key_button_model.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "keymap/keymap.h"

KeyButtonModel::KeyButtonModel(View* view) : view_(view) {}

KeyButtonModel::~KeyButtonModel() {
    link(nullptr);
    for (KeyButtonModel* referrer : referrers_) referrer->sibling_ = nullptr;
}

void KeyButtonModel::link(KeyButtonModel* sibling) {
    if (sibling_ != nullptr) std::erase(sibling_->referrers_, this);
    sibling_ = sibling;
    if (sibling_ != nullptr) sibling_->referrers_.push_back(this);
}

void KeyButtonModel::setBasecode(std::uint32_t code) {
    setMaskPath(outlineFor(code, keymapType_, bounds_));
    basecode_ = code;
    Keymap table;
    if (keymapType_ == kKeymapTypeJIS) {
        KZ714defaultOrlaJISKeymap(table);
    } else {
        KZ714defaultOrlaANSIKeymap(table);
    }
    defaultKeycode_ = KZ714keycodeFromKeymap(table, code);
    setSibling(nullptr);
}

void KeyButtonModel::setKeycode(std::uint32_t code) {
    if (!isAssignable()) return;
    keycode_ = code;
    if (view_ != nullptr) view_->keycodeDidChange();
    // The sibling's own propagation stops here because this key holds the code.
    if (sibling_ != nullptr && sibling_->keycode_ != code) sibling_->setKeycode(code);
}

void KeyButtonModel::setSibling(KeyButtonModel* sibling) {
    if (sibling == sibling_) return;
    if (sibling == this) return;
    if (sibling != nullptr && sibling->basecode_ != basecode_) return;
    if (!isAssignable()) return;
    KeyButtonModel* old = sibling_;
    link(sibling);
    if (sibling != nullptr) sibling->setSibling(this);
    if (old != nullptr && old->sibling_ == this) old->setSibling(nullptr);
}

std::optional<QColor> KeyButtonModel::overlayColor(bool highlighted) const {
    const QColor* color = nullptr;
    if (highlighted) {
        color = &highlightColor_;
    } else if (isKeycodeChanged()) {
        color = &changedColor_;
    }
    if (color == nullptr || !color->isValid()) return std::nullopt;
    return *color;
}

QColor KeyButtonModel::initialChangedColor() { return QColor::fromRgbF(0.0f, 0.5f, 1.0f, 0.175f); }

QColor KeyButtonModel::initialHighlightColor() { return QColor::fromRgbF(0.0f, 0.0f, 0.0f, 0.5f); }

QPainterPath KeyButtonModel::outlineFor(std::uint32_t basecode, KeymapTypeNumber type, QSizeF bounds) {
    if (type == kKeymapTypeJIS && (basecode == kReturnKey || basecode == kKeypadEnter)) return jisReturnOutline();
    QPainterPath path;
    path.addRoundedRect(QRectF(QPointF(0, 0), bounds), 4, 4);
    return path;
}

QPainterPath KeyButtonModel::jisReturnOutline() {
    // Wide part on top, 66 x 89 points from the top-left corner.
    QPainterPath path;
    path.moveTo(8, 0);
    path.lineTo(58, 0);
    path.cubicTo(66, 0, 66, 0, 66, 8);
    path.lineTo(66, 81);
    path.cubicTo(66, 89, 66, 89, 58, 89);
    path.lineTo(19, 89);
    path.cubicTo(11, 89, 11, 89, 11, 81);
    path.lineTo(11, 53);
    path.cubicTo(11, 45, 11, 45, 3, 45);
    path.lineTo(8, 45);
    path.cubicTo(0, 45, 0, 45, 0, 37);
    path.lineTo(0, 8);
    path.cubicTo(0, 0, 0, 0, 8, 0);
    path.closeSubpath();
    return path;
}

QRectF KeyButtonModel::labelFrameFromMarker(const QRectF& buttonFrame, const QRectF& markerFrame) {
    const bool inside = markerFrame.left() >= buttonFrame.left() && markerFrame.top() >= buttonFrame.top() &&
                        markerFrame.right() <= buttonFrame.right() && markerFrame.bottom() <= buttonFrame.bottom();
    if (markerFrame.isEmpty() || !inside) return {};
    return markerFrame.translated(-buttonFrame.topLeft());
}

std::uint32_t KeyButtonModel::basecodeFromTitle(const QString& title) {
    unsigned int code = 0;
    const QByteArray text = title.toUtf8();
    if (std::sscanf(text.constData(), "%x", &code) != 1) return 0;
    return code;
}

KeymapTypeNumber KeyButtonModel::keymapTypeForImageName(const QString& imageName) {
    return imageName.endsWith(QLatin1String("jis")) ? kKeymapTypeJIS : kKeymapTypeANSI;
}

std::uint32_t KeyButtonModel::keycodeFromDropText(const QByteArray& text) {
    qsizetype i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = std::min<long long>(value * 10 + (text[i] - '0'), static_cast<long long>(INT_MAX) + 1);
    }
    if (negative) value = -value;
    value = std::clamp<long long>(value, INT_MIN, INT_MAX);
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
}
