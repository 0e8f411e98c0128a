#pragma once
// Running a sample's FileExecute text after a detection.

#include <QString>
#include <QStringList>

// Splits a text into tokens as a command line is split: tokens are separated by blanks and
// control characters; double quotes group characters (blanks included) into a token and are
// themselves removed. A token is never cut short, so a long path cannot turn into another one.
QStringList SplitCommandTokens(const QString& Text);

// Runs the text: its first token is the file, the others are its arguments. A regular file with
// the execute permission (or a bare program name found on the search path) starts as a program
// with the tokens as its arguments, in the file's folder; anything else opens with its
// associated program, without the arguments. No text ever goes through a command shell.
// True when there was nothing to run or it was started; false with the reason otherwise.
bool FileExecute(const QString& Text, QString* Error = nullptr);
