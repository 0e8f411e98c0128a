#pragma once
// Command-line switches of the form /Name=Value or \Name=Value.

#include <QString>
#include <QStringList>

// Looks for the switch Name among Args (the arguments after the program itself). The switch is
// written as a slash or a backslash, the name, "=" and the value; the name compares without
// regard to case, the parts before and after the first "=" are trimmed, and every double quote
// is removed from the value. A switch without "=" has an empty value. When the switch is given
// several times the last one wins. True when the switch is present.
bool FindCmdLineSwitch(const QStringList& Args, const QString& Name, QString& Value);

// The arguments of the running program, without the program itself.
QStringList ProgramArguments();
