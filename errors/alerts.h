// Alert panels of the graphical programs (module 712) and the way they end
// themselves after a failure they cannot work around ("abend").
//
// Every alert beeps, then shows an error object's message as the panel's main
// text and its detail (usually the rendered error stack) as the informative
// text, with one default button. Without a delegate the panel is
// application-modal and the call returns once it is dismissed; with a
// delegate it opens window-modal on the program's main window (see
// setAlertWindow) and the call returns at once.
//
// Qt only; the daemon has its own notices and never links this library.
#pragma once

#include <cstdint>

#include <QString>

class QObject;
class QWidget;

namespace vexa {

struct AppIdentity;
struct Error;

// Implemented by an alert delegate that wants to hear when its window-modal
// panel has been dismissed. A delegate without it still gets the panel.
class AlertPresentationDelegate {
public:
    virtual void didPresentErrorWithRecoveryContextInfo(bool didRecover, void* contextInfo) = 0;

protected:
    ~AlertPresentationDelegate() = default;
};

// Text lookup of the graphical programs: the application's translation
// lookup with the English text as key. A missing or empty translation gives
// the key. `table` null means the default table.
QString localizedText(const char* key, const char* table = nullptr);

// Makes the error stack's header and every other vexa::localizedString go
// through localizedText. Called once at start by each graphical program.
void installTranslationLookup();

// The window that window-modal alerts open on: the program's main window,
// set once it exists. An alert raised while the program is in the
// background, or while another alert is open, still opens on it, so it is
// shown and its delegate is called back. Without one, alerts open on the
// active window, never on another alert.
void setAlertWindow(QWidget* window);

// Called once, just before the application ends through
// terminateApplication (the programs also connect it to a normal quit).
using WillTerminateHandler = void (*)(void* context);
void setWillTerminateHandler(WillTerminateHandler handler, void* context);

// Ends the application at once: runs the will-terminate handler, then exits
// the process with status 0. Never returns.
[[noreturn]] void terminateApplication();

}  // namespace vexa

// Builds an error object (domain = the program's identifier, code 0) from an
// already localized message and detail, beeps and presents it.
void KZ712showAlert(const QString& message, const QString& detail, QObject* delegate);

// Pushes code1 then code2, localizes `message` (a key; null or empty means
// "An error occurred.") in `table`, and shows it; the detail is the rendered
// error stack when `withErrorString` is set, else empty. A null bundle means
// this program.
void KZ712alertApp(const char* message, const char* table, const vexa::AppIdentity* bundle,
                   std::int64_t code1, std::int64_t code2, bool withErrorString, QObject* delegate);

// Pushes the error's chain, then code1, then code2, and presents a copy of
// the error whose detail is replaced by the rendered stack when
// `withErrorString` is set. A null error stands for (this program, code 0).
void KZ712alertAppNSError(const vexa::Error* error, const vexa::AppIdentity* bundle, std::int64_t code1,
                          std::int64_t code2, bool withErrorString, QObject* delegate);

// Application-modal forms of the two above.
void KZ712cautionApp(const char* message, std::int64_t code1, std::int64_t code2, bool withErrorString);
void KZ712cautionAppNSError(const vexa::Error* error, std::int64_t code1, std::int64_t code2,
                            bool withErrorString);

// Application-modal alert with the error stack, then the application ends
// with exit status 0. Never return.
[[noreturn]] void KZ712abendApp(const char* message, std::int64_t code1, std::int64_t code2);
[[noreturn]] void KZ712abendAppNSError(const vexa::Error* error, std::int64_t code1, std::int64_t code2);
