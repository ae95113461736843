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

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <climits>

using namespace zevo;

class TestWindowPIDparams : public QObject
{
    Q_OBJECT

    ProgramFixture f;
    std::unique_ptr<WindowPIDparams> w;

    WidgetPIDparams* panel(const char* name) const { return w->findChild<WidgetPIDparams*>(name); }
    static QDoubleSpinBox* box(WidgetPIDparams* p, const char* name)
    {
        return p->findChild<QDoubleSpinBox*>(name);
    }
    static QString realFreq(WidgetPIDparams* p)
    {
        return p->findChild<QLineEdit*>("realFreqLine")->text();
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

    void dividerAndRealFrequency_data()
    {
        QTest::addColumn<int>("base");
        QTest::addColumn<double>("requested");
        QTest::addColumn<int>("divider");
        QTest::addColumn<QString>("shown");
        QTest::newRow("1000 Hz") << 100000 << 1000.0 << 100 << "1000.00 Hz";
        QTest::newRow("3000 Hz") << 100000 << 3000.0 << 33 << "3030.30 Hz";
        QTest::newRow("30000 Hz") << 100000 << 30000.0 << 3 << "33333.33 Hz";
        QTest::newRow("encoder 1000 Hz") << 5000 << 1000.0 << 5 << "1000.00 Hz";
        QTest::newRow("encoder 3000 Hz") << 5000 << 3000.0 << 2 << "2500.00 Hz";
        // Requests that round the divider to 0 run at the base rate.
        QTest::newRow("encoder twice base") << 5000 << 10000.0 << 1 << "5000.00 Hz";
        QTest::newRow("encoder above twice base") << 5000 << 10000.01 << 1 << "5000.00 Hz";
        QTest::newRow("encoder top of range") << 5000 << 100000.0 << 1 << "5000.00 Hz";
        // 0 Hz: as slowly as the controller can count.
        QTest::newRow("0 Hz") << 100000 << 0.0 << INT_MAX << "0.00 Hz";
        QTest::newRow("encoder 0 Hz") << 5000 << 0.0 << INT_MAX << "0.00 Hz";
        QTest::newRow("slowest entry") << 100000 << 0.01 << 10000000 << "0.01 Hz";
    }

    void dividerAndRealFrequency()
    {
        QFETCH(int, base);
        QFETCH(double, requested);
        QFETCH(int, divider);
        QFETCH(QString, shown);
        PID_BASE_FREQ = base;
        WidgetPIDparams p;
        QCOMPARE(realFreq(&p), QString("1000.00 Hz")); // from the form's 1000 Hz at construction
        box(&p, "curFreqBox")->setValue(requested);
        QCOMPARE(p.divider(), divider);
        QCOMPARE(realFreq(&p), shown);
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

        double v[10];
        f.config->getPidY(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9]);
        const double y[10] = {2000, 4, 8, 16, 2, 50, -5, 5, 1, -1.5};
        for (int i = 0; i < 10; ++i)
            QCOMPARE(v[i], y[i]);
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
        QVERIFY(!w->findChild<QLabel*>("label_picture")->pixmap(Qt::ReturnByValue).isNull());

        w->hide();
        QVERIFY(f.config->setPidX(3000, 0.5, 0.25, 0.125, 1, 100, -10, 10, 2, 0.5));
        w->showWindow();
        QCOMPARE(realFreq(panel("posXwidget")), QString("3030.30 Hz"));

        f.controller.slotContents[1].deviceId =
            0x2300; // an encoder interface; the poll lowers the base rate
        f.mailbox->scanSlots();
        QCOMPARE(PID_BASE_FREQ.load(), 5000);
        w->hide();
        w->showWindow();
        QVERIFY(panel("intI0widget")->isHidden());
        QVERIFY(w->findChild<QLabel*>("label_i0")->isHidden());
        // The stored 3000 Hz did not change, the rate it runs at did.
        QCOMPARE(realFreq(panel("posXwidget")), QString("2500.00 Hz"));

        // 0 Hz and more than twice the base rate never send a divider of 0.
        box(panel("posYwidget"), "curFreqBox")->setValue(0);
        box(panel("intI0widget"), "curFreqBox")->setValue(50000);
        press(QDialogButtonBox::Apply);
        QVERIFY(w->isVisible());
        const auto dividers = f.sent(cmd::SetPidDivider);
        QCOMPARE(int(dividers.size()), 3);
        QCOMPARE(dividers[0].u32(4), 2u);
        QCOMPARE(dividers[1].u32(4), uint32_t(INT_MAX));
        QCOMPARE(dividers[2].u32(4), 1u);
        QCOMPARE(int(f.sent(cmd::ApplyPidParams).size()), 3); // the hidden loop too
        QCOMPARE(realFreq(panel("intI0widget")), QString("5000.00 Hz"));
        double freq = -1;
        f.config->getPidY(&freq, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr);
        QCOMPARE(freq, 0.0); // the request is stored as entered
    }

    // Levels 0 and 1 see the panels disabled, and OK or Apply neither send
    // nor store; level 2 enables them; an unknown level changes nothing.
    void gatingByUserLevel()
    {
        storeLoops();
        const QByteArray before = fileText(f.config->filePath());
        const char* panels[] = {"posXwidget", "posYwidget", "intI0widget"};
        for (int level : {0, 1}) {
            userLevel = level;
            w->showWindow();
            for (const char* p : panels)
                QVERIFY2(!panel(p)->isEnabled(), p);
            box(panel("posXwidget"), "boxKp")->setValue(9); // programmatic; the box is disabled
            press(QDialogButtonBox::Apply);
            press(QDialogButtonBox::Ok);
            QVERIFY(f.driver.transfers().empty());
            QCOMPARE(fileText(f.config->filePath()), before);
            QVERIFY(!w->isVisible()); // OK still closes
        }

        userLevel = 2;
        w->checkUserLevel();
        for (const char* p : panels)
            QVERIFY2(panel(p)->isEnabled(), p);
        userLevel = 7;
        w->checkUserLevel();
        QVERIFY(panel("posYwidget")->isEnabled());

        // Cancel never sends, at any level.
        userLevel = 2;
        w->showWindow();
        press(QDialogButtonBox::Cancel);
        QVERIFY(f.driver.transfers().empty());
        QVERIFY(!w->isVisible());
    }

    // A configuration file that cannot be written: everything still reaches
    // the controller, then one warning names the file.
    void failedWriteWarnsAfterSending()
    {
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

        // A file that can be written shows nothing.
        f.setConfigWritable(true);
        press(QDialogButtonBox::Apply);
        QCOMPARE(int(catcher.boxes.size()), 1);
    }
};

QTEST_MAIN(TestWindowPIDparams)
#include "tst_windowpidparams.moc"
