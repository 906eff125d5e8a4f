#pragma once
// Reporting uncaught exceptions. While installed (`Analytics::setTrackUncaughtExceptions(true)`),
// the process's terminate handler reports the first exception that goes uncaught as a fatal
// "exception" hit ("&exd": its name and the symbols of the stack it was thrown from, at most 150
// characters; "&exf": "1") through the default tracker, asks for a dispatch at once, and keeps
// the calling thread's run loop turning for 5 seconds so the request can leave. Then it hands
// over to the terminate handler that was installed before it, or aborts the process when there
// was none: it never returns.
//
// The report never keeps the process for ever: it reads the default tracker and the dispatcher
// without the instance lock (an exception thrown under that lock leaves it held), builds the
// hit without the tracker's lock and sends it at once without going through the hit store
// (`AnalyticsTrackerImpl::an_sendException`), and when it
// has not ended after 10 seconds of real time (it waits for some other lock the thrower holds),
// the process is handed over all the same, from another thread.
//
// Only the first uncaught exception of a process is reported. A later one on another thread
// waits for the first report to end the process; one raised by the report itself aborts at once.

#include <exception>

#include "analytics/AnalyticsException.h"

// Installs the handler unless it is installed, keeping the one in place as the previous handler.
void AnalyticsInstallUncaughtExceptionHandler();
// Puts the previous handler back when this one is installed.
void AnalyticsRestoreUncaughtExceptionHandler();
// The terminate handler itself.
[[noreturn]] void AnalyticsTerminateHandler();
// Reports `exception` (the first time only) and returns; the terminate handler's work before it
// hands over.
void AnalyticsUncaughtExceptionHandler(const std::optional<AnalyticsException>& exception);
