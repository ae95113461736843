// The remote interface from outside: the simulator build as a real process
// serving on a free loopback port, a client in a process of its own. What
// clients read against the virtual controller, writes that move the virtual
// beam when control is allowed and reach nothing when it is not, what the
// server keeps closed, two instances side by side, a busy port, and a clean
// end within two seconds however the program is ended.

#include "remoteclient.h"
#include "support/simprocess.h"

#include "device/configstore.h"
#include "sim/simrig.h"

#include <QDirIterator>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

// A request that must succeed; the client's reason when it did not.
#define QVERIFY_REPLY(request)                                                                     \
    do {                                                                                           \
        const QJsonObject reply_ = (request);                                                      \
        QVERIFY2(reply_["ok"].toBool(), why(reply_).constData());                                  \
    } while (false)

namespace
{
const QString kSim = QStringLiteral(ZEVO_SIM_PROGRAM);
const QString kRefused = QStringLiteral("Remote control is disabled on this controller");
const QStringList kWrites = {"SetpointX", "SetpointY", "SetpointI0", "RegulationMode"};
const QStringList kCommands = {"FeedbackOn", "FeedbackOff", "ResetPID"};

// The simulator serving on `port`, started and ready.
bool startServing(SimProcess& sim, int port, const QStringList& more = {})
{
    sim.start(kSim, QStringList{"--remote", QString::number(port)} + more);
    return sim.waitFor(QStringLiteral("Remote access: tango://127.0.0.1:%1/").arg(port),
                       kStartLimitMs);
}

// Local addresses of the TCP sockets the process listens on, as
// /proc/net/tcp writes them ("0100007F:2710").
QStringList listeningAddresses(qint64 pid)
{
    QSet<QString> inodes;
    QDirIterator fds(QStringLiteral("/proc/%1/fd").arg(pid), QDir::System);
    while (fds.hasNext()) {
        const QString target = QFileInfo(fds.next()).symLinkTarget();
        if (target.contains(QLatin1String("socket:[")))
            inodes.insert(target.section('[', 1).section(']', 0, 0));
    }
    QStringList addresses;
    QFile table(QStringLiteral("/proc/%1/net/tcp").arg(pid));
    table.open(QIODevice::ReadOnly);
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() > 9 && f[3] == "0A" && inodes.contains(QString::fromLatin1(f[9])))
            addresses << QString::fromLatin1(f[1]);
    }
    return addresses;
}

// Why a request failed, as the client reports it.
QByteArray why(const QJsonObject& reply)
{
    return (reply["reason"].toString() + QStringLiteral(": ") + reply["desc"].toString())
        .toLocal8Bit();
}

// Whether the first display cycle, which brings the DAC outputs, has run:
// the program's start-up work on the GUI thread is done, so that remote
// writes are taken at once even in a slow (sanitized) build.
bool settled(RemoteClient& client)
{
    return client.read({"DacOutputs"})["DacOutputs"].toObject()["quality"].toString() ==
           QLatin1String("ATTR_VALID");
}

double number(RemoteClient& client, const QString& name)
{
    return client.value(name).toDouble(NAN);
}
} // namespace

class TestRemoteServer : public QObject
{
    Q_OBJECT

private slots:
    // Every attribute readable; noise and drift off, the virtual beam stands
    // still, and a virtual controller in this process powers up to the same
    // status block. Control not allowed (the default): every write and command
    // is refused with one clear message, the controller keeps its state. What
    // could end the program, write files or lock clients out is not offered at
    // all, and nothing listens beyond loopback. Two instances side by side,
    // and a busy port.
    void controlNotAllowed_everyAttributeReadable_everythingRefusedAndClosed_twoInstances()
    {
        SimProcess sim;
        const int port = SimProcess::freePort();
        QVERIFY(startServing(sim, port, {"--noise", "0", "--drift", "0"}));
        RemoteClient client(port);
        QVERIFY2(client.connectReply["ok"].toBool(),
                 qPrintable(client.connectReply["desc"].toString()));

        const QJsonObject info = client.ask({{"op", "info"}});
        QCOMPARE(info["commands"].toArray().toVariantList(),
                 QVariantList({"FeedbackOff", "FeedbackOn", "ResetPID", "State", "Status"}));
        const QJsonObject attributes = info["attributes"].toObject();
        QStringList writable;
        for (auto it = attributes.begin(); it != attributes.end(); ++it)
            if (it.value().toObject()["writable"].toBool())
                writable << it.key();
        writable.sort();
        QCOMPARE(writable, QStringList({"RegulationMode", "SetpointI0", "SetpointX", "SetpointY"}));

        QTRY_VERIFY_WITH_TIMEOUT(settled(client), 30000);
        const QJsonObject values = client.read();
        for (auto it = values.begin(); it != values.end(); ++it)
            QVERIFY2(it.value().toObject()["quality"].toString() == "ATTR_VALID",
                     qPrintable(it.key()));

        SimRig rig;
        rig.advance(15.0);
        const ConfigStore config(sim.home() + QStringLiteral("/config/zevo/zevo-lui-sim.ini"));
        for (int bpm = 0; bpm < 2; ++bpm) {
            const zevo::BpmStatistics s = rig.statistics(bpm);
            const QString p = QStringLiteral("Bpm%1").arg(bpm + 1);
            const auto at = [&](const QString& name) {
                return values[p + name].toObject()["value"].toDouble(NAN);
            };
            QVERIFY(qFuzzyCompare(1.0 + at("X"), 1.0 + s.xMean * config.getScaleX(bpm)));
            QVERIFY(qFuzzyCompare(1.0 + at("Y"), 1.0 + s.yMean * config.getScaleY(bpm)));
            QVERIFY(qFuzzyCompare(at("I0"), s.i0Mean));
            QCOMPARE(at("XStdDev"), s.xStd * config.getScaleX(bpm));
        }
        double x = 0, y = 0, i0 = 0;
        QVERIFY(rig.mailbox.readSetpoints(&x, &y, &i0) >= 0);
        const auto value = [&](const char* name) {
            return values[QLatin1String(name)].toObject()["value"].toVariant();
        };
        QCOMPARE(value("SetpointX").toDouble(), x * config.getScaleX(0));
        QCOMPARE(value("SetpointI0").toDouble(), i0);
        QCOMPARE(
            QVariantList({value("RegulationMode"), value("SfpDevices"), value("SoftwareVersion"),
                          value("DacOutputs").toList().size(), value("State"), value("PidStatus"),
                          value("FeedbackEnabled"), value("UserLevel"), value("ControlAllowed"),
                          value("PostMortemLast"), value("PostMortemCount")}),
            QVariantList({rig.mailbox.readRegulationMode(),
                          QVariantList({"Dorvish", "Dorvish", "Ostrel", ""}), "1.0.03", 3, "OFF", 0,
                          false, 0, false, "", 0}));
        // The post-mortem attributes send change events.
        for (const char* name : {"PostMortemLast", "PostMortemCount"})
            QVERIFY2(client.ask({{"op", "subscribe"}, {"name", name}})["ok"].toBool(), name);

        const QJsonObject before = client.read(kWrites + QStringList{"PidStatus"});

        for (const QString& command : kCommands)
            QCOMPARE(client.command(command)["desc"].toString(), kRefused);
        const QJsonObject writes{
            {"SetpointX", 5.0}, {"SetpointY", 5.0}, {"SetpointI0", 1e-6}, {"RegulationMode", 3}};
        for (const QString& name : kWrites)
            QCOMPARE(client.write(name, writes[name])["desc"].toString(), kRefused);
        QVERIFY(!client.write("UserLevel", 2)["ok"].toBool());
        QVERIFY(!client.ask({{"op", "set_unit"}, {"name", "SetpointX"}, {"unit", "mm"}})["ok"]
                     .toBool());
        QTest::qWait(1200); // a poll later, nothing has changed
        QCOMPARE(client.read(kWrites + QStringList{"PidStatus"}), before);
        QVERIFY(!sim.output().contains(QStringLiteral("Remote write")));

        const QJsonArray admin = client.ask({{"op", "info"}})["admin_commands"].toArray();
        for (const char* gone : {"Kill", "AddLoggingTarget", "RestartServer", "DevRestart", "Init",
                                 "AddObjPolling", "StopPolling", "LockDevice", "SetLoggingLevel"})
            QVERIFY2(!admin.contains(QLatin1String(gone)), gone);
        QVERIFY(admin.contains(QLatin1String("ZmqEventSubscriptionChange")));
        QVERIFY(!client.command("Kill", true)["ok"].toBool());
        QJsonObject addTarget{{"op", "command"}, {"name", "AddLoggingTarget"}, {"admin", true}};
        addTarget["args"] = QJsonArray{QJsonArray{"zevo/feedback/1", "file::/tmp/x"}};
        QVERIFY(!client.ask(addTarget)["ok"].toBool());
        QVERIFY(sim.running());

        for (const QString& address : listeningAddresses(sim.pid()))
            QVERIFY2(address.startsWith(QLatin1String("0100007F:")), qPrintable(address));
        QVERIFY(listeningAddresses(sim.pid()).contains(
            QStringLiteral("0100007F:%1").arg(port, 4, 16, QLatin1Char('0')).toUpper()));
        // The local socket the library adds, by the process ID it is named after.
        int ours = 0;
        QDirIterator local(QDir::tempPath(), {"omni-*"}, QDir::Dirs);
        while (local.hasNext()) {
            QDirIterator files(local.next(),
                               {QStringLiteral("%1-*").arg(sim.pid(), 9, 10, QLatin1Char('0'))},
                               QDir::System | QDir::Files);
            while (files.hasNext()) {
                struct stat st {
                };
                QVERIFY(::stat(QFile::encodeName(files.next()).constData(), &st) == 0);
                QCOMPARE(st.st_mode & 0777, mode_t(0600));
                ++ours;
            }
        }
        QCOMPARE(ours, 1);

        // A second instance beside it is configured through its [Remote]
        // group; a third one on a port already taken says so and runs on
        // without the server.
        const int port2 = SimProcess::freePort(); // not port: the first listens on it
        SimProcess second("[Remote]\nEnabled=true\nPort=" + QByteArray::number(port2) +
                          "\nDeviceName=test/feedback/2\nControlAllowed=1\n");
        second.start(kSim, {});
        QVERIFY(second.waitFor(QStringLiteral("/test/feedback/2#dbase=no"), kStartLimitMs));
        RemoteClient two(port2, QStringLiteral("test/feedback/2"));
        QVERIFY(two.value("ControlAllowed").toBool());
        QVERIFY(two.connectReply["admin"].toString().contains(QString::number(port2)));
        QTRY_VERIFY_WITH_TIMEOUT(settled(two), 30000);
        QVERIFY_REPLY(two.command("FeedbackOn"));
        QCOMPARE(two.value("State").toString(), QStringLiteral("ON"));
        QCOMPARE(client.value("State").toString(), QStringLiteral("OFF"));

        SimProcess third;
        third.start(kSim, {"--remote", QString::number(port)});
        const QString busy =
            QStringLiteral("Remote access is off: Port %1 on 127.0.0.1 is already in use");
        QVERIFY(third.waitFor(busy.arg(port), kStartLimitMs));
        QTest::qWait(1500);
        QVERIFY(third.running());
        QVERIFY(listeningAddresses(third.pid()).isEmpty());
        QCOMPARE(client.value("State").toString(), QStringLiteral("OFF")); // the first serves on
    }

    // Allowed by the start option: the beam goes to the remote setpoints,
    // state changes arrive as events, every write is printed with its client.
    void controlAllowed_remoteWritesMoveTheVirtualBeam()
    {
        SimProcess sim;
        const int port = SimProcess::freePort();
        QVERIFY(startServing(sim, port, {"--remote-control", "--noise", "0.2"}));
        RemoteClient client(port);
        QTRY_VERIFY_WITH_TIMEOUT(settled(client), 30000);
        QVERIFY(client.ask({{"op", "subscribe"}, {"name", "State"}})["ok"].toBool());

        QVERIFY_REPLY(client.write("RegulationMode", 1)); // X and Y
        QVERIFY_REPLY(client.write("SetpointX", 15.0));
        QVERIFY_REPLY(client.write("SetpointY", -10.0));
        QVERIFY_REPLY(client.command("FeedbackOn"));
        QCOMPARE(client.value("State").toString(), QStringLiteral("ON")); // at once
        QCOMPARE(number(client, "SetpointX"), 15.0);
        QTRY_VERIFY_WITH_TIMEOUT(std::fabs(number(client, "Bpm1X") - 15.0) < 1.0 &&
                                     std::fabs(number(client, "Bpm1Y") + 10.0) < 1.0,
                                 15000);

        QVERIFY_REPLY(client.command("FeedbackOff"));
        QVERIFY_REPLY(client.command("ResetPID"));
        QCOMPARE(client.value("State").toString(), QStringLiteral("OFF"));
        QTRY_VERIFY_WITH_TIMEOUT(
            client.ask({{"op", "events_seen"}})["events"].toArray().contains("OFF") &&
                client.ask({{"op", "events_seen"}})["events"].toArray().contains("ON"),
            5000);

        QVERIFY(sim.waitFor(QStringLiteral("ResetPID")));
        const QString log = sim.output();
        for (const char* write : {"RegulationMode = 1 (X Y)", "SetpointX = 15 um",
                                  "SetpointY = -10 um", "FeedbackOn", "FeedbackOff"}) {
            const QRegularExpression line(
                QStringLiteral("Remote write from 127\\.0\\.0\\.1:\\d+ \\(pid \\d+\\): ") +
                QRegularExpression::escape(QString::fromLatin1(write)) + QLatin1Char('\n'));
            QVERIFY2(line.match(log).hasMatch(), write);
        }
    }

    // The beam stability per band, for a control room's archive: a 37 Hz
    // vibration of 2 um (peak) at the BPMs lies in the 10-100 Hz band.
    void stabilityBandsShowTheVibration()
    {
        SimProcess sim;
        const int port = SimProcess::freePort();
        QVERIFY(startServing(sim, port, {"--vibration", "37:2", "--drift", "0"}));
        RemoteClient client(port);
        QTRY_VERIFY_WITH_TIMEOUT(settled(client), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(client.value("StabilityBandRmsY").toVariant().toList().size() == 4,
                                 5000);
        QCOMPARE(client.value("StabilityBandEdges").toVariant().toList(),
                 QVariantList({0.1, 1.0, 10.0, 100.0}));
        for (const char* axis : {"StabilityBandRmsX", "StabilityBandRmsY"}) {
            const QVariantList bands = client.value(QLatin1String(axis)).toVariant().toList();
            QVERIFY2(std::abs(bands[2].toDouble() / std::sqrt(2.0) - 1.0) < 0.1, axis);
            QVERIFY2(bands[0].toDouble() < 0.2 && bands[1].toDouble() < 0.2, axis);
        }
    }

    // A capture taken by an operator reaches the control room as a change
    // event of PostMortemLast, and PostMortemCount counts it.
    void postMortemCaptureSendsChangeEvent()
    {
        SimProcess sim;
        const int port = SimProcess::freePort();
        QVERIFY(startServing(sim, port, {"--test-console"}));
        RemoteClient client(port);
        QTRY_VERIFY_WITH_TIMEOUT(settled(client), 30000);
        QVERIFY_REPLY(client.ask({{"op", "subscribe"}, {"name", "PostMortemLast"}}));
        sim.process().write("login user StoneHarbour\npress actionPost_Mortem\n"
                            "press captureNowButton\n");
        QVERIFY(sim.waitFor(QStringLiteral("done press\ntest-console: done press")));
        QVERIFY(!sim.output().contains(QStringLiteral("not-found")));
        const auto captured = [&] {
            for (const QJsonValue& v : client.ask({{"op", "events_seen"}})["events"].toArray())
                if (v.toString().endsWith(QLatin1String(" Capture now")))
                    return true;
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(captured(), 15000);
        QCOMPARE(client.value("PostMortemCount").toInt(), 1);
    }

    void endsCleanlyWithinTwoSeconds_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("SIGTERM") << "SIGTERM";
        QTest::newRow("SIGINT") << "SIGINT";
        // Signals that keep coming while the program ends (an impatient
        // operator, a service manager) neither crash it nor change its status.
        QTest::newRow("SIGTERM, more while ending") << "SIGTERM+";
        QTest::newRow("File, Exit") << "exit";
        QTest::newRow("window closed") << "close";
    }
    void endsCleanlyWithinTwoSeconds()
    {
        QFETCH(QString, how);
        SimProcess program;
        const int port = SimProcess::freePort();
        const bool signal = how.startsWith(QLatin1String("SIG"));
        if (signal)
            QVERIFY(startServing(program, port));
        else
            program.start(QStringLiteral(ZEVO_REMOTE_PROBE),
                          {how, QString::number(port), program.home()});
        QVERIFY(program.waitFor(QStringLiteral("Remote access: tango://"), kStartLimitMs));
        // A client keeps reading while the program ends.
        RemoteClient client(port);
        client.send({{"op", "read_many"}, {"name", "Bpm1X"}, {"count", 1000000}});
        QTest::qWait(300);

        int elapsed = -1;
        if (how == QLatin1String("SIGTERM+")) {
            QElapsedTimer clock;
            clock.start();
            for (int n = 0; program.running() && clock.elapsed() < kEndLimitMs; ++n) {
                ::kill(pid_t(program.pid()), n % 3 == 1 ? SIGINT : SIGTERM);
                QTest::qWait(3);
            }
            elapsed = program.running() ? -1 : int(clock.elapsed());
        } else if (signal) {
            elapsed =
                program.endWith(how == QLatin1String("SIGTERM") ? SIGTERM : SIGINT, kEndLimitMs);
        } else {
            QVERIFY(program.waitFor(QStringLiteral("ending"), kStartLimitMs));
            elapsed = program.endWith(0, kEndLimitMs);
        }
        qInfo("ended in %d ms", elapsed);
        QVERIFY2(elapsed >= 0 && elapsed < kEndLimitMs, qPrintable(QString::number(elapsed)));
        QCOMPARE(program.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.process().exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestRemoteServer)
#include "tst_remoteserver.moc"
