// Tests the installer's application object end to end in a probe process: install, uninstall, authorization, the version gates, the abend chain, and what runs when it quits.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kStack = QStringLiteral("VexaOrlaInstaller 4.0.2: ");
const QString kOldItem = QStringLiteral("Vexa Orla SetUpper");

void writeFile(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
}

}  // namespace

class AppDelegateTest : public QObject {
    Q_OBJECT

private slots:
    void scenarios_data() {
        QTest::addColumn<QStringList>("resources");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("oldItemsRemoved");

        const QStringList deb{"VexaOrla.deb"};
        const QString open = QStringLiteral("shell /usr/bin/xdg-open '<res>/VexaOrla.deb' &");
        const QString finish = QStringLiteral("pkexec /usr/lib/vexaorla/reload-udev -> 0");
        const auto abend = [](const QString& code) {
            return QStringLiteral("alert An error occurred. | ") + kStack + code + ", ";
        };

        QTest::newRow("install: authorized, package handed over, udev reloaded at quit")
            << deb << QStringList{"install", "quit"} << QStringList{"pkcheck -> 0", open, finish, "exit"} << true;
        QTest::newRow("install twice: the kept authorization is used again")
            << deb << QStringList{"install", "install", "quit"}
            << QStringList{"pkcheck -> 0", open, open, finish, "exit"} << true;
        QTest::newRow("cancelled authorization: no alert, nothing opened, a second try asks again")
            << deb << QStringList{"pkcheck=3,3", "install", "install", "windows", "stack", "quit"}
            << QStringList{"pkcheck -> 3", "pkcheck -> 3", "windows main=1 guide=0",
                           "stack " + kStack + "110.0134, 110.0134, ", "exit"}
            << false;
        QTest::newRow("refused, then granted on the second try")
            << deb << QStringList{"pkcheck=1,0", "install", "install", "quit"}
            << QStringList{"pkcheck -> 1", "pkcheck -> 0", open, finish, "exit"} << true;
        QTest::newRow("the process cannot be identified: nothing asked, nothing opened")
            << deb << QStringList{"create=-3", "install", "stack", "quit"}
            << QStringList{"stack " + kStack + "-3, ", "exit"} << false;
        QTest::newRow("udev reload failing at quit: no alert")
            << deb << QStringList{"privileged=126", "install", "quit"}
            << QStringList{"pkcheck -> 0", open, "pkexec /usr/lib/vexaorla/reload-udev -> 126", "exit"} << true;
        QTest::newRow("quitting without installing runs nothing privileged")
            << deb << QStringList{"selected", "quit"} << QStringList{"selected Install", "exit"} << false;
        QTest::newRow("package missing (the installed copy): Uninstall offered first; Install abends")
            << QStringList{} << QStringList{"selected", "install", "quit"}
            << QStringList{"selected Uninstall", abend("110.0047"), "exit"} << false;
        QTest::newRow("system too new: only the caution; uninstall still works")
            << QStringList{"VexaOrla.deb", "uninstall.sh"} << QStringList{"version=10.16", "install", "uninstall"}
            << QStringList{"alert macOS 10.16 or later are not supported. | ", "script -> 0", "exit"} << true;
        QTest::newRow("guide shown on 10.13 to 10.15; its button starts the installer")
            << QStringList{"VexaOrla.deb", "guide.html"}
            << QStringList{"version=10.14", "install", "windows", "continue", "quit"}
            << QStringList{"windows main=0 guide=1", "pkcheck -> 0", open, finish, "exit"} << true;
        QTest::newRow("10.14 without the guide: straight to the package")
            << deb << QStringList{"version=10.14", "install", "windows", "quit"}
            << QStringList{"pkcheck -> 0", open, "windows main=1 guide=0", finish, "exit"} << true;
        QTest::newRow("10.12: no guide even when there is one")
            << QStringList{"VexaOrla.deb", "guide.html"} << QStringList{"version=10.12", "install", "quit"}
            << QStringList{"pkcheck -> 0", open, finish, "exit"} << true;
        QTest::newRow("uninstall: login items, then the script, then the end")
            << QStringList{"uninstall.sh"} << QStringList{"uninstall", "quit"} << QStringList{"script -> 0", "exit"}
            << true;
        QTest::newRow("uninstall after install finishes with the authorization")
            << QStringList{"VexaOrla.deb", "uninstall.sh"} << QStringList{"install", "uninstall"}
            << QStringList{"pkcheck -> 0", open, "script -> 0", finish, "exit"} << true;
        QTest::newRow("uninstall script missing: abend, old items removed all the same")
            << QStringList{} << QStringList{"uninstall"} << QStringList{abend("120.0025"), "exit"} << true;
        QTest::newRow("uninstall script does not parse: abend")
            << QStringList{"broken:uninstall.sh"} << QStringList{"uninstall"}
            << QStringList{abend("120.0028"), "exit"} << true;
        QTest::newRow("uninstall script fails: abend, old items removed before it ran")
            << QStringList{"uninstall.sh"} << QStringList{"script=1", "uninstall"}
            << QStringList{"script -> 1", abend("120.0032"), "exit"} << true;
        QTest::newRow("abend after install still finishes with the authorization")
            << QStringList{"VexaOrla.deb", "uninstall.sh"} << QStringList{"script=2", "install", "uninstall"}
            << QStringList{"pkcheck -> 0", open, "script -> 2", abend("120.0032"), finish, "exit"} << true;
    }

    void scenarios() {
        QFETCH(QStringList, resources);
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, expected);
        QFETCH(bool, oldItemsRemoved);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString res = dir.filePath("resources");
        QDir().mkpath(res);
        for (const QString& r : resources) {
            if (r == "broken:uninstall.sh")
                writeFile(res + "/uninstall.sh", "#!/bin/sh\nif then (\n");
            else
                writeFile(res + "/" + r, r.endsWith(".html") ? "<p>Allow the driver.</p>" : "#!/bin/sh\nexit 0\n");
        }
        // Login items of earlier generations, and one of somebody else.
        const QString autostart = dir.filePath("config/autostart");
        writeFile(autostart + "/old.desktop", "[Desktop Entry]\nName=" + kOldItem.toUtf8() + ".app\n");
        writeFile(autostart + "/older.desktop", "[Desktop Entry]\nName=VexaKeyboard SetUpper\n");
        writeFile(autostart + "/mail.desktop", "[Desktop Entry]\nName=Mail\n");

        QProcess probe;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        env.insert("XDG_CONFIG_DIRS", dir.filePath("no-system-folder"));
        probe.setProcessEnvironment(env);
        probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        probe.start(INSTALLER_PROBE, QStringList{res} + arguments);
        QVERIFY(probe.waitForFinished(60000));
        QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
        QCOMPARE(probe.exitCode(), 0);

        QStringList lines = QString::fromUtf8(probe.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QVERIFY(!lines.isEmpty());
        QCOMPARE(lines.takeFirst(), QStringLiteral("version Ver 4.0.2"));
        lines.replaceInStrings(res, QStringLiteral("<res>"));
        QCOMPARE(lines, expected);

        const QStringList left = QDir(autostart).entryList(QDir::Files, QDir::Name);
        const QStringList all{"mail.desktop", "old.desktop", "older.desktop"};
        QCOMPARE(left, oldItemsRemoved ? QStringList{"mail.desktop"} : all);
    }

    // Where xdg-open knows no desktop it runs the opener itself ($BROWSER
    // here) and waits for it to end, which for a package installer is when
    // its window closes. Installing hands the package over and goes on.
    void packageOpenerDoesNotHoldTheInstaller() {
        QVERIFY2(QFileInfo::exists("/usr/bin/xdg-open"), "xdg-utils is not installed");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString res = dir.filePath("resources");
        writeFile(res + "/VexaOrla.deb", "!<arch>\n");
        const QString opened = dir.filePath("opened"), release = dir.filePath("release"),
                      finished = dir.filePath("finished"), opener = dir.filePath("opener");
        // Notes what it opens, then stays until released (half a minute at most).
        writeFile(opener, "#!/bin/sh\nprintf %s \"$1\" > '" + opened.toUtf8() + "'\nfor i in $(seq 300); do\n  [ -e '" +
                              release.toUtf8() + "' ] && break\n  sleep 0.1\ndone\ntouch '" + finished.toUtf8() + "'\n");
        QFile::setPermissions(opener, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        QProcess probe;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* desktop : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_CURRENT_DESKTOP",
                                    "XDG_SESSION_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
                                    "GNOME_DESKTOP_SESSION_ID", "MATE_DESKTOP_SESSION_ID"})
            env.remove(desktop);
        env.insert("BROWSER", opener);
        env.insert("MAILCAPS", dir.filePath("no-mailcap"));  // run-mailcap, where installed, knows no viewer
        env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        probe.setProcessEnvironment(env);
        probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        probe.start(INSTALLER_PROBE, QStringList{res, "shell=real", "install", "quit"});
        QVERIFY(probe.waitForFinished(20000));
        QVERIFY(QString::fromUtf8(probe.readAllStandardOutput()).endsWith("exit\n"));
        QVERIFY2(!QFileInfo::exists(finished), "the installer waited for the package installer to close");

        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(opened), 20000);
        writeFile(release, "");
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(finished), 20000);
        QFile given(opened);
        QVERIFY(given.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(given.readAll()), res + "/VexaOrla.deb");
    }
};

QTEST_MAIN(AppDelegateTest)
#include "app_delegate_test.moc"
