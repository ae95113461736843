// The information windows over a scripted controller. SFP: what each column
// shows for the devices the poll found, the catalogue's names and pictures,
// devices the catalogue lacks, and when the table is refilled. About: the
// program's and the controller's versions. Picoammeters: the currents of
// each information record, the range message each panel sends, and the
// range that cannot be chosen. (The second picoammeter panel and the device
// count: tst_windowbeamlineconf.)

#include "app/initresources.h"
#include "beamline/about.h"
#include "beamline/widgetpico.h"
#include "beamline/windowpico.h"
#include "beamline/windowsfpstatus.h"
#include "support/bytes.h"
#include "support/programfixture.h"
#include "support/widgets.h"

#include <QtWidgets>

using namespace zevo;

namespace
{
QImage scaledIcon(const char* file)
{
    return QPixmap(QStringLiteral(":/product_data/") + QLatin1String(file))
        .scaled(100, 100, Qt::KeepAspectRatio, Qt::SmoothTransformation)
        .toImage();
}

const QStringList kNoCells = {"-", "-", "-", "-", "-"};

// An information record with these channel currents.
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

class TestWindowSFPstatus : public QObject
{
    Q_OBJECT

    ProgramFixture m_program;
    std::array<SlotRecord, kSlotCount>& m_slots = m_program.controller.slotContents;
    std::unique_ptr<WindowSFPstatus> w;

    // The controller reports m_slots; the window is shown over it.
    void start()
    {
        m_program.setUp();
        w = std::make_unique<WindowSFPstatus>();
        w->show();
    }
    void replug(int index, const SlotRecord& record)
    {
        m_slots[std::size_t(index)] = record;
        m_program.mailbox->scanSlots();
    }
    QTableWidgetItem* item(int row, int c) const
    {
        return child<QTableWidget>(w.get(), "SFPsTable")->item(row, c);
    }
    // A column from the picture down: the cells' texts, "-" where there is no cell.
    QStringList column(int c) const
    {
        QStringList texts;
        for (int row = 0; row < WindowSFPstatus::RowCount; ++row)
            texts << (item(row, c) ? item(row, c)->text() : "-");
        return texts;
    }
    QImage picture(int c) const
    {
        return item(WindowSFPstatus::RowImage, c)
            ->data(Qt::DecorationRole)
            .value<QPixmap>()
            .toImage();
    }

private slots:
    void initTestCase() { initResources(); }
    void init() { m_slots = {}; }
    void cleanup()
    {
        w.reset();
        m_program.tearDown();
        controllerVersions = ControllerVersions{};
    }

    // A device the catalogue does not know (with firmware bytes that are no
    // characters): no name, no picture, the slot record's values still. A
    // picoammeter, the power supply (whose picture is not embedded: its name
    // alone) and an empty slot. Filled at once on showing, not a tick later.
    void columns_showEachSlotsDevice_refreshFollowsThePollWhileShown()
    {
        m_slots[0] = SlotRecord{0x2105, 9, {0, '1', 0x7f, '2'}, 7};
        m_slots[1] = SlotRecord{0x2101, 3, {'2', '0', '0', '1'}, 1234};
        m_slots[2] = SlotRecord{0x1100, 1, {'0', '0', '0', '1'}, 11000208};
        start();
        QCOMPARE(column(0) + column(1) + column(2) + column(3),
                 (QStringList{"", "", "7", "2.?.1.?", "9", "", "Dorvish", "1234", "1.0.0.2", "3",
                              "", "Kavrel", "11000208", "1.0.0.0", "1"} +
                  kNoCells));
        QCOMPARE(picture(1), scaledIcon("icon_dorvish.png"));
        QVERIFY(picture(0).isNull() && picture(2).isNull());

        // Shown, the table follows the poll at its own pace (a variant of the
        // picoammeter finding its own catalogue entry and picture); hidden, it
        // is emptied and left empty; shown again, it is up to date at once.
        replug(1, SlotRecord{0x2140, 1, {'3', '0', '0', '1'}, 21400071});
        QCOMPARE(column(1).at(WindowSFPstatus::RowName), QStringLiteral("Dorvish"));
        QTRY_COMPARE_WITH_TIMEOUT(
            column(1), (QStringList{"", "Dorvish (fast interface)", "21400071", "1.0.0.3", "1"}),
            2 * WindowSFPstatus::kRefreshMs);
        QCOMPARE(picture(1), scaledIcon("icon_dorvish_fast.png"));
        w->hide();
        replug(3, SlotRecord{0x2200, 2, {'1', '0', '1', '1'}, 22000153});
        QTest::qWait(2 * WindowSFPstatus::kRefreshMs);
        QCOMPARE(column(1) + column(3), kNoCells + kNoCells);
        w->show();
        QCOMPARE(column(3), (QStringList{"", "Ostrel", "22000153", "1.1.0.1", "2"}));
    }

    // The program's version and build, and the three controller strings
    // each in its field as start-up read them, with nothing asked of the
    // controller on opening.
    void about_showsProgramAndControllerVersions()
    {
        m_program.setUp();
        controllerVersions = {"1719835200", "1.0.03", "1.2.05"};
        about a;
        QStringList fields = {child<QLabel>(a, "label_2")->text()};
        for (const char* name : {"curVerTSLineEdit", "curVerSWLineEdit", "curPIDverLineEdit"})
            fields << child<QLineEdit>(a, name)->text();
        QCOMPARE(fields, (QStringList{"Quorvex ZEVO Local User Interface<br>v1.0 build 826",
                                      "1719835200", "1.0.03", "1.2.05"}));
        QCOMPARE(m_program.driver.countCalls(RecordingDriver::Call::Ioctl), 0);
    }

    // Every channel in exponent format, and refreshed while the window is
    // closed. Each panel sends its own picoammeter's index with the chosen
    // range; "AUTO" is listed but can be neither chosen (the keyboard stops
    // at "1") nor sent, not even when made current from code.
    void pico_currentsInExponentFormat_rangeForItsPicoammeter()
    {
        m_program.controller.plug({0x2101, 0x2101, 0x2200, 0});
        m_program.setUp();
        auto& driver = m_program.driver;
        driver.setPicoInfo(0, infoWithCurrents(1.234567e-9, 0.0, -2.5e-7, 1e-3));
        driver.setPicoInfo(1, infoWithCurrents(3.3e-12, 4.4e-11, 5.5e-10, 6.6e-9));
        m_program.updater->updateDorvishs();
        WindowPico w;
        w.show();
        QCOMPARE(fields(w, 0) + fields(w, 1),
                 (QStringList{"1.23457e-09", "0.00000e+00", "-2.50000e-07", "1.00000e-03",
                              "3.30000e-12", "4.40000e-11", "5.50000e-10", "6.60000e-09"}));
        w.close();
        driver.setPicoInfo(0, infoWithCurrents(7e-8, 0, 0, 0));
        m_program.updater->updateDorvishs();
        QTRY_COMPARE_WITH_TIMEOUT(fields(w, 0).first(), QStringLiteral("7.00000e-08"),
                                  2 * WindowPico::kRefreshMs);

        w.show();
        auto* box = child<QComboBox>(w.panel(0), "rangeBox");
        QCOMPARE(box->itemText(2), QStringLiteral("AUTO"));
        box->setFocus();
        for (Qt::Key key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_End})
            QTest::keyClick(box, key);
        QCOMPARE(box->currentText(), QStringLiteral("1"));
        QVERIFY(m_program.sent(cmd::SetPicoRange).empty()); // nothing goes out while choosing
        click(w.panel(0), "saveButton");
        click(w.panel(1), "saveButton");
        box->setCurrentIndex(2);
        click(w.panel(0), "saveButton");
        QCOMPARE(hexOf(m_program.sent(cmd::SetPicoRange)),
                 goldenHex({"00030004 00000000 01",    // picoammeter 1, range 1
                            "00030004 01000000 00"})); // picoammeter 2, range 0
    }
};

QTEST_MAIN(TestWindowSFPstatus)
#include "tst_windowsfpstatus.moc"
