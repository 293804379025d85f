// The rules of key buttons and pages, without any window.
#include <array>
#include <vector>

#include <QtTest>

#include "editor/key_button_model.h"
#include "editor/keyboard_rules.h"
#include "keymap/keymap.h"

namespace {

// A key as a page would set it up: type, size, cap area, base code, default code.
struct Key {
    explicit Key(std::uint32_t basecode, bool assignable = true, KeymapTypeNumber type = kKeymapTypeANSI) {
        model.setKeymapType(type);
        model.setBounds(QSizeF(44, 44));
        if (assignable) model.setLabelFrame(QRectF(10, 8, 24, 27));
        model.setBasecode(basecode);
        model.restoreKeycode();
    }
    KeyButtonModel model;
};

struct PathElement {
    QPainterPath::ElementType type;
    double x, y;
};

}  // namespace

class KeyButtonModelTest : public QObject {
    Q_OBJECT

private slots:
    void jisReturnOutlineIsPointForPoint() {
        using E = QPainterPath::ElementType;
        auto curve = [](std::vector<PathElement>& out, double c1x, double c1y, double c2x, double c2y, double x,
                        double y) {
            out.push_back({E::CurveToElement, c1x, c1y});
            out.push_back({E::CurveToDataElement, c2x, c2y});
            out.push_back({E::CurveToDataElement, x, y});
        };
        std::vector<PathElement> expected{{E::MoveToElement, 8, 0}, {E::LineToElement, 58, 0}};
        curve(expected, 66, 0, 66, 0, 66, 8);
        expected.push_back({E::LineToElement, 66, 81});
        curve(expected, 66, 89, 66, 89, 58, 89);
        expected.push_back({E::LineToElement, 19, 89});
        curve(expected, 11, 89, 11, 89, 11, 81);
        expected.push_back({E::LineToElement, 11, 53});
        curve(expected, 11, 45, 11, 45, 3, 45);
        expected.push_back({E::LineToElement, 8, 45});
        curve(expected, 0, 45, 0, 45, 0, 37);
        expected.push_back({E::LineToElement, 0, 8});
        curve(expected, 0, 0, 0, 0, 8, 0);

        const QPainterPath path = KeyButtonModel::jisReturnOutline();
        QCOMPARE(path.elementCount(), int(expected.size()));
        for (int i = 0; i < path.elementCount(); ++i) {
            const QPainterPath::Element e = path.elementAt(i);
            QCOMPARE(e.type, expected[std::size_t(i)].type);
            QCOMPARE(e.x, expected[std::size_t(i)].x);
            QCOMPARE(e.y, expected[std::size_t(i)].y);
        }
        QCOMPARE(path.boundingRect(), QRectF(0, 0, 66, 89));
        // The wide part is on top; the lower left corner is cut away.
        QVERIFY(path.contains(QPointF(3, 30)));
        QVERIFY(path.contains(QPointF(40, 80)));
        QVERIFY(!path.contains(QPointF(5, 80)));
        QVERIFY(!path.contains(QPointF(0.5, 0.5)));
    }

    void outlineDependsOnCodeAndType_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<uint>("basecode");
        QTest::addColumn<bool>("lShaped");
        QTest::newRow("JIS Return") << int(kKeymapTypeJIS) << 0x28u << true;
        QTest::newRow("JIS keypad Enter on the Return key") << int(kKeymapTypeJIS) << 0x58u << true;
        QTest::newRow("ANSI Return") << int(kKeymapTypeANSI) << 0x28u << false;
        QTest::newRow("other JIS key") << int(kKeymapTypeJIS) << 0x04u << false;
    }

    void outlineDependsOnCodeAndType() {
        QFETCH(int, type);
        QFETCH(uint, basecode);
        QFETCH(bool, lShaped);
        KeyButtonModel key;
        key.setKeymapType(type);
        key.setBounds(QSizeF(66, 89));
        key.setBasecode(basecode);
        QCOMPARE(key.maskPath() == KeyButtonModel::jisReturnOutline(), lShaped);
        if (!lShaped) {
            QCOMPARE(key.maskPath().boundingRect(), QRectF(0, 0, 66, 89));
            QVERIFY(key.maskPath().contains(QPointF(5, 80)));
            QVERIFY(!key.maskPath().contains(QPointF(0.3, 0.3)));  // rounded corner
        }
    }

    void defaultKeycodeFollowsTypeTable() {
        QCOMPARE(Key(0x35, true, kKeymapTypeJIS).model.defaultKeycode(), 227u);
        QCOMPARE(Key(0x35, true, kKeymapTypeANSI).model.defaultKeycode(), 0x35u);
        QCOMPARE(Key(0x8A, true, kKeymapTypeJIS).model.defaultKeycode(), 144u);
        QCOMPARE(Key(300).model.defaultKeycode(), 0u);
        Key a(0x04);
        QCOMPARE(a.model.keycode(), 4u);
        QVERIFY(!a.model.isKeycodeChanged());
        a.model.setKeycode(0x29);
        QVERIFY(a.model.isKeycodeChanged());
        // A new base code leaves the key code and drops the twin.
        Key twin(0x04);
        a.model.setSibling(&twin.model);
        a.model.setBasecode(0x05);
        QCOMPARE(a.model.keycode(), 0x29u);
        QCOMPARE(a.model.defaultKeycode(), 5u);
        QVERIFY(a.model.sibling() == nullptr);
        QVERIFY(twin.model.sibling() == nullptr);
    }

    void notAssignableKeyTakesNoCode() {
        Key fn(0xFE, false);
        Key a(0xFE);
        a.model.setSibling(&fn.model);  // one-way: the FN key cannot link back
        QVERIFY(a.model.sibling() == &fn.model);
        QVERIFY(fn.model.sibling() == nullptr);
        fn.model.setKeycode(4);
        QCOMPARE(fn.model.keycode(), 0u);
        QCOMPARE(a.model.keycode(), 0xFEu);
        QVERIFY(!fn.model.isKeycodeChanged());
        QVERIFY(fn.model.isFNKey());
        QVERIFY(Key(0xFF, false).model.isFNKey());
        QVERIFY(!Key(0xFD, false).model.isFNKey());
    }

    void relinkingReleasesFormerPartners() {
        Key a(0x14), b(0x14), c(0x14);
        b.model.setSibling(&c.model);
        QVERIFY(c.model.sibling() == &b.model);
        a.model.setSibling(&b.model);
        QVERIFY(a.model.sibling() == &b.model);
        QVERIFY(b.model.sibling() == &a.model);
        QVERIFY(c.model.sibling() == nullptr);

        // Refused: another base code, or the key itself.
        Key d(0x15);
        a.model.setSibling(&d.model);
        a.model.setSibling(&a.model);
        QVERIFY(a.model.sibling() == &b.model);
        QVERIFY(d.model.sibling() == nullptr);

        // Twins follow each other's key code.
        b.model.setKeycode(0x29);
        QCOMPARE(a.model.keycode(), 0x29u);
        a.model.restoreKeycode();
        QCOMPARE(b.model.keycode(), 0x14u);
        QCOMPARE(c.model.keycode(), 0x14u);
    }

    void destroyedTwinLeavesNoDanglingBond() {
        Key a(0x14);
        {
            Key b(0x14);
            a.model.setSibling(&b.model);
        }
        QVERIFY(a.model.sibling() == nullptr);
        a.model.setKeycode(7);  // would reach the destroyed twin otherwise
        QCOMPARE(a.model.keycode(), 7u);
    }

    void overlayPrefersHighlight() {
        Key a(0x04);
        QVERIFY(!a.model.overlayColor(false));
        QCOMPARE(*a.model.overlayColor(true), QColor::fromRgbF(0, 0, 0, 0.5f));
        a.model.setKeycode(5);
        QCOMPARE(*a.model.overlayColor(false), QColor::fromRgbF(0, 0.5f, 1, 0.175f));
        QCOMPARE(*a.model.overlayColor(true), QColor::fromRgbF(0, 0, 0, 0.5f));
        a.model.setHighlightColor(QColor());
        QVERIFY(!a.model.overlayColor(true));
        Key fn(0xFE, false);
        QVERIFY(!fn.model.overlayColor(false));
    }

    void markerMustLieInsideTheButton_data() {
        QTest::addColumn<QRectF>("marker");
        QTest::addColumn<QRectF>("labelFrame");
        const QRectF button(100, 50, 44, 44);
        QTest::newRow("centred") << QRectF(110, 58, 24, 27) << QRectF(10, 8, 24, 27);
        QTest::newRow("touching top left") << QRectF(100, 50, 24, 27) << QRectF(0, 0, 24, 27);
        QTest::newRow("touching bottom right") << QRectF(120, 67, 24, 27) << QRectF(20, 17, 24, 27);
        QTest::newRow("reaching out right") << QRectF(121, 58, 24, 27) << QRectF();
        QTest::newRow("reaching out above") << QRectF(110, 49, 24, 27) << QRectF();
        QTest::newRow("empty") << QRectF(110, 58, 0, 27) << QRectF();
    }

    void markerMustLieInsideTheButton() {
        QFETCH(QRectF, marker);
        QFETCH(QRectF, labelFrame);
        QCOMPARE(KeyButtonModel::labelFrameFromMarker(QRectF(100, 50, 44, 44), marker), labelFrame);
    }

    void textsAreReadLikeTheirSources() {
        QCOMPARE(KeyButtonModel::basecodeFromTitle("2C"), 0x2Cu);
        QCOMPARE(KeyButtonModel::basecodeFromTitle("fe"), 0xFEu);
        QCOMPARE(KeyButtonModel::basecodeFromTitle("0x28"), 0x28u);
        QCOMPARE(KeyButtonModel::basecodeFromTitle(""), 0u);
        QCOMPARE(KeyButtonModel::basecodeFromTitle("Esc"), 0xEu);  // hexadecimal digits as far as they go
        QCOMPARE(KeyButtonModel::basecodeFromTitle("zz"), 0u);

        QCOMPARE(KeyButtonModel::keycodeFromDropText("41"), 41u);
        QCOMPARE(KeyButtonModel::keycodeFromDropText("  +7x"), 7u);
        QCOMPARE(KeyButtonModel::keycodeFromDropText("-1"), 4294967295u);
        QCOMPARE(KeyButtonModel::keycodeFromDropText(""), 0u);
        QCOMPARE(KeyButtonModel::keycodeFromDropText("abc"), 0u);
        QCOMPARE(KeyButtonModel::keycodeFromDropText("99999999999"), 2147483647u);

        QCOMPARE(KeyButtonModel::keymapTypeForImageName("keyboard_fn_jis"), kKeymapTypeJIS);
        QCOMPARE(KeyButtonModel::keymapTypeForImageName("keyboard_jis_fn"), kKeymapTypeANSI);
        QCOMPARE(KeyButtonModel::keymapTypeForImageName(""), kKeymapTypeANSI);
    }

    void labelsAndMenuItems() {
        using namespace vexa::pages;
        QCOMPARE(keymapTypeForLabel("jis_fn"), kKeymapTypeJIS);
        QCOMPARE(keymapTypeForLabel("ansi"), kKeymapTypeANSI);
        QCOMPARE(keymapTypeForLabel("xyz"), kKeymapTypeANSI);
        QCOMPARE(baseLabel("ansi_fn"), QStringLiteral("ansi"));
        QCOMPARE(baseLabel("jis"), QStringLiteral("jis"));
        QCOMPARE(baseLabelForType(3), QStringLiteral("ansi"));
        QCOMPARE(fnLabelForType(kKeymapTypeJIS), QStringLiteral("jis_fn"));
        QCOMPARE(keymapTypeForMenuIndex(0), kKeymapTypeANSI);
        QCOMPARE(keymapTypeForMenuIndex(1), kKeymapTypeJIS);
        QCOMPARE(keymapTypeForMenuIndex(2), kKeymapTypeANSI);
    }

    void bindingLinksExactlyPairs() {
        Key single(0x04), pairA(0x14), pairB(0x14), tripleA(0x30), tripleB(0x30), tripleC(0x30);
        Key outside(0x04);  // not among the keys bound below
        single.model.setSibling(&outside.model);
        tripleA.model.setSibling(&tripleB.model);
        std::array<KeyButtonModel*, 6> keys{&single.model,  &pairA.model,   &tripleA.model,
                                            &tripleB.model, &tripleC.model, &pairB.model};
        vexa::pages::bindSiblings(keys);
        QVERIFY(single.model.sibling() == nullptr);
        QVERIFY(outside.model.sibling() == nullptr);
        QVERIFY(pairA.model.sibling() == &pairB.model);
        QVERIFY(pairB.model.sibling() == &pairA.model);
        QVERIFY(tripleA.model.sibling() == nullptr);
        QVERIFY(tripleB.model.sibling() == nullptr);
        QVERIFY(tripleC.model.sibling() == nullptr);
    }

    void assemblySkipsKeysThatCannotBeStored() {
        Key a(0x04), big(0x05), fn(0xFE, false), jisGrave(0x35, true, kKeymapTypeJIS);
        a.model.setKeycode(0x29);
        big.model.setKeycode(4294967295u);
        std::array<KeyButtonModel*, 3> keys{&a.model, &big.model, &fn.model};
        Keymap table;
        vexa::pages::assembleKeymap(table, kKeymapTypeANSI, keys);
        Keymap expected;
        KZ714defaultOrlaANSIKeymap(expected);
        expected[0x04] = 0x29;
        QVERIFY(KZ714compareKeymap(table, expected));

        std::array<KeyButtonModel*, 1> jisKeys{&jisGrave.model};
        vexa::pages::assembleKeymap(table, kKeymapTypeJIS, jisKeys);
        QCOMPARE(table[53], std::uint8_t(227));
        vexa::pages::assembleKeymap(nullptr, kKeymapTypeJIS, jisKeys);  // tolerated
    }
};

QTEST_APPLESS_MAIN(KeyButtonModelTest)
#include "key_button_model_test.moc"
