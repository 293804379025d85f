// Test helper: watches for the alert panels of module 712, records what each
// one showed and dismisses it with its default button, so that tests can
// drive application-modal panels without a person.
#pragma once

#include <cstdio>

#include <QPushButton>
#include <QApplication>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "errors/alerts.h"

namespace vexa::test {

struct SeenAlert {
    QString text;
    QString informativeText;
    Qt::WindowModality modality = Qt::NonModal;
    QPointer<QWidget> parent;
    QString domain;
    qint64 code = 0;
};

class AlertCatcher : public QObject {
public:
    // With dismiss false the panels are recorded but left open.
    explicit AlertCatcher(bool dismiss = true) : dismiss_(dismiss) {
        connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
        timer_.start(10);
    }

    QList<SeenAlert> seen;

    static QMessageBox* openAlert() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box != nullptr && box->isVisible() && box->objectName() == QLatin1String("vexaAlert")) return box;
        }
        return nullptr;
    }

private:
    void poll() {
        QMessageBox* box = openAlert();
        if (box == nullptr || handled_.contains(box)) return;
        handled_.append(box);
        SeenAlert alert;
        alert.text = box->text();
        alert.informativeText = box->informativeText();
        alert.modality = box->windowModality();
        alert.parent = box->parentWidget();
        alert.domain = box->property("errorDomain").toString();
        alert.code = box->property("errorCode").toLongLong();
        seen.append(alert);
        if (dismiss_) box->defaultButton()->click();
    }

    bool dismiss_;
    QTimer timer_;
    QList<QPointer<QMessageBox>> handled_;
};

// For probe processes that end through an alert: prints each alert as
// "text=<message>|detail=<detail>" and dismisses it, and prints
// "will-terminate" when the application ends through terminateApplication.
class ProbeReporter : public QObject {
public:
    ProbeReporter() {
        vexa::installTranslationLookup();
        vexa::setWillTerminateHandler([](void*) { std::printf("will-terminate\n"); }, nullptr);
        connect(&timer_, &QTimer::timeout, this, [] {
            if (QMessageBox* box = AlertCatcher::openAlert()) {
                std::printf("text=%s|detail=%s\n", qPrintable(box->text()), qPrintable(box->informativeText()));
                box->defaultButton()->click();
            }
        });
        timer_.start(10);
    }

private:
    QTimer timer_;
};

}  // namespace vexa::test
