#pragma once

// Checks and texts for the [Remote] settings, shared by the server, which
// refuses to start on bad ones, and the Remote Access window, which refuses
// to save them.

#include "device/configstore.h"

#include <QString>

namespace remotesettings
{

// Empty when the server can be started with these settings, else what is
// wrong, in the operator's words. The port being free is checked only when
// the server starts.
QString problem(const RemoteSettings& settings);

// Where a client finds the device, e.g.
// "tango://127.0.0.1:10000/zevo/feedback/1#dbase=no".
QString clientUrl(const RemoteSettings& settings);

} // namespace remotesettings
