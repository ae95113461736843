// The ROC/ROI dialog over the recording driver: the ROC limits and check
// enables that reach the controller, the regions on the XY plots, the
// intensity units, and the stored settings an unedited OK must leave alone.
// (Who may send, and a file that cannot be written: tst_windowpidparams.)

#include "app/mainwindow.h"
#include "control/widgetroc.h"
#include "control/windowroc_roi.h"
#include "plots/widgetgraphxy.h"
#include "support/bytes.h"
#include "support/programfixture.h"
#include "support/widgets.h"

#include <QtWidgets>

using namespace zevo;

namespace
{
// The ROI (item 0) and ROC (item 1) frames of a plot, as their corners.
QRectF frame(WidgetGraphXY& plot, int item)
{
    auto* rect = qobject_cast<QCPItemRect*>(child<QCustomPlot>(&plot, "graph")->item(item));
    return QRectF(rect->topLeft->coords(), rect->bottomRight->coords());
}
} // namespace

class TestWindowROC_ROI : public QObject
{
    Q_OBJECT

    ProgramFixture f;
    std::unique_ptr<WindowROC_ROI> w;
    std::unique_ptr<WidgetGraphXY> xy[2];

    WidgetRoc* panel(int bpm) const
    {
        return child<WidgetRoc>(w.get(), bpm == 0 ? "rocWidget0" : "rocWidget1");
    }
    QDoubleSpinBox* box(int bpm, const char* name) const
    {
        return child<QDoubleSpinBox>(panel(bpm), name);
    }
    QComboBox* unit(int bpm, const char* name) const { return child<QComboBox>(panel(bpm), name); }
    // ROI X, then the intensity bounds with their units, as shown.
    QString bounds(int bpm) const
    {
        return QString("%1: %2 %3, %4 %5")
            .arg(box(bpm, "roiXDoubleSpinBox")->value())
            .arg(box(bpm, "roiI0minBox")->value())
            .arg(unit(bpm, "roiI0minUnit")->currentText())
            .arg(box(bpm, "roiI0maxBox")->value())
            .arg(unit(bpm, "roiI0maxUnit")->currentText());
    }
    void press(QDialogButtonBox::StandardButton which)
    {
        f.driver.clearCalls();
        standardButton(w.get(), which)->click();
    }
    // ROI X and Y, I0 minimum and maximum, ROC factor as stored for a BPM.
    QVector<double> stored(int bpm) const
    {
        QVector<double> r(5, -1);
        f.config->getRocRoi(&r[0], &r[1], &r[2], &r[3], &r[4], bpm);
        return r;
    }
    // The dialog as the main window opens it, for `devices` picoammeters.
    void open(int devices)
    {
        for (int bpm = 0; bpm < 2; ++bpm) {
            xy[bpm] = std::make_unique<WidgetGraphXY>(bpm);
            w->setGraphXY(bpm, xy[bpm].get());
        }
        w->setUpdater(f.updater.get());
        w->setBeamlineConf(nullptr);
        w->nrDorvishChanged(devices);
        w->showWindow();
    }

private slots:
    void init()
    {
        f.controller.rocEnables = {1, 0, 1, 0, 1, 1};
        f.setUp();
        bpmScale.set(0, 2.0, 4.0);
        bpmScale.set(1, 5.0, 0.5);
        userLevel = 2;
        QVERIFY(f.config->setRocRoi(0, 100, 40, 5e-6, 8e-7, 150));
        QVERIFY(f.config->setRocRoi(1, 20, 10, 1e-6, 2e-6, 200));
        w = std::make_unique<WindowROC_ROI>();
    }

    void cleanup()
    {
        w.reset();
        xy[0].reset();
        xy[1].reset();
        f.tearDown();
        bpmScale = BpmScaleFactors();
        userLevel = 0;
    }

    // One device, OK: BPM 1's two limits, then all six enables as read from
    // the controller, byte for byte; BPM 1's regions on its plot and in the
    // file; nothing of BPM 2. Nothing stored yet: the ROC box shows its
    // minimum of 100 %, and what it shows is what is applied.
    void okWithOneDevice_goldenBytes()
    {
        QFile::remove(f.config->filePath());
        open(1);
        QCOMPARE(box(0, "rocFactorBox")->value(), 100.0);
        box(0, "roiXDoubleSpinBox")->setValue(100);
        box(0, "roiYDoubleSpinBox")->setValue(40);
        press(QDialogButtonBox::Ok);
        QVERIFY(!w->isVisible());
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
    // factor of 0 has no controller units: that limit stays out.
    void twoDevices_limitsPlotsAndFile()
    {
        open(2);
        box(0, "rocFactorBox")->setValue(110);
        box(1, "roiXDoubleSpinBox")->setValue(30);
        press(QDialogButtonBox::Apply);
        QVERIFY(w->isVisible());
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

        w->nrDorvishChanged(1);
        box(1, "roiXDoubleSpinBox")->setValue(70);
        press(QDialogButtonBox::Apply);
        QCOMPARE(int(f.sent(cmd::SetRocLimit).size()), 2);
        QCOMPARE(stored(1).at(0), 30.0);

        bpmScale.set(0, 0.0, 4.0);
        press(QDialogButtonBox::Apply);
        QCOMPARE(hexOf(f.sent(cmd::SetRocLimit)),
                 goldenHex({"00060002 01000000 0000000000000000 0000000000002640"}));
    }

    // Values the boxes cannot show exactly survive an OK without edits, byte
    // for byte, and the limits come from the stored values too; an edit
    // rewrites only what was edited. Intensity bounds are entered in the
    // selected unit and stored in amperes, exactly; shown again, 1 µA and
    // more in µA, less in nA. Only the unit changed: 800 µA now.
    void uneditedOkLeavesEveryStoredKey_boundsInTheirUnits()
    {
        QVERIFY(f.config->setRocRoi(0, 123.456, 0.005, 1.5e-10, 2.5e-5, 133.3));
        QVERIFY(f.config->setRocRoi(1, 99.999, 12.3456, 0, 1.23456e-3 / 2, 250.5));
        QVERIFY(f.config->setPidX(1000, 1, 2, 3, 4, 5, 6, 7, 8, 9));
        QVERIFY(f.config->setBeamThreshold(0, 0.02));
        const QByteArray before = fileText(f.config->filePath());
        open(2);
        // Shown rounded; 0 keeps the selector's unit.
        QCOMPARE(bounds(0) + ", " + unit(1, "roiI0minUnit")->currentText(),
                 QStringLiteral("123.46: 0.15 nA, 25 uA, uA"));
        press(QDialogButtonBox::Ok);
        QCOMPARE(fileText(f.config->filePath()), before);
        QCOMPARE(f.sent(cmd::SetRocLimit)[0].f64(16), 123.456 * (133.3 / 100) / 2.0);

        w->showWindow();
        box(0, "roiXDoubleSpinBox")->setValue(80);
        press(QDialogButtonBox::Ok);
        QByteArray expected = before;
        expected.replace("RoiX=123.456\n", "RoiX=80\n");
        QVERIFY(expected != before);
        QCOMPARE(fileText(f.config->filePath()), expected);

        w->showWindow();
        box(0, "roiI0minBox")->setValue(5);
        unit(0, "roiI0minUnit")->setCurrentText("uA");
        box(0, "roiI0maxBox")->setValue(800);
        unit(0, "roiI0maxUnit")->setCurrentText("nA");
        press(QDialogButtonBox::Ok);
        QVERIFY(stored(0).at(2) == 5e-6 && stored(0).at(3) == 8e-7);
        w->showWindow();
        QCOMPARE(bounds(0), QStringLiteral("80: 5 uA, 800 nA"));
        unit(0, "roiI0maxUnit")->setCurrentText("uA");
        press(QDialogButtonBox::Apply);
        QVERIFY(stored(0).at(3) == 8e-4);
    }

    // The main window hands the dialog its own XY plots.
    void mainWindowWiring()
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
};

QTEST_MAIN(TestWindowROC_ROI)
#include "tst_windowroc_roi.moc"
