#include "messages/Class_OndrixSubscriber.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <unistd.h>

struct TOndrixSocketServer::TConnection {};
struct TOndrixSocketServer::TNotification {};

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
    return QString("/tmp/TOndrix-%1.socket").arg(getuid());
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

TOndrixSocketServer::TOndrixSocketServer(IOndrixRemoteControl& Host, QObject* Parent)
    : QObject(Parent), FHost(Host)
{
}

TOndrixSocketServer::~TOndrixSocketServer() = default;

bool TOndrixSocketServer::Listen(const QString& Path)
{
    FPath = Path.isEmpty() ? DefaultSocketPath() : Path;
    return false;
}

void TOndrixSocketServer::Close() {}

bool TOndrixSocketServer::IsListening() const { return false; }

void TOndrixSocketServer::NotifySampleFound(int Number, bool Wait, std::function<void()> OnDone,
                                            std::function<void(const QString&)> OnTimedOut)
{
    Q_UNUSED(Number);
    Q_UNUSED(Wait);
    Q_UNUSED(OnTimedOut);
    if (OnDone)
        OnDone();
}

int TOndrixSocketServer::ConnectionCount() const { return 0; }
