// The production program, as it is packaged, on the virtual controller: its
// own driver (open, ioctl and read on the /dev/zevo_* nodes with the real
// request codes), the acquisition library it finds with dlopen() and the
// library's lookup of SAMP_FREQ in the executable. The nodes are umockdev's,
// served by the virtual controller in this process; the library is the
// stand-in built beside this test. The operator's actions come through the
// remote interface and through the operator probe (standin/operatorprobe),
// preloaded into the program. The program runs in a mount namespace of
// its own whose /opt and /var/lock are folders of this test, so that its
// settings file and operator lock never touch the machine's, and without
// DAC override, so that a node's mode applies to it as to an operator.
//
// ZEVO_PRODUCTION_PROGRAM names another executable to run (the one from the
// package).

#include "remoteclient.h"
#include "sim/firstrunconfig.h"
#include "sim/nodes/emulatednodes.h"
#include "support/simprocess.h"

#include <QtTest>

#include <cerrno>

namespace
{
using namespace zevo;

const QString kMissingDriverTitle = QStringLiteral("Cannot open file");

// How long the program may take to start serving, and each later step.
constexpr int kStartLimitMs = 15000, kStepLimitMs = 15000;

// Titles of the top-level windows on the X display.
QString windowTitles()
{
    QProcess tree;
    tree.start(QStringLiteral("xwininfo"), {"-root", "-tree"});
    tree.waitForFinished(5000);
    return QString::fromLocal8Bit(tree.readAllStandardOutput());
}

// The production program under the emulation, with the remote interface on
// (it ends the program cleanly on SIGTERM, and lets the test act as the
// beamline's control system).
class ProductionRun : public SimProcess
{
public:
    ProductionRun(EmulatedNodes& nodes, const char* libraryDir) : port(freePort())
    {
        QDir(home()).mkpath(QStringLiteral("opt/Quorvex/ZEVO"));
        QDir(home()).mkpath(QStringLiteral("lock"));
        // The settings of a beamline set up before, as the controller holds.
        const QString configPath = home() + QStringLiteral("/opt/Quorvex/ZEVO/config.ini");
        writeFirstRunConfiguration(configPath, nodes.controller().scenario());
        QFile config(configPath);
        config.open(QIODevice::Append);
        config.write("\n[Remote]\nEnabled=true\nControlAllowed=true\nPort=" +
                     QByteArray::number(port) + '\n');
        config.close();
        QProcessEnvironment env = process().processEnvironment();
        env.insert(QStringLiteral("UMOCKDEV_DIR"), nodes.root());
        env.insert(QStringLiteral("LD_LIBRARY_PATH"), QString::fromLocal8Bit(libraryDir));
        env.remove(QStringLiteral("QT_QPA_PLATFORM")); // on the X display
        process().setProcessEnvironment(env);
        const QString inside = QStringLiteral(
            "mount --bind \"$0/opt\" /opt && mount --bind \"$0/lock\" /var/lock ||\n"
            "{ echo 'no /opt and /var/lock of its own' >&2; exit 97; }\n"
            "exec setpriv --bounding-set=-dac_override,-dac_read_search "
            "env LD_PRELOAD=\"libumockdev-preload.so.0 " ZEVO_OPERATOR_PROBE "\" \"$@\"");
        start(QStringLiteral("unshare"),
              {"--user", "--map-root-user", "--mount", "sh", "-c", inside, home(),
               qEnvironmentVariable("ZEVO_PRODUCTION_PROGRAM", ZEVO_PRODUCTION_PROGRAM)});
    }

    bool serving() { return waitFor(QStringLiteral("Remote access: tango://"), kStartLimitMs); }

    // A command to the operator probe, and the probe's report `what`.
    QString ask(const QByteArray& command, const QString& what)
    {
        process().write(command + '\n');
        const int from = output().size();
        if (!waitFor(QStringLiteral("probe: done ") + command.split(' ').first(), kStepLimitMs))
            return QString();
        return output().mid(from).section(QStringLiteral("probe: ") + what, 1).section('\n', 0, 0);
    }

    // SIGTERM, as a shutdown of the computer sends it: a clean end.
    int exitCode()
    {
        if (endWith(SIGTERM, kStepLimitMs) < 0)
            return -1;
        return process().exitStatus() == QProcess::NormalExit ? process().exitCode() : -2;
    }

    const int port;
};

FirmwareSettings firmware(EmulatedNodes& nodes)
{
    FirmwareSettings settings;
    nodes.controller().inspect([&](const VirtualController& c) { settings = c.settings(); });
    return settings;
}
} // namespace

class TestProduction : public QObject
{
    Q_OBJECT

private slots:
    // The whole job: start-up on the nodes, the live display through the
    // library, the poll, the control system switching the feedback, a
    // clean end.
    void runsOnTheVirtualController()
    {
        EmulatedNodes nodes;
        ProductionRun run(nodes, ZEVO_STANDIN_DIR);
        QVERIFY2(run.serving(), qPrintable(run.errors()));

        // Display cycles fetch through the library's read() on the display
        // node; the poll reads the statistics, the slots and both
        // picoammeters.
        QTRY_VERIFY2_WITH_TIMEOUT(nodes.requests(kDisplayNode, 0) >= 3, qPrintable(run.errors()),
                                  kStepLimitMs);
        QVERIFY(nodes.requests(kMailboxNode, MBOX_IOC_READ_STATUS) > 0);
        QVERIFY(nodes.requests(kPico0Node, AMM_IOC_GET_INFO) > 0);
        QVERIFY(nodes.requests(kPico1Node, AMM_IOC_GET_INFO) > 0);
        const auto sent = nodes.mailboxCommands();
        QVERIFY(std::count(sent.begin(), sent.end(), cmd::ReadSlot) >= kSlotCount);
        QVERIFY(!windowTitles().contains(kMissingDriverTitle));
        QVERIFY(windowTitles().contains(
            QStringLiteral("\"ZEVO Local User Interface v1.0\": (\"zevo-lui\" \"zevo-lui\")")));

        // Both BPMs' statistics reach the control system as the controller
        // keeps them.
        RemoteClient client(run.port);
        QVERIFY2(client.connectReply["ok"].toBool(),
                 qPrintable(client.connectReply["reason"].toString()));
        BpmStatistics truth[2];
        nodes.controller().inspect([&](const VirtualController& c) {
            MailboxStatusBlock block;
            c.readStatus(block);
            truth[0] = block.bpm[0];
            truth[1] = block.bpm[1];
        });
        for (int bpm = 0; bpm < 2; ++bpm) {
            const double i0 = client.value(QStringLiteral("Bpm%1I0").arg(bpm + 1)).toDouble();
            QVERIFY2(i0 > 0 && qAbs(i0 - truth[bpm].i0Mean) < 0.05 * truth[bpm].i0Mean,
                     qPrintable(QString::number(i0)));
        }

        // Feedback on, a setpoint, feedback off: each reaches the firmware.
        QVERIFY(client.command(QStringLiteral("FeedbackOn"))["ok"].toBool());
        QTRY_VERIFY_WITH_TIMEOUT(firmware(nodes).feedbackEnabled, kStepLimitMs);
        // 12.5 um at the control system is 0.0125 mm at the controller.
        QVERIFY(client.write(QStringLiteral("SetpointX"), 12.5)["ok"].toBool());
        QTRY_COMPARE_WITH_TIMEOUT(firmware(nodes).setpoint[kPidX], 0.0125, kStepLimitMs);
        QVERIFY(client.command(QStringLiteral("FeedbackOff"))["ok"].toBool());
        QTRY_VERIFY_WITH_TIMEOUT(!firmware(nodes).feedbackEnabled, kStepLimitMs);

        // The administrator's step response on X reads the display node and
        // finds the beamline's gain.
        QCOMPARE(run.ask("login admin KiteRiverSun", "done "), QStringLiteral("login"));
        const int displayReads = nodes.requests(kDisplayNode, 0);
        const double gain = run.ask("step-response 0.5", "K ").toDouble();
        QVERIFY2(qAbs(gain - BeamlineModel::positionGain(0, kPidX)) <=
                     0.1 * qAbs(BeamlineModel::positionGain(0, kPidX)),
                 qPrintable(run.output()));
        QVERIFY(nodes.requests(kDisplayNode, 0) > displayReads);

        // File -> Exit.
        QCOMPARE(run.ask("exit", "done "), QStringLiteral("exit"));
        QVERIFY(run.process().waitForFinished(kStepLimitMs));
        QCOMPARE(run.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.process().exitCode(), 0);
        QVERIFY2(!run.errors().contains(QStringLiteral("libzevo:")), qPrintable(run.errors()));
    }

    // What only the production path can meet: a library without getBuffer
    // and nodes an operator outside the device group cannot open end in the
    // missing-driver message; a driver of another version that knows none of
    // the requests leaves the display running without a word.
    // Never a crash or a hang: each run ends cleanly.
    void faults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("missingDriver");
        QTest::newRow("library without getBuffer") << "library" << true;
        QTest::newRow("nodes refuse open (EACCES)") << "EACCES" << true;
        QTest::newRow("requests unknown (ENOTTY)") << "ENOTTY" << false;
    }
    void faults()
    {
        QFETCH(QString, fault);
        QFETCH(bool, missingDriver);
        EmulatedNodes nodes;
        for (const char* node : {kMailboxNode, kDisplayNode, kPico0Node, kPico1Node, kDacNode}) {
            if (fault == "EACCES" || (fault == "ENOTTY" && node != kDisplayNode))
                nodes.fail(node, fault == "EACCES" ? EACCES : ENOTTY);
        }
        ProductionRun run(nodes, fault == "library" ? ZEVO_NOGETBUFFER_DIR : ZEVO_STANDIN_DIR);
        QVERIFY2(run.serving(), qPrintable(run.errors()));
        if (missingDriver) {
            QTRY_VERIFY_WITH_TIMEOUT(windowTitles().contains(kMissingDriverTitle), kStepLimitMs);
            QCOMPARE(nodes.requests(kDisplayNode, 0), 0);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(nodes.requests(kDisplayNode, 0) >= 3, kStepLimitMs);
            QVERIFY(nodes.requests(kMailboxNode, MBOX_IOC_READ_STATUS) > 0);
            QVERIFY(!windowTitles().contains(kMissingDriverTitle));
        }
        if (fault == "EACCES")
            QCOMPARE(nodes.requests(kMailboxNode, MBOX_IOC_TRANSFER), 0);
        QVERIFY(run.running());
        QCOMPARE(run.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestProduction)
#include "tst_production.moc"
