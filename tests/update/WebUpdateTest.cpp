// The update check against a real local HTTP server started by the test, with the clock of
// the once-a-day rules in the test's hand. The boxes are the window's: a recording stand-in
// answers them here.
#include "update/WebUpdate_Functions.h"

#include "helpers/NetServers.h"
#include "helpers/QtWait.h"
#include "lang/Lang.h"

#include <gtest/gtest.h>

#include <optional>

using namespace std::chrono_literals;
using testkit::HttpServer;

namespace {

const QString ServerError = QStringLiteral("Невозможно соединиться с сервером.\r\nОшибка: ");

// Records the boxes and answers the update box as told.
struct TRecordingUI : TWebUpdateUI {
    struct TBox {
        QString Kind;   // "update", "information", "error"
        QString Caption;
        QString Text;
    };
    QList<TBox> Boxes;
    QStringList Opened;
    TUpdateChoice Answer = TUpdateChoice::Cancel;
    std::optional<bool> SetAutoUpdates;   // the operator's tick, if any
    QStringList ButtonCaptions;

    TUpdateChoice ShowUpdate(const QString& Caption, const QString& Text, bool& AutoUpdates,
                             const QString& DownloadCaption, const QString& OpenCaption,
                             const QString& CancelCaption) override
    {
        Boxes.append({QStringLiteral("update"), Caption, Text});
        ButtonCaptions = {DownloadCaption, OpenCaption, CancelCaption};
        if (SetAutoUpdates)
            AutoUpdates = *SetAutoUpdates;
        return Answer;
    }
    void ShowInformation(const QString& Caption, const QString& Text) override
    {
        Boxes.append({QStringLiteral("information"), Caption, Text});
    }
    void ShowError(const QString& Caption, const QString& Text) override
    {
        Boxes.append({QStringLiteral("error"), Caption, Text});
    }
    void OpenUrl(const QString& Url) override { Opened.append(Url); }
};

TDateTime At(int Day, int Hour, int Minute, int Second = 0)
{
    TDateTime Value = 0;
    TryEncodeDateTime(2026, 12, Day, Hour, Minute, Second, 0, Value);
    return Value;
}

// A checker against the test's server, with the program started long ago.
struct TFixture {
    HttpServer Server;
    TRecordingUI UI;
    TUpdateChecker Checker;
    TDateTime Clock = At(10, 9, 0);
    int Finished = 0;

    TFixture()
    {
        Server.start();
        Checker.BaseURL = QString::fromStdString(Server.baseUrl());
        Checker.CurrentVersion = QStringLiteral("1.5.2.3");
        Checker.ProgramStartTime = At(1, 8, 0);
        Checker.UI = &UI;
        Checker.Clock = [this] { return Clock; };
        Checker.Options.TransferTimeoutMSecs = 2000;
        Checker.OnFinished = [this](const TWebUpdate&) { ++Finished; };
    }
    void Publish(const std::string& Text) { Server.put("version/ondrix.ver", Text); }
    // Runs CheckForUpdates and, when a check started, waits until it has ended.
    bool Check(bool Automatic)
    {
        const int Before = Finished;
        if (!Checker.CheckForUpdates(Automatic))
            return false;
        EXPECT_TRUE(testkit::processEventsUntil([&] { return Finished > Before; }));
        return true;
    }
};

}  // namespace

TEST(CompareVersions, ComparesPartByPart)
{
    const struct {
        const char* A;
        const char* B;
        int Result;
    } Cases[] = {
        {"1.5.10", "1.5.9", 1}, {"1.5.9", "1.5.10", -1}, {"1.5.2.0", "1.5.2", 1}, {"1.5.2", "1.5.2.0", -1},
        {"1.5.2.3", "1.5.2.3", 0}, {"", "", 0}, {"", "0", -1}, {"0.1", "", 1}, {"2", "10", -1},
        {"1.05", "1.5", 0}, {" 1 . 2 ", "1.2", 0},
    };
    for (const auto& Case : Cases)
        EXPECT_EQ(CompareVersions(QString::fromUtf8(Case.A), QString::fromUtf8(Case.B)), Case.Result)
            << Case.A << " vs " << Case.B;
}

TEST(CompareVersions, PartThatIsNotANumberFails)
{
    for (const char* Bad : {"1.x", "1..2", "v1", "1.-2", "1.+2", "1,5", "1.5 beta", "99999999999"})
        EXPECT_THROW(CompareVersions(QStringLiteral("1.0"), QString::fromUtf8(Bad)), EVersionError) << Bad;
}

TEST(CompareVersions, ValidVersionsHaveOneToFourPartsUpTo65535)
{
    for (const char* Good : {"1", "1.5", "1.5.2.3", " 1 . 2 ", "0.0.0.0", "65535.65535.65535.65535", "1.05"})
        EXPECT_TRUE(ValidVersion(QString::fromUtf8(Good))) << Good;
    for (const char* Bad : {"", "1.2.3.4.5", "1.2.3.4.5.6.7.8.9", "65536", "1.99999999999", "1.x", "1..2", "v1",
                            "1.-2", "1.+2", "1.", ".1"})
        EXPECT_FALSE(ValidVersion(QString::fromUtf8(Bad))) << Bad;
}

TEST(WebUpdate, OnlyHttpAndHttpsAreWebAddresses)
{
    const struct {
        const char* Url;
        bool Web;
    } Cases[] = {
        {"http://example.test/page", true}, {"https://example.test", true}, {"HTTPS://Example.test/x?y=1", true},
        {"file:///etc/passwd", false}, {"javascript:alert(1)", false}, {"ftp://example.test/setup.exe", false},
        {"/usr/bin/xterm", false}, {"example.test/page", false}, {"http://", false}, {"", false},
        {"mailto:a@b.test", false}, {"smb://host/share", false},
    };
    for (const auto& Case : Cases)
        EXPECT_EQ(IsWebAddress(QString::fromUtf8(Case.Url)), Case.Web) << Case.Url;
}

TEST(WebUpdate, VersionFileKeysAndDefaults)
{
    const QString Base = QStringLiteral("https://base.test/");
    const TVersionFile File = ParseVersionFile(
        QByteArray("; published\r\nversion = 2.0.1.0 \r\nDATE= 01.02.2027 (Февраль)\r\n"
                   "Url=https://base.test/news=1\r\nDownloadURL = https://cdn.test/setup.exe\r\nno key line\r\n"),
        Base);
    EXPECT_EQ(File.Version, QStringLiteral("2.0.1.0"));
    EXPECT_EQ(File.Date, QStringLiteral("01.02.2027 (Февраль)"));
    EXPECT_EQ(File.URL, QStringLiteral("https://base.test/news=1"));
    EXPECT_EQ(File.DownloadURL, QStringLiteral("https://cdn.test/setup.exe"));

    const TVersionFile Empty = ParseVersionFile(QByteArray("Date=x\n"), Base);
    EXPECT_TRUE(Empty.Version.isEmpty());
    EXPECT_EQ(Empty.URL, Base);
    EXPECT_EQ(Empty.DownloadURL, Base);

    const TVersionFile Hostile = ParseVersionFile(
        QByteArray("Version=9\nURL=file:///etc/passwd\nDownloadURL=/usr/bin/xterm -e sh\n"), Base);
    EXPECT_EQ(Hostile.URL, Base);
    EXPECT_EQ(Hostile.DownloadURL, Base);
}

TEST(WebUpdate, BaseAddressFromEnvironment)
{
    const QString Home = QStringLiteral("https://www.corvessa.example/ondrix/");
    qunsetenv("ONDRIX_UPDATE_URL");
    EXPECT_EQ(UpdateBaseUrl(Home), Home);
    qputenv("ONDRIX_UPDATE_URL", "http://mirror.station.test/ondrix");
    EXPECT_EQ(UpdateBaseUrl(Home), QStringLiteral("http://mirror.station.test/ondrix"));
    qunsetenv("ONDRIX_UPDATE_URL");
}

// What each answer of the server leads to, on demand and automatically.
TEST(WebUpdate, AnswersOfTheServerOnDemandAndAutomatically)
{
    const std::string Big = "Version=9.0\n" + std::string(70 * 1024, '#') + "\n";
    const struct {
        const char* Name;
        std::string Body;        // the version file ("" with no file at all)
        int Status;              // 0: as the server decides
        bool Hang;
        QString InteractiveBox;  // kind of box on demand
        QString TextStart;       // of that box's text
        bool AutomaticBox;       // an automatic check shows the update box
        QString LastVersion;     // kept afterwards (the check starts with none seen)
    } Cases[] = {
        {"newer", "Version=1.5.10.0\r\nDate=01.02.2027\r\n", 0, false, QStringLiteral("update"),
         QStringLiteral("Доступно обновление программы. \r\nВаша версия: 1.5.2.3\r\nПоследняя версия: 1.5.10.0 "
                        "(выпущена 01.02.2027)."),
         true, QStringLiteral("1.5.10.0")},
        {"equal", "Version=1.5.2.3\n", 0, false, QStringLiteral("information"),
         QStringLiteral("Вы используете последнюю версию программы."), false, QStringLiteral("1.5.2.3")},
        {"older", "Version=1.4\n", 0, false, QStringLiteral("information"),
         QStringLiteral("Вы используете последнюю версию программы."), false, QStringLiteral("1.4")},
        {"no Version line", "Date=01.02.2027\nURL=https://x.test/\n", 0, false, QStringLiteral("information"),
         QStringLiteral("Вы используете последнюю версию программы."), false, QString()},
        {"garbage body", std::string("\x89PNG\r\n\x1a\n\0\0\xff\xfe", 12), 0, false, QStringLiteral("information"),
         QStringLiteral("Вы используете последнюю версию программы."), false, QString()},
        {"version that is not a number", "Version=1.x\n", 0, false, QStringLiteral("error"),
         FormatMessageText("ServerVersionInvalid", {"1.x"}), false, QString()},
        // More parts than a version has, or a part out of range: never a newer version.
        {"nine-part version", "Version=1.2.3.4.5.6.7.8.9\n", 0, false, QStringLiteral("error"),
         FormatMessageText("ServerVersionInvalid", {"1.2.3.4.5.6.7.8.9"}), false, QString()},
        {"part out of range", "Version=1.99999\n", 0, false, QStringLiteral("error"),
         FormatMessageText("ServerVersionInvalid", {"1.99999"}), false, QString()},
        // A date of 60,000 characters: the box gets one line of a date's length.
        {"endless date", "Version=1.6\nDate=2027" + std::string(60000, '7') + "\n", 0, false, QStringLiteral("update"),
         FormatMessageText("ServerUpdateAvailable", {"1.5.2.3", "1.6", QString("2027") + QString(36, u'7')}), true,
         QStringLiteral("1.6")},
        {"status 204", "", 204, false, QStringLiteral("error"), QStringLiteral("Wrong status code 204"), false,
         QString()},
        {"status 404", "", 0, false, QStringLiteral("error"), QStringLiteral("Wrong status code 404"), false,
         QString()},
        // The server answered, with something that is not a version file: said as such.
        {"body over 64 KB", Big, 0, false, QStringLiteral("error"), FormatMessageText("ServerAnswerTooLong", {65536}),
         false, QString()},
        {"server that never answers", "", 0, true, QStringLiteral("error"), ServerError, false, QString()},
    };
    for (const auto& Case : Cases) {
        for (const bool Automatic : {false, true}) {
            SCOPED_TRACE(std::string(Case.Name) + (Automatic ? ", automatic" : ", on demand"));
            TFixture F;
            if (!Case.Body.empty())
                F.Publish(Case.Body);
            if (Case.Status)
                F.Server.put("version/ondrix.ver.status", std::to_string(Case.Status));
            if (Case.Hang)
                F.Server.put("version/ondrix.ver.hang", "");
            ASSERT_TRUE(F.Check(Automatic));
            EXPECT_EQ(F.Server.requests(), std::vector<std::string>{"/version/ondrix.ver"});
            if (Automatic && !Case.AutomaticBox) {
                EXPECT_TRUE(F.UI.Boxes.isEmpty());
            } else {
                ASSERT_EQ(F.UI.Boxes.size(), 1);
                EXPECT_EQ(F.UI.Boxes[0].Kind, Case.InteractiveBox);
                EXPECT_TRUE(F.UI.Boxes[0].Text.startsWith(Case.TextStart)) << F.UI.Boxes[0].Text.toStdString();
            }
            EXPECT_EQ(F.Checker.LastVersion, Case.LastVersion);
            EXPECT_EQ(F.Checker.LastCheckTime, F.Clock);
        }
    }
}

TEST(WebUpdate, UnreachableServerIsAnErrorOnlyOnDemand)
{
    for (const bool Automatic : {false, true}) {
        TFixture F;
        F.Checker.BaseURL = QStringLiteral("http://127.0.0.1:%1").arg(testkit::freeLocalPort());
        ASSERT_TRUE(F.Check(Automatic));
        if (Automatic) {
            EXPECT_TRUE(F.UI.Boxes.isEmpty());
        } else {
            ASSERT_EQ(F.UI.Boxes.size(), 1);
            EXPECT_EQ(F.UI.Boxes[0].Caption, QStringLiteral("Ошибка"));
            EXPECT_TRUE(F.UI.Boxes[0].Text.startsWith(ServerError)) << F.UI.Boxes[0].Text.toStdString();
        }
    }
}

TEST(WebUpdate, UpdateBoxCaptionsAndButtonsOpenOnlyWebAddresses)
{
    const struct {
        const char* Name;
        std::string File;
        TUpdateChoice Answer;
        QString Opened;   // relative to the server's base address when it starts with "/"
    } Cases[] = {
        {"download", "Version=9\nURL=https://x.test/news\nDownloadURL=https://x.test/setup.exe\n",
         TUpdateChoice::Download, QStringLiteral("https://x.test/setup.exe")},
        {"open", "Version=9\nURL=https://x.test/news\nDownloadURL=https://x.test/setup.exe\n", TUpdateChoice::Open,
         QStringLiteral("https://x.test/news")},
        {"cancel", "Version=9\nURL=https://x.test/news\n", TUpdateChoice::Cancel, QString()},
        {"download of a local program", "Version=9\nDownloadURL=/usr/bin/xterm\n", TUpdateChoice::Download,
         QStringLiteral("/")},
        {"open of a local file", "Version=9\nURL=file:///etc/passwd\n", TUpdateChoice::Open, QStringLiteral("/")},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        TFixture F;
        F.Checker.BaseURL = QString::fromStdString(F.Server.baseUrl() + "/");
        F.Publish(Case.File);
        F.UI.Answer = Case.Answer;
        ASSERT_TRUE(F.Check(false));
        ASSERT_EQ(F.UI.Boxes.size(), 1);
        EXPECT_EQ(F.UI.Boxes[0].Caption, QStringLiteral("Обновление"));
        EXPECT_EQ(F.UI.ButtonCaptions,
                  (QStringList{QStringLiteral("Скачать программу установки"), QStringLiteral("Перейти на сайт"),
                               QStringLiteral("Отмена")}));
        if (Case.Opened.isEmpty())
            EXPECT_TRUE(F.UI.Opened.isEmpty());
        else
            EXPECT_EQ(F.UI.Opened, QStringList{Case.Opened.startsWith(u'/')
                                                   ? F.Checker.BaseURL + Case.Opened.mid(1)
                                                   : Case.Opened});
    }
}

TEST(WebUpdate, NonWebBaseAddressOrRedirectIsNeverFetched)
{
    TFixture F;
    F.Checker.BaseURL = QStringLiteral("file:///etc");
    ASSERT_TRUE(F.Check(false));
    ASSERT_EQ(F.UI.Boxes.size(), 1);
    EXPECT_EQ(F.UI.Boxes[0].Kind, QStringLiteral("error"));

    TFixture R;
    R.Server.put("version/ondrix.ver.redirect", "file:///etc/hostname");
    ASSERT_TRUE(R.Check(false));
    ASSERT_EQ(R.UI.Boxes.size(), 1);
    EXPECT_EQ(R.UI.Boxes[0].Kind, QStringLiteral("error"));
    EXPECT_TRUE(R.UI.Boxes[0].Text.startsWith(ServerError));
}

TEST(WebUpdate, RedirectToAnotherWebAddressIsFollowed)
{
    TFixture F;
    F.Server.put("version/ondrix.ver.redirect", F.Server.baseUrl() + "/mirror/ondrix.ver");
    F.Server.put("mirror/ondrix.ver", "Version=1.5.2.3\n");
    ASSERT_TRUE(F.Check(false));
    ASSERT_EQ(F.UI.Boxes.size(), 1);
    EXPECT_EQ(F.UI.Boxes[0].Kind, QStringLiteral("information"));
}

// Started at 09:00 with the last check 23 hours old: the automatic check runs at 10:00, not
// at 09:01; and never in the program's first minute.
TEST(WebUpdate, AutomaticCheckOnceADayAndNotInTheFirstMinute)
{
    TFixture F;
    F.Publish("Version=1.0\n");
    F.Checker.ProgramStartTime = At(10, 9, 0);
    F.Checker.LastCheckTime = At(9, 10, 0);
    const struct {
        TDateTime Now;
        bool Runs;
    } Steps[] = {
        {At(10, 9, 0, 30), false},   // first minute of the program
        {At(10, 9, 1), false},       // a day has not passed
        {At(10, 9, 59, 59), false},
        {At(10, 10, 0), true},
        {At(10, 10, 0, 1), false},   // the check just made counts
        {At(11, 9, 59, 59), false},
        {At(11, 10, 0, 1), true},
    };
    size_t Requests = 0;
    for (const auto& Step : Steps) {
        F.Clock = Step.Now;
        EXPECT_EQ(F.Check(true), Step.Runs) << FormatDateTime(SettingsDateTimeFormat, Step.Now).toStdString();
        Requests += Step.Runs ? 1 : 0;
        EXPECT_EQ(F.Server.requests().size(), Requests);
    }
    EXPECT_EQ(F.Checker.LastCheckTime, At(11, 10, 0, 1));
}

TEST(WebUpdate, FailingServerIsAskedOnceADay)
{
    TFixture F;   // nothing published: 404
    F.Clock = At(10, 12, 0);
    EXPECT_TRUE(F.Check(true));
    F.Clock = At(10, 12, 0, 1);
    EXPECT_FALSE(F.Check(true));
    F.Clock = At(11, 11, 59);
    EXPECT_FALSE(F.Check(true));
    EXPECT_EQ(F.Server.requests().size(), 1u);
    EXPECT_TRUE(F.UI.Boxes.isEmpty());
}

TEST(WebUpdate, ClockSetBackDoesNotHoldTheCheckOff)
{
    TFixture F;
    F.Publish("Version=1.0\n");
    F.Checker.LastCheckTime = At(20, 9, 0);   // later than now
    EXPECT_TRUE(F.Check(true));
    EXPECT_EQ(F.Checker.LastCheckTime, F.Clock);
}

TEST(WebUpdate, AutoUpdatesOffStopsOnlyTheAutomaticCheck)
{
    TFixture F;
    F.Publish("Version=9.0\n");
    F.Checker.AutoUpdates = false;
    EXPECT_FALSE(F.Check(true));
    F.Clock = At(20, 9, 0);
    EXPECT_FALSE(F.Check(true));
    EXPECT_TRUE(F.Server.requests().empty());
    EXPECT_TRUE(F.Check(false));
    ASSERT_EQ(F.UI.Boxes.size(), 1);
    EXPECT_EQ(F.UI.Boxes[0].Kind, QStringLiteral("update"));
}

TEST(WebUpdate, UpdateBoxTickSwitchesAutomaticChecks)
{
    TFixture F;
    F.Publish("Version=9.0\n");
    int Changes = 0;
    F.Checker.OnChanged = [&] { ++Changes; };
    F.UI.SetAutoUpdates = false;
    ASSERT_TRUE(F.Check(false));
    EXPECT_FALSE(F.Checker.AutoUpdates);
    EXPECT_GE(Changes, 2);   // the check's time, then the version seen and the tick
}

// Each new version is announced automatically once; on demand it is announced every time.
TEST(WebUpdate, NewVersionIsAnnouncedAutomaticallyOnce)
{
    TFixture F;
    F.Publish("Version=1.6\n");
    const struct {
        int Day;
        bool Automatic;
        bool Box;
    } Steps[] = {
        {11, true, true},    // first seen
        {12, true, false},   // seen before
        {12, false, true},   // on demand still
        {13, true, false},
    };
    for (const auto& Step : Steps) {
        F.Clock = At(Step.Day, 12, 0);
        F.UI.Boxes.clear();
        ASSERT_TRUE(F.Check(Step.Automatic));
        EXPECT_EQ(F.UI.Boxes.size(), Step.Box ? 1 : 0) << Step.Day << (Step.Automatic ? " automatic" : "");
        EXPECT_EQ(F.Checker.LastVersion, QStringLiteral("1.6"));
    }
    // A newer one yet is announced again, once.
    F.Publish("Version=1.7\n");
    F.Clock = At(14, 12, 0);
    F.UI.Boxes.clear();
    ASSERT_TRUE(F.Check(true));
    EXPECT_EQ(F.UI.Boxes.size(), 1);
    EXPECT_EQ(F.Checker.LastVersion, QStringLiteral("1.7"));
}

TEST(WebUpdate, StoredLastVersionThatIsNotAVersionCountsAsNoneSeen)
{
    TFixture F;
    F.Publish("Version=1.6\n");
    F.Checker.LastVersion = QStringLiteral("garbage");
    ASSERT_TRUE(F.Check(true));
    EXPECT_EQ(F.UI.Boxes.size(), 1);
    EXPECT_EQ(F.Checker.LastVersion, QStringLiteral("1.6"));
}

TEST(WebUpdate, ClosingBreaksOffACheckUnderWay)
{
    HttpServer Server;
    Server.start();
    Server.put("version/ondrix.ver.hang", "");
    {
        TUpdateChecker Checker;
        Checker.BaseURL = QString::fromStdString(Server.baseUrl());
        Checker.Options.TransferTimeoutMSecs = 3600 * 1000;
        Checker.StartUpdateCheck(true);
        ASSERT_TRUE(testkit::processEventsUntil([&] { return !Server.requests().empty(); }));
        EXPECT_EQ(Checker.Running(), 1);
    }   // the destructor returns although the server never answers
    SUCCEED();
}
