// The picoammeter window over a scripted controller: the currents of each
// picoammeter's information record, the range message each panel sends, the
// range that cannot be chosen, and the panel of a second picoammeter that
// comes and goes with the device count.

#include "app/initresources.h"
#include "beamline/widgetpico.h"
#include "beamline/windowpico.h"
#include "support/bytes.h"
#include "support/programfixture.h"
#include "support/widgets.h"

#include <QtWidgets>

#include <cstring>

using namespace zevo;
using Ids = std::array<uint16_t, kSlotCount>;

namespace
{
constexpr Ids kTwoPicos = {0x2101, 0x2101, 0x2200, 0};

// An information record written byte by byte: the four channel currents lie
// at offsets 52 (CH1), 44 (CH2), 36 (CH3) and 28 (CH4).
PicoInfoRecord infoWithCurrents(double ch1, double ch2, double ch3, double ch4)
{
    unsigned char bytes[64] = {};
    for (const auto& [offset, current] : {std::pair{52, ch1}, {44, ch2}, {36, ch3}, {28, ch4}})
        std::memcpy(bytes + offset, &current, 8);
    PicoInfoRecord r;
    std::memcpy(&r, bytes, sizeof r);
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

bool secondPanelShown(WindowPico& w)
{
    return w.panel(1)->isVisibleTo(&w) && child(&w, "label_dorvish1")->isVisibleTo(&w);
}
} // namespace

class TestWindowPico : public QObject
{
    Q_OBJECT

    ProgramFixture f;

    void start(const Ids& ids)
    {
        f.controller.plug(ids);
        f.setUp();
    }

private slots:
    void initTestCase() { initResources(); }
    void cleanup() { f.tearDown(); }

    // Every channel in exponent format, and refreshed while the window is closed.
    void currents_showEachChannelInExponentFormat()
    {
        start(kTwoPicos);
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
        start(kTwoPicos);
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

    // Exactly one device hides the second panel, from the start and across
    // reopening; no device at all shows both; a second picoammeter shows it
    // again, each at the next refresh.
    void secondPanel_followsTheDeviceCount()
    {
        start({0x2101, 0, 0x2200, 0});
        WindowPico w;
        QVERIFY(!secondPanelShown(w));
        w.show();
        QVERIFY(!secondPanelShown(w));
        w.close();
        w.show();
        QVERIFY(!secondPanelShown(w));
        const std::pair<Ids, bool> steps[] = {
            {{0, 0, 0x2200, 0}, true}, {{0x2101, 0, 0x2200, 0}, false}, {kTwoPicos, true}};
        for (const auto& [ids, shown] : steps) {
            f.controller.plug(ids);
            f.mailbox->scanSlots();
            QTRY_COMPARE_WITH_TIMEOUT(secondPanelShown(w), shown, 2 * WindowPico::kRefreshMs);
            QVERIFY(w.panel(0)->isVisible());
        }
    }
};

QTEST_MAIN(TestWindowPico)
#include "tst_windowpico.moc"
