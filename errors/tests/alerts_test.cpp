#include "errors/alerts.h"

#include <cstring>

#include <QMainWindow>
#include <QProcess>
#include <QTranslator>
#include <QtTest>

#include "errors/error.h"
#include "errors/error_stack.h"
#include "errors/localize.h"
#include "errors/tests/alert_catcher.h"

using vexa::test::AlertCatcher;

namespace {

const QString kHeader = QStringLiteral("KeymapEditor 4.0.2: ");

// A translation of the default table into a made-up language, to show that
// alert texts and the stack's header go through the application's lookup.
class TestTranslator : public QTranslator {
public:
    QString translate(const char* context, const char* source, const char*, int) const override {
        if (std::strcmp(context, "default") == 0 && std::strcmp(source, "An error occurred.") == 0)
            return QStringLiteral("Fehler.");
        if (std::strcmp(context, "default") == 0 && std::strcmp(source, "%@ %@: ") == 0)
            return QStringLiteral("[%@ %@] ");
        if (std::strcmp(context, "Driver") == 0 && std::strcmp(source, "Driver is not loaded.") == 0)
            return QStringLiteral("Treiber fehlt.");
        return {};
    }
    bool isEmpty() const override { return false; }
};

class Delegate : public QObject, public vexa::AlertPresentationDelegate {
public:
    int calls = 0;
    void didPresentErrorWithRecoveryContextInfo(bool, void*) override { ++calls; }
};

}  // namespace

class AlertsTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        std::memset(g_err_buf, 0, sizeof g_err_buf);
        vexa::installTranslationLookup();
    }

    void cautionWithStackShowsGenericMessageAndRenderedCodes() {
        AlertCatcher catcher;
        KZ712cautionApp(nullptr, 7300154, 1300125, true);
        QCOMPARE(catcher.seen.size(), 1);
        QCOMPARE(catcher.seen[0].text, QStringLiteral("An error occurred."));
        QCOMPARE(catcher.seen[0].informativeText, kHeader + "130.0125, 730.0154, ");
        QCOMPARE(catcher.seen[0].modality, Qt::ApplicationModal);
        QCOMPARE(catcher.seen[0].domain, QStringLiteral("mirlan.editor.KeymapEditor"));
        QCOMPARE(catcher.seen[0].code, 0);
        // Rendering emptied the stack.
        QCOMPARE(QString::fromStdString(KZ710getErrorString()), kHeader);
    }

    void cautionWithoutStackLeavesStackAlone() {
        KZ710stackError(nullptr, -5);
        AlertCatcher catcher;
        KZ712cautionApp("Driver is not installed.", 0, 0, false);
        QCOMPARE(catcher.seen.size(), 1);
        QCOMPARE(catcher.seen[0].text, QStringLiteral("Driver is not installed."));
        QCOMPARE(catcher.seen[0].informativeText, QString());
        QCOMPARE(QString::fromStdString(KZ710getErrorString()), kHeader + "-5, ");

        // Codes pushed by an alert without the stack wait for the next one.
        KZ712cautionApp("x", 1400161, 0, false);
        KZ712cautionApp(nullptr, 0, 1000054, true);
        QCOMPARE(catcher.seen.last().informativeText, kHeader + "100.0054, 140.0161, ");
    }

    void textsGoThroughTranslationLookup() {
        TestTranslator translator;
        QCoreApplication::installTranslator(&translator);
        AlertCatcher catcher;
        KZ712cautionApp("", 1300023, 0, true);
        KZ712alertApp("Driver is not loaded.", "Driver", nullptr, 0, 0, false, nullptr);
        KZ712alertApp("Untranslated text.", "Driver", nullptr, 0, 0, false, nullptr);
        QCoreApplication::removeTranslator(&translator);
        QCOMPARE(catcher.seen.size(), 3);
        QCOMPARE(catcher.seen[0].text, QStringLiteral("Fehler."));
        QCOMPARE(catcher.seen[0].informativeText, QStringLiteral("[KeymapEditor 4.0.2] 130.0023, "));
        QCOMPARE(catcher.seen[1].text, QStringLiteral("Treiber fehlt."));
        QCOMPARE(catcher.seen[2].text, QStringLiteral("Untranslated text."));
    }

    void errorObjectAlerts_data() {
        QTest::addColumn<bool>("withError");
        QTest::addColumn<bool>("withStack");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QString>("domain");
        QTest::addColumn<qint64>("code");
        QTest::newRow("own suggestion replaced by the stack")
            << true << true << "The file could not be saved." << kHeader + "130.0135, -13, NSPOSIXErrorDomain(13), "
            << "NSPOSIXErrorDomain" << qint64(13);
        QTest::newRow("own suggestion kept") << true << false << "The file could not be saved."
                                             << "Check the permissions." << "NSPOSIXErrorDomain" << qint64(13);
        QTest::newRow("no error object") << false << true << "An error occurred." << kHeader + "130.0136, -13, "
                                         << "mirlan.editor.KeymapEditor" << qint64(0);
    }

    void errorObjectAlerts() {
        QFETCH(bool, withError);
        QFETCH(bool, withStack);
        vexa::Error error = vexa::Error::posix(13);
        error.localizedDescription = "The file could not be saved.";
        error.localizedRecoverySuggestion = "Check the permissions.";
        AlertCatcher catcher;
        KZ712cautionAppNSError(withError ? &error : nullptr, -13, withError ? 1300135 : 1300136, withStack);
        QCOMPARE(catcher.seen.size(), 1);
        QTEST(catcher.seen[0].text, "text");
        QTEST(catcher.seen[0].informativeText, "detail");
        QTEST(catcher.seen[0].domain, "domain");
        QTEST(catcher.seen[0].code, "code");
    }

    void delegateGetsSheetThatReturnsAtOnce() {
        QMainWindow window;
        window.resize(400, 300);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));

        Delegate delegate;
        KZ712showAlert(QStringLiteral("Pressed keys will not be highlighted."), QStringLiteral(" (0xe00002e2)"),
                       &delegate);
        // The call returned with the panel still open, window-modal on the window.
        QMessageBox* box = AlertCatcher::openAlert();
        QVERIFY(box != nullptr);
        QCOMPARE(box->windowModality(), Qt::WindowModal);
        QCOMPARE(box->parentWidget(), &window);
        QCOMPARE(box->informativeText(), QStringLiteral(" (0xe00002e2)"));
        QCOMPARE(delegate.calls, 0);
        box->defaultButton()->click();
        QTRY_COMPARE(delegate.calls, 1);

        // A delegate without the callback still gets the sheet.
        QObject plain;
        KZ712alertApp("Some message.", nullptr, nullptr, 0, 0, false, &plain);
        box = AlertCatcher::openAlert();
        QVERIFY(box != nullptr);
        QCOMPARE(box->windowModality(), Qt::WindowModal);
        box->defaultButton()->click();
        QTRY_VERIFY(AlertCatcher::openAlert() == nullptr);
    }

    void sheetsOpenOnTheMainWindow_data() {
        QTest::addColumn<bool>("otherWindowActive");  // the program is in the background
        QTest::addColumn<bool>("alertOpen");          // another alert is open and active
        QTest::addColumn<bool>("registered");         // the program named its main window
        QTest::newRow("main window active") << false << false << true;
        QTest::newRow("another window active") << true << false << true;
        QTest::newRow("another alert open") << false << true << true;
        QTest::newRow("another alert open, no main window named") << false << true << false;
    }

    void sheetsOpenOnTheMainWindow() {
        QFETCH(bool, otherWindowActive);
        QFETCH(bool, alertOpen);
        QFETCH(bool, registered);
        QMainWindow window;
        window.resize(400, 300);
        window.show();
        window.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &window);
        vexa::setAlertWindow(registered ? &window : nullptr);
        QWidget other;
        if (otherWindowActive) {
            other.resize(200, 100);
            other.show();
            other.activateWindow();
            QTRY_COMPARE(QApplication::activeWindow(), &other);
        }
        Delegate first, second;
        QPointer<QMessageBox> firstBox;
        if (alertOpen) {
            KZ712showAlert(QStringLiteral("First."), QString(), &first);
            firstBox = AlertCatcher::openAlert();
            QVERIFY(firstBox != nullptr);
            firstBox->activateWindow();
            QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(firstBox.data()));
        }

        KZ712showAlert(QStringLiteral("Second."), QString(), &second);
        QPointer<QMessageBox> secondBox;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box != nullptr && box->isVisible() && box->text() == QLatin1String("Second.")) secondBox = box;
        }
        QVERIFY(secondBox != nullptr);
        QCOMPARE(secondBox->parentWidget(), &window);
        QCOMPARE(secondBox->windowModality(), Qt::WindowModal);

        // Dismissing the first alert leaves the second open; each calls back.
        if (firstBox) {
            firstBox->defaultButton()->click();
            QTRY_COMPARE(first.calls, 1);
            QTRY_VERIFY(firstBox == nullptr);
            QVERIFY(secondBox != nullptr && secondBox->isVisible());
        }
        QCOMPARE(second.calls, 0);
        secondBox->defaultButton()->click();
        QTRY_COMPARE(second.calls, 1);
        vexa::setAlertWindow(nullptr);
    }

    void abendEndsTheProgramWithStatusZero_data() {
        QTest::addColumn<QString>("form");
        QTest::addColumn<QString>("expected");
        QTest::newRow("message") << "abend" << "text=An error occurred.|detail=" + kHeader + "130.0125, 730.0154, ";
        QTest::newRow("error object")
            << "abend-error"
            << "text=Permission denied|detail=" + kHeader + "130.0135, -13, NSPOSIXErrorDomain(13), ";
    }

    void abendEndsTheProgramWithStatusZero() {
        QFETCH(QString, form);
        QFETCH(QString, expected);
        QProcess probe;
        probe.start(QStringLiteral(ALERT_PROBE), {form});
        QVERIFY(probe.waitForFinished(60000));
        const QString out = QString::fromUtf8(probe.readAllStandardOutput());
        QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
        QCOMPARE(probe.exitCode(), 0);
        // The panel was shown, then the will-terminate handler ran, and the
        // statement after the abend never did.
        QCOMPARE(out, expected + "\nwill-terminate\n");
    }
};

QTEST_MAIN(AlertsTest)
#include "alerts_test.moc"
