#pragma once
// The program's start: the steps from the command line to the running main window.

#include "core/Common_Settings.h"

#include <QString>

// A stop request during the start-up delay: the start ends before any folder is touched.
struct EStartCancelled {};

// The program's own start-up (its command line and executable) with a /Delay wait that ends
// at once, raising EStartCancelled, when StopRequested becomes true.
TSettingsStartup StopAwareStartup(const bool& StopRequested);

// Shows a start-up failure: on standard error always, and in a message box when there is a
// screen to show it on.
void ReportStartupError(const QString& Text);

// Shows the hourglass while the counted busy cursor is up (from any thread).
void InstallBusyCursor();

// Runs the program: settings object, main window, event loop; returns the exit code.
// argc/argv are those given to main.
int RunOndrix(int& argc, char** argv);
