#include "remote/remotesettings.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QRegularExpression>

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
    static const QRegularExpression name(
        QStringLiteral("^[A-Za-z0-9_.\\-]+/[A-Za-z0-9_.\\-]+/[A-Za-z0-9_.\\-]+$"));
    if (!name.match(settings.deviceName).hasMatch())
        return QStringLiteral("The device name \"%1\" is not of the form domain/family/member")
            .arg(settings.deviceName);
    return QString();
}

QString clientUrl(const RemoteSettings& settings)
{
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
