#include "editor/key_button.h"

#include <typeinfo>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <QRegion>

#include "editor/image_view.h"
#include "editor/key_names.h"

KeyButtonClass::KeyButtonClass(QWidget* parent) : QPushButton(parent) {
    // Keys take focus only when clicked or dropped on, and only when assignable.
    setFocusPolicy(Qt::NoFocus);
}

KeyButtonClass::~KeyButtonClass() = default;

void KeyButtonClass::awakeFromNib() {
    image_ = {};
    imageIsCurrent_ = false;

    connect(this, &QAbstractButton::clicked, this, &KeyButtonClass::emitClicked, Qt::UniqueConnection);

    setChangedColor(KeyButtonModel::initialChangedColor());
    setHighlightColor(KeyButtonModel::initialHighlightColor());

    // The keyboard picture beside the button tells the keyboard type.
    const ImageView* picture = nullptr;
    if (QWidget* page = parentWidget()) {
        for (QObject* child : page->children()) {
            if ((picture = qobject_cast<const ImageView*>(child)) != nullptr) break;
        }
    }
    model_.setKeymapType(picture != nullptr ? KeyButtonModel::keymapTypeForImageName(picture->imageName())
                                            : kKeymapTypeANSI);

    model_.setLabelFrame(findLabelFrame());
    setAcceptDrops(isAssignable());

    const std::uint32_t code = KeyButtonModel::basecodeFromTitle(text());
    setText(QString());
    setDefaultBasecode(code);
    setBasecode(code);
    restoreKeycode();
}

QRectF KeyButtonClass::findLabelFrame() const {
    const QWidget* page = parentWidget();
    if (page == nullptr) return {};
    for (const QObject* child : page->children()) {
        // Only plain widgets mark cap areas; pictures, buttons and every other
        // kind of widget never count.
        const auto* marker = qobject_cast<const QWidget*>(child);
        if (marker == nullptr || typeid(*marker) != typeid(QWidget)) continue;
        const QRectF frame = KeyButtonModel::labelFrameFromMarker(QRectF(geometry()), QRectF(marker->geometry()));
        if (!frame.isEmpty()) return frame;
    }
    return {};
}

void KeyButtonClass::setBasecode(std::uint32_t code) {
    // The outline covers the button as it is now.
    model_.setBounds(size());
    model_.setBasecode(code);
    setMaskPath(model_.maskPath());
    setAccessibleName(vexa::keyName(code, keymapType()));
    describeKeycode();
}

void KeyButtonClass::describeKeycode() {
    if (isFNKey()) {
        setAccessibleDescription(QStringLiteral("Shows the keys with Fn held"));
    } else if (!isAssignable()) {
        setAccessibleDescription(QString());
    } else {
        setAccessibleDescription(vexa::keyName(keycode(), keymapType()));
    }
}

void KeyButtonClass::setMaskPath(const QPainterPath& path) {
    model_.setMaskPath(path);
    // Clicks and drops outside the outline reach whatever lies beneath; a
    // key without an outline takes none at all.
    setAttribute(Qt::WA_TransparentForMouseEvents, path.isEmpty());
    if (!path.isEmpty()) setMask(QRegion(path.toFillPolygon().toPolygon()));
}

void KeyButtonClass::setSibling(KeyButtonClass* sibling) {
    model_.setSibling(sibling != nullptr ? &sibling->model_ : nullptr);
}

KeyButtonClass* KeyButtonClass::sibling() const {
    const KeyButtonModel* other = model_.sibling();
    return other != nullptr ? static_cast<KeyButtonClass*>(other->view()) : nullptr;
}

void KeyButtonClass::setHighlighted(bool highlighted) {
    if (highlighted_ == highlighted) return;
    highlighted_ = highlighted;
    update();
}

bool KeyButtonClass::isFirstResponder() const { return window()->focusWidget() == this; }

const vexa::NamedImage& KeyButtonClass::image() const {
    if (!imageIsCurrent_) {
        // A key that takes no code shows no cap.
        image_ = isAssignable() ? vexa::keytopImage(keycode(), keymapType()) : vexa::NamedImage{};
        imageIsCurrent_ = true;
    }
    return image_;
}

void KeyButtonClass::keycodeDidChange() {
    imageIsCurrent_ = false;
    update();
    describeKeycode();
    if (isFirstResponder()) emit keycodeChangedWhileFocused(this);
}

void KeyButtonClass::emitClicked() { emit keyClicked(this); }

void KeyButtonClass::paintEvent(QPaintEvent* event) {
    // No bezel and no title: the keyboard picture behind shows through.
    QPainter p(this);
    p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    p.setClipPath(maskPath());
    if (const vexa::NamedImage& cap = image(); !cap.isNull()) {
        p.drawPixmap(labelFrame(), cap.pixmap, QRectF(cap.pixmap.rect()));
    }
    if (const std::optional<QColor> overlay = model_.overlayColor(isHighlighted())) {
        p.fillRect(event->rect(), *overlay);
    }
    if (hasFocus()) drawFocusRingMask(p);
}

void KeyButtonClass::drawFocusRingMask(QPainter& p) const {
    QColor ring = palette().color(QPalette::Highlight);
    ring.setAlphaF(0.85f);
    p.setPen(QPen(ring, 4));
    p.setBrush(Qt::NoBrush);
    p.drawPath(maskPath());
}

QRectF KeyButtonClass::focusRingMaskBounds() const {
    return maskPath().isEmpty() ? QRectF() : maskPath().boundingRect();
}

bool KeyButtonClass::hitButton(const QPoint& pos) const { return maskPath().contains(QPointF(pos)); }

void KeyButtonClass::mousePressEvent(QMouseEvent* event) {
    if (!hitButton(event->position().toPoint())) {
        event->ignore();
        return;
    }
    QPushButton::mousePressEvent(event);
    if (isAssignable()) setFocus(Qt::MouseFocusReason);
}

void KeyButtonClass::focusInEvent(QFocusEvent* event) {
    if (!isAssignable()) {
        // Refused: the window is left without a focused widget, as when
        // nothing takes the focus.
        clearFocus();
        return;
    }
    QPushButton::focusInEvent(event);
    emit focusChanged(this, true);
}

void KeyButtonClass::focusOutEvent(QFocusEvent* event) {
    QPushButton::focusOutEvent(event);
    // The window losing activation (or a menu opening) leaves the key its
    // window's focus; only a real change of focus disables the Init button.
    const Qt::FocusReason reason = event->reason();
    if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) return;
    emit focusChanged(this, false);
}

bool KeyButtonClass::performKeyEquivalent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Space) return false;
    event->accept();
    return true;
}

void KeyButtonClass::keyPressEvent(QKeyEvent* event) {
    if (!performKeyEquivalent(event)) QPushButton::keyPressEvent(event);
}

void KeyButtonClass::keyReleaseEvent(QKeyEvent* event) {
    if (!performKeyEquivalent(event)) QPushButton::keyReleaseEvent(event);
}

void KeyButtonClass::dragEnterEvent(QDragEnterEvent* event) {
    if (!isAssignable() || !event->mimeData()->hasFormat(QString::fromLatin1(kKeytopMimeType))) {
        event->ignore();
        return;
    }
    if (!isFirstResponder()) setFocus(Qt::OtherFocusReason);
    event->acceptProposedAction();
}

void KeyButtonClass::dragLeaveEvent(QDragLeaveEvent* event) {
    QPushButton::dragLeaveEvent(event);
    if (isAssignable() && isFirstResponder()) clearFocus();
}

void KeyButtonClass::dropEvent(QDropEvent* event) {
    const QByteArray payload = event->mimeData()->data(QString::fromLatin1(kKeytopMimeType));
    const std::uint32_t code = KeyButtonModel::keycodeFromDropText(payload);
    setKeycode(code);
    event->acceptProposedAction();
    emit keytopDropped(this, code);
}
