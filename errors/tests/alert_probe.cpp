// Runs one abend form in a process of its own: prints what the panel showed,
// dismisses it, and prints a line from the will-terminate handler. The line
// after the abend call must never appear.
#include <cstdio>

#include <QApplication>

#include "errors/alerts.h"
#include "errors/error.h"
#include "errors/tests/alert_catcher.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    vexa::test::ProbeReporter reporter;
    const QString form = argc > 1 ? QString::fromUtf8(argv[1]) : QString();
    if (form == QLatin1String("abend")) {
        KZ712abendApp(nullptr, 7300154, 1300125);
    } else if (form == QLatin1String("abend-error")) {
        const vexa::Error error = vexa::Error::posix(13);
        KZ712abendAppNSError(&error, -13, 1300135);
    }
    std::printf("returned\n");
    return 3;
}
