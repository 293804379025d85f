// Tests the installer's About window: from the application menu, no version field, one at a time, and what closing does.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "about/about_win.h"
#include "installer/app_delegate.h"
#include "installer/linux_platform.h"

class InstallerAboutTest : public QObject {
    Q_OBJECT

private slots:
    void opensFromTheApplicationMenu() {
        // Opening the About window asks nothing of the system: an empty
        // resource folder will do.
        QTemporaryDir resources;
        vexa::installer::LinuxInstallerPlatform platform(resources.path().toStdString());
        AppDelegate delegate(platform);
        delegate.applicationDidFinishLaunching();
        QVERIFY(QTest::qWaitForWindowExposed(delegate.mainWindow()));

        // The first menu holds About, then Quit.
        QMenuBar* bar = delegate.mainWindow()->menuBar();
        QVERIFY(bar->isVisible());
        const QList<QAction*> first = bar->actions().front()->menu()->actions();
        auto* about = delegate.mainWindow()->findChild<QAction*>(QStringLiteral("aboutAction"));
        auto* quit = delegate.mainWindow()->findChild<QAction*>(QStringLiteral("quitAction"));
        QVERIFY(about != nullptr && quit != nullptr);
        QCOMPARE(first.front(), about);
        QCOMPARE(first.back(), quit);

        about->trigger();
        AboutWinClass* window = delegate.aboutWindow();
        QVERIFY(window != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(window));
        // The installer shows its version in its main window, not here.
        QVERIFY(!window->findChild<QLabel*>(QStringLiteral("verText"))->isVisible());
        QVERIFY(window->findChild<QLineEdit*>(QStringLiteral("keycodeText"))->isVisible());
        QVERIFY(window->findChild<QPushButton*>(QStringLiteral("saveButton"))->isVisible());
        // A key event on it shows its code, as in the editor.
        QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, 30, 0, 0, QStringLiteral("a"));
        QCoreApplication::sendEvent(window->windowHandle(), &key);
        QCOMPARE(window->findChild<QLineEdit*>(QStringLiteral("keycodeText"))->text(), QStringLiteral("30"));

        about->trigger();
        QCOMPARE(delegate.aboutWindow(), window);  // one window, brought forward again

        // Closing it leaves the installer running; closing the main window
        // ends it even while the About window is open. Quitting happens in
        // the event loop, so the two closes are run from there.
        QSignalSpy quitting(qApp, &QCoreApplication::aboutToQuit);
        int quitsAfterAboutClosed = -1;
        QTimer::singleShot(0, window, &QWidget::close);
        QTimer::singleShot(200, this, [&] {
            quitsAfterAboutClosed = quitting.count();
            about->trigger();
            delegate.mainWindow()->close();
        });
        QTimer stuck;  // ends the loop if nothing else does
        stuck.setSingleShot(true);
        connect(&stuck, &QTimer::timeout, qApp, &QCoreApplication::quit);
        stuck.start(15000);
        QApplication::exec();
        QCOMPARE(quitsAfterAboutClosed, 0);
        QVERIFY(stuck.isActive());
        QCOMPARE(quitting.count(), 1);
    }
};

QTEST_MAIN(InstallerAboutTest)
#include "about_window_test.moc"
