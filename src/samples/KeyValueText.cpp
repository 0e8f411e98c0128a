#include "samples/KeyValueText.h"

#include <QLocale>

#include <cmath>

void SplitKeyValue(const QString& Line, QString& Key, QString& Value)
{
    const qsizetype Pos = Line.indexOf(u'=');
    if (Pos < 0) {
        Key = Line;
        Value.clear();
        return;
    }
    Key = Line.left(Pos);
    Value = Line.mid(Pos + 1);
}

bool SameKey(const QString& Key, const QString& Name)
{
    return Key.compare(Name, Qt::CaseInsensitive) == 0;
}

int StrToIntDef(const QString& Text, int Default)
{
    bool Ok = false;
    const int Value = Text.toInt(&Ok, 10);
    return Ok ? Value : Default;
}

double StrToFloatDef(const QString& Text, double Default)
{
    // The file is written with the user's separator; "." and "," also load, so a file brought
    // from a machine with another locale reads the same.
    QString Number = Text;
    Number.replace(QLocale().decimalPoint(), QStringLiteral("."));
    Number.replace(u',', u'.');
    bool Ok = false;
    const double Value = Number.toDouble(&Ok);
    return Ok && std::isfinite(Value) ? Value : Default;
}

QString TrimBlanks(const QString& Text)
{
    qsizetype First = 0, Last = Text.size();
    while (First < Last && Text.at(First).unicode() <= 0x20)
        ++First;
    while (Last > First && Text.at(Last - 1).unicode() <= 0x20)
        --Last;
    return Text.sliced(First, Last - First);
}

QString OneLineValue(const QString& Value)
{
    QString Line = Value;
    Line.replace(u'\r', u' ');
    Line.replace(u'\n', u' ');
    return Line;
}
