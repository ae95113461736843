// The beamline configuration window over a scripted controller: what Save
// stores and sends, and in which order (byte for byte); the refused DAC
// assignment; the threshold text with a decimal comma; the high-voltage
// readback; and, in every window, what follows the devices plugged in. (Who
// may change what: tst_windowpidparams.)

#include "app/initresources.h"
#include "app/mainwindow.h"
#include "beamline/bpm.h"
#include "beamline/windowbeamlineconf.h"
#include "beamline/windowpico.h"
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
} // namespace

class TestWindowBeamlineConf : public QObject
{
    Q_OBJECT

    std::unique_ptr<ProgramFixture> f;
    std::unique_ptr<WindowBeamlineConf> w;

    // The controller with these devices; with `open`, the window shown over it.
    void start(const Ids& slotIds, bool open = true)
    {
        f = std::make_unique<ProgramFixture>();
        f->controller.plug(slotIds);
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
    }
    // What the configuration file holds under these keys ("-": nothing).
    QStringList stored(const QStringList& keys) const
    {
        QSettings file(theConfig->filePath(), QSettings::IniFormat);
        QStringList out;
        for (const QString& key : keys)
            out << key + "=" + file.value(key, "-").toString();
        return out;
    }

    template <class T = QWidget> T* get(const char* name) { return child<T>(w.get(), name); }
    template <class T = QWidget> T* inPanel(const char* panel, const char* name)
    {
        return child<T>(get<BPM>(panel), name);
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
    // One BPM: the messages go out in their fixed order, and nothing is
    // stored or sent for the absent BPM 2 except its threshold.
    void save_oneBpm_refusedUntilUnique_thenStoresAndSendsInOrder()
    {
        start(kOnePico);
        QSignalSpy scaleChanged(w.get(), &WindowBeamlineConf::BPMscaleChanged);
        setDac(0, 0, 2); // CH1, CH1, CH3
        BoxCatcher boxes;
        press(QDialogButtonBox::Save);
        QCOMPARE(int(boxes.boxes.size()), 1);
        QCOMPARE(boxes.boxes[0].text, QStringLiteral("DAC outputs must be unique"));
        QVERIFY(!QFileInfo::exists(theConfig->filePath()) && w->isVisible());
        press(QDialogButtonBox::Cancel);
        QVERIFY(!w->isVisible() && f->driver.transfers().empty() && scaleChanged.isEmpty());

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
        QCOMPARE(hexOf(f->driver.transfers()),
                 goldenHex(
                     {"000a0002 00000000 02000100",
                      "00060002 02000000 0000000000000000 2d431cebe236ea3e",
                      "00060002 05000000 0000000000000000 f168e388b5f8f43e", "00040001 00000000 01",
                      "00040000 00000000 0000000000408f40 0000000000000040",
                      "000a0001 01000000 000000000000e03f", "000a0001 00000000 000000000000c0bf",
                      "00030001 00000000 03020100", "000b0001 00000000"}));

        QCOMPARE(stored({"Beamline/DAC_posX", "Beamline/BeamThreshold2", "BPM1/Scale_X",
                         "BPM1/Offset_Y", "BPM1/Top", "BPM2/Orient"}),
                 (QStringList{"Beamline/DAC_posX=2", "Beamline/BeamThreshold2=20",
                              "BPM1/Scale_X=1000", "BPM1/Offset_Y=-0.25", "BPM1/Top=3",
                              "BPM2/Orient=-"}));
        QCOMPARE(QVector<double>({bpmScale.x(0), bpmScale.y(0)}), QVector<double>({1000, 2}));
        QVERIFY(closed.count() == 1 && !w->isVisible() && scaleChanged.count() == 1);
    }

    // Two BPMs: BPM 2's messages and the loop sources follow BPM 1's; the
    // plots hear of new scales before new sources.
    void save_twoBpms_sendsBpm2AndTheSources()
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

        const auto sent = f->driver.transfers();
        QCOMPARE(int(sent.size()), 14);
        QCOMPARE(
            hexOf(std::vector<MailboxMessage>(sent.begin() + 8, sent.end())),
            goldenHex({"00040001 01000000", "00040000 01000000 0000000000001040 0000000000002040",
                       "000a0001 03000000 000000000000d03f", "000a0001 02000000 000000000000c0bf",
                       "00030001 01000000 00010203", "000b0001 01000100"}));
        QCOMPARE(stored({"BPM2/Orient", "BPM2/Right"}),
                 (QStringList{"BPM2/Orient=0", "BPM2/Right=1"}));
        QCOMPARE(QVector<int>({pidSourceX, pidSourceY, pidSourceI0}), QVector<int>({1, 0, 1}));
        QCOMPARE(QVector<double>({bpmScale.x(1), bpmScale.y(1)}), QVector<double>({4, 8}));
        QCOMPARE(order, (QStringList{"scale", "selector"}));
    }

    // The threshold is read from the text the box shows, a decimal comma
    // included; a text in digits of another script falls back to the value
    // instead of switching the beam-off check off with 0.
    void threshold_readFromTheShownText()
    {
        start(kOnePico);
        auto* box = get<QDoubleSpinBox>("beamOffTh");
        // The C locale's 12.5 goes out in save_oneBpm's golden bytes.
        for (const auto& [locale, shown] : {std::pair{QLocale(QLocale::German), "12,500 uA"},
                                            {QLocale(QLocale::Arabic, QLocale::Egypt), ""}}) {
            w->showWindow();
            f->driver.clearCalls();
            box->setValue(1.0);
            box->setLocale(locale);
            box->setValue(12.5);
            QVERIFY(!*shown || box->text() == shown);
            press(QDialogButtonBox::Save);
            double stored = 0;
            theConfig->getBeamThreshold(&stored, 0);
            QCOMPARE(hexOf({f->sent(cmd::SetRocLimit).at(0)}) + QStringList(QString::number(stored)),
                     goldenHex({"00060002 02000000 0000000000000000 2d431cebe236ea3e"}) +
                         QStringList("12.5")); // 1.25e-5 A
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
        // X's and I0's DAC output, both thresholds, BPM 2's gain, offset,
        // orientation and channels.
        auto loaded = [&] {
            int top = -1, right = -1, bottom = -1, left = -1;
            get<BPM>("boxBPM2")->getChannels(top, right, bottom, left);
            return QString("%1 %2 %3 %4 %5 %6 %7 %8%9%10%11")
                .arg(get<QComboBox>("positionXComboBox")->currentText(),
                     get<QComboBox>("intensityComboBox")->currentText())
                .arg(get<QDoubleSpinBox>("beamOffTh")->value())
                .arg(get<QDoubleSpinBox>("beamOffTh_2")->value())
                .arg(inPanel<QDoubleSpinBox>("boxBPM2", "xGain")->value())
                .arg(inPanel<QDoubleSpinBox>("boxBPM2", "xOffset")->value())
                .arg(get<BPM>("boxBPM2")->isOrientation90() ? 90 : 45)
                .arg(top).arg(right).arg(bottom).arg(left);
        };
        QCOMPARE(loaded(), QStringLiteral("CH2 CH1 3.5 7.25 50 5 45 3120"));

        QVERIFY(theConfig->setBeamlineDacs(0, 1, 2) && theConfig->setScaleX(1, 70.0));
        w->hide();
        w->showWindow();
        QCOMPARE(loaded(), QStringLiteral("CH2 CH1 3.5 7.25 70 5 45 3120"));
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

    // What each window shows of the second BPM and of the intensity for what
    // is plugged in, the device count reaching them through the main window:
    // the second BPM only with exactly two devices (the feedback panel and
    // the picoammeter window: with anything but exactly one). An encoder
    // interface, counted as a device, swaps intensity, thresholds and high
    // voltage for the encoder settings, and the feedback panel shows no
    // second BPM for it.
    void secondBpmAndIntensity_followWhatIsPlugged()
    {
        const QStringList second = {"Conf/boxBPM2",         "Conf/pidSourceX_BPM2",
                                    "Conf/pidSourceY_BPM2", "Conf/pidSourceI_BPM2",
                                    "Roc/rocWidget1",       "Panel/bpm2Table",
                                    "Pico/widgetPico1"};
        const QStringList intensity = {
            "Conf/pidSourceI_BPM1", "Conf/beamOffTh",       "Conf/beamOffTh_2",
            "Conf/boxBPM1/hv_widget", "Panel/i0slider",     "Panel/confI0checkbox",
            "Panel/i0MeanLineEdit", "Panel/posXStdFiltLineEdit", "Pos/intens"};
        const QStringList encoder = {"Conf/boxBPM1/encoderWidget", "Conf/boxBPM2/encoderWidget"};
        const QMap<QString, QString> classes = {{"Conf", "WindowBeamlineConf"},
                                                {"Roc", "WindowROC_ROI"},
                                                {"Panel", "WidgetFeedbackControl"},
                                                {"Pico", "WindowPico"},
                                                {"Pos", "WidgetGraphPos"}};
        const std::pair<Ids, QStringList> steps[] = {
            {kOnePico, intensity},
            {kTwoPicos, intensity + second},
            {{0, 0, 0x2200, 0}, intensity + second.filter("Panel/") + second.filter("Pico/")},
            {kOnePico, intensity},
            // a new start: the panel decides at start-up
            {{0x2101, 0x2300, 0x2200, 0}, second.mid(0, 5) + second.filter("Pico/") + encoder}};
        std::unique_ptr<MainWindow> main;
        for (const auto& [ids, shown] : steps) {
            if (!main || ids[1] == 0x2300) {
                main.reset();
                if (f)
                    f->tearDown();
                start(ids, false);
                main = std::make_unique<MainWindow>();
            } else {
                f->controller.plug(ids);
                f->mailbox->refreshData();
                QCoreApplication::processEvents();
            }
            QVERIFY(QMetaObject::invokeMethod(main->findChild<WindowPico*>(), "refreshFields"));
            QStringList showing;
            for (const QString& path : second + intensity + encoder) {
                QWidget* at = nullptr;
                for (QWidget* x : main->findChildren<QWidget*>())
                    if (classes[path.section('/', 0, 0)] == x->metaObject()->className())
                        at = x;
                for (const QString& part : path.section('/', 1).split('/'))
                    at = child(at, qPrintable(part));
                if (!at->isHidden())
                    showing << path;
            }
            QStringList expected = shown;
            std::sort(showing.begin(), showing.end());
            std::sort(expected.begin(), expected.end());
            QCOMPARE(showing, expected);
        }
    }

    // Every 770 ms each shown panel shows its picoammeter's latest
    // high-voltage state (the low four bits); the loop sources pick their
    // buttons, hidden or not. (The readback's formats: tst_bpm.)
    void readbackAndSources_followTheProgram()
    {
        start(kTwoPicos, false);
        PicoInfoRecord first{}, other{};
        first.hvState = 0x13; // rising
        other.hvState = kHvOn;
        f->driver.setPicoInfo(0, first);
        f->driver.setPicoInfo(1, other);
        f->updater->updateDorvishs();
        pidSourceX = 1;
        openWindow();
        QTRY_COMPARE_WITH_TIMEOUT(inPanel<QLabel>("boxBPM1", "statusLabel")->text() + ", " +
                                      inPanel<QLabel>("boxBPM2", "statusLabel")->text(),
                                  QStringLiteral("HV rising, HV ON"), 2000);
        QVERIFY(get<QRadioButton>("pidSourceX_BPM2")->isChecked() &&
                get<QRadioButton>("pidSourceY_BPM1")->isChecked());
    }

    // After a save the main window's XY plots zoom to the new regions.
    void mainWindow_resetsXYPlotsAfterSave()
    {
        start(kOnePico, false);
        MainWindow main;
        main.findChild<QAction*>("action_Beamline_Settings")->trigger();
        WindowBeamlineConf* conf = main.beamlineConf();
        QVERIFY(conf->isVisible());
        QCustomPlot* plot = main.graphXY(0)->findChild<QCustomPlot*>();
        main.graphXY(0)->setRegions(100.0, 80.0, 1.5);
        plot->xAxis->setRange(-12345.0, 12345.0);
        standardButton(conf, QDialogButtonBox::Save)->click();
        QCOMPARE(plot->xAxis->range(), QCPRange(-150.0, 150.0));
        QVERIFY(!conf->isVisible());
    }
};

QTEST_MAIN(TestWindowBeamlineConf)
#include "tst_windowbeamlineconf.moc"
