// The feedback registered in a Tango database of the tests' own (MariaDB and
// the database server, started by the tangodb-fixture for this test): found by
// name, read as without a database, archived when the beam moves, attribute
// properties from the database honoured, unexported when the program ends,
// started again over its own definitions; refused beside a running server of
// the same name or device; started without the server, within the
// registration's time limit, when the database is down or silent; serving its
// clients on when the database goes away.

#include "remoteclient.h"
#include "support/simprocess.h"

#include "device/configstore.h"
#include "sim/firstrunconfig.h"
#include "sim/scenario.h"

#include <QTcpServer>
#include <QtTest>

namespace
{
const QString kSim = QStringLiteral(ZEVO_SIM_PROGRAM);
const QString kFixture = QStringLiteral(ZEVO_TANGODB_FIXTURE);
const QString kFixtureDir = QStringLiteral(ZEVO_TANGODB_DIR);

// "127.0.0.1:<port>" of the fixture's database server.
QString tangoHost()
{
    QFile env(kFixtureDir + QStringLiteral("/env"));
    env.open(QIODevice::ReadOnly);
    return QString::fromLatin1(env.readAll()).trimmed().section(QLatin1Char('='), 1);
}

// A simulator whose configuration is that of its first start, with the
// server registered in `database` as ZevoLui/`instance`.
struct RegisteredSim : SimProcess {
    RegisteredSim(const QString& database, const QString& instance, const QString& device,
                  bool control = false)
    {
        const QString path = home() + QStringLiteral("/config/zevo/zevo-lui-sim.ini");
        writeFirstRunConfiguration(path, Scenario());
        RemoteSettings remote;
        remote.enabled = true;
        remote.port = SimProcess::freePort();
        remote.database = database;
        remote.serverInstance = instance;
        remote.deviceName = device;
        ConfigStore config(path);
        config.setRemoteServer(remote);
        config.setRemoteControlAllowed(control);
    }
};

bool startRegistered(SimProcess& sim, const QString& device)
{
    sim.start(kSim, {});
    return sim.waitFor(QStringLiteral("Remote access: tango://%1/%2").arg(tangoHost(), device),
                       kStartLimitMs);
}

// What the database says of `device`, asked by a client of its own.
QJsonObject databaseEntry(const QString& device)
{
    RemoteClient client(device, tangoHost());
    return client.ask({{"op", "database"}, {"device", device}});
}

void fixture(const char* what)
{
    QCOMPARE(QProcess::execute(kFixture, {QLatin1String(what), kFixtureDir}), 0);
}

bool settled(RemoteClient& client)
{
    return client.read({"DacOutputs"})["DacOutputs"].toObject()["quality"].toString() ==
           QLatin1String("ATTR_VALID");
}
} // namespace

class TestTangoDatabase : public QObject
{
    Q_OBJECT

private slots:
    void foundByName_archived_propertiesFromDatabase_unexportedAtEnd_startedAgain()
    {
        const QString device = QStringLiteral("test/feedback/1");
        {
            RegisteredSim sim(tangoHost(), "beamline-a", device, true);
            QVERIFY(startRegistered(sim, device));
            QCOMPARE(sim.output().count(QStringLiteral("Defined in the Tango database at ")), 1);
            QVERIFY(sim.output().contains(QStringLiteral(": the server ZevoLui/beamline-a with the "
                                                         "device test/feedback/1 of the class "
                                                         "ZevoFeedback\n")));

            // By name alone, as a scan script with TANGO_HOST finds it.
            RemoteClient client(device, tangoHost());
            QVERIFY2(client.connectReply["ok"].toBool(),
                     qPrintable(client.connectReply["desc"].toString()));
            QCOMPARE(client.connectReply["admin"].toString().section('/', -3),
                     QStringLiteral("dserver/ZevoLui/beamline-a"));
            QTRY_VERIFY_WITH_TIMEOUT(settled(client), 30000);
            // The same attributes as without a database, every one valid.
            SimProcess plain;
            const int port = SimProcess::freePort();
            plain.start(kSim, {"--remote", QString::number(port)});
            QVERIFY(plain.waitFor(QStringLiteral("Remote access: tango://"), kStartLimitMs));
            const QJsonObject values = client.read();
            QCOMPARE(values.keys(), RemoteClient(port).read().keys());
            for (auto it = values.begin(); it != values.end(); ++it)
                QVERIFY2(it.value().toObject()["quality"].toString() == "ATTR_VALID",
                         qPrintable(it.key()));
            QCOMPARE(values["SoftwareVersion"].toObject()["value"].toString(), "1.0.03");

            // The archiver's view: events as the beam is moved 20 um.
            QVERIFY(
                client
                    .ask({{"op", "subscribe"}, {"name", "Bpm1X"}, {"kind", "ARCHIVE_EVENT"}})["ok"]
                    .toBool());
            QVERIFY(client.write("RegulationMode", 1)["ok"].toBool());
            QVERIFY(client.write("SetpointX", 20.0)["ok"].toBool());
            QVERIFY(client.command("FeedbackOn")["ok"].toBool());
            const auto archived = [&] {
                const QJsonArray events = client.ask({{"op", "events_seen"}})["events"].toArray();
                return events.size() >= 3 && std::fabs(events.last().toDouble() - 20.0) < 0.5;
            };
            QTRY_VERIFY_WITH_TIMEOUT(archived(), 30000);

            QCOMPARE(databaseEntry(device)["exported"].toBool(), true);
            QVERIFY(sim.endWith(SIGTERM, kEndLimitMs) >= 0);
        }
        QCOMPARE(databaseEntry(device)["exported"].toBool(), false);

        // What the facility sets in its database is what clients see; the
        // program's own values stay where it sets nothing.
        const QJsonObject property{{"Bpm1X", QJsonObject{{"format", QJsonArray{"%.1f"}},
                                                         {"max_alarm", QJsonArray{"100"}}}}};
        QVERIFY(RemoteClient(device, tangoHost())
                    .ask({{"op", "database"},
                          {"device", device},
                          {"attribute_property", property}})["ok"]
                    .toBool());

        RegisteredSim again(tangoHost(), "beamline-a", device, true);
        QVERIFY(startRegistered(again, device));
        QVERIFY(!again.output().contains(QStringLiteral("Defined in the Tango database")));
        RemoteClient client(device, tangoHost());
        const QJsonObject bpm1x = client.ask({{"op", "config"}, {"name", "Bpm1X"}});
        QCOMPARE(bpm1x["format"].toString(), QStringLiteral("%.1f"));
        QCOMPARE(bpm1x["max_alarm"].toString(), QStringLiteral("100"));
        QCOMPARE(bpm1x["unit"].toString(), QStringLiteral("um"));
        QCOMPARE(bpm1x["archive_abs_change"].toString(), QStringLiteral("0.5"));
        QVERIFY(again.endWith(SIGTERM, kEndLimitMs) >= 0);
        QCOMPARE(again.process().exitCode(), 0);
        QCOMPARE(databaseEntry(device)["exported"].toBool(), false);
    }

    // A second program with the same server, or the same device under another
    // server, is refused with the name of the one that runs; a database that
    // is down or never answers costs at most the registration's time limit.
    // Every one of them runs on without the server.
    void refusedBesideARunningServer_orWithoutADatabase_runsOn()
    {
        const QString device = QStringLiteral("test/feedback/2");
        RegisteredSim first(tangoHost(), "beamline-b", device);
        QVERIFY(startRegistered(first, device));

        RegisteredSim sameServer(tangoHost(), "beamline-b", device);
        sameServer.start(kSim, {});
        QVERIFY(sameServer.waitFor(
            QStringLiteral(
                "Remote access is off: The server ZevoLui/beamline-b (process %1 on host ")
                .arg(first.pid()),
            kStartLimitMs));
        QVERIFY(sameServer.waitFor(QStringLiteral("already runs in the Tango database at ")));

        RegisteredSim sameDevice(tangoHost(), "beamline-c", device);
        sameDevice.start(kSim, {});
        QVERIFY(
            sameDevice.waitFor(QStringLiteral("Remote access is off: The device test/feedback/2 "
                                              "is already served by ZevoLui/beamline-b "
                                              "(process %1 on host ")
                                   .arg(first.pid()),
                               kStartLimitMs));

        const int nobody = SimProcess::freePort();
        RegisteredSim down(QStringLiteral("127.0.0.1:%1").arg(nobody), "x", device);
        QElapsedTimer clock;
        clock.start();
        down.start(kSim, {});
        QVERIFY(down.waitFor(QStringLiteral("Remote access is off: The Tango database at "
                                            "127.0.0.1:%1 does not answer (Connection refused)")
                                 .arg(nobody),
                             kStartLimitMs));
        qInfo("database down: told after %lld ms", clock.elapsed());

        // Accepts connections and never answers.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        RegisteredSim waiting(QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()), "x", device);
        clock.restart();
        waiting.start(kSim, {});
        QVERIFY(waiting.waitFor(QStringLiteral("did not answer within 4 s"), kStartLimitMs));
        qInfo("database silent: told after %lld ms", clock.elapsed());

        QTest::qWait(1000);
        for (SimProcess* sim : {&first, &sameServer, &sameDevice, &down, &waiting})
            QVERIFY(sim->running());
        QCOMPARE(databaseEntry(device)["server"].toString(), QStringLiteral("ZevoLui/beamline-b"));
    }

    // The database of the program's environment, as a facility's start-up
    // script sets it. Clients that have found the device keep being served
    // without the database, and the program still ends cleanly.
    void databaseLostWhileRunning_clientsServed_endsCleanly()
    {
        const QString device = QStringLiteral("test/feedback/3");
        RegisteredSim sim(QStringLiteral("environment"), "beamline-d", device);
        QProcessEnvironment env = sim.process().processEnvironment();
        env.insert(QStringLiteral("TANGO_HOST"), tangoHost());
        sim.process().setProcessEnvironment(env);
        QVERIFY(startRegistered(sim, device));
        RemoteClient client(device, tangoHost());
        QTRY_VERIFY_WITH_TIMEOUT(settled(client), 30000);

        fixture("down");
        for (int k = 0; k < 5; ++k) {
            QTest::qWait(300);
            QCOMPARE(client.read({"Bpm1X"})["Bpm1X"].toObject()["quality"].toString(),
                     QStringLiteral("ATTR_VALID"));
        }
        const int elapsed = sim.endWith(SIGTERM, kEndLimitMs);
        qInfo("ended without the database in %d ms", elapsed);
        fixture("up");
        QVERIFY(elapsed >= 0);
        QCOMPARE(sim.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.process().exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestTangoDatabase)
#include "tst_tangodatabase.moc"
