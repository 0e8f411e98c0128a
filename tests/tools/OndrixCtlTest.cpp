// ondrixctl against a real socket server of the monitor in this process: the tool runs as a
// child while this thread's event loop serves it.

#include <QDateTime>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "helpers/SocketPeers.h"
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
                             "reload", "listen", "--exec", "--socket", "ONDRIX_SOCKET", "Exit codes"})
        EXPECT_TRUE(R.Out.contains(Word)) << Word;
}

TEST_F(OndrixCtlTest, NoMonitorExitsWithOne)
{
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    Environment.insert("ONDRIX_SOCKET", Dir.filePath("nobody.socket"));
    const TRun R = Run({"version"}, Environment);
    EXPECT_EQ(R.ExitCode, 1);
    EXPECT_TRUE(R.Err.contains("nobody.socket")) << R.Err.constData();
    // --socket wins over the environment.
    EXPECT_EQ(Run({"--socket", Path, "version"}, Environment).ExitCode, 0);
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
        if (FileGivenAway)
            ASSERT_EQ(::chown(QFile::encodeName(Path).constData(), OtherUser, OtherUser), 0);
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

