// The PID parameters dialog over the recording driver: loop dividers and real
// frequencies, the bytes and order of what OK sends, what reaches the
// configuration file, and who may send at all.

#include "app/initresources.h"
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
} // namespace

class TestWindowPIDparams : public QObject
{
    Q_OBJECT

    ProgramFixture f;
    std::unique_ptr<WindowPIDparams> w;

    WidgetPIDparams* panel(const char* name) const { return child<WidgetPIDparams>(w.get(), name); }
    // Which of the X, Y and I0 panels are enabled, as "1" or "0" each.
    QString enabled() const
    {
        QString on;
        for (const char* p : {"posXwidget", "posYwidget", "intI0widget"})
            on += panel(p)->isEnabled() ? '1' : '0';
        return on;
    }
    void press(QDialogButtonBox::StandardButton which)
    {
        f.driver.clearCalls();
        standardButton(w.get(), which)->click();
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

    // Requests that round the divider to 0 run at the base rate; 0 Hz runs
    // as slowly as the controller can count. The form's 1000 Hz shows at
    // construction.
    void dividerAndRealFrequency()
    {
        // base rate, requested Hz, divider, real frequency shown
        const std::tuple<int, double, int, const char*> rows[] = {
            {100000, 1000.0, 100, "1000.00 Hz"}, {100000, 3000.0, 33, "3030.30 Hz"},
            {100000, 30000.0, 3, "33333.33 Hz"}, {5000, 1000.0, 5, "1000.00 Hz"},
            {5000, 3000.0, 2, "2500.00 Hz"},     {5000, 10000.0, 1, "5000.00 Hz"},
            {5000, 10000.01, 1, "5000.00 Hz"},   {5000, 100000.0, 1, "5000.00 Hz"},
            {100000, 0.0, INT_MAX, "0.00 Hz"},   {5000, 0.0, INT_MAX, "0.00 Hz"},
            {100000, 0.01, 10000000, "0.01 Hz"}};
        for (const auto& [base, requested, divider, shown] : rows) {
            PID_BASE_FREQ = base;
            WidgetPIDparams p;
            QCOMPARE(realFreq(&p), QString("1000.00 Hz"));
            box(&p, "curFreqBox")->setValue(requested);
            const QString row = QString("%1 Hz at %2: ").arg(requested, 0, 'g', 10).arg(base);
            QCOMPARE(row + QString::number(p.divider()) + ", " + realFreq(&p),
                     row + QString::number(divider) + ", " + shown);
        }
    }

    // OK at level 2: three dividers, the offsets, then per loop its
    // parameter block with its apply message followed by storing its group.
    void okSendsEveryLoop_eachLoopStoredAfterItsParameters()
    {
        storeLoops();
        w->showWindow();
        QFile::remove(f.config->filePath()); // so that only OK can bring the groups back
        std::vector<QByteArray> fileAtMessage;
        f.controller.onTransfer = [&](const MailboxMessage&) {
            fileAtMessage.push_back(fileText(f.config->filePath()));
        };
        press(QDialogButtonBox::Ok);
        QVERIFY(!w->isVisible());
        QCOMPARE(int(fileAtMessage.size()), 18);
        QVERIFY(fileAtMessage[9].isEmpty());             // X's apply: nothing stored yet
        QVERIFY(fileAtMessage[10].contains("[PID_X]"));  // Y's first block
        QVERIFY(!fileAtMessage[13].contains("[PID_Y]")); // Y's apply
        QVERIFY(fileAtMessage[14].contains("[PID_Y]"));  // I0's first block
        QVERIFY(!fileAtMessage[17].contains("[PID_I0]"));
        QVERIFY(fileText(f.config->filePath()).contains("[PID_I0]"));

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
    }

    // Showing loads the file into the boxes; with an encoder interface the
    // intensity loop is hidden but still stored and sent, and the real
    // frequencies follow the encoder's base rate.
    void showLoads_encoderHidesIntensityLoop()
    {
        storeLoops();
        w->showWindow();
        QCOMPARE(box(panel("posYwidget"), "boxKd")->value(), 16.0);
        QCOMPARE(box(panel("posYwidget"), "offsetDoubleSpinBox")->value(), -1.5);
        QCOMPARE(box(panel("intI0widget"), "curFreqBox")->value(), 500.0);
        QVERIFY(panel("intI0widget")->isVisible());
        QVERIFY(!child<QLabel>(w.get(), "label_picture")->pixmap(Qt::ReturnByValue).isNull());

        w->hide();
        QVERIFY(f.config->setPidX(3000, 0.5, 0.25, 0.125, 1, 100, -10, 10, 2, 0.5));
        w->showWindow();
        QCOMPARE(realFreq(panel("posXwidget")), QString("3030.30 Hz"));

        // An encoder interface; the poll lowers the base rate.
        f.controller.slotContents[1].deviceId = 0x2300;
        f.mailbox->scanSlots();
        QCOMPARE(PID_BASE_FREQ.load(), 5000);
        w->hide();
        w->showWindow();
        QVERIFY(panel("intI0widget")->isHidden() && child(w.get(), "label_i0")->isHidden());
        // The stored 3000 Hz did not change, the rate it runs at did.
        QCOMPARE(realFreq(panel("posXwidget")), QString("2500.00 Hz"));

        // 0 Hz and more than twice the base rate never send a divider of 0;
        // the hidden loop is sent too, and the request stored as entered.
        box(panel("posYwidget"), "curFreqBox")->setValue(0);
        box(panel("intI0widget"), "curFreqBox")->setValue(50000);
        press(QDialogButtonBox::Apply);
        QVERIFY(w->isVisible());
        QCOMPARE(
            hexOf(f.sent(cmd::SetPidDivider)),
            goldenHex({"00020001 02000000 00", "00020001 ffffff7f 01", "00020001 01000000 02"}));
        QCOMPARE(int(f.sent(cmd::ApplyPidParams).size()), 3);
        QCOMPARE(realFreq(panel("intI0widget")), QString("5000.00 Hz"));
        double freq = -1;
        f.config->getPidY(&freq, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr);
        QCOMPARE(freq, 0.0);
    }

    // Levels 0 and 1 see the panels disabled, and OK or Apply neither send
    // nor store (OK still closes); level 2 enables them; an unknown level
    // changes nothing. Cancel never sends, at any level. A configuration file
    // that cannot be written: everything still reaches the controller, then
    // one warning names the file; a file that can be written shows nothing.
    void gatingByUserLevel_andUnsavedWarning()
    {
        storeLoops();
        const QByteArray before = fileText(f.config->filePath());
        for (int level : {0, 1}) {
            userLevel = level;
            w->showWindow();
            QCOMPARE(enabled(), QStringLiteral("000"));
            box(panel("posXwidget"), "boxKp")->setValue(9); // programmatic; the box is disabled
            press(QDialogButtonBox::Apply);
            press(QDialogButtonBox::Ok);
            QVERIFY(f.driver.transfers().empty());
            QCOMPARE(fileText(f.config->filePath()), before);
            QVERIFY(!w->isVisible());
        }
        for (int level : {2, 7}) {
            userLevel = level;
            w->checkUserLevel();
            QCOMPARE(enabled(), QStringLiteral("111"));
        }
        userLevel = 2;
        w->showWindow();
        press(QDialogButtonBox::Cancel);
        QVERIFY(f.driver.transfers().empty() && !w->isVisible());

        f.setConfigWritable(false);
        w->showWindow();
        BoxCatcher catcher;
        bool boxBeforeLastMessage = false;
        f.controller.onTransfer = [&](const MailboxMessage&) {
            boxBeforeLastMessage |= !catcher.boxes.empty();
        };
        press(QDialogButtonBox::Apply);
        QCOMPARE(int(f.driver.transfers().size()), 18);
        QVERIFY(!boxBeforeLastMessage);
        QCOMPARE(int(catcher.boxes.size()), 1);
        QCOMPARE(catcher.boxes[0].title, settingsNotSavedTitle());
        QCOMPARE(catcher.boxes[0].text, settingsNotSavedText(theConfig->filePath()));
        QVERIFY(!catcher.boxes[0].hasParent);
        f.setConfigWritable(true);
        press(QDialogButtonBox::Apply);
        QCOMPARE(int(catcher.boxes.size()), 1);
    }
};

QTEST_MAIN(TestWindowPIDparams)
#include "tst_windowpidparams.moc"
