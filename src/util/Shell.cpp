#include "util/Shell.h"

#include <QProcess>

bool ShellRun(const QString& Program, const QStringList& Arguments, const QString& WorkingFolder, QString* Error)
{
    QProcess Process;
    Process.setProgram(Program);
    Process.setArguments(Arguments);
    if (!WorkingFolder.isEmpty())
        Process.setWorkingDirectory(WorkingFolder);
    // Detached: the program outlives the monitor's handling and is reaped by the system.
    Process.setStandardInputFile(QProcess::nullDevice());
    if (Process.startDetached())
        return true;
    if (Error)
        *Error = Process.errorString();
    return false;
}

bool ShellOpen(const QString& Target, QString* Error)
{
    return ShellRun(QStringLiteral("xdg-open"), {Target}, QString(), Error);
}
