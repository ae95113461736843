// The picoammeter window over a scripted controller: the currents of each
// picoammeter's information record, the range message each panel sends, and
// the range that cannot be chosen. (The second panel and the device count:
// tst_windowbeamlineconf.)

#include "app/initresources.h"
#include "beamline/widgetpico.h"
#include "beamline/windowpico.h"
#include "support/bytes.h"
#include "support/programfixture.h"
#include "support/widgets.h"

#include <QtWidgets>

using namespace zevo;

namespace
{
constexpr std::array<uint16_t, kSlotCount> kTwoPicos = {0x2101, 0x2101, 0x2200, 0};

// An information record with these channel currents (the layout is fixed
// next to its definition).
PicoInfoRecord infoWithCurrents(double ch1, double ch2, double ch3, double ch4)
{
    PicoInfoRecord r{};
    r.currentCh1 = ch1;
    r.currentCh2 = ch2;
    r.currentCh3 = ch3;
    r.currentCh4 = ch4;
    return r;
}

QStringList fields(WindowPico& w, int pico)
{
    QStringList texts;
    for (const char* name :
         {"currentCh1Line", "currentCh2Line", "currentCh3Line", "currentCh4Line"})
        texts << child<QLineEdit>(w.panel(pico), name)->text();
    return texts;
}
} // namespace

class TestWindowPico : public QObject
{
    Q_OBJECT

    ProgramFixture f;

private slots:
    void initTestCase() { initResources(); }
    void init()
    {
        f.controller.plug(kTwoPicos);
        f.setUp();
    }
    void cleanup() { f.tearDown(); }

    // Every channel in exponent format, and refreshed while the window is closed.
    void currents_showEachChannelInExponentFormat()
    {
        f.driver.setPicoInfo(0, infoWithCurrents(1.234567e-9, 0.0, -2.5e-7, 1e-3));
        f.driver.setPicoInfo(1, infoWithCurrents(3.3e-12, 4.4e-11, 5.5e-10, 6.6e-9));
        f.updater->updateDorvishs();
        WindowPico w;
        w.show();
        QCOMPARE(fields(w, 0) + fields(w, 1),
                 (QStringList{"1.23457e-09", "0.00000e+00", "-2.50000e-07", "1.00000e-03",
                              "3.30000e-12", "4.40000e-11", "5.50000e-10", "6.60000e-09"}));
        w.close();
        f.driver.setPicoInfo(0, infoWithCurrents(7e-8, 0, 0, 0));
        f.updater->updateDorvishs();
        QTRY_COMPARE_WITH_TIMEOUT(fields(w, 0).first(), QStringLiteral("7.00000e-08"),
                                  2 * WindowPico::kRefreshMs);
    }

    // Each panel sends its own picoammeter's index with the chosen range;
    // "AUTO" is listed but can be neither chosen (the keyboard stops at "1")
    // nor sent, not even when made current from code.
    void updateRange_sendsTheChosenRangeForItsPicoammeter()
    {
        WindowPico w;
        w.show();
        auto* box = child<QComboBox>(w.panel(0), "rangeBox");
        QCOMPARE(box->itemText(2), QStringLiteral("AUTO"));
        box->setFocus();
        for (Qt::Key key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_End})
            QTest::keyClick(box, key);
        QCOMPARE(box->currentText(), QStringLiteral("1"));
        QVERIFY(f.sent(cmd::SetPicoRange).empty()); // nothing goes out while choosing
        click(w.panel(0), "saveButton");
        click(w.panel(1), "saveButton");
        box->setCurrentIndex(2);
        click(w.panel(0), "saveButton");
        QCOMPARE(hexOf(f.sent(cmd::SetPicoRange)),
                 goldenHex({"00030004 00000000 01",    // picoammeter 1, range 1
                            "00030004 01000000 00"})); // picoammeter 2, range 0
    }
};

QTEST_MAIN(TestWindowPico)
#include "tst_windowpico.moc"
