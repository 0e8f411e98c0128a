#include "samples/Class_SampleRec.h"

#include "helpers/QtPrinters.h"
#include "lang/Lang.h"
#include "helpers/TestFiles.h"

#include <QDir>
#include <QLocale>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <tuple>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Loads a sample list from file text written byte for byte as given.
void LoadText(TSampleList& List, const std::string& Text)
{
    testkit::TempDir Dir;
    testkit::writeText(Dir.file("Samples.ini"), Text);
    QString Error;
    ASSERT_TRUE(List.LoadFromFile(Q(Dir.file("Samples.ini")), &Error)) << Error.toStdString();
}

std::string SavedText(const TSampleList& List)
{
    testkit::TempDir Dir;
    QString Error;
    EXPECT_TRUE(List.SaveToFile(Q(Dir.file("Ini/Samples.ini")), &Error)) << Error.toStdString();
    return testkit::readText(Dir.file("Ini/Samples.ini"));
}

// The stored fields of a record, one "name value" each, for comparing records.
QStringList Stored(const TSampleRec& R)
{
    return {
        QStringLiteral("Description %1").arg(R.Description),
        QStringLiteral("Number %1").arg(R.Number),
        QStringLiteral("Type %1").arg(int(R.Type)),
        QStringLiteral("Sense %1").arg(R.Sense),
        QStringLiteral("SampleWait %1").arg(R.SampleWait),
        QStringLiteral("AutoDisable %1").arg(R.AutoDisable),
        QStringLiteral("AutoStart %1").arg(R.AutoStart),
        QStringLiteral("UseLowFreq %1").arg(R.UseLowFreq),
        QStringLiteral("SignalMode %1").arg(int(R.SignalMode)),
        QStringLiteral("Path %1").arg(R.Path),
        QStringLiteral("Precision %1").arg(R.Precision),
        QStringLiteral("SignalTime %1").arg(R.SignalTime),
        QStringLiteral("SignaldB %1").arg(R.SignaldB),
        QStringLiteral("Command %1").arg(R.Command),
        QStringLiteral("CommandSpeed %1").arg(R.CommandSpeed),
        QStringLiteral("FileExecute %1").arg(R.FileExecute),
        QStringLiteral("Method %1").arg(int(R.Method)),
    };
}

TSampleRec* AddRec(TSampleList& List, TSampleType Type, int Number, const QString& Description = {})
{
    auto* R = List.Add(std::make_unique<TSampleRec>());
    R->Type = Type;
    R->Number = Number;
    R->Description = Description;
    return R;
}

TEST(SampleFileTest, DescriptionLineAloneGivesASampleWithDefaults)
{
    TSampleList List;
    LoadText(List, "Description=\r\n");
    ASSERT_EQ(List.Count(), 1);
    const TSampleRec& R = *List[0];
    EXPECT_EQ(R.Description, QString());
    EXPECT_EQ(R.Type, TSampleType::Command);
    EXPECT_EQ(R.Number, -1);
    EXPECT_EQ(R.Sense, 50);
    EXPECT_EQ(R.Precision, 2);
    EXPECT_EQ(R.CommandSpeed, 5);
    EXPECT_EQ(R.SignalTime, 5.0);
    EXPECT_EQ(R.SignaldB, -40.0);
    EXPECT_EQ(R.SignalMode, TSignalMode::Left);
    EXPECT_FALSE(R.Enabled);
    EXPECT_FALSE(R.Detected);
    EXPECT_EQ(R.Sequence, nullptr);
}

TEST(SampleFileTest, EachKeyReadsItsValueOrItsFallback)
{
    struct Case {
        const char* Line;
        std::function<bool(const TSampleRec&)> Holds;
    };
    const Case Cases[] = {
        {"Sense=abc", [](auto& R) { return R.Sense == 0; }},
        {"Sense=73", [](auto& R) { return R.Sense == 73; }},
        {"sEnSe=7", [](auto& R) { return R.Sense == 7; }},
        {"Sensitivity=70", [](auto& R) { return R.Sense == 20; }},
        {"Sensitivity=x", [](auto& R) { return R.Sense == 0; }},
        {"Sensitivity=-2147483648", [](auto& R) { return R.Sense == 0; }},
        {"Number=x", [](auto& R) { return R.Number == -1; }},
        {"Number=12", [](auto& R) { return R.Number == 12; }},
        {"Number=99999999999", [](auto& R) { return R.Number == -1; }},
        {"Type=silence", [](auto& R) { return R.Type == TSampleType::Silence; }},
        {"Type=SIGNAL", [](auto& R) { return R.Type == TSampleType::Signal; }},
        {"Type=Command", [](auto& R) { return R.Type == TSampleType::Command; }},
        {"Type=Tone", [](auto& R) { return R.Type == TSampleType::File; }},
        {"Type= Silence", [](auto& R) { return R.Type == TSampleType::File; }},  // no trimming
        {"SampleType=2", [](auto& R) { return R.Type == TSampleType::Signal; }},
        {"SampleType=x", [](auto& R) { return R.Type == TSampleType::File; }},
        {"SignalMode=dec", [](auto& R) { return R.SignalMode == TSignalMode::Dec; }},
        {"SignalMode=Right", [](auto& R) { return R.SignalMode == TSignalMode::Right; }},
        {"SignalMode=Centre", [](auto& R) { return R.SignalMode == TSignalMode::Add; }},
        {"AutoStart=True", [](auto& R) { return R.AutoStart; }},
        {"AutoStart=1", [](auto& R) { return !R.AutoStart; }},
        {"AutoDisable=TRUE", [](auto& R) { return R.AutoDisable; }},
        {"UseLowFreq=true", [](auto& R) { return R.UseLowFreq; }},
        {"UseLowFreq=yes", [](auto& R) { return !R.UseLowFreq; }},
        {"Precision=x", [](auto& R) { return R.Precision == 0; }},
        {"Precision=4", [](auto& R) { return R.Precision == 4; }},
        {"SampleWait=x", [](auto& R) { return R.SampleWait == 0; }},
        {"SampleWait=1500", [](auto& R) { return R.SampleWait == 1500; }},
        {"SignalTime=x", [](auto& R) { return R.SignalTime == 0; }},
        {"SignalTime=2.5", [](auto& R) { return R.SignalTime == 2.5; }},
        {"SignalTime=2,5", [](auto& R) { return R.SignalTime == 2.5; }},
        {"SignalTime=nan", [](auto& R) { return R.SignalTime == 0; }},
        {"SignaldB=-12", [](auto& R) { return R.SignaldB == -12; }},
        {"SignaldB=x", [](auto& R) { return R.SignaldB == 0; }},
        {"CommandSpeed=x", [](auto& R) { return R.CommandSpeed == 5; }},
        {"CommandSpeed=3", [](auto& R) { return R.CommandSpeed == 3; }},
        {"Command= 1, 2 ", [](auto& R) { return R.Command == " 1, 2 "; }},
        {"Path=/a b/c=d.wav", [](auto& R) { return R.Path == "/a b/c=d.wav"; }},
        {"FileExecute=run.sh", [](auto& R) { return R.FileExecute == "run.sh"; }},
        {"Method=spectral", [](auto& R) { return R.Method == TDetectMethod::Spectral; }},
        {"Method=Robust", [](auto& R) { return R.Method == TDetectMethod::Robust; }},
        {"Method=Landmarks", [](auto& R) { return R.Method == TDetectMethod::Robust; }},
        {"LevelMode=RMS", [](auto& R) { return R.LevelMode == TLevelMode::Rms; }},
        {"levelmode=rms", [](auto& R) { return R.LevelMode == TLevelMode::Rms; }},
        {"LevelMode=Peak", [](auto& R) { return R.LevelMode == TLevelMode::Peak; }},
        {"LevelMode=Average", [](auto& R) { return R.LevelMode == TLevelMode::Peak; }},
        {"AlarmOnce=TRUE", [](auto& R) { return R.AlarmOnce; }},
        {"AlarmOnce=yes", [](auto& R) { return !R.AlarmOnce; }},
        {"RemindMinutes=15", [](auto& R) { return R.RemindMinutes == 15; }},
        {"RemindMinutes=100000", [](auto& R) { return R.RemindMinutes == 9999; }},
        {"RemindMinutes=-3", [](auto& R) { return R.RemindMinutes == 0; }},
        {"RemindMinutes=x", [](auto& R) { return R.RemindMinutes == 0; }},
        {"Unknown=5", [](auto& R) { TSampleRec D; D.Description = "x"; return Stored(R) == Stored(D); }},
    };
    for (const Case& C : Cases) {
        TSampleList List;
        LoadText(List, std::string("Description=x\r\n") + C.Line + "\r\n");
        ASSERT_EQ(List.Count(), 1) << C.Line;
        EXPECT_TRUE(C.Holds(*List[0])) << C.Line;
    }
}

// What a problem of a loaded record reads as, for comparing: "Key=Text" or "Key missing".
QStringList Problems(const TSampleRec& R)
{
    QStringList Result;
    for (const TSampleValueProblem& P : R.LoadProblems)
        Result << (P.Missing ? P.Key + QStringLiteral(" missing") : P.Key + u'=' + P.Text);
    return Result;
}

TEST(SampleFileTest, ValuesThatDoNotParseAreTheRecordsProblems)
{
    struct Case {
        const char* Lines;  // after "Description=x"
        QStringList Expected;
    };
    const Case Cases[] = {
        {"Type=Silence\r\nSignaldB=-50\r\nSignalTime=2,5\r\nSense=70\r\nAutoStart=true", {}},
        {"SampleType=1", {}},
        {"Type=Silence\r\nSignaldB=-50dB", {"SignaldB=-50dB"}},
        {"Type=Silence\r\nSignalTime=2 s", {"SignalTime=2 s"}},
        {"Type=Silense", {"Type=Silense"}},
        {"Type=", {"Type="}},
        {"Tpye=File\r\nPath=/a.wav", {"Type missing"}},
        {"SampleType=7", {"SampleType=7"}},
        {"Type=File\r\nSense=50%\r\nPrecision=high\r\nSampleWait=1 s", {"Sense=50%", "Precision=high", "SampleWait=1 s"}},
        {"Type=File\r\nAutoStart=yes\r\nAutoDisable=1\r\nUseLowFreq=", {"AutoStart=yes", "AutoDisable=1", "UseLowFreq="}},
        {"Type=File\r\nSignalMode=Centre\r\nMethod=Landmarks\r\nNumber=two", {"SignalMode=Centre", "Method=Landmarks", "Number=two"}},
        {"Type=Command\r\nCommandSpeed=fast\r\nSensitivity=high", {"CommandSpeed=fast", "Sensitivity=high"}},
        {"Type=Command\r\nMethod=\r\nUnknown=5", {}},
    };
    for (const Case& C : Cases) {
        TSampleList List;
        LoadText(List, std::string("Description=x\r\n") + C.Lines + "\r\n");
        ASSERT_EQ(List.Count(), 1) << C.Lines;
        EXPECT_EQ(Problems(*List[0]), C.Expected) << C.Lines;
        EXPECT_EQ(List[0]->HasLoadProblems(), !C.Expected.isEmpty()) << C.Lines;
    }
}

TEST(SampleFileTest, AWarningNamesTheSampleTheKeyAndTheText)
{
    TSampleList List;
    LoadText(List, "[Samples]\r\nDescription=Dead air\r\nNumber=2\r\nType=Silence\r\nSignaldB=-50dB\r\n"
                   "SignalTime=2 s\r\n\r\nDescription=Jingle\r\nNumber=0\r\nTpye=File\r\n\r\n"
                   "Description=Good\r\nNumber=1\r\nType=Signal\r\n");
    ASSERT_EQ(List.Count(), 3);
    const auto Text = [](const char* Key, const QVariantList& Args) { return FormatMessageText(Key, Args); };
    EXPECT_EQ(SampleLoadProblemsText(*List[2], "SampleNotRead"),
              Text("SampleNotRead", {3, "Dead air", Text("SampleValueNotRead", {"SignaldB", "-50dB"}) + "; "
                                                          + Text("SampleValueNotRead", {"SignalTime", "2 s"})}));
    EXPECT_EQ(SampleLoadProblemsText(*List[0], "SampleNotWatched"),
              Text("SampleNotWatched", {1, "Jingle", Text("SampleKeyMissing", {"Type"})}));
    EXPECT_EQ(SampleLoadProblemsText(*List[1], "SampleNotRead"), QString());
    const QString Warning = SampleLoadProblemsText(*List[2], "SampleNotRead");
    for (const char* Part : {"3", "Dead air", "SignaldB", "-50dB", "SignalTime", "2 s"})
        EXPECT_TRUE(Warning.contains(QString::fromUtf8(Part))) << Part;
}

TEST(SampleFileTest, ARecordWithProblemsIsWrittenBackAsTheFileHadItUntilItIsEdited)
{
    const std::string Bad = "Description=Dead air\r\nNumber=1\r\nType=Silence\r\n; checked 3 May\r\n"
                            "SignaldB=-50dB\r\nSignalTime=2\r\nAutoStart=TRUE\r\n";
    TSampleList List;
    LoadText(List, "[Samples]\r\n" + Bad + "\r\n\r\nDescription=Typo\r\nNumber=2\r\nTpye=Silence\r\n");
    ASSERT_EQ(List.Count(), 2);
    // Another sample is added and the list saved: both records stay as they were.
    AddRec(List, TSampleType::Signal, 0, QStringLiteral("new"));
    List.SortByNumber();
    TSampleRec New;
    New.Description = QStringLiteral("new");
    New.Number = 0;
    New.Type = TSampleType::Signal;
    QStringList NewLines{QStringLiteral("[Samples]")};
    New.SaveToStrings(NewLines);
    EXPECT_EQ(SavedText(List), (NewLines.join("\r\n") + "\r\n\r\n").toStdString() + Bad
                                   + "\r\nDescription=Typo\r\nNumber=2\r\nTpye=Silence\r\n");
    // Confirmed in the dialog, the record is written from its values again.
    List[1]->SignaldB = -50;
    List[1]->AcceptEditedValues();
    EXPECT_FALSE(List[1]->HasLoadProblems());
    TSampleList Again;
    LoadText(Again, SavedText(List));
    ASSERT_EQ(Again.Count(), 3);
    EXPECT_FALSE(Again[1]->HasLoadProblems());
    EXPECT_EQ(Again[1]->SignaldB, -50);
    EXPECT_EQ(Again[1]->SignalTime, 2);
    EXPECT_TRUE(Again[2]->HasLoadProblems());
}

TEST(SampleFileTest, DescriptionKeepsEverythingAfterTheFirstEquals)
{
    TSampleList List;
    LoadText(List, "Description=A=B\r\n");
    ASSERT_EQ(List.Count(), 1);
    EXPECT_EQ(List[0]->Description, QStringLiteral("A=B"));
}

TEST(SampleFileTest, LinesBeforeTheFirstDescriptionAreIgnored)
{
    TSampleList List;
    LoadText(List, "Number=5\r\nType=Silence\r\nSense=1\r\n[Samples]\r\n\r\ndescription=first\r\nNumber=3\r\n");
    ASSERT_EQ(List.Count(), 1);
    EXPECT_EQ(List[0]->Description, QStringLiteral("first"));
    EXPECT_EQ(List[0]->Number, 3);
    EXPECT_EQ(List[0]->Type, TSampleType::Command);
    EXPECT_EQ(List[0]->Sense, 50);
}

TEST(SampleFileTest, WritesEachTypeWithItsOwnLines)
{
    TSampleList List;
    auto* File = AddRec(List, TSampleType::File, 0, QStringLiteral("Джингл"));
    File->Path = QStringLiteral("/clips/jingle.mp3");
    File->Precision = 3;
    File->AutoStart = true;
    File->SignalMode = TSignalMode::Dec;
    File->Method = TDetectMethod::Spectral;
    auto* Silence = AddRec(List, TSampleType::Silence, 1, QStringLiteral("Тишина"));
    Silence->SignalTime = 2.25;
    Silence->SignaldB = -60;
    Silence->AutoDisable = true;
    Silence->LevelMode = TLevelMode::Rms;
    Silence->AlarmOnce = true;
    Silence->RemindMinutes = 10;
    auto* Command = AddRec(List, TSampleType::Command, 2, QStringLiteral("DTMF"));
    Command->Command = QStringLiteral("1,2,3");
    Command->FileExecute = QStringLiteral("/bin/true");
    Command->UseLowFreq = true;
    AddRec(List, TSampleType(7), 3, QStringLiteral("odd"));

    EXPECT_EQ(SavedText(List),
              "[Samples]\r\n"
              "Description=Джингл\r\nNumber=0\r\nType=File\r\nSense=50\r\nSampleWait=0\r\n"
              "AutoDisable=FALSE\r\nAutoStart=TRUE\r\nUseLowFreq=FALSE\r\nSignalMode=Dec\r\n"
              "Path=/clips/jingle.mp3\r\nPrecision=3\r\nMethod=Spectral\r\nFileExecute=\r\n"
              "\r\n"
              "Description=Тишина\r\nNumber=1\r\nType=Silence\r\nSense=50\r\nSampleWait=0\r\n"
              "AutoDisable=TRUE\r\nAutoStart=FALSE\r\nUseLowFreq=FALSE\r\nSignalMode=Left\r\n"
              "SignalTime=2.25\r\nSignaldB=-60\r\nLevelMode=RMS\r\nAlarmOnce=TRUE\r\nRemindMinutes=10\r\nFileExecute=\r\n"
              "\r\n"
              "Description=DTMF\r\nNumber=2\r\nType=Command\r\nSense=50\r\nSampleWait=0\r\n"
              "AutoDisable=FALSE\r\nAutoStart=FALSE\r\nUseLowFreq=TRUE\r\nSignalMode=Left\r\n"
              "Command=1,2,3\r\nCommandSpeed=5\r\nMethod=Robust\r\nFileExecute=/bin/true\r\n"
              "\r\n"
              "Description=odd\r\nNumber=3\r\nType=\r\nSense=50\r\nSampleWait=0\r\n"
              "AutoDisable=FALSE\r\nAutoStart=FALSE\r\nUseLowFreq=FALSE\r\nSignalMode=Left\r\n"
              "FileExecute=\r\n");
}

TEST(SampleFileTest, FieldsOfOtherTypesComeBackAsDefaults)
{
    TSampleList List;
    auto* R = AddRec(List, TSampleType::File, 0, QStringLiteral("clip"));
    R->SignalTime = 9;
    R->SignaldB = -3;
    R->Command = QStringLiteral("1");
    R->CommandSpeed = 9;
    TSampleList Loaded;
    LoadText(Loaded, SavedText(List));
    ASSERT_EQ(Loaded.Count(), 1);
    EXPECT_EQ(Loaded[0]->SignalTime, 5.0);
    EXPECT_EQ(Loaded[0]->SignaldB, -40.0);
    EXPECT_EQ(Loaded[0]->Command, QString());
    EXPECT_EQ(Loaded[0]->CommandSpeed, 5);
}

TEST(SampleFileTest, EmptyListIsTheHeaderAlone)
{
    EXPECT_EQ(SavedText(TSampleList()), "[Samples]\r\n");
}

TEST(SampleFileTest, RoundTripKeepsEveryStoredField)
{
    TSampleList List;
    auto* File = AddRec(List, TSampleType::File, 4, QStringLiteral("  Пробелы вокруг  "));
    File->Path = QStringLiteral("/music/a=b ü.wav");
    File->Precision = 0;
    File->Sense = 100;
    File->SampleWait = 99999999;
    File->AutoDisable = File->AutoStart = File->UseLowFreq = true;
    File->SignalMode = TSignalMode::Right;
    File->FileExecute = QStringLiteral("/usr/bin/notify \"found\"");
    auto* Signal = AddRec(List, TSampleType::Signal, 7, QString());
    Signal->SignalTime = 99999999;
    Signal->SignaldB = -91;
    Signal->SignalMode = TSignalMode::Add;
    Signal->Sense = 0;
    auto* Command = AddRec(List, TSampleType::Command, 9, QStringLiteral("#"));
    Command->Command = QStringLiteral(" 1, ,2,");
    Command->CommandSpeed = 10;
    Command->Method = TDetectMethod::Spectral;
    auto* Silence = AddRec(List, TSampleType::Silence, -1, QStringLiteral("=")); // no number yet
    Silence->SignalTime = 0.5;
    Silence->SignaldB = -0.125;

    TSampleList Loaded;
    LoadText(Loaded, SavedText(List));
    List.SortByNumber();
    ASSERT_EQ(Loaded.Count(), List.Count());
    for (int I = 0; I < List.Count(); ++I)
        EXPECT_EQ(Stored(*Loaded[I]), Stored(*List[I])) << I;
}

TEST(SampleFileTest, ValuesOutsideTheDialogsRangesAreBroughtToTheNearestLimit)
{
    struct Case {
        const char* Line;
        std::function<bool(const TSampleRec&)> Holds;
    };
    const Case Cases[] = {
        {"Precision=2147483647", [](auto& R) { return R.Precision == 4; }},
        {"Precision=-3", [](auto& R) { return R.Precision == 0; }},
        {"Sense=101", [](auto& R) { return R.Sense == 100; }},
        {"Sense=-1", [](auto& R) { return R.Sense == 0; }},
        {"Sensitivity=500", [](auto& R) { return R.Sense == 100; }},
        {"SampleWait=-5", [](auto& R) { return R.SampleWait == 0; }},
        {"SampleWait=2147483647", [](auto& R) { return R.SampleWait == 99999999; }},
        {"SignalTime=-1", [](auto& R) { return R.SignalTime == 0; }},
        {"SignalTime=1e308", [](auto& R) { return R.SignalTime == 99999999; }},
        {"SignalTime=NaN", [](auto& R) { return R.SignalTime == 0; }},
        {"SignaldB=-200", [](auto& R) { return R.SignaldB == -91; }},
        {"SignaldB=12.5", [](auto& R) { return R.SignaldB == 0; }},
        {"SignaldB=-1e308", [](auto& R) { return R.SignaldB == -91; }},
        {"SignaldB=-12.5", [](auto& R) { return R.SignaldB == -12.5; }},
        {"CommandSpeed=0", [](auto& R) { return R.CommandSpeed == 1; }},
        {"CommandSpeed=11", [](auto& R) { return R.CommandSpeed == 10; }},
        {"Number=-7", [](auto& R) { return R.Number == -1; }},
        {"Number=2000000000", [](auto& R) { return R.Number == 99999998; }},
        {"SampleType=7", [](auto& R) { return R.Type == TSampleType::File; }},
        {"SampleType=-1", [](auto& R) { return R.Type == TSampleType::File; }},
        {"SampleType=3", [](auto& R) { return R.Type == TSampleType::Command; }},
    };
    for (const Case& C : Cases) {
        TSampleList List;
        LoadText(List, std::string("Description=x\r\n") + C.Line + "\r\n");
        ASSERT_EQ(List.Count(), 1) << C.Line;
        EXPECT_TRUE(C.Holds(*List[0])) << C.Line;
        // What was loaded saves, loads and saves again as the same text.
        TSampleList Again;
        LoadText(Again, SavedText(List));
        ASSERT_EQ(Again.Count(), 1) << C.Line;
        EXPECT_EQ(SavedText(Again), SavedText(List)) << C.Line;
    }
}

TEST(SampleFileTest, NumbersAreRoundedToThreeDecimals)
{
    struct Case {
        double Value;
        const char* Text;
    };
    const Case Cases[] = {
        {5, "5"},          {-40, "-40"},       {2.25, "2.25"},    {1.2344, "1.234"},
        {1.2346, "1.235"}, {1.23444, "1.234"}, {1.23449, "1.235"}, {-1.2349, "-1.234"},
        {0.0004, "0"},     {0.00046, "0.001"}, {-0.0009, "0"},    {99999999, "99999999"},
        {1e306, "1e+306"}, {-1e306, "-1e+306"},  // too large to scale: kept, never "inf"
        // Whole thousandths keep their last digit whatever the binary rounding.
        {-1.001, "-1.001"}, {-1.0015, "-1.001"}, {-40.123, "-40.123"}, {-0.001, "-0.001"},
        {-90.999, "-90.999"}, {1.001, "1.001"}, {-2.675, "-2.675"},
    };
    for (const Case& C : Cases)
        EXPECT_EQ(SampleFloatToStr(C.Value), QString::fromLatin1(C.Text)) << C.Value;
}

// Sets the default locale for one scope.
class TLocaleScope {
public:
    explicit TLocaleScope(const QLocale& Locale) { QLocale::setDefault(Locale); }
    ~TLocaleScope() { QLocale::setDefault(QLocale::c()); }
};

TEST(SampleFileTest, NumbersUseTheLocaleSeparatorAndReadEitherSeparator)
{
    // Written with the user's own separator and read back under the same locale, whatever
    // that separator is; "2,5" from a German machine also loads where "." is the separator.
    const QLocale Locales[] = {QLocale::c(), QLocale(QLocale::German, QLocale::Germany),
                               QLocale(QLocale::Arabic, QLocale::Egypt)};
    for (const QLocale& Locale : Locales) {
        TLocaleScope Scope(Locale);
        TSampleList List;
        auto* R = AddRec(List, TSampleType::Silence, 0, QStringLiteral("s"));
        R->SignalTime = 2.5;
        R->SignaldB = -0.75;
        const std::string Text = SavedText(List);
        const QString Separator = Locale.decimalPoint();
        EXPECT_NE(Text.find(("SignalTime=2" + Separator + "5\r\n").toStdString()), std::string::npos) << Text;

        TSampleList Loaded;
        LoadText(Loaded, Text);
        ASSERT_EQ(Loaded.Count(), 1);
        EXPECT_EQ(Loaded[0]->SignalTime, 2.5) << Text;
        EXPECT_EQ(Loaded[0]->SignaldB, -0.75) << Text;
    }

    TSampleList Loaded;
    LoadText(Loaded, "Description=s\r\nSignalTime=2,5\r\nSignaldB=-3.25\r\n");
    ASSERT_EQ(Loaded.Count(), 1);
    EXPECT_EQ(Loaded[0]->SignalTime, 2.5);
    EXPECT_EQ(Loaded[0]->SignaldB, -3.25);
}

TEST(SampleFileTest, LineBreaksInValuesCannotAddKeys)
{
    TSampleList List;
    // A CR LF pair is one line break: one blank, as in every other file the program writes.
    auto* R = AddRec(List, TSampleType::File, 0, QStringLiteral("two\r\nlines"));
    R->Path = QStringLiteral("/tmp/odd\nFileExecute=/bin/evil");
    TSampleList Loaded;
    LoadText(Loaded, SavedText(List));
    ASSERT_EQ(Loaded.Count(), 1);
    EXPECT_EQ(Loaded[0]->FileExecute, QString());
    EXPECT_EQ(Loaded[0]->Description, QStringLiteral("two lines"));
}

TEST(SampleFileTest, OlderFilesInWindows1251Load)
{
    TSampleList List;
    // "Description=Гимн" and the old keys, as an older installation wrote them.
    LoadText(List, "Description=\xC3\xE8\xEC\xED\r\nSampleType=1\r\nSensitivity=70\r\n");
    ASSERT_EQ(List.Count(), 1);
    EXPECT_EQ(List[0]->Description, QString::fromUtf8("Гимн"));
    EXPECT_EQ(List[0]->Type, TSampleType::Silence);
    EXPECT_EQ(List[0]->Sense, 20);
}

TEST(SampleFileTest, BadLinesAreSkippedAndTheRestLoads)
{
    using namespace std::string_literals;
    std::string Text = "\x01\x02\xff\xfe\x80 garbage\r\n"
                       "=\r\n===\r\n"
                       "Description=one\r\nNumber=1\r\nbinary\x00\x01=\x02\r\n"s;
    Text += "Description=" + std::string(1 << 20, 'D') + "\r\nNumber=2\r\n";  // an overlong line
    Text += "Description=three\r\nNumber=\0\0\r\nType=Signal\r\n\0"s;
    TSampleList List;
    LoadText(List, Text);
    ASSERT_EQ(List.Count(), 3);
    EXPECT_EQ(List[0]->Description, QStringLiteral("three"));  // its number did not parse: -1
    EXPECT_EQ(List[0]->Type, TSampleType::Signal);
    EXPECT_EQ(List[1]->Description, QStringLiteral("one"));
    EXPECT_EQ(List[2]->Description.size(), 1 << 20);
}

TEST(SampleFileTest, MissingFileGivesAnEmptyList)
{
    testkit::TempDir Dir;
    TSampleList List;
    AddRec(List, TSampleType::File, 0);
    EXPECT_TRUE(List.LoadFromFile(Q(Dir.file("none.ini"))));
    EXPECT_EQ(List.Count(), 0);
}

TEST(SampleFileTest, UnreadableFileIsAnErrorNamingItAndKeepsTheList)
{
    testkit::TempDir Dir;
    const QString FileName = Q(Dir.file("Samples.ini"));
    ASSERT_TRUE(QDir().mkpath(FileName));  // a folder where the file should be
    TSampleList List;
    AddRec(List, TSampleType::File, 0, QStringLiteral("kept"));
    QString Error;
    EXPECT_FALSE(List.LoadFromFile(FileName, &Error));
    EXPECT_TRUE(Error.contains(FileName)) << Error.toStdString();
    ASSERT_EQ(List.Count(), 1);
    EXPECT_EQ(List[0]->Description, QStringLiteral("kept"));
}

TEST(SampleFileTest, UnwritableFileIsAnErrorNamingIt)
{
    testkit::TempDir Dir;
    testkit::writeText(Dir.file("blocker"), "a file, not a folder");
    QString Error;
    EXPECT_FALSE(TSampleList().SaveToFile(Q(Dir.file("blocker/Samples.ini")), &Error));
    EXPECT_TRUE(Error.contains(Q(Dir.file("blocker")))) << Error.toStdString();
}

TEST(SampleFileTest, KillingTheProgramWhileItSavesLeavesACompleteFile)
{
    testkit::TempDir Dir;
    const QString FileName = Q(Dir.file("Samples.ini"));
    TSampleList List;
    for (int I = 0; I < 3000; ++I) {
        auto* R = AddRec(List, TSampleType::File, I, QStringLiteral("Sample %1").arg(I));
        R->Path = QStringLiteral("/clips/%1.wav").arg(I).repeated(4);
    }
    ASSERT_TRUE(List.SaveToFile(FileName));
    const std::string Complete = testkit::readText(FileName.toStdString());

    // A child process saves the list over and over; it is killed once it has replaced the file
    // a few times, most likely in the middle of a write.
    const pid_t Child = fork();
    ASSERT_GE(Child, 0);
    if (Child == 0) {
        for (;;)
            if (!List.SaveToFile(FileName))
                _exit(1);
    }
    // Every save changes the file's modification time (and, when it is replaced, its inode).
    auto Stamp = [&FileName] {
        struct stat Info {};
        stat(FileName.toLocal8Bit().constData(), &Info);
        return std::tuple(Info.st_ino, Info.st_mtim.tv_sec, Info.st_mtim.tv_nsec);
    };
    auto Last = Stamp();
    int Replaced = 0;
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (Replaced < 3 && std::chrono::steady_clock::now() < Deadline) {
        if (const auto Now = Stamp(); Now != Last) {
            Last = Now;
            ++Replaced;
        }
    }
    kill(Child, SIGKILL);
    int Status = 0;
    waitpid(Child, &Status, 0);
    ASSERT_EQ(Replaced, 3) << "the child never replaced the file";

    EXPECT_EQ(testkit::readText(FileName.toStdString()), Complete);
    TSampleList Loaded;
    ASSERT_TRUE(Loaded.LoadFromFile(FileName));
    EXPECT_EQ(Loaded.Count(), 3000);
}

TEST(SampleListTest, LoadingSortsByNumber)
{
    TSampleList List;
    LoadText(List, "Description=a\r\nNumber=5\r\nDescription=b\r\nNumber=2\r\nDescription=c\r\nNumber=9\r\n");
    ASSERT_EQ(List.Count(), 3);
    EXPECT_EQ(List[0]->Number, 2);
    EXPECT_EQ(List[1]->Number, 5);
    EXPECT_EQ(List[2]->Number, 9);
}

TEST(SampleListTest, NextFreeNumberIsTheFirstGapFromZero)
{
    struct Case {
        std::vector<int> Numbers;
        int Next;
    };
    const Case Cases[] = {
        {{}, 0}, {{0, 1, 3}, 2}, {{3, 1, 0}, 2}, {{-1, -5}, 0}, {{-1, 0}, 1}, {{0, 0, 1}, 2}, {{1, 2}, 0},
    };
    for (const Case& C : Cases) {
        TSampleList List;
        for (int N : C.Numbers)
            AddRec(List, TSampleType::File, N);
        EXPECT_EQ(List.NextFreeNumber(), C.Next) << ::testing::PrintToString(C.Numbers);
    }
}

TEST(SampleListTest, FindByNumberTakesTheFirstInListOrder)
{
    TSampleList List;
    AddRec(List, TSampleType::File, 3, QStringLiteral("first"));
    AddRec(List, TSampleType::File, 3, QStringLiteral("second"));
    EXPECT_EQ(List.FindByNumber(3)->Description, QStringLiteral("first"));
    EXPECT_EQ(List.FindByNumber(4), nullptr);
    EXPECT_TRUE(List.NumberExists(3));
    EXPECT_FALSE(List.NumberExists(-1));
}

TEST(SampleListTest, DeleteFreesOnlyValidIndexes)
{
    TSampleList List;
    auto* A = AddRec(List, TSampleType::File, 0);
    auto* B = AddRec(List, TSampleType::File, 1);
    EXPECT_FALSE(List.Delete(2));
    EXPECT_FALSE(List.Delete(-1));
    EXPECT_TRUE(List.Delete(0));
    EXPECT_EQ(List.IndexOf(A), -1);
    EXPECT_EQ(List.IndexOf(B), 0);
}

TEST(SampleRecTest, SetDefaultsKeepsRunTimeLinks)
{
    TSampleRec R;
    auto* Marker = reinterpret_cast<TAudioSequence*>(&R);
    R.Sequence = Marker;
    R.Detected = true;
    R.Enabled = true;
    R.Description = QStringLiteral("x");
    R.Type = TSampleType::File;
    R.SetDefaults();
    EXPECT_EQ(R.Sequence, Marker);
    EXPECT_TRUE(R.Detected);
    EXPECT_FALSE(R.Enabled);
    EXPECT_EQ(Stored(R), Stored(TSampleRec()));
}

TEST(SampleRecTest, NamesConvertBothWays)
{
    EXPECT_EQ(SampleTypeToStr(TSampleType(4)), QString());
    EXPECT_EQ(SignalModeToStr(TSignalMode(9)), QString());
    for (int I = 0; I < 4; ++I) {
        EXPECT_EQ(StrToSampleType(SampleTypeToStr(TSampleType(I)).toLower()), TSampleType(I));
        EXPECT_EQ(StrToSignalMode(SignalModeToStr(TSignalMode(I)).toUpper()), TSignalMode(I));
    }
    EXPECT_EQ(DetectMethodToStr(TDetectMethod(2)), QString());
    for (int I = 0; I < 2; ++I)
        EXPECT_EQ(StrToDetectMethod(DetectMethodToStr(TDetectMethod(I)).toLower()), TDetectMethod(I));
    EXPECT_EQ(StrToSampleType(QString()), TSampleType::File);
    EXPECT_EQ(StrToSignalMode(QString()), TSignalMode::Add);
}

}  // namespace
