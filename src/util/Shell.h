#pragma once
// Starting other programs: a program with its arguments, or a document with the program the
// desktop associates with it. Never through a command shell, so no text is ever interpreted
// as shell syntax. Both return at once (the program runs detached) and report whether it
// could be started.

#include <QString>
#include <QStringList>

// Starts Program with Arguments in WorkingFolder (empty: the current folder). False with the
// reason when it cannot be started.
bool ShellRun(const QString& Program, const QStringList& Arguments, const QString& WorkingFolder,
              QString* Error = nullptr);

// Opens a document, folder or web address with its associated program (xdg-open). False
// with the reason when the opener cannot be started.
bool ShellOpen(const QString& Target, QString* Error = nullptr);
