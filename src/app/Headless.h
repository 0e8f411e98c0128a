#pragma once
// `ondrix --headless`: the whole monitor without a window, for a rack server or a service.

// Runs the monitor on a QCoreApplication (no display needed): the data folder and switches as
// usual, the configuration loaded, the samples marked for automatic start switched on, the
// external-program socket served, every program message written to the log file (when logging
// is on) and to standard output. SIGTERM, SIGINT and SIGHUP switch every sample off (with their
// messages), save the settings and end with exit code 0. argc/argv are those given to main.
int RunHeadless(int& argc, char** argv);
