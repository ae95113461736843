#pragma once

// The feedback's entry in the facility's Tango database, looked up and
// completed before the server starts: the library ends the whole process when
// its server is not defined there, when the same server already runs, or when
// the database cannot be reached at start, so the program makes sure of all
// three first.
//
// The conversation with the database runs in a child process forked for it.
// The library's client, started in this process before the server, would
// take over the server's network settings and start threads before the
// server may; and a child that hangs on a database host that never answers is
// simply ended when the time is up, so the program's start never waits longer
// than that.

#include <QString>
#include <QStringList>

namespace databaseregistration
{

// What the server is to be in the database.
struct Entry {
    QString server;     // "ZevoLui/<instance>"
    QString deviceName; // "zevo/feedback/1"
    QString className;  // the device's class
};

struct Outcome {
    // The database used ("host:port"); empty when none could be.
    QString database;
    // Empty when the server may start; else why not, in the operator's words.
    QString problem;
    // What the program defined in the database, to be said once; empty when
    // the definitions were there already.
    QString defined;
};

// The longest the lookup takes, whatever the database does.
constexpr int kTimeLimitMs = 4000;

// Tries `databases` ("host:port" each) in order and uses the first that
// answers: checks that neither the server nor the device is served by a
// running process, and defines the server and the device where they are
// missing. Must be called while the process has one thread only.
Outcome prepare(const QStringList& databases, const Entry& entry);

} // namespace databaseregistration
