// The simulator's own front: command-line scenario options, the Simulation
// window, and the configuration file it writes on its first start.

#include "sim/firstrunconfig.h"
#include "sim/scenariooptions.h"
#include "sim/simulationwindow.h"
#include "simrig.h"
#include "support/screenshot.h"
#include "support/widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QtTest>

namespace
{
// argv as main() gets it from a command line: writable strings, null-terminated.
struct Args {
    QList<QByteArray> storage;
    std::vector<char*> argv;
    int argc = 0;

    explicit Args(const char* line) : storage(QByteArray(line).split(' '))
    {
        for (QByteArray& s : storage)
            argv.push_back(s.data());
        argv.push_back(nullptr);
        argc = int(storage.size());
    }
    QStringList remaining() const
    {
        QStringList l;
        for (int i = 0; i < argc; ++i)
            l << QString::fromLocal8Bit(argv[std::size_t(i)]);
        return l;
    }
};
} // namespace

class TestSimFrontend : public QObject
{
    Q_OBJECT

private slots:
    void optionsSetTheScenarioAndLeaveTheRestForQt()
    {
        Args a("zevo-lui-sim -platform offscreen --noise=0.5 --old-firmware --wiring1 4,3,2,1 "
               "--detector45 2 --seed 7 --no-beam --firmware-version 1.0.02 --style Fusion "
               "--drift 0");
        Scenario s;
        QString message;
        QCOMPARE(ScenarioOptions::parse(a.argc, a.argv.data(), &s, &message),
                 ScenarioOptions::Outcome::Run);
        QCOMPARE(a.remaining(),
                 (QStringList{"zevo-lui-sim", "-platform", "offscreen", "--style", "Fusion"}));
        QCOMPARE(a.argv[std::size_t(a.argc)], nullptr);
        QCOMPARE(QVector<double>({s.noiseLevel, s.driftLevel, double(s.seed), 1.0 * s.picoCount()}),
                 QVector<double>({0.5, 0.0, 7, 2}));
        QVERIFY(!s.versionCommands && !s.beamPresent && s.dacPlugged());
        QCOMPARE(s.wiring[0].channel, (std::array<int, 4>{3, 2, 1, 0}));
        QVERIFY(s.wiring[0].orientation90 && !s.wiring[1].orientation90);
        QCOMPARE(MailboxComm::versionText(s.swVersion), QStringLiteral("1.0.02"));

        // An encoder interface takes the second picoammeter's place.
        Scenario e;
        Args enc("zevo-lui-sim --encoder");
        ScenarioOptions::parse(enc.argc, enc.argv.data(), &e, nullptr);
        QVERIFY(e.picoCount() == 1 && e.encoderPlugged());

        // A bad value is refused as a whole: nothing half applied.
        Scenario untouched;
        Args bad("zevo-lui-sim --noise 2 --wiring2 1,2,3,5");
        QCOMPARE(ScenarioOptions::parse(bad.argc, bad.argv.data(), &untouched, &message),
                 ScenarioOptions::Outcome::Error);
        QVERIFY(message.contains(QStringLiteral("--wiring2")));
        QCOMPARE(untouched.noiseLevel, 1.0);

        // Vibration lines and pick-up in micrometres; lines that cannot be
        // read are refused.
        Scenario v;
        Args lines("zevo-lui-sim --vibration 37:2,12.5:0.25 --mains=0.1");
        QCOMPARE(ScenarioOptions::parse(lines.argc, lines.argv.data(), &v, &message),
                 ScenarioOptions::Outcome::Run);
        QCOMPARE(ScenarioOptions::formatVibration(v.vibration), QStringLiteral("37:2,12.5:0.25"));
        QCOMPARE(v.mainsMicrometres, 0.1);
        for (const char* wrong : {"37", "37:-1", "0:1", "37:1,x:2", "37:1:2", "60000:1"}) {
            std::vector<VibrationLine> kept{{1.0, 1.0}};
            QVERIFY2(!ScenarioOptions::parseVibration(QLatin1String(wrong), &kept), wrong);
            QCOMPARE(kept.size(), std::size_t(1));
        }
        QVERIFY(ScenarioOptions::parseVibration(QStringLiteral("none"), &v.vibration));
        QVERIFY(v.vibration.empty());

        Args help("zevo-lui-sim --help");
        QCOMPARE(ScenarioOptions::parse(help.argc, help.argv.data(), &s, &message),
                 ScenarioOptions::Outcome::Help);
        QVERIFY(message.contains(QStringLiteral("--pico-count")));
    }

    // The boxes show the live scenario and change it; what the driver then does
    // with a changed scenario is the mailbox test's business.
    void windowChangesTheVirtualHardware()
    {
        SimRig rig;
        SimulationWindow window(rig.driver);
        window.showWindow();
        if (screenshotsWanted()) {
            rig.driver.changeScenario([](Scenario& sc) { sc.noiseLevel = sc.driftLevel = 1.0; });
            rig.advance(3.0);
            window.showWindow(); // the status as it is now
            QVERIFY(saveScreenshot(window, QStringLiteral("simulation.png")));
        }
        auto* beam = child<QCheckBox>(window, "beamPresentCheckBox");
        auto* noise = child<QDoubleSpinBox>(window, "noiseSpinBox");
        auto* slotD = child<QComboBox>(window, "slotDComboBox");
        const auto device = [&window](const char* box) {
            return Scenario::Device(child<QComboBox>(window, box)->currentData().toInt());
        };
        beam->click();
        child<QCheckBox>(window, "legacyFirmwareCheckBox")->click();
        noise->setValue(2.5);
        child<QDoubleSpinBox>(window, "driftSpinBox")->setValue(0.5);
        slotD->setCurrentIndex(slotD->findData(int(Scenario::Device::Unknown)));
        const Scenario s = rig.driver.scenario();
        QVERIFY(!s.beamPresent && !s.versionCommands);
        QCOMPARE(QVector<double>({s.noiseLevel, s.driftLevel}), QVector<double>({2.5, 0.5}));
        QCOMPARE(s.slotContents[3].deviceId, Scenario::kUnknownDeviceId);
        QCOMPARE(s.slotContents[0].serial, Scenario().slotContents[0].serial);

        // Vibration lines as typed; a line that cannot be read keeps the old ones.
        auto* vibration = child<QLineEdit>(window, "vibrationLineEdit");
        QCOMPARE(vibration->text(), QStringLiteral("37:0.4"));
        vibration->setText(QStringLiteral("20:3"));
        emit vibration->editingFinished();
        child<QDoubleSpinBox>(window, "mainsSpinBox")->setValue(0.2);
        vibration->setText(QStringLiteral("20:3,oops"));
        emit vibration->editingFinished();
        QCOMPARE(ScenarioOptions::formatVibration(rig.driver.scenario().vibration),
                 QStringLiteral("20:3"));
        QCOMPARE(rig.driver.scenario().mainsMicrometres, 0.2);

        // Reopened, the window shows the scenario as it now is.
        rig.driver.changeScenario([](Scenario& sc) { sc.plug(0, Scenario::Device::Empty); });
        window.showWindow();
        QCOMPARE(device("slotAComboBox"), Scenario::Device::Empty);
        QCOMPARE(device("slotDComboBox"), Scenario::Device::Unknown);
    }

    void firstStartWritesAMatchingConfiguration()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/zevo/zevo-lui-sim.ini");
        Scenario s;
        s.wiring[1].channel = {1, 2, 3, 0};
        QVERIFY(writeFirstRunConfiguration(path, s));

        ConfigStore store(path);
        const FirmwareSettings boot;
        int t, r, b, l;
        store.getBpmChannels(&t, &r, &b, &l, 1);
        QCOMPARE((std::array<int, 4>{t, r, b, l}), s.wiring[1].channel);
        QCOMPARE(store.getOrient(0), 1);
        double freq, kp, ki, kd, emin, imax, omin, omax, ogain, offset;
        store.getPidY(&freq, &kp, &ki, &kd, &emin, &imax, &omin, &omax, &ogain, &offset);
        QCOMPARE(offset, boot.pidOffset[1]);
        QCOMPARE(kp, boot.active[1].kp);
        QCOMPARE(100000.0 / freq, double(boot.pidDivider[1]));
        // The region of control in the file is the controller's, in raw units.
        double roiX, roiY, i0Min, i0Max, roc, threshold;
        store.getRocRoi(&roiX, &roiY, &i0Min, &i0Max, &roc, 0);
        store.getBeamThreshold(&threshold, 0);
        QCOMPARE(roiX * roc / 100 / store.getScaleX(0), boot.rocHigh[0]);
        QCOMPARE(threshold * 1e-6, boot.rocHigh[2]);

        // An existing file is the operator's: left alone.
        store.setScaleX(0, 42.0);
        QVERIFY(writeFirstRunConfiguration(path, s));
        QCOMPARE(store.getScaleX(0), 42.0);
    }
};

QTEST_MAIN(TestSimFrontend)
#include "tst_simfrontend.moc"
