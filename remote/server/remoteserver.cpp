#include "remote/server/remoteserver.h"

#include "remote/remotebridge.h"
#include "remote/remotesettings.h"
#include "remote/server/databaseregistration.h"
#include "remote/server/feedbackdevice.h"
#include "remote/server/feedbackdeviceclass.h"
#include "remote/server/shutdownguard.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMetaObject>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <set>

namespace
{
// The library keeps pointers into its command line for the life of the
// process.
std::vector<std::string> serverArguments;
std::vector<char*> serverArgv;

// The library starts once per process, even after a failed start.
std::atomic<bool> libraryTaken{false};

// What the administration device of the server may still do for a client:
// describe the server and deliver events. Everything else it offers (ending
// or restarting the process, writing log files, changing polling or taking
// device locks) is removed, since without a database nothing guards it.
const std::set<std::string> kAdminCommandsKept = {
    "state",
    "status",
    "queryclass",
    "querydevice",
    "querysubdevice",
    "querywizardclassproperty",
    "querywizarddevproperty",
    "eventsubscriptionchange",
    "zmqeventsubscriptionchange",
    "eventconfirmsubscription",
    "devpollstatus",
    "polleddevice",
    "getlogginglevel",
    "getloggingtarget",
    "devlockstatus",
};

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

void removeCommands(Tango::DeviceClass* deviceClass, const std::set<std::string>& keep)
{
    std::vector<Tango::Command*> doomed;
    for (Tango::Command* command : deviceClass->get_command_list())
        if (!keep.count(lowerCase(command->get_name())))
            doomed.push_back(command);
    // The class lets go of a removed command without deleting it.
    for (Tango::Command* command : doomed) {
        deviceClass->remove_command(lowerCase(command->get_name()));
        delete command;
    }
}

// Empty when `address`:`port` can be listened on. The library cannot retry a
// port in the same process, so it is tried here first.
QString checkPort(const QString& address, int port)
{
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return QStringLiteral("No network socket: %1")
            .arg(QString::fromLocal8Bit(std::strerror(errno)));
    const int on = 1;
    ::setsockopt(probe, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(uint16_t(port));
    ::inet_pton(AF_INET, address.toLatin1().constData(), &where.sin_addr);
    const int result = ::bind(probe, reinterpret_cast<const sockaddr*>(&where), sizeof where);
    const int error = errno;
    ::close(probe);
    if (result == 0)
        return QString();
    switch (error) {
    case EADDRINUSE:
        return QStringLiteral("Port %1 on %2 is already in use by another program")
            .arg(port)
            .arg(address);
    case EADDRNOTAVAIL:
        return QStringLiteral("The address %1 belongs to no network interface of this computer")
            .arg(address);
    case EACCES:
        return QStringLiteral("Port %1 needs administrator rights; choose a port from 1024 up")
            .arg(port);
    default:
        return QStringLiteral("Port %1 on %2 cannot be used: %3")
            .arg(port)
            .arg(address, QString::fromLocal8Bit(std::strerror(error)));
    }
}

// The library's signal thread reads tables that the program's exit destroys,
// so once the server is down, a late SIGINT, SIGTERM or SIGQUIT must not
// reach it. Ignored and unblocked on the main thread, such a signal is
// dropped as soon as it is sent, and any still pending is discarded.
void ignoreEndingSignals()
{
    sigset_t ending;
    sigemptyset(&ending);
    for (int signo : {SIGINT, SIGTERM, SIGQUIT}) {
        std::signal(signo, SIG_IGN);
        sigaddset(&ending, signo);
    }
    pthread_sigmask(SIG_UNBLOCK, &ending, nullptr);
}

QString describe(const Tango::DevFailed& failure)
{
    if (failure.errors.length() == 0)
        return QStringLiteral("unknown error");
    return QString::fromStdString(std::string(failure.errors[0].desc.in()));
}
} // namespace

// The server's own thread: answers clients until the server is shut down,
// by stop() or by the library's own SIGINT/SIGTERM handling. In the second
// case the program ends too, as it would on those signals without the server.
struct RemoteServer::Runner : public omni_thread {
    std::atomic<bool> stopping{false};

    void begin() { start_undetached(); }

    void* run_undetached(void*) override
    {
        try {
            Tango::Util::instance()->server_run();
        } catch (const Tango::DevFailed& failure) {
            std::fprintf(stderr, "Remote access ended: %s\n", qPrintable(describe(failure)));
        } catch (...) {
            std::fprintf(stderr, "Remote access ended by an unexpected error\n");
        }
        if (!stopping.load()) {
            if (QCoreApplication* app = QCoreApplication::instance())
                QMetaObject::invokeMethod(app, &QCoreApplication::quit, Qt::QueuedConnection);
        }
        return nullptr;
    }
};

RemoteServer::RemoteServer(const RemoteSettings& settings, const char* programPath)
    : m_settings(settings)
{
    if (!m_settings.enabled)
        return;
    const QString problem = prepare(programPath);
    if (!problem.isEmpty())
        fail(problem);
}

RemoteServer::~RemoteServer()
{
    stop();
}

QString RemoteServer::prepare(const char* programPath)
{
    const QString settingsProblem = remotesettings::problem(m_settings);
    if (!settingsProblem.isEmpty())
        return settingsProblem;
    const QString portProblem = checkPort(m_settings.address, m_settings.port);
    if (!portProblem.isEmpty())
        return portProblem;
    if (libraryTaken.exchange(true))
        return QStringLiteral("The server starts only once in the life of the program; "
                              "restart the program");

    QString databaseProblem;
    const QStringList databases = remotesettings::databaseHosts(
        m_settings, qEnvironmentVariable("TANGO_HOST"), &databaseProblem);
    if (!databaseProblem.isEmpty())
        return databaseProblem;
    const std::string endPoint =
        QStringLiteral("giop:tcp:%1:%2").arg(m_settings.address).arg(m_settings.port).toStdString();
    if (databases.isEmpty()) {
        // Server name: the program's file name, instance: the port, so that
        // two instances on two ports are told apart in every client's list.
        const QString program = QFileInfo(QString::fromLocal8Bit(programPath)).fileName();
        serverArguments = {program.toStdString(),
                           std::to_string(m_settings.port),
                           "-nodb",
                           "-dlist",
                           m_settings.deviceName.toStdString(),
                           "-ORBendPoint",
                           endPoint};
    } else {
        const databaseregistration::Outcome registration = databaseregistration::prepare(
            databases, {remotesettings::serverName(m_settings), m_settings.deviceName,
                        QString::fromLatin1(FeedbackDeviceClass::kClassName)});
        if (!registration.problem.isEmpty())
            return registration.problem;
        m_database = registration.database;
        if (!registration.defined.isEmpty()) {
            std::printf("%s\n", qPrintable(registration.defined));
            std::fflush(stdout);
        }
        // The library finds its database through the environment; no other
        // thread runs yet that could read it meanwhile.
        ::setenv("TANGO_HOST", m_database.toLocal8Bit().constData(), 1);
        serverArguments = {remotesettings::kServerProgram,
                           remotesettings::serverInstance(m_settings).toStdString(), "-ORBendPoint",
                           endPoint};
    }
    // The local socket the library adds for clients on this computer is for
    // this user only.
    serverArguments.push_back("-ORBunixTransportPermission");
    serverArguments.push_back("600");
    serverArgv.clear();
    for (std::string& argument : serverArguments)
        serverArgv.push_back(&argument[0]);
    serverArgv.push_back(nullptr);
    int argc = int(serverArguments.size());
    try {
        Tango::Util::init(argc, serverArgv.data());
    } catch (const Tango::DevFailed& failure) {
        return QStringLiteral("The server could not start: %1").arg(describe(failure));
    } catch (const CORBA::Exception& failure) {
        return QStringLiteral("The server could not start: %1").arg(QLatin1String(failure._name()));
    }
    try {
        ShutdownGuard::install();
    } catch (const Tango::DevFailed& failure) {
        return QStringLiteral("The server could not start: %1").arg(describe(failure));
    }
    m_prepared = true;
    return QString();
}

void RemoteServer::fail(const QString& problem)
{
    m_problem = problem;
    std::fprintf(stderr, "Remote access is off: %s\n", qPrintable(problem));
    std::fflush(stderr);
    if (m_bridge)
        m_bridge->setServerState(RemoteBridge::ServerState::Failed, problem);
}

void RemoteServer::start(RemoteBridge* bridge)
{
    m_bridge = bridge;
    bridge->setControlAllowed(m_settings.controlAllowed);
    if (!m_settings.enabled) {
        bridge->setServerState(RemoteBridge::ServerState::Off, QString());
        return;
    }
    if (!isUsable()) {
        bridge->setServerState(RemoteBridge::ServerState::Failed, m_problem);
        return;
    }

    // The device answers from the first snapshot on.
    bridge->startSnapshots();
    FeedbackDeviceClass::setBridge(bridge);
    FeedbackDeviceClass::setServedDevice(m_settings.deviceName.toStdString());
    Tango::Util* library = Tango::Util::instance();
    try {
        library->server_init();
        removeCommands(library->get_dserver_device()->get_device_class(), kAdminCommandsKept);
        // Init would only re-read what the device shows; nothing to offer.
        removeCommands(FeedbackDeviceClass::instance(),
                       {"state", "status", "feedbackon", "feedbackoff", "resetpid"});
    } catch (const Tango::DevFailed& failure) {
        fail(QStringLiteral("The server could not start: %1").arg(describe(failure)));
        return;
    }

    m_runner = new Runner;
    m_runner->begin();
    m_running = true;
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
                     QCoreApplication::instance(), [this] { stop(); });

    const QString url = remotesettings::clientUrl(m_settings, m_database);
    bridge->setServerState(RemoteBridge::ServerState::Running,
                           m_database.isEmpty()
                               ? url
                               : QStringLiteral("%1\nas the server %2 of the Tango database at %3")
                                     .arg(url, remotesettings::serverName(m_settings), m_database));
    std::printf("Remote access: %s\n", qPrintable(url));
    std::fflush(stdout);
}

void RemoteServer::stop()
{
    if (!m_running)
        return;
    m_running = false;
    // No request thread may wait for the GUI thread while it waits here.
    if (m_bridge)
        m_bridge->close();
    m_runner->stopping = true;
    // A signal may have begun the shutdown already; then the server thread
    // ends when that shutdown is done.
    if (ShutdownGuard::claim())
        Tango::Util::instance(false)->shutdown_ds();
    m_runner->join(nullptr); // also deletes the thread object
    m_runner = nullptr;
    ignoreEndingSignals();
}
