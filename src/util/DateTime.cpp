#include "util/DateTime.h"

#include <QLocale>
#include <QRegularExpression>

#include <cmath>

namespace {

const QDate& BaseDate()
{
    static const QDate Base(1899, 12, 30);
    return Base;
}

QString Padded(int Value, int Width)
{
    return QStringLiteral("%1").arg(Value, Width, 10, QLatin1Char('0'));
}

// Number of repetitions of Text[Pos] (case-insensitive) starting at Pos.
qsizetype RunLength(const QString& Text, qsizetype Pos)
{
    const QChar C = Text.at(Pos).toLower();
    qsizetype End = Pos;
    while (End < Text.size() && Text.at(End).toLower() == C)
        ++End;
    return End - Pos;
}

}  // namespace

TDateTime Now()
{
    // One clock for the engine and everything else, so a detection's stream time and the
    // message written for it agree.
    return LocalNow();
}

TDateTime DateTimeFromQt(const QDateTime& Value)
{
    if (!Value.isValid())
        return 0;
    const QDateTime Local = Value.toLocalTime();
    const double Days = double(BaseDate().daysTo(Local.date()));
    const double Fraction = double(Local.time().msecsSinceStartOfDay()) / MSecsPerDay;
    // Before the base date the fraction still counts forward from midnight, as the sign of
    // the whole value says nothing about the time of day.
    return Days >= 0 ? Days + Fraction : Days - Fraction;
}

QDateTime DateTimeToQt(TDateTime Value)
{
    // 01.01.0001 .. 31.12.9999; anything else (a corrupt number, NaN) is no date at all.
    if (!(Value >= -693594.0 && Value < 2958466.0))
        return QDateTime();
    const double Whole = std::trunc(Value);
    const qint64 Days = qint64(Whole);
    auto MSecs = qint64(std::llround(std::fabs(Value - Whole) * MSecsPerDay));
    qint64 DayShift = 0;
    if (MSecs >= qint64(MSecsPerDay)) {
        MSecs -= qint64(MSecsPerDay);
        DayShift = Value < 0 ? -1 : 1;
    }
    const QDate Date = BaseDate().addDays(Days + DayShift);
    return QDateTime(Date, QTime::fromMSecsSinceStartOfDay(int(MSecs)));
}

bool TryEncodeDateTime(int Year, int Month, int Day, int Hour, int Minute, int Second, int MSec,
                       TDateTime& Value)
{
    const QDate Date(Year, Month, Day);
    const QTime Time(Hour, Minute, Second, MSec);
    if (!Date.isValid() || !Time.isValid())
        return false;
    const double Days = double(BaseDate().daysTo(Date));
    const double Fraction = double(Time.msecsSinceStartOfDay()) / MSecsPerDay;
    Value = Days >= 0 ? Days + Fraction : Days - Fraction;
    return true;
}

QString FormatDateTime(const QString& Pattern, TDateTime Value)
{
    const QDateTime Moment = DateTimeToQt(Value);
    const QDate Date = Moment.date();
    const QTime Time = Moment.time();
    const QLocale Locale = QLocale::system();
    QString Result;
    bool AfterHour = false;  // an m right after an hour means minutes
    qsizetype Pos = 0;
    while (Pos < Pattern.size()) {
        const QChar C = Pattern.at(Pos);
        if (C == u'"' || C == u'\'') {
            const qsizetype Close = Pattern.indexOf(C, Pos + 1);
            const qsizetype End = Close < 0 ? Pattern.size() : Close;
            Result += Pattern.mid(Pos + 1, End - Pos - 1);
            Pos = End + 1;
            continue;
        }
        const QChar L = C.toLower();
        if (L != u'd' && L != u'm' && L != u'y' && L != u'h' && L != u'n' && L != u's' && L != u'z') {
            Result += C;
            ++Pos;
            continue;
        }
        const qsizetype Count = RunLength(Pattern, Pos);
        Pos += Count;
        // One letter gives the number as it is, two or more give it with leading zeros.
        auto Number = [Count](int Part) { return Count == 1 ? QString::number(Part) : Padded(Part, 2); };
        const QLocale::FormatType NameFormat = Count == 3 ? QLocale::ShortFormat : QLocale::LongFormat;
        const bool Minute = L == u'n' || (L == u'm' && AfterHour && Count <= 2);
        AfterHour = L == u'h';
        if (Minute)
            Result += Number(Time.minute());
        else if (L == u'd')
            Result += Count <= 2 ? Number(Date.day()) : Locale.standaloneDayName(Date.dayOfWeek(), NameFormat);
        else if (L == u'm')
            Result += Count <= 2 ? Number(Date.month()) : Locale.standaloneMonthName(Date.month(), NameFormat);
        else if (L == u'y')
            Result += Count <= 2 ? Padded(Date.year() % 100, 2) : Padded(Date.year(), 4);
        else if (L == u'h')
            Result += Number(Time.hour());
        else if (L == u's')
            Result += Number(Time.second());
        else  // z
            Result += Count < 3 ? QString::number(Time.msec()) : Padded(Time.msec(), 3);
    }
    return Result;
}

bool TryStrToDateTime(const QString& Text, TDateTime& Value)
{
    static const QRegularExpression Fixed(QStringLiteral(
        R"(^\s*(\d{1,2})\.(\d{1,2})\.(\d{4})(?:\s+(\d{1,2}):(\d{1,2})(?::(\d{1,2}))?)?\s*$)"));
    const QRegularExpressionMatch Match = Fixed.match(Text);
    if (Match.hasMatch()) {
        return TryEncodeDateTime(Match.captured(3).toInt(), Match.captured(2).toInt(),
                                 Match.captured(1).toInt(), Match.captured(4).toInt(),
                                 Match.captured(5).toInt(), Match.captured(6).toInt(), 0, Value);
    }
    const QLocale Locale = QLocale::system();
    const QString Trimmed = Text.trimmed();
    for (const auto Format : {QLocale::ShortFormat, QLocale::LongFormat}) {
        const QDateTime Moment = Locale.toDateTime(Trimmed, Format);
        if (Moment.isValid()) {
            Value = DateTimeFromQt(Moment);
            return true;
        }
        const QDate Date = Locale.toDate(Trimmed, Format);
        if (Date.isValid()) {
            Value = DateTimeFromQt(QDateTime(Date, QTime(0, 0)));
            return true;
        }
    }
    return false;
}

TDateTime StrToDateTimeDef(const QString& Text, TDateTime Default)
{
    TDateTime Value = 0;
    return TryStrToDateTime(Text, Value) ? Value : Default;
}
