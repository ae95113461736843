#pragma once

// A client of the remote interface in a process of its own: Debian's
// python3 with its control-system module, driven one JSON request per line
// (remote_client.py).

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

// How long a program may take to start serving and to end. A sanitized build
// runs several times slower and spends seconds in the leak check at exit;
// there the tests only show that nothing hangs.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kStartLimitMs = 90000;
constexpr int kEndLimitMs = 15000;
#else
constexpr int kStartLimitMs = 15000;
constexpr int kEndLimitMs = 2000;
#endif

class RemoteClient
{
public:
    // Connected to the server's own address, without a database.
    explicit RemoteClient(int port, const QString& device = QStringLiteral("zevo/feedback/1"))
        : RemoteClient(QStringLiteral("tango://127.0.0.1:%1/%2#dbase=no").arg(port).arg(device))
    {
    }

    // Connected to `url`; with `tangoHost` set, the client finds the device
    // through that database, as a scan script of the facility would.
    explicit RemoteClient(const QString& url, const QString& tangoHost = QString())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!tangoHost.isEmpty())
            env.insert(QStringLiteral("TANGO_HOST"), tangoHost);
        m_process.setProcessEnvironment(env);
        m_process.start(QStringLiteral("/usr/bin/python3"),
                        {QStringLiteral(ZEVO_REMOTE_CLIENT_SCRIPT)});
        m_process.waitForStarted(5000);
        connectReply = ask({{"op", "connect"}, {"url", url}});
    }

    ~RemoteClient()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(3000);
    }

    // One request and its reply; {"ok": false, "reason": "no reply"} when
    // the client says nothing in time.
    QJsonObject ask(const QJsonObject& request, int timeoutMs = 20000)
    {
        m_process.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(timeoutMs))
                return {{"ok", false},
                        {"reason", "no reply"},
                        {"desc", QString::fromLocal8Bit(m_process.readAllStandardError())}};
        }
        return QJsonDocument::fromJson(m_process.readLine()).object();
    }

    // A request whose reply nobody waits for (a client busy reading while
    // the program ends).
    void send(const QJsonObject& request)
    {
        m_process.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
        m_process.waitForBytesWritten(1000);
    }

    // Attribute values by name.
    QJsonObject read(const QStringList& names = {})
    {
        return ask({{"op", "read"}, {"names", QJsonArray::fromStringList(names)}})["values"]
            .toObject();
    }
    QJsonValue value(const QString& name) { return read({name})[name].toObject()["value"]; }
    QJsonObject command(const QString& name, bool admin = false)
    {
        return ask({{"op", "command"}, {"name", name}, {"admin", admin}});
    }
    QJsonObject write(const QString& name, const QJsonValue& value)
    {
        return ask({{"op", "write"}, {"name", name}, {"value", value}});
    }

    QJsonObject connectReply;

private:
    QProcess m_process;
};
