#pragma once
// External programs (broadcast automation) and the local socket they talk to the monitor over.
//
// Every connection to the monitor's socket stands for one window of an external program and
// gets a handle, a positive number unique while the monitor runs. A connection describes
// itself ("WINDOW"), registers for notifications ("USER 100 <handle>" or "COPYDATA 0 1000
// <class name>"), asks for the version ("USER 666 0") and switches samples ("USER 2012 <Number>"
// ...). Each detection is announced to every subscriber, in registration order, as the line
// "USER 2000 <Number>", which the program answers with "DONE"; the end of a silence or signal
// that alarms once per episode as "USER 2001 <Number>", which is not answered.
//
// All of it runs on the main thread: requests are handled when the event loop delivers the
// connection's data, and a notification never blocks: lines are queued on non-blocking
// sockets, and waiting for the answers is a callback, so the main thread keeps analysing audio
// while an external program works (or hangs).

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

#include "messages/Class_OndrixMessage.h"
#include "messages/KvSynchObjectList.h"

class QLocalServer;
class QLocalSocket;

// The window-message codes of the protocol (wParam of "USER" lines).
enum TOndrixUserCode : int {
    ucRegister = 100,       // lParam: handle of the connection to register
    ucSampleFound = 2000,   // notification from the monitor; lParam: the sample's Number
    ucSampleEnded = 2001,   // notification from the monitor, not answered: the silence or signal
                            // of a sample that alarms once per episode has ended; lParam: Number
    ucEnableReload = 2012,  // lParam: Number; switch on, then rebuild the detection set
    ucDisableReload = 2013, // lParam: Number; switch off, then rebuild
    ucEnableAll = 3000,     // as the toolbar button "Включить все образцы"
    ucDisableAll = 3001,    // as the toolbar button "Отключить все образцы"
    ucReload = 4000,        // rebuild the detection set from the current switches
    ucEnable = 4001,        // lParam: Number; switch on without rebuilding
    ucDisable = 4002,       // lParam: Number; switch off without rebuilding
    ucVersion = 666,        // answer: the version packed as a number
};
// dwData of a "COPYDATA" registration by class name.
inline constexpr int CopyDataRegister = 1000;
// How long a waited-for notification may stay unanswered before the subscriber is given up
// for it.
inline constexpr int SubscriberTimeoutMs = 5000;
// Longest line, without its LF, that a connection may send; a longer one closes it.
inline constexpr int MaxLineLength = 4096;

// What external programs may ask of the monitor. The monitoring controller implements it; all
// calls come on the main thread.
class IOndrixRemoteControl {
public:
    virtual ~IOndrixRemoteControl() = default;

    // The program's version text "a.b.c.d" (empty when unknown), for code 666.
    virtual QString RemoteVersionText() const = 0;
    // Codes 2012, 2013, 4001, 4002: the controller's SetSampleEnabled(Sample, Enable, Reload)
    // for the sample whose stored Number this is. False when no sample has that Number (then
    // nothing changes and the request is refused).
    virtual bool RemoteSetSampleEnabled(int Number, bool Enable, bool Reload) = 0;
    // The description of the sample whose stored Number this is ("SAMPLE" requests); nothing
    // when no sample has that Number.
    virtual std::optional<QString> RemoteSampleDescription(int Number) const = 0;
    // Codes 3000 and 3001: exactly what the toolbar buttons "all on" / "all off" do.
    virtual void RemoteEnableAll() = 0;
    virtual void RemoteDisableAll() = 0;
    // Code 4000: ReloadEngine, the detection set rebuilt from the current switches.
    virtual void RemoteReloadEngine() = 0;
    // A program message of the subscriber list or the socket ("AddSubscriber", "CommandSent",
    // a subscriber that did not answer, a socket that cannot be served).
    virtual void AddMessage(TOndrixMessageType MsgType, const QString& Text) = 0;
};

// The number code 666 answers: 1000a + 100b + 10c + d from the characters at positions 1, 3,
// 5 and 7 of the version text (a non-digit counts 0); 1500 when the text is empty.
int VersionNumber(const QString& VersionText);

// The socket path: ONDRIX_SOCKET when set, else $XDG_RUNTIME_DIR/TOndrix.socket, else
// /tmp/ondrix-<uid>/TOndrix.socket (the folder made by the monitor, its user's alone).
QString DefaultSocketPath();

class TOndrixSocketServer;

// One registered window of an external program.
class TOndrixSubscriber : public QObject {
    Q_OBJECT
public:
    QString Name;     // class name of the registered window's owner (as it described itself)
    qint64 Handle = 0;  // the connection that receives notifications; 0 when none was found
    QString Title;    // caption of the registered window's owner

    // "Title / Name / Handle", as messages name a subscriber.
    QString DisplayName() const;
};

// The registered subscribers in registration order, at most one per Handle. Owns them.
class TOndrixSubscriberList : public TKvSynchObjectList {
public:
    TOndrixSubscriberList() : TKvSynchObjectList(true) {}
    TOndrixSubscriber* Subscribers(int Index) { return static_cast<TOndrixSubscriber*>(Items(Index)); }
    // Removes every entry with S's Handle, then appends S (under the list's lock).
    void AddSubscriber(TOndrixSubscriber* S);
    // Whether an entry has Handle.
    bool Contains(qint64 Handle);
    // Removes (and frees) the entry with Handle, if any.
    void RemoveHandle(qint64 Handle);
};

// The monitor's end of the local socket: accepts connections, answers requests through the
// remote control, keeps the subscriber list and sends the notifications.
class TOndrixSocketServer : public QObject {
    Q_OBJECT
public:
    explicit TOndrixSocketServer(IOndrixRemoteControl& Host, QObject* Parent = nullptr);
    ~TOndrixSocketServer() override;

    // Starts serving Path (DefaultSocketPath() when empty). A stale socket file left by a
    // crashed monitor is replaced; a socket another running monitor serves, or another user's,
    // is never taken over: then, as for any other failure, an error message goes to the host,
    // the result is false and the monitor runs without external control. The fallback folder
    // in /tmp is made (or checked to be) this user's alone. Connections from processes of other
    // users are refused.
    bool Listen(const QString& Path = QString());
    // Stops serving, closes every connection and removes the socket file.
    void Close();
    bool IsListening() const;
    QString SocketPath() const { return FPath; }

    // Called once per detection: sends "USER 2000 <Number>" to every subscriber in
    // registration order and adds a "CommandSent" message for each (one registered with handle
    // 0 is skipped). Never blocks.
    // Without Wait, OnDone runs before this returns; "DONE" answers are read and dropped.
    // With Wait, OnDone runs once every notified subscriber has answered "DONE", closed its
    // connection, or been given up after SubscriberTimeoutMs; for each one given up an error
    // message naming it is added and OnTimedOut (when given) gets its DisplayName(). OnDone
    // runs before this returns when there is nobody to wait for, otherwise later from the
    // event loop (never after the server is destroyed).
    void NotifySampleFound(int Number, bool Wait, std::function<void()> OnDone,
                           std::function<void(const QString& Subscriber)> OnTimedOut = {});

    // Called once when the episode of a sample that alarms once (its silence or signal) has
    // ended: sends "USER 2001 <Number>" to every subscriber in registration order. Nothing is
    // waited for and no answer is expected, so a program that knows only 2000 and ignores
    // other lines is neither confused nor waited on. Never blocks.
    void NotifySampleEnded(int Number);

    // Registration as the requests do it: by the class name a connection described itself
    // with (the first open one; handle 0 when there is none), or by a connection's handle,
    // which must be that of an open connection (false otherwise: nothing is registered). A
    // new subscriber is announced ("AddSubscriber") and appended to the list; a handle
    // registered already stays as it is, unannounced, so that a program repeating its
    // registration neither grows the list nor floods the messages. A connection that closes
    // leaves the list, so it holds at most one entry per open connection and one of handle 0.
    void AddByName(const QString& ClassName);
    bool AddByHandle(qint64 Handle);

    // ms a new connection has to send its first line; one that sends nothing is closed, so that
    // connections left idle cannot take up every place and lock automation out.
    int FirstLineTimeout = 10000;

    TOndrixSubscriberList& Subscribers() { return FSubscribers; }
    // Connections now open (for tests and the status).
    int ConnectionCount() const;

private:
    struct TConnection;
    struct TNotification;

    void AcceptConnections();
    void ReadConnection(TConnection* C);
    void HandleLine(TConnection* C, const QByteArray& Line);
    void Answer(TConnection* C, const QByteArray& Line);
    // Adds the error message of a request for a sample no one has and answers it with ERROR
    // (when the connection is still open).
    void RefuseMissingSample(qint64 Handle, qint64 Number);
    bool SendLine(TConnection* C, const QByteArray& Line);
    void DropConnection(TConnection* C);
    TConnection* FindConnection(qint64 Handle) const;
    void Register(std::unique_ptr<TOndrixSubscriber> S);
    void AnswerReceived(TConnection* C);
    void FinishNotification(TNotification* N);

    IOndrixRemoteControl& FHost;
    TOndrixSubscriberList FSubscribers;
    QString FPath;
    QLocalServer* FServer = nullptr;
    int FLockFd = -1;
    qint64 FNextHandle = 1;
    QHash<qint64, TConnection*> FConnections;
    QList<std::shared_ptr<TNotification>> FNotifications;
    quint64 FGeneration = 0;  // raised by Close: completions queued before it are dropped
};
