#pragma once

// Checks and texts for the [Remote] settings, shared by the server, which
// refuses to start on bad ones, and the Remote Access window, which refuses
// to save them.

#include "device/configstore.h"

#include <QString>
#include <QStringList>

namespace remotesettings
{

// The program's name as a server of the Tango database: the server is
// "ZevoLui/<instance>".
inline constexpr const char* kServerProgram = "ZevoLui";
// The Database value that takes the database from the TANGO_HOST variable of
// the program's environment.
inline constexpr const char* kDatabaseFromEnvironment = "environment";

// Empty when the server can be started with these settings, else what is
// wrong, in the operator's words. The port being free, and the database
// answering, are checked only when the server starts.
QString problem(const RemoteSettings& settings);

// The configured instance, or the computer's name when none is.
QString serverInstance(const RemoteSettings& settings);
// "ZevoLui/<instance>".
QString serverName(const RemoteSettings& settings);

// The databases the server registers in, "host:port" each, in the order they
// are tried: the Database key's, or those of `tangoHost` (the environment's
// TANGO_HOST, which may list several) for "environment". Empty without a
// database, or with `problem` set when none is named properly.
QStringList databaseHosts(const RemoteSettings& settings, const QString& tangoHost,
                          QString* problem);

// Where a client finds the device: through the database the server is
// registered in ("tango://db-host:10000/zevo/feedback/1"), or, with
// `database` empty, by the server's own address
// ("tango://127.0.0.1:10000/zevo/feedback/1#dbase=no").
QString clientUrl(const RemoteSettings& settings, const QString& database = QString());

} // namespace remotesettings
