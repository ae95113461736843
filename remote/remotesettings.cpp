#include "remote/remotesettings.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QRegularExpression>

namespace
{
// A plain word of the control system's names: letters, digits, _ . -
const QString kWord = QStringLiteral("[A-Za-z0-9_.\\-]+");

bool isHostAndPort(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^([A-Za-z0-9.\\-]+):(\\d{1,5})$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return false;
    const int port = match.captured(2).toInt();
    return port >= 1 && port <= 65535;
}
} // namespace

namespace remotesettings
{

QString problem(const RemoteSettings& settings)
{
    QHostAddress address;
    if (!address.setAddress(settings.address) ||
        address.protocol() != QAbstractSocket::IPv4Protocol)
        return QStringLiteral("The address \"%1\" is not an IPv4 address such as 127.0.0.1")
            .arg(settings.address);
    if (settings.port < 1 || settings.port > 65535)
        return QStringLiteral("The port %1 is not a port number from 1 to 65535")
            .arg(settings.port);
    // domain/family/member, each a plain word: the form every client parses.
    static const QRegularExpression name(QStringLiteral("^%1/%1/%1$").arg(kWord));
    if (!name.match(settings.deviceName).hasMatch())
        return QStringLiteral("The device name \"%1\" is not of the form domain/family/member")
            .arg(settings.deviceName);
    if (!settings.database.isEmpty() &&
        settings.database != QLatin1String(kDatabaseFromEnvironment) &&
        !isHostAndPort(settings.database))
        return QStringLiteral("The database \"%1\" is not of the form host:port (for example "
                              "tango-db:10000), \"%2\" or empty")
            .arg(settings.database, QLatin1String(kDatabaseFromEnvironment));
    static const QRegularExpression instance(QStringLiteral("^%1$").arg(kWord));
    if (!settings.serverInstance.isEmpty() && !instance.match(settings.serverInstance).hasMatch())
        return QStringLiteral("The server instance \"%1\" is not one word of letters, digits, "
                              "_ . or -")
            .arg(settings.serverInstance);
    return QString();
}

QString serverInstance(const RemoteSettings& settings)
{
    return settings.serverInstance.isEmpty() ? QHostInfo::localHostName() : settings.serverInstance;
}

QString serverName(const RemoteSettings& settings)
{
    return QLatin1String(kServerProgram) + QLatin1Char('/') + serverInstance(settings);
}

QStringList databaseHosts(const RemoteSettings& settings, const QString& tangoHost,
                          QString* problem)
{
    problem->clear();
    if (settings.database.isEmpty())
        return {};
    if (settings.database != QLatin1String(kDatabaseFromEnvironment))
        return {settings.database};
    if (tangoHost.trimmed().isEmpty()) {
        *problem = QStringLiteral("The database is to be taken from the environment, but "
                                  "TANGO_HOST is not set");
        return {};
    }
    QStringList hosts;
    for (const QString& host : tangoHost.split(QLatin1Char(','))) {
        if (!isHostAndPort(host.trimmed())) {
            *problem =
                QStringLiteral("TANGO_HOST \"%1\" is not of the form host:port").arg(tangoHost);
            return {};
        }
        hosts << host.trimmed();
    }
    return hosts;
}

QString clientUrl(const RemoteSettings& settings, const QString& database)
{
    if (!database.isEmpty())
        return QStringLiteral("tango://%1/%2").arg(database, settings.deviceName);
    // A server on every interface is reached by the computer's name.
    const QString host = QHostAddress(settings.address) == QHostAddress::AnyIPv4
                             ? QHostInfo::localHostName()
                             : settings.address;
    return QStringLiteral("tango://%1:%2/%3#dbase=no")
        .arg(host)
        .arg(settings.port)
        .arg(settings.deviceName);
}

} // namespace remotesettings
