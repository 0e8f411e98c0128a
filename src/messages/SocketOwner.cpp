#include "messages/SocketOwner.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString ErrnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

QString OtherUserText(uid_t Owner)
{
    return QStringLiteral("it belongs to another user (uid %1)").arg(Owner);
}

}  // namespace

QString FallbackSocketFolder()
{
    return QStringLiteral("/tmp/ondrix-%1").arg(getuid());
}

QString PrepareOwnFolder(const QString& Folder)
{
    const QByteArray Name = QFile::encodeName(Folder);
    if (::mkdir(Name.constData(), 0700) != 0 && errno != EEXIST)
        return ErrnoText();
    struct stat St {};
    if (::lstat(Name.constData(), &St) != 0)
        return ErrnoText();
    if (S_ISLNK(St.st_mode))
        return QStringLiteral("%1 is a link").arg(Folder);
    if (!S_ISDIR(St.st_mode))
        return QStringLiteral("%1 is not a folder").arg(Folder);
    if (St.st_uid != getuid())
        return Folder + QStringLiteral(": ") + OtherUserText(St.st_uid);
    if ((St.st_mode & 07777) != 0700 && ::chmod(Name.constData(), 0700) != 0)
        return ErrnoText();
    return {};
}

QString CheckOwnSocketFile(const QString& Path)
{
    struct stat St {};
    if (::lstat(QFile::encodeName(Path).constData(), &St) != 0)
        return ErrnoText();
    if (!S_ISSOCK(St.st_mode))
        return QStringLiteral("not a socket");
    if (St.st_uid != getuid())
        return OtherUserText(St.st_uid);
    return {};
}

QString CheckPeerIsOwnUser(qintptr Descriptor)
{
    struct ucred Peer {};
    socklen_t Size = sizeof Peer;
    if (::getsockopt(int(Descriptor), SOL_SOCKET, SO_PEERCRED, &Peer, &Size) != 0)
        return ErrnoText();
    if (Peer.uid != getuid())
        return QStringLiteral("the program at the other end runs as another user (uid %1)").arg(Peer.uid);
    return {};
}
