#pragma once
// Whose socket it is. The monitor and the programs that drive it meet at a path in the file
// system; where that lies in a folder other users can write (/tmp), another user could be
// there first: serve the path so that the monitor runs without external control, or forge
// detections to a listener that runs a command on each. Both ends therefore check that the
// socket file and the process at the other end belong to their own user.

#include <QString>

// The folder of the socket when the session has no runtime folder: "/tmp/ondrix-<uid>".
QString FallbackSocketFolder();

// Makes Folder a folder only this user can enter and write: created with mode 0700 when it is
// missing, its mode narrowed to 0700 when it is this user's. Empty when it is such a folder;
// otherwise why it cannot be used (a link, not a folder, another user's), to be shown.
QString PrepareOwnFolder(const QString& Folder);

// Empty when the file at Path is a socket of this user; otherwise why not (missing, not a
// socket, another user's), to be shown.
QString CheckOwnSocketFile(const QString& Path);

// Empty when the process at the other end of the connected local socket Descriptor runs as
// this user (its credentials as the kernel gives them); otherwise why not.
QString CheckPeerIsOwnUser(qintptr Descriptor);
