// Module 100: switching the watchers on and off.
#include "daemon/set_upper.h"

#include "errors/daemon_alerts.h"

SetUpperClass::~SetUpperClass() { stop(); }

void SetUpperClass::start() {
    // Whose tables present keyboards get at once depends on this order:
    // the console user is read before the driver notifications apply them.
    reconnecter();
    ErrorCode r = installLoginNotify();
    if (r != 0) CautionApp(nullptr, r, kSetUpperErrLoginNotify);
    r = installDeviceNotify();
    if (r != 0) CautionApp(nullptr, r, kSetUpperErrDeviceNotify);
    r = registerSetUpperNotification();
    if (r != 0) CautionApp(nullptr, r, kSetUpperErrSetUpperNotify);
}

void SetUpperClass::stop() {
    // The reverse order of start; each step is harmless when its watcher is off.
    removeSetUpperNotification();
    removeDeviceNotify();
    removeLoginNotify();
}
