#include "errors/alerts.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include <QApplication>
#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include "errors/app_identity.h"
#include "errors/error.h"
#include "errors/error_stack.h"
#include "errors/localize.h"

namespace {

// Translation context of the default string table.
constexpr const char* kDefaultTable = "default";
constexpr const char* kGenericMessage = "An error occurred.";

vexa::WillTerminateHandler g_willTerminate = nullptr;
void* g_willTerminateContext = nullptr;

QPointer<QWidget>& alertWindow() {
    static QPointer<QWidget> window;
    return window;
}

// The window a window-modal alert opens on. Neither an alert nor a file
// panel may be the parent: both close (and delete themselves) right after the
// call that raised the alert, and would take the new alert, and its callback,
// with them.
QWidget* sheetParent() {
    if (QWidget* window = alertWindow()) return window;
    QWidget* window = QApplication::activeWindow();
    while (qobject_cast<QMessageBox*>(window) != nullptr || qobject_cast<QFileDialog*>(window) != nullptr) {
        window = window->parentWidget() != nullptr ? window->parentWidget()->window() : nullptr;
    }
    return window;
}

QString fromStd(const std::string& text) { return QString::fromStdString(text); }

// Shows the error: its description as the main text (the generic message when
// it has none) and its recovery suggestion as the informative text.
void present(const vexa::Error& error, QObject* delegate) {
    QString message = fromStd(error.localizedDescription);
    if (message.isEmpty()) message = vexa::localizedText(kGenericMessage);
    const QString detail = fromStd(error.localizedRecoverySuggestion);

    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        // No widgets to show it with: the terminal is the only place left.
        std::fprintf(stderr, "%s\n%s\n", qPrintable(message), qPrintable(detail));
        return;
    }
    QApplication::beep();

    QWidget* parent = delegate != nullptr ? sheetParent() : nullptr;
    auto* box = new QMessageBox(QMessageBox::Warning, QString::fromUtf8(vexa::appIdentity().bundleName), message,
                                QMessageBox::Ok, parent);
    box->setObjectName(QStringLiteral("vexaAlert"));
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(detail);
    box->setDefaultButton(QMessageBox::Ok);
    box->setProperty("errorDomain", fromStd(error.domain));
    box->setProperty("errorCode", QVariant::fromValue<qint64>(error.code));

    if (delegate == nullptr) {
        box->exec();
        delete box;
        return;
    }
    // A sheet: window-modal on the main window, the call returns at once.
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    if (auto* observer = dynamic_cast<vexa::AlertPresentationDelegate*>(delegate)) {
        QPointer<QObject> alive(delegate);
        QObject::connect(box, &QDialog::finished, box, [alive, observer](int) {
            if (alive) observer->didPresentErrorWithRecoveryContextInfo(false, nullptr);
        });
    }
    box->open();
}

vexa::Error errorObject(const vexa::AppIdentity* bundle, const QString& message, const QString& detail) {
    vexa::Error error;
    error.domain = (bundle != nullptr ? bundle : &vexa::appIdentity())->bundleIdentifier;
    error.code = 0;
    error.localizedDescription = message.toStdString();
    error.localizedRecoverySuggestion = detail.toStdString();
    return error;
}

}  // namespace

QString vexa::localizedText(const char* key, const char* table) {
    if (key == nullptr) return {};
    const QString text = QCoreApplication::translate(table != nullptr ? table : kDefaultTable, key);
    return text.isEmpty() ? QString::fromUtf8(key) : text;
}

void vexa::installTranslationLookup() {
    vexa::setLocalizer([](const char* key) { return localizedText(key).toStdString(); });
}

void vexa::setAlertWindow(QWidget* window) { alertWindow() = window; }

void vexa::setWillTerminateHandler(WillTerminateHandler handler, void* context) {
    g_willTerminate = handler;
    g_willTerminateContext = context;
}

void vexa::terminateApplication() {
    if (WillTerminateHandler handler = g_willTerminate) {
        g_willTerminate = nullptr;
        handler(g_willTerminateContext);
    }
    std::exit(0);
}

void KZ712showAlert(const QString& message, const QString& detail, QObject* delegate) {
    present(errorObject(nullptr, message, detail), delegate);
}

void KZ712alertApp(const char* message, const char* table, const vexa::AppIdentity* bundle, std::int64_t code1,
                   std::int64_t code2, bool withErrorString, QObject* delegate) {
    KZ710stackError(nullptr, code1);
    KZ710stackError(nullptr, code2);
    const QString text = (message != nullptr && message[0] != '\0') ? vexa::localizedText(message, table)
                                                                      : vexa::localizedText(kGenericMessage);
    const QString detail = withErrorString ? fromStd(KZ710getErrorString()) : QString();
    present(errorObject(bundle, text, detail), delegate);
}

void KZ712alertAppNSError(const vexa::Error* error, const vexa::AppIdentity* bundle, std::int64_t code1,
                          std::int64_t code2, bool withErrorString, QObject* delegate) {
    KZ710stackNSError(error);
    KZ710stackError(nullptr, code1);
    KZ710stackError(nullptr, code2);
    vexa::Error shown = error != nullptr ? *error : errorObject(bundle, QString(), QString());
    if (withErrorString) shown.localizedRecoverySuggestion = KZ710getErrorString();
    present(shown, delegate);
}

void KZ712cautionApp(const char* message, std::int64_t code1, std::int64_t code2, bool withErrorString) {
    KZ712alertApp(message, nullptr, nullptr, code1, code2, withErrorString, nullptr);
}

void KZ712cautionAppNSError(const vexa::Error* error, std::int64_t code1, std::int64_t code2, bool withErrorString) {
    KZ712alertAppNSError(error, nullptr, code1, code2, withErrorString, nullptr);
}

void KZ712abendApp(const char* message, std::int64_t code1, std::int64_t code2) {
    KZ712cautionApp(message, code1, code2, true);
    vexa::terminateApplication();
}

void KZ712abendAppNSError(const vexa::Error* error, std::int64_t code1, std::int64_t code2) {
    KZ712cautionAppNSError(error, code1, code2, true);
    vexa::terminateApplication();
}
