// The beamline configuration window over a scripted controller: what Save
// stores and sends, and in which order (byte for byte); the refused DAC
// assignment; the threshold text with a decimal comma; the high-voltage
// readback; and, in every window, what follows the devices plugged in. (Who
// may change what: tst_windowpidparams.) One BPM panel on its own: the
// electrode set of each orientation and its channel check, the conversions
// between scale/offset and the encoder fields, the offsets by controller
// version, and the high-voltage buttons and readback.

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
    std::unique_ptr<BPM> bpm;

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

    // One BPM panel on its own, for BPM 2.
    void startPanel()
    {
        start(kOnePico, false);
        bpm = std::make_unique<BPM>();
        bpm->setBpmIndex(1);
    }
    template <class T = QWidget> T* onPanel(const char* name) { return child<T>(bpm.get(), name); }
    bool shown(const char* name) { return onPanel(name)->isVisibleTo(bpm.get()); }
    bool invalidShown() { return shown("textInvalidConf"); }
    int choice(const char* box) { return onPanel<QComboBox>(box)->currentIndex(); }
    QVector<int> channels()
    {
        int top = -1, right = -1, bottom = -1, left = -1;
        bpm->getChannels(top, right, bottom, left);
        return {top, right, bottom, left};
    }
    // The values of spin boxes, whole-numbered or not.
    QVector<double> values(std::initializer_list<const char*> names)
    {
        QVector<double> out;
        for (const char* name : names) {
            auto* box = onPanel<QAbstractSpinBox>(name);
            auto* real = qobject_cast<QDoubleSpinBox*>(box);
            out << (real ? real->value() : qobject_cast<QSpinBox*>(box)->value());
        }
        return out;
    }
    QVector<double> scalingAndOffsets()
    {
        double sx = 0, sy = 0, ox = 0, oy = 0;
        bpm->getScaling(sx, sy);
        bpm->getOffsets(ox, oy);
        return {sx, sy, ox, oy};
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
        bpm.reset();
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
    void save_oneBpm_refusedUntilUnique_thenStoresAndSendsInOrder_thresholdAsShown()
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

        QCOMPARE(
            stored({"Beamline/DAC_posX", "Beamline/BeamThreshold2", "BPM1/Scale_X", "BPM1/Offset_Y",
                    "BPM1/Top", "BPM2/Orient"}),
            (QStringList{"Beamline/DAC_posX=2", "Beamline/BeamThreshold2=20", "BPM1/Scale_X=1000",
                         "BPM1/Offset_Y=-0.25", "BPM1/Top=3", "BPM2/Orient=-"}));
        QCOMPARE(QVector<double>({bpmScale.x(0), bpmScale.y(0)}), QVector<double>({1000, 2}));
        QVERIFY(closed.count() == 1 && !w->isVisible() && scaleChanged.count() == 1);

        // The threshold is read from the text the box shows, a decimal comma
        // included; a text in digits of another script falls back to the value
        // instead of switching the beam-off check off with 0.
        auto* box = get<QDoubleSpinBox>("beamOffTh");
        // The C locale's 12.5 went out in the golden bytes above.
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
            QCOMPARE(hexOf({f->sent(cmd::SetRocLimit).at(0)}) +
                         QStringList(QString::number(stored)),
                     goldenHex({"00060002 02000000 0000000000000000 2d431cebe236ea3e"}) +
                         QStringList("12.5")); // 1.25e-5 A
        }
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

    // The BPM panels are reloaded on every opening; the DAC assignment and
    // the thresholds only when the window is built.
    void loading_panelsEachOpeningDacAndThresholdsOnce_readbackAndSources()
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
                .arg(top)
                .arg(right)
                .arg(bottom)
                .arg(left);
        };
        QCOMPARE(loaded(), QStringLiteral("CH2 CH1 3.5 7.25 50 5 45 3120"));

        QVERIFY(theConfig->setBeamlineDacs(0, 1, 2) && theConfig->setScaleX(1, 70.0));
        w->hide();
        w->showWindow();
        QCOMPARE(loaded(), QStringLiteral("CH2 CH1 3.5 7.25 70 5 45 3120"));

        // Every 770 ms each shown panel shows its picoammeter's latest
        // high-voltage state (the low four bits); the loop sources pick their
        // buttons, hidden or not. (The readback's formats: the BPM panel case.)
        PicoInfoRecord first{}, other{};
        first.hvState = 0x13; // rising
        other.hvState = kHvOn;
        f->driver.setPicoInfo(0, first);
        f->driver.setPicoInfo(1, other);
        f->updater->updateDorvishs();
        pidSourceX = 1;
        openWindow(); // the sources are picked as the window is built
        QTRY_COMPARE_WITH_TIMEOUT(inPanel<QLabel>("boxBPM1", "statusLabel")->text() + ", " +
                                      inPanel<QLabel>("boxBPM2", "statusLabel")->text(),
                                  QStringLiteral("HV rising, HV ON"), 2000);
        QVERIFY(get<QRadioButton>("pidSourceX_BPM2")->isChecked() &&
                get<QRadioButton>("pidSourceY_BPM1")->isChecked());
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
        const QStringList intensity = {"Conf/pidSourceI_BPM1",
                                       "Conf/beamOffTh",
                                       "Conf/beamOffTh_2",
                                       "Conf/boxBPM1/hv_widget",
                                       "Panel/i0slider",
                                       "Panel/confI0checkbox",
                                       "Panel/i0MeanLineEdit",
                                       "Panel/posXStdFiltLineEdit",
                                       "Pos/intens"};
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

    // One BPM panel. Each orientation has its own four choices; only the shown set is read
    // and written, and the warning about two electrodes on one input follows
    // the shown set.
    void bpmPanel_channelsEncoderConversionHighVoltageAndOffsetRows()
    {
        startPanel();
        QVERIFY(bpm->isOrientation90() && shown("BPMvisual90") && !shown("BPMvisual45"));
        bpm->setChannels(3, 2, 1, 0);
        QCOMPARE(QVector<int>({choice("BPM90_top"), choice("BPM90_left")}), QVector<int>({3, 0}));

        bpm->setOrientation(0);
        QVERIFY(!bpm->isOrientation90() && shown("BPMvisual45") && !shown("BPMvisual90"));
        // The 45° set still holds its form default (all "Ch 1"), which the
        // warning reports as soon as that set is on show.
        QCOMPARE(channels(), QVector<int>({0, 0, 0, 0}));
        QVERIFY(invalidShown());
        bpm->setChannels(1, 2, 3, 0);
        QVERIFY(!invalidShown());
        // The other set untouched.
        QCOMPARE(QVector<int>({choice("BPM45_right"), choice("BPM90_top")}), QVector<int>({2, 3}));

        bpm->setOrientation(7); // no such orientation: nothing changes
        QVERIFY(!bpm->isOrientation90());
        bpm->setOrientation(1);
        bpm->setChannels(0, 1, 2, 3);
        QVERIFY(bpm->isOrientation90() && !invalidShown());
        onPanel<QComboBox>("BPM90_bottom")->setCurrentIndex(1); // "Ch 2" twice
        QVERIFY(invalidShown());
        onPanel<QComboBox>("BPM90_right")->setCurrentIndex(2);
        QVERIFY(!invalidShown());

        // A channel outside the four inputs (a damaged file) keeps the choice
        // instead of leaving an empty box that would be sent as 255.
        bpm->setChannels(9, -1, 1, 3);
        QCOMPARE(channels(), QVector<int>({0, 2, 1, 3}));

        // Loading scale and stored offset fills the encoder fields, and "Set"
        // turns the encoder fields back into the same scale and offset; nothing
        // goes to the controller before the window's Save.
        QVERIFY(theConfig->setOffsetX(1, 1610612.736) && theConfig->setOffsetY(1, 1.5e8));
        bpm->setScaling(2147483.648, 1.6e8);
        // The vertical counts come from the offset as its box holds it (1e8
        // at most): 2^31 x (1 - 1e8 / 1.6e8).
        QCOMPARE(values({"horNradCountDoubleSpinBox", "horOffsetCountsSpinBox", "xOffset",
                         "yOffset", "vertOffsetCountsSpinBox"}),
                 QVector<double>({1.0, 536870912, 1610612.736, 1e8, 805306368}));

        onPanel<QDoubleSpinBox>("xGain")->setValue(1.0);
        onPanel<QDoubleSpinBox>("xOffset")->setValue(0.0);
        onPanel<QDoubleSpinBox>("horNradCountDoubleSpinBox")->setValue(1.0);
        onPanel<QSpinBox>("horOffsetCountsSpinBox")->setValue(536870912);
        onPanel<QDoubleSpinBox>("vertNradCountDoubleSpinBox")->setValue(0.5);
        onPanel<QSpinBox>("vertOffsetCountsSpinBox")->setValue(0);
        onPanel<QPushButton>("encoderSetButton")->click();
        // Count 0: offset = scale.
        QCOMPARE(scalingAndOffsets(),
                 QVector<double>({2147483.648, 1073741.824, 1610612.736, 1073741.824}));
        QCOMPARE(int(f->driver.transfers().size()), 0);

        // A scale of 0 and offsets far outside the count range neither divide
        // by zero nor overflow the conversion to int: the counts stay in the
        // box; "Set" from a zero nrad/count gives a zero scale and offset,
        // never NaN.
        const double rows[][3] = {// scale, offset, counts
                                  {0.0, 5.0, 999999999},
                                  {0.001, -1e4, 999999999},
                                  {1.0, 1e8, 0},
                                  {4.0, 3.0, 536870912}};
        for (const auto& [scale, offset, counts] : rows) {
            QVERIFY(theConfig->setOffsetX(1, offset) && theConfig->setOffsetY(1, offset));
            bpm->setScaling(scale, scale);
            QCOMPARE(QVector<double>({scale, offset}) +
                         values({"horOffsetCountsSpinBox", "vertOffsetCountsSpinBox"}),
                     QVector<double>({scale, offset, counts, counts}));
            onPanel<QDoubleSpinBox>("horNradCountDoubleSpinBox")->setValue(0.0);
            onPanel<QPushButton>("encoderSetButton")->click();
            QCOMPARE(scalingAndOffsets().at(2), 0.0);
        }

        // Each high-voltage state its text, other values none; volts and
        // microamperes.
        QStringList texts;
        for (int state : {0, 1, 2, 3, 4, 5, 15}) {
            onPanel<QLabel>("statusLabel")->setText(QStringLiteral("stale"));
            bpm->setHVstatus(state, 12.345f, 0.5f);
            texts << onPanel<QLabel>("statusLabel")->text();
        }
        QCOMPARE(texts.join('|'), QStringLiteral("HV OFF|HV ON||HV rising||HV falling|"));
        QCOMPARE(onPanel<QLineEdit>("voltageReadoutLineEdit")->text() + " " +
                     onPanel<QLineEdit>("currentReadoutLineEdit")->text(),
                 QStringLiteral("12.35V 0.50uA"));

        // The enable button alternates on/off for this panel's picoammeter,
        // whatever the readback says; "Set HV" sends the bias in single
        // precision.
        bpm->setHVstatus(1, 500.0f, 0.1f); // the readback has no say
        onPanel<QPushButton>("enableHVbutton")->click();
        onPanel<QPushButton>("enableHVbutton")->click();
        onPanel<QDoubleSpinBox>("biasVoltageDoubleSpinBox")->setValue(250.5);
        onPanel<QPushButton>("setHVbutton")->click();
        QCOMPARE(hexOf(f->driver.transfers()), goldenHex({"00010004 01000000 01", // on, index 1
                                                          "00010004 01000000 00", // off
                                                          "00020004 01000000 00807a43"}));

        // The offset rows only for controllers that take offsets (1.0.03 on).
        QString shownAt;
        for (const char* version : {"1.0.02", "1.0.03", "1.1", ""}) {
            controllerVersions.swVersion = version;
            bpm->updateOffsetVisibility();
            for (const char* name : {"labelOffsetX", "xOffset", "labelOffsetY", "yOffset"})
                shownAt += shown(name) ? '1' : '0';
            shownAt += ' ';
        }
        QCOMPARE(shownAt, QStringLiteral("0000 1111 1111 0000 "));
    }
};

QTEST_MAIN(TestWindowBeamlineConf)
#include "tst_windowbeamlineconf.moc"
