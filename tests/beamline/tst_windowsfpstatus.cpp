// The SFP information window over a scripted controller: what each column
// shows for the devices the poll found, the catalogue's names and pictures,
// devices the catalogue lacks, and when the table is refilled.

#include "app/initresources.h"
#include "beamline/windowsfpstatus.h"
#include "support/programfixture.h"

#include <QImage>
#include <QPixmap>
#include <QTableWidget>
#include <QtTest>

#include <array>
#include <cstring>
#include <memory>

using namespace zevo;

namespace
{
SlotRecord slot(uint16_t id, uint32_t serial, uint32_t hw, const char fwAsSent[4])
{
    SlotRecord r{};
    r.deviceId = id;
    r.serial = serial;
    r.hwVersion = hw;
    std::memcpy(r.fwVersion, fwAsSent, 4);
    return r;
}

QImage scaledIcon(const char* file)
{
    return QPixmap(QStringLiteral(":/product_data/") + QLatin1String(file))
        .scaled(100, 100, Qt::KeepAspectRatio, Qt::SmoothTransformation)
        .toImage();
}
} // namespace

class TestWindowSFPstatus : public QObject
{
    Q_OBJECT

private:
    ProgramFixture m_program;
    std::array<SlotRecord, kSlotCount>& m_slots = m_program.controller.slotContents;

    // The controller reports m_slots; the mailbox has scanned them once.
    void startController() { m_program.setUp(); }
    void replug(int index, const SlotRecord& record)
    {
        m_slots[std::size_t(index)] = record;
        m_program.mailbox->scanSlots();
    }

    static QTableWidget* table(QWidget& w) { return w.findChild<QTableWidget*>("SFPsTable"); }
    static QString cell(QWidget& w, int row, int column)
    {
        QTableWidgetItem* item = table(w)->item(row, column);
        return item ? item->text() : QString();
    }
    static QImage picture(QWidget& w, int column)
    {
        QTableWidgetItem* item = table(w)->item(WindowSFPstatus::RowImage, column);
        return item ? item->data(Qt::DecorationRole).value<QPixmap>().toImage() : QImage();
    }
    static QStringList column(QWidget& w, int c)
    {
        QStringList texts;
        for (int row = WindowSFPstatus::RowName; row < WindowSFPstatus::RowCount; ++row)
            texts << cell(w, row, c);
        return texts;
    }
    static bool emptyColumn(QWidget& w, int c)
    {
        for (int row = 0; row < WindowSFPstatus::RowCount; ++row)
            if (table(w)->item(row, c))
                return false;
        return true;
    }

private slots:
    void initTestCase() { initResources(); }
    void init() { m_slots = {}; }
    void cleanup() { m_program.tearDown(); }

    // A picoammeter, a device the catalogue does not know (with firmware
    // bytes that are no characters), the power supply and an empty slot.
    void columns_showEachSlotsDevice()
    {
        const char noCharacters[4] = {'\0', '1', '\x7f', '2'};
        m_slots[0] = slot(0x2105, 7, 9, noCharacters);
        m_slots[1] = slot(0x2101, 1234, 3, "2001");
        m_slots[2] = slot(0x1100, 11000208, 1, "0001");
        startController();

        WindowSFPstatus w;
        QCOMPARE(w.windowTitle(), QStringLiteral("SFP Info"));
        QTableWidget* t = table(w);
        QCOMPARE(t->horizontalHeaderItem(3)->text(), QStringLiteral("SFP D"));
        QCOMPARE(t->verticalHeaderItem(WindowSFPstatus::RowHardware)->text(),
                 QStringLiteral("HW Ver"));

        w.show(); // filled at once, not a tick later
        QCOMPARE(column(w, 1), (QStringList{"Dorvish", "1234", "1.0.0.2", "3"}));
        QCOMPARE(picture(w, 1), scaledIcon("icon_dorvish.png"));
        QCOMPARE(picture(w, 1).size(), QSize(100, 100));

        // Unknown id: no picture, no name, the slot record's values still.
        QCOMPARE(column(w, 0), (QStringList{"", "7", "2.?.1.?", "9"}));
        QVERIFY(picture(w, 0).isNull());

        // The power supply's picture is not embedded: its name alone.
        QCOMPARE(column(w, 2), (QStringList{"Kavrel", "11000208", "1.0.0.0", "1"}));
        QVERIFY(picture(w, 2).isNull());

        QVERIFY(emptyColumn(w, 3));
        QCOMPARE(t->editTriggers(), QAbstractItemView::NoEditTriggers);
    }

    // Variant bits of the catalogue (recovery mode, fast interface) find
    // their own entries, so a lookup that stopped at the wrong element or
    // took the wrong child would show here.
    void catalogue_givesEachVariantItsNameAndPicture()
    {
        const uint16_t ids[] = {0x2180, 0x2140, 0x2240, 0x2340};
        for (int c = 0; c < 4; ++c)
            m_slots[std::size_t(c)] = slot(ids[c], 1, 1, "0001");
        startController();
        WindowSFPstatus w;
        w.show();
        QStringList names;
        for (int c = 0; c < 4; ++c)
            names << cell(w, WindowSFPstatus::RowName, c);
        QCOMPARE(names, (QStringList{"Dorvish (recovery mode)", "Dorvish (fast interface)",
                                     "Ostrel (Fast)", "Pavun (SFP)"}));
        QCOMPARE(picture(w, 0), scaledIcon("icon_dorvish.png"));
        QCOMPARE(picture(w, 1), scaledIcon("icon_dorvish_fast.png"));
        QCOMPARE(picture(w, 2), scaledIcon("icon_Ostrel.png"));
        QCOMPARE(picture(w, 3), scaledIcon("icon_Pavun.png"));
    }

    // Shown, the table follows the poll at its own pace; hidden, it is
    // emptied and left empty; shown again, it is up to date at once.
    void refresh_followsThePollWhileShown()
    {
        m_slots[0] = slot(0x2101, 1, 3, "2001");
        startController();
        WindowSFPstatus w;
        w.show();
        QCOMPARE(cell(w, WindowSFPstatus::RowName, 0), QStringLiteral("Dorvish"));

        replug(0, slot(0x2300, 23000071, 1, "3001"));
        QCOMPARE(cell(w, WindowSFPstatus::RowName, 0), QStringLiteral("Dorvish"));
        QTRY_COMPARE_WITH_TIMEOUT(cell(w, WindowSFPstatus::RowName, 0), QStringLiteral("Pavun"),
                                  2 * WindowSFPstatus::kRefreshMs);
        QCOMPARE(cell(w, WindowSFPstatus::RowSerial, 0), QStringLiteral("23000071"));

        w.hide();
        replug(1, slot(0x2200, 22000153, 2, "1011"));
        QTRY_VERIFY_WITH_TIMEOUT(emptyColumn(w, 0), 2 * WindowSFPstatus::kRefreshMs);
        QTest::qWait(WindowSFPstatus::kRefreshMs + 100);
        QVERIFY(emptyColumn(w, 0) && emptyColumn(w, 1));

        w.show();
        QCOMPARE(cell(w, WindowSFPstatus::RowName, 1), QStringLiteral("Ostrel"));
        QCOMPARE(cell(w, WindowSFPstatus::RowFirmware, 1), QStringLiteral("1.1.0.1"));
    }
};

QTEST_MAIN(TestWindowSFPstatus)
#include "tst_windowsfpstatus.moc"
