#pragma once
// Reading and writing "Key=Value" lines: the sample list, the frequency table, the INI files
// and the program messages all read and write them this way.

#include <QString>

// Splits a line at its first "=": the text before is the key, the text after the value. A line
// without "=" is a key with an empty value. Nothing is trimmed.
void SplitKeyValue(const QString& Line, QString& Key, QString& Value);

// Whether a key equals a name without regard to letter case.
bool SameKey(const QString& Key, const QString& Name);

// A decimal integer (a sign and surrounding blanks allowed), or Default when the text is not
// one or does not fit 32 bits.
int StrToIntDef(const QString& Text, int Default);

// A finite decimal number written with ".", "," or the user's own decimal separator
// (surrounding blanks allowed); false, with Value untouched, when the text is not one.
bool TextToFloat(const QString& Text, double& Value);
// TextToFloat, or Default.
double StrToFloatDef(const QString& Text, double Default);

// The text without blanks and control characters (anything up to U+0020) at both ends.
QString TrimBlanks(const QString& Text);

// A value as it can stand on one line of a file: each line break (CR LF, CR or LF) becomes
// one blank, so a value can never add lines (and with them keys or sections) of its own.
QString OneLineValue(const QString& Value);

// A text as one field of one line of TAB-separated output or of a protocol line: control
// characters (tab, line breaks, NUL) become blanks.
QString OneField(QString Text);
