// One key of the editor's keyboard picture: a push button that shows the key
// cap of the output assigned to the key, takes dropped key caps, tints itself
// when its output differs from the default and darkens while highlighted.
// The rules live in KeyButtonModel; this class reads its set-up from the page
// it lies on, draws and handles events, and says what happened through its
// signals: it knows nothing of the window's owner, which connects them.
// Screen readers and UI automation find a key by its accessible name (the
// key's legend) and read what it sends now from its accessible description.
#pragma once

#include <cstdint>

#include <QPushButton>

#include "editor/key_button_model.h"
#include "editor/keytop_list.h"
#include "editor/named_images.h"

class KeyButtonClass : public QPushButton, private KeyButtonModel::View {
    Q_OBJECT

public:
    // Drag type of a key cap; the payload is the key code as decimal text.
    static constexpr const char* kKeytopMimeType = vexa::keytops::kMimeType;

    explicit KeyButtonClass(QWidget* parent = nullptr);
    ~KeyButtonClass() override;

    // Set-up once the page is loaded: keyboard type from the page's picture,
    // cap area from the marker inside the button, base code from the title
    // (hexadecimal), then the default key code.
    void awakeFromNib();
    QRectF findLabelFrame() const;

    void setBasecode(std::uint32_t code);
    void setKeycode(std::uint32_t code) { model_.setKeycode(code); }
    void restoreKeycode() { model_.restoreKeycode(); }
    bool isKeycodeChanged() const { return model_.isKeycodeChanged(); }
    bool isAssignable() const { return model_.isAssignable(); }
    bool isFNKey() const { return model_.isFNKey(); }
    void setSibling(KeyButtonClass* sibling);

    std::uint32_t basecode() const { return model_.basecode(); }
    std::uint32_t defaultBasecode() const { return model_.defaultBasecode(); }
    void setDefaultBasecode(std::uint32_t code) { model_.setDefaultBasecode(code); }
    std::uint32_t keycode() const { return model_.keycode(); }
    std::uint32_t defaultKeycode() const { return model_.defaultKeycode(); }
    KeymapTypeNumber keymapType() const { return model_.keymapType(); }
    QRectF labelFrame() const { return model_.labelFrame(); }
    const QPainterPath& maskPath() const { return model_.maskPath(); }
    void setMaskPath(const QPainterPath& path);
    QColor changedColor() const { return model_.changedColor(); }
    void setChangedColor(const QColor& color) { model_.setChangedColor(color); }
    QColor highlightColor() const { return model_.highlightColor(); }
    void setHighlightColor(const QColor& color) { model_.setHighlightColor(color); }
    KeyButtonClass* sibling() const;
    KeyButtonModel& model() { return model_; }

    // The key cap image of the assigned output (null when there is none),
    // cut from its sheet when first asked for (painted, mostly): keys of a
    // page never shown never decode their keyboard's sheet.
    const vexa::NamedImage& image() const;

    // Highlighted: a pressed key of the keyboard, a held FN key, or the mouse
    // holding the button down.
    void setHighlighted(bool highlighted);
    bool isHighlighted() const { return highlighted_ || isDown(); }

    // True when the key has the focus of its window (its first responder).
    bool isFirstResponder() const;

    // The space bar never presses a key button: handled, nothing done.
    bool performKeyEquivalent(QKeyEvent* event);
    QRectF focusRingMaskBounds() const;

    // Hits inside the key's outline only.
    bool hitButton(const QPoint& pos) const override;

signals:
    // Released inside the key after a press (every key, FN keys included).
    void keyClicked(KeyButtonClass* button);
    // The key took the focus of its window (true) or gave it up (false).
    void focusChanged(KeyButtonClass* button, bool focused);
    // The key code changed while the key had the focus.
    void keycodeChangedWhileFocused(KeyButtonClass* button);
    // A key cap was dropped on the key; the key already holds its code.
    void keytopDropped(KeyButtonClass* button, std::uint32_t keycode);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void keycodeDidChange() override;
    void drawFocusRingMask(QPainter& painter) const;
    void emitClicked();
    // What the key sends now, for screen readers.
    void describeKeycode();

    KeyButtonModel model_{this};
    mutable vexa::NamedImage image_;
    mutable bool imageIsCurrent_ = false;
    bool highlighted_ = false;
};
