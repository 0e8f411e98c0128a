#include "samples/Class_Frequency.h"

#include "helpers/QtPrinters.h"
#include "lang/Lang.h"
#include "helpers/TestFiles.h"

#include <QCollator>
#include <QDir>
#include <QLocale>

#include <gtest/gtest.h>

#include <random>

void PrintTo(const TFrequencyRec& Rec, std::ostream* Out)
{
    *Out << '"' << Rec.ID.toStdString() << "\" " << FrequencyTonesText(Rec).toStdString();
}

namespace {

TFrequencyRec Rec(const QString& ID, std::array<qint32, 5> Freq = {}, std::array<qint32, 5> Delta = {})
{
    return TFrequencyRec{ID, Freq, Delta};
}

QStringList IDs(const TFrequencyRecArr& Table)
{
    QStringList Result;
    for (const TFrequencyRec& R : Table)
        Result.append(R.ID);
    return Result;
}

// Loads a table from file text written byte for byte as given.
TFrequencyRecArr LoadText(const std::string& Text)
{
    testkit::TempDir Dir;
    testkit::writeText(Dir.file("Freq.ini"), Text);
    TFrequencyRecArr Table;
    QString Error;
    EXPECT_TRUE(LoadFrequencyTable(Table, Q(Dir.file("Freq.ini")), &Error)) << Error.toStdString();
    return Table;
}

std::string SavedText(const TFrequencyRecArr& Table)
{
    testkit::TempDir Dir;
    QString Error;
    EXPECT_TRUE(SaveFrequencyTable(Table, Q(Dir.file("Freq.ini")), &Error)) << Error.toStdString();
    return testkit::readText(Dir.file("Freq.ini"));
}

TEST(FrequencyFileTest, ReadsAnEntryWithItsTones)
{
    const auto Table = LoadText("[Frequencys]\r\nID=1\r\nFreq=697\r\nFreqDelta=20\r\nFreq=1209\r\nFreqDelta=20\r\n\r\n");
    ASSERT_EQ(Table.size(), 1);
    EXPECT_EQ(Table[0], Rec("1", {697, 1209, 0, 0, 0}, {20, 20, 0, 0, 0}));
}

TEST(FrequencyFileTest, WritesTheLayoutAndLeavesOutEmptySlots)
{
    const TFrequencyRecArr Table{Rec("A", {0, 1000, 0, -5, 0}, {7, 8, 9, -3, 0}), Rec("Empty")};
    EXPECT_EQ(SavedText(Table), "[Frequencys]\r\n"
                                "ID=A\r\nFreq=1000\r\nFreqDelta=8\r\nFreq=-5\r\nFreqDelta=-3\r\n\r\n"
                                "ID=Empty\r\n\r\n");
    EXPECT_EQ(SavedText({}), "[Frequencys]\r\n");
}

TEST(FrequencyFileTest, TonesMoveUpIntoTheFirstSlotsOnReload)
{
    const auto Table = LoadText(SavedText({Rec("A", {0, 1000, 0, 0, 1633}, {9, 20, 9, 9, 35})}));
    ASSERT_EQ(Table.size(), 1);
    EXPECT_EQ(Table[0], Rec("A", {1000, 1633, 0, 0, 0}, {20, 35, 0, 0, 0}));
}

TEST(FrequencyFileTest, RoundTripKeepsTheTable)
{
    TFrequencyRecArr Table;
    std::mt19937 Random(7);
    for (int I = 0; I < 40; ++I) {
        TFrequencyRec R = Rec(QStringLiteral("Cmd %1 ×=%2").arg(I, 2, 10, QChar(u'0')).arg(I % 3));
        const int Tones = I % 6;
        for (int Slot = 0; Slot < Tones; ++Slot) {
            R.Freq[size_t(Slot)] = int(Random() % 20000) + 1;
            R.FreqDelta[size_t(Slot)] = int(Random() % 100) - 10;
        }
        Table.append(R);
    }
    const auto Loaded = LoadText(SavedText(Table));
    EXPECT_EQ(Loaded, Table);
}

TEST(FrequencyFileTest, KeysIgnoreLetterCase)
{
    const auto Table = LoadText("id=x\r\nfreq=697\r\nFREQDELTA=20\r\nfReQ=1209\r\n");
    ASSERT_EQ(Table.size(), 1);
    EXPECT_EQ(Table[0], Rec("x", {697, 1209, 0, 0, 0}, {20, 0, 0, 0, 0}));
}

TEST(FrequencyFileTest, MissingFileGivesAnEmptyTable)
{
    testkit::TempDir Dir;
    TFrequencyRecArr Table{Rec("old")};
    EXPECT_TRUE(LoadFrequencyTable(Table, Q(Dir.file("none.ini"))));
    EXPECT_TRUE(Table.isEmpty());
}

TEST(FrequencyFileTest, UnreadableFileIsAnErrorNamingItAndKeepsTheTable)
{
    testkit::TempDir Dir;
    const QString FileName = Q(Dir.file("Freq.ini"));
    ASSERT_TRUE(QDir().mkpath(FileName));  // a folder where the file should be
    TFrequencyRecArr Table{Rec("kept")};
    QString Error;
    EXPECT_FALSE(LoadFrequencyTable(Table, FileName, &Error));
    EXPECT_TRUE(Error.contains(FileName)) << Error.toStdString();
    EXPECT_EQ(IDs(Table), QStringList{"kept"});
}

TEST(FrequencyFileTest, UnwritableFileIsAnErrorNamingIt)
{
    testkit::TempDir Dir;
    testkit::writeText(Dir.file("blocker"), "a file, not a folder");
    const QString FileName = Q(Dir.file("blocker/Ini/Freq.ini"));
    QString Error;
    EXPECT_FALSE(SaveFrequencyTable({Rec("A")}, FileName, &Error));
    EXPECT_TRUE(Error.contains(Q(Dir.file("blocker")))) << Error.toStdString();
}

TEST(FrequencyFileTest, BadLinesAreSkippedAndTheRestLoads)
{
    std::string Text = "Freq=111\r\nFreqDelta=11\r\n"     // tones before any entry
                       "\x01\x02\xff\xfe garbage\r\n"      // binary bytes
                       "no equals sign\r\n"
                       "ID=one\r\n"
                       "FreqDelta=99\r\n"                   // before the entry's first tone
                       "Freq=abc\r\nFreqDelta=x\r\n"        // numbers that do not parse
                       "Freq=1\r\nFreq=2\r\nFreqDelta=22\r\n"
                       "Freq=99999999999\r\nFreqDelta=5\r\n"  // does not fit 32 bits
                       "Freq=4\r\n"
                       "Freq=6\r\nFreqDelta=66\r\n"           // a sixth tone: no slot for it
                       "ID=";
    Text += std::string(300000, 'L');  // an overlong identifier line
    Text += std::string("\r\nFreq= 697\r\n\0\0\0\r\n", 18);  // NUL bytes
    const auto Table = LoadText(Text);
    ASSERT_EQ(Table.size(), 2);
    const TFrequencyRec& Long = Table[0];
    const TFrequencyRec& One = Table[1];
    EXPECT_EQ(Long.ID, QString(FrequencyIDLength, u'L'));
    EXPECT_EQ(Long.Freq[0], 697);
    EXPECT_EQ(One.ID, QStringLiteral("one"));
    EXPECT_EQ(One.Freq, (std::array<qint32, 5>{0, 1, 2, 0, 4}));
    EXPECT_EQ(One.FreqDelta, (std::array<qint32, 5>{0, 0, 22, 5, 0}));
}

TEST(FrequencyFileTest, IdentifiersAreTrimmedAndTheUndialableOnesWarned)
{
    testkit::TempDir Dir;
    const std::string Name = Dir.file("Freq.ini");
    testkit::writeText(Name, "[Frequencys]\r\nID= 1 \r\nFreq=697\r\nID=\tStart\x01\r\nFreq=1000\r\n"
                             "ID=a,b\r\nFreq=770\r\nID=   \r\nFreq=852\r\n");
    TFrequencyRecArr Table;
    QString Error;
    QStringList Warnings;
    ASSERT_TRUE(LoadFrequencyTable(Table, Q(Name), &Error, &Warnings)) << Error.toStdString();
    EXPECT_EQ(IDs(Table), (QStringList{"", "1", "a,b", "Start"}));
    ASSERT_EQ(Warnings.size(), 2) << Warnings.join('\n').toStdString();
    EXPECT_EQ(Warnings[0], FormatMessageText("FreqIDNotDialable", {"", Q(Name)}));
    EXPECT_EQ(Warnings[1], FormatMessageText("FreqIDNotDialable", {"a,b", Q(Name)}));
    // The trimmed identifiers are the ones a command dials.
    EXPECT_GE(IndexOfCommand(Table, "1"), 0);
    EXPECT_GE(IndexOfCommand(Table, "Start"), 0);
}

// Control characters anywhere in an identifier are dropped on reading, and what is read saves
// and reads back as it was.
TEST(FrequencyFileTest, ControlCharactersInIdentifiersAreDroppedAndReadingIsStable)
{
    const struct {
        std::string Written;
        QString Read;
    } Cases[] = {
        {"A\x01", "A"},
        {"\x02\x03" "B", "B"},
        {"St\tart", "Start"},
        {"C\x7F" " D", "C D"},
        {"\x01" " E \x1F", "E"},
        {"\x1B[31mRed", "[31mRed"},
        // Cut at the longest identifier with a blank at the cut: trimmed after the cut too.
        {std::string(127, 'x') + " y", QString(127, u'x')},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Written);
        const TFrequencyRecArr Read = LoadText("[Frequencys]\r\nID=" + Case.Written + "\r\nFreq=697\r\n");
        ASSERT_EQ(Read.size(), 1);
        EXPECT_EQ(Read[0].ID, Case.Read);
        EXPECT_EQ(IDs(LoadText(SavedText(Read))), IDs(Read));
    }
}

TEST(FrequencyFileTest, DefaultFileHoldsTheSixteenDtmfSymbols)
{
    TFrequencyRecArr Table;
    QString Error;
    ASSERT_TRUE(LoadFrequencyTable(Table, QStringLiteral(ONDRIX_SOURCE_DIR "/resources/Ini_Def/Freq.ini"), &Error))
        << Error.toStdString();
    ASSERT_EQ(Table.size(), 16);
    const int Rows[] = {697, 770, 852, 941};
    const int Columns[] = {1209, 1336, 1477, 1633};
    const char* Keypad[] = {"123A", "456B", "789C", "*0#D"};
    for (int Row = 0; Row < 4; ++Row) {
        for (int Column = 0; Column < 4; ++Column) {
            const QString Symbol(QChar(Keypad[Row][Column]));
            EXPECT_EQ(FindCommand(Table, Symbol), Rec(Symbol, {Rows[Row], Columns[Column], 0, 0, 0}, {35, 35, 0, 0, 0}))
                << Symbol.toStdString();
        }
    }
}

TEST(FrequencyTableTest, LoadingSortsWithoutRegardToCase)
{
    EXPECT_EQ(IDs(LoadText("ID=B\r\nID=a\r\nID=C\r\n")), (QStringList{"a", "B", "C"}));
    // Equal identifiers come out in selection-sort order, not in their file order: for "b", "B",
    // "a" the "a" is swapped with the first entry, which leaves "B" ahead of "b".
    EXPECT_EQ(IDs(LoadText("ID=b\r\nID=B\r\nID=a\r\n")), (QStringList{"a", "B", "b"}));
}

TEST(FrequencyTableTest, SortMatchesAPlainSelectionSort)
{
    // Many equal keys (letter case only) in a table large enough to use every level of the tree.
    std::mt19937 Random(11);
    const QString Letters = QStringLiteral("aAbBcCdD");
    TFrequencyRecArr Table;
    for (int I = 0; I < 300; ++I) {
        TFrequencyRec R = Rec(QString(Letters[int(Random() % 8)]) + QString(Letters[int(Random() % 8)]));
        R.Freq[0] = I;  // tells equal identifiers apart
        Table.append(R);
    }
    TFrequencyRecArr Expected = Table;
    const QCollator Collator{QLocale()};
    auto Key = [&](const TFrequencyRec& R) { return FrequencySortKey(Collator, R.ID); };
    for (qsizetype I = 0; I < Expected.size(); ++I) {
        qsizetype Smallest = I;
        for (qsizetype J = I + 1; J < Expected.size(); ++J)
            if (Key(Expected[J]).compare(Key(Expected[Smallest])) < 0)
                Smallest = J;
        Expected.swapItemsAt(I, Smallest);
    }
    SortFrequencyTable(Table);
    EXPECT_EQ(Table, Expected);
}

TEST(FrequencyTableTest, LookupIsExactToTheLetterCase)
{
    TFrequencyRecArr Table{Rec("A", {1}), Rec("a", {2})};
    SortFrequencyTable(Table);
    EXPECT_EQ(FindCommand(Table, "a").Freq[0], 2);
    EXPECT_EQ(FindCommand(Table, "A").Freq[0], 1);
    EXPECT_EQ(IndexOfCommand(Table, "b"), -1);
    EXPECT_EQ(FindCommand(Table, "b"), TFrequencyRec{});
    EXPECT_EQ(IndexOfCommand(Table, " a"), -1);
}

TEST(FrequencyTableTest, AddRefusesEmptyAndDuplicateIdentifiers)
{
    TFrequencyRecArr Table{Rec("A", {1})};
    EXPECT_FALSE(AddFrequencyRec(Table, Rec("", {5})));
    EXPECT_FALSE(AddFrequencyRec(Table, Rec("A", {5})));
    EXPECT_EQ(Table, (TFrequencyRecArr{Rec("A", {1})}));
    EXPECT_TRUE(AddFrequencyRec(Table, Rec("a", {5})));  // differs in case: a new command
    EXPECT_EQ(IDs(Table), (QStringList{"A", "a"}));
}

TEST(FrequencyTableTest, DeleteAndClear)
{
    TFrequencyRecArr Table{Rec("A"), Rec("B"), Rec("C")};
    EXPECT_TRUE(DeleteFrequencyRec(Table, 1));
    EXPECT_EQ(IDs(Table), (QStringList{"A", "C"}));
    EXPECT_FALSE(DeleteFrequencyRec(Table, 2));
    EXPECT_FALSE(DeleteFrequencyRec(Table, -1));
    EXPECT_EQ(Table.size(), 2);

    TFrequencyRec R = Rec("X", {1, 2, 3, 4, 5}, {1, 1, 1, 1, 1});
    ClearFrequencyRec(R);
    EXPECT_EQ(R, TFrequencyRec{});
}

TEST(FrequencyTableTest, TonesTextShowsDeviationsWhereSet)
{
    EXPECT_EQ(FrequencyTonesText(Rec("1", {697, 1209}, {20, 20})), QString::fromUtf8("697(±20) + 1209(±20)"));
    EXPECT_EQ(FrequencyTonesText(Rec("x", {0, 1000, 0, 2000}, {5, 0, 0, 30})), QString::fromUtf8("1000 + 2000(±30)"));
    EXPECT_EQ(FrequencyTonesText(Rec("none")), QString());
}

}  // namespace
