#pragma once
// Both ends of the monitor's local socket for tests and benchmarks: a monitor stand-in that
// records what external programs asked of it, and a line client on the test's own thread.
// Server and clients share the thread's event loop, so every wait processes events.

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QHash>
#include <QLocalSocket>
#include <QSet>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <optional>

#include "messages/Class_OndrixSubscriber.h"

namespace testkit {

// Processes events until Done holds; false when the time-out passes first.
inline bool waitForEvents(const std::function<bool()>& Done, int TimeoutMs = 20000)
{
    QDeadlineTimer Deadline(TimeoutMs);
    while (!Done()) {
        if (Deadline.hasExpired())
            return false;
        QEventLoop Loop;
        QTimer::singleShot(5, &Loop, &QEventLoop::quit);
        Loop.exec();
    }
    return true;
}

// The monitor as external programs see it: each request is recorded as one line of Calls.
// Every stored Number but those in Missing stands for a sample, described as Descriptions
// says or else "Sample <shown number>".
class TRecordingRemote : public IOndrixRemoteControl {
public:
    QString Version = "1.5.2.3";
    QStringList Calls;
    QList<TOndrixMessage> Messages;
    QSet<int> Missing;
    QHash<int, QString> Descriptions;

    QString RemoteVersionText() const override { return Version; }
    bool RemoteSetSampleEnabled(int Number, bool Enable, bool Reload) override
    {
        if (Missing.contains(Number))
            return false;
        Calls << QString("Set %1 %2%3").arg(Number).arg(Enable ? "on" : "off").arg(Reload ? " reload" : "");
        return true;
    }
    std::optional<QString> RemoteSampleDescription(int Number) const override
    {
        if (Missing.contains(Number))
            return std::nullopt;
        return Descriptions.value(Number, QString("Sample %1").arg(Number + 1));
    }
    void RemoteEnableAll() override { Calls << "EnableAll"; }
    void RemoteDisableAll() override { Calls << "DisableAll"; }
    void RemoteReloadEngine() override { Calls << "Reload"; }
    void AddMessage(TOndrixMessageType MsgType, const QString& Text) override
    {
        Messages.append({MsgType, Text, 0});
    }
    // Texts of the messages of one type, oldest first.
    QStringList Texts(TOndrixMessageType MsgType) const
    {
        QStringList Result;
        for (const TOndrixMessage& M : Messages)
            if (M.MsgType == MsgType)
                Result << M.Text;
        return Result;
    }
};

// An external program's connection that speaks in lines.
class TLineClient {
public:
    bool Connect(const QString& Path)
    {
        Socket.connectToServer(Path);
        return waitForEvents([&] { return Socket.state() == QLocalSocket::ConnectedState
                                          || Socket.state() == QLocalSocket::UnconnectedState; })
            && Socket.state() == QLocalSocket::ConnectedState;
    }
    void Send(const QByteArray& Bytes)
    {
        Socket.write(Bytes);
        Socket.flush();
    }
    // The next whole line (without LF), or nothing when none came in time.
    std::optional<QByteArray> ReadLine(int TimeoutMs = 20000)
    {
        qsizetype End = -1;
        waitForEvents([&] {
            In += Socket.readAll();
            End = In.indexOf('\n');
            return End >= 0;
        }, TimeoutMs);
        if (End < 0)
            return std::nullopt;
        QByteArray Line = In.left(End);
        In.remove(0, End + 1);
        return Line;
    }
    // Sends one request line and returns the line that answers it.
    std::optional<QByteArray> Request(const QByteArray& Line)
    {
        Send(Line + '\n');
        return ReadLine();
    }
    // Describes this connection and registers it for notifications; returns its handle.
    qint64 Subscribe(const QByteArray& ClassName, const QByteArray& Title)
    {
        const std::optional<QByteArray> Answer = Request("WINDOW " + ClassName + '\t' + Title);
        if (!Answer || !Answer->startsWith("OK "))
            return 0;
        const qint64 Handle = Answer->mid(3).toLongLong();
        if (Request("USER 100 " + QByteArray::number(Handle)) != QByteArray("OK 0"))
            return 0;
        return Handle;
    }
    // True once the monitor has closed this connection.
    bool WaitClosed(int TimeoutMs = 20000)
    {
        return waitForEvents([&] {
            In += Socket.readAll();
            return Socket.state() == QLocalSocket::UnconnectedState;
        }, TimeoutMs);
    }

    QLocalSocket Socket;
    QByteArray In;
};

}  // namespace testkit
