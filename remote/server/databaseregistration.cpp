#include "remote/server/databaseregistration.h"

#include <tango.h>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace databaseregistration
{
namespace
{
using Clock = std::chrono::steady_clock;

// How long one database host may take to accept a connection, and one
// request to be answered.
constexpr int kConnectLimitMs = 1500; // said as "1.5 s" below
constexpr int kRequestLimitMs = 1200;

int msLeft(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

// Empty when something accepts a TCP connection at host:port within the
// limit, else why not.
std::string tryConnect(const std::string& host, const std::string& port)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || !found)
        return "the host name " + host + " is not known";
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int error = 0;
    if (fd < 0) {
        error = errno;
    } else if (::connect(fd, found->ai_addr, found->ai_addrlen) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            pollfd wait{fd, POLLOUT, 0};
            if (::poll(&wait, 1, kConnectLimitMs) == 1) {
                socklen_t size = sizeof error;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
            } else {
                error = ETIMEDOUT;
            }
        }
    }
    ::freeaddrinfo(found);
    if (fd >= 0)
        ::close(fd);
    if (error == 0)
        return std::string();
    if (error == ETIMEDOUT)
        return "no answer within 1.5 s";
    return std::strerror(error);
}

std::string describe(const Tango::DevFailed& failure)
{
    if (failure.errors.length() == 0)
        return "unknown error";
    // The first error is the one that happened; the rest tell where it passed.
    return std::string(failure.errors[0].desc.in());
}

bool isReason(const Tango::DevFailed& failure, const char* reason)
{
    return failure.errors.length() > 0 && std::strcmp(failure.errors[0].reason.in(), reason) == 0;
}

// Whether the process behind a device answers within the limit.
bool answers(const std::string& database, const std::string& device)
{
    try {
        std::string url = "tango://" + database + "/" + device;
        Tango::DeviceProxy proxy(url);
        proxy.set_timeout_millis(kRequestLimitMs);
        proxy.ping();
        return true;
    } catch (...) {
        return false;
    }
}

// "ZevoLui/beamline (process 4711 on host ctl-3)".
std::string whoServes(Tango::Database& db, const std::string& device)
{
    std::string name = device;
    const Tango::DbDevFullInfo info = db.get_device_info(name);
    std::string who = info.ds_full_name;
    if (info.pid > 0 || !info.host.empty()) {
        who += " (";
        if (info.pid > 0)
            who += "process " + std::to_string(info.pid) + " ";
        who += "on host " + info.host + ")";
    }
    return who;
}

// The child's work: one line back, "ok\t<defined>" or "problem\t<why>".
std::string lookUp(const std::string& database, const Entry& entry)
{
    const std::string server = entry.server.toStdString();
    const std::string device = entry.deviceName.toStdString();
    const std::string className = entry.className.toStdString();
    const std::string admin = "dserver/" + server;
    const std::string host = database.substr(0, database.rfind(':'));
    const int port = std::stoi(database.substr(database.rfind(':') + 1));

    std::string hostCopy = host;
    Tango::Database db(hostCopy, port);
    db.set_timeout_millis(kRequestLimitMs);

    // The same server running elsewhere, alive: the library would end this
    // program on finding it, so it is refused here with its name.
    std::string adminName = admin;
    try {
        if (db.import_device(adminName).exported && answers(database, admin))
            return "problem\tThe server " + whoServes(db, admin) +
                   " already runs in the Tango database at " + database +
                   "; stop it, or give this program another server instance";
    } catch (const Tango::DevFailed& failure) {
        if (!isReason(failure, "DB_DeviceNotDefined"))
            throw;
    }

    std::string deviceName = device;
    bool deviceDefined = true;
    Tango::DbDevFullInfo info;
    try {
        info = db.get_device_info(deviceName);
    } catch (const Tango::DevFailed& failure) {
        if (!isReason(failure, "DB_DeviceNotDefined"))
            throw;
        deviceDefined = false;
    }
    if (deviceDefined) {
        if (info.ds_full_name != server) {
            if (info.exported && answers(database, device))
                return "problem\tThe device " + device + " is already served by " +
                       whoServes(db, device);
            return "problem\tThe device " + device + " belongs to the server " + info.ds_full_name +
                   " in the Tango database at " + database +
                   "; give this program that server instance, or have the database's "
                   "administrator move the device";
        }
        if (info.class_name != className)
            return "problem\tThe device " + device + " is defined for the class " +
                   info.class_name + ", not " + className + ", in the Tango database at " +
                   database;
        return "ok\t";
    }

    Tango::DbDevInfo definition;
    definition.name = device;
    definition._class = className;
    definition.server = server;
    std::string serverName = server;
    std::vector<std::string> defined;
    db.get_device_class_list(serverName) >> defined;
    if (defined.empty()) {
        Tango::DbDevInfos devices{definition};
        db.add_server(serverName, devices);
        return "ok\tDefined in the Tango database at " + database + ": the server " + server +
               " with the device " + device + " of the class " + className;
    }
    db.add_device(definition);
    return "ok\tDefined in the Tango database at " + database + ": the device " + device +
           " of the class " + className + " in the server " + server;
}

// Runs in the child: the first database that accepts a connection is asked.
std::string childWork(const QStringList& databases, const Entry& entry)
{
    std::string unreachable;
    for (const QString& database : databases) {
        const std::string text = database.toStdString();
        const std::string why =
            tryConnect(text.substr(0, text.rfind(':')), text.substr(text.rfind(':') + 1));
        if (!why.empty()) {
            if (unreachable.empty())
                unreachable = "The Tango database at " + text + " does not answer (" + why + ")";
            continue;
        }
        try {
            return text + "\t" + lookUp(text, entry);
        } catch (const Tango::DevFailed& failure) {
            return text + "\tproblem\tThe Tango database at " + text +
                   " could not be used: " + describe(failure);
        } catch (const CORBA::Exception& failure) {
            return text + "\tproblem\tThe Tango database at " + text +
                   " could not be used: " + failure._name();
        }
    }
    return "\tproblem\t" + unreachable;
}

void writeAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += std::size_t(n);
    }
}
} // namespace

Outcome prepare(const QStringList& databases, const Entry& entry)
{
    Outcome outcome;
    int link[2];
    if (::pipe2(link, O_CLOEXEC) != 0) {
        outcome.problem = QStringLiteral("No pipe to look the device up in the Tango database: %1")
                              .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return outcome;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        outcome.problem = QStringLiteral("No process to look the device up in the Tango "
                                         "database: %1")
                              .arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::close(link[0]);
        ::close(link[1]);
        return outcome;
    }
    if (child == 0) {
        ::close(link[0]);
        std::string reply;
        try {
            reply = childWork(databases, entry);
        } catch (...) {
            reply = "\tproblem\tThe Tango database could not be used: unexpected error";
        }
        writeAll(link[1], reply);
        // Nothing of the parent's may run here at exit.
        ::_exit(0);
    }
    ::close(link[1]);

    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kTimeLimitMs);
    std::string reply;
    bool ended = false;
    while (!ended) {
        pollfd wait{link[0], POLLIN, 0};
        const int ready = ::poll(&wait, 1, msLeft(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char buffer[1024];
        const ssize_t n = ::read(link[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ended = true;
        else
            reply.append(buffer, std::size_t(n));
    }
    ::close(link[0]);
    if (!ended)
        ::kill(child, SIGKILL);
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }

    const QStringList fields = QString::fromStdString(reply).split(QLatin1Char('\t'));
    if (!ended || fields.size() != 3) {
        outcome.problem = QStringLiteral("The Tango database at %1 did not answer within %2 s")
                              .arg(databases.join(QStringLiteral(", ")))
                              .arg(kTimeLimitMs / 1000);
        return outcome;
    }
    outcome.database = fields[0];
    if (fields[1] == QLatin1String("ok"))
        outcome.defined = fields[2];
    else
        outcome.problem = fields[2];
    return outcome;
}

} // namespace databaseregistration
