// ondrixctl: drives a running monitor over its local socket from automation scripts, and
// listens for its detections.

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QProcessEnvironment>

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
    "  listen [--exec COMMAND]\n"
    "                 register for detections and print one line per detection:\n"
    "                   TIME<TAB>N\n"
    "                 TIME is the local time it arrived, \"dd.mm.yyyy hh:nn:ss.zzz\". Each one is\n"
    "                 answered with DONE, after COMMAND has finished when --exec is given.\n"
    "                 COMMAND runs with /bin/sh -c; the sample's number is its $1 and\n"
    "                 ONDRIX_NUMBER. Runs until the monitor goes away.\n"
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
    if (Options.HasExec && Options.Command->Code != ucRegister)
        return Misuse("--exec belongs to listen");
    return true;
}

// The connection to the monitor, read line by line.
class TMonitorConnection {
public:
    explicit TMonitorConnection(QString Path) : FPath(std::move(Path)) {}

    // Connects to the monitor: only to a socket of this user's, served by a process of this
    // user's. Another user could have made the socket first where others can write (/tmp), to
    // hear the commands or send forged detections to a listener that runs a command on each.
    bool Connect()
    {
        if (QFileInfo::exists(FPath))
            if (const QString Refused = CheckOwnSocketFile(FPath); !Refused.isEmpty())
                return Refuse(Refused);
        FSocket.connectToServer(FPath);
        if (!FSocket.waitForConnected(ConnectTimeoutMs)) {
            std::fprintf(stderr, "ondrixctl: no monitor answers on %s: %s\n", qPrintable(FPath),
                         qPrintable(FSocket.errorString()));
            return false;
        }
        if (const QString Refused = CheckPeerIsOwnUser(FSocket.socketDescriptor()); !Refused.isEmpty()) {
            FSocket.abort();
            return Refuse(Refused);
        }
        return true;
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

    // Sends a request and returns the value of its "OK" answer; notifications that arrive
    // meanwhile are kept for Notifications.
    std::optional<QByteArray> Request(const QByteArray& Line)
    {
        if (!Send(Line))
            return std::nullopt;
        for (;;) {
            const std::optional<QByteArray> Answer = ReadLine(AnswerTimeoutMs);
            if (!Answer)
                return std::nullopt;
            if (Answer->startsWith("OK"))
                return Answer->mid(3);
            if (Answer->startsWith("ERROR")) {
                std::fprintf(stderr, "ondrixctl: the monitor answers %s\n", Answer->constData());
                return std::nullopt;
            }
            FEarly << *Answer;
        }
    }

    // The next line from the monitor while listening (kept ones first).
    std::optional<QByteArray> NextLine()
    {
        if (!FEarly.isEmpty())
            return FEarly.takeFirst();
        return ReadLine(-1);
    }

private:
    bool Refuse(const QString& Why)
    {
        std::fprintf(stderr, "ondrixctl: refusing the socket %s: %s\n", qPrintable(FPath), qPrintable(Why));
        return false;
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
    QLocalSocket FSocket;
    QByteArray FIn;
    QList<QByteArray> FEarly;
};

int Listen(TMonitorConnection& Monitor, const TOptions& Options)
{
    const std::optional<QByteArray> Handle = Monitor.Request("WINDOW ondrixctl\tondrixctl listen");
    if (!Handle || !Monitor.Request("USER " + QByteArray::number(ucRegister) + ' ' + *Handle))
        return 1;
    const QByteArray Prefix = "USER " + QByteArray::number(ucSampleFound) + ' ';
    for (;;) {
        const std::optional<QByteArray> Line = Monitor.NextLine();
        if (!Line)
            return 1;
        if (!Line->startsWith(Prefix))
            continue;  // answers to nothing we asked
        bool Ok = false;
        const qint64 Number = Line->mid(Prefix.size()).toLongLong(&Ok);
        if (!Ok)
            continue;
        const QString Shown = QString::number(Number + 1);
        std::printf("%s\t%s\n",
                    qPrintable(QDateTime::currentDateTime().toString("dd.MM.yyyy hh:mm:ss.zzz")),
                    qPrintable(Shown));
        std::fflush(stdout);
        if (Options.HasExec) {
            QProcess Command;
            QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
            Environment.insert("ONDRIX_NUMBER", Shown);
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
        if (!Monitor.Send("DONE"))
            return 1;
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
    TMonitorConnection Monitor(Options.Socket.isEmpty() ? DefaultSocketPath() : Options.Socket);
    if (!Monitor.Connect())
        return 1;
    if (Options.Command->Code == ucRegister)
        return Listen(Monitor, Options);
    const std::optional<QByteArray> Value =
        Monitor.Request("USER " + QByteArray::number(Options.Command->Code) + ' ' + QByteArray::number(Options.Number));
    if (!Value)
        return 1;
    if (Options.Command->Code == ucVersion)
        std::printf("%s\n", Value->constData());
    return 0;
}
