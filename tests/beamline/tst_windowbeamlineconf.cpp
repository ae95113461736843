// The beamline configuration window over a scripted controller: what Save
// stores and sends, and in which order (byte for byte); the refused DAC
// assignment; the threshold text with a decimal comma; the panels that follow
// the devices present; gating by user level; the high-voltage readback; and
// how the main window keeps and wires the window.

#include "app/initresources.h"
#include "app/mainwindow.h"
#include "beamline/bpm.h"
#include "beamline/windowbeamlineconf.h"
#include "control/dialoglogin.h"
#include "control/unsavedsettings.h"
#include "plots/widgetgraphxy.h"
#include "support/bytes.h"
#include "support/programfixture.h"
#include "support/widgets.h"

#include <QtWidgets>

using namespace zevo;
using Ids = std::array<uint16_t, 4>;

namespace
{
constexpr Ids kOnePico = {0x2101, 0x2200, 0, 0};
constexpr Ids kTwoPicos = {0x2101, 0x2101, 0x2200, 0};

// Messages that set something (direction byte 0x00), not the poll's reads.
bool isSetting(const MailboxMessage& m)
{
    return (m.command() & 0xFF) == 0x00;
}
} // namespace

class TestWindowBeamlineConf : public QObject
{
    Q_OBJECT

    std::unique_ptr<ProgramFixture> f;
    std::unique_ptr<WindowBeamlineConf> w;
    // The configuration file as it was when each setting message went out.
    std::vector<QMap<QString, QString>> m_files;

    // The controller with these devices; with `open`, the window shown over it.
    void start(const Ids& slotIds, bool open = true)
    {
        f = std::make_unique<ProgramFixture>();
        f->controller.plug(slotIds);
        f->controller.onTransfer = [this](const MailboxMessage& m) {
            if (!isSetting(m) || !theConfig)
                return;
            QSettings file(theConfig->filePath(), QSettings::IniFormat);
            QMap<QString, QString> values;
            for (const QString& key : file.allKeys())
                values[key] = file.value(key).toString();
            m_files.push_back(values);
        };
        f->setUp();
        if (open)
            openWindow();
    }
    void openWindow()
    {
        w = std::make_unique<WindowBeamlineConf>();
        w->showWindow();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        f->driver.clearCalls();
        m_files.clear();
    }

    std::vector<MailboxMessage> sentSettings() const
    {
        std::vector<MailboxMessage> out;
        for (const MailboxMessage& m : f->driver.transfers())
            if (isSetting(m))
                out.push_back(m);
        return out;
    }
    template <class T = QWidget> T* get(const char* name) { return child<T>(w.get(), name); }
    template <class T = QWidget> T* inPanel(const char* panel, const char* name)
    {
        return child<T>(get<BPM>(panel), name);
    }
    // Those of the widgets (a panel's as "panel/name") for which `test` holds.
    template <class Test> QStringList which(const QStringList& names, Test test)
    {
        QStringList out;
        for (const QString& path : names) {
            QWidget* at = w.get();
            for (const QString& part : path.split('/'))
                at = child(at, qPrintable(part));
            if (test(at))
                out << path;
        }
        return out;
    }
    QStringList shown(const QStringList& names)
    {
        return which(names, [this](QWidget* x) { return x->isVisibleTo(w.get()); });
    }

    void press(QDialogButtonBox::StandardButton which) { standardButton(w.get(), which)->click(); }
    void setDac(int x, int y, int i0)
    {
        get<QComboBox>("positionXComboBox")->setCurrentIndex(x);
        get<QComboBox>("positionYComboBox")->setCurrentIndex(y);
        get<QComboBox>("intensityComboBox")->setCurrentIndex(i0);
    }
    void setPanel(const char* panel, bool is90, std::array<int, 4> ch, double sx, double sy,
                  double ox, double oy)
    {
        get<BPM>(panel)->setOrientation(is90 ? 1 : 0);
        get<BPM>(panel)->setChannels(ch[0], ch[1], ch[2], ch[3]);
        inPanel<QDoubleSpinBox>(panel, "xGain")->setValue(sx);
        inPanel<QDoubleSpinBox>(panel, "yGain")->setValue(sy);
        inPanel<QDoubleSpinBox>(panel, "xOffset")->setValue(ox);
        inPanel<QDoubleSpinBox>(panel, "yOffset")->setValue(oy);
    }

private slots:
    void initTestCase() { initResources(); }

    void init()
    {
        controllerVersions.swVersion = QStringLiteral("1.0.03");
        userLevel = 2;
        pidSourceX = pidSourceY = pidSourceI0 = 0;
        m_files.clear();
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

    // Two loops on one DAC output: refused, nothing stored or sent, the
    // window stays open for a correction (or Cancel, which sends nothing).
    // One BPM: every key is in the file before its message goes out, the
    // messages go out in their fixed order, and nothing is stored or sent
    // for the absent BPM 2 except its threshold.
    void save_oneBpm_refusedUntilUnique_thenStoresAndSendsInOrder()
    {
        start(kOnePico);
        QSignalSpy scaleChanged(w.get(), &WindowBeamlineConf::BPMscaleChanged);
        setDac(0, 0, 2); // CH1, CH1, CH3
        BoxCatcher boxes;
        press(QDialogButtonBox::Save);
        QCOMPARE(int(boxes.boxes.size()), 1);
        QCOMPARE(boxes.boxes[0].title, QStringLiteral("DAC outputs not unique"));
        QCOMPARE(boxes.boxes[0].text, QStringLiteral("DAC outputs must be unique"));
        QVERIFY(!boxes.boxes[0].hasParent);
        QVERIFY(!QFileInfo::exists(theConfig->filePath()));
        QVERIFY(w->isVisible());
        press(QDialogButtonBox::Cancel);
        QVERIFY(!w->isVisible());
        QCOMPARE(int(sentSettings().size()), 0);
        QCOMPARE(scaleChanged.count(), 0);

        w->showWindow();
        setDac(2, 0, 1);
        get<QDoubleSpinBox>("beamOffTh")->setValue(12.5);
        get<QDoubleSpinBox>("beamOffTh_2")->setValue(20.0);
        setPanel("boxBPM1", true, {3, 2, 1, 0}, 1000.0, 2.0, 500.0, -0.25);
        QSignalSpy closed(w.get(), &QDialog::accepted);
        press(QDialogButtonBox::Save);

        // The DAC assignment (X on CH3, Y on CH1, I0 on CH2); the beam-off
        // limits of BPM 1 (index 2) and BPM 2 (index 5) in amperes; BPM 1's
        // orientation (90 deg), scales 1000 and 2, offsets 500/1000 and
        // -0.25/2, channels; every loop on BPM 1.
        QCOMPARE(hexOf(sentSettings()),
                 goldenHex(
                     {"000a0002 00000000 02000100",
                      "00060002 02000000 0000000000000000 2d431cebe236ea3e",
                      "00060002 05000000 0000000000000000 f168e388b5f8f43e", "00040001 00000000 01",
                      "00040000 00000000 0000000000408f40 0000000000000040",
                      "000a0001 01000000 000000000000e03f", "000a0001 00000000 000000000000c0bf",
                      "00030001 00000000 03020100", "000b0001 00000000"}));

        // Stored first, sent second: the file as message n went out ("-": no key).
        QCOMPARE(int(m_files.size()), 9);
        for (const QString& row :
             QStringList{"0 Beamline/DAC_posX=2", "0 Beamline/BeamThreshold=-",
                         "1 Beamline/BeamThreshold=12.5", "1 Beamline/BeamThreshold2=-",
                         "2 Beamline/BeamThreshold2=20", "3 BPM1/Orient=1", "3 BPM1/Scale_X=-",
                         "4 BPM1/Scale_Y=2", "4 BPM1/Offset_X=-", "5 BPM1/Offset_Y=-0.25",
                         "6 BPM1/Top=-", "7 BPM1/Left=0", "7 BPM1/Top=3"}) {
            const int n = row.section(' ', 0, 0).toInt();
            const QString key = row.section(' ', 1).section('=', 0, 0);
            QCOMPARE(QString("%1 %2=%3").arg(n).arg(key, m_files[n].value(key, "-")), row);
        }
        QCOMPARE(QStringList(m_files[8].keys()).filter("BPM2/"), QStringList());
        QCOMPARE(QVector<double>({bpmScale.x(0), bpmScale.y(0)}), QVector<double>({1000, 2}));
        QCOMPARE(closed.count(), 1);
        QVERIFY(!w->isVisible());
        QCOMPARE(scaleChanged.count(), 1);
    }

    // Two BPMs: BPM 2's messages and the loop sources follow BPM 1's. A
    // configuration file that cannot be written then holds nothing back from
    // the controller; the operator is told once everything has been sent.
    void save_twoBpms_sendsBpm2AndTheSources_evenWhenNotStored()
    {
        start(kTwoPicos);
        setPanel("boxBPM1", true, {0, 1, 2, 3}, 1.0, 1.0, 0.0, 0.0);
        setPanel("boxBPM2", false, {0, 1, 2, 3}, 4.0, 8.0, 1.0, -1.0);
        get<QRadioButton>("pidSourceX_BPM2")->setChecked(true);
        get<QRadioButton>("pidSourceI_BPM2")->setChecked(true);
        QStringList order;
        connect(w.get(), &WindowBeamlineConf::BPMscaleChanged, this, [&] { order << "scale"; });
        connect(w.get(), &WindowBeamlineConf::BPMselectorChanged, this,
                [&] { order << "selector"; });
        press(QDialogButtonBox::Save);

        const auto sent = sentSettings();
        QCOMPARE(int(sent.size()), 14);
        QCOMPARE(
            hexOf(std::vector<MailboxMessage>(sent.begin() + 8, sent.end())),
            goldenHex({"00040001 01000000", "00040000 01000000 0000000000001040 0000000000002040",
                       "000a0001 03000000 000000000000d03f", "000a0001 02000000 000000000000c0bf",
                       "00030001 01000000 00010203", "000b0001 01000100"}));
        QCOMPARE(m_files[8].value("BPM2/Orient"), QStringLiteral("0"));
        QCOMPARE(m_files[12].value("BPM2/Right"), QStringLiteral("1"));
        QCOMPARE(QVector<int>({pidSourceX, pidSourceY, pidSourceI0}), QVector<int>({1, 0, 1}));
        QCOMPARE(QVector<double>({bpmScale.x(1), bpmScale.y(1)}), QVector<double>({4, 8}));
        QCOMPARE(order, (QStringList{"scale", "selector"}));

        f->setConfigWritable(false);
        w->showWindow();
        f->driver.clearCalls();
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

    // The threshold is read from the text the box shows, a decimal comma
    // included; a text in digits of another script falls back to the value
    // instead of switching the beam-off check off with 0.
    void threshold_readFromTheShownText()
    {
        start(kOnePico);
        auto* box = get<QDoubleSpinBox>("beamOffTh");
        for (const auto& [locale, shown] : {std::pair{QLocale::c(), "12.500 uA"},
                                            {QLocale(QLocale::German), "12,500 uA"},
                                            {QLocale(QLocale::Arabic, QLocale::Egypt), ""}}) {
            w->showWindow();
            f->driver.clearCalls();
            box->setValue(1.0);
            box->setLocale(locale);
            box->setValue(12.5);
            if (*shown)
                QCOMPARE(box->text(), QString(shown));
            press(QDialogButtonBox::Save);
            const auto limits = f->sent(cmd::SetRocLimit);
            QCOMPARE(int(limits.size()), 2);
            QCOMPARE(QStringList(locale.name()) + hexOf({limits[0]}), // 1.25e-5 A
                     QStringList(locale.name()) +
                         goldenHex({"00060002 02000000 0000000000000000 2d431cebe236ea3e"}));
            double stored = 0;
            theConfig->getBeamThreshold(&stored, 0);
            QCOMPARE(stored, 12.5);
        }
    }

    // The BPM panels are reloaded on every opening; the DAC assignment and
    // the thresholds only when the window is built.
    void loading_panelsEachOpeningDacAndThresholdsOnce()
    {
        start(kTwoPicos, false);
        QVERIFY(theConfig->setBeamlineDacs(1, 2, 0) && theConfig->setBeamThreshold(0, 3.5) &&
                theConfig->setBeamThreshold(1, 7.25) && theConfig->setOrient(0, 1) &&
                theConfig->setBpmChannels(3, 1, 2, 0, 1) && theConfig->setScaleX(1, 50.0) &&
                theConfig->setOffsetX(1, 5.0));
        openWindow();
        // X's and I0's DAC output, both thresholds, BPM 2's gain and offset.
        auto loaded = [&] {
            return QString("%1 %2 %3 %4 %5 %6")
                .arg(get<QComboBox>("positionXComboBox")->currentText(),
                     get<QComboBox>("intensityComboBox")->currentText())
                .arg(get<QDoubleSpinBox>("beamOffTh")->value())
                .arg(get<QDoubleSpinBox>("beamOffTh_2")->value())
                .arg(inPanel<QDoubleSpinBox>("boxBPM2", "xGain")->value())
                .arg(inPanel<QDoubleSpinBox>("boxBPM2", "xOffset")->value());
        };
        QCOMPARE(loaded(), QStringLiteral("CH2 CH1 3.5 7.25 50 5"));
        BPM* second = get<BPM>("boxBPM2");
        QVERIFY(!second->isOrientation90());
        int top = -1, right = -1, bottom = -1, left = -1;
        second->getChannels(top, right, bottom, left);
        QCOMPARE(QVector<int>({top, right, bottom, left}), QVector<int>({3, 1, 2, 0}));

        QVERIFY(theConfig->setBeamlineDacs(0, 1, 2) && theConfig->setScaleX(1, 70.0));
        w->hide();
        w->showWindow();
        QCOMPARE(loaded(), QStringLiteral("CH2 CH1 3.5 7.25 70 5"));
    }

    // A damaged file naming a DAC output the module lacks leaves the form's
    // choice instead of an empty box that Save would send as output 255. A
    // scale of 0 divides nothing: the offset goes out as entered, and the
    // plots keep working in raw units.
    void damagedDacAndZeroScale_stillSendUsableValues()
    {
        start(kOnePico, false);
        QVERIFY(theConfig->setBeamlineDacs(7, -1, 300)); // 300 reads as 44
        openWindow();
        setPanel("boxBPM1", true, {0, 1, 2, 3}, 0.0, 0.0, 3.0, -2.0);
        press(QDialogButtonBox::Save);
        QCOMPARE(hexOf(f->sent(cmd::SetDacAssignment)), goldenHex({"000a0002 00000000 000102"}));
        QCOMPARE(hexOf(f->sent(cmd::SetBpmScale)), goldenHex({"00040000"}));
        QCOMPARE(hexOf(f->sent(cmd::SetBpmOffset)),
                 goldenHex(
                     {"000a0001 01000000 0000000000000840", "000a0001 00000000 00000000000000c0"}));
        QCOMPARE(theConfig->getScaleX(0), 0.0);
        QCOMPARE(QVector<double>({bpmScale.x(0), bpmScale.y(0)}), QVector<double>({1, 1}));
    }

    // The second panel and its source buttons for exactly two devices; an
    // encoder interface (counted as the second device) swaps high voltage
    // for the encoder settings and drops the intensity and thresholds. Every
    // 770 ms the panels show their picoammeter's latest readback.
    void devices_panelsFollowWhatIsPlugged()
    {
        const QStringList second = {"boxBPM2", "pidSourceX_BPM2", "pidSourceY_BPM2",
                                    "pidSourceI_BPM2"};
        start(kOnePico, false);
        PicoInfoRecord first{}, other{};
        first.hvState = 0x13; // low four bits: rising
        first.hvVoltage = 99.999f;
        first.hvCurrent = 1.5f;
        other.hvState = kHvOn;
        f->driver.setPicoInfo(0, first);
        f->driver.setPicoInfo(1, other);
        f->updater->updateDorvishs();
        pidSourceX = 1;
        openWindow();
        QCOMPARE(shown(second), QStringList());
        auto readback = [&](const char* panel) {
            return QStringList{inPanel<QLabel>(panel, "statusLabel")->text(),
                               inPanel<QLineEdit>(panel, "voltageReadoutLineEdit")->text(),
                               inPanel<QLineEdit>(panel, "currentReadoutLineEdit")->text()};
        };
        QTRY_COMPARE_WITH_TIMEOUT(readback("boxBPM1"),
                                  (QStringList{"HV rising", "100.00V", "1.50uA"}), 2000);
        QCOMPARE(readback("boxBPM2").first(), QString()); // hidden
        // The process-wide sources pick the buttons, hidden or not.
        QVERIFY(get<QRadioButton>("pidSourceX_BPM2")->isChecked());
        QVERIFY(get<QRadioButton>("pidSourceY_BPM1")->isChecked());

        pidSourceX = 0;
        pidSourceY = 1;
        w->nr_dorvishs_changed(2);
        const QStringList two = second + QStringList{"beamOffTh", "boxBPM1/hv_widget"};
        QCOMPARE(shown(two), two);
        QVERIFY(get<QRadioButton>("pidSourceX_BPM1")->isChecked());
        QVERIFY(get<QRadioButton>("pidSourceY_BPM2")->isChecked());
        QTRY_COMPARE_WITH_TIMEOUT(readback("boxBPM2").first(), QStringLiteral("HV ON"), 2000);
        w->nr_dorvishs_changed(3);
        QCOMPARE(shown(second), QStringList());

        w.reset();
        f->tearDown();
        start({0x2101, 0x2300, 0x2200, 0});
        QVERIFY(f->mailbox->pavunPresent());
        const QStringList on = {"boxBPM1/encoderWidget", "boxBPM2/encoderWidget", "boxBPM2",
                                "pidSourceX_BPM1"};
        QCOMPARE(shown(on + QStringList{"boxBPM1/hv_widget", "boxBPM2/hv_widget", "label_4",
                                        "pidSourceI_BPM1", "bpmthrLabel", "beamOffTh",
                                        "bpm2thrLabel", "beamOffTh_2"}),
                 on);
    }

    // Below level 2 only the loop sources can be changed, and saved.
    void gating_levelsBelowAdminChooseSourcesOnly()
    {
        start(kTwoPicos, false);
        userLevel = 1;
        openWindow();
        const QStringList gated = {"boxDac",    "boxBPM1",     "boxBPM2",
                                   "beamOffTh", "beamOffTh_2", "boxBPM1/enableHVbutton"};
        const QStringList free = {"pidSourceY_BPM2", "buttonBox"};
        auto enabledAt = [&](int level) {
            userLevel = level;
            w->checkUserLevel();
            return which(gated + free, [](QWidget* x) { return x->isEnabled(); });
        };
        QCOMPARE(enabledAt(1), free);
        get<QRadioButton>("pidSourceY_BPM2")->click();
        press(QDialogButtonBox::Save);
        const auto sources = f->sent(cmd::SetPidSources);
        QCOMPARE(int(sources.size()), 1);
        QCOMPARE(int(sources[0].u8(5)), 1);

        QCOMPARE(enabledAt(2), gated + free);
        QCOMPARE(enabledAt(5), gated + free); // no such level: nothing changes
        QCOMPARE(enabledAt(0), free);
    }

    // The main window keeps one window, opens it from its menu, tells it of
    // device changes and user levels, and resets its XY plots after a save.
    void mainWindow_keepsOpensAndWiresTheWindow()
    {
        start(kOnePico, false);
        userLevel = 0;
        MainWindow main;
        WindowBeamlineConf* conf = main.beamlineConf();
        QVERIFY(conf && !conf->isVisible());
        main.findChild<QAction*>("action_Beamline_Settings")->trigger();
        QVERIFY(conf->isVisible());
        QCOMPARE(main.beamlineConf(), conf);
        QVERIFY(!child(conf, "boxDac")->isEnabled());

        DialogLogin login(&main);
        main.wireUserLevel(&login);
        userLevel = 2;
        emit login.userLevelChanged(2);
        QVERIFY(child(conf, "boxDac")->isEnabled());

        f->controller.plug(kTwoPicos);
        f->mailbox->refreshData();
        QCoreApplication::processEvents();
        QVERIFY(child(conf, "boxBPM2")->isVisibleTo(conf));

        QCustomPlot* plot = main.graphXY(0)->findChild<QCustomPlot*>();
        main.graphXY(0)->setRegions(100.0, 80.0, 1.5);
        main.graphXY(0)->resetZoom();
        QCOMPARE(plot->xAxis->range(), QCPRange(-150.0, 150.0));
        plot->xAxis->setRange(-12345.0, 12345.0);
        standardButton(conf, QDialogButtonBox::Save)->click();
        QCOMPARE(plot->xAxis->range(), QCPRange(-150.0, 150.0));
        QVERIFY(!conf->isVisible());
    }
};

QTEST_MAIN(TestWindowBeamlineConf)
#include "tst_windowbeamlineconf.moc"
