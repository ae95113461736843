// The beamline configuration window over a scripted controller: what Save
// stores and sends, and in which order (byte for byte); the refused DAC
// assignment; the threshold text with a decimal comma; the panels that follow
// the devices present; gating by user level; the high-voltage readback; and
// how the main window keeps and wires the window.

#include "app/initresources.h"
#include "app/mainwindow.h"
#include "beamline/bpm.h"
#include "beamline/dacconf.h"
#include "beamline/windowbeamlineconf.h"
#include "control/dialoglogin.h"
#include "control/unsavedsettings.h"
#include "plots/widgetgraphxy.h"
#include "support/bytes.h"
#include "support/programfixture.h"
#include "support/widgets.h"

#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>

#include <array>
#include <memory>

using namespace zevo;

namespace
{
constexpr std::array<uint16_t, 4> kOnePico = {0x2101, 0x2200, 0, 0};
constexpr std::array<uint16_t, 4> kTwoPicos = {0x2101, 0x2101, 0x2200, 0};
constexpr std::array<uint16_t, 4> kPicoAndEncoder = {0x2101, 0x2300, 0x2200, 0};

// The messages that set something (direction byte 0x00), leaving out the
// reads of the once-a-second poll.
std::vector<MailboxMessage> settingMessages(const std::vector<MailboxMessage>& all)
{
    std::vector<MailboxMessage> out;
    for (const MailboxMessage& m : all)
        if ((m.command() & 0xFF) == 0x00)
            out.push_back(m);
    return out;
}
} // namespace

class TestWindowBeamlineConf : public QObject
{
    Q_OBJECT

    std::unique_ptr<ProgramFixture> f;
    std::unique_ptr<WindowBeamlineConf> w;

    // The configuration file as it was when each setting message went out.
    struct Snapshot {
        uint32_t command;
        QMap<QString, QString> file;
    };
    std::vector<Snapshot> m_snapshots;

    void startController(std::array<uint16_t, 4> slotIds)
    {
        f = std::make_unique<ProgramFixture>();
        f->controller.plug(slotIds);
        f->controller.onTransfer = [this](const MailboxMessage& m) {
            if ((m.command() & 0xFF) != 0x00 || !theConfig)
                return;
            QSettings file(theConfig->filePath(), QSettings::IniFormat);
            QMap<QString, QString> values;
            for (const QString& key : file.allKeys())
                values[key] = file.value(key).toString();
            m_snapshots.push_back({m.command(), values});
        };
        f->setUp();
    }

    void openWindow()
    {
        w = std::make_unique<WindowBeamlineConf>();
        w->showWindow();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        f->driver.clearCalls();
        m_snapshots.clear();
    }

    template <class T> T* child(const char* name) { return ::child<T>(w.get(), name); }
    template <class T> T* inPanel(const char* panel, const char* name)
    {
        return ::child<T>(child<BPM>(panel), name);
    }
    bool shown(const char* name) { return child<QWidget>(name)->isVisibleTo(w.get()); }

    void press(QDialogButtonBox::StandardButton which) { standardButton(w.get(), which)->click(); }
    std::vector<MailboxMessage> sentSettings() { return settingMessages(f->driver.transfers()); }

    void setDac(int x, int y, int i0)
    {
        child<QComboBox>("positionXComboBox")->setCurrentIndex(x);
        child<QComboBox>("positionYComboBox")->setCurrentIndex(y);
        child<QComboBox>("intensityComboBox")->setCurrentIndex(i0);
    }

    void setPanel(const char* panel, bool is90, std::array<int, 4> channels, double sx, double sy,
                  double ox, double oy)
    {
        BPM* p = child<BPM>(panel);
        p->setOrientation(is90 ? 1 : 0);
        p->setChannels(channels[0], channels[1], channels[2], channels[3]);
        inPanel<QDoubleSpinBox>(panel, "xGain")->setValue(sx);
        inPanel<QDoubleSpinBox>(panel, "yGain")->setValue(sy);
        inPanel<QDoubleSpinBox>(panel, "xOffset")->setValue(ox);
        inPanel<QDoubleSpinBox>(panel, "yOffset")->setValue(oy);
    }

    const Snapshot& snapshotAt(int i) const { return m_snapshots.at(std::size_t(i)); }

private slots:
    void initTestCase() { initResources(); }

    void init()
    {
        controllerVersions.swVersion = QStringLiteral("1.0.03");
        userLevel = 2;
        pidSourceX = pidSourceY = pidSourceI0 = 0;
        m_snapshots.clear();
    }

    void cleanup()
    {
        w.reset();
        if (f)
            f->tearDown();
        f.reset();
        controllerVersions = ControllerVersions{};
        bpmScale = BpmScaleFactors{};
        userLevel = 0;
        pidSourceX = pidSourceY = pidSourceI0 = 0;
    }

    void duplicateDacOutputs_refusedWithNothingStoredOrSent()
    {
        startController(kOnePico);
        openWindow();
        QSignalSpy scaleChanged(w.get(), &WindowBeamlineConf::BPMscaleChanged);
        setDac(0, 0, 2); // CH1, CH1, CH3
        BoxCatcher boxes;
        press(QDialogButtonBox::Save);

        QCOMPARE(int(boxes.boxes.size()), 1);
        QCOMPARE(boxes.boxes[0].title, QStringLiteral("DAC outputs not unique"));
        QCOMPARE(boxes.boxes[0].text, QStringLiteral("DAC outputs must be unique"));
        QVERIFY(!boxes.boxes[0].hasParent);
        QCOMPARE(int(sentSettings().size()), 0);
        QVERIFY(!QFileInfo::exists(theConfig->filePath()));
        QVERIFY(w->isVisible()); // stays open for a correction
        QCOMPARE(scaleChanged.count(), 0);

        press(QDialogButtonBox::Cancel); // closes, sends nothing
        QVERIFY(!w->isVisible());
        QCOMPARE(int(sentSettings().size()), 0);

        // Corrected, the same window saves and closes.
        w->showWindow();
        setDac(0, 1, 2);
        press(QDialogButtonBox::Save);
        QVERIFY(!w->isVisible());
        QCOMPARE(scaleChanged.count(), 1);
    }

    // One BPM: every key is in the file before its message goes out, the
    // messages go out in their fixed order, and nothing is stored or sent
    // for the absent BPM 2 except its threshold.
    void save_oneBpm_storesThenSendsInOrder()
    {
        startController(kOnePico);
        openWindow();
        setDac(2, 0, 1);
        child<QDoubleSpinBox>("beamOffTh")->setValue(12.5);
        child<QDoubleSpinBox>("beamOffTh_2")->setValue(20.0);
        setPanel("boxBPM1", true, {3, 2, 1, 0}, 1000.0, 2.0, 500.0, -0.25);
        QSignalSpy closed(w.get(), &QDialog::accepted);
        press(QDialogButtonBox::Save);

        QCOMPARE(
            hexOf(sentSettings()),
            goldenHex({// DAC assignment: X on CH3, Y on CH1, I0 on CH2
                       "000a0002 00000000 02000100 00000000 0000000000000000 0000000000000000",
                       // beam-off limits of BPM 1 (index 2) and BPM 2 (index 5), amperes
                       "00060002 02000000 0000000000000000 2d431cebe236ea3e 0000000000000000",
                       "00060002 05000000 0000000000000000 f168e388b5f8f43e 0000000000000000",
                       // BPM 1: 90 deg, scale 1000 and 2, offsets 500/1000 and -0.25/2
                       "00040001 00000000 01000000 00000000 0000000000000000 0000000000000000",
                       "00040000 00000000 000000000040 8f40 0000000000000040 0000000000000000",
                       "000a0001 01000000 000000000000e03f 0000000000000000 0000000000000000",
                       "000a0001 00000000 000000000000c0bf 0000000000000000 0000000000000000",
                       "00030001 00000000 03020100 00000000 0000000000000000 0000000000000000",
                       // every loop on BPM 1
                       "000b0001 00000000 0000000000000000 0000000000000000 0000000000000000"}));

        // Stored first, sent second, step by step.
        QCOMPARE(int(m_snapshots.size()), 9);
        QCOMPARE(snapshotAt(0).file.value("Beamline/DAC_posX"), QStringLiteral("2"));
        QVERIFY(!snapshotAt(0).file.contains("Beamline/BeamThreshold"));
        QCOMPARE(snapshotAt(1).file.value("Beamline/BeamThreshold"), QStringLiteral("12.5"));
        QVERIFY(!snapshotAt(1).file.contains("Beamline/BeamThreshold2"));
        QCOMPARE(snapshotAt(2).file.value("Beamline/BeamThreshold2"), QStringLiteral("20"));
        QCOMPARE(snapshotAt(3).file.value("BPM1/Orient"), QStringLiteral("1"));
        QVERIFY(!snapshotAt(3).file.contains("BPM1/Scale_X"));
        QCOMPARE(snapshotAt(4).file.value("BPM1/Scale_Y"), QStringLiteral("2"));
        QVERIFY(!snapshotAt(4).file.contains("BPM1/Offset_X"));
        QCOMPARE(snapshotAt(5).file.value("BPM1/Offset_Y"), QStringLiteral("-0.25"));
        QVERIFY(!snapshotAt(6).file.contains("BPM1/Top"));
        QCOMPARE(snapshotAt(7).file.value("BPM1/Left"), QStringLiteral("0"));
        QCOMPARE(snapshotAt(7).file.value("BPM1/Top"), QStringLiteral("3"));
        for (const QString& key : snapshotAt(8).file.keys())
            QVERIFY2(!key.startsWith("BPM2/"), qPrintable(key));

        QCOMPARE(bpmScale.x(0), 1000.0);
        QCOMPARE(bpmScale.y(0), 2.0);
        QCOMPARE(closed.count(), 1);
    }

    void save_twoBpms_sendsBpm2AndTheSources()
    {
        startController(kTwoPicos);
        openWindow();
        setPanel("boxBPM1", true, {0, 1, 2, 3}, 1.0, 1.0, 0.0, 0.0);
        setPanel("boxBPM2", false, {0, 1, 2, 3}, 4.0, 8.0, 1.0, -1.0);
        child<QRadioButton>("pidSourceX_BPM2")->setChecked(true);
        child<QRadioButton>("pidSourceI_BPM2")->setChecked(true);
        QStringList order;
        connect(w.get(), &WindowBeamlineConf::BPMscaleChanged, this, [&] { order << "scale"; });
        connect(w.get(), &WindowBeamlineConf::BPMselectorChanged, this,
                [&] { order << "selector"; });
        press(QDialogButtonBox::Save);

        const auto sent = sentSettings();
        QCOMPARE(int(sent.size()), 14);
        QCOMPARE(
            hexOf(std::vector<MailboxMessage>(sent.begin() + 8, sent.end())),
            goldenHex({"00040001 01000000 00000000 00000000 0000000000000000 0000000000000000",
                       "00040000 01000000 0000000000001040 0000000000002040 0000000000000000",
                       "000a0001 03000000 000000000000d03f 0000000000000000 0000000000000000",
                       "000a0001 02000000 000000000000c0bf 0000000000000000 0000000000000000",
                       "00030001 01000000 00010203 00000000 0000000000000000 0000000000000000",
                       "000b0001 01000100 0000000000000000 0000000000000000 0000000000000000"}));
        QCOMPARE(snapshotAt(8).file.value("BPM2/Orient"), QStringLiteral("0"));
        QCOMPARE(snapshotAt(12).file.value("BPM2/Right"), QStringLiteral("1"));

        QCOMPARE(int(pidSourceX), 1);
        QCOMPARE(int(pidSourceY), 0);
        QCOMPARE(int(pidSourceI0), 1);
        QCOMPARE(bpmScale.x(1), 4.0);
        QCOMPARE(bpmScale.y(1), 8.0);
        QCOMPARE(order, (QStringList{"scale", "selector"}));
    }

    // The threshold is read from the text the box shows, a decimal comma
    // included; a text in digits of another script falls back to the value
    // instead of switching the beam-off check off with 0.
    void threshold_readFromTheShownText_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("shown");
        QTest::newRow("decimal point") << QLocale::c() << "12.500 uA";
        QTest::newRow("decimal comma") << QLocale(QLocale::German, QLocale::Germany) << "12,500 uA";
        QTest::newRow("other digits") << QLocale(QLocale::Arabic, QLocale::Egypt) << "";
    }
    void threshold_readFromTheShownText()
    {
        QFETCH(QLocale, locale);
        QFETCH(QString, shown);
        startController(kOnePico);
        openWindow();
        auto* box = child<QDoubleSpinBox>("beamOffTh");
        box->setLocale(locale);
        box->setValue(12.5);
        if (!shown.isEmpty())
            QCOMPARE(box->text(), shown);
        press(QDialogButtonBox::Save);

        const auto limits = f->sent(cmd::SetRocLimit);
        QCOMPARE(int(limits.size()), 2);
        QCOMPARE(int(limits[0].u8(4)), 2);
        QCOMPARE(limits[0].f64(8), 0.0);
        QCOMPARE(bytesOf(limits[0]).mid(16, 8), QByteArray::fromHex("2d431cebe236ea3e"));
        QCOMPARE(limits[0].f64(16), 1.25e-05);
        double stored = 0;
        theConfig->getBeamThreshold(&stored, 0);
        QCOMPARE(stored, 12.5);
    }

    // A scale of 0 divides nothing: the offset goes out as entered and the
    // plots keep working in raw units.
    void zeroScale_sendsFiniteOffsetsAndKeepsPlotsUsable()
    {
        startController(kOnePico);
        openWindow();
        setPanel("boxBPM1", true, {0, 1, 2, 3}, 0.0, 0.0, 3.0, -2.0);
        press(QDialogButtonBox::Save);
        const auto offsets = f->sent(cmd::SetBpmOffset);
        QCOMPARE(int(offsets.size()), 2);
        QCOMPARE(offsets[0].f64(8), 3.0);
        QCOMPARE(offsets[1].f64(8), -2.0);
        QCOMPARE(f->sent(cmd::SetBpmScale).at(0).f64(8), 0.0);
        QCOMPARE(theConfig->getScaleX(0), 0.0);
        QCOMPARE(bpmScale.x(0), 1.0);
        QCOMPARE(bpmScale.y(0), 1.0);
    }

    // A configuration file that cannot be written holds nothing back from
    // the controller; the operator is told once everything has been sent.
    void failingWrite_warnsAfterSendingEverything()
    {
        startController(kTwoPicos);
        f->setConfigWritable(false);
        openWindow();

        int sentWhenWarned = -1;
        BoxCatcher catcher;
        catcher.onBox = [&](const BoxCatcher::Box&) {
            sentWhenWarned = int(sentSettings().size());
        };
        press(QDialogButtonBox::Save);

        QCOMPARE(int(catcher.boxes.size()), 1);
        QCOMPARE(catcher.boxes[0].title, settingsNotSavedTitle());
        QCOMPARE(catcher.boxes[0].text, settingsNotSavedText(theConfig->filePath()));
        QCOMPARE(sentWhenWarned, 14);
        QCOMPARE(int(sentSettings().size()), 14);
        QVERIFY(!w->isVisible()); // the controller has the settings
    }

    // The BPM panels are reloaded on every opening; the DAC assignment and
    // the thresholds only when the window is built.
    void loading_panelsEachOpeningDacAndThresholdsOnce()
    {
        startController(kTwoPicos);
        QVERIFY(theConfig->setBeamlineDacs(1, 2, 0));
        QVERIFY(theConfig->setBeamThreshold(0, 3.5));
        QVERIFY(theConfig->setBeamThreshold(1, 7.25));
        QVERIFY(theConfig->setOrient(0, 1));
        QVERIFY(theConfig->setBpmChannels(3, 1, 2, 0, 1));
        QVERIFY(theConfig->setScaleX(1, 50.0));
        QVERIFY(theConfig->setScaleY(1, 60.0));
        QVERIFY(theConfig->setOffsetX(1, 5.0));
        openWindow();

        QCOMPARE(child<QComboBox>("positionXComboBox")->currentText(), QStringLiteral("CH2"));
        QCOMPARE(child<QComboBox>("intensityComboBox")->currentText(), QStringLiteral("CH1"));
        QCOMPARE(child<QDoubleSpinBox>("beamOffTh")->value(), 3.5);
        QCOMPARE(child<QDoubleSpinBox>("beamOffTh_2")->value(), 7.25);
        BPM* second = child<BPM>("boxBPM2");
        QVERIFY(!second->isOrientation90());
        int top = -1, right = -1, bottom = -1, left = -1;
        second->getChannels(top, right, bottom, left);
        QCOMPARE(QVector<int>({top, right, bottom, left}), QVector<int>({3, 1, 2, 0}));
        QCOMPARE(inPanel<QDoubleSpinBox>("boxBPM2", "xGain")->value(), 50.0);
        QCOMPARE(inPanel<QDoubleSpinBox>("boxBPM2", "xOffset")->value(), 5.0);
        QCOMPARE(child<BPM>("boxBPM1")->title(), QStringLiteral("BPM 1"));
        QCOMPARE(second->title(), QStringLiteral("BPM 2"));

        QVERIFY(theConfig->setBeamlineDacs(0, 1, 2));
        QVERIFY(theConfig->setScaleX(1, 70.0));
        w->hide();
        w->showWindow();
        QCOMPARE(child<QComboBox>("positionXComboBox")->currentText(), QStringLiteral("CH2"));
        QCOMPARE(inPanel<QDoubleSpinBox>("boxBPM2", "xGain")->value(), 70.0);
    }

    // A damaged file naming a DAC output the module lacks leaves the form's
    // choice instead of an empty box that Save would send as output 255.
    void loading_unknownDacOutputKeepsTheChoice()
    {
        startController(kOnePico);
        QVERIFY(theConfig->setBeamlineDacs(7, -1, 300)); // 300 reads as 44
        openWindow();
        QCOMPARE(child<QComboBox>("positionXComboBox")->currentText(), QStringLiteral("CH1"));
        QCOMPARE(child<QComboBox>("positionYComboBox")->currentText(), QStringLiteral("CH2"));
        QCOMPARE(child<QComboBox>("intensityComboBox")->currentText(), QStringLiteral("CH3"));
        press(QDialogButtonBox::Save);
        const auto sent = f->sent(cmd::SetDacAssignment);
        QCOMPARE(int(sent.size()), 1);
        QCOMPARE(QVector<int>({sent[0].u8(8), sent[0].u8(9), sent[0].u8(10)}),
                 QVector<int>({0, 1, 2}));
    }

    void devices_secondPanelAndSourcesForExactlyTwo()
    {
        startController(kOnePico);
        pidSourceX = 1;
        openWindow();
        const char* second[] = {"boxBPM2", "pidSourceX_BPM2", "pidSourceY_BPM2", "pidSourceI_BPM2"};
        for (const char* name : second)
            QVERIFY2(!shown(name), name);
        // The process-wide sources pick the buttons, hidden or not.
        QVERIFY(child<QRadioButton>("pidSourceX_BPM2")->isChecked());
        QVERIFY(child<QRadioButton>("pidSourceY_BPM1")->isChecked());

        pidSourceX = 0;
        pidSourceY = 1;
        w->nr_dorvishs_changed(2);
        for (const char* name : second)
            QVERIFY2(shown(name), name);
        QVERIFY(child<QRadioButton>("pidSourceX_BPM1")->isChecked());
        QVERIFY(child<QRadioButton>("pidSourceY_BPM2")->isChecked());
        QVERIFY(shown("beamOffTh"));
        QVERIFY(inPanel<QWidget>("boxBPM1", "hv_widget")->isVisibleTo(w.get()));

        w->nr_dorvishs_changed(3);
        for (const char* name : second)
            QVERIFY2(!shown(name), name);
    }

    void devices_encoderInterfaceShowsEncoderSettings()
    {
        startController(kPicoAndEncoder);
        QVERIFY(f->mailbox->pavunPresent());
        openWindow();
        for (const char* panel : {"boxBPM1", "boxBPM2"}) {
            QVERIFY2(inPanel<QWidget>(panel, "encoderWidget")->isVisibleTo(w.get()), panel);
            QVERIFY2(!inPanel<QWidget>(panel, "hv_widget")->isVisibleTo(w.get()), panel);
        }
        for (const char* name : {"label_4", "pidSourceI_BPM1", "bpmthrLabel", "beamOffTh",
                                 "bpm2thrLabel", "beamOffTh_2"})
            QVERIFY2(!shown(name), name);
        QVERIFY(shown("boxBPM2")); // the encoder interface counts as the second device
        QVERIFY(shown("pidSourceX_BPM1"));
    }

    // Below level 2 only the loop sources can be changed, and saved.
    void gating_levelsBelowAdminChooseSourcesOnly()
    {
        startController(kTwoPicos);
        userLevel = 1;
        openWindow();
        const char* gated[] = {"boxDac", "boxBPM1", "boxBPM2", "beamOffTh", "beamOffTh_2"};
        for (const char* name : gated)
            QVERIFY2(!child<QWidget>(name)->isEnabled(), name);
        QVERIFY(!inPanel<QPushButton>("boxBPM1", "enableHVbutton")->isEnabled());
        auto* ySource = child<QRadioButton>("pidSourceY_BPM2");
        QVERIFY(ySource->isEnabled());
        QVERIFY(child<QDialogButtonBox>("buttonBox")->isEnabled());

        ySource->click();
        press(QDialogButtonBox::Save);
        const auto sources = f->sent(cmd::SetPidSources);
        QCOMPARE(int(sources.size()), 1);
        QCOMPARE(int(sources[0].u8(5)), 1);

        userLevel = 2;
        w->checkUserLevel();
        for (const char* name : gated)
            QVERIFY2(child<QWidget>(name)->isEnabled(), name);
        userLevel = 5; // no such level: nothing changes
        w->checkUserLevel();
        QVERIFY(child<QWidget>("boxDac")->isEnabled());
        userLevel = 0;
        w->checkUserLevel();
        for (const char* name : gated)
            QVERIFY2(!child<QWidget>(name)->isEnabled(), name);
        QVERIFY(ySource->isEnabled());
    }

    // Every 770 ms the panels show their picoammeter's latest readback.
    void refresh_showsHighVoltageReadback()
    {
        startController(kOnePico);
        PicoInfoRecord first{}, second{};
        first.hvState = 0x13; // low four bits: rising
        first.hvVoltage = 99.999f;
        first.hvCurrent = 1.5f;
        second.hvState = kHvOn;
        f->driver.setPicoInfo(0, first);
        f->driver.setPicoInfo(1, second);
        f->updater->updateDorvishs();
        openWindow();

        QTRY_COMPARE_WITH_TIMEOUT(inPanel<QLabel>("boxBPM1", "statusLabel")->text(),
                                  QStringLiteral("HV rising"), 2000);
        QCOMPARE(inPanel<QLineEdit>("boxBPM1", "voltageReadoutLineEdit")->text(),
                 QStringLiteral("100.00V"));
        QCOMPARE(inPanel<QLineEdit>("boxBPM1", "currentReadoutLineEdit")->text(),
                 QStringLiteral("1.50uA"));
        QCOMPARE(inPanel<QLabel>("boxBPM2", "statusLabel")->text(), QString()); // hidden

        w->nr_dorvishs_changed(2);
        QTRY_COMPARE_WITH_TIMEOUT(inPanel<QLabel>("boxBPM2", "statusLabel")->text(),
                                  QStringLiteral("HV ON"), 2000);
    }

    // The main window keeps one window, opens it from its menu, tells it of
    // device changes and user levels, and resets its XY plots after a save.
    void mainWindow_keepsOpensAndWiresTheWindow()
    {
        startController(kOnePico);
        userLevel = 0;
        MainWindow main;
        WindowBeamlineConf* conf = main.beamlineConf();
        QVERIFY(conf);
        QVERIFY(!conf->isVisible());
        main.findChild<QAction*>("action_Beamline_Settings")->trigger();
        QVERIFY(conf->isVisible());
        QCOMPARE(main.beamlineConf(), conf);
        QVERIFY(!conf->findChild<QWidget*>("boxDac")->isEnabled());

        DialogLogin login(&main);
        main.wireUserLevel(&login);
        userLevel = 2;
        emit login.userLevelChanged(2);
        QVERIFY(conf->findChild<QWidget*>("boxDac")->isEnabled());

        f->controller.plug(kTwoPicos);
        f->mailbox->refreshData();
        QCoreApplication::processEvents();
        QVERIFY(conf->findChild<QWidget*>("boxBPM2")->isVisibleTo(conf));

        QCustomPlot* plot = main.graphXY(0)->findChild<QCustomPlot*>();
        main.graphXY(0)->setRegions(100.0, 80.0, 1.5);
        main.graphXY(0)->resetZoom();
        const QCPRange reset = plot->xAxis->range();
        QCOMPARE(reset, QCPRange(-150.0, 150.0));
        plot->xAxis->setRange(-12345.0, 12345.0);
        standardButton(conf, QDialogButtonBox::Save)->click();
        QCOMPARE(plot->xAxis->range(), reset);
        QVERIFY(!conf->isVisible());
    }
};

QTEST_MAIN(TestWindowBeamlineConf)
#include "tst_windowbeamlineconf.moc"
