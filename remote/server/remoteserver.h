#pragma once

#include "device/configstore.h"

#include <QPointer>
#include <QString>

#include <memory>

class RemoteBridge;

// The device server of the remote interface: the program's feedback as one
// device of the beamline's control system, served on the configured address
// and port, either without a control-system database or registered in the
// facility's Tango database, where clients find it by its name.
//
// Its life follows the control system library's rules: construct it before
// the QApplication and before any other thread of the process (the library
// sets the signal mask every later thread inherits, and takes over SIGINT
// and SIGTERM to end the program cleanly), start it on the GUI thread once the
// main window stands, and it stops when the event loop ends. One server per
// process: the library cannot be started twice.
//
// When the settings are bad, the port is taken, or the database does not
// answer or refuses the server, nothing of the library is started and the
// program runs as it would without the server; the reason is printed and
// shown in the Remote Access window.
class RemoteServer
{
public:
    RemoteServer(const RemoteSettings& settings, const char* programPath);
    ~RemoteServer();
    RemoteServer(const RemoteServer&) = delete;
    RemoteServer& operator=(const RemoteServer&) = delete;

    const RemoteSettings& settings() const { return m_settings; }
    // Prepared and not failed since.
    bool isUsable() const { return m_prepared && m_problem.isEmpty(); }
    // Why the server does not run; empty while it is off or runs.
    const QString& problem() const { return m_problem; }
    // The Tango database ("host:port") the server is registered in; empty
    // without one.
    const QString& database() const { return m_database; }

    // GUI thread: exports the device, answers clients on a thread of the
    // server's own and tells `bridge` how it went. When the server ends by
    // itself (SIGINT, SIGTERM) the event loop is asked to quit; when the
    // event loop ends first, the server is stopped.
    void start(RemoteBridge* bridge);
    // GUI thread: no more requests, then waits for the server's thread.
    void stop();

private:
    struct Runner;
    QString prepare(const char* programPath);
    void fail(const QString& problem);

    RemoteSettings m_settings;
    bool m_prepared = false;
    bool m_running = false;
    QString m_problem;
    QString m_database;
    QPointer<RemoteBridge> m_bridge;
    Runner* m_runner = nullptr; // the server's thread; joined by stop()
};
