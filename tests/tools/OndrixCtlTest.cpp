// ondrixctl against a real socket server of the monitor in this process: the tool runs as a
// child while this thread's event loop serves it.

#include <QDateTime>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "helpers/SocketPeers.h"
#include "lang/Lang.h"
#include "messages/Class_OndrixSubscriber.h"

using testkit::TRecordingRemote;
using testkit::waitForEvents;

namespace {

struct TRun {
    int ExitCode = -1;
    QByteArray Out;
    QByteArray Err;
};

class OndrixCtlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        Path = Dir.filePath("TOndrix.socket");
        ASSERT_TRUE(Server.Listen(Path));
    }

    // Starts the tool with these arguments; ONDRIX_SOCKET names the test's monitor unless
    // Environment says otherwise.
    void Start(QProcess& Tool, const QStringList& Args, QProcessEnvironment Environment = {})
    {
        if (Environment.isEmpty()) {
            Environment = QProcessEnvironment::systemEnvironment();
            Environment.insert("ONDRIX_SOCKET", Path);
        }
        Tool.setProcessEnvironment(Environment);
        Tool.start(ONDRIX_BIN_DIR "/ondrixctl", Args);
    }

    // Runs the tool to its end, serving it meanwhile.
    TRun Run(const QStringList& Args, const QProcessEnvironment& Environment = {})
    {
        QProcess Tool;
        Start(Tool, Args, Environment);
        EXPECT_TRUE(waitForEvents([&] { return Tool.state() == QProcess::NotRunning; }, 60000))
            << Args.join(' ').toStdString();
        TRun Result;
        Result.ExitCode = Tool.exitStatus() == QProcess::NormalExit ? Tool.exitCode() : -1;
        Result.Out = Tool.readAllStandardOutput();
        Result.Err = Tool.readAllStandardError();
        return Result;
    }

    QTemporaryDir Dir;
    QString Path;
    TRecordingRemote Remote;
    TOndrixSocketServer Server{Remote};
};

}  // namespace

TEST_F(OndrixCtlTest, CommandsReachTheMonitorWithTheStoredNumber)
{
    struct Case {
        QStringList Args;
        const char* Call;
        const char* Out;
    };
    const Case Cases[] = {
        {{"version"}, "", "1523\n"},
        {{"on", "3"}, "Set 2 on reload", ""},
        {{"off", "3"}, "Set 2 off reload", ""},
        {{"set-on", "1"}, "Set 0 on", ""},
        {{"set-off", "12"}, "Set 11 off", ""},
        {{"all-on"}, "EnableAll", ""},
        {{"all-off"}, "DisableAll", ""},
        {{"reload"}, "Reload", ""},
        {{"--socket", "PATH", "version"}, "", "1523\n"},
        {{"version", "--socket=PATH"}, "", "1523\n"},
    };
    for (const Case& C : Cases) {
        Remote.Calls.clear();
        QStringList Args = C.Args;
        Args.replaceInStrings("PATH", Path);
        const TRun R = Run(Args);
        EXPECT_EQ(R.ExitCode, 0) << Args.join(' ').toStdString() << ": " << R.Err.constData();
        EXPECT_EQ(Remote.Calls.join(','), QString(C.Call)) << Args.join(' ').toStdString();
        EXPECT_EQ(R.Out, QByteArray(C.Out)) << Args.join(' ').toStdString();
    }
}

TEST_F(OndrixCtlTest, MisuseExitsWithTwoAndAsksNothing)
{
    const QStringList Cases[] = {
        {},
        {"dance"},
        {"on"},
        {"on", "0"},
        {"on", "-1"},
        {"on", "x"},
        {"on", "1", "2"},
        {"version", "extra"},
        {"--socket"},
        {"--bogus", "version"},
        {"version", "--exec", "true"},
        {"listen", "--exec"},
        {"version", "--describe"},
        {"on", "1", "--wait"},
    };
    for (const QStringList& Args : Cases) {
        const TRun R = Run(Args);
        EXPECT_EQ(R.ExitCode, 2) << Args.join(' ').toStdString();
        EXPECT_FALSE(R.Err.isEmpty()) << Args.join(' ').toStdString();
    }
    EXPECT_TRUE(Remote.Calls.isEmpty());
    EXPECT_EQ(Server.ConnectionCount(), 0);
}

TEST_F(OndrixCtlTest, HelpDescribesEveryCommand)
{
    const TRun R = Run({"--help"});
    EXPECT_EQ(R.ExitCode, 0);
    for (const char* Word : {"version", "on N", "off N", "set-on N", "set-off N", "all-on", "all-off",
                             "reload", "listen", "--exec", "--describe", "--wait", "ONDRIX_DESCRIPTION",
                             "--socket", "ONDRIX_SOCKET", "Exit codes"})
        EXPECT_TRUE(R.Out.contains(Word)) << Word;
}

TEST_F(OndrixCtlTest, NoMonitorExitsWithOneNamingThePathTried)
{
    const QString Missing = Dir.filePath("nobody.socket");
    const QString NotASocket = Dir.filePath("plain.txt");
    QFile Plain(NotASocket);
    ASSERT_TRUE(Plain.open(QIODevice::WriteOnly));
    // The socket of a monitor that ended without removing it: bound, never served.
    const QString Stale = Dir.filePath("stale.socket");
    {
        const int Fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un Address{};
        Address.sun_family = AF_UNIX;
        std::strncpy(Address.sun_path, QFile::encodeName(Stale).constData(), sizeof Address.sun_path - 1);
        ASSERT_EQ(::bind(Fd, reinterpret_cast<sockaddr*>(&Address), sizeof Address), 0);
        ::close(Fd);
    }
    QProcessEnvironment WithVariable = QProcessEnvironment::systemEnvironment();
    WithVariable.insert("ONDRIX_SOCKET", Missing);
    QProcessEnvironment WithDefault = QProcessEnvironment::systemEnvironment();
    WithDefault.remove("ONDRIX_SOCKET");
    WithDefault.insert("XDG_RUNTIME_DIR", Dir.filePath("runtime"));
    struct Case {
        QStringList Args;
        QProcessEnvironment Environment;
        QStringList Said;  // parts of what standard error must hold
    };
    const Case Cases[] = {
        {{"version"}, WithVariable, {"no monitor serves " + Missing + " (from ONDRIX_SOCKET): there is no socket there"}},
        {{"--socket", Missing, "off", "2"}, WithVariable, {"no monitor serves " + Missing + " (from --socket)"}},
        {{"--socket", Stale, "all-on"}, WithVariable, {"no monitor serves " + Stale, "nothing accepts connections"}},
        {{"--socket", NotASocket, "all-on"}, WithVariable, {"refusing the socket " + NotASocket + ": not a socket"}},
        {{"listen"}, WithDefault,
         {"no monitor serves " + Dir.filePath("runtime") + "/TOndrix.socket (the default socket)",
          "a monitor started with ONDRIX_SOCKET serves another socket"}},
    };
    for (const Case& C : Cases) {
        const TRun R = Run(C.Args, C.Environment);
        SCOPED_TRACE(C.Args.join(' ').toStdString() + ": " + R.Err.toStdString());
        EXPECT_EQ(R.ExitCode, 1);
        for (const QString& Part : C.Said)
            EXPECT_TRUE(R.Err.contains(Part.toUtf8())) << Part.toStdString();
        EXPECT_FALSE(R.Err.contains("Invalid name"));
    }
    // --socket wins over the environment.
    EXPECT_EQ(Run({"--socket", Path, "version"}, WithVariable).ExitCode, 0);
}

TEST_F(OndrixCtlTest, ASampleTheMonitorLacksIsRefusedWithTheReason)
{
    Remote.Missing = {98};
    for (const char* Command : {"on", "off", "set-on", "set-off"}) {
        Remote.Messages.clear();
        const TRun R = Run({Command, "99"});
        EXPECT_EQ(R.ExitCode, 1) << Command;
        EXPECT_TRUE(R.Err.contains("no sample No. 99")) << Command << ": " << R.Err.constData();
        // The monitor's operator is told as well.
        EXPECT_EQ(Remote.Texts(msgError), QStringList{FormatMessageText("RemoteNoSample", {99})}) << Command;
    }
    EXPECT_TRUE(Remote.Calls.isEmpty());
}

TEST_F(OndrixCtlTest, ErrorAnswerExitsWithOne)
{
    // A monitor stand-in that answers every request with ERROR.
    QTemporaryDir Other;
    const QString OtherPath = Other.filePath("other.socket");
    QLocalServer Fake;
    ASSERT_TRUE(Fake.listen(OtherPath));
    QObject::connect(&Fake, &QLocalServer::newConnection, [&] {
        QLocalSocket* Client = Fake.nextPendingConnection();
        QObject::connect(Client, &QLocalSocket::readyRead, [Client] {
            if (Client->canReadLine()) {
                Client->readLine();
                Client->write("ERROR refused\n");
            }
        });
    });
    const TRun R = Run({"--socket", OtherPath, "all-on"});
    EXPECT_EQ(R.ExitCode, 1);
    EXPECT_TRUE(R.Err.contains("ERROR refused")) << R.Err.constData();
}

TEST_F(OndrixCtlTest, ListenPrintsEachDetectionAndAnswersAfterItsCommand)
{
    const QString Record = Dir.filePath("record.txt");
    QProcess Tool;
    // The command records its argument and the environment, and takes its time, so the
    // answer is seen to wait for it.
    Start(Tool, {"listen", "--exec", "sleep 0.3; echo \"$1 $ONDRIX_NUMBER\" >> '" + Record + "'"});
    ASSERT_TRUE(waitForEvents([&] { return Server.Subscribers().Count() == 1; }, 60000))
        << Tool.readAllStandardError().constData();
    EXPECT_EQ(Server.Subscribers().Subscribers(0)->Name, "ondrixctl");

    const auto RecordedLines = [&] {
        QFile File(Record);
        return File.open(QIODevice::ReadOnly) ? File.readAll().split('\n').size() - 1 : 0;
    };
    int Detections = 0;
    for (int Number : {4, 0, 11}) {
        ++Detections;
        bool Done = false;
        Server.NotifySampleFound(Number, true, [&] { Done = true; });
        ASSERT_TRUE(waitForEvents([&] { return Done; }, 60000)) << Number;
        EXPECT_TRUE(Remote.Texts(msgError).isEmpty());
        // The answer came after the command had finished.
        EXPECT_EQ(RecordedLines(), Detections) << Number;
    }
    QFile File(Record);
    ASSERT_TRUE(File.open(QIODevice::ReadOnly));
    EXPECT_EQ(File.readAll(), QByteArray("5 5\n1 1\n12 12\n"));

    // One line per detection: local time, TAB, the shown number.
    QByteArray Out;
    ASSERT_TRUE(waitForEvents([&] {
        Out += Tool.readAllStandardOutput();
        return Out.count('\n') >= 3;
    }));
    const QList<QByteArray> Lines = Out.trimmed().split('\n');
    ASSERT_EQ(Lines.size(), 3);
    const char* Shown[] = {"5", "1", "12"};
    for (int I = 0; I < 3; ++I) {
        const QList<QByteArray> Fields = Lines[I].split('\t');
        ASSERT_EQ(Fields.size(), 2) << Lines[I].constData();
        EXPECT_TRUE(QDateTime::fromString(QString(Fields[0]), "dd.MM.yyyy hh:mm:ss.zzz").isValid())
            << Fields[0].constData();
        EXPECT_EQ(Fields[1], QByteArray(Shown[I]));
    }

    // The monitor going away ends listening with exit code 1.
    Server.Close();
    ASSERT_TRUE(waitForEvents([&] { return Tool.state() == QProcess::NotRunning; }, 60000));
    EXPECT_EQ(Tool.exitCode(), 1);
}

TEST_F(OndrixCtlTest, ListenDescribesEachDetection)
{
    Remote.Descriptions[4] = "Jingle\tA";
    Remote.Missing = {98};  // gone from the list by the time it is asked for
    const QString Record = Dir.filePath("record.txt");
    QProcess Tool;
    Start(Tool, {"listen", "--describe", "--exec", "echo \"$1|$ONDRIX_DESCRIPTION\" >> '" + Record + "'"});
    ASSERT_TRUE(waitForEvents([&] { return Server.Subscribers().Count() == 1; }, 60000))
        << Tool.readAllStandardError().constData();
    for (int Number : {4, 7, 98}) {
        bool Done = false;
        Server.NotifySampleFound(Number, true, [&] { Done = true; });
        ASSERT_TRUE(waitForEvents([&] { return Done; }, 60000)) << Number;
    }
    QByteArray Out;
    ASSERT_TRUE(waitForEvents([&] {
        Out += Tool.readAllStandardOutput();
        return Out.count('\n') >= 3;
    }));
    QList<QByteArray> Fields;
    for (const QByteArray& Line : Out.split('\n'))
        if (!Line.isEmpty())
            Fields << Line.mid(Line.indexOf('\t') + 1);  // after the time
    EXPECT_EQ(Fields, QList<QByteArray>({"5\tJingle A", "8\tSample 8", "99\t"}));
    QFile File(Record);
    ASSERT_TRUE(File.open(QIODevice::ReadOnly));
    EXPECT_EQ(File.readAll(), QByteArray("5|Jingle A\n8|Sample 8\n99|\n"));
    Server.Close();
    ASSERT_TRUE(waitForEvents([&] { return Tool.state() == QProcess::NotRunning; }, 60000));
    EXPECT_TRUE(Tool.readAllStandardError().contains("no sample No. 99"));
}

TEST_F(OndrixCtlTest, ListenWithWaitFollowsTheMonitorThroughItsRestarts)
{
    Server.Close();
    QProcess Tool;
    Start(Tool, {"listen", "--wait"});
    QByteArray Err;
    const auto Said = [&](const QByteArray& Part, int Times) {
        return waitForEvents([&] {
            Err += Tool.readAllStandardError();
            return Err.count(Part) >= Times;
        }, 60000);
    };
    QByteArray Out;
    const auto Heard = [&](int Lines) {
        return waitForEvents([&] {
            Out += Tool.readAllStandardOutput();
            return Out.count('\n') >= Lines;
        }, 60000);
    };
    // The newest registration's handle: each start of the monitor brings a new one.
    const auto NewestHandle = [&] {
        const int Count = Server.Subscribers().Count();
        return Count ? Server.Subscribers().Subscribers(Count - 1)->Handle : 0;
    };
    qint64 Before = 0;
    for (int Start = 1; Start <= 2; ++Start) {
        SCOPED_TRACE(Start);
        // No monitor yet: the listener says it waits, and keeps waiting.
        ASSERT_TRUE(Said("waiting for a monitor", Start)) << Err.constData();
        EXPECT_EQ(Tool.state(), QProcess::Running);
        ASSERT_TRUE(Server.Listen(Path));
        ASSERT_TRUE(waitForEvents([&] { return NewestHandle() > Before; }, 60000)) << Err.constData();
        Before = NewestHandle();
        bool Done = false;
        Server.NotifySampleFound(Start * 10, true, [&] { Done = true; });
        ASSERT_TRUE(waitForEvents([&] { return Done; }, 60000));
        ASSERT_TRUE(Heard(Start));
        EXPECT_TRUE(Out.trimmed().split('\n').back().endsWith("\t" + QByteArray::number(Start * 10 + 1))) << Out.constData();
        // The monitor goes away (a restart).
        Server.Close();
    }
    EXPECT_TRUE(Said("waiting for a monitor", 3));
    EXPECT_EQ(Tool.state(), QProcess::Running);
    Tool.terminate();
    EXPECT_TRUE(waitForEvents([&] { return Tool.state() == QProcess::NotRunning; }, 60000));
}

// A socket of another user, or one served by another user's program, is refused before a line
// is read from it: a forged detection never runs the listener's command. The tool runs as
// another user against this test's monitor, which is then that other user's.
TEST_F(OndrixCtlTest, AnotherUsersSocketIsRefused)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only the superuser can run a program as another user";
    constexpr uid_t OtherUser = 65534;
    ::chmod(QFile::encodeName(Dir.path()).constData(), 0777);
    const QString Ran = Dir.filePath("ran");
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    Environment.insert("ONDRIX_SOCKET", Path);
    const QStringList AsOther{"--reuid=" + QString::number(OtherUser), "--regid=" + QString::number(OtherUser),
                              "--clear-groups", ONDRIX_BIN_DIR "/ondrixctl"};
    for (const bool FileGivenAway : {false, true}) {
        SCOPED_TRACE(FileGivenAway ? "served by another user" : "another user's socket file");
        if (FileGivenAway) {
            ASSERT_EQ(::chown(QFile::encodeName(Path).constData(), OtherUser, OtherUser), 0);
        }
        QProcess Tool;
        Tool.setProcessEnvironment(Environment);
        Tool.start("/usr/bin/setpriv", AsOther + QStringList{"listen", "--exec", "touch '" + Ran + "'"});
        ASSERT_TRUE(waitForEvents([&] {
            Server.NotifySampleFound(0, false, {});
            return Tool.state() == QProcess::NotRunning;
        }, 60000));
        const QByteArray Err = Tool.readAllStandardError();
        EXPECT_EQ(Tool.exitCode(), 1) << Err.constData();
        EXPECT_TRUE(Err.contains("another user")) << Err.constData();
        EXPECT_FALSE(QFile::exists(Ran));
        EXPECT_EQ(Server.Subscribers().Count(), 0);
    }
}

