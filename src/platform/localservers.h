#pragma once

#include <QString>

class QLocalServer;

// Where the program's named local servers live and how one takes a name. Instances find each
// other by these names (the owner of an autosave, the paste pipe), so a name must be private to
// the user: the sockets go into $XDG_RUNTIME_DIR, or into a folder of our own that only this user
// can enter, and are made accessible to this user alone.
namespace LocalServers {

// The folder for the sockets; empty when no safe one could be found or made, with the reason in
// error.
QString folder(QString *error = nullptr);
// The address to connect to or listen on for a server name.
QString address(const QString &name);

// Whether a server of that name accepts a connection within milliseconds.
bool isAlive(const QString &name, int milliseconds);

// Listens on the name unless a live server holds it. A socket left behind by a process that
// ended is removed first. The probe, the removal and the listening happen under a lock file, so
// that two instances starting together cannot remove each other's socket. False, with the reason
// in error, when the name is taken or listening fails.
bool listen(QLocalServer *server, const QString &name, QString *error = nullptr);

} // namespace LocalServers
