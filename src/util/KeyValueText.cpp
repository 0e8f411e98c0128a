#include "util/KeyValueText.h"

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

bool TextToFloat(const QString& Text, double& Value)
{
    // Sample lists are written with the user's separator, INI files with "."; older files
    // wrote ",". All of them load, so a file brought from a machine with another locale reads
    // the same.
    QString Number = Text.trimmed();
    Number.replace(QLocale().decimalPoint(), QStringLiteral("."));
    Number.replace(u',', u'.');
    bool Ok = false;
    const double Parsed = Number.toDouble(&Ok);
    // "nan" and "inf" read as numbers, but no stored value holds them.
    if (!Ok || !std::isfinite(Parsed))
        return false;
    Value = Parsed;
    return true;
}

double StrToFloatDef(const QString& Text, double Default)
{
    double Value = Default;
    return TextToFloat(Text, Value) ? Value : Default;
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
    Line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    Line.replace(u'\r', u' ');
    Line.replace(u'\n', u' ');
    return Line;
}

QString OneField(QString Text)
{
    for (QChar& C : Text)
        if (C.unicode() < 0x20 || C.unicode() == 0x7F)
            C = u' ';
    return Text;
}
