#include "messages/Class_OndrixSubscriber.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <QVariantList>

#include <cerrno>
#include <limits>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "lang/Lang.h"
#include "messages/SocketOwner.h"
#include "util/KeyValueText.h"

namespace {

// Bytes a connection may have waiting to be sent before it counts as a program that does not
// read: it is closed rather than let the monitor's memory grow.
constexpr qint64 MaxPendingWrite = 64 * 1024;
// Bytes read ahead from one connection; beyond this the kernel holds the rest back.
constexpr qint64 MaxPendingRead = 64 * 1024;
// Requests of one connection handled in one turn of the event loop, so that a flood from one
// program leaves room for audio buffers and other connections in between.
constexpr int LinesPerTurn = 64;
// Connections open at once; more are refused.
constexpr int MaxConnections = 256;
// Answers awaited from one connection that are remembered; older given-up ones are forgotten.
constexpr int MaxAwaited = 1024;

// A whole decimal number (optional minus sign) filling Text, or nothing.
bool ParseNumber(const QByteArray& Text, qint64& Value)
{
    const qsizetype Start = Text.startsWith('-') ? 1 : 0;
    if (Text.size() == Start)
        return false;
    for (qsizetype I = Start; I < Text.size(); ++I)
        if (Text[I] < '0' || Text[I] > '9')
            return false;
    bool Ok = false;
    Value = Text.toLongLong(&Ok, 10);
    return Ok;
}

// The number the operator sees for a stored Number.
qint64 ShownNumber(qint64 Number)
{
    return Number < std::numeric_limits<qint64>::max() ? Number + 1 : Number;
}

// The reason of an "ERROR" answer to a request for a sample the list does not hold.
QByteArray NoSampleReason(qint64 Number)
{
    return "no sample No. " + QByteArray::number(ShownNumber(Number));
}

}  // namespace

// One open connection: a window of an external program.
struct TOndrixSocketServer::TConnection {
    qint64 Handle = 0;
    QLocalSocket* Socket = nullptr;
    QString ClassName;   // as described by "WINDOW"
    QString Title;
    QByteArray In;       // received bytes not yet handled
    bool Busy = false;   // a request of this connection is being handled
    bool Closed = false; // dropped while busy; freed when the handling returns
    bool Scheduled = false;  // a later turn is queued to handle the remaining lines
    bool SentLine = false;   // a whole line has come
    // Notifications sent to this connection whose "DONE" has not come yet, oldest first; a
    // null entry stands for one that is not waited for (or was given up).
    QList<std::shared_ptr<TNotification>> Awaited;
};

// One waited-for notification: who has still to answer, and what to do when all have.
struct TOndrixSocketServer::TNotification {
    int Number = 0;
    QList<qint64> Outstanding;  // handles that have not answered
    QHash<qint64, QString> Names;  // DisplayName of each notified subscriber
    std::function<void()> OnDone;
    std::function<void(const QString&)> OnTimedOut;
    bool Finished = false;
};

int VersionNumber(const QString& VersionText)
{
    if (VersionText.isEmpty())
        return 1500;
    const auto Digit = [&](int Position) {
        const int Index = Position - 1;
        if (Index >= VersionText.size())
            return 0;
        const QChar C = VersionText.at(Index);
        return C >= u'0' && C <= u'9' ? C.unicode() - u'0' : 0;
    };
    return 1000 * Digit(1) + 100 * Digit(3) + 10 * Digit(5) + Digit(7);
}

QString DefaultSocketPath()
{
    const QString Env = qEnvironmentVariable("ONDRIX_SOCKET");
    if (!Env.isEmpty())
        return Env;
    const QString Runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!Runtime.isEmpty())
        return Runtime + "/TOndrix.socket";
    return FallbackSocketFolder() + "/TOndrix.socket";
}

QString TOndrixSubscriber::DisplayName() const
{
    return Title + " / " + Name + " / " + QString::number(Handle);
}

void TOndrixSubscriberList::AddSubscriber(TOndrixSubscriber* S)
{
    TLockGuard Guard(*this);
    for (int I = Count() - 1; I >= 0; --I)
        if (Subscribers(I)->Handle == S->Handle)
            Delete(I);
    Add(S);
}

bool TOndrixSubscriberList::Contains(qint64 Handle)
{
    TLockGuard Guard(*this);
    for (int I = 0; I < Count(); ++I)
        if (Subscribers(I)->Handle == Handle)
            return true;
    return false;
}

void TOndrixSubscriberList::RemoveHandle(qint64 Handle)
{
    TLockGuard Guard(*this);
    for (int I = Count() - 1; I >= 0; --I)
        if (Subscribers(I)->Handle == Handle)
            Delete(I);
}

TOndrixSocketServer::TOndrixSocketServer(IOndrixRemoteControl& Host, QObject* Parent)
    : QObject(Parent), FHost(Host)
{
}

TOndrixSocketServer::~TOndrixSocketServer()
{
    Close();
}

// ---------------------------------------------------------------------------------------------
// Serving the socket

bool TOndrixSocketServer::Listen(const QString& Path)
{
    Close();
    FPath = Path.isEmpty() ? DefaultSocketPath() : Path;
    const auto Fail = [&](const QString& Reason) {
        FHost.AddMessage(msgError, FormatMessageText("SocketError", {FPath, Reason}));
        if (FLockFd >= 0) {
            ::close(FLockFd);
            FLockFd = -1;
        }
        return false;
    };
    const auto InUse = [&] {
        FHost.AddMessage(msgError, FormatMessageText("SocketInUse", {FPath}));
        if (FLockFd >= 0) {
            ::close(FLockFd);
            FLockFd = -1;
        }
        return false;
    };

    // Without a runtime folder the socket lies in /tmp, in a folder of this user's own that
    // nobody else can put a socket of theirs into.
    if (QFileInfo(FPath).absolutePath() == FallbackSocketFolder())
        if (const QString Refused = PrepareOwnFolder(FallbackSocketFolder()); !Refused.isEmpty())
            return Fail(Refused);

    // The lock beside the socket says whether another monitor serves it: the kernel releases
    // it when that monitor ends, however it ends, so a socket file left by a crash is known
    // to be stale and two monitors starting together cannot both take the path.
    const QByteArray LockName = QFile::encodeName(FPath + ".lock");
    FLockFd = ::open(LockName.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (FLockFd < 0)
        return Fail(QString::fromLocal8Bit(std::strerror(errno)));
    // A lock another user made could be held by that user against this monitor.
    struct stat LockSt {};
    if (::fstat(FLockFd, &LockSt) != 0 || LockSt.st_uid != getuid())
        return Fail(QString("%1 belongs to another user").arg(FPath + ".lock"));
    if (::flock(FLockFd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            return InUse();
        return Fail(QString::fromLocal8Bit(std::strerror(errno)));
    }

    struct stat St {};
    const QByteArray SocketName = QFile::encodeName(FPath);
    if (::lstat(SocketName.constData(), &St) == 0) {
        // Another user's socket at the path is never connected to nor taken over.
        if (const QString Refused = CheckOwnSocketFile(FPath); !Refused.isEmpty())
            return Fail(Refused);
        // A program that serves the path without our lock still owns it.
        QLocalSocket Probe;
        Probe.connectToServer(FPath);
        if (Probe.waitForConnected(1000)) {
            Probe.abort();
            return InUse();
        }
        if (!QLocalServer::removeServer(FPath))
            return Fail(QString::fromLocal8Bit(std::strerror(errno)));
    }

    FServer = new QLocalServer(this);
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    FServer->setMaxPendingConnections(MaxConnections);
    if (!FServer->listen(FPath)) {
        const QString Reason = FServer->errorString();
        delete FServer;
        FServer = nullptr;
        return Fail(Reason);
    }
    // Owner-only, whatever the umask and the library did.
    ::chmod(SocketName.constData(), 0600);
    connect(FServer, &QLocalServer::newConnection, this, &TOndrixSocketServer::AcceptConnections);
    return true;
}

void TOndrixSocketServer::Close()
{
    // Waits still running end without their callbacks: the monitor is going away.
    ++FGeneration;
    for (const std::shared_ptr<TNotification>& N : std::as_const(FNotifications))
        N->Finished = true;
    FNotifications.clear();
    const QList<TConnection*> Open = FConnections.values();
    for (TConnection* C : Open)
        DropConnection(C);
    if (FServer) {
        FServer->close();  // removes the socket file
        delete FServer;
        FServer = nullptr;
    }
    if (FLockFd >= 0) {
        ::close(FLockFd);
        FLockFd = -1;
    }
}

bool TOndrixSocketServer::IsListening() const
{
    return FServer && FServer->isListening();
}

int TOndrixSocketServer::ConnectionCount() const
{
    return int(FConnections.size());
}

void TOndrixSocketServer::AcceptConnections()
{
    while (FServer && FServer->hasPendingConnections()) {
        QLocalSocket* Socket = FServer->nextPendingConnection();
        // Only this user's programs may command the monitor or hear of its detections.
        if (FConnections.size() >= MaxConnections || !CheckPeerIsOwnUser(Socket->socketDescriptor()).isEmpty()) {
            Socket->abort();
            Socket->deleteLater();
            continue;
        }
        Socket->setParent(this);  // the connection outlives a closed listener until dropped
        auto* C = new TConnection;
        C->Handle = FNextHandle++;
        C->Socket = Socket;
        Socket->setReadBufferSize(MaxPendingRead);
        FConnections.insert(C->Handle, C);
        const qint64 Handle = C->Handle;
        connect(Socket, &QLocalSocket::readyRead, this, [this, Handle] {
            if (TConnection* Found = FindConnection(Handle))
                ReadConnection(Found);
        });
        // A program that went away shows as the end of the connection or, when the monitor
        // was writing to it, as a write error. Either is handled from the event loop, never
        // inside the write that found it.
        const auto Drop = [this, Handle] {
            if (TConnection* Found = FindConnection(Handle))
                DropConnection(Found);
        };
        connect(Socket, &QLocalSocket::disconnected, this, Drop, Qt::QueuedConnection);
        connect(Socket, &QLocalSocket::errorOccurred, this, Drop, Qt::QueuedConnection);
        // A connection that says nothing only takes up a place.
        QTimer::singleShot(FirstLineTimeout, this, [this, Handle] {
            if (TConnection* Found = FindConnection(Handle); Found && !Found->SentLine)
                DropConnection(Found);
        });
        // Lines that came with the connection itself.
        if (Socket->bytesAvailable() > 0)
            ReadConnection(C);
    }
}

TOndrixSocketServer::TConnection* TOndrixSocketServer::FindConnection(qint64 Handle) const
{
    TConnection* C = FConnections.value(Handle, nullptr);
    return C && !C->Closed ? C : nullptr;
}

void TOndrixSocketServer::DropConnection(TConnection* C)
{
    if (C->Closed)
        return;
    C->Closed = true;
    FConnections.remove(C->Handle);
    // A window that closed hears nothing more: it is no longer a subscriber.
    FSubscribers.RemoveHandle(C->Handle);
    if (C->Socket) {
        C->Socket->disconnect(this);
        C->Socket->abort();
        C->Socket->deleteLater();
        C->Socket = nullptr;
    }
    // A closed window answers nothing more: its outstanding notifications stop waiting for it.
    const QList<std::shared_ptr<TNotification>> Awaited = C->Awaited;
    C->Awaited.clear();
    for (const std::shared_ptr<TNotification>& N : Awaited)
        if (N && N->Outstanding.removeOne(C->Handle) && N->Outstanding.isEmpty())
            FinishNotification(N.get());
    if (!C->Busy)
        delete C;
}

// ---------------------------------------------------------------------------------------------
// Requests

void TOndrixSocketServer::ReadConnection(TConnection* C)
{
    if (C->Busy)
        return;  // the handling further up the stack picks the new lines up
    C->Busy = true;
    int Handled = 0;
    while (!C->Closed) {
        if (C->In.size() < MaxPendingRead && C->Socket->bytesAvailable() > 0)
            C->In += C->Socket->read(MaxPendingRead - C->In.size());
        const qsizetype End = C->In.indexOf('\n');
        if (End < 0) {
            // No complete line: one that can no longer fit the limit ends the connection.
            if (C->In.size() > MaxLineLength + 1)  // + a CR that would be dropped
                DropConnection(C);
            break;
        }
        QByteArray Line = C->In.left(End);
        C->In.remove(0, End + 1);
        C->SentLine = true;
        if (Line.endsWith('\r'))
            Line.chop(1);
        if (Line.size() > MaxLineLength) {
            DropConnection(C);
            break;
        }
        HandleLine(C, Line);
        if (++Handled >= LinesPerTurn) {
            if (!C->Closed && !C->Scheduled) {
                C->Scheduled = true;
                const qint64 Handle = C->Handle;
                QTimer::singleShot(0, this, [this, Handle] {
                    if (TConnection* Found = FindConnection(Handle)) {
                        Found->Scheduled = false;
                        ReadConnection(Found);
                    }
                });
            }
            break;
        }
    }
    C->Busy = false;
    if (C->Closed)
        delete C;
}

void TOndrixSocketServer::HandleLine(TConnection* C, const QByteArray& Line)
{
    const qsizetype Space = Line.indexOf(' ');
    const QByteArray Verb = Space < 0 ? Line : Line.left(Space);
    const QByteArray Rest = Space < 0 ? QByteArray() : Line.mid(Space + 1);

    if (Verb == "DONE") {
        AnswerReceived(C);
        return;
    }
    if (Verb == "WINDOW") {
        const qsizetype Tab = Rest.indexOf('\t');
        const QByteArray ClassName = Tab < 0 ? Rest : Rest.left(Tab);
        if (ClassName.isEmpty()) {
            Answer(C, "ERROR WINDOW needs a class name");
            return;
        }
        C->ClassName = QString::fromUtf8(ClassName);
        C->Title = Tab < 0 ? QString() : QString::fromUtf8(Rest.mid(Tab + 1));
        Answer(C, "OK " + QByteArray::number(C->Handle));
        return;
    }
    if (Verb == "COPYDATA") {
        const QList<QByteArray> Parts = Rest.split(' ');
        qint64 WParam = 0;
        qint64 DwData = 0;
        if (Parts.size() < 2 || !ParseNumber(Parts[0], WParam) || !ParseNumber(Parts[1], DwData)) {
            Answer(C, "ERROR COPYDATA needs <wParam> <dwData> <text>");
            return;
        }
        if (WParam == 0 && DwData == CopyDataRegister) {
            const QByteArray Text = Rest.mid(Parts[0].size() + 1 + Parts[1].size() + 1);
            AddByName(QString::fromUtf8(Text));
        }
        if (FindConnection(C->Handle))
            Answer(C, "OK 0");
        return;
    }
    if (Verb == "USER") {
        const QList<QByteArray> Parts = Rest.split(' ');
        qint64 WParam = 0;
        qint64 LParam = 0;
        if (Parts.size() != 2 || !ParseNumber(Parts[0], WParam) || !ParseNumber(Parts[1], LParam)) {
            Answer(C, "ERROR USER needs <wParam> <lParam>");
            return;
        }
        const qint64 Handle = C->Handle;
        const bool IsNumber = LParam >= INT_MIN && LParam <= INT_MAX;
        qint64 Result = 0;
        bool SampleExists = true;
        switch (WParam) {
        case ucRegister:
            if (!AddByHandle(LParam)) {
                Answer(C, "ERROR no open connection has the handle " + QByteArray::number(LParam));
                return;
            }
            break;
        case ucVersion:
            Result = VersionNumber(FHost.RemoteVersionText());
            break;
        case ucEnableReload:
        case ucDisableReload:
        case ucEnable:
        case ucDisable:
            SampleExists = IsNumber
                && FHost.RemoteSetSampleEnabled(int(LParam), WParam == ucEnableReload || WParam == ucEnable,
                                                WParam == ucEnableReload || WParam == ucDisableReload);
            break;
        case ucEnableAll:
            FHost.RemoteEnableAll();
            break;
        case ucDisableAll:
            FHost.RemoteDisableAll();
            break;
        case ucReload:
            FHost.RemoteReloadEngine();
            break;
        default:
            break;  // other codes are ignored
        }
        if (!SampleExists) {
            RefuseMissingSample(Handle, LParam);
            return;
        }
        // The connection may have gone while the monitor did the work.
        if (TConnection* Still = FindConnection(Handle))
            Answer(Still, "OK " + QByteArray::number(Result));
        return;
    }
    if (Verb == "SAMPLE") {
        qint64 Number = 0;
        if (!ParseNumber(Rest, Number)) {
            Answer(C, "ERROR SAMPLE needs <Number>");
            return;
        }
        const std::optional<QString> Description =
            Number >= INT_MIN && Number <= INT_MAX ? FHost.RemoteSampleDescription(int(Number)) : std::nullopt;
        if (!Description) {
            Answer(C, "ERROR " + NoSampleReason(Number));
            return;
        }
        // An answer is one line whatever the description holds.
        Answer(C, "OK " + OneField(*Description).toUtf8());
        return;
    }
    Answer(C, Line.isEmpty() ? QByteArray("ERROR empty line") : QByteArray("ERROR unknown request"));
}

void TOndrixSocketServer::RefuseMissingSample(qint64 Handle, qint64 Number)
{
    // Automation that switches a sample the list does not hold is misconfigured: the operator
    // sees it, and the program is told so instead of a silent "OK".
    FHost.AddMessage(msgError, FormatMessageText("RemoteNoSample", {ShownNumber(Number)}));
    if (TConnection* Still = FindConnection(Handle))
        Answer(Still, "ERROR " + NoSampleReason(Number));
}

void TOndrixSocketServer::AddByName(const QString& ClassName)
{
    auto S = std::make_unique<TOndrixSubscriber>();
    S->Name = ClassName;
    // The window that receives notifications: the first open connection that described
    // itself with that class name.
    TConnection* Found = nullptr;
    for (TConnection* Other : std::as_const(FConnections))
        if (!Other->Closed && Other->ClassName == ClassName && (!Found || Other->Handle < Found->Handle))
            Found = Other;
    S->Handle = Found ? Found->Handle : 0;
    Register(std::move(S));
}

bool TOndrixSocketServer::AddByHandle(qint64 Handle)
{
    if (!FindConnection(Handle))
        return false;
    auto S = std::make_unique<TOndrixSubscriber>();
    S->Handle = Handle;
    Register(std::move(S));
    return true;
}

void TOndrixSocketServer::Register(std::unique_ptr<TOndrixSubscriber> S)
{
    if (FSubscribers.Contains(S->Handle))
        return;
    // Describe: the owner window stands for the connection's own description.
    if (S->Handle != 0) {
        if (TConnection* Owner = FindConnection(S->Handle)) {
            S->Name = Owner->ClassName;
            S->Title = Owner->Title;
        } else {
            S->Name.clear();
            S->Title.clear();
        }
    } else {
        S->Name.clear();
        S->Title.clear();
    }
    FHost.AddMessage(msgInfo, FormatMessageText("AddSubscriber", {S->DisplayName()}));
    FSubscribers.AddSubscriber(S.release());
}

void TOndrixSocketServer::Answer(TConnection* C, const QByteArray& Line)
{
    SendLine(C, Line);
}

bool TOndrixSocketServer::SendLine(TConnection* C, const QByteArray& Line)
{
    if (C->Closed || !C->Socket)
        return false;
    if (C->Socket->bytesToWrite() + Line.size() + 1 > MaxPendingWrite) {
        // The program does not read what it is sent: it is treated as a closed window.
        DropConnection(C);
        return false;
    }
    C->Socket->write(Line + '\n');
    C->Socket->flush();  // writes what the kernel takes now, never waits
    return true;
}

// ---------------------------------------------------------------------------------------------
// Notifications

void TOndrixSocketServer::NotifySampleFound(int Number, bool Wait, std::function<void()> OnDone,
                                            std::function<void(const QString&)> OnTimedOut)
{
    std::shared_ptr<TNotification> N;
    if (Wait) {
        N = std::make_shared<TNotification>();
        N->Number = Number;
        N->OnDone = std::move(OnDone);
        N->OnTimedOut = std::move(OnTimedOut);
    }
    const QByteArray Line = "USER " + QByteArray::number(ucSampleFound) + ' ' + QByteArray::number(Number);
    // Who is told, taken first: a send that finds a program gone drops its connection, and
    // with it its entry of the list.
    struct TTold {
        qint64 Handle;
        QString Title;
        QString Name;
    };
    QList<TTold> Told;
    {
        TKvSynchObjectList::TLockGuard Guard(FSubscribers);
        for (int I = 0; I < FSubscribers.Count(); ++I) {
            const TOndrixSubscriber* S = FSubscribers.Subscribers(I);
            if (S->Handle != 0)
                Told.append({S->Handle, S->Title, S->DisplayName()});
        }
    }
    for (const TTold& S : std::as_const(Told)) {
        if (TConnection* C = FindConnection(S.Handle); C && SendLine(C, Line)) {
            if (N && !N->Outstanding.contains(C->Handle)) {
                N->Outstanding.append(C->Handle);
                N->Names.insert(C->Handle, S.Name);
                C->Awaited.append(N);
            } else {
                C->Awaited.append(nullptr);
            }
            // A program that never answers must not make the list grow without end: the
            // oldest entry (long given up) is forgotten.
            if (C->Awaited.size() > MaxAwaited) {
                const std::shared_ptr<TNotification> Old = C->Awaited.takeFirst();
                if (Old && Old->Outstanding.removeOne(C->Handle) && Old->Outstanding.isEmpty())
                    FinishNotification(Old.get());
            }
        }
        FHost.AddMessage(msgCommand, FormatMessageText("CommandSent", {qint64(Number) + 1, S.Title}));
    }
    if (!N) {
        if (OnDone)
            OnDone();
        return;
    }
    if (N->Outstanding.isEmpty()) {
        if (N->OnDone)
            N->OnDone();
        return;
    }
    FNotifications.append(N);
    const std::weak_ptr<TNotification> Weak = N;
    QTimer::singleShot(SubscriberTimeoutMs, this, [this, Weak] {
        const std::shared_ptr<TNotification> Late = Weak.lock();
        if (!Late || Late->Finished)
            return;
        // Everyone still outstanding is given up for this notification; a "DONE" that comes
        // later is still matched to it, so it is not taken for the answer to a newer one.
        const QList<qint64> GivenUp = Late->Outstanding;
        Late->Outstanding.clear();
        for (qint64 Handle : GivenUp) {
            const QString Name = Late->Names.value(Handle);
            FHost.AddMessage(msgError, FormatMessageText("SubscriberTimeout",
                                                         {Name, qint64(Late->Number) + 1}));
            if (Late->OnTimedOut)
                Late->OnTimedOut(Name);
        }
        FinishNotification(Late.get());
    });
}

void TOndrixSocketServer::NotifySampleEnded(int Number)
{
    const QByteArray Line = "USER " + QByteArray::number(ucSampleEnded) + ' ' + QByteArray::number(Number);
    TKvSynchObjectList::TLockGuard Guard(FSubscribers);
    for (int I = 0; I < FSubscribers.Count(); ++I)
        if (TOndrixSubscriber* S = FSubscribers.Subscribers(I); S->Handle != 0)
            if (TConnection* C = FindConnection(S->Handle))
                SendLine(C, Line);
}

void TOndrixSocketServer::AnswerReceived(TConnection* C)
{
    if (C->Awaited.isEmpty())
        return;  // an answer nobody waits for
    const std::shared_ptr<TNotification> N = C->Awaited.takeFirst();
    if (N && N->Outstanding.removeOne(C->Handle) && N->Outstanding.isEmpty())
        FinishNotification(N.get());
}

void TOndrixSocketServer::FinishNotification(TNotification* N)
{
    if (N->Finished)
        return;
    N->Finished = true;
    std::shared_ptr<TNotification> Keep;
    for (qsizetype I = 0; I < FNotifications.size(); ++I)
        if (FNotifications[I].get() == N) {
            Keep = FNotifications.takeAt(I);
            break;
        }
    // The caller goes on from the event loop, never from inside this server's own work (a
    // connection being dropped while another notification is sent, for one).
    if (Keep && Keep->OnDone) {
        const quint64 Generation = FGeneration;
        QTimer::singleShot(0, this, [this, Keep, Generation] {
            if (Generation == FGeneration)
                Keep->OnDone();
        });
    }
}
