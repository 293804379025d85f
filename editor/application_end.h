// The ways the editor ends: Quit, OK and closing the main window end the
// event loop; an alert that ends the editor (an abend, a terminate with
// message) ends the process from within; SIGTERM (the session ends), SIGINT
// and SIGHUP end the event loop like Quit. Each passes once through the
// delegate's applicationWillTerminate.
#pragma once

class AppDelegateClass;
class QCoreApplication;

void runWillTerminateOnEveryWayOut(QCoreApplication& application, AppDelegateClass& delegate);
