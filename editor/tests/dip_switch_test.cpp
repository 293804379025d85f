// The ANSI keyboard's DIP switches: where the settings are read from, the
// sheet on first connection and by menu, and the keys the switches move.
#include <filesystem>

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QMainWindow>
#include <QtTest>

#include "editor/key_button.h"
#include "editor/tests/keys.h"
#include "editor/tests/test_editor.h"
#include "keymap/keymap.h"
#include "prefs/prefs.h"
#include "tests/support/resource_file_writer.h"

using vexa::test::FifoKeyboard;

namespace {

constexpr char kSwitch3[] = "DipSwitch 3 - Vexa Orla ANSI";
constexpr char kSwitch4[] = "DipSwitch 4 - Vexa Orla ANSI";
constexpr std::uint32_t kDSsw = 0x44537377;

enum class Legacy { None, WithoutDipSwitches, NotAResourceFile, Short, Words0010, Words0001 };

void writeLegacyFile(const vexa::test::TempDir& home, Legacy legacy) {
    std::vector<std::uint8_t> bytes;
    const auto dipSwitches = [](std::vector<std::uint8_t> data) {
        return vexa::test::makeResourceFile({{kDSsw, 128, std::move(data), {}}});
    };
    switch (legacy) {
    case Legacy::None: return;
    case Legacy::WithoutDipSwitches: bytes = vexa::test::makeResourceFile({{0x4B636F44, 101, std::vector<std::uint8_t>(256), {}}}); break;
    case Legacy::NotAResourceFile: bytes = {'n', 'o', 't', ' ', 'a', ' ', 'r', 'e', 's', 'o', 'u', 'r', 'c', 'e'}; break;
    case Legacy::Short: bytes = dipSwitches({0, 0, 0, 0, 0, 1}); break;
    case Legacy::Words0010: bytes = dipSwitches({0, 7, 0, 7, 0, 1, 0, 0}); break;
    case Legacy::Words0001: bytes = dipSwitches({0, 0, 0, 0, 0, 0, 1, 0}); break;
    }
    vexa::test::writeTestFile(home / KZ730_OLD_PREF_FILE, bytes);
}

using Stored = QList<QPair<QString, QVariant>>;  // entries of the current store

}  // namespace

class DipSwitchTest : public QObject {
    Q_OBJECT

    std::unique_ptr<vexa::test::TestEditor> editor;
    AppDelegateClass* app() const { return editor->app.get(); }
    KeyButtonClass* ansiKey(std::uint32_t defaultBasecode) const {
        const auto keys = app()->keyboardTab->findKeyButtonsForDefaultBasecodeInLabel(defaultBasecode, "ansi");
        return keys && keys->size() == 1 ? *keys->begin() : nullptr;
    }
    bool sheetShown() const { return app()->dipSwitchWindow != nullptr && app()->dipSwitchWindow->isVisible(); }
    QCheckBox* switchBox(const char* name) const { return app()->dipSwitchWindow->findChild<QCheckBox*>(QLatin1String(name)); }
    std::string node(const char* name) const { return editor->home / name; }

private slots:
    void init() { editor = std::make_unique<vexa::test::TestEditor>(); }
    void cleanup() { editor.reset(); }

    void settingsComeFromTheCurrentStoreThenTheLegacyFile_data() {
        QTest::addColumn<Stored>("stored");
        QTest::addColumn<Legacy>("legacy");
        QTest::addColumn<ErrorCode>("readNew");
        QTest::addColumn<ErrorCode>("readOld");
        QTest::addColumn<ErrorCode>("read");
        QTest::addColumn<bool>("switch3");
        QTest::addColumn<bool>("switch4");
        const Stored none;
        QTest::newRow("nothing anywhere") << none << Legacy::None << 1500174 << 1500212 << 1500152 << false << false;
        // A half-configured store has already written switch 3 when it fails.
        QTest::newRow("only switch 3 stored")
            << Stored{{kSwitch3, 1}} << Legacy::None << 1500178 << 1500212 << 1500152 << true << false;
        QTest::newRow("numbers, any non-zero is on")
            << Stored{{kSwitch3, 2}, {kSwitch4, 0}} << Legacy::None << 0 << 1500212 << 0 << true << false;
        QTest::newRow("truth values as text")
            << Stored{{kSwitch3, "false"}, {kSwitch4, "true"}} << Legacy::None << 0 << 1500212 << 0 << false << true;
        QTest::newRow("legacy words (…, …, 1, 0)")
            << none << Legacy::Words0010 << 1500174 << 0 << 0 << true << false;
        QTest::newRow("legacy word at offset 6, high byte")
            << none << Legacy::Words0001 << 1500174 << 0 << 0 << false << true;
        QTest::newRow("the current store comes first")
            << Stored{{kSwitch3, 0}, {kSwitch4, 0}} << Legacy::Words0010 << 0 << 0 << 0 << false << false;
        QTest::newRow("legacy file without DIP switches")
            << none << Legacy::WithoutDipSwitches << 1500174 << 1500229 << 1500152 << false << false;
        QTest::newRow("legacy resource too short")
            << none << Legacy::Short << 1500174 << 1500229 << 1500152 << false << false;
        QTest::newRow("legacy file damaged")
            << none << Legacy::NotAResourceFile << 1500174 << 1500218 << 1500152 << false << false;
    }

    void settingsComeFromTheCurrentStoreThenTheLegacyFile() {
        QFETCH(Stored, stored);
        QFETCH(Legacy, legacy);
        QFETCH(ErrorCode, readNew);
        QFETCH(ErrorCode, readOld);
        QFETCH(ErrorCode, read);
        QFETCH(bool, switch3);
        QFETCH(bool, switch4);
        for (const auto& [key, value] : stored) app()->userDefaults().setValue(key, value);
        writeLegacyFile(editor->home, legacy);

        bool s3 = false, s4 = false;
        QCOMPARE(app()->readNewDipSwitch3Switch4(nullptr, nullptr), readNew);
        QCOMPARE(app()->readOldDipSwitch3Switch4(nullptr, nullptr), readOld);
        QCOMPARE(app()->readDipSwitch3Switch4(nullptr, nullptr), read);
        QCOMPARE(app()->isDipSwitchConfigured(), read == 0);
        app()->getDipSwitch3Switch4(&s3, &s4);
        QCOMPARE(s3, switch3);
        QCOMPARE(s4, switch4);

        // At start the five keys get the base codes of these settings.
        QVERIFY(editor->start());
        QCOMPARE(ansiKey(0x4C)->basecode(), switch3 ? 0x2Au : 0x4Cu);
        QCOMPARE(ansiKey(0xE2)->basecode(), switch4 ? 0xE3u : 0xE2u);
        QCOMPARE(ansiKey(0xE6)->basecode(), switch4 ? 0xE7u : 0xE6u);
        QCOMPARE(ansiKey(0xE3)->basecode(), switch4 ? 0xE2u : 0xE3u);
        QCOMPARE(ansiKey(0xE7)->basecode(), switch4 ? 0xE6u : 0xE7u);
    }

    void writingTheSettingsReportsOnlyAFailedWrite_data() {
        QTest::addColumn<QByteArray>("fileBefore");  // empty: a folder stands where the file belongs
        QTest::addColumn<ErrorCode>("result");
        QTest::newRow("a well-formed file") << QByteArray("[General]\nother=2\n") << 0;
        // A file damaged by hand is read as far as it goes and written anew.
        QTest::newRow("a damaged file") << QByteArray("[General\nfoo\n\x01=\n") << 0;
        QTest::newRow("the file cannot be written") << QByteArray() << 1500192;
    }

    void writingTheSettingsReportsOnlyAFailedWrite() {
        QFETCH(QByteArray, fileBefore);
        QFETCH(ErrorCode, result);
        const std::string file = editor->home / ".config/mirlan/KeymapEditor.conf";
        if (fileBefore.isEmpty()) {
            std::filesystem::create_directories(file);
        } else {
            vexa::test::writeTestFile(file, std::vector<std::uint8_t>(fileBefore.begin(), fileBefore.end()));
        }
        QCOMPARE(app()->wtiteNewDipSwitchWithSwitch3Switch4(true, false), result);
        if (result == 0) {
            QCOMPARE(editor->storedSettings().value(kSwitch3), QVariant(1));
            QCOMPARE(editor->storedSettings().value(kSwitch4), QVariant(0));
        }
    }

    void firstAnsiKeyboardOpensTheSheetOnce() {
        QVERIFY(editor->start());
        QVERIFY(!sheetShown());
        FifoKeyboard first(vexa::guest::kOrlaANSI, node("ansi1"));
        app()->hidManager->addDevice(first.device());
        QVERIFY(sheetShown());
        QVERIFY(app()->mainWindow()->isVisible());  // brought up for its sheet
        QCOMPARE(app()->dipSwitchWindow->parentWidget(), app()->mainWindow());
        QCOMPARE(app()->dipSwitchWindow->windowModality(), Qt::WindowModal);
        QVERIFY(!switchBox("switch3")->isChecked() && !switchBox("switch4")->isChecked());
        // Stored at once, though the user changed nothing.
        QCOMPARE(editor->storedSettings().value(kSwitch3), QVariant(0));
        QCOMPARE(editor->storedSettings().value(kSwitch4), QVariant(0));
        app()->closeDipSwitchWindow();
        QVERIFY(!sheetShown());

        FifoKeyboard second(vexa::guest::kOrlaANSI, node("ansi2"));
        app()->hidManager->addDevice(second.device());
        QVERIFY(!sheetShown());
    }

    void jisKeyboardAloneOpensNoSheet() {
        QVERIFY(editor->start());
        FifoKeyboard jis(vexa::guest::kOrlaJIS, node("jis"));
        app()->hidManager->addDevice(jis.device());
        QVERIFY(!sheetShown());
        app()->selectKeyboard();
        QCOMPARE(app()->keyboardTab->selectedLabel(), QStringLiteral("jis"));
        QVERIFY(!sheetShown());
        QVERIFY(!app()->isDipSwitchConfigured());
        // An ANSI keyboard shown while only a JIS one is attached: no sheet either.
        app()->selectKeyboard(kKeymapTypeANSI);
        QVERIFY(!sheetShown());
    }

    void legacySwitch3GivesBackspaceWithoutASheet() {
        writeLegacyFile(editor->home, Legacy::Words0010);
        QVERIFY(editor->start());
        QCOMPARE(ansiKey(0x4C)->basecode(), 0x2Au);
        FifoKeyboard ansi(vexa::guest::kOrlaANSI, node("ansi"));
        app()->hidManager->addDevice(ansi.device());
        QVERIFY(!sheetShown());
        QVERIFY(!editor->storedSettings().contains(kSwitch3));
        // Opened by menu, the sheet copies the legacy settings over.
        app()->showDipSwitchWindow();
        QVERIFY(sheetShown());
        QVERIFY(switchBox("switch3")->isChecked() && !switchBox("switch4")->isChecked());
        QCOMPARE(editor->storedSettings().value(kSwitch3), QVariant(1));
        QCOMPARE(editor->storedSettings().value(kSwitch4), QVariant(0));
    }

    void switch4MovesAssignmentsWithTheirBaseCodes() {
        QVERIFY(editor->start());
        ansiKey(0xE2)->setKeycode(0x04);  // left Alt sends A
        ansiKey(0xE3)->setKeycode(0x05);  // left GUI sends B
        Keymap before;
        app()->keyboardTab->getKeymapANSI(before);

        app()->applyDipSwitch3Switch4(false, true);
        // The key at the left Alt position now sends 227, and carries what
        // was assigned to 227; the left GUI key sends 226 with its output.
        QCOMPARE(ansiKey(0xE2)->basecode(), 0xE3u);
        QCOMPARE(ansiKey(0xE2)->keycode(), 0x05u);
        QCOMPARE(ansiKey(0xE3)->basecode(), 0xE2u);
        QCOMPARE(ansiKey(0xE3)->keycode(), 0x04u);
        Keymap after;
        app()->keyboardTab->getKeymapANSI(after);
        QVERIFY(KZ714compareKeymap(before, after));  // the table itself is unchanged
        // Twins follow base codes: the left GUI position's key and the FN
        // page's left Alt key both send 226 now.
        KeyButtonClass* fnLeftAlt = vexa::test::keyOn(app()->keyboardTab, "ansi_fn", 0xE2);
        QCOMPARE(ansiKey(0xE3)->sibling(), fnLeftAlt);
        ansiKey(0xE3)->setKeycode(0x06);
        QCOMPARE(fnLeftAlt->keycode(), 0x06u);

        app()->applyDipSwitch3Switch4(false, false);
        QCOMPARE(ansiKey(0xE2)->basecode(), 0xE2u);
        QCOMPARE(ansiKey(0xE2)->keycode(), 0x06u);
        QCOMPARE(ansiKey(0xE3)->basecode(), 0xE3u);
        QCOMPARE(ansiKey(0xE3)->keycode(), 0x05u);
    }

    void closingTheSheetReappliesOnlyChanges() {
        QVERIFY(editor->start());
        KeyButtonClass* deleteKey = ansiKey(0x4C);
        deleteKey->setBasecode(0x63);  // a mark: re-application would put 0x4C back
        app()->showDipSwitchWindow();
        app()->closeDipSwitchWindow();
        QCOMPARE(deleteKey->basecode(), 0x63u);

        app()->showDipSwitchWindow();
        switchBox("switch3")->click();
        QCOMPARE(app()->userDefaults().value(kSwitch3), QVariant(1));  // written as it is clicked
        app()->closeDipSwitchWindow();
        QCOMPARE(deleteKey->basecode(), 0x2Au);
        QCOMPARE(editor->storedSettings().value(kSwitch3), QVariant(1));
    }

    void menuItemsAreValidatedByTheirAction() {
        QVERIFY(editor->start());
        QAction dipSwitch(QStringLiteral("DIP"));
        dipSwitch.setProperty("delegateAction", QStringLiteral("showDipSwitchWindow:"));
        QAction other(QStringLiteral("other"));
        other.setProperty("delegateAction", QStringLiteral("applyButton:"));
        QAction none(QStringLiteral("none"));

        QVERIFY(!app()->validateMenuItem(&dipSwitch));  // the main window is not key
        app()->showMainWindow();
        QVERIFY(QTest::qWaitForWindowActive(app()->mainWindow()));
        QVERIFY(app()->validateMenuItem(&dipSwitch));
        QVERIFY(!app()->validateMenuItem(&other));
        QVERIFY(!app()->validateMenuItem(&none));
        app()->selectKeyboard(kKeymapTypeJIS);
        QVERIFY(!app()->validateMenuItem(&dipSwitch));
        app()->keyboardTab->toggleFNMode();
        QVERIFY(!app()->validateMenuItem(&dipSwitch));
        app()->selectKeyboard(kKeymapTypeANSI);
        app()->showDipSwitchWindow();
        QVERIFY(!app()->validateMenuItem(&dipSwitch));  // while the sheet is open
        app()->closeDipSwitchWindow();
        QTRY_VERIFY(app()->validateMenuItem(&dipSwitch));

        // The interface's own items: the keyboard menu's and the DIP switch item.
        const QList<QAction*> items = app()->mainWindow()->findChildren<QAction*>();
        const auto named = [&](const char* name) {
            for (QAction* item : items)
                if (item->objectName() == QLatin1String(name)) return item;
            return static_cast<QAction*>(nullptr);
        };
        QVERIFY(app()->validateMenuItem(named("actionKeyboardJIS")));
        QVERIFY(!named("actionKeyboardJIS")->isChecked());
        QVERIFY(app()->validateMenuItem(named("actionDipSwitch")));
        named("actionDipSwitch")->trigger();
        QVERIFY(sheetShown());
    }
};

QTEST_MAIN(DipSwitchTest)
#include "dip_switch_test.moc"
