#include "messages/Class_OndrixMessage.h"

#include "helpers/Process.h"
#include "helpers/TestFiles.h"
#include "helpers/QtPrinters.h"
#include "lang/Lang.h"
#include "util/TextFile.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <gtest/gtest.h>

#include <filesystem>

#include <unistd.h>

namespace {

TDateTime At(int Year, int Month, int Day, int Hour, int Minute, int Second)
{
    TDateTime Value = 0;
    EXPECT_TRUE(TryEncodeDateTime(Year, Month, Day, Hour, Minute, Second, 0, Value));
    return Value;
}

QString MonthName(int Month)
{
    return FormatDateTime(QStringLiteral("mmmm"), At(2018, Month, 1, 0, 0, 0));
}

TEST(OndrixMessageTypeTest, KeysNamesAndColoursFollowTheTypeTable)
{
    struct Case {
        int Value;
        const char* Key;
        const char* Name;
        TRGBColor Background;
        TRGBColor Text;
    };
    const TRGBColor White{255, 255, 255}, Black{0, 0, 0};
    const Case Cases[] = {
        {0, "", "", White, Black},
        {1, "SampleEnable", "ВКЛЮЧЕН", {200, 230, 200}, Black},
        {2, "SampleDisable", "ОТКЛЮЧЕН", {230, 210, 200}, Black},
        {3, "SampleDetect", "НАЙДЕН", {136, 255, 136}, Black},
        {4, "Command", "КОМАНДА", {255, 255, 185}, Black},
        {5, "Error", "Ошибка", {255, 0, 0}, White},
        {6, "", "", White, Black},
        {7, "", "", White, Black},
        {8, "Info", "ИНФО", White, Black},
        {9, "SampleNotDetect", "НЕ НАЙДЕН", {255, 204, 204}, Black},
        {200, "", "", White, Black},
    };
    ResetMessageTable();
    for (const Case& C : Cases) {
        const auto Type = TOndrixMessageType(C.Value);
        EXPECT_EQ(MessageTypeName(Type), QString::fromUtf8(C.Key)) << C.Value;
        EXPECT_EQ(MessageTypeDisplayName(Type), QString::fromUtf8(C.Name)) << C.Value;
        EXPECT_EQ(MessageTypeBackground(Type), C.Background) << C.Value;
        EXPECT_EQ(MessageTypeTextColor(Type), C.Text) << C.Value;
    }
}

TEST(OndrixMessageTypeTest, DisplayNameFollowsTheLanguage)
{
    ResetMessageTable();
    SetMessageText(QStringLiteral("SampleDetect"), QStringLiteral("FOUND"));
    EXPECT_EQ(MessageTypeDisplayName(msgSampleDetect), QStringLiteral("FOUND"));
    ResetMessageTable();
}

TEST(OndrixMessageTest, LogLineHasTwoDigitYearTypeNameAndText)
{
    ResetMessageTable();
    const TOndrixMessage Message{msgSampleDetect, QStringLiteral("Найден образец № 1"), At(2018, 3, 3, 14, 5, 9)};
    EXPECT_EQ(MessageLogLine(Message), QString::fromUtf8("03.03.18 14:05:09: НАЙДЕН - Найден образец № 1"));
}

TEST(OndrixMessageTest, LogLineStaysOneLineWhateverTheText)
{
    ResetMessageTable();
    const TOndrixMessage Message{msgInfo, QStringLiteral("Подключено\r\n03.03.18 14:05:10: НАЙДЕН - x\ny"),
                                 At(2018, 3, 3, 14, 5, 9)};
    EXPECT_EQ(MessageLogLine(Message), QString::fromUtf8("03.03.18 14:05:09: ИНФО - Подключено 03.03.18 14:05:10: НАЙДЕН - x y"));
}

// A message handler with a temporary log folder and a clock the test moves.
class OndrixMessagesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetMessageTable();
        Messages.LogFolder = Q(Dir.file("Log")) + u'/';
        Messages.Clock = [this] { return Time; };
        Messages.OnSendMail = [this](const QString& Line) { Mails.append(Line); };
        Messages.OnRowCountChanged = [this](int Rows) { RowCounts.append(Rows); };
    }

    QString LogText(const QString& FileName) const
    {
        return QString::fromStdString(testkit::readText(FileName.toStdString()));
    }

    QString LogText() const { return LogText(Messages.GetLogFileName()); }

    bool Add(TOndrixMessageType Type, const QString& Text, QString* Error = nullptr)
    {
        return Messages.AddMessage(Type, Text, Error);
    }

    testkit::TempDir Dir;
    TDateTime Time = At(2018, 3, 3, 14, 5, 9);
    TOndrixMessages Messages;
    QStringList Mails;
    QList<int> RowCounts;
};

TEST_F(OndrixMessagesTest, LogFileNameIsYearMonthNameAndDay)
{
    EXPECT_EQ(Messages.GetLogFileName(),
              Q(Dir.file("Log")) + QStringLiteral("/2018/") + MonthName(3) + QStringLiteral("/03-03-18.log"));
    // A folder given without its closing separator still gets one.
    Messages.LogFolder = Q(Dir.file("Log"));
    EXPECT_EQ(Messages.GetLogFileName(),
              Q(Dir.file("Log")) + QStringLiteral("/2018/") + MonthName(3) + QStringLiteral("/03-03-18.log"));
}

TEST_F(OndrixMessagesTest, NewestMessageIsOnTopAndLinesAreLoggedInOrder)
{
    Messages.LogFileCreate = true;
    ASSERT_TRUE(Add(msgSampleEnable, QStringLiteral("first")));
    ASSERT_TRUE(Add(msgSampleDetect, QStringLiteral("second")));  // the same second

    ASSERT_EQ(Messages.Messages().Count(), 2);
    EXPECT_EQ(Messages.Messages().Items(0).Text, QStringLiteral("second"));
    EXPECT_EQ(Messages.Messages().Items(1).Text, QStringLiteral("first"));
    EXPECT_EQ(Messages.Messages().Items(0).Time, Time);
    EXPECT_EQ(LogText(), QString::fromUtf8("03.03.18 14:05:09: ВКЛЮЧЕН - first\r\n"
                                           "03.03.18 14:05:09: НАЙДЕН - second\r\n"));
    EXPECT_TRUE(Messages.PendingLogLines().isEmpty());
    EXPECT_EQ(RowCounts, (QList<int>{1, 2}));
}

TEST_F(OndrixMessagesTest, LoggingOffWritesNothingAndLaterMessagesOnlyOnceTurnedOn)
{
    ASSERT_TRUE(Add(msgInfo, QStringLiteral("before")));
    EXPECT_FALSE(QFileInfo::exists(Messages.LogFolder));
    EXPECT_TRUE(Messages.PendingLogLines().isEmpty());

    Messages.LogFileCreate = true;
    ASSERT_TRUE(Add(msgInfo, QStringLiteral("after")));
    EXPECT_EQ(LogText(), QString::fromUtf8("03.03.18 14:05:09: ИНФО - after\r\n"));
    EXPECT_EQ(Messages.Messages().Count(), 2);
}

TEST_F(OndrixMessagesTest, FirstMessageOfANewMonthCreatesItsFolder)
{
    Messages.LogFileCreate = true;
    Time = At(2018, 3, 31, 23, 59, 59);
    ASSERT_TRUE(Add(msgInfo, QStringLiteral("march")));
    const QString MarchFile = Messages.GetLogFileName();
    Time = At(2018, 4, 1, 0, 0, 1);
    ASSERT_TRUE(Add(msgInfo, QStringLiteral("april")));
    const QString AprilFile = Messages.GetLogFileName();

    EXPECT_NE(QFileInfo(MarchFile).absolutePath(), QFileInfo(AprilFile).absolutePath());
    EXPECT_TRUE(AprilFile.endsWith(QStringLiteral("/2018/") + MonthName(4) + QStringLiteral("/01-04-18.log")));
    EXPECT_TRUE(LogText(MarchFile).endsWith(QStringLiteral("march\r\n")));
    EXPECT_TRUE(LogText(AprilFile).endsWith(QStringLiteral("april\r\n")));

    Time = At(2019, 1, 1, 0, 0, 0);
    ASSERT_TRUE(Add(msgInfo, QStringLiteral("new year")));
    EXPECT_TRUE(QFileInfo::exists(Q(Dir.file("Log/2019/")) + MonthName(1) + QStringLiteral("/01-01-19.log")));
}

TEST_F(OndrixMessagesTest, ExistingLogIsExtendedRightAfterItsLastByte)
{
    Messages.LogFileCreate = true;
    const QString FileName = Messages.GetLogFileName();
    ASSERT_TRUE(ForceFolders(QFileInfo(FileName).absolutePath()));
    testkit::writeText(FileName.toStdString(), "older line without end");
    ASSERT_TRUE(Add(msgInfo, QStringLiteral("new")));
    EXPECT_EQ(LogText(), QString::fromUtf8("older line without end03.03.18 14:05:09: ИНФО - new\r\n"));
}

TEST_F(OndrixMessagesTest, UnwritableLogKeepsTheLineAndWritesItFirstLater)
{
    Messages.LogFileCreate = true;
    Messages.EmailMessagesCheck = true;
    Messages.MsgErrorCheck = true;
    ASSERT_TRUE(Add(msgInfo, QStringLiteral("listed")));
    // A folder standing where the day's file belongs: the log cannot be written (this holds
    // even for the superuser, for whom permission bits do not).
    const QString FileName = Messages.GetLogFileName();
    ASSERT_TRUE(QFile::remove(FileName));
    ASSERT_TRUE(QDir().mkpath(FileName));

    QString Error;
    EXPECT_FALSE(Add(msgError, QStringLiteral("lost?"), &Error));
    EXPECT_TRUE(Error.contains(FileName)) << Error.toStdString();
    EXPECT_EQ(Messages.Messages().Count(), 2);  // the failing message is listed...
    EXPECT_EQ(Mails.size(), 1);                  // ...and mailed...
    EXPECT_EQ(Messages.PendingLogLines().size(), 1);  // ...and its line is kept

    ASSERT_TRUE(QDir(FileName).removeRecursively());
    Time += 1.0 / 86400;
    ASSERT_TRUE(Add(msgInfo, QStringLiteral("works again")));
    EXPECT_EQ(LogText(), QString::fromUtf8("03.03.18 14:05:09: Ошибка - lost?\r\n"
                                           "03.03.18 14:05:10: ИНФО - works again\r\n"));
    EXPECT_TRUE(Messages.PendingLogLines().isEmpty());
    EXPECT_EQ(Messages.Messages().Count(), 3);
}

TEST_F(OndrixMessagesTest, LogFileIsChosenByTheClockWhenTheLineIsWritten)
{
    Messages.LogFileCreate = true;
    Time = At(2018, 3, 31, 23, 59, 59);
    const QString MarchFile = Messages.GetLogFileName();
    ASSERT_TRUE(QDir().mkpath(MarchFile));  // March's file cannot be written
    EXPECT_FALSE(Add(msgError, QStringLiteral("late")));

    // After midnight the pending line and a message stamped long ago both go to the file of
    // the moment they are written.
    Time = At(2018, 4, 1, 0, 0, 1);
    ASSERT_TRUE(Messages.ProcessMessage(TOndrixMessage{msgInfo, QStringLiteral("old stamp"), At(2017, 1, 2, 3, 4, 5)}));
    EXPECT_TRUE(Messages.GetLogFileName().endsWith(QStringLiteral("/01-04-18.log")));
    EXPECT_EQ(LogText(), QString::fromUtf8("31.03.18 23:59:59: Ошибка - late\r\n"
                                           "02.01.17 03:04:05: ИНФО - old stamp\r\n"));
    EXPECT_TRUE(QFileInfo(MarchFile).isDir());
    EXPECT_FALSE(QFileInfo::exists(Q(Dir.file("Log/2017"))));
}

TEST_F(OndrixMessagesTest, ReadOnlyLogFolderKeepsTheLineUntilItIsWritableAgain)
{
    if (geteuid() == 0) {
        // Permission bits do not stop the superuser: the test runs as an unprivileged user.
        std::string Output, WhyNot;
        const int Code = testkit::rerunTestAsUnprivilegedUser(&Output, &WhyNot);
        if (Code < 0)
            GTEST_SKIP() << WhyNot;
        EXPECT_EQ(Code, 0) << Output;
        EXPECT_NE(Output.find("[  PASSED  ] 1 test"), std::string::npos) << Output;
        return;
    }
    Messages.LogFileCreate = true;
    const QString Folder = QFileInfo(Messages.GetLogFileName()).absolutePath();
    ASSERT_TRUE(QDir().mkpath(Folder));
    namespace fs = std::filesystem;
    fs::permissions(Folder.toStdString(), fs::perms::owner_read | fs::perms::owner_exec);

    EXPECT_FALSE(Add(msgError, QStringLiteral("first")));
    EXPECT_EQ(Messages.Messages().Count(), 1);  // listed all the same
    EXPECT_EQ(Messages.PendingLogLines().size(), 1);

    fs::permissions(Folder.toStdString(), fs::perms::owner_all);
    ASSERT_TRUE(Add(msgInfo, QStringLiteral("second")));
    EXPECT_EQ(LogText(), QString::fromUtf8("03.03.18 14:05:09: Ошибка - first\r\n"
                                           "03.03.18 14:05:09: ИНФО - second\r\n"));
}

TEST_F(OndrixMessagesTest, UnwritableLogStillListsAndMailsAndBoundsTheWaitingLines)
{
    // A folder where today's log file should be: every write fails, for any user.
    Messages.LogFileCreate = true;
    Messages.EmailMessagesCheck = true;
    Messages.MsgDetectSampleCheck = true;
    Messages.LogCount = 100;
    Messages.MaxPendingLogLines = 3;
    const QString FileName = Messages.GetLogFileName();
    ASSERT_TRUE(QDir().mkpath(FileName));
    for (int I = 1; I <= 5; ++I)
        EXPECT_FALSE(Add(msgSampleDetect, QStringLiteral("found %1").arg(I)));
    EXPECT_EQ(Messages.Messages().Count(), 5);
    EXPECT_EQ(Mails.size(), 5);
    EXPECT_EQ(Messages.PendingLogLines().size(), 3);

    ASSERT_TRUE(QDir(FileName).removeRecursively());
    ASSERT_TRUE(Add(msgInfo, QStringLiteral("back")));
    const QStringList Lines = LogText().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(Lines.size(), 5) << LogText().toStdString();
    EXPECT_TRUE(Lines[0].endsWith("found 1"));
    EXPECT_TRUE(Lines[2].endsWith("found 3"));
    EXPECT_TRUE(Lines[3].endsWith(FormatMessageText("LogLinesDropped", {2}))) << Lines[3].toStdString();
    EXPECT_TRUE(Lines[4].endsWith("back"));
}

TEST_F(OndrixMessagesTest, ShutdownFlushWritesPendingLines)
{
    Messages.LogFileCreate = true;
    const QString FileName = Messages.GetLogFileName();
    ASSERT_TRUE(QDir().mkpath(FileName));
    EXPECT_FALSE(Add(msgInfo, QStringLiteral("pending")));
    QString Error;
    EXPECT_FALSE(Messages.FlushLog(&Error));
    EXPECT_FALSE(Error.isEmpty());
    ASSERT_TRUE(QDir(FileName).removeRecursively());

    EXPECT_TRUE(Messages.FlushLog());
    EXPECT_EQ(LogText(), QString::fromUtf8("03.03.18 14:05:09: ИНФО - pending\r\n"));
    EXPECT_TRUE(Messages.PendingLogLines().isEmpty());
    EXPECT_TRUE(Messages.FlushLog());  // nothing pending: nothing to do
}

TEST_F(OndrixMessagesTest, LogCountTrimsOldestAtTheNextMessage)
{
    for (int I = 1; I <= 5; ++I)
        ASSERT_TRUE(Add(msgInfo, QString::number(I)));
    ASSERT_EQ(Messages.Messages().Count(), 5);

    Messages.LogCount = 2;
    EXPECT_EQ(Messages.Messages().Count(), 5);  // not at once
    ASSERT_TRUE(Add(msgInfo, QStringLiteral("6")));
    ASSERT_EQ(Messages.Messages().Count(), 2);
    EXPECT_EQ(Messages.Messages().Items(0).Text, QStringLiteral("6"));
    EXPECT_EQ(Messages.Messages().Items(1).Text, QStringLiteral("5"));

    Messages.LogCount = 1;
    ASSERT_TRUE(Add(msgInfo, QStringLiteral("7")));
    ASSERT_EQ(Messages.Messages().Count(), 1);
    EXPECT_EQ(Messages.Messages().Items(0).Text, QStringLiteral("7"));
    EXPECT_EQ(RowCounts.last(), 1);
}

TEST_F(OndrixMessagesTest, ClearingTheViewLeavesTheLogAlone)
{
    Messages.LogFileCreate = true;
    ASSERT_TRUE(Add(msgInfo, QStringLiteral("kept")));
    const QString Before = LogText();
    Messages.ClearMessages();
    EXPECT_EQ(Messages.Messages().Count(), 0);
    EXPECT_EQ(RowCounts.last(), 0);
    EXPECT_EQ(LogText(), Before);
}

TEST_F(OndrixMessagesTest, MailFilterSelectsByTypeUnderTheMasterSwitch)
{
    struct Case {
        TOndrixMessageType Type;
        bool TOndrixMessages::*Switch;  // the type's check box, or null for types without one
    };
    const Case Cases[] = {
        {msgSampleEnable, &TOndrixMessages::MsgOnOffSampleCheck},
        {msgSampleDisable, &TOndrixMessages::MsgOnOffSampleCheck},
        {msgSampleDetect, &TOndrixMessages::MsgDetectSampleCheck},
        {msgCommand, &TOndrixMessages::MsgCommandCheck},
        {msgError, &TOndrixMessages::MsgErrorCheck},
        {msgSampleNotDetect, &TOndrixMessages::MsgNotDetectSampleCheck},
        {msgInfo, nullptr},
        {msgNone, nullptr},
    };
    bool TOndrixMessages::*const AllSwitches[] = {
        &TOndrixMessages::MsgOnOffSampleCheck, &TOndrixMessages::MsgDetectSampleCheck,
        &TOndrixMessages::MsgCommandCheck, &TOndrixMessages::MsgErrorCheck,
        &TOndrixMessages::MsgNotDetectSampleCheck};

    for (const Case& C : Cases) {
        for (bool Master : {false, true}) {
            for (bool AllOthersOn : {false, true}) {
                // The type's own box on, every other box as the case says.
                for (auto Box : AllSwitches)
                    Messages.*Box = AllOthersOn;
                if (C.Switch)
                    Messages.*C.Switch = true;
                // With the others on, turn the type's own box off: it alone decides.
                if (AllOthersOn && C.Switch)
                    Messages.*C.Switch = false;
                Messages.EmailMessagesCheck = Master;
                Mails.clear();
                ASSERT_TRUE(Add(C.Type, QStringLiteral("text")));
                const bool Expected = Master && C.Switch && !AllOthersOn;
                ASSERT_EQ(Mails.size(), Expected ? 1 : 0)
                    << "type " << int(C.Type) << " master " << Master << " others " << AllOthersOn;
                if (Expected) {
                    EXPECT_EQ(Mails.first(), MessageLogLine(Messages.Messages().Items(0)));
                }
            }
        }
    }
}

TEST_F(OndrixMessagesTest, CellsShowTimeTypeAndTextInTheTypeColours)
{
    ASSERT_TRUE(Add(msgError, QStringLiteral("broken")));
    ASSERT_TRUE(Add(msgNone, QStringLiteral("plain")));

    const auto Time0 = Messages.CellData(0, 0);
    ASSERT_TRUE(Time0);
    EXPECT_EQ(Time0->Text, QStringLiteral("03.03.2018 14:05:09"));
    const auto Type0 = Messages.CellData(0, 1);
    ASSERT_TRUE(Type0);
    EXPECT_EQ(Type0->Text, QString());  // value 0: empty type name on a white row
    EXPECT_EQ(Type0->Background, (TRGBColor{255, 255, 255}));

    const auto Text1 = Messages.CellData(1, 2);
    ASSERT_TRUE(Text1);
    EXPECT_EQ(Text1->Text, QStringLiteral("broken"));
    EXPECT_EQ(Text1->Background, (TRGBColor{255, 0, 0}));
    EXPECT_EQ(Text1->TextColor, (TRGBColor{255, 255, 255}));
    EXPECT_EQ(Messages.CellData(1, 1)->Text, QString::fromUtf8("Ошибка"));

    EXPECT_FALSE(Messages.CellData(2, 0));
    EXPECT_FALSE(Messages.CellData(-1, 0));
    EXPECT_FALSE(Messages.CellData(0, 3));
}

}  // namespace
