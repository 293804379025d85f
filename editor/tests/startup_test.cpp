// The editor's start-up in its fixed order, each check's alert, and every
// way out passing through applicationWillTerminate (keyboard watching
// stopped, settings on disk), each in a process of its own.
#include <QProcess>
#include <QSettings>
#include <QtTest>

#include "editor/startup_commands.h"
#include "errors/app_identity.h"
#include "tests/support/temp_dir.h"

namespace {

const QString kKarabiner = QStringLiteral("asked ") + QLatin1String(vexa::startup::kKarabinerCheck);
const QString kInstalled = QStringLiteral("asked installed");
const QString kSetUpper = QStringLiteral("asked ") + QLatin1String(vexa::startup::kSetUpperCheck);
const QString kEndedClean = QStringLiteral("ended hid=0");

}  // namespace

class StartupTest : public QObject {
    Q_OBJECT

private slots:
    void startupRunsInOrderAndEndsCleanly_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("lines");
        const QString again = QStringLiteral("You need to install driver again.");
        const QString version = QString::fromUtf8(vexa::appIdentity().shortVersion);

        QTest::newRow("driver missing, daemon missing: only the driver alert")
            << QStringList{"none", "no-driver", "no-daemon"}
            << QStringList{kKarabiner, kInstalled, "text=Driver is not installed.|detail=" + again, kEndedClean};
        QTest::newRow("daemon missing")
            << QStringList{"none", "no-daemon"}
            << QStringList{kKarabiner, kInstalled, kSetUpper,
                           "text=A program for setting keyboards is not found.|detail=" + again, kEndedClean};
        QTest::newRow("saved tables unreadable: ends before watching starts")
            << QStringList{"none", "read-fails"}
            << QStringList{kKarabiner, kInstalled, kSetUpper,
                           QStringLiteral("text=An error occurred.|detail=KeymapEditor %1: 100.0054, 130.0023, 730.0154, ")
                               .arg(version),
                           kEndedClean};
        const QStringList started{kKarabiner, kInstalled, kSetUpper, "watching", "window karabiner=0"};
        QTest::newRow("Quit") << QStringList{"quit"} << started + QStringList{kEndedClean};
        QTest::newRow("OK") << QStringList{"ok"} << started + QStringList{kEndedClean};
        QTest::newRow("closing the window") << QStringList{"close"} << started + QStringList{kEndedClean};
        QTest::newRow("SIGTERM") << QStringList{"signal"} << started + QStringList{kEndedClean};
        QTest::newRow("remapping tool running")
            << QStringList{"quit", "karabiner"}
            << QStringList{kKarabiner, kInstalled, kSetUpper, "watching", "window karabiner=1", kEndedClean};
        // Each keyboard's check comes due; one alert says why the editor ends.
        QTest::newRow("no driver object two seconds after two keyboards appeared")
            << QStringList{"driver-gone"}
            << started + QStringList{"asked loaded", "text=Driver is not loaded.|detail=" + again, kEndedClean};
        QTest::newRow("a keyboard pulled out before its check: nothing to ask, the editor goes on")
            << QStringList{"unplugged-at-once"} << started + QStringList{kEndedClean};
    }

    void startupRunsInOrderAndEndsCleanly() {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, lines);
        vexa::test::TempDir home;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), QString::fromStdString(home.path()));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(home / ".config"));
        QProcess probe;
        probe.setProcessEnvironment(env);
        probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        probe.start(QStringLiteral(STARTUP_PROBE), arguments);
        QVERIFY(probe.waitForFinished(60000));
        QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
        QCOMPARE(probe.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(probe.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts), lines);
        // A setting changed after the start reached the disk on the way out.
        if (lines.contains(QStringLiteral("watching"))) {
            const QSettings stored(QString::fromStdString(home / ".config/mirlan/KeymapEditor.conf"), QSettings::IniFormat);
            QCOMPARE(stored.value(QStringLiteral("probe")), QVariant(1));
        }
    }
};

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
