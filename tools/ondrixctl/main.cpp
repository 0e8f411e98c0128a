// ondrixctl: drives a running monitor over its local socket from automation scripts, and
// listens for its detections.

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>

#include <climits>
#include <cstdio>
#include <optional>

#include "messages/Class_OndrixSubscriber.h"
#include "messages/SocketOwner.h"

namespace {

const char* const HelpText =
    "Usage:\n"
    "  ondrixctl [--socket PATH] COMMAND\n"
    "\n"
    "Commands:\n"
    "  version        print the monitor's version number (1523 for version 1.5.2.3)\n"
    "  on N           switch sample N on and rebuild the detection set\n"
    "  off N          switch sample N off and rebuild the detection set\n"
    "  set-on N       switch sample N on without rebuilding\n"
    "  set-off N      switch sample N off without rebuilding\n"
    "  all-on         switch every sample on\n"
    "  all-off        switch every sample off\n"
    "  reload         rebuild the detection set from the current switches (after set-on/set-off)\n"
    "  listen [--describe] [--wait] [--exec COMMAND]\n"
    "                 register for detections and print one line per detection:\n"
    "                   TIME<TAB>N                (with --describe: TIME<TAB>N<TAB>DESCRIPTION)\n"
    "                 TIME is the local time it arrived, \"dd.mm.yyyy hh:nn:ss.zzz\"; DESCRIPTION\n"
    "                 is the sample's description as the monitor has it. Each one is answered\n"
    "                 with DONE, after COMMAND has finished when --exec is given. COMMAND runs\n"
    "                 with /bin/sh -c; the sample's number is its $1 and ONDRIX_NUMBER (with\n"
    "                 --describe the description is ONDRIX_DESCRIPTION). Runs until the monitor\n"
    "                 goes away; with --wait it waits for a monitor to serve the socket, and\n"
    "                 for it again whenever it goes away, and runs until it is stopped.\n"
    "\n"
    "N is the sample's number as the monitor shows it (1, 2, ...).\n"
    "\n"
    "Options:\n"
    "  --socket PATH  the monitor's socket; default: $ONDRIX_SOCKET, else\n"
    "                 $XDG_RUNTIME_DIR/TOndrix.socket, else /tmp/ondrix-<uid>/TOndrix.socket;\n"
    "                 a socket of another user, or served by one, is refused\n"
    "  --help         show this text\n"
    "\n"
    "Exit codes: 0 done; 1 no monitor answers, it answers ERROR, or it went away;\n"
    "2 the command line makes no sense.\n";

constexpr int AnswerTimeoutMs = 30000;
constexpr int ConnectTimeoutMs = 5000;
// How often a waiting listener looks whether a monitor serves the socket.
constexpr int WaitRetryMs = 500;

struct TCommand {
    const char* Name;
    int Code;        // the request's wParam
    bool TakesNumber;
};

const TCommand Commands[] = {
    {"version", ucVersion, false},      {"on", ucEnableReload, true},
    {"off", ucDisableReload, true},     {"set-on", ucEnable, true},
    {"set-off", ucDisable, true},       {"all-on", ucEnableAll, false},
    {"all-off", ucDisableAll, false},   {"reload", ucReload, false},
    {"listen", ucRegister, false},
};

struct TOptions {
    QString Socket;
    const TCommand* Command = nullptr;
    int Number = 0;  // 0-based, as the monitor stores it
    QString Exec;
    bool HasExec = false;
    bool Describe = false;
    bool Wait = false;
    bool Help = false;
};

bool Misuse(const QString& Text)
{
    std::fprintf(stderr, "ondrixctl: %s\nTry 'ondrixctl --help'.\n", qPrintable(Text));
    return false;
}

bool ParseArguments(const QStringList& Args, TOptions& Options)
{
    QStringList Words;
    for (qsizetype I = 0; I < Args.size(); ++I) {
        const QString& Arg = Args[I];
        const auto Value = [&](QString& Target, bool& Given) {
            const QString Name = Arg.section('=', 0, 0);
            if (Arg.contains('=')) {
                Target = Arg.section('=', 1);
            } else if (I + 1 < Args.size()) {
                Target = Args[++I];
            } else {
                return Misuse(Name + " needs a value");
            }
            if (Given)
                return Misuse(Name + " is given twice");
            Given = true;
            return true;
        };
        if (Arg == "--help" || Arg == "-h") {
            Options.Help = true;
        } else if (Arg == "--socket" || Arg.startsWith("--socket=")) {
            bool Given = !Options.Socket.isEmpty();
            if (!Value(Options.Socket, Given))
                return false;
            if (Options.Socket.isEmpty())
                return Misuse("--socket needs a path");
        } else if (Arg == "--exec" || Arg.startsWith("--exec=")) {
            if (!Value(Options.Exec, Options.HasExec))
                return false;
        } else if (Arg == "--describe") {
            Options.Describe = true;
        } else if (Arg == "--wait") {
            Options.Wait = true;
        } else if (Arg.startsWith("-") && Arg.size() > 1 && !Arg.at(1).isDigit()) {
            return Misuse("unknown option " + Arg);
        } else {
            Words << Arg;
        }
    }
    if (Options.Help)
        return true;
    if (Words.isEmpty())
        return Misuse("no command given");
    for (const TCommand& C : Commands)
        if (Words.front() == C.Name)
            Options.Command = &C;
    if (!Options.Command)
        return Misuse("unknown command " + Words.front());
    const qsizetype Wanted = Options.Command->TakesNumber ? 2 : 1;
    if (Words.size() < Wanted)
        return Misuse(Words.front() + " needs the sample's number");
    if (Words.size() > Wanted)
        return Misuse("unexpected " + Words[Wanted]);
    if (Options.Command->TakesNumber) {
        bool Ok = false;
        const qint64 Shown = Words[1].toLongLong(&Ok);
        if (!Ok || Shown < 1 || Shown > INT_MAX || !Words[1].at(0).isDigit())
            return Misuse("the sample's number must be 1 or more, not " + Words[1]);
        Options.Number = int(Shown - 1);
    }
    if (Options.Command->Code != ucRegister) {
        if (Options.HasExec)
            return Misuse("--exec belongs to listen");
        if (Options.Describe)
            return Misuse("--describe belongs to listen");
        if (Options.Wait)
            return Misuse("--wait belongs to listen");
    }
    return true;
}

// Where the socket's path came from, for the messages that name it.
enum class TSocketOrigin { Option, Environment, Default };

// The connection to the monitor, read line by line.
class TMonitorConnection {
public:
    TMonitorConnection(QString Path, TSocketOrigin Origin) : FPath(std::move(Path)), FOrigin(Origin) {}

    // Connects once; says why on standard error when no monitor serves the socket or it is
    // refused.
    bool Connect()
    {
        bool NoMonitor = false;
        const QString Why = TryConnect(NoMonitor);
        if (Why.isEmpty())
            return true;
        std::fprintf(stderr, "ondrixctl: %s\n", qPrintable(Why));
        if (NoMonitor && FOrigin == TSocketOrigin::Default)
            std::fprintf(stderr, "ondrixctl: a monitor started with ONDRIX_SOCKET serves another socket: "
                                 "name it with --socket or ONDRIX_SOCKET\n");
        return false;
    }

    // Connects as soon as a monitor serves the socket, trying again every WaitRetryMs; says
    // once on standard error that it waits, and when the monitor is there.
    void ConnectWhenServed()
    {
        bool NoMonitor = false;
        QString Why = TryConnect(NoMonitor);
        if (Why.isEmpty())
            return;
        // Each new reason is said once (a refused socket that goes away, then none at all).
        QString Said;
        do {
            if (Why != Said)
                std::fprintf(stderr, "ondrixctl: %s; waiting for a monitor\n", qPrintable(Why));
            Said = Why;
            QThread::msleep(WaitRetryMs);
            Why = TryConnect(NoMonitor);
        } while (!Why.isEmpty());
        std::fprintf(stderr, "ondrixctl: connected to the monitor at %s\n", qPrintable(FPath));
    }

    bool Send(const QByteArray& Line)
    {
        FSocket.write(Line + '\n');
        while (FSocket.bytesToWrite() > 0)
            if (!FSocket.waitForBytesWritten(AnswerTimeoutMs))
                return Lost();
        return true;
    }

    // The next line; nothing when the monitor went away (or, with a time-out, said nothing).
    std::optional<QByteArray> ReadLine(int TimeoutMs)
    {
        for (;;) {
            const qsizetype End = FIn.indexOf('\n');
            if (End >= 0) {
                QByteArray Line = FIn.left(End);
                FIn.remove(0, End + 1);
                if (Line.endsWith('\r'))
                    Line.chop(1);
                return Line;
            }
            if (FSocket.bytesAvailable() == 0 && !FSocket.waitForReadyRead(TimeoutMs)) {
                Lost();
                return std::nullopt;
            }
            FIn += FSocket.readAll();
        }
    }

    // The answer to a request: Ok and the value of "OK", or not Ok and the reason of "ERROR".
    struct TAnswer {
        bool Ok = false;
        QByteArray Text;
    };

    // Sends a request and returns its answer; nothing when the monitor went away.
    // Notifications that arrive meanwhile are kept for NextLine.
    std::optional<TAnswer> Ask(const QByteArray& Line)
    {
        if (!Send(Line))
            return std::nullopt;
        for (;;) {
            const std::optional<QByteArray> Answer = ReadLine(AnswerTimeoutMs);
            if (!Answer)
                return std::nullopt;
            if (Answer->startsWith("OK"))
                return TAnswer{true, Answer->mid(3)};
            if (Answer->startsWith("ERROR"))
                return TAnswer{false, Answer->mid(6)};
            FEarly << *Answer;
        }
    }

    // Ask, for a request that must succeed: the value of its "OK" answer; an "ERROR" is said
    // on standard error, with the monitor's reason, and gives nothing.
    std::optional<QByteArray> Request(const QByteArray& Line)
    {
        const std::optional<TAnswer> Answer = Ask(Line);
        if (!Answer)
            return std::nullopt;
        if (!Answer->Ok) {
            std::fprintf(stderr, "ondrixctl: the monitor answers ERROR %s\n", Answer->Text.constData());
            return std::nullopt;
        }
        return Answer->Text;
    }

    // The next line from the monitor while listening (kept ones first).
    std::optional<QByteArray> NextLine()
    {
        if (!FEarly.isEmpty())
            return FEarly.takeFirst();
        return ReadLine(-1);
    }

private:
    // A fresh connection, with nothing left over from an earlier one: only to a socket of this
    // user's, served by a process of this user's. Another user could have made the socket first
    // where others can write (/tmp), to hear the commands or send forged detections to a
    // listener that runs a command on each. Empty when connected, else why not; NoMonitor
    // tells a socket nobody serves from one that is refused.
    QString TryConnect(bool& NoMonitor)
    {
        FSocket.abort();
        FIn.clear();
        FEarly.clear();
        NoMonitor = false;
        if (QFileInfo::exists(FPath))
            if (const QString Refused = CheckOwnSocketFile(FPath); !Refused.isEmpty())
                return Refusal(Refused);
        FSocket.connectToServer(FPath);
        if (!FSocket.waitForConnected(ConnectTimeoutMs)) {
            NoMonitor = true;
            return WhyNotConnected();
        }
        if (const QString Refused = CheckPeerIsOwnUser(FSocket.socketDescriptor()); !Refused.isEmpty()) {
            FSocket.abort();
            return Refusal(Refused);
        }
        return {};
    }

    QString Refusal(const QString& Why) const { return QString("refusing the socket %1: %2").arg(FPath, Why); }

    // Why the last attempt failed, in the terms of the one who runs it (Qt's own texts say
    // "Invalid name" for a socket that is not there), naming the path and where it came from.
    QString WhyNotConnected() const
    {
        const QString Path = FPath + (FOrigin == TSocketOrigin::Option        ? " (from --socket)"
                                      : FOrigin == TSocketOrigin::Environment ? " (from ONDRIX_SOCKET)"
                                                                              : " (the default socket)");
        switch (FSocket.error()) {
        case QLocalSocket::ServerNotFoundError:
            return QString("no monitor serves %1: there is no socket there").arg(Path);
        case QLocalSocket::ConnectionRefusedError:
            return QString("no monitor serves %1: nothing accepts connections there (a monitor that "
                           "ended, or not a socket)").arg(Path);
        case QLocalSocket::SocketAccessError:
            return QString("cannot connect to %1: permission denied (a monitor of another user?)").arg(Path);
        case QLocalSocket::SocketTimeoutError:
            return QString("the monitor at %1 does not answer").arg(Path);
        default:
            return QString("cannot connect to %1: %2").arg(Path, FSocket.errorString());
        }
    }

    bool Lost()
    {
        if (FSocket.state() != QLocalSocket::ConnectedState)
            std::fprintf(stderr, "ondrixctl: the monitor at %s closed the connection\n", qPrintable(FPath));
        else
            std::fprintf(stderr, "ondrixctl: the monitor at %s does not answer\n", qPrintable(FPath));
        return false;
    }

    QString FPath;
    TSocketOrigin FOrigin;
    QLocalSocket FSocket;
    QByteArray FIn;
    QList<QByteArray> FEarly;
};

// Runs COMMAND of --exec for one detection and waits for it; its failure is only said.
void RunDetectionCommand(const TOptions& Options, const QString& Shown, const std::optional<QString>& Description)
{
    QProcess Command;
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    Environment.insert("ONDRIX_NUMBER", Shown);
    if (Description)
        Environment.insert("ONDRIX_DESCRIPTION", *Description);
    Command.setProcessEnvironment(Environment);
    Command.setProcessChannelMode(QProcess::ForwardedChannels);
    Command.setInputChannelMode(QProcess::ForwardedInputChannel);
    Command.start("/bin/sh", {"-c", Options.Exec, "ondrixctl", Shown});
    if (!Command.waitForStarted(-1))
        std::fprintf(stderr, "ondrixctl: cannot run the command: %s\n", qPrintable(Command.errorString()));
    else if (!Command.waitForFinished(-1) || Command.exitStatus() != QProcess::NormalExit
             || Command.exitCode() != 0)
        std::fprintf(stderr, "ondrixctl: the command for sample %s failed (exit code %d)\n",
                     qPrintable(Shown), Command.exitCode());
}

// The description of the sample with this stored number, asked of the monitor; an empty one
// when the monitor cannot tell (the sample is gone, or a monitor that does not know the
// request). Nothing when the monitor went away.
std::optional<QString> AskDescription(TMonitorConnection& Monitor, qint64 Number)
{
    const std::optional<TMonitorConnection::TAnswer> Answer = Monitor.Ask("SAMPLE " + QByteArray::number(Number));
    if (!Answer)
        return std::nullopt;
    if (!Answer->Ok) {
        std::fprintf(stderr, "ondrixctl: no description of sample %lld: %s\n", Number + 1, Answer->Text.constData());
        return QString();
    }
    return QString::fromUtf8(Answer->Text);
}

// Registers on a connected monitor and handles its detections until it goes away (or
// refuses the registration).
void ListenToMonitor(TMonitorConnection& Monitor, const TOptions& Options)
{
    const std::optional<QByteArray> Handle = Monitor.Request("WINDOW ondrixctl\tondrixctl listen");
    if (!Handle || !Monitor.Request("USER " + QByteArray::number(ucRegister) + ' ' + *Handle))
        return;
    const QByteArray Prefix = "USER " + QByteArray::number(ucSampleFound) + ' ';
    for (;;) {
        const std::optional<QByteArray> Line = Monitor.NextLine();
        if (!Line)
            return;
        if (!Line->startsWith(Prefix))
            continue;  // answers to nothing we asked
        bool Ok = false;
        const qint64 Number = Line->mid(Prefix.size()).toLongLong(&Ok);
        if (!Ok)
            continue;
        const QString Time = QDateTime::currentDateTime().toString("dd.MM.yyyy hh:mm:ss.zzz");
        const QString Shown = QString::number(Number + 1);
        std::optional<QString> Description;
        if (Options.Describe) {
            Description = AskDescription(Monitor, Number);
            if (!Description)
                return;
            std::printf("%s\t%s\t%s\n", qPrintable(Time), qPrintable(Shown), Description->toUtf8().constData());
        } else {
            std::printf("%s\t%s\n", qPrintable(Time), qPrintable(Shown));
        }
        std::fflush(stdout);
        if (Options.HasExec)
            RunDetectionCommand(Options, Shown, Description);
        if (!Monitor.Send("DONE"))
            return;
    }
}

// listen: until the monitor goes away (exit code 1), or with --wait for ever, through every
// restart of the monitor.
int Listen(TMonitorConnection& Monitor, const TOptions& Options)
{
    if (!Options.Wait) {
        if (Monitor.Connect())
            ListenToMonitor(Monitor, Options);
        return 1;
    }
    for (;;) {
        Monitor.ConnectWhenServed();
        ListenToMonitor(Monitor, Options);
        // A monitor that refuses at once is not asked again in a tight loop.
        QThread::msleep(WaitRetryMs);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication App(argc, argv);
    TOptions Options;
    if (!ParseArguments(App.arguments().mid(1), Options))
        return 2;
    if (Options.Help) {
        std::fputs(HelpText, stdout);
        return 0;
    }
    const TSocketOrigin Origin = !Options.Socket.isEmpty()                        ? TSocketOrigin::Option
                                 : !qEnvironmentVariable("ONDRIX_SOCKET").isEmpty() ? TSocketOrigin::Environment
                                                                                    : TSocketOrigin::Default;
    TMonitorConnection Monitor(Options.Socket.isEmpty() ? DefaultSocketPath() : Options.Socket, Origin);
    if (Options.Command->Code == ucRegister)
        return Listen(Monitor, Options);
    if (!Monitor.Connect())
        return 1;
    const std::optional<QByteArray> Value =
        Monitor.Request("USER " + QByteArray::number(Options.Command->Code) + ' ' + QByteArray::number(Options.Number));
    if (!Value)
        return 1;
    if (Options.Command->Code == ucVersion)
        std::printf("%s\n", Value->constData());
    return 0;
}
