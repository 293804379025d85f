// The editor's windows: key buttons set up from the generated pages, clicks,
// focus, drops and painting, the page operations and the keyboard menu.
#include <memory>

#include <QAction>
#include <QLabel>
#include <QMenuBar>
#include <QFrame>
#include <QMainWindow>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include "about/about_win.h"
#include "editor/app_delegate.h"
#include "editor/image_view.h"
#include "editor/key_button.h"
#include "editor/keyboard_tab.h"
#include "editor/layout/keyboard_layout.h"
#include "editor/named_images.h"
#include "editor/tests/keys.h"
#include "errors/app_identity.h"
#include "keymap/keymap.h"

namespace {

QString labelOf(const vexa::layout::PageSpec& page) {
    return QString::fromLatin1(page.label.data(), qsizetype(page.label.size()));
}

// Sends a drag of a key cap payload onto the button; true when it was accepted.
bool dragOnto(KeyButtonClass* button, const QByteArray& payload, const char* type = KeyButtonClass::kKeytopMimeType) {
    QMimeData mime;
    mime.setData(QString::fromLatin1(type), payload);
    const QPoint centre = button->rect().center();
    QDragEnterEvent enter(centre, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(button, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(QPointF(centre), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(button, &drop);
    return true;
}

// A 44-point key with a cap marker at the top-left of the page, set up from its title.
KeyButtonClass* assignableKeyOn(QWidget& page, const QString& title) {
    auto* marker = new QWidget(&page);
    marker->setGeometry(10, 8, 24, 27);
    auto* button = new KeyButtonClass(&page);
    button->setGeometry(0, 0, 44, 44);
    button->setText(title);
    button->awakeFromNib();
    return button;
}

// A widget subclass without a meta-object of its own: still not a plain widget.
struct PlainSubclass : QWidget {
    using QWidget::QWidget;
};

}  // namespace

class EditorTest : public QObject {
    Q_OBJECT

    std::unique_ptr<AppDelegateClass> app;

    KeyboardTab* tab() const { return app->keyboardTab; }

    KeyButtonClass* key(const QString& label, std::uint32_t code) const { return vexa::test::keyOn(tab(), label, code); }

    bool showWindow() const {
        app->mainWindow()->show();
        app->mainWindow()->activateWindow();
        return QTest::qWaitForWindowActive(app->mainWindow());
    }

    // Clicks the window at a point given in the button's coordinates, so
    // the event finds its receiver the way a real click does.
    static void clickAt(KeyButtonClass* button, QPoint local) {
        QTest::mouseClick(button->window()->windowHandle(), Qt::LeftButton, {}, button->mapTo(button->window(), local));
    }

private slots:
    void init() {
        app = std::make_unique<AppDelegateClass>();
        tab()->bindSiblingsANSI();
        tab()->bindSiblingsJIS();
        tab()->selectKeymapType(kKeymapTypeANSI);
    }

    void cleanup() { app.reset(); }

    void buttonsAreSetUpFromTheirPage() {
        for (const vexa::layout::PageSpec& page : vexa::layout::pages()) {
            const QString label = labelOf(page);
            const KeyButtonSet buttons = tab()->allKeyButtonsInLabel(label);
            const std::vector<vexa::layout::PlacedKey> keys = vexa::layout::placeKeys(page);
            QCOMPARE(buttons.size(), qsizetype(keys.size()));
            const KeymapTypeNumber type = page.board == vexa::layout::Board::Jis ? kKeymapTypeJIS : kKeymapTypeANSI;
            Keymap defaults;
            type == kKeymapTypeJIS ? KZ714defaultOrlaJISKeymap(defaults) : KZ714defaultOrlaANSIKeymap(defaults);
            for (const vexa::layout::PlacedKey& placed : keys) {
                const auto at = QPoint(int(placed.x + placed.width / 2), int(placed.y + placed.height / 2));
                auto* button = qobject_cast<KeyButtonClass*>(tab()->tabViewItemWithLabel(label)->childAt(at));
                QVERIFY2(button != nullptr, qPrintable(label));
                QVERIFY(buttons.contains(button));
                QCOMPARE(button->text(), QString());
                QCOMPARE(button->keymapType(), type);
                QCOMPARE(button->basecode(), std::uint32_t(placed.code));
                QCOMPARE(button->defaultBasecode(), std::uint32_t(placed.code));
                QCOMPARE(button->isAssignable(), placed.assignable);
                QCOMPARE(button->acceptDrops(), placed.assignable);
                if (placed.assignable) {
                    QCOMPARE(button->labelFrame(), QRectF(placed.capX - placed.x, placed.capY - placed.y, 24, 27));
                    QCOMPARE(button->keycode(), std::uint32_t(defaults[placed.code]));
                    QCOMPARE(button->image().name, QStringLiteral("%1-%2").arg(type).arg(defaults[placed.code]));
                } else {
                    QCOMPARE(button->keycode(), 0u);
                    QVERIFY(button->image().isNull());
                }
            }
        }
        QCOMPARE(key("jis", 0x35)->keycode(), 227u);  // JIS default of the Zenkaku key
    }

    void capAreaComesFromAPlainMarkerInsideTheButton_data() {
        QTest::addColumn<QString>("marker");
        QTest::addColumn<QRect>("markerFrame");
        QTest::addColumn<QRectF>("labelFrame");
        QTest::newRow("plain, touching the edge") << "QWidget" << QRect(100, 50, 24, 27) << QRectF(0, 0, 24, 27);
        QTest::newRow("plain, reaching outside") << "QWidget" << QRect(99, 58, 24, 27) << QRectF();
        QTest::newRow("image view inside") << "ImageView" << QRect(110, 58, 24, 27) << QRectF();
        QTest::newRow("framed widget inside") << "QFrame" << QRect(110, 58, 24, 27) << QRectF();
        QTest::newRow("widget subclass inside") << "subclass" << QRect(110, 58, 24, 27) << QRectF();
        QTest::newRow("no marker") << "" << QRect() << QRectF();
    }

    void capAreaComesFromAPlainMarkerInsideTheButton() {
        QFETCH(QString, marker);
        QFETCH(QRect, markerFrame);
        QFETCH(QRectF, labelFrame);
        QWidget page;
        auto* picture = new ImageView(&page);
        picture->setImageName(QStringLiteral("keyboard_jis"));
        picture->setGeometry(0, 0, 400, 200);
        QWidget* capMarker = marker == "QWidget"     ? new QWidget(&page)
                             : marker == "ImageView" ? new ImageView(&page)
                             : marker == "QFrame"    ? new QFrame(&page)
                             : marker == "subclass"  ? static_cast<QWidget*>(new PlainSubclass(&page))
                                                     : nullptr;
        if (capMarker != nullptr) capMarker->setGeometry(markerFrame);
        auto* button = new KeyButtonClass(&page);
        button->setGeometry(100, 50, 44, 44);
        button->setText(QStringLiteral("2e"));
        button->awakeFromNib();
        QCOMPARE(button->labelFrame(), labelFrame);
        QCOMPARE(button->isAssignable(), !labelFrame.isEmpty());
        QCOMPARE(button->keymapType(), kKeymapTypeJIS);
        QCOMPARE(button->basecode(), 0x2Eu);
        QCOMPARE(button->keycode(), labelFrame.isEmpty() ? 0u : 0x2Eu);
    }

    void aKeyAloneSaysWhatHappened() {
        // A page of one key and no application object.
        QWidget page;
        page.resize(100, 60);
        KeyButtonClass* button = assignableKeyOn(page, QStringLiteral("39"));
        auto* other = new QPushButton(&page);
        other->setGeometry(50, 0, 44, 44);
        page.show();
        page.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&page));
        QSignalSpy clicked(button, &KeyButtonClass::keyClicked);
        QSignalSpy focus(button, &KeyButtonClass::focusChanged);
        QSignalSpy changed(button, &KeyButtonClass::keycodeChangedWhileFocused);

        button->setKeycode(0xE0);  // not focused: no signal
        QCOMPARE(changed.count(), 0);
        QTest::mouseClick(page.windowHandle(), Qt::LeftButton, {}, QPoint(22, 22));
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(clicked[0][0].value<KeyButtonClass*>(), button);
        QCOMPARE(focus.count(), 1);
        QCOMPARE(focus[0][1].toBool(), true);
        button->setKeycode(0x39);
        QCOMPARE(changed.count(), 1);
        other->setFocus(Qt::TabFocusReason);
        QCOMPARE(focus.count(), 2);
        QCOMPARE(focus[1][1].toBool(), false);
        QCOMPARE(button->image().name, QStringLiteral("1-57"));  // the cap, without an application object
    }

    void titlesAndPicturesDecideCodeAndType() {
        QWidget page;  // no keyboard picture: an ANSI key
        KeyButtonClass* button = assignableKeyOn(page, QStringLiteral("Return"));
        QCOMPARE(button->keymapType(), kKeymapTypeANSI);
        QCOMPARE(button->basecode(), 0u);
        QCOMPARE(button->text(), QString());
    }

    void jisReturnTakesClicksOnlyInsideItsOutline() {
        QVERIFY(showWindow());
        tab()->selectKeymapType(kKeymapTypeJIS);
        KeyButtonClass* enter = key("jis", 0x28);
        KeyButtonClass* bracket = key("jis", 0x32);  // "]" beside the lower part
        QVERIFY(enter && bracket);
        QVERIFY(enter->maskPath() == KeyButtonModel::jisReturnOutline());
        QVERIFY(key("ansi", 0x28)->maskPath() != KeyButtonModel::jisReturnOutline());
        QVERIFY(key("jis", 0x04)->maskPath() != KeyButtonModel::jisReturnOutline());
        QSignalSpy enterClicks(enter, &QAbstractButton::clicked);
        QSignalSpy bracketClicks(bracket, &QAbstractButton::clicked);

        // In the cut-away corner of the frame: the click reaches the "]" key.
        QVERIFY(!enter->hitButton(QPoint(5, 80)));
        clickAt(enter, QPoint(5, 80));
        QCOMPARE(enterClicks.count(), 0);
        QCOMPARE(bracketClicks.count(), 1);
        QVERIFY(bracket->hasFocus());

        // The rounded top-left corner belongs to the picture beneath.
        QVERIFY(!enter->hitButton(QPoint(0, 0)));
        QVERIFY(qobject_cast<ImageView*>(enter->parentWidget()->childAt(enter->geometry().topLeft() + QPoint(0, 0))));
        clickAt(enter, QPoint(0, 0));
        QCOMPARE(enterClicks.count(), 0);

        clickAt(enter, QPoint(33, 20));
        QCOMPARE(enterClicks.count(), 1);
        QVERIFY(enter->hasFocus());
        QCOMPARE(enter->focusRingMaskBounds(), QRectF(0, 0, 66, 89));
    }

    void outlineCoversTheBoundsOfTheMoment() {
        QWidget page;
        auto* button = new KeyButtonClass(&page);
        button->setGeometry(0, 0, 44, 44);
        button->setBasecode(0x04);  // never loaded from a page
        QCOMPARE(button->maskPath().boundingRect(), QRectF(0, 0, 44, 44));
        QVERIFY(button->hitButton(QPoint(22, 22)));
        button->resize(66, 44);
        button->setBasecode(0x05);
        QCOMPARE(button->maskPath().boundingRect(), QRectF(0, 0, 66, 44));
        QVERIFY(button->hitButton(QPoint(60, 22)));

        // Without an outline the key takes no click: it reaches what lies beneath.
        auto* beneath = new QPushButton(&page);
        beneath->setGeometry(0, 0, 66, 44);
        beneath->lower();
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QSignalSpy beneathClicks(beneath, &QAbstractButton::clicked);
        QSignalSpy keyClicks(button, &QAbstractButton::clicked);
        button->setMaskPath(QPainterPath());
        QVERIFY(!button->hitButton(QPoint(22, 22)));
        QTest::mouseClick(page.windowHandle(), Qt::LeftButton, {}, QPoint(22, 22));
        QCOMPARE(keyClicks.count(), 0);
        QCOMPARE(beneathClicks.count(), 1);
    }

    void notAssignableKeyIgnoresCodesAndFocus() {
        QVERIFY(showWindow());
        tab()->selectKeymapType(kKeymapTypeJIS);
        KeyButtonClass* fn = key("jis", 0xFE);
        QVERIFY(fn && !fn->isAssignable());
        fn->setKeycode(4);
        QCOMPARE(fn->keycode(), 0u);
        QVERIFY(fn->image().isNull());
        QVERIFY(!dragOnto(fn, "4"));
        clickAt(fn, QPoint(22, 22));
        QVERIFY(!fn->hasFocus());

        // Asked directly, it refuses: the focus is given up, not kept.
        tab()->selectKeymapType(kKeymapTypeJIS);  // the click above went to "jis_fn"
        KeyButtonClass* a = key("jis", 0x04);
        clickAt(a, QPoint(22, 22));
        a->setKeycode(0x29);
        QVERIFY(app->initButton->isEnabled());
        fn->setFocus(Qt::OtherFocusReason);
        QVERIFY(!fn->hasFocus());
        QVERIFY(!a->isFirstResponder());
        QVERIFY(app->mainWindow()->focusWidget() == nullptr);
        QVERIFY(!app->initButton->isEnabled());
    }

    void droppedCapsAreStoredAsUnsigned() {
        QVERIFY(showWindow());
        KeyButtonClass* a = key("ansi", 0x04);
        QVERIFY(dragOnto(a, "41"));
        QCOMPARE(a->keycode(), 41u);
        QCOMPARE(a->image().name, QStringLiteral("1-41"));
        QVERIFY(a->isFirstResponder());  // entering a drag focuses the key

        QVERIFY(dragOnto(a, "-1"));
        QCOMPARE(a->keycode(), 4294967295u);
        QVERIFY(a->image().isNull());
        Keymap table;
        tab()->getKeymapANSI(table);
        QCOMPARE(table[0x04], std::uint8_t(0x04));  // left out: keeps the default

        QVERIFY(!dragOnto(a, "7", "text/plain"));
        QCOMPARE(a->keycode(), 4294967295u);

        // Leaving without a drop gives the focus up again.
        QMimeData mime;
        mime.setData(QString::fromLatin1(KeyButtonClass::kKeytopMimeType), "5");
        KeyButtonClass* b = key("ansi", 0x05);
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(b, &enter);
        QVERIFY(b->isFirstResponder());
        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(b, &leave);
        QVERIFY(!b->isFirstResponder());
    }

    void fnToggleSwitchesPagesAndHoldsTheFnKeys() {
        QCOMPARE(tab()->selectedLabel(), QStringLiteral("ansi"));
        tab()->toggleFNMode();
        QCOMPARE(tab()->selectedLabel(), QStringLiteral("ansi_fn"));
        QVERIFY(key("ansi_fn", 0xFE)->isHighlighted());
        QVERIFY(!key("ansi", 0xFE)->isHighlighted());
        tab()->toggleFNMode();
        QCOMPARE(tab()->selectedLabel(), QStringLiteral("ansi"));
        QVERIFY(key("ansi_fn", 0xFE)->isHighlighted());

        // Clicking an FN key toggles too; JIS has two FN keys.
        tab()->selectKeymapType(kKeymapTypeJIS);
        key("jis", 0xFF)->click();
        QCOMPARE(tab()->selectedLabel(), QStringLiteral("jis_fn"));
        QVERIFY(key("jis_fn", 0xFE)->isHighlighted());
        QVERIFY(key("jis_fn", 0xFF)->isHighlighted());
        key("jis_fn", 0xFE)->click();
        QCOMPARE(tab()->selectedLabel(), QStringLiteral("jis"));
        key("jis", 0x04)->click();  // other keys do not switch
        QCOMPARE(tab()->selectedLabel(), QStringLiteral("jis"));
    }

    void assemblyFromDefaultCodesGivesTheDefaultTable() {
        Keymap table, expected;
        tab()->getKeymapJIS(table);
        KZ714defaultOrlaJISKeymap(expected);
        QVERIFY(KZ714compareKeymap(table, expected));
        QCOMPARE(table[53], std::uint8_t(227));
        tab()->getKeymapANSI(table);
        KZ714defaultOrlaANSIKeymap(expected);
        QVERIFY(KZ714compareKeymap(table, expected));
        tab()->getKeymapANSI(nullptr);  // tolerated

        // A change on the base page reaches the FN page's twin.
        key("ansi", 0x14)->setKeycode(0x29);
        QCOMPARE(key("ansi_fn", 0x14)->keycode(), 0x29u);
        key("ansi_fn", 0x4C)->setKeycode(0x2A);  // Delete Forward, twin of Delete
        QCOMPARE(key("ansi", 0x4C)->keycode(), 0x2Au);
        tab()->getKeymapANSI(table);
        expected[0x14] = 0x29;
        expected[0x4C] = 0x2A;
        QVERIFY(KZ714compareKeymap(table, expected));
    }

    void siblingBindingFollowsSharedBaseCodes() {
        // Two buttons of a code: twins; one button: none; FN keys never.
        QVERIFY(key("ansi", 0x14)->sibling() == key("ansi_fn", 0x14));
        QVERIFY(key("ansi_fn", 0x14)->sibling() == key("ansi", 0x14));
        QVERIFY(key("ansi", 0x4C)->sibling() == key("ansi_fn", 0x4C));
        QVERIFY(key("ansi", 0x04)->sibling() == nullptr);
        QVERIFY(key("ansi_fn", 0x81)->sibling() == nullptr);
        QVERIFY(key("ansi", 0xFE)->sibling() == nullptr);
        QVERIFY(key("jis", 0x2F)->sibling() == key("jis_fn", 0x2F));
        QVERIFY(key("jis", 0x28)->sibling() == nullptr);

        // A third button with the code breaks the pair on the next binding.
        KeyButtonSet buttons = tab()->allKeyButtonsANSI();
        KeyButtonClass* third = key("ansi", 0x04);
        third->setBasecode(0x14);
        QVERIFY(third->sibling() == nullptr);
        KeyboardTab::bindSiblingsInKeyButtons(buttons);
        QVERIFY(key("ansi_fn", 0x14)->sibling() == nullptr);
        QVERIFY(third->sibling() == nullptr);
        QCOMPARE(tab()->findKeyButtonsForBasecodeInLabel(0x14, "ansi")->size(), 2);
        QCOMPARE(tab()->findKeyButtonsForDefaultBasecodeInLabel(0x04, "ansi")->size(), 1);
    }

    void searchesAndSelection() {
        QVERIFY(!tab()->findKeyButtonsForBasecodeInLabel(0x99, "ansi"));
        QVERIFY(!tab()->findKeyButtonsForBasecodeInLabel(0x04, "nowhere"));
        QVERIFY(tab()->allKeyButtonsInLabel("nowhere").isEmpty());
        QVERIFY(!tab()->findKeyButtonsForDefaultBasecodeInLabel(0x99, "jis"));
        QCOMPARE(tab()->allKeyButtonsJIS().size(), 136);
        QCOMPARE(tab()->findKeyButtonsInCurrentLabelForBasecode(0x31)->size(), 1);
        QVERIFY(!tab()->findKeyButtonsInCurrentLabelForBasecode(0x89));  // a JIS-only key
        KeyButtonSet fnPage = tab()->allKeyButtonsInLabel("ansi_fn");
        QCOMPARE(KeyboardTab::keycodeForBasecodeInKeyButtons(0x3A, fnPage), 0x3Au);
        QCOMPARE(KeyboardTab::keycodeForBasecodeInKeyButtons(0x04, fnPage), 0u);

        const struct {
            const char* label;
            KeymapTypeNumber type;
        } pages[] = {{"ansi", 1}, {"ansi_fn", 1}, {"jis", 2}, {"jis_fn", 2}};
        for (const auto& page : pages) {
            tab()->selectTabViewItemWithLabel(page.label);
            QCOMPARE(tab()->selectedLabel(), QString::fromLatin1(page.label));
            QCOMPARE(tab()->selectedKeymapType(), page.type);
        }
        tab()->selectTabViewItemWithLabel("nowhere");
        QCOMPARE(tab()->selectedLabel(), QStringLiteral("jis_fn"));
        tab()->selectKeymapType(3);
        QCOMPARE(tab()->selectedLabel(), QStringLiteral("ansi"));
    }

    void keyboardMenu() {
        QMenu menu;
        QAction* ansi = menu.addAction(QStringLiteral("ANSI"));
        QAction* jis = menu.addAction(QStringLiteral("JIS"));
        QAction* third = menu.addAction(QStringLiteral("third"));
        for (QAction* item : {ansi, jis, third}) item->setCheckable(true);
        QCOMPARE(AppDelegateClass::keymapTypeForMenuItem(ansi), kKeymapTypeANSI);
        QCOMPARE(AppDelegateClass::keymapTypeForMenuItem(jis), kKeymapTypeJIS);
        QCOMPARE(AppDelegateClass::keymapTypeForMenuItem(third), kKeymapTypeANSI);

        // The main window is not key: disabled, check marks untouched.
        jis->setChecked(true);
        QVERIFY(!app->mainWindow()->isActiveWindow());
        QVERIFY(!app->validateKeyboardMenuItem(ansi));
        QVERIFY(!app->validateKeyboardMenuItem(jis));
        QVERIFY(!ansi->isChecked());
        QVERIFY(jis->isChecked());

        QVERIFY(showWindow());
        QVERIFY(app->validateKeyboardMenuItem(ansi));
        QVERIFY(app->validateKeyboardMenuItem(jis));
        QVERIFY(ansi->isChecked());
        QVERIFY(!jis->isChecked());

        app->selectKeyboardByMenuItem(jis);
        QCOMPARE(tab()->selectedLabel(), QStringLiteral("jis"));
        tab()->toggleFNMode();
        QVERIFY(app->validateKeyboardMenuItem(ansi) && app->validateKeyboardMenuItem(jis));
        QVERIFY(!ansi->isChecked());
        QVERIFY(jis->isChecked());
        app->selectKeyboardByMenuItem(third);
        QCOMPARE(tab()->selectedLabel(), QStringLiteral("ansi"));

        // An item made without a check mark still gets its state.
        QMenu plainMenu;
        QAction* plainAnsi = plainMenu.addAction(QStringLiteral("ANSI"));
        QAction* plainJis = plainMenu.addAction(QStringLiteral("JIS"));
        QVERIFY(app->validateKeyboardMenuItem(plainAnsi) && app->validateKeyboardMenuItem(plainJis));
        QVERIFY(plainAnsi->isChecked());
        QVERIFY(!plainJis->isChecked());

        // Without any keyboard known to be attached the editor starts on ANSI.
        tab()->selectKeymapType(kKeymapTypeJIS);
        app->selectKeyboard();
        QCOMPARE(tab()->selectedLabel(), QStringLiteral("ansi"));
    }

    void spaceBarNeverPressesAKey() {
        QVERIFY(showWindow());
        KeyButtonClass* a = key("ansi", 0x04);
        clickAt(a, QPoint(22, 22));
        QVERIFY(a->hasFocus());
        QSignalSpy clicks(a, &QAbstractButton::clicked);
        QTest::keyClick(a, Qt::Key_Space);
        QCOMPARE(clicks.count(), 0);
        QCOMPARE(a->keycode(), 4u);
        QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        QVERIFY(a->performKeyEquivalent(&space));
        QKeyEvent letter(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
        QVERIFY(!a->performKeyEquivalent(&letter));
    }

    void initButtonFollowsTheFocusedKey() {
        QVERIFY(showWindow());
        KeyButtonClass* a = key("ansi", 0x04);
        KeyButtonClass* b = key("ansi", 0x05);
        QVERIFY(!app->initButton->isEnabled());
        clickAt(a, QPoint(22, 22));
        QVERIFY(!app->initButton->isEnabled());
        a->setKeycode(0x29);  // changed while focused
        QVERIFY(app->initButton->isEnabled());
        clickAt(b, QPoint(22, 22));  // an unchanged key takes the focus
        QVERIFY(!app->initButton->isEnabled());
        clickAt(a, QPoint(22, 22));
        QVERIFY(app->initButton->isEnabled());
        a->restoreKeycode();
        QVERIFY(!app->initButton->isEnabled());
    }

    void windowButtonsLeaveTheKeyFocused() {
        // Clicking Init must reach it while the changed key keeps the focus;
        // the window's buttons, like the palette, never take it on a click.
        // Init then restores the key and its twin, and disables itself.
        QVERIFY(showWindow());
        KeyButtonClass* q = key("ansi", 0x14);
        clickAt(q, QPoint(22, 22));
        q->setKeycode(0x29);
        QCOMPARE(key("ansi_fn", 0x14)->keycode(), 0x29u);
        QVERIFY(app->initButton->isEnabled());
        QSignalSpy initClicks(app->initButton, &QAbstractButton::clicked);
        QWidget* window = app->mainWindow();
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {},
                          app->initButton->mapTo(window, app->initButton->rect().center()));
        QCOMPARE(initClicks.count(), 1);
        QVERIFY(q->isFirstResponder());
        QCOMPARE(q->keycode(), 0x14u);
        QCOMPARE(key("ansi_fn", 0x14)->keycode(), 0x14u);
        QVERIFY(!app->initButton->isEnabled());
        // With the focus elsewhere, Init does nothing.
        q->setKeycode(0x29);
        q->clearFocus();
        app->restoreFocusedKey();
        QCOMPARE(q->keycode(), 0x29u);
        for (const char* name : {"applyButton", "okButton", "licenseButton"}) {
            auto* button = window->findChild<QPushButton*>(QLatin1String(name));
            QVERIFY2(button != nullptr, name);
            QVERIFY2(!(button->focusPolicy() & Qt::ClickFocus), name);
        }
    }

    void keyIsPaintedWithOneOverlay() {
        KeyButtonClass* a = key("ansi", 0x04);
        const QImage plain = a->grab().toImage();
        a->setKeycode(0x05);
        const QImage changed = a->grab().toImage();
        a->setHighlighted(true);
        const QImage changedAndHeld = a->grab().toImage();
        a->restoreKeycode();
        const QImage held = a->grab().toImage();
        QVERIFY(changed != plain);
        QVERIFY(changedAndHeld != changed);
        QCOMPARE(changedAndHeld.pixel(3, 22), held.pixel(3, 22));  // outside the cap
        // The changed tint is bluish, the highlight darkens.
        const QColor tint = changed.pixelColor(3, 22), base = plain.pixelColor(3, 22);
        QVERIFY(tint.blue() >= base.blue() && tint.red() < base.red());
        QVERIFY(held.pixelColor(3, 22).lightness() < base.lightness());
    }

    void keycapImagesAreCutFromTheSheetOnce() {
        const vexa::NamedImage a = app->keytopImageForKeycodeKeymapType(4, kKeymapTypeANSI);
        QCOMPARE(a.name, QStringLiteral("1-4"));
        QCOMPARE(a.pixmap.deviceIndependentSize(), QSizeF(24, 27));
        QCOMPARE(app->keytopImageForKeycodeKeymapType(4, kKeymapTypeANSI).pixmap.cacheKey(), a.pixmap.cacheKey());
        QVERIFY(app->keytopImageForKeycodeKeymapType(256, kKeymapTypeANSI).isNull());
        QCOMPARE(app->keytopImageForKeycodeKeymapType(255, 3).name, QStringLiteral("3-255"));

        // Cap 0x2E sits in column 14, row 2 counted from the bottom of the sheet.
        const vexa::NamedImage sheet = vexa::imageNamed(QStringLiteral("keytop_ansi"));
        QVERIFY(!sheet.isNull());
        const QRectF rect = vexa::keycapRectInSheet(0x2E, sheet.pixmap.deviceIndependentSize().height());
        QCOMPARE(rect, QRectF(14 * 34 + 10, sheet.pixmap.deviceIndependentSize().height() - (2 * 37 + 10) - 27, 24, 27));
        const qreal scale = sheet.pixmap.devicePixelRatio();
        QImage fromSheet = sheet.pixmap.toImage().copy(QRectF(rect.topLeft() * scale, rect.size() * scale).toRect());
        fromSheet.setDevicePixelRatio(1);
        QImage cut = app->keytopImageForKeycodeKeymapType(0x2E, kKeymapTypeANSI).pixmap.toImage();
        cut.setDevicePixelRatio(1);
        QCOMPARE(cut.convertToFormat(fromSheet.format()), fromSheet);

        // Keys that differ by layout look different on the two sheets; the
        // no-key cap is an empty cap, not nothing.
        QVERIFY(app->keytopImageForKeycodeKeymapType(0x2E, kKeymapTypeJIS).pixmap.toImage() != cut);
        const QImage blank = app->keytopImageForKeycodeKeymapType(0, kKeymapTypeANSI).pixmap.toImage();
        QVERIFY(qAlpha(blank.pixel(blank.width() / 2, blank.height() / 2)) == 255);
    }

    void terminateWithMessageEndsTheProgram() {
        QProcess probe;
        probe.start(QStringLiteral(TERMINATE_PROBE), {});
        QVERIFY(probe.waitForFinished(60000));
        QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
        QCOMPARE(probe.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(probe.readAllStandardOutput()),
                 QStringLiteral("text=Driver is not loaded.|detail=You need to install driver again.\n"
                                "will-terminate\n"));
    }

    void aboutWindowOpensFromTheApplicationMenu() {
        // The first menu holds About and Quit.
        const QList<QAction*> first = app->mainWindow()->menuBar()->actions().front()->menu()->actions();
        QAction* about = app->mainWindow()->findChild<QAction*>(QStringLiteral("actionAbout"));
        QVERIFY(about != nullptr && first.contains(about));
        about->trigger();
        AboutWinClass* window = app->aboutWindow();
        QVERIFY(window != nullptr && window->isVisible());
        QCOMPARE(window->findChild<QLabel*>(QStringLiteral("verText"))->text(),
                 QStringLiteral("Ver ") + QString::fromUtf8(vexa::appIdentity().shortVersion));
        about->trigger();
        QCOMPARE(app->aboutWindow(), window);  // one window, brought forward again
        // Closed, it goes; the editor stays, though no other window is shown.
        QSignalSpy lastWindowClosed(qApp, &QGuiApplication::lastWindowClosed);
        window->close();
        QTRY_VERIFY(app->aboutWindow() == nullptr);
        QCOMPARE(lastWindowClosed.count(), 0);
    }
};

QTEST_MAIN(EditorTest)
#include "editor_test.moc"
