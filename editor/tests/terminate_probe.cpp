// Ends the editor in a process of its own and prints what the alert showed
// ("text=...|detail=..."), dismissing it, then a line from the
// will-terminate handler. The line after the ending call must never appear.
//
//   editor_terminate_probe          terminateWithMsgInfo with a message
//   editor_terminate_probe apply    changes the A key and presses Apply
#include <cstdio>
#include <cstring>

#include <QApplication>

#include "editor/app_delegate.h"
#include "editor/key_button.h"
#include "errors/tests/alert_catcher.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    vexa::test::ProbeReporter reporter;
    AppDelegateClass delegate;
    if (argc > 1 && std::strcmp(argv[1], "apply") == 0) {
        delegate.bindSiblings();
        if (delegate.readSettings() != 0) return 4;
        const std::optional<KeyButtonSet> a = delegate.keyboardTab->findKeyButtonsForBasecodeInLabel(0x04, "ansi");
        if (!a) return 5;
        (*a->begin())->setKeycode(0x29);
        delegate.applyButton();
    } else {
        delegate.terminateWithMsgInfo(QStringLiteral("Driver is not loaded."),
                                      QStringLiteral("You need to install driver again."));
    }
    std::printf("returned\n");
    return 3;
}
