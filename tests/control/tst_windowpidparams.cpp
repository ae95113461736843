// The PID parameters dialog over the recording driver: loop dividers and real
// frequencies, the bytes and order of what OK sends, what reaches the
// configuration file. The ROC/ROI dialog: the ROC limits and check enables
// that reach the controller, the regions on the XY plots, the intensity
// units, and the stored settings an unedited OK must leave alone. And, for
// every window that changes controller settings, who may change what and the
// warning about a file that cannot be written.

#include "app/initresources.h"
#include "app/mainwindow.h"
#include "control/dialoglogin.h"
#include "control/unsavedsettings.h"
#include "control/widgetpidparams.h"
#include "control/widgetroc.h"
#include "control/windowpidparams.h"
#include "control/windowroc_roi.h"
#include "plots/widgetgraphxy.h"
#include "support/bytes.h"
#include "support/programfixture.h"
#include "support/widgets.h"

#include <QtWidgets>

#include <climits>
#include <tuple>

using namespace zevo;

namespace
{
QDoubleSpinBox* box(WidgetPIDparams* p, const char* name)
{
    return child<QDoubleSpinBox>(p, name);
}
QString realFreq(WidgetPIDparams* p)
{
    return child<QLineEdit>(p, "realFreqLine")->text();
}
// The widget at "a/b/c" below `top`; "" is `top` itself.
QWidget* at(QWidget* top, const QString& path)
{
    for (const QString& part : path.split('/', Qt::SkipEmptyParts))
        top = child(top, qPrintable(part));
    return top;
}
// The ROI (item 0) and ROC (item 1) frames of a plot, as their corners.
QRectF frame(WidgetGraphXY& plot, int item)
{
    auto* rect = qobject_cast<QCPItemRect*>(child<QCustomPlot>(&plot, "graph")->item(item));
    return QRectF(rect->topLeft->coords(), rect->bottomRight->coords());
}
} // namespace

class TestWindowPIDparams : public QObject
{
    Q_OBJECT

    ProgramFixture f;
    std::unique_ptr<WindowPIDparams> w;
    std::unique_ptr<WindowROC_ROI> roc;
    std::unique_ptr<WidgetGraphXY> xy[2];

    WidgetPIDparams* panel(const char* name) const { return child<WidgetPIDparams>(w.get(), name); }
    void press(QDialogButtonBox::StandardButton which, QWidget* window = nullptr)
    {
        f.driver.clearCalls();
        standardButton(window ? window : w.get(), which)->click();
    }
    // Messages that set something (direction byte 0), not reads.
    int settingsSent() const
    {
        int n = 0;
        for (const MailboxMessage& m : f.driver.transfers())
            n += (m.command() & 0xFF) == 0;
        return n;
    }
    // Three loops with values that are exact in binary, so that the golden
    // bytes below can be written out by hand.
    void storeLoops()
    {
        QVERIFY(f.config->setPidX(1000, 0.5, 0.25, 0.125, 1, 100, -10, 10, 2, 0.5));
        QVERIFY(f.config->setPidY(2000, 4, 8, 16, 2, 50, -5, 5, 1, -1.5));
        QVERIFY(f.config->setPidI0(500, 0.75, 1.5, 3, 4, 200, -2, 2, 4, 0.25));
    }

    WidgetRoc* rocPanel(int bpm) const
    {
        return child<WidgetRoc>(roc.get(), bpm == 0 ? "rocWidget0" : "rocWidget1");
    }
    QDoubleSpinBox* rocBox(int bpm, const char* name) const
    {
        return child<QDoubleSpinBox>(rocPanel(bpm), name);
    }
    QComboBox* unit(int bpm, const char* name) const
    {
        return child<QComboBox>(rocPanel(bpm), name);
    }
    // ROI X, then the intensity bounds with their units, as shown.
    QString bounds(int bpm) const
    {
        return QString("%1: %2 %3, %4 %5")
            .arg(rocBox(bpm, "roiXDoubleSpinBox")->value())
            .arg(rocBox(bpm, "roiI0minBox")->value())
            .arg(unit(bpm, "roiI0minUnit")->currentText())
            .arg(rocBox(bpm, "roiI0maxBox")->value())
            .arg(unit(bpm, "roiI0maxUnit")->currentText());
    }
    // ROI X and Y, I0 minimum and maximum, ROC factor as stored for a BPM.
    QVector<double> stored(int bpm) const
    {
        QVector<double> r(5, -1);
        f.config->getRocRoi(&r[0], &r[1], &r[2], &r[3], &r[4], bpm);
        return r;
    }
    // The dialog as the main window opens it, for `devices` picoammeters.
    void openRoc(int devices)
    {
        for (int bpm = 0; bpm < 2; ++bpm) {
            xy[bpm] = std::make_unique<WidgetGraphXY>(bpm);
            roc->setGraphXY(bpm, xy[bpm].get());
        }
        roc->setUpdater(f.updater.get());
        roc->setBeamlineConf(nullptr);
        roc->nrDorvishChanged(devices);
        roc->showWindow();
    }

private slots:
    void initTestCase() { initResources(); }

    void init()
    {
        f.controller.plug({0x2101, 0, 0, 0});
        f.controller.onTransfer = nullptr;
        f.controller.rocEnables = {1, 0, 1, 0, 1, 1};
        f.setUp();
        PID_BASE_FREQ = 100000;
        userLevel = 2;
        bpmScale.set(0, 2.0, 4.0);
        bpmScale.set(1, 5.0, 0.5);
        QVERIFY(f.config->setRocRoi(0, 100, 40, 5e-6, 8e-7, 150));
        QVERIFY(f.config->setRocRoi(1, 20, 10, 1e-6, 2e-6, 200));
        w = std::make_unique<WindowPIDparams>();
        roc = std::make_unique<WindowROC_ROI>();
    }

    void cleanup()
    {
        f.controller.onTransfer = nullptr;
        w.reset();
        roc.reset();
        xy[0].reset();
        xy[1].reset();
        f.tearDown();
        bpmScale = BpmScaleFactors();
        PID_BASE_FREQ = 100000;
        userLevel = 0;
    }

    // Rounding to the nearest divider; never below 1 (half a step rounds up),
    // 0 Hz as slowly as the controller can count.
    void dividerAndRealFrequency()
    {
        // base rate, requested Hz, divider, real frequency shown
        const std::tuple<int, double, int, const char*> rows[] = {
            {100000, 3000.0, 33, "3030.30 Hz"},
            {5000, 10000.0, 1, "5000.00 Hz"},
            {5000, 10000.01, 1, "5000.00 Hz"},
            {100000, 0.0, INT_MAX, "0.00 Hz"},
            {100000, 0.01, 10000000, "0.01 Hz"}};
        for (const auto& [base, requested, divider, shown] : rows) {
            PID_BASE_FREQ = base;
            WidgetPIDparams p;
            QCOMPARE(realFreq(&p), QString("1000.00 Hz")); // the form's 1000 Hz
            box(&p, "curFreqBox")->setValue(requested);
            const QString row = QString("%1 Hz at %2: ").arg(requested, 0, 'g', 10).arg(base);
            QCOMPARE(row + QString::number(p.divider()) + ", " + realFreq(&p),
                     row + QString::number(divider) + ", " + shown);
        }
    }

    // OK at level 2: three dividers, the offsets, then per loop its
    // parameter block with its apply message; every loop stored.
    void okSendsAndStoresEveryLoop_showLoads_encoderHidesIntensityLoop()
    {
        storeLoops();
        w->showWindow();
        QFile::remove(f.config->filePath()); // so that only OK can bring the groups back
        press(QDialogButtonBox::Ok);
        QVERIFY(!w->isVisible());

        QCOMPARE(hexOf(f.driver.transfers()),
                 goldenHex({
                     // dividers: 100000/1000, /2000, /500 in bytes 4-7, the channel in byte 8
                     "00020001 64000000 00",
                     "00020001 32000000 01",
                     "00020001 c8000000 02",
                     // offsets 0.5, -1.5, 0.25
                     "00050002 00000000 000000000000e03f",
                     "00050002 01000000 000000000000f8bf",
                     "00050002 02000000 000000000000d03f",
                     // X: kp ki kd / emin imax / omin omax ogain / apply
                     "00010002 00000000 000000000000e03f 000000000000d03f 000000000000c03f",
                     "00010002 00100000 000000000000f03f 0000000000005940",
                     "00010002 00200000 00000000000024c0 0000000000002440 0000000000000040",
                     "00080002 00",
                     // Y
                     "00010002 01000000 0000000000001040 0000000000002040 0000000000003040",
                     "00010002 01100000 0000000000000040 0000000000004940",
                     "00010002 01200000 00000000000014c0 0000000000001440 000000000000f03f",
                     "00080002 01",
                     // I0
                     "00010002 02000000 000000000000e83f 000000000000f83f 0000000000000840",
                     "00010002 02100000 0000000000001040 0000000000006940",
                     "00010002 02200000 00000000000000c0 0000000000000040 0000000000001040",
                     "00080002 02",
                 }));

        QVector<double> y(10);
        f.config->getPidY(&y[0], &y[1], &y[2], &y[3], &y[4], &y[5], &y[6], &y[7], &y[8], &y[9]);
        QCOMPARE(y, QVector<double>({2000, 4, 8, 16, 2, 50, -5, 5, 1, -1.5}));
        QVERIFY(fileText(f.config->filePath()).contains("[PID_X]") &&
                fileText(f.config->filePath()).contains("[PID_I0]"));

        // Showing loads the file into the boxes; with an encoder interface the
        // intensity loop is hidden but still stored and sent, and the real
        // frequencies follow the encoder's base rate.
        QVERIFY(f.config->setPidX(3000, 0.5, 0.25, 0.125, 1, 100, -10, 10, 2, 0.5));
        w->showWindow();
        // Y's kd and offset, I0's frequency; X's real frequency; I0 shown.
        auto loaded = [&] {
            return QString("%1 %2 %3, %4 %5")
                .arg(box(panel("posYwidget"), "boxKd")->value())
                .arg(box(panel("posYwidget"), "offsetDoubleSpinBox")->value())
                .arg(box(panel("intI0widget"), "curFreqBox")->value())
                .arg(realFreq(panel("posXwidget")))
                .arg(panel("intI0widget")->isVisible() && child(w.get(), "label_i0")->isVisible());
        };
        QCOMPARE(loaded(), QStringLiteral("16 -1.5 500, 3030.30 Hz 1"));
        // An encoder interface; the poll lowers the base rate. The stored
        // 3000 Hz did not change, the rate it runs at did.
        f.controller.slotContents[1].deviceId = 0x2300;
        f.mailbox->scanSlots();
        QCOMPARE(PID_BASE_FREQ.load(), 5000);
        w->hide();
        w->showWindow();
        QCOMPARE(loaded(), QStringLiteral("16 -1.5 500, 2500.00 Hz 0"));

        // The dividers at the encoder's rate, the hidden loop's included.
        box(panel("posYwidget"), "curFreqBox")->setValue(0);
        press(QDialogButtonBox::Apply);
        QVERIFY(w->isVisible());
        QCOMPARE(
            hexOf(f.sent(cmd::SetPidDivider)),
            goldenHex({"00020001 02000000 00", "00020001 ffffff7f 01", "00020001 0a000000 02"}));
        QCOMPARE(int(f.sent(cmd::ApplyPidParams).size()), 3);
    }

    // One device, OK: BPM 1's two limits, then all six enables as read from
    // the controller, byte for byte; BPM 1's regions on its plot and in the
    // file; nothing of BPM 2. Nothing stored yet: the ROC box shows its
    // minimum of 100 %, and what it shows is what is applied.
    void roc_okWithOneDevice_goldenBytes()
    {
        QFile::remove(f.config->filePath());
        openRoc(1);
        QCOMPARE(rocBox(0, "rocFactorBox")->value(), 100.0);
        rocBox(0, "roiXDoubleSpinBox")->setValue(100);
        rocBox(0, "roiYDoubleSpinBox")->setValue(40);
        press(QDialogButtonBox::Ok, roc.get());
        QVERIFY(!roc->isVisible());
        QCOMPARE(hexOf(f.driver.transfers()),
                 goldenHex({// index 0: 100 µm × 100 % / 2 = 50
                            "00060002 00000000 0000000000000000 0000000000004940",
                            // index 1: 100 % × 40 µm / 4 = 10
                            "00060002 01000000 0000000000000000 0000000000002440",
                            "000b0002 010001000101"}));
        QCOMPARE(frame(*xy[0], 0), QRectF(QPointF(-100, 40), QPointF(100, -40)));
        QCOMPARE(frame(*xy[0], 1), frame(*xy[0], 0));
        const QVector<double> s = stored(0);
        QCOMPARE(QVector<double>({s[0], s[1], s[4]}), QVector<double>({100, 40, 100}));
        QVERIFY(!fileText(f.config->filePath()).contains("ROCandROI2"));
    }

    // Two devices: each BPM's limits with its own scale factors and its own
    // plot; the example of 100 µm at 110 % over a scale of 2 sends 55. Back
    // to one device, BPM 2 is neither shown nor sent nor stored; a scale
    // factor of 0 works in raw units: 100·1.1/1 (to the last bit).
    void roc_twoDevices_limitsPlotsAndFile()
    {
        openRoc(2);
        rocBox(0, "rocFactorBox")->setValue(110);
        rocBox(1, "roiXDoubleSpinBox")->setValue(30);
        press(QDialogButtonBox::Apply, roc.get());
        QVERIFY(roc->isVisible());
        // 100·1.1/2, 1.1·40/4, 30·2/5, 2·10/0.5 at indices 0, 1, 3, 4
        QStringList limits; // index, low, high (to 12 digits)
        for (const MailboxMessage& m : f.sent(cmd::SetRocLimit))
            limits << QString("%1 %2 %3")
                          .arg(m.u8(4))
                          .arg(m.f64(8), 0, 'g', 12)
                          .arg(m.f64(16), 0, 'g', 12);
        QCOMPARE(limits, (QStringList{"0 0 55", "1 0 11", "3 0 12", "4 0 40"}));
        QCOMPARE(int(f.sent(cmd::SetRocEnables).size()), 1);
        QCOMPARE(frame(*xy[1], 1), QRectF(QPointF(-60, 20), QPointF(60, -20)));
        QCOMPARE(frame(*xy[0], 1).right(), 110.0);
        QCOMPARE(stored(1).at(0), 30.0);

        roc->nrDorvishChanged(1);
        rocBox(1, "roiXDoubleSpinBox")->setValue(70);
        press(QDialogButtonBox::Apply, roc.get());
        QCOMPARE(int(f.sent(cmd::SetRocLimit).size()), 2);
        QCOMPARE(stored(1).at(0), 30.0);

        bpmScale.set(0, 0.0, 4.0);
        press(QDialogButtonBox::Apply, roc.get());
        QCOMPARE(hexOf(f.sent(cmd::SetRocLimit)),
                 goldenHex({"00060002 00000000 0000000000000000 0100000000805b40",
                            "00060002 01000000 0000000000000000 0000000000002640"}));
    }

    // Values the boxes cannot show exactly survive an OK without edits, byte
    // for byte, and the limits come from the stored values too; an edit
    // rewrites only what was edited. Intensity bounds are entered in the
    // selected unit and stored in amperes, exactly; shown again, 1 µA and
    // more in µA, less in nA. Only the unit changed: 800 µA now.
    void roc_uneditedOkLeavesEveryStoredKey_boundsInTheirUnits()
    {
        QVERIFY(f.config->setRocRoi(0, 123.456, 0.005, 1.5e-10, 2.5e-5, 133.3));
        QVERIFY(f.config->setRocRoi(1, 99.999, 12.3456, 0, 1.23456e-3 / 2, 250.5));
        QVERIFY(f.config->setPidX(1000, 1, 2, 3, 4, 5, 6, 7, 8, 9));
        QVERIFY(f.config->setBeamThreshold(0, 0.02));
        const QByteArray before = fileText(f.config->filePath());
        openRoc(2);
        // Shown rounded; 0 keeps the selector's unit.
        QCOMPARE(bounds(0) + ", " + unit(1, "roiI0minUnit")->currentText(),
                 QStringLiteral("123.46: 0.15 nA, 25 uA, uA"));
        press(QDialogButtonBox::Ok, roc.get());
        QCOMPARE(fileText(f.config->filePath()), before);
        QCOMPARE(f.sent(cmd::SetRocLimit)[0].f64(16), 123.456 * (133.3 / 100) / 2.0);

        roc->showWindow();
        rocBox(0, "roiXDoubleSpinBox")->setValue(80);
        press(QDialogButtonBox::Ok, roc.get());
        QByteArray expected = before;
        expected.replace("RoiX=123.456\n", "RoiX=80\n");
        QVERIFY(expected != before);
        QCOMPARE(fileText(f.config->filePath()), expected);

        roc->showWindow();
        rocBox(0, "roiI0minBox")->setValue(5);
        unit(0, "roiI0minUnit")->setCurrentText("uA");
        rocBox(0, "roiI0maxBox")->setValue(800);
        unit(0, "roiI0maxUnit")->setCurrentText("nA");
        press(QDialogButtonBox::Ok, roc.get());
        QVERIFY(stored(0).at(2) == 5e-6 && stored(0).at(3) == 8e-7);
        roc->showWindow();
        QCOMPARE(bounds(0), QStringLiteral("80: 5 uA, 800 nA"));
        unit(0, "roiI0maxUnit")->setCurrentText("uA");
        press(QDialogButtonBox::Apply, roc.get());
        QVERIFY(stored(0).at(3) == 8e-4);
    }

    // The main window hands the dialog its own XY plots.
    void roc_mainWindowHandsItsXYPlots()
    {
        MainWindow main;
        main.findChild<QAction*>("action_ROC_ROI")->trigger();
        auto* dialog = main.findChild<WindowROC_ROI*>();
        QVERIFY(dialog && dialog->isVisible());
        emit f.mailbox->nrDorvishsChanged(2);
        standardButton(dialog, QDialogButtonBox::Ok)->click();
        QCOMPARE(frame(*main.graphXY(0), 0), QRectF(QPointF(-100, 40), QPointF(100, -40)));
        QCOMPARE(frame(*main.graphXY(1), 1), QRectF(QPointF(-40, 20), QPointF(40, -20)));
    }

    // Every window that changes controller settings, with the level coming
    // from the login dialog through the main window: the inputs only an
    // administrator may use are disabled below level 2 (the feedback panel:
    // at level 0), an unknown level leaves them as they are. Below level 2
    // the loops and regions are neither sent nor stored; the beamline window
    // still sends what its disabled inputs hold, with the sources chosen. A
    // configuration file that cannot be written holds nothing back from the
    // controller: one warning naming the file, after the last message.
    void userLevelGating_andUnsavedWarning_data()
    {
        QTest::addColumn<QString>("action");    // opens the window; none: the docked panel
        QTest::addColumn<QString>("window");    // its class
        QTest::addColumn<QStringList>("gated"); // inputs, "" the window itself
        QTest::addColumn<QStringList>("free");  // enabled at every level
        QTest::addColumn<int>("button");        // stores and sends; 0: none
        QTest::addColumn<int>("sentBelow");     // setting messages it sends at levels 0 and 1
        QTest::addColumn<int>("sent");          // ... and at level 2
        QStringList roc = {"enableROCXCheckCheckBox",    "enableROCYCheckCheckBox",
                           "enableBeamOffCheckCheckBox", "enableROCXCheckCheckBox_2",
                           "enableROCYCheckCheckBox_2",  "enableBeamOffCheckCheckBox_2"};
        for (const char* bpm : {"rocWidget0/", "rocWidget1/"})
            for (const char* input : {"roiXDoubleSpinBox", "roiYDoubleSpinBox", "rocFactorBox",
                                      "roiI0minBox", "roiI0minUnit", "roiI0maxBox", "roiI0maxUnit"})
                roc << QString(bpm) + input;
        const QStringList buttons = {"buttonBox"};
        QTest::newRow("PID parameters")
            << "action_PID_Parameters"
            << "WindowPIDparams" << QStringList{"posXwidget", "posYwidget", "intI0widget"}
            << buttons << int(QDialogButtonBox::Ok) << 0 << 18;
        // One picoammeter: BPM 1's two limits and the six enables.
        QTest::newRow("ROC/ROI") << "action_ROC_ROI"
                                 << "WindowROC_ROI" << roc << buttons << int(QDialogButtonBox::Ok)
                                 << 0 << 3;
        QTest::newRow("beamline configuration")
            << "action_Beamline_Settings"
            << "WindowBeamlineConf"
            << QStringList{"boxDac",    "boxBPM1",     "boxBPM2",
                           "beamOffTh", "beamOffTh_2", "boxBPM1/enableHVbutton"}
            << (buttons + QStringList{"pidSourceY_BPM2"}) << int(QDialogButtonBox::Save) << 9 << 9;
        QTest::newRow("feedback panel")
            << ""
            << "WidgetFeedbackControl" << QStringList{""} << QStringList() << 0 << 0 << 0;
    }
    void userLevelGating_andUnsavedWarning()
    {
        QFETCH(QString, action);
        QFETCH(QString, window);
        QFETCH(QStringList, gated);
        QFETCH(QStringList, free);
        QFETCH(int, button);
        QFETCH(int, sentBelow);
        QFETCH(int, sent);
        storeLoops();
        w.reset();
        userLevel = 0;
        MainWindow main;
        DialogLogin login(&main);
        main.wireUserLevel(&login);
        QWidget* win = nullptr;
        for (QWidget* x : main.findChildren<QWidget*>())
            if (window == QLatin1String(x->metaObject()->className()))
                win = x;
        QVERIFY(win);
        // "1" all gated inputs enabled, "0" none, "?" some; "!" a free one disabled.
        auto state = [&] {
            for (const QString& name : free)
                if (!at(win, name)->isEnabled())
                    return QChar('!');
            int on = 0;
            for (const QString& name : gated)
                on += at(win, name)->isEnabled();
            return QChar(on == gated.size() ? '1' : on == 0 ? '0' : '?');
        };
        auto store = [&] {
            child<QAction>(&main, qPrintable(action))->trigger();
            f.driver.clearCalls();
            standardButton(win, QDialogButtonBox::StandardButton(button))->click();
            return settingsSent();
        };
        const QByteArray before = fileText(f.config->filePath());
        QString shown;
        for (int level : {2, 7, 0, 7, 1}) {
            userLevel = level;
            emit login.userLevelChanged(level);
            shown += state();
            if (button && level < 2) {
                QCOMPARE(store(), sentBelow);
                if (sentBelow == 0)
                    QCOMPARE(fileText(f.config->filePath()), before);
                QVERIFY(!win->isVisible());
            }
        }
        QCOMPARE(shown, QString(button ? "11000" : "11001"));
        if (!button)
            return;

        userLevel = 2;
        emit login.userLevelChanged(2);
        f.setConfigWritable(false);
        BoxCatcher catcher;
        int sentAtWarning = -1;
        catcher.onBox = [&](const BoxCatcher::Box&) { sentAtWarning = settingsSent(); };
        QCOMPARE(store(), sent);
        QCOMPARE(sentAtWarning, sent);
        QCOMPARE(int(catcher.boxes.size()), 1);
        QCOMPARE(std::make_tuple(catcher.boxes[0].title, catcher.boxes[0].text,
                                 catcher.boxes[0].hasParent),
                 std::make_tuple(settingsNotSavedTitle(),
                                 settingsNotSavedText(theConfig->filePath()), false));
        f.setConfigWritable(true);
        QCOMPARE(store(), sent);
        QCOMPARE(int(catcher.boxes.size()), 1);
    }
};

QTEST_MAIN(TestWindowPIDparams)
#include "tst_windowpidparams.moc"
