#include "messages/Class_OndrixSubscriber.h"
#include "messages/SocketOwner.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "helpers/SocketPeers.h"
#include "lang/Lang.h"

using testkit::TLineClient;
using testkit::TRecordingRemote;
using testkit::waitForEvents;

namespace {

// A user other than the one the tests run as ("nobody").
constexpr uid_t OtherUser = 65534;

}  // namespace

TEST(VersionNumberTest, PacksTheFirstDigitOfEachComponent)
{
    struct Case {
        const char* Text;
        int Expected;
    };
    const Case Cases[] = {
        {"1.5.2.3", 1523},
        {"1.10.0.0", 1100},  // position 3 is the "1" of "10", position 5 the "."
        {"", 1500},
        {"2.0.0.0", 2000},
        {"x.y.z.w", 0},
        {"1.5", 1500},
    };
    for (const Case& C : Cases)
        EXPECT_EQ(VersionNumber(QString::fromUtf8(C.Text)), C.Expected) << C.Text;
}

TEST(DefaultSocketPathTest, EnvironmentChoosesThePath)
{
    const QByteArray OldSocket = qgetenv("ONDRIX_SOCKET");
    const QByteArray OldRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("ONDRIX_SOCKET", "/somewhere/else.socket");
    qputenv("XDG_RUNTIME_DIR", "/run/user/1000");
    EXPECT_EQ(DefaultSocketPath(), "/somewhere/else.socket");
    qunsetenv("ONDRIX_SOCKET");
    EXPECT_EQ(DefaultSocketPath(), "/run/user/1000/TOndrix.socket");
    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(DefaultSocketPath(), QString("/tmp/ondrix-%1/TOndrix.socket").arg(getuid()));
    EXPECT_EQ(FallbackSocketFolder(), QString("/tmp/ondrix-%1").arg(getuid()));
    if (!OldSocket.isNull())
        qputenv("ONDRIX_SOCKET", OldSocket);
    if (!OldRuntime.isNull())
        qputenv("XDG_RUNTIME_DIR", OldRuntime);
}

class OndrixSocketTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        Path = Dir.filePath("TOndrix.socket");
        ASSERT_TRUE(Server.Listen(Path)) << Remote.Texts(msgError).join('\n').toStdString();
    }

    // A connected client, kept alive by the fixture.
    TLineClient& NewClient()
    {
        Clients.push_back(std::make_unique<TLineClient>());
        EXPECT_TRUE(Clients.back()->Connect(Path));
        return *Clients.back();
    }

    QTemporaryDir Dir;
    QString Path;
    TRecordingRemote Remote;
    TOndrixSocketServer Server{Remote};
    std::vector<std::unique_ptr<TLineClient>> Clients;
};

TEST_F(OndrixSocketTest, SocketIsOwnerOnlyAndGoesWithTheServer)
{
    struct stat St {};
    ASSERT_EQ(::lstat(QFile::encodeName(Path).constData(), &St), 0);
    EXPECT_TRUE(S_ISSOCK(St.st_mode));
    EXPECT_EQ(St.st_mode & 0777, 0600u);
    EXPECT_TRUE(Server.IsListening());
    Server.Close();
    EXPECT_FALSE(QFile::exists(Path));
}

TEST_F(OndrixSocketTest, RequestsReachTheMonitorAndGetOneAnswerEach)
{
    struct Case {
        const char* Line;
        const char* Answer;
        const char* Call;  // what the monitor was asked to do; "" for nothing
    };
    const Case Cases[] = {
        {"USER 666 0", "OK 1523", ""},
        {"USER 666 0\r", "OK 1523", ""},  // CR LF line end
        {"USER 2012 4", "OK 0", "Set 4 on reload"},
        {"USER 2013 4", "OK 0", "Set 4 off reload"},
        {"USER 4001 7", "OK 0", "Set 7 on"},
        {"USER 4002 7", "OK 0", "Set 7 off"},
        {"USER 3000 0", "OK 0", "EnableAll"},
        {"USER 3001 0", "OK 0", "DisableAll"},
        {"USER 4000 0", "OK 0", "Reload"},
        {"USER 2012 -1", "OK 0", "Set -1 on reload"},
        {"USER 9999 5", "OK 0", ""},             // unknown codes are ignored
        {"USER 2000 3", "OK 0", ""},             // a notification is nothing to the monitor
        {"COPYDATA 7 1000 Nobody", "OK 0", ""},
        {"DONE", nullptr, ""},  // an answer nobody waits for gets no answer itself
        // Malformed lines.
        {"", "ERROR", ""},
        {"HELLO", "ERROR", ""},
        {"user 666 0", "ERROR", ""},
        {"USER", "ERROR", ""},
        {"USER 666", "ERROR", ""},
        {"USER x 0", "ERROR", ""},
        {"USER 666 0 1", "ERROR", ""},
        {"USER +666 0", "ERROR", ""},
        {"USER 666  0", "ERROR", ""},
        {"USER 2012 4x", "ERROR", ""},
        {"COPYDATA 0", "ERROR", ""},
        {"COPYDATA a 1000 X", "ERROR", ""},
        {"WINDOW", "ERROR", ""},
        {"WINDOW \tTitle only", "ERROR", ""},
    };
    TLineClient& Client = NewClient();
    for (const Case& C : Cases) {
        Remote.Calls.clear();
        Client.Send(QByteArray(C.Line) + '\n');
        // A version request after each line proves the connection is still served and that
        // the line was answered exactly once.
        Client.Send("USER 666 0\n");
        if (C.Answer) {
            const std::optional<QByteArray> Answer = Client.ReadLine();
            ASSERT_TRUE(Answer) << C.Line;
            if (QByteArray(C.Answer) == "ERROR")
                EXPECT_TRUE(Answer->startsWith("ERROR ")) << C.Line << " -> " << Answer->constData();
            else
                EXPECT_EQ(*Answer, QByteArray(C.Answer)) << C.Line;
        }
        EXPECT_EQ(Client.ReadLine(), QByteArray("OK 1523")) << C.Line;
        EXPECT_EQ(Remote.Calls.join(','), QString(C.Call)) << C.Line;
    }
    EXPECT_TRUE(Remote.Messages.isEmpty());
}

TEST_F(OndrixSocketTest, SamplesTheListLacksAreRefusedAndSwitchingOneIsShown)
{
    Remote.Missing = {98, -5};
    Remote.Descriptions[5] = "Jingle\tone\r\nline";
    struct Case {
        const char* Line;
        const char* Answer;
        qint64 Shown;  // the number a program message names; 0 when none is added
    };
    const Case Cases[] = {
        {"USER 2012 98", "ERROR no sample No. 99", 99},
        {"USER 2013 98", "ERROR no sample No. 99", 99},
        {"USER 4001 98", "ERROR no sample No. 99", 99},
        {"USER 4002 -5", "ERROR no sample No. -4", -4},
        {"USER 4002 99999999999", "ERROR no sample No. 100000000000", 100000000000},  // no sample can carry it
        {"USER 2012 4", "OK 0", 0},
        // The description of a sample, as one line and one field.
        {"SAMPLE 3", "OK Sample 4", 0},
        {"SAMPLE 5", "OK Jingle one  line", 0},
        {"SAMPLE 98", "ERROR no sample No. 99", 0},  // asking is no mistake worth a message
        {"SAMPLE 99999999999", "ERROR no sample No. 100000000000", 0},
        {"SAMPLE", "ERROR SAMPLE needs <Number>", 0},
        {"SAMPLE x", "ERROR SAMPLE needs <Number>", 0},
    };
    TLineClient& Client = NewClient();
    for (const Case& C : Cases) {
        Remote.Messages.clear();
        EXPECT_EQ(Client.Request(C.Line), QByteArray(C.Answer)) << C.Line;
        const QStringList Errors = Remote.Texts(msgError);
        if (C.Shown == 0)
            EXPECT_TRUE(Errors.isEmpty()) << C.Line;
        else
            EXPECT_EQ(Errors, QStringList{FormatMessageText("RemoteNoSample", {C.Shown})}) << C.Line;
    }
    EXPECT_EQ(Remote.Calls, QStringList{"Set 4 on reload"});
}

TEST_F(OndrixSocketTest, VersionNumberComesFromTheMonitorsVersionText)
{
    TLineClient& Client = NewClient();
    const std::pair<const char*, const char*> Cases[] = {
        {"1.10.0.0", "OK 1100"}, {"", "OK 1500"}, {"3.2.1.0", "OK 3210"}};
    for (const auto& [Version, Answer] : Cases) {
        Remote.Version = Version;
        EXPECT_EQ(Client.Request("USER 666 0"), QByteArray(Answer)) << Version;
    }
}

TEST_F(OndrixSocketTest, EveryConnectionGetsItsOwnHandle)
{
    TLineClient& A = NewClient();
    TLineClient& B = NewClient();
    const std::optional<QByteArray> HA = A.Request("WINDOW Automation\tPlayout");
    const std::optional<QByteArray> HB = B.Request("WINDOW Automation\tPlayout");
    ASSERT_TRUE(HA && HB);
    ASSERT_TRUE(HA->startsWith("OK ") && HB->startsWith("OK "));
    EXPECT_GT(HA->mid(3).toLongLong(), 0);
    EXPECT_GT(HB->mid(3).toLongLong(), 0);
    EXPECT_NE(*HA, *HB);
    // Describing again keeps the handle.
    EXPECT_EQ(A.Request("WINDOW Other\tName"), HA);
    EXPECT_EQ(Server.ConnectionCount(), 2);
}

TEST_F(OndrixSocketTest, RegisteringOneWindowTwiceLeavesOneEntryAndOneMessage)
{
    TLineClient& Window = NewClient();
    TLineClient& Other = NewClient();
    const std::optional<QByteArray> Answer = Window.Request("WINDOW Automation\tPlayout A");
    ASSERT_TRUE(Answer);
    const QByteArray Handle = Answer->mid(3);
    // Another connection registers the window by its handle, then the window registers by
    // its class name.
    EXPECT_EQ(Other.Request("USER 100 " + Handle), QByteArray("OK 0"));
    EXPECT_EQ(Window.Request("COPYDATA 0 1000 Automation"), QByteArray("OK 0"));

    ASSERT_EQ(Server.Subscribers().Count(), 1);
    const TOndrixSubscriber* S = Server.Subscribers().Subscribers(0);
    EXPECT_EQ(S->Handle, Handle.toLongLong());
    EXPECT_EQ(S->Title, "Playout A");
    EXPECT_EQ(S->Name, "Automation");
    const QString Expected = FormatMessageText("AddSubscriber", {"Playout A / Automation / " + QString(Handle)});
    EXPECT_EQ(Remote.Texts(msgInfo), QStringList({Expected}));
    EXPECT_EQ(Expected, QString::fromUtf8("Подключено внешнее приложение Playout A / Automation / ") + Handle + ".");
}

TEST_F(OndrixSocketTest, RegistrationsThatFindNoWindow)
{
    TLineClient& Client = NewClient();
    // Ignored: a COPYDATA that is no registration.
    EXPECT_EQ(Client.Request("COPYDATA 1 1000 Automation"), QByteArray("OK 0"));
    EXPECT_EQ(Client.Request("COPYDATA 0 999 Automation"), QByteArray("OK 0"));
    EXPECT_EQ(Server.Subscribers().Count(), 0);
    EXPECT_TRUE(Remote.Messages.isEmpty());

    // A class name nobody described: handle 0, announced with empty names; a second one
    // finds it registered.
    EXPECT_EQ(Client.Request("COPYDATA 0 1000 Nobody"), QByteArray("OK 0"));
    EXPECT_EQ(Client.Request("COPYDATA 0 1000 Noone"), QByteArray("OK 0"));
    ASSERT_EQ(Server.Subscribers().Count(), 1);
    EXPECT_EQ(Server.Subscribers().Subscribers(0)->Handle, 0);
    const QString Empty = FormatMessageText("AddSubscriber", {" /  / 0"});
    EXPECT_EQ(Remote.Texts(msgInfo), QStringList({Empty}));

    // A handle of no open connection (none yet, one that closed, the own one's neighbour) is
    // refused.
    auto Gone = std::make_unique<TLineClient>();
    ASSERT_TRUE(Gone->Connect(Path));
    const std::optional<QByteArray> GoneHandle = Gone->Request("WINDOW Gone\tGone");
    ASSERT_TRUE(GoneHandle);
    Gone.reset();
    ASSERT_TRUE(waitForEvents([&] { return Server.ConnectionCount() == 1; }));
    for (const QByteArray& Handle : {QByteArray("12345"), GoneHandle->mid(3), QByteArray("0"), QByteArray("-1")}) {
        const std::optional<QByteArray> Answer = Client.Request("USER 100 " + Handle);
        ASSERT_TRUE(Answer);
        EXPECT_TRUE(Answer->startsWith("ERROR ")) << Handle.constData() << " -> " << Answer->constData();
    }
    ASSERT_EQ(Server.Subscribers().Count(), 1);
    EXPECT_EQ(Remote.Texts(msgInfo).size(), 1);
    Server.NotifySampleFound(0, false, {});
    EXPECT_EQ(Remote.Texts(msgCommand).size(), 0);  // the handle-0 entry gets nothing
}

// Three subscribers; a repeated registration of the first changes nothing.
TEST_F(OndrixSocketTest, NotificationGoesToEverySubscriberInRegistrationOrder)
{
    TLineClient& A = NewClient();
    TLineClient& B = NewClient();
    TLineClient& C = NewClient();
    const qint64 HA = A.Subscribe("Automation", "First");
    ASSERT_GT(B.Subscribe("Automation", "Second"), 0);
    ASSERT_GT(C.Subscribe("Logger", "Third"), 0);
    EXPECT_EQ(A.Request("USER 100 " + QByteArray::number(HA)), QByteArray("OK 0"));
    Remote.Messages.clear();

    bool Done = false;
    Server.NotifySampleFound(4, false, [&] { Done = true; });
    EXPECT_TRUE(Done);  // nothing to wait for
    for (TLineClient* Client : {&A, &B, &C})
        EXPECT_EQ(Client->ReadLine(), QByteArray("USER 2000 4"));
    const auto Sent = [](const char* Title) {
        return QString::fromUtf8("Сообщение о нахождении образца №5 отправлено программе \"%1\"").arg(Title);
    };
    EXPECT_EQ(Remote.Texts(msgCommand), QStringList({Sent("First"), Sent("Second"), Sent("Third")}));
    EXPECT_EQ(Remote.Messages.size(), 3);
}

// The end of an episode reaches every subscriber as "USER 2001 <Number>", adds no message and
// expects no answer: a subscriber's next "DONE" still answers the detection it was waited for.
TEST_F(OndrixSocketTest, TheEndOfAnEpisodeGoesToEverySubscriberAndIsNotAnswered)
{
    TLineClient& A = NewClient();
    TLineClient& B = NewClient();
    ASSERT_GT(A.Subscribe("Automation", "A"), 0);
    ASSERT_GT(B.Subscribe("Logger", "B"), 0);
    bool Done = false;
    Server.NotifySampleFound(4, true, [&] { Done = true; });
    ASSERT_EQ(A.ReadLine(), QByteArray("USER 2000 4"));
    ASSERT_EQ(B.ReadLine(), QByteArray("USER 2000 4"));
    Remote.Messages.clear();

    Server.NotifySampleEnded(4);
    EXPECT_EQ(A.ReadLine(), QByteArray("USER 2001 4"));
    EXPECT_EQ(B.ReadLine(), QByteArray("USER 2001 4"));
    EXPECT_TRUE(Remote.Messages.isEmpty());
    A.Send("DONE\n");
    B.Send("DONE\n");
    EXPECT_TRUE(waitForEvents([&] { return Done; }));
    // Nothing is left waiting: the next waited-for detection ends with the next answers.
    bool NextDone = false;
    Server.NotifySampleFound(5, true, [&] { NextDone = true; });
    ASSERT_EQ(A.ReadLine(), QByteArray("USER 2000 5"));
    ASSERT_EQ(B.ReadLine(), QByteArray("USER 2000 5"));
    A.Send("DONE\n");
    B.Send("DONE\n");
    EXPECT_TRUE(waitForEvents([&] { return NextDone; }));
    EXPECT_TRUE(Remote.Texts(msgError).isEmpty());
}

TEST_F(OndrixSocketTest, ClosedSubscriberLeavesTheList)
{
    TLineClient& A = NewClient();
    auto Gone = std::make_unique<TLineClient>();
    ASSERT_TRUE(Gone->Connect(Path));
    ASSERT_GT(Gone->Subscribe("Automation", "Gone"), 0);
    ASSERT_GT(A.Subscribe("Automation", "Alive"), 0);
    Gone.reset();
    ASSERT_TRUE(waitForEvents([&] { return Server.ConnectionCount() == 1; }));

    bool Done = false;
    Server.NotifySampleFound(1, true, [&] { Done = true; });
    EXPECT_EQ(A.ReadLine(), QByteArray("USER 2000 1"));
    EXPECT_EQ(Server.Subscribers().Count(), 1);
    EXPECT_EQ(Remote.Texts(msgCommand).size(), 1);
    EXPECT_FALSE(Done);  // the open one has not answered yet
    A.Send("DONE\n");
    EXPECT_TRUE(waitForEvents([&] { return Done; }));
    EXPECT_TRUE(Remote.Texts(msgError).isEmpty());
}

TEST_F(OndrixSocketTest, WaitingEndsWhenEverySubscriberAnsweredAndServingGoesOn)
{
    TLineClient& A = NewClient();
    TLineClient& B = NewClient();
    TLineClient& Other = NewClient();
    ASSERT_GT(A.Subscribe("Automation", "A"), 0);
    ASSERT_GT(B.Subscribe("Automation", "B"), 0);

    int DoneCount = 0;
    Server.NotifySampleFound(2, true, [&] { ++DoneCount; });
    EXPECT_EQ(A.ReadLine(), QByteArray("USER 2000 2"));
    EXPECT_EQ(B.ReadLine(), QByteArray("USER 2000 2"));
    A.Send("DONE\n");
    // While B works the monitor keeps serving.
    EXPECT_EQ(Other.Request("USER 4000 0"), QByteArray("OK 0"));
    EXPECT_EQ(Remote.Calls, QStringList({"Reload"}));
    EXPECT_EQ(DoneCount, 0);
    B.Send("DONE 0\n");
    EXPECT_TRUE(waitForEvents([&] { return DoneCount == 1; }));
    EXPECT_TRUE(Remote.Texts(msgError).isEmpty());
}

TEST_F(OndrixSocketTest, AnswersToUnwaitedNotificationsAreDropped)
{
    TLineClient& A = NewClient();
    ASSERT_GT(A.Subscribe("Automation", "A"), 0);
    Server.NotifySampleFound(0, false, {});
    ASSERT_EQ(A.ReadLine(), QByteArray("USER 2000 0"));
    // Its answer and one answer too many: neither may count for the next notification.
    A.Send("DONE\nDONE\n");
    ASSERT_EQ(A.Request("USER 666 0"), QByteArray("OK 1523"));

    bool Done = false;
    Server.NotifySampleFound(1, true, [&] { Done = true; });
    ASSERT_EQ(A.ReadLine(), QByteArray("USER 2000 1"));
    ASSERT_EQ(A.Request("USER 666 0"), QByteArray("OK 1523"));
    EXPECT_FALSE(Done);
    A.Send("DONE\n");
    EXPECT_TRUE(waitForEvents([&] { return Done; }));
}

TEST_F(OndrixSocketTest, SubscriberThatNeverAnswersIsGivenUpAndNamed)
{
    TLineClient& Answers = NewClient();
    TLineClient& Silent = NewClient();
    ASSERT_GT(Answers.Subscribe("Automation", "Quick"), 0);
    const qint64 SilentHandle = Silent.Subscribe("Hung", "Slow");
    ASSERT_GT(SilentHandle, 0);
    const QString SilentName = "Slow / Hung / " + QString::number(SilentHandle);

    bool Done = false;
    QStringList TimedOut;
    Server.NotifySampleFound(6, true, [&] { Done = true; }, [&](const QString& Name) { TimedOut << Name; });
    ASSERT_EQ(Answers.ReadLine(), QByteArray("USER 2000 6"));
    Answers.Send("DONE\n");
    ASSERT_TRUE(waitForEvents([&] { return Done; }, 60000));
    EXPECT_EQ(TimedOut, QStringList({SilentName}));
    EXPECT_EQ(Remote.Texts(msgError), QStringList({FormatMessageText("SubscriberTimeout", {SilentName, 7})}));
    EXPECT_TRUE(Remote.Texts(msgError).front().contains(QString::fromUtf8("образца №7")));

    // Its late answer belongs to the notification it was given up for, not to the next one.
    ASSERT_EQ(Silent.ReadLine(), QByteArray("USER 2000 6"));
    Silent.Send("DONE\n");
    ASSERT_EQ(Silent.Request("USER 666 0"), QByteArray("OK 1523"));
    bool NextDone = false;
    Server.NotifySampleFound(7, true, [&] { NextDone = true; });
    ASSERT_EQ(Answers.ReadLine(), QByteArray("USER 2000 7"));
    Answers.Send("DONE\n");
    ASSERT_EQ(Answers.Request("USER 666 0"), QByteArray("OK 1523"));
    EXPECT_FALSE(NextDone);
    Silent.Send("DONE\n");
    EXPECT_TRUE(waitForEvents([&] { return NextDone; }));
    EXPECT_EQ(TimedOut.size(), 1);
}

TEST_F(OndrixSocketTest, SubscriberClosingWhileAwaitedEndsTheWait)
{
    auto Leaving = std::make_unique<TLineClient>();
    ASSERT_TRUE(Leaving->Connect(Path));
    ASSERT_GT(Leaving->Subscribe("Automation", "Leaving"), 0);
    bool Done = false;
    Server.NotifySampleFound(0, true, [&] { Done = true; });
    ASSERT_EQ(Leaving->ReadLine(), QByteArray("USER 2000 0"));
    EXPECT_FALSE(Done);
    Leaving.reset();
    EXPECT_TRUE(waitForEvents([&] { return Done; }, 4000));  // well before the time-out
    EXPECT_TRUE(Remote.Texts(msgError).isEmpty());
}

TEST_F(OndrixSocketTest, LinesOverTheLimitCloseTheConnection)
{
    struct Case {
        qsizetype Length;
        const char* End;  // "" when the line never ends
        bool Closed;
    };
    const Case Cases[] = {
        {4096, "\n", false},
        {4096, "\r\n", false},
        {4097, "\n", true},
        {4097, "\r\n", true},
        {5000, "", true},
        {100000, "\n", true},
    };
    TLineClient& Bystander = NewClient();
    for (const Case& C : Cases) {
        TLineClient& Client = NewClient();
        Client.Send(QByteArray(C.Length, 'X') + C.End);
        if (C.Closed) {
            EXPECT_TRUE(Client.WaitClosed()) << C.Length;
        } else {
            const std::optional<QByteArray> Answer = Client.ReadLine();
            ASSERT_TRUE(Answer) << C.Length;
            EXPECT_TRUE(Answer->startsWith("ERROR ")) << C.Length;
            EXPECT_EQ(Client.Request("USER 666 0"), QByteArray("OK 1523"));
        }
        EXPECT_EQ(Bystander.Request("USER 666 0"), QByteArray("OK 1523")) << C.Length;
    }
}

TEST_F(OndrixSocketTest, HalfWrittenLineWaitsForItsEnd)
{
    TLineClient& Client = NewClient();
    TLineClient& Bystander = NewClient();
    Client.Send("USER 66");
    EXPECT_EQ(Bystander.Request("USER 666 0"), QByteArray("OK 1523"));
    EXPECT_FALSE(Client.ReadLine(200));
    Client.Send("6 0\n");
    EXPECT_EQ(Client.ReadLine(), QByteArray("OK 1523"));
}

TEST_F(OndrixSocketTest, FloodFromAProgramThatNeverReadsCannotStopTheMonitor)
{
    TLineClient& Flood = NewClient();
    TLineClient& Bystander = NewClient();
    ASSERT_GT(Flood.Subscribe("Flood", "Flood"), 0);
    ASSERT_GT(Bystander.Subscribe("Automation", "Bystander"), 0);
    // Requests by the megabyte, answers never read (the client's own buffer stays small, so
    // the answers pile up at the monitor as with a program that does not read).
    Flood.Socket.setReadBufferSize(1024);
    QByteArray Lines;
    for (int I = 0; I < 1000; ++I)
        Lines += "USER 666 0\n";
    for (int I = 0; I < 200; ++I)
        Flood.Socket.write(Lines);
    // The monitor answers until the unread answers pass its bound, then lets the program go.
    EXPECT_TRUE(waitForEvents([&] { return Server.ConnectionCount() == 1; }, 120000));
    EXPECT_EQ(Bystander.Request("USER 666 0"), QByteArray("OK 1523"));
    Server.NotifySampleFound(3, false, {});
    EXPECT_EQ(Bystander.ReadLine(), QByteArray("USER 2000 3"));
    EXPECT_EQ(Server.Subscribers().Count(), 1);  // the closed window left the list
}

// A program repeating its registration, or naming handles that are no connection, neither
// grows the list nor adds a message each time: a detection afterwards is told once.
TEST_F(OndrixSocketTest, RegistrationFloodLeavesOneEntry)
{
    TLineClient& Flood = NewClient();
    const qint64 Handle = Flood.Subscribe("Flood", "Flood");
    ASSERT_GT(Handle, 0);
    QByteArray Lines;
    for (int I = 0; I < 5000; ++I)
        Lines += "USER 100 " + QByteArray::number(Handle) + "\nUSER 100 " + QByteArray::number(Handle + 1 + I) + '\n';
    Flood.Send(Lines);
    for (int I = 0; I < 5000; ++I) {
        ASSERT_EQ(Flood.ReadLine(), QByteArray("OK 0")) << I;
        const std::optional<QByteArray> Refused = Flood.ReadLine();
        ASSERT_TRUE(Refused && Refused->startsWith("ERROR ")) << I;
    }
    EXPECT_EQ(Server.Subscribers().Count(), 1);
    EXPECT_EQ(Remote.Texts(msgInfo).size(), 1);
    Server.NotifySampleFound(2, false, {});
    EXPECT_EQ(Flood.ReadLine(), QByteArray("USER 2000 2"));
    EXPECT_EQ(Remote.Texts(msgCommand).size(), 1);
}

// Connections that never send a whole line are closed after a while, so that idle ones cannot
// take every place; one that has spoken stays, however long it then listens.
TEST_F(OndrixSocketTest, ConnectionsThatNeverSayAnythingAreClosed)
{
    Server.FirstLineTimeout = 300;
    TLineClient& Silent = NewClient();
    TLineClient& Half = NewClient();
    Half.Send("USER 66");
    TLineClient& Listener = NewClient();
    ASSERT_GT(Listener.Subscribe("Automation", "Listener"), 0);
    EXPECT_TRUE(Silent.WaitClosed());
    EXPECT_TRUE(Half.WaitClosed());
    EXPECT_EQ(Server.ConnectionCount(), 1);
    Server.NotifySampleFound(5, false, {});
    EXPECT_EQ(Listener.ReadLine(), QByteArray("USER 2000 5"));
    EXPECT_EQ(Listener.Request("USER 666 0"), QByteArray("OK 1523"));
}

TEST_F(OndrixSocketTest, LiveSocketOfAnotherMonitorIsNeverTakenOver)
{
    TRecordingRemote SecondRemote;
    TOndrixSocketServer Second(SecondRemote);
    EXPECT_FALSE(Second.Listen(Path));
    EXPECT_FALSE(Second.IsListening());
    ASSERT_EQ(SecondRemote.Texts(msgError).size(), 1);
    EXPECT_EQ(SecondRemote.Texts(msgError).front(), FormatMessageText("SocketInUse", {Path}));
    // The first monitor is still the one that answers.
    EXPECT_EQ(NewClient().Request("USER 666 0"), QByteArray("OK 1523"));
    // And once it is gone the path can be served again.
    Server.Close();
    EXPECT_TRUE(Second.Listen(Path));
    TLineClient Client;
    ASSERT_TRUE(Client.Connect(Path));
    SecondRemote.Version = "2.0.0.0";
    EXPECT_EQ(Client.Request("USER 666 0"), QByteArray("OK 2000"));
}

TEST(OndrixSocketPathTest, LeftoversAtThePath)
{
    QTemporaryDir Dir;
    ASSERT_TRUE(Dir.isValid());
    struct Case {
        const char* Name;
        bool Listens;
    };
    // Only the superuser can give a file to another user.
    std::vector<Case> Cases{{"stale socket", true}, {"regular file", false}, {"missing folder", false}};
    if (geteuid() == 0)
        Cases.push_back({"another user's socket", false});
    int Foreign = -1;
    for (const Case& C : Cases) {
        const QString Path = Dir.filePath(QString(C.Name).replace(' ', '_') + ".socket");
        const QString Wanted = QString(C.Name) == "missing folder" ? Dir.filePath("no/such.socket") : Path;
        if (QString(C.Name) == "stale socket") {
            // A socket file whose server is gone, as a crash leaves it.
            const int Fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un Address {};
            Address.sun_family = AF_UNIX;
            std::strncpy(Address.sun_path, QFile::encodeName(Path).constData(), sizeof(Address.sun_path) - 1);
            ASSERT_EQ(::bind(Fd, reinterpret_cast<sockaddr*>(&Address), sizeof(Address)), 0);
            ::close(Fd);
        } else if (QString(C.Name) == "another user's socket") {
            // Served by another user's program, as one made first in a folder all can write.
            Foreign = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un Address {};
            Address.sun_family = AF_UNIX;
            std::strncpy(Address.sun_path, QFile::encodeName(Path).constData(), sizeof(Address.sun_path) - 1);
            ASSERT_EQ(::bind(Foreign, reinterpret_cast<sockaddr*>(&Address), sizeof(Address)), 0);
            ASSERT_EQ(::listen(Foreign, 4), 0);
            ASSERT_EQ(::chown(QFile::encodeName(Path).constData(), OtherUser, OtherUser), 0);
        } else if (QString(C.Name) == "regular file") {
            QFile File(Path);
            ASSERT_TRUE(File.open(QIODevice::WriteOnly));
            File.write("keep me");
        }
        TRecordingRemote Remote;
        TOndrixSocketServer Server(Remote);
        EXPECT_EQ(Server.Listen(Wanted), C.Listens) << C.Name;
        if (C.Listens) {
            TLineClient Client;
            ASSERT_TRUE(Client.Connect(Wanted)) << C.Name;
            EXPECT_EQ(Client.Request("USER 666 0"), QByteArray("OK 1523")) << C.Name;
            EXPECT_TRUE(Remote.Messages.isEmpty()) << C.Name;
        } else {
            ASSERT_EQ(Remote.Texts(msgError).size(), 1) << C.Name;
            EXPECT_TRUE(Remote.Texts(msgError).front().contains(Wanted)) << C.Name;
        }
        if (QString(C.Name) == "regular file") {
            QFile File(Path);
            ASSERT_TRUE(File.open(QIODevice::ReadOnly));
            EXPECT_EQ(File.readAll(), QByteArray("keep me"));
        }
        if (QString(C.Name) == "another user's socket") {
            EXPECT_TRUE(Remote.Texts(msgError).front().contains("another user")) << Remote.Texts(msgError).front().toStdString();
            EXPECT_TRUE(QFile::exists(Path));
            ::close(Foreign);
        }
    }
}

// The folder of the socket in /tmp: made for this user alone, or refused when it is anything
// else than a folder of this user's.
TEST(OndrixSocketPathTest, FallbackFolderIsTheUsersAlone)
{
    QTemporaryDir Dir;
    ASSERT_TRUE(Dir.isValid());
    const auto Mode = [](const QString& Path) {
        struct stat St {};
        return ::lstat(QFile::encodeName(Path).constData(), &St) == 0 ? St.st_mode & 07777 : 0u;
    };
    struct Case {
        const char* Name;
        std::function<void(const QString&)> Make;  // what lies at the path before
        bool Usable;
    };
    std::vector<Case> Cases{
        {"missing", [](const QString&) {}, true},
        {"own, open to all", [](const QString& P) { ASSERT_EQ(::mkdir(QFile::encodeName(P).constData(), 0777), 0);
                                                     ::chmod(QFile::encodeName(P).constData(), 0777); }, true},
        {"link to an own folder", [&](const QString& P) {
             ASSERT_EQ(::mkdir(QFile::encodeName(Dir.filePath("target")).constData(), 0755), 0);
             ASSERT_TRUE(QFile::link(Dir.filePath("target"), P)); }, false},
        {"file", [](const QString& P) { QFile F(P); ASSERT_TRUE(F.open(QIODevice::WriteOnly)); }, false},
    };
    if (geteuid() == 0)
        Cases.push_back({"another user's", [](const QString& P) {
                             ASSERT_EQ(::mkdir(QFile::encodeName(P).constData(), 0700), 0);
                             ASSERT_EQ(::chown(QFile::encodeName(P).constData(), OtherUser, OtherUser), 0); }, false});
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Name);
        const QString Folder = Dir.filePath(QString(C.Name).replace(' ', '_').replace(',', '_'));
        C.Make(Folder);
        const QString Refused = PrepareOwnFolder(Folder);
        EXPECT_EQ(Refused.isEmpty(), C.Usable) << Refused.toStdString();
        if (C.Usable) {
            EXPECT_EQ(Mode(Folder), 0700u);
        }
    }
    EXPECT_EQ(Mode(Dir.filePath("target")), 0755u);  // the link's target is left as it was
}

// Programs of other users are not served, even where the socket's mode would let them in.
TEST_F(OndrixSocketTest, ConnectionsOfOtherUsersAreRefused)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only the superuser can run a program as another user";
    ::chmod(QFile::encodeName(Dir.path()).constData(), 0711);
    ::chmod(QFile::encodeName(Path).constData(), 0666);
    QProcess Other;
    Other.start("/usr/bin/setpriv",
                {"--reuid=" + QString::number(OtherUser), "--regid=" + QString::number(OtherUser), "--clear-groups",
                 "/usr/bin/python3", "-c",
                 "import socket, sys\n"
                 "s = socket.socket(socket.AF_UNIX)\n"
                 "s.settimeout(20)\n"
                 "s.connect(sys.argv[1])\n"
                 "try:\n"
                 "    s.sendall(b'USER 666 0\\n')\n"
                 "    print(s.recv(100).decode() or 'closed')\n"
                 "except (BrokenPipeError, ConnectionResetError):\n"
                 "    print('closed')\n",
                 Path});
    ASSERT_TRUE(waitForEvents([&] { return Other.state() == QProcess::NotRunning; }, 30000));
    EXPECT_EQ(Other.readAllStandardOutput().trimmed(), QByteArray("closed")) << Other.readAllStandardError().constData();
    EXPECT_EQ(Server.ConnectionCount(), 0);
    EXPECT_EQ(NewClient().Request("USER 666 0"), QByteArray("OK 1523"));
}

TEST_F(OndrixSocketTest, WritingToAProgramThatJustWentAwayIsHarmless)
{
    TLineClient& Alive = NewClient();
    auto Gone = std::make_unique<TLineClient>();
    ASSERT_TRUE(Gone->Connect(Path));
    ASSERT_GT(Gone->Subscribe("Automation", "Gone"), 0);
    ASSERT_GT(Alive.Subscribe("Automation", "Alive"), 0);
    // The program is gone before the monitor has heard of it: its notifications and answers
    // go to a closed socket (no SIGPIPE, no error beyond the connection's end).
    Gone->Socket.abort();
    int Done = 0;
    for (int Number = 0; Number < 3; ++Number)
        Server.NotifySampleFound(Number, true, [&] { ++Done; });
    for (int Number = 0; Number < 3; ++Number) {
        EXPECT_EQ(Alive.ReadLine(), "USER 2000 " + QByteArray::number(Number));
        Alive.Send("DONE\n");
    }
    EXPECT_TRUE(waitForEvents([&] { return Done == 3 && Server.ConnectionCount() == 1; }, 4000));
    EXPECT_TRUE(Remote.Texts(msgError).isEmpty());
}

TEST(OndrixSocketLifetimeTest, MonitorGoingAwayClosesEveryConnectionAndItsSocketFile)
{
    QTemporaryDir Dir;
    ASSERT_TRUE(Dir.isValid());
    const QString Path = Dir.filePath("TOndrix.socket");
    TRecordingRemote Remote;
    auto Server = std::make_unique<TOndrixSocketServer>(Remote);
    ASSERT_TRUE(Server->Listen(Path));
    TLineClient A;
    TLineClient B;
    ASSERT_TRUE(A.Connect(Path));
    ASSERT_TRUE(B.Connect(Path));
    ASSERT_GT(A.Subscribe("Automation", "A"), 0);
    bool Done = false;
    Server->NotifySampleFound(0, true, [&] { Done = true; });
    Server.reset();
    EXPECT_TRUE(A.WaitClosed());
    EXPECT_TRUE(B.WaitClosed());
    EXPECT_FALSE(QFile::exists(Path));
    waitForEvents([] { return false; }, 100);
    EXPECT_FALSE(Done);  // the monitor is gone: nobody is called back
}
