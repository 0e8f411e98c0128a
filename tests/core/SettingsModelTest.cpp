#include "core/SettingsFile.h"
#include "core/SettingsModel.h"

#include "DataFolder.h"
#include "helpers/QtPrinters.h"
#include "helpers/TestFiles.h"
#include "samples/Class_SampleRec.h"
#include "util/DateTime.h"
#include "util/IniFile.h"

#include <QDir>
#include <QFile>
#include <QLocale>

#include <gtest/gtest.h>

#include <filesystem>

namespace K = SettingKey;

namespace {

// Records what loading and saving asked, and answers the load question with Answer.
class TRecordedQuestions : public TSettingsQuestions {
public:
    bool Answer = true;
    QStringList LoadErrors;
    QStringList SaveErrors;

    bool ContinueAfterLoadError(const QString& Error) override
    {
        LoadErrors.append(Error);
        return Answer;
    }
    void SaveFailed(const QString& Error) override { SaveErrors.append(Error); }
};

class SettingsFileTest : public ::testing::Test {
protected:
    TTestDataFolder Data;
    TSettingsModel Model;
    TSampleList Samples;
    TFrequencyRecArr Frequencies;
    TConfiguration Config{Model, Samples, Frequencies};
    TRecordedQuestions Questions;
    QStringList Devices{"Mic", "Feed monitor"};

    QString MainIni() const { return Data.Settings->MainIniFile; }
    void WriteMainIni(const QString& Text) const
    {
        testkit::writeText(MainIni().toStdString(), Text.toStdString());
    }
    QByteArray ReadFile(const QString& Name) const
    {
        QFile File(Name);
        return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
    }
    bool Load() { return LoadSettings(*Data.Settings, Config, Devices, Questions); }
    bool Save() { return SaveSettings(*Data.Settings, Config, Questions); }
};

TDateTime Moment(int Year, int Month, int Day, int Hour = 0, int Minute = 0, int Second = 0)
{
    TDateTime Value = 0;
    EXPECT_TRUE(TryEncodeDateTime(Year, Month, Day, Hour, Minute, Second, 0, Value));
    return Value;
}

}  // namespace

TEST(SettingsModelTest, StartsAtTheDefaults)
{
    const TSettingsModel Model;
    EXPECT_EQ(Model.Float(K::LogCount_Value), 30.0);
    EXPECT_EQ(Model.Int(K::ProgIcon_ItemIndex), 0);
    EXPECT_EQ(Model.Int(K::PageControl_Height), 505);
    EXPECT_EQ(Model.Float(K::Led_PositionMin), -24.0);
    EXPECT_TRUE(Model.Bool(K::Check_AutoUpdates_Checked));
    EXPECT_TRUE(Model.Bool(K::MsgSubjectCheck_Checked));
    EXPECT_FALSE(Model.Bool(K::LogFileCreate_Checked));
    EXPECT_EQ(Model.Text(K::SMTPPortEdit_Text), "25");
    EXPECT_EQ(Model.Text(K::PageControl_ActivePage), "SamplesSheet");
    EXPECT_EQ(Model.Text(K::PageControl_Email_ActivePage), "Tab_Email_Messages");
    EXPECT_EQ(Model.Float(K::Edit_Config_Backup_Interval_Value), 7.0);
    EXPECT_EQ(Model.Float(K::Edit_Config_DeleteOld_Count_Value), 5.0);
    EXPECT_EQ(Model.Int(K::Device), 0);
    EXPECT_EQ(Model.Float(K::Config_Last_Backup_Time), 0.0);
    // Every definition has a value of its own type.
    for (const TSettingDef& Def : TSettingsModel::Definitions())
        EXPECT_EQ(Model.Value(Def.Key), Def.Default) << Def.Key;
}

TEST(SettingsModelTest, SettersConvertAndSignalEachRealChange)
{
    TSettingsModel Model;
    QStringList Spy;
    QObject::connect(&Model, &TSettingsModel::Changed, [&](const QString& Key) { Spy.append(Key); });
    Model.SetBool(K::LogFileCreate_Checked, true);
    Model.SetBool(K::LogFileCreate_Checked, true);   // no change, no signal
    EXPECT_TRUE(Model.SetValue(K::LogCount_Value, 12));  // a whole number is a fraction too
    EXPECT_FALSE(Model.SetValue("NoSuchKey", 1));
    EXPECT_FALSE(Model.SetValue(K::LogCount_Value, "many"));
    EXPECT_FALSE(Model.SetValue(K::NormPos, 5));
    EXPECT_EQ(Spy, QStringList({K::LogFileCreate_Checked, K::LogCount_Value}));
    EXPECT_EQ(Model.Float(K::LogCount_Value), 12.0);
    EXPECT_FALSE(Model.Value("NoSuchKey").isValid());
    // A getter of another type gives that type's zero rather than a converted value.
    EXPECT_EQ(Model.Int(K::SMTPPortEdit_Text), 0);
}

TEST_F(SettingsFileTest, NoFileOrOnlyTheSectionGivesTheDefaults)
{
    for (const char* Content : {static_cast<const char*>(nullptr), "[Ondrix]\r\n", "[ONDRIX]\r\n"}) {
        TSettingsModel Fresh;
        TConfiguration FreshConfig{Fresh, Samples, Frequencies};
        QFile::remove(MainIni());
        if (Content)
            WriteMainIni(Content);
        ASSERT_TRUE(LoadSettings(*Data.Settings, FreshConfig, Devices, Questions));
        EXPECT_TRUE(Data.Settings->SettingsLoaded);
        for (const TSettingDef& Def : TSettingsModel::Definitions())
            EXPECT_EQ(Fresh.Value(Def.Key), Def.Default) << Def.Key << " with " << (Content ? Content : "no file");
    }
    EXPECT_TRUE(Questions.LoadErrors.isEmpty());
}

TEST_F(SettingsFileTest, LoadsEachKindOfValueAsStored)
{
    struct Case {
        const char* Key;
        const char* Stored;
        QVariant Expected;
    };
    const Case Cases[] = {
        {K::LogFileCreate_Checked, "true", true},
        {K::LogFileCreate_Checked, "TRUE", true},
        {K::LogFileCreate_Checked, "1", false},          // not a boolean: keeps the value
        {K::Check_AutoUpdates_Checked, "fAlSe", false},
        {K::Check_AutoUpdates_Checked, "no", true},
        {K::LogCount_Value, "abc", 30.0},                // a fraction that does not parse keeps it
        {K::LogCount_Value, "12.5", 12.5},
        {K::LogCount_Value, "12,5", 12.5},               // older files
        {K::LogCount_Value, "nan", 30.0},
        {K::PageControl_Height, "abc", 0},               // a whole number that does not parse is 0
        {K::PageControl_Height, "620", 620},
        {K::ProgIcon_ItemIndex, "1", 1},
        {K::SMTPHostEdit_Text, "mail.example.org", QString("mail.example.org")},
        {K::PageControl_ActivePage, "(null)", QString()},
        {K::PageControl_ActivePage, "SettingsSheet", QString("SettingsSheet")},
        {K::NormPos, "10,20,810,620", QRect(QPoint(10, 20), QPoint(810, 620))},
        {K::NormPos, "10,x", QRect()},                   // right not above left: not applied
        {K::NormPos, "900,20,100,620", QRect()},
        {K::Device, "3", -1},                            // beyond the two devices: nothing selected
        {K::Device, "-4", 0},                            // negative: the default device
        {K::Device, "2", 2},
        {K::Device, "abc", 0},                           // not a number: keeps the selection
        {K::Config_Last_Backup_Time, "05.03.2018 00:00:00", Moment(2018, 3, 5)},
        {K::Config_Last_Backup_Time, "5.3.2018", Moment(2018, 3, 5)},
        {K::Config_Last_Backup_Time, "yesterday", 0.0},
        {K::Config_Last_Backup_Time, "", 0.0},
        {K::WebUpdate_LastCheckTime, "31.12.2025 23:59:58", Moment(2025, 12, 31, 23, 59, 58)},
        {K::WebUpdate_LastVersion, "1.2.3.4", QString("1.2.3.4")},
    };
    for (const Case& C : Cases) {
        TSettingsModel Fresh;
        TConfiguration FreshConfig{Fresh, Samples, Frequencies};
        WriteMainIni(QString("[Ondrix]\r\n%1=%2\r\n").arg(C.Key, C.Stored));
        ASSERT_TRUE(LoadSettings(*Data.Settings, FreshConfig, Devices, Questions));
        EXPECT_EQ(Fresh.Value(C.Key), C.Expected) << C.Key << "=" << C.Stored;
    }
}

TEST_F(SettingsFileTest, ABadDeviceValueDoesNotHideTheValuesAfterIt)
{
    WriteMainIni("[Ondrix]\r\nDevice=two\r\nConfig_Last_Backup_Time=05.03.2018 00:00:00\r\n"
                 "WebUpdate_LastVersion=2.0.0.1\r\n");
    ASSERT_TRUE(Load());
    EXPECT_EQ(Model.Int(K::Device), 0);
    EXPECT_EQ(Model.Float(K::Config_Last_Backup_Time), Moment(2018, 3, 5));
    EXPECT_EQ(Model.Text(K::WebUpdate_LastVersion), "2.0.0.1");
}

TEST_F(SettingsFileTest, AStillListedDeviceNameWinsOverTheIndex)
{
    struct Case {
        const char* Stored;
        QStringList Devices;
        int Expected;
    };
    const Case Cases[] = {
        {"Device=1\r\nDeviceName=Feed monitor", {"Mic", "Feed monitor"}, 2},   // sources renumbered
        {"Device=1\r\nDeviceName=Feed monitor", {"Feed monitor"}, 1},
        {"Device=2\r\nDeviceName=Gone", {"Mic", "Feed monitor"}, 2},           // name gone: the index
        {"Device=3\r\nDeviceName=Gone", {"Mic", "Feed monitor"}, -1},
        {"Device=0\r\nDeviceName=", {"Mic"}, 0},
    };
    for (const Case& C : Cases) {
        TSettingsModel Fresh;
        TConfiguration FreshConfig{Fresh, Samples, Frequencies};
        WriteMainIni(QString("[Ondrix]\r\n%1\r\n").arg(C.Stored));
        ASSERT_TRUE(LoadSettings(*Data.Settings, FreshConfig, C.Devices, Questions));
        EXPECT_EQ(Fresh.Int(K::Device), C.Expected) << C.Stored;
    }
}

TEST_F(SettingsFileTest, SavesEveryEntryInOrderAndTwiceGivesTheSameBytes)
{
    Model.SelectDevice(2, Devices);
    Model.SetRect(K::NormPos, QRect(QPoint(10, 20), QPoint(810, 620)));
    Model.SetFloat(K::Config_Last_Backup_Time, Moment(2018, 3, 5));
    Model.SetFloat(K::LogCount_Value, 12.5);
    Model.SetText(K::SMTPPasswordEdit_Text, "line\r\nbreak");
    Config.FrequenciesLoaded = true;
    ASSERT_TRUE(Save());
    const QByteArray First = ReadFile(MainIni());
    ASSERT_TRUE(Save());
    EXPECT_EQ(ReadFile(MainIni()), First);

    const TIniFile Ini(MainIni());
    QStringList Expected;
    for (const TSettingDef& Def : TSettingsModel::Definitions())
        Expected.append(Def.Key);
    EXPECT_EQ(Ini.ReadSection("Ondrix"), Expected);
    EXPECT_EQ(Ini.ReadString("Ondrix", "NormPos", ""), "10,20,810,620");
    EXPECT_EQ(Ini.ReadString("Ondrix", "Device", ""), "2");
    EXPECT_EQ(Ini.ReadString("Ondrix", "DeviceName", ""), "Feed monitor");
    EXPECT_EQ(Ini.ReadString("Ondrix", "Config_Last_Backup_Time", ""), "05.03.2018 00:00:00");
    EXPECT_EQ(Ini.ReadString("Ondrix", "WebUpdate_LastCheckTime", ""), "30.12.1899 00:00:00");
    EXPECT_EQ(Ini.ReadString("Ondrix", "LogCount_Value", ""), "12.5");
    EXPECT_EQ(Ini.ReadString("Ondrix", "LogFileCreate_Checked", ""), "False");
    EXPECT_EQ(Ini.ReadString("Ondrix", "SMTPPasswordEdit_Text", ""), "line break");

    // Everything read back is what was saved.
    TSettingsModel Back;
    TConfiguration BackConfig{Back, Samples, Frequencies};
    ASSERT_TRUE(LoadSettings(*Data.Settings, BackConfig, Devices, Questions));
    for (const TSettingDef& Def : TSettingsModel::Definitions()) {
        if (QString(Def.Key) != K::SMTPPasswordEdit_Text) {
            EXPECT_EQ(Back.Value(Def.Key), Model.Value(Def.Key)) << Def.Key;
        }
    }
}

TEST_F(SettingsFileTest, HandAddedEntriesAndOtherSectionsSurviveInPlace)
{
    WriteMainIni("[Language]\r\nLanguage=Language/OndrixEnglish.lng\r\n\r\n"
                 "[Ondrix]\r\nLogCount_Value=40\r\nMyNote=keep me\r\nDevice=1\r\n\r\n"
                 "[TSampleProp]\r\nWidth=400\r\n");
    ASSERT_TRUE(Load());
    Config.FrequenciesLoaded = true;
    Model.SetFloat(K::LogCount_Value, 45);
    ASSERT_TRUE(Save());
    const TIniFile Ini(MainIni());
    EXPECT_EQ(Ini.ReadSections(), QStringList({"Language", "Ondrix", "TSampleProp"}));
    const QStringList Keys = Ini.ReadSection("Ondrix");
    ASSERT_GE(Keys.size(), 3);
    EXPECT_EQ(Keys.mid(0, 3), QStringList({"LogCount_Value", "MyNote", "Device"}));
    EXPECT_EQ(Ini.ReadString("Ondrix", "MyNote", ""), "keep me");
    EXPECT_EQ(Ini.ReadString("Ondrix", "LogCount_Value", ""), "45");
    EXPECT_EQ(Ini.ReadString("Language", "Language", ""), "Language/OndrixEnglish.lng");
    EXPECT_EQ(Ini.ReadString("TSampleProp", "Width", ""), "400");
}

// Runs under a month-first locale by its own CTest entry (LC_ALL=en_US); skipped elsewhere.
TEST_F(SettingsFileTest, DatesReadBackUnderAMonthFirstLocale)
{
    const QString Format = QLocale::system().dateFormat(QLocale::ShortFormat);
    if (!Format.startsWith(u'M'))
        GTEST_SKIP() << "the system locale does not put the month first: " << Format.toStdString();
    Config.FrequenciesLoaded = true;
    Model.SetFloat(K::Config_Last_Backup_Time, Moment(2018, 3, 5));
    ASSERT_TRUE(Save());
    TSettingsModel Back;
    TConfiguration BackConfig{Back, Samples, Frequencies};
    ASSERT_TRUE(LoadSettings(*Data.Settings, BackConfig, Devices, Questions));
    EXPECT_EQ(Back.Float(K::Config_Last_Backup_Time), Moment(2018, 3, 5));
    // A value the locale wrote is read the locale's way.
    WriteMainIni("[Ondrix]\r\nWebUpdate_LastCheckTime=" + QLocale::system().toString(QDate(2018, 3, 5), QLocale::LongFormat) + "\r\n");
    ASSERT_TRUE(LoadSettings(*Data.Settings, BackConfig, Devices, Questions));
    EXPECT_EQ(Back.Float(K::WebUpdate_LastCheckTime), Moment(2018, 3, 5));
}

TEST_F(SettingsFileTest, ColumnLayoutsRoundTripInTheirOwnForms)
{
    testkit::writeText(Data.Settings->ColumnsIniFile.toStdString(),
                       "[Main.SampleView]\r\nCount=2\r\nId0=0\r\nWidth0=120\r\nId1=3\r\n\r\n"
                       "[Main.MessageView]\r\nCount=0\r\nWidth0=50\r\n\r\n"
                       "[Main.FrequencyView]\r\nCount=2\r\nWidth[0]=80\r\nWidth0=70\r\nWidth1=90\r\nId1=4\r\n");
    ASSERT_TRUE(Load());
    const TColumnLayout SampleLayout = Model.ColumnLayout(ColumnView::SampleView);
    ASSERT_TRUE(SampleLayout.Present);
    ASSERT_EQ(SampleLayout.Columns.size(), 2);
    EXPECT_EQ(SampleLayout.Columns[0], (TColumnSetting{0, 120}));
    EXPECT_EQ(SampleLayout.Columns[1], (TColumnSetting{3, std::nullopt}));  // width missing
    EXPECT_FALSE(Model.ColumnLayout(ColumnView::MessageView).Present);       // Count 0
    const TColumnLayout FreqLayout = Model.ColumnLayout(ColumnView::FrequencyView);
    ASSERT_EQ(FreqLayout.Columns.size(), 2);
    EXPECT_EQ(FreqLayout.Columns[0], (TColumnSetting{std::nullopt, 80}));     // the older key wins
    EXPECT_EQ(FreqLayout.Columns[1], (TColumnSetting{4, 90}));

    // The window reports its message view; the frequency view is written in its own order.
    Model.SetColumnLayout(ColumnView::MessageView, {true, {{0, 100}, {1, 100}, {2, 300}}});
    Config.FrequenciesLoaded = true;
    ASSERT_TRUE(Save());
    const QByteArray First = ReadFile(Data.Settings->ColumnsIniFile);
    EXPECT_EQ(First.toStdString(),
              "[Main.SampleView]\r\nCount=2\r\nId0=0\r\nWidth0=120\r\nId1=3\r\n\r\n"
              "[Main.MessageView]\r\nCount=3\r\nId0=0\r\nWidth0=100\r\nId1=1\r\nWidth1=100\r\nId2=2\r\nWidth2=300\r\n\r\n"
              "[Main.FrequencyView]\r\nCount=2\r\nWidth0=80\r\nWidth1=90\r\nId1=4\r\n");
    ASSERT_TRUE(Save());
    EXPECT_EQ(ReadFile(Data.Settings->ColumnsIniFile), First);
}

// An archive a killed backup was writing (under its temporary name, with the zip library's
// temporary file beside it) is removed once the settings say where the archives are.
TEST_F(SettingsFileTest, ArchivesLeftPartWayAreRemovedAtTheLoad)
{
    const std::string Folder = Data.Root.file("archives");
    WriteMainIni("[Ondrix]\r\nEdit_Config_BackupFolder_Text=" + QString::fromStdString(Folder) + "\r\n");
    std::filesystem::create_directories(Folder);
    const std::vector<std::string> Left{".Ondrix-Backup-2026-12-10.zip.part", ".Ondrix-Backup-2026-12-10.zip.part.xYzAbC"};
    const std::vector<std::string> Kept{"Ondrix-Backup-2026-12-09.zip", "notes.part"};
    for (const std::string& Name : Left)
        testkit::writeText(Folder + "/" + Name, "partial");
    for (const std::string& Name : Kept)
        testkit::writeText(Folder + "/" + Name, "whole");
    ASSERT_TRUE(Load());
    for (const std::string& Name : Left)
        EXPECT_FALSE(std::filesystem::exists(Folder + "/" + Name)) << Name;
    for (const std::string& Name : Kept)
        EXPECT_TRUE(std::filesystem::exists(Folder + "/" + Name)) << Name;
}

TEST_F(SettingsFileTest, ABackupFolderIsResolvedAgainstTheDataFolder)
{
    const QString DataFolder = Data.Settings->DataFolder;
    struct Case {
        QString Typed;
        QString Folder;
        QString Shown;
    };
    const Case Cases[] = {
        {"Archives", DataFolder + "Archives/", "Archives/"},
        {"Archives/", DataFolder + "Archives/", "Archives/"},
        {Data.Path("elsewhere"), Data.Path("elsewhere/"), Data.Path("elsewhere/")},
        {"../outside", Data.Path("outside/"), Data.Path("outside/")},
        {"", DataFolder + "Backup/", ""},   // the default folder; the setting stays empty
    };
    for (const Case& C : Cases) {
        WriteMainIni("[Ondrix]\r\nEdit_Config_BackupFolder_Text=" + C.Typed + "\r\n");
        ASSERT_TRUE(Load());
        EXPECT_EQ(Data.Settings->BackupFolder, C.Folder) << C.Typed.toStdString();
        EXPECT_EQ(Model.Text(K::Edit_Config_BackupFolder_Text), C.Shown) << C.Typed.toStdString();
    }
}

TEST_F(SettingsFileTest, AnUnreadableSampleListAsksAndNeverWipesTheFilesNotRead)
{
    // A folder where the sample list should be cannot be read, as a locked file cannot.
    std::filesystem::create_directories(Data.Settings->SamplesFile.toStdString());
    testkit::writeText(Data.Settings->FreqFile.toStdString(), "[Frequencys]\r\nID=1\r\nFreq=697\r\nFreqDelta=20\r\n");
    testkit::writeText(Data.Settings->ColumnsIniFile.toStdString(), "[Main.SampleView]\r\nCount=1\r\nWidth0=50\r\n");
    WriteMainIni("[Ondrix]\r\nLogCount_Value=40\r\n");
    const QByteArray FreqBefore = ReadFile(Data.Settings->FreqFile);

    for (const bool Answer : {false, true}) {
        Questions = {};
        Questions.Answer = Answer;
        EXPECT_EQ(Load(), Answer);
        EXPECT_FALSE(Data.Settings->SettingsLoaded);
        ASSERT_EQ(Questions.LoadErrors.size(), 1);
        EXPECT_TRUE(Questions.LoadErrors[0].contains("Samples.ini")) << Questions.LoadErrors[0].toStdString();
    }
    // Going on: the main settings were read, the later files were not.
    EXPECT_EQ(Model.Float(K::LogCount_Value), 40.0);
    EXPECT_EQ(Samples.Count(), 0);
    EXPECT_TRUE(Frequencies.isEmpty());
    EXPECT_FALSE(Model.ColumnLayout(ColumnView::SampleView).Present);

    // Saving keeps the main settings but never writes the empty table over the real one.
    Model.SetFloat(K::LogCount_Value, 50);
    EXPECT_FALSE(Save());
    ASSERT_EQ(Questions.SaveErrors.size(), 1);
    EXPECT_TRUE(Questions.SaveErrors[0].contains("Freq.ini")) << Questions.SaveErrors[0].toStdString();
    EXPECT_EQ(ReadFile(Data.Settings->FreqFile), FreqBefore);
    EXPECT_EQ(TIniFile(MainIni()).ReadString("Ondrix", "LogCount_Value", ""), "50");
    QString Error;
    EXPECT_FALSE(SaveSampleList(*Data.Settings, Config, &Error));
    EXPECT_TRUE(std::filesystem::is_directory(Data.Settings->SamplesFile.toStdString()));
}

TEST_F(SettingsFileTest, AnUnreadableMainSettingsFileIsReportedAndKeptAsItWas)
{
    std::filesystem::create_directories(MainIni().toStdString());
    ASSERT_TRUE(Load());
    ASSERT_EQ(Questions.LoadErrors.size(), 1);
    EXPECT_FALSE(Data.Settings->SettingsLoaded);
    EXPECT_EQ(Model.Float(K::LogCount_Value), 30.0);
    EXPECT_TRUE(Config.SamplesLoaded);
    EXPECT_TRUE(Config.FrequenciesLoaded);
    // Saving cannot replace it, and says so.
    EXPECT_FALSE(Save());
    EXPECT_EQ(Questions.SaveErrors.size(), 1);
    EXPECT_TRUE(std::filesystem::is_directory(MainIni().toStdString()));
}

TEST_F(SettingsFileTest, HeadlessAnswersGoOnAndReportBothTexts)
{
    QStringList Reported;
    THeadlessSettingsQuestions Headless([&](const QString& Text) { Reported.append(Text); });
    EXPECT_TRUE(Headless.ContinueAfterLoadError("disk on fire"));
    Headless.SaveFailed("disk still on fire");
    ASSERT_EQ(Reported.size(), 4);
    EXPECT_EQ(Reported[0], "disk on fire");
    EXPECT_TRUE(Reported[1].startsWith(QString::fromUtf8("Во время загрузки настроек")));
    EXPECT_EQ(Reported[2], "disk still on fire");
    EXPECT_EQ(Reported[3], QString::fromUtf8("Во время сохранения настроек возникли проблемы."));
}

// Saving the mail password leaves the settings file the owner's alone, even one that others
// could read before (written by an older version, or by hand).
TEST_F(SettingsFileTest, TheSavedPasswordIsReadableByItsOwnerAlone)
{
    ASSERT_TRUE(Load());
    WriteMainIni("[Ondrix]\r\n");
    ASSERT_TRUE(QFile::setPermissions(MainIni(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                                     | QFile::ReadOther));
    Model.SetText(K::SMTPPasswordEdit_Text, "s3cret");
    ASSERT_TRUE(Save()) << Questions.SaveErrors.join('\n').toStdString();
    EXPECT_TRUE(ReadFile(MainIni()).contains("SMTPPasswordEdit_Text=s3cret"));
    EXPECT_EQ(QFileInfo(MainIni()).permissions() & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
              QFile::ReadOwner | QFile::WriteOwner);
}
