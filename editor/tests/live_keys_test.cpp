// Keyboard watching and live keys: which keys light, keyboards tagged,
// opened and counted, the alert when one cannot be opened, and the driver
// check after a keyboard appears.
#include <set>
#include <utility>
#include <vector>

#include <QMainWindow>
#include <QMessageBox>
#include <QtTest>

#include "editor/key_button.h"
#include "editor/live_keys.h"
#include "editor/tests/keys.h"
#include "editor/tests/test_editor.h"
#include "errors/tests/alert_catcher.h"

using vexa::hid::InputValue;
using vexa::test::FifoKeyboard;

namespace {

using Lit = std::set<std::pair<QString, std::uint32_t>>;  // (page, base code) of the lit keys

Lit litKeys(const KeyboardTab* tab) {
    Lit lit;
    for (const char* label : {"ansi", "ansi_fn", "jis", "jis_fn"}) {
        for (KeyButtonClass* button : tab->allKeyButtonsInLabel(QLatin1String(label))) {
            if (button->isHighlighted()) lit.emplace(QLatin1String(label), button->basecode());
        }
    }
    return lit;
}

struct Value {
    KeymapTypeNumber keyboard;  // the type the sending keyboard is tagged with
    InputValue value;
};

InputValue key(std::uint16_t usage, std::int64_t value) { return {7, usage, value}; }

}  // namespace

Q_DECLARE_METATYPE(std::vector<Value>)
Q_DECLARE_METATYPE(Lit)

class LiveKeysTest : public QObject {
    Q_OBJECT

    std::unique_ptr<vexa::test::TestEditor> editor;
    AppDelegateClass* app() const { return editor->app.get(); }

    // Settings stored, so that an ANSI keyboard does not open the DIP switch sheet.
    void configureDipSwitches() { QCOMPARE(app()->wtiteNewDipSwitchWithSwitch3Switch4(false, false), 0); }

    std::string node(const char* name) const { return editor->home / name; }

private slots:
    void init() {
        editor = std::make_unique<vexa::test::TestEditor>();
        QVERIFY(editor->start());
    }

    void cleanup() { editor.reset(); }

    void keysLightWhileDown_data() {
        QTest::addColumn<QString>("page");
        QTest::addColumn<std::vector<Value>>("values");
        QTest::addColumn<Lit>("lit");
        const KeymapTypeNumber ansi = kKeymapTypeANSI, jis = kKeymapTypeJIS;
        QTest::newRow("A pressed") << "ansi" << std::vector<Value>{{ansi, key(0x04, 1)}} << Lit{{"ansi", 0x04}};
        QTest::newRow("A pressed and released") << "ansi" << std::vector<Value>{{ansi, key(0x04, 1)}, {ansi, key(0x04, 0)}} << Lit{};
        QTest::newRow("two keys, one released")
            << "ansi" << std::vector<Value>{{ansi, key(0x04, 1)}, {ansi, key(0xE7, 1)}, {ansi, key(0x04, 0)}}
            << Lit{{"ansi", 0xE7}};
        QTest::newRow("only the page shown lights") << "ansi_fn" << std::vector<Value>{{ansi, key(0x14, 1)}}
                                                    << Lit{{"ansi_fn", 0x14}};
        QTest::newRow("JIS keyboard, ANSI page shown") << "ansi" << std::vector<Value>{{jis, key(0x04, 1)}} << Lit{};
        QTest::newRow("JIS keyboard, JIS page shown") << "jis" << std::vector<Value>{{jis, key(0x04, 1)}}
                                                      << Lit{{"jis", 0x04}};
        QTest::newRow("ANSI keyboard, JIS page shown") << "jis" << std::vector<Value>{{ansi, key(0x04, 1)}} << Lit{};
        QTest::newRow("usage 3 (error roll-over)") << "ansi" << std::vector<Value>{{ansi, key(0x03, 1)}} << Lit{};
        QTest::newRow("usage E8 and above") << "ansi" << std::vector<Value>{{ansi, key(0xE8, 1)}, {ansi, key(0xFE, 1)}}
                                            << Lit{};
        QTest::newRow("another usage page") << "ansi" << std::vector<Value>{{ansi, {12, 0x04, 1}}, {ansi, {1, 0x04, 1}}}
                                            << Lit{};
        QTest::newRow("only the low 8 bits count")
            << "ansi" << std::vector<Value>{{ansi, key(0x04, 0x100)}, {ansi, key(0x05, -1)}} << Lit{{"ansi", 0x05}};
    }

    void keysLightWhileDown() {
        QFETCH(QString, page);
        QFETCH(std::vector<Value>, values);
        QFETCH(Lit, lit);
        app()->keyboardTab->selectTabViewItemWithLabel(page);
        for (const Value& v : values) QCOMPARE(app()->inputValueKeymapType(v.value, v.keyboard), 0);
        QCOMPARE(litKeys(app()->keyboardTab), lit);
    }

    void keysSharingABaseCodeLightTogether() {
        KeyButtonClass* a = vexa::test::keyOn(app()->keyboardTab, "ansi", 0x04);
        KeyButtonClass* b = vexa::test::keyOn(app()->keyboardTab, "ansi", 0x05);
        b->setBasecode(0x04);  // as the DIP switches give a key another key's code
        app()->inputValueKeymapType(key(0x04, 1), kKeymapTypeANSI);
        QVERIFY(a->isHighlighted() && b->isHighlighted());
        app()->inputValueKeymapType(key(0x04, 0), kKeymapTypeANSI);
        QVERIFY(!a->isHighlighted() && !b->isHighlighted());
    }

    void typedKeysLightThroughTheHidLayer() {
        // Reports of an attached ANSI keyboard, read from its node as the
        // HID layer reads hidraw, light the key pressed until it is released.
        configureDipSwitches();
        FifoKeyboard keyboard(vexa::guest::kOrlaANSI, node("ansi"));
        vexa::hid::Device* device = app()->hidManager->addDevice(keyboard.device());
        QVERIFY(device != nullptr);
        QCOMPARE(device->property("VexaKeyMap"), std::optional<std::int64_t>(kKeymapTypeANSI));
        QVERIFY(device->isOpen());
        KeyButtonClass* a = vexa::test::keyOn(app()->keyboardTab, "ansi", 0x04);
        KeyButtonClass* shift = vexa::test::keyOn(app()->keyboardTab, "ansi", 0xE1);
        // One report at a time: a FIFO, unlike a hidraw node, would hand
        // over reports written together in one read.
        QVERIFY(keyboard.press(0xE1));
        QTRY_VERIFY(shift->isHighlighted());
        QVERIFY(keyboard.press(0x04));
        QTRY_VERIFY(a->isHighlighted());
        QVERIFY(keyboard.release(0x04));
        QTRY_VERIFY(!a->isHighlighted());
        QVERIFY(shift->isHighlighted());
        QVERIFY(keyboard.releaseAll());
        QTRY_VERIFY(litKeys(app()->keyboardTab).empty());

        // Unplugged with keys held, the keyboard leaves none of them lit.
        QVERIFY(keyboard.press(0xE1));
        QTRY_VERIFY(shift->isHighlighted());
        QVERIFY(keyboard.press(0x04));
        QTRY_VERIFY(a->isHighlighted());
        app()->hidManager->removeDevice(device->syspath());
        QCOMPARE(litKeys(app()->keyboardTab), Lit{});
    }

    void supportedKeyboardsAreTaggedAndCounted() {
        configureDipSwitches();
        FifoKeyboard other(vexa::guest::kOtherKeyboard, node("other"));
        FifoKeyboard jis(vexa::guest::kOrlaJIS, node("jis"));
        FifoKeyboard jisOld(vexa::guest::kOrlaJISOld, node("jisOld"));
        vexa::hid::Device* otherDevice = app()->hidManager->addDevice(other.device());
        QVERIFY(otherDevice != nullptr);  // matched as a keyboard...
        QVERIFY(!otherDevice->property("VexaKeyMap"));  // ...but left alone
        QVERIFY(!otherDevice->isOpen());
        QCOMPARE(app()->connectedKeyboards(), std::optional(QSet<vexa::hid::Device*>{}));
        QVERIFY(!app()->isKeyboardConnectedForKeymapType(kKeymapTypeJIS));

        vexa::hid::Device* jisDevice = app()->hidManager->addDevice(jis.device());
        vexa::hid::Device* jisOldDevice = app()->hidManager->addDevice(jisOld.device());
        QCOMPARE(jisOldDevice->property("VexaKeyMap"), std::optional<std::int64_t>(kKeymapTypeJIS));
        QCOMPARE(app()->connectedKeyboards(), std::optional(QSet<vexa::hid::Device*>{jisDevice, jisOldDevice}));
        QVERIFY(app()->isKeyboardConnectedForKeymapType(kKeymapTypeJIS));
        QVERIFY(!app()->isKeyboardConnectedForKeymapType(kKeymapTypeANSI));
        // The editor starts on the pages of an attached JIS keyboard.
        app()->selectKeyboard();
        QCOMPARE(app()->keyboardTab->selectedLabel(), QStringLiteral("jis"));

        // Unplugged, a keyboard leaves no trace.
        app()->hidManager->removeDevice(jisDevice->syspath());
        app()->hidManager->removeDevice(jisOldDevice->syspath());
        QCOMPARE(app()->connectedKeyboards(), std::optional(QSet<vexa::hid::Device*>{}));
        app()->removeDeviceNotify();
        QVERIFY(!app()->hidManager);
        QCOMPARE(app()->connectedKeyboards(), std::nullopt);
    }

    void driverIsCheckedTwoSecondsAfterEachSupportedKeyboard() {
        configureDipSwitches();
        FifoKeyboard ansi(vexa::guest::kOrlaANSI, node("ansi"));
        FifoKeyboard jis(vexa::guest::kOrlaJIS, node("jis"));
        FifoKeyboard other(vexa::guest::kOtherKeyboard, node("other"));
        QElapsedTimer clock;
        clock.start();
        for (FifoKeyboard* keyboard : {&ansi, &jis, &other}) app()->hidManager->addDevice(keyboard->device());
        QTest::qWait(1500);
        QCOMPARE(editor->platform->asked.count(QStringLiteral("loaded")), 0);
        QTRY_COMPARE_WITH_TIMEOUT(editor->platform->asked.count(QStringLiteral("loaded")), 2, 5000);
        QVERIFY(clock.elapsed() >= 2000);
        QTest::qWait(200);  // the other make schedules none
        QCOMPARE(editor->platform->asked.count(QStringLiteral("loaded")), 2);
    }

    void keyboardThatCannotBeOpenedIsReportedOnce_data() {
        QTest::addColumn<bool>("karabinerElements");
        QTest::addColumn<QString>("info");
        // The node does not exist (ENOENT): not a refusal of access, so the
        // keyboard counts as held by another program.
        QTest::newRow("remapping tool not running") << false << " (0xfffffffe)";
        QTest::newRow("remapping tool running")
            << true
            << "You can solve it if turning off “Modify events from this device” option of this Vexa in Devices tab "
               "of Karabiner-Elements Preferences. (0xfffffffe)";
    }

    void keyboardThatCannotBeOpenedIsReportedOnce() {
        QFETCH(bool, karabinerElements);
        QFETCH(QString, info);
        configureDipSwitches();
        app()->karabinerElements = karabinerElements;
        app()->showMainWindow();
        vexa::test::AlertCatcher alerts(false);
        FifoKeyboard first(vexa::guest::kOrlaANSI, node("gone1"), false);
        FifoKeyboard second(vexa::guest::kOrlaJIS, node("gone2"), false);
        for (FifoKeyboard* keyboard : {&first, &second}) {
            vexa::hid::Device* device = app()->hidManager->addDevice(keyboard->device());
            QVERIFY(!device->isOpen());
        }
        QTRY_COMPARE(alerts.seen.size(), 1);
        QTest::qWait(100);
        QCOMPARE(alerts.seen.size(), 1);
        QVERIFY(app()->deviceOpenErrShown);
        const vexa::test::SeenAlert& alert = alerts.seen.front();
        QCOMPARE(alert.text, QStringLiteral("Pressed keys will not be highlighted because another application controls "
                                            "this Vexa exclusively. However, you can change the configuration."));
        QCOMPARE(alert.informativeText, info);
        // A sheet on the main window: editing goes on.
        QCOMPARE(alert.modality, Qt::WindowModal);
        QCOMPARE(alert.parent.data(), static_cast<QWidget*>(app()->mainWindow()));
        vexa::test::AlertCatcher::openAlert()->close();
    }

    void accessRefusedIsWordedAsSuch() {
        const auto [message, info] = AppDelegateClass::deviceOpenAlert(false, true, -13);
        QCOMPARE(message, QStringLiteral("Pressed keys will not be highlighted because this application is not allowed "
                                         "to receive keystrokes. However, you can change the configuration."));
        QCOMPARE(info, QStringLiteral("Please turn on “Vexa Orla for Mac” in System Preferences > Security & Privacy > "
                                      "Privacy > Input Monitoring. If you have already done it, please turn off it "
                                      "and turn on it again. (0xfffffff3)"));
    }
};

QTEST_MAIN(LiveKeysTest)
#include "live_keys_test.moc"
