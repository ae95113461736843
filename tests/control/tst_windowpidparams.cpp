// The PID parameters dialog over the recording driver: loop dividers and real
// frequencies, the bytes and order of what OK sends, what reaches the
// configuration file; and, for every window that changes controller settings,
// who may change what and the warning about a file that cannot be written.

#include "app/initresources.h"
#include "app/mainwindow.h"
#include "control/dialoglogin.h"
#include "control/unsavedsettings.h"
#include "control/widgetpidparams.h"
#include "control/windowpidparams.h"
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
} // namespace

class TestWindowPIDparams : public QObject
{
    Q_OBJECT

    ProgramFixture f;
    std::unique_ptr<WindowPIDparams> w;

    WidgetPIDparams* panel(const char* name) const { return child<WidgetPIDparams>(w.get(), name); }
    void press(QDialogButtonBox::StandardButton which)
    {
        f.driver.clearCalls();
        standardButton(w.get(), which)->click();
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

private slots:
    void initTestCase() { initResources(); }

    void init()
    {
        f.controller.plug({0x2101, 0, 0, 0});
        f.controller.onTransfer = nullptr;
        f.setUp();
        PID_BASE_FREQ = 100000;
        userLevel = 2;
        w = std::make_unique<WindowPIDparams>();
    }

    void cleanup()
    {
        f.controller.onTransfer = nullptr;
        w.reset();
        f.tearDown();
        PID_BASE_FREQ = 100000;
        userLevel = 0;
    }

    // Rounding to the nearest divider; never below 1 (half a step rounds up),
    // 0 Hz as slowly as the controller can count.
    void dividerAndRealFrequency()
    {
        // base rate, requested Hz, divider, real frequency shown
        const std::tuple<int, double, int, const char*> rows[] = {
            {100000, 3000.0, 33, "3030.30 Hz"}, {5000, 10000.0, 1, "5000.00 Hz"},
            {5000, 10000.01, 1, "5000.00 Hz"},  {100000, 0.0, INT_MAX, "0.00 Hz"},
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
    void okSendsAndStoresEveryLoop()
    {
        storeLoops();
        w->showWindow();
        QFile::remove(f.config->filePath()); // so that only OK can bring the groups back
        press(QDialogButtonBox::Ok);
        QVERIFY(!w->isVisible());

        QCOMPARE(hexOf(f.driver.transfers()),
                 goldenHex({
                     // dividers: 100000/1000, /2000, /500 in bytes 4-7, the channel in byte 8
                     "00020001 64000000 00", "00020001 32000000 01", "00020001 c8000000 02",
                     // offsets 0.5, -1.5, 0.25
                     "00050002 00000000 000000000000e03f", "00050002 01000000 000000000000f8bf",
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
    }

    // Showing loads the file into the boxes; with an encoder interface the
    // intensity loop is hidden but still stored and sent, and the real
    // frequencies follow the encoder's base rate.
    void showLoads_encoderHidesIntensityLoop()
    {
        storeLoops();
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
        QStringList roc = {"enableROCXCheckCheckBox",      "enableROCYCheckCheckBox",
                           "enableBeamOffCheckCheckBox",   "enableROCXCheckCheckBox_2",
                           "enableROCYCheckCheckBox_2",    "enableBeamOffCheckCheckBox_2"};
        for (const char* bpm : {"rocWidget0/", "rocWidget1/"})
            for (const char* input : {"roiXDoubleSpinBox", "roiYDoubleSpinBox", "rocFactorBox",
                                      "roiI0minBox", "roiI0minUnit", "roiI0maxBox", "roiI0maxUnit"})
                roc << QString(bpm) + input;
        const QStringList buttons = {"buttonBox"};
        QTest::newRow("PID parameters")
            << "action_PID_Parameters" << "WindowPIDparams"
            << QStringList{"posXwidget", "posYwidget", "intI0widget"} << buttons
            << int(QDialogButtonBox::Ok) << 0 << 18;
        // One picoammeter: BPM 1's two limits and the six enables.
        QTest::newRow("ROC/ROI") << "action_ROC_ROI" << "WindowROC_ROI" << roc << buttons
                                 << int(QDialogButtonBox::Ok) << 0 << 3;
        QTest::newRow("beamline configuration")
            << "action_Beamline_Settings" << "WindowBeamlineConf"
            << QStringList{"boxDac",    "boxBPM1",     "boxBPM2",
                           "beamOffTh", "beamOffTh_2", "boxBPM1/enableHVbutton"}
            << (buttons + QStringList{"pidSourceY_BPM2"}) << int(QDialogButtonBox::Save) << 9 << 9;
        QTest::newRow("feedback panel") << "" << "WidgetFeedbackControl" << QStringList{""}
                                        << QStringList() << 0 << 0 << 0;
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
