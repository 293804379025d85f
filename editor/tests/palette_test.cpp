// The key cap palette: its lists and grid, its drags onto keys, and the
// accessible names of caps and keys.
#include <memory>
#include <set>

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QMainWindow>
#include <QMimeData>
#include <QtTest>

#include "editor/app_delegate.h"
#include "editor/key_names.h"
#include "editor/keycap_palette.h"
#include "editor/keytop_list.h"
#include "editor/tests/keys.h"

namespace {

// Delivers a drag of the MIME data onto the button as the window system
// would: enter, then drop. True when the button accepted the drag.
bool dropOnto(KeyButtonClass* button, const QMimeData* mime) {
    const QPoint centre = button->rect().center();
    QDragEnterEvent enter(centre, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(button, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(QPointF(centre), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(button, &drop);
    return drop.isAccepted();
}

// The palette index whose cap sends `code`.
QModelIndex capFor(const KeyCapPalette& palette, int code) {
    for (int row = 0; row < palette.rowCount(); ++row) {
        for (int column = 0; column < palette.columnCount(); ++column) {
            const QModelIndex index = palette.index(row, column);
            if (index.data(KeyCapPalette::KeycodeRole) == code) return index;
        }
    }
    return {};
}

QString accessibleText(QObject* object, QAccessible::Text which) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(object);
    return face != nullptr ? face->text(which) : QString();
}

}  // namespace

class PaletteTest : public QObject {
    Q_OBJECT

    std::unique_ptr<AppDelegateClass> app;

    KeyButtonClass* key(const QString& label, std::uint32_t code) const {
        return vexa::test::keyOn(app->keyboardTab, label, code);
    }

private slots:
    void init() {
        app = std::make_unique<AppDelegateClass>();
        app->bindSiblings();
    }

    void cleanup() { app.reset(); }

    void gridOfEachKeyboardType_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("caps");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QList<int>>("lastRow");  // key codes; -1 for the empty slot
        QTest::newRow("ANSI") << 1 << 113 << 57 << QList<int>{0x39, -1};
        QTest::newRow("JIS") << 2 << 116 << 58 << QList<int>{0xE3, 0xE7};
        QTest::newRow("neither counts as ANSI") << 0 << 113 << 57 << QList<int>{0x39, -1};
    }

    void gridOfEachKeyboardType() {
        QFETCH(int, type);
        QFETCH(int, caps);
        QFETCH(int, rows);
        QFETCH(QList<int>, lastRow);
        KeyCapPalette palette;
        QAbstractItemModelTester tester(&palette, QAbstractItemModelTester::FailureReportingMode::QtTest);
        palette.configureForKeymapType(type);
        QCOMPARE(palette.keytopList().size(), caps);
        QCOMPARE(palette.rowCount(), rows);
        QCOMPARE(palette.columnCount(), 2);

        // Grid order is list order; every cap drags its own code; names are
        // all different, so each cap can be found by its name.
        const std::span<const std::uint8_t> codes = vexa::keytops::paletteCodes(type);
        std::set<QString> names;
        for (int i = 0; i < caps; ++i) {
            const QModelIndex index = palette.index(i / 2, i % 2);
            QCOMPARE(palette.keytopListIndexForIndex(index), qsizetype(i));
            QCOMPARE(index.data(KeyCapPalette::KeycodeRole).toInt(), int(codes[i]));
            QCOMPARE(palette.keytopImageForIndex(index).name, QStringLiteral("%1-%2").arg(type).arg(codes[i]));
            QVERIFY(palette.flags(index) & Qt::ItemIsDragEnabled);
            std::unique_ptr<QMimeData> mime(palette.mimeData({index}));
            QVERIFY(mime != nullptr);
            QCOMPARE(mime->formats(), QStringList{QStringLiteral("mirlan.PboardType.keytop")});
            QCOMPARE(mime->data(QStringLiteral("mirlan.PboardType.keytop")), QByteArray::number(codes[i]));
            const QString name = index.data(Qt::AccessibleTextRole).toString();
            QVERIFY2(!name.startsWith(QLatin1String("Usage")), qPrintable(name));
            QVERIFY2(names.insert(name).second, qPrintable(name));
        }
        for (int column = 0; column < 2; ++column) {
            const QModelIndex index = palette.index(rows - 1, column);
            QCOMPARE(index.data(KeyCapPalette::KeycodeRole).isValid() ? index.data(KeyCapPalette::KeycodeRole).toInt() : -1,
                     lastRow[column]);
        }
        if (lastRow[1] == -1) {
            // The empty slot offers nothing to drag.
            const QModelIndex empty = palette.index(rows - 1, 1);
            QCOMPARE(palette.flags(empty), Qt::NoItemFlags);
            QVERIFY(palette.mimeData({empty}) == nullptr);
            QCOMPARE(palette.keytopListIndexForIndex(empty), qsizetype(-1));
        }
    }

    void capNamesGiveTheirCode_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("code");
        QTest::newRow("type and code") << "1-4" << 4;
        QTest::newRow("highest code") << "2-255" << 255;
        QTest::newRow("no hyphen") << "keytop_ansi" << 0;
        QTest::newRow("nothing after the hyphen") << "1-" << 0;
        QTest::newRow("only the second part counts") << "1-41-7" << 41;
    }

    void capNamesGiveTheirCode() {
        QFETCH(QString, name);
        QFETCH(int, code);
        QCOMPARE(vexa::keytops::keycodeFromImageName(name), code);
    }

    void paletteFollowsTheKeyboardShown() {
        KeyCapPalette* palette = app->keytopPalette;
        QCOMPARE(palette->keymapType(), 0);  // nothing until a layout is chosen
        app->selectKeyboard(kKeymapTypeJIS);
        QCOMPARE(palette->keytopList().size(), 116);
        const qint64 jisA = palette->keytopList()[22].pixmap.cacheKey();
        app->keyboardTab->toggleFNMode();  // the FN page of the same keyboard
        QCOMPARE(palette->keymapType(), kKeymapTypeJIS);
        app->selectKeyboard(kKeymapTypeANSI);
        QCOMPARE(palette->keytopList().size(), 113);
        app->keyboardTab->selectKeymapType(kKeymapTypeJIS);  // however the page changes
        QCOMPARE(palette->keytopList().size(), 116);
        // The caps were cut once: the refilled list holds the same images;
        // and the sheet they were cut from was decoded once.
        QCOMPARE(palette->keytopList()[22].pixmap.cacheKey(), jisA);
        QCOMPARE(vexa::imageNamed(QStringLiteral("keytop_jis")).pixmap.cacheKey(),
                 vexa::imageNamed(QStringLiteral("keytop_jis")).pixmap.cacheKey());
        QCOMPARE(app->keytopCollection->model(), palette);

        // Any type other than JIS shows the ANSI pages and the ANSI caps,
        // named for the type asked for; the FN page keeps them.
        app->selectKeyboard(3);
        QCOMPARE(app->keyboardTab->selectedKeymapType(), kKeymapTypeANSI);
        QCOMPARE(palette->keytopList().size(), 113);
        QCOMPARE(palette->keytopList()[24].name, QStringLiteral("3-4"));
        app->keyboardTab->toggleFNMode();
        QCOMPARE(palette->keytopList()[24].name, QStringLiteral("3-4"));
        std::unique_ptr<QMimeData> a(palette->mimeData({palette->index(12, 0)}));
        QCOMPARE(a->data(QStringLiteral("mirlan.PboardType.keytop")), QByteArray("4"));
    }

    void capDroppedFromThePaletteChangesTheKeyAndItsTwin() {
        app->selectKeyboard(kKeymapTypeANSI);
        app->mainWindow()->show();
        QVERIFY(QTest::qWaitForWindowExposed(app->mainWindow()));
        KeyButtonClass* q = key("ansi", 0x14);
        KeyButtonClass* twin = key("ansi_fn", 0x14);
        QSignalSpy dropped(q, &KeyButtonClass::keytopDropped);

        std::unique_ptr<QMimeData> escape(app->keytopPalette->mimeData({capFor(*app->keytopPalette, 0x29)}));
        QVERIFY(dropOnto(q, escape.get()));
        QCOMPARE(q->keycode(), 0x29u);
        QCOMPARE(twin->keycode(), 0x29u);
        QCOMPARE(twin->image().name, QStringLiteral("1-41"));
        QCOMPARE(dropped.count(), 1);
        QCOMPARE(dropped[0][1].value<std::uint32_t>(), 0x29u);
        QVERIFY(app->initButton->isEnabled());  // the drop focused the changed key

        // The no-key cap switches the key off.
        std::unique_ptr<QMimeData> none(app->keytopPalette->mimeData({capFor(*app->keytopPalette, 0)}));
        QCOMPARE(none->data(QStringLiteral("mirlan.PboardType.keytop")), QByteArray("0"));
        QVERIFY(dropOnto(twin, none.get()));
        QCOMPARE(q->keycode(), 0u);

        // An FN key takes no cap.
        QVERIFY(!dropOnto(key("ansi", 0xFE), escape.get()));
    }

    void keysAndCapsAreNamedForScreenReaders() {
        app->selectKeyboard(kKeymapTypeANSI);
        KeyButtonClass* caps = key("ansi_fn", 0x39);
        QCOMPARE(accessibleText(caps, QAccessible::Name), QStringLiteral("Caps Lock"));
        QCOMPARE(accessibleText(caps, QAccessible::Description), QStringLiteral("Caps Lock"));
        caps->setKeycode(0xE0);
        QCOMPARE(accessibleText(caps, QAccessible::Description), QStringLiteral("Left Control"));
        // The key at that place on the base page is another key.
        QCOMPARE(accessibleText(key("ansi", 0x2B), QAccessible::Name), QStringLiteral("Tab"));

        // JIS keys carry the JIS legends; a base code change renames the key.
        QCOMPARE(accessibleText(key("jis", 0x2E), QAccessible::Name), QStringLiteral("Caret"));
        KeyButtonClass* backspace = key("jis", 0x2A);
        backspace->setBasecode(0x4C);
        QCOMPARE(accessibleText(backspace, QAccessible::Name), QStringLiteral("Delete"));

        // A cap of the grid, as the accessibility bus reads it.
        QAccessibleInterface* grid = QAccessible::queryAccessibleInterface(app->keytopCollection);
        QVERIFY(grid != nullptr && grid->tableInterface() != nullptr);
        QAccessibleInterface* last = grid->tableInterface()->cellAt(56, 0);
        QVERIFY(last != nullptr);
        QCOMPARE(last->text(QAccessible::Name), QStringLiteral("Caps Lock"));
        QCOMPARE(grid->text(QAccessible::Name), QStringLiteral("Key caps"));
    }
};

QTEST_MAIN(PaletteTest)
#include "palette_test.moc"
