// Tests the About window: the version field, the key code of key events on each platform, and saving the driver information.
#include "about/about_win.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>

#include "errors/tests/alert_catcher.h"

namespace {

QString keycodeText(const AboutWinClass& w) { return w.findChild<QLineEdit*>(QStringLiteral("keycodeText"))->text(); }
QPushButton* saveButton(const AboutWinClass& w) { return w.findChild<QPushButton*>(QStringLiteral("saveButton")); }

QFileDialog* openSavePanel(const AboutWinClass& w) {
    for (QFileDialog* d : w.findChildren<QFileDialog*>()) {
        if (d->isVisible()) return d;
    }
    return nullptr;
}

}  // namespace

class AboutWinTest : public QObject {
    Q_OBJECT

private slots:
    void versionFieldOnlyWithAVersion() {
        const struct {
            QString version;
            bool shown;
        } cases[] = {{QStringLiteral("4.0.2"), true}, {QString(), false}};
        for (const auto& c : cases) {
            AboutWinClass w(c.version);
            w.show();
            auto* ver = w.findChild<QLabel*>(QStringLiteral("verText"));
            QCOMPARE(ver->isVisible(), c.shown);
            if (c.shown) QCOMPARE(ver->text(), QStringLiteral("Ver 4.0.2"));
        }
    }

    void linuxKeyCodeOfEachPlatform_data() {
        QTest::addColumn<QString>("platform");
        QTest::addColumn<quint32>("scanCode");
        QTest::addColumn<int>("keyCode");
        QTest::newRow("X11: A") << "xcb" << 38u << 30;
        QTest::newRow("X11: Left Shift") << "xcb" << 50u << 42;
        QTest::newRow("Wayland: Zenkaku/Hankaku") << "wayland" << 93u << 85;
        QTest::newRow("Wayland with EGL") << "wayland-egl" << 38u << 30;
        QTest::newRow("X11: synthetic event without a scan code") << "xcb" << 0u << 0;
        QTest::newRow("offscreen passes the scan code") << "offscreen" << 30u << 30;
        QTest::newRow("console (evdev codes)") << "linuxfb" << 30u << 30;
    }
    void linuxKeyCodeOfEachPlatform() {
        QFETCH(QString, platform);
        QFETCH(quint32, scanCode);
        QFETCH(int, keyCode);
        QCOMPARE(linuxKeyCode(platform, scanCode), keyCode);
    }

    // Events arrive at the window as the platform delivers them; each row is
    // one event and the key code shown after it.
    void keyEventsShowTheirCodeAndGoOn() {
        AboutWinClass w(QStringLiteral("4.0.2"));
        w.setDumpCommand(QStringLiteral("printf x"));
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        saveButton(w)->setFocus();
        QSignalSpy clicks(saveButton(w), &QPushButton::clicked);
        QWindow* window = w.windowHandle();

        enum Kind { Press, Release, Click, Enter };
        const struct {
            const char* what;
            Kind kind;
            int key;
            quint32 scan;
            QString shown;
            int clicks;
        } events[] = {
            {"nothing yet", Enter, 0, 0, QString(), 0},
            {"A down", Press, Qt::Key_A, 30, QStringLiteral("30"), 0},
            {"A up shows the same code", Release, Qt::Key_A, 30, QStringLiteral("30"), 0},
            {"Left Shift alone", Press, Qt::Key_Shift, 42, QStringLiteral("42"), 0},
            {"a mouse click leaves the code and reaches the button", Click, 0, 0, QStringLiteral("42"), 1},
            {"an enter event leaves the code", Enter, 0, 0, QStringLiteral("42"), 1},
            // The focused button takes Space as usual: keys reach the widgets unchanged.
            {"Space down", Press, Qt::Key_Space, 57, QStringLiteral("57"), 1},
            {"Space up clicks the focused button", Release, Qt::Key_Space, 57, QStringLiteral("57"), 2},
        };
        int seenClicks = 0;
        for (const auto& e : events) {
            if (e.kind == Press || e.kind == Release) {
                QKeyEvent key(e.kind == Press ? QEvent::KeyPress : QEvent::KeyRelease, e.key, Qt::NoModifier, e.scan,
                              0, 0, e.key == Qt::Key_Space ? QStringLiteral(" ") : QString());
                QCoreApplication::sendEvent(window, &key);
            } else if (e.kind == Click) {
                const QPoint at = saveButton(w)->mapTo(&w, saveButton(w)->rect().center());
                QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, at);
            } else {
                QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
                QCoreApplication::sendEvent(window, &enter);
            }
            QCOMPARE(keycodeText(w), e.shown);
            const bool clicked = clicks.count() > seenClicks;
            QCOMPARE(clicks.count(), e.clicks);
            seenClicks = e.clicks;
            // A click opens the save panel once the listing is there; put it away.
            if (clicked) {
                QTRY_VERIFY(openSavePanel(w) != nullptr);
                openSavePanel(w)->reject();
                saveButton(w)->setFocus();  // it lost the focus while the listing ran
            }
        }
    }

    // The command's output as the file holds it, or no file: the user
    // cancelled, or the folder cannot be written (an alert says so).
    void savesTheListing_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QByteArray>("saved");
        QTest::newRow("a listing") << "printf 'P: /devices/virtual/misc/uhid/0003:04FE:0007.0001\\nE: HID_ID=0003:000004FE:00000007\\n'"
                                   << "save" << QByteArray("P: /devices/virtual/misc/uhid/0003:04FE:0007.0001\nE: HID_ID=0003:000004FE:00000007\n");
        QTest::newRow("UTF-8 stays UTF-8") << "printf 'caf\\303\\251'" << "save" << QByteArray("caf\xC3\xA9");
        QTest::newRow("a byte that is no UTF-8 keeps the listing") << "printf 'A\\377B'" << "save" << QByteArray("A\xC3\xBF" "B");
        QTest::newRow("no output") << "true" << "save" << QByteArray("ioreg error.");
        QTest::newRow("standard error is not the listing") << "echo oops >&2" << "save" << QByteArray("ioreg error.");
        QTest::newRow("a failing command's output is kept") << "printf partial; exit 3" << "save" << QByteArray("partial");
        QTest::newRow("cancelled") << "printf x" << "cancel" << QByteArray();
        QTest::newRow("the file cannot be written") << "printf x" << "unwritable" << QByteArray();
    }
    void savesTheListing() {
        QFETCH(QString, command);
        QFETCH(QString, action);
        QFETCH(QByteArray, saved);
        QTemporaryDir dir;
        AboutWinClass w;
        w.setDumpCommand(command);
        w.show();
        QSignalSpy written(&w, &AboutWinClass::driverInfoSaved);
        vexa::test::AlertCatcher alerts;

        w.saveIORegistry();
        QVERIFY(!saveButton(w)->isEnabled() || openSavePanel(w) != nullptr);
        QTRY_VERIFY(openSavePanel(w) != nullptr);
        QFileDialog* panel = openSavePanel(w);
        QCOMPARE(panel->windowTitle(), QStringLiteral("Please select the destination to save a file."));
        QCOMPARE(panel->windowModality(), Qt::WindowModal);
        QCOMPARE(QFileInfo(panel->selectedFiles().value(0)).fileName(), QStringLiteral("Driver_Info.txt"));
        QVERIFY(saveButton(w)->isEnabled());

        const QString path = dir.filePath(QStringLiteral("Driver_Info.txt"));
        // A link into a folder that is gone: the write fails whoever runs the test.
        if (action == QLatin1String("unwritable")) QVERIFY(QFile::link(QStringLiteral("/nonexistent/Driver_Info.txt"), path));
        if (action == QLatin1String("cancel")) {
            panel->reject();
        } else {
            panel->selectFile(path);
            static_cast<QDialog*>(panel)->accept();  // the OK button
        }
        QTRY_VERIFY(openSavePanel(w) == nullptr);
        QFile file(path);
        if (saved.isEmpty()) {
            QVERIFY(!QFileInfo::exists(path));  // for the link: its target
            QCOMPARE(written.count(), 0);
        } else {
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), saved);
            QCOMPARE(written.count(), 1);
        }
        // Nothing else is left in the folder, no temporary file either.
        const QStringList left = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
        QCOMPARE(left, action == QLatin1String("cancel") ? QStringList() : QStringList{QStringLiteral("Driver_Info.txt")});
        if (action == QLatin1String("unwritable")) {
            QTRY_COMPARE(alerts.seen.size(), 1);
            QCOMPARE(alerts.seen[0].text, QStringLiteral("The driver information could not be saved."));
        } else {
            QCOMPARE(alerts.seen.size(), 0);
        }
    }
};

QTEST_MAIN(AboutWinTest)
#include "about_win_test.moc"
