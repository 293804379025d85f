// The rules of one key of the editor's keyboard picture, kept apart from the
// widget so that they can be exercised without a window: base code and key
// code, the default for the key, assignability, the sibling bond with the
// key's twin on the other layer page, the key's outline and its overlay
// colours. KeyButtonClass is the thin view of this model.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QColor>
#include <QPainterPath>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include "editor/keymap_type_number.h"

class KeyButtonModel {
public:
    // What the view does when the key code changes: new cap image, redraw,
    // and the Init button when the key has focus.
    class View {
    public:
        virtual void keycodeDidChange() = 0;

    protected:
        ~View() = default;
    };

    static constexpr std::uint32_t kReturnKey = 0x28;
    static constexpr std::uint32_t kKeypadEnter = 0x58;
    static constexpr std::uint32_t kFNKey = 0xFE;
    static constexpr std::uint32_t kFNKey2 = 0xFF;

    explicit KeyButtonModel(View* view = nullptr);
    ~KeyButtonModel();
    KeyButtonModel(const KeyButtonModel&) = delete;
    KeyButtonModel& operator=(const KeyButtonModel&) = delete;

    View* view() const { return view_; }

    // Facts read when the page is loaded.
    KeymapTypeNumber keymapType() const { return keymapType_; }
    void setKeymapType(KeymapTypeNumber type) { keymapType_ = type; }
    void setBounds(QSizeF size) { bounds_ = size; }
    QSizeF bounds() const { return bounds_; }
    QRectF labelFrame() const { return labelFrame_; }
    void setLabelFrame(const QRectF& frame) { labelFrame_ = frame; }

    std::uint32_t basecode() const { return basecode_; }
    std::uint32_t defaultBasecode() const { return defaultBasecode_; }
    void setDefaultBasecode(std::uint32_t code) { defaultBasecode_ = code; }
    std::uint32_t keycode() const { return keycode_; }
    std::uint32_t defaultKeycode() const { return defaultKeycode_; }

    // New base code: new outline and default key code; drops the sibling.
    // The key code is left alone.
    void setBasecode(std::uint32_t code);
    // New key code (ignored when not assignable); the sibling follows.
    void setKeycode(std::uint32_t code);
    void restoreKeycode() { setKeycode(defaultKeycode_); }

    bool isAssignable() const { return !labelFrame_.isEmpty(); }
    bool isKeycodeChanged() const { return isAssignable() && keycode_ != defaultKeycode_; }
    bool isFNKey() const { return basecode_ == kFNKey || basecode_ == kFNKey2; }

    // Links this key to a twin of the same base code (or unlinks with null);
    // the bond is made mutual and the former partners of both are released.
    void setSibling(KeyButtonModel* sibling);
    KeyButtonModel* sibling() const { return sibling_; }

    const QPainterPath& maskPath() const { return maskPath_; }
    void setMaskPath(const QPainterPath& path) { maskPath_ = path; }
    const QColor& changedColor() const { return changedColor_; }
    void setChangedColor(const QColor& color) { changedColor_ = color; }
    const QColor& highlightColor() const { return highlightColor_; }
    void setHighlightColor(const QColor& color) { highlightColor_ = color; }

    // The overlay to paint over the key: the highlight wins over the changed
    // tint; nothing when neither applies or the chosen colour is none.
    std::optional<QColor> overlayColor(bool highlighted) const;

    static QColor initialChangedColor();
    static QColor initialHighlightColor();

    // Outline of a key with this base code on a page of this type: the
    // L-shaped JIS Return key (which sends keypad Enter on the FN page), else
    // a rounded rectangle over the bounds.
    static QPainterPath outlineFor(std::uint32_t basecode, KeymapTypeNumber type, QSizeF bounds);
    static QPainterPath jisReturnOutline();

    // The cap area of a key: the marker's rectangle moved into the button's
    // coordinates when the marker lies inside the button's frame (edges may
    // coincide), else an empty rectangle.
    static QRectF labelFrameFromMarker(const QRectF& buttonFrame, const QRectF& markerFrame);

    // The button's title read as hexadecimal ("%x"); 0 when it is not.
    static std::uint32_t basecodeFromTitle(const QString& title);
    // 2 when the keyboard picture's image name ends in "jis", else 1.
    static KeymapTypeNumber keymapTypeForImageName(const QString& imageName);
    // A dropped key cap's payload: leading blanks, optional sign, digits
    // (0 when none), as a signed 32-bit number taken as unsigned.
    static std::uint32_t keycodeFromDropText(const QByteArray& text);

private:
    void link(KeyButtonModel* sibling);

    View* view_;
    KeymapTypeNumber keymapType_ = kKeymapTypeANSI;
    QSizeF bounds_;
    std::uint32_t basecode_ = 0;
    std::uint32_t defaultBasecode_ = 0;
    std::uint32_t keycode_ = 0;
    std::uint32_t defaultKeycode_ = 0;
    QRectF labelFrame_;
    QPainterPath maskPath_;
    QColor changedColor_ = initialChangedColor();
    QColor highlightColor_ = initialHighlightColor();
    KeyButtonModel* sibling_ = nullptr;
    // Keys whose sibling is this one (a bond may be one-way), so that none is
    // left pointing at a destroyed key.
    std::vector<KeyButtonModel*> referrers_;
};
