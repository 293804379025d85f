// The layout table: what the pages are generated from.
#include <map>

#include <QtTest>

#include "editor/layout/keyboard_layout.h"

using namespace vexa::layout;

class LayoutTest : public QObject {
    Q_OBJECT

private slots:
    void rowsFillTheKeyboardWidth() {
        for (Board board : {Board::Ansi, Board::Jis}) {
            for (const Row& row : rows(board)) {
                double units = 0;
                for (const KeyDef& key : row) units += key.width;
                QCOMPARE(units, double(kRowUnits));
            }
        }
    }

    void pagesHoldEveryKey_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("keys");
        QTest::addColumn<int>("fnKeys");
        QTest::newRow("ansi") << 0 << 60 << 1;
        QTest::newRow("ansi_fn") << 1 << 60 << 1;
        QTest::newRow("jis") << 2 << 68 << 2;
        QTest::newRow("jis_fn") << 3 << 68 << 2;
    }

    void pagesHoldEveryKey() {
        QFETCH(int, page);
        QFETCH(int, keys);
        QFETCH(int, fnKeys);
        const std::vector<PlacedKey> placed = placeKeys(pages()[std::size_t(page)]);
        QCOMPARE(int(placed.size()), keys);
        int notAssignable = 0;
        for (const PlacedKey& key : placed) {
            if (!key.assignable) {
                ++notAssignable;
                QVERIFY(key.code == 0xFE || key.code == 0xFF);
            }
            // The cap marker lies inside its key and inside the page.
            QVERIFY(key.capX >= key.x && key.capX + kCapWidth <= key.x + key.width);
            QVERIFY(key.capY >= key.y && key.capY + kCapHeight <= key.y + key.height);
            QVERIFY(key.x + key.width <= kPageWidth - kMargin);
        }
        QCOMPARE(notAssignable, fnKeys);
    }

    void noBaseCodeOnMoreThanTwoKeysOfAType() {
        for (Board board : {Board::Ansi, Board::Jis}) {
            std::map<int, int> uses;
            for (const PageSpec& page : pages()) {
                if (page.board != board) continue;
                for (const PlacedKey& key : placeKeys(page)) ++uses[key.code];
            }
            for (const auto& [code, count] : uses) QVERIFY2(count <= 2, qPrintable(QString::number(code, 16)));
        }
    }

    void jisReturnSpansTwoRowsFromItsRowTwoSlot() {
        for (const PageSpec& page : pages()) {
            int tall = 0;
            for (const PlacedKey& key : placeKeys(page)) {
                if (!key.tall) continue;
                ++tall;
                QCOMPARE(key.width, 66.0);
                QCOMPARE(key.height, 89.0);
                QCOMPARE(key.x, kMargin + 13.5 * kUnit);
                QCOMPARE(key.y, kMargin + kUnit);
                QCOMPARE(key.code, std::uint8_t(page.fnLayer ? 0x58 : 0x28));
            }
            QCOMPARE(tall, page.board == Board::Jis ? 1 : 0);
            QCOMPARE(page.pictureName.ends_with("jis"), page.board == Board::Jis);
        }
    }
};

QTEST_APPLESS_MAIN(LayoutTest)
#include "layout_test.moc"
