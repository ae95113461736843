// The records that cross the driver boundary. Most field offsets are pinned
// by static_asserts beside the record definitions; the statistics' spreads
// (nine doubles per BPM: mean, deviation, deviation at 1000 Hz of X, then Y,
// then I0) and where a slot's record sits in its reply are pinned here
// against the controller's layout. Where the
// display cycle finds each value of a display record is checked in
// tst_updater, the DAC output set as it leaves through the driver in
// tst_hostoutputs.

#include "support/recordingdriver.h"

#include "device/picocurrents.h"

#include <QtTest>

#include <fcntl.h>

using namespace zevo;

static_assert(offsetof(BpmStatistics, xStd) == 8 && offsetof(BpmStatistics, xStd1kHz) == 16 &&
                  offsetof(BpmStatistics, yStd) == 32 && offsetof(BpmStatistics, yStd1kHz) == 40 &&
                  offsetof(BpmStatistics, i0Std) == 56,
              "BPM statistics as the controller writes them");
static_assert(kSlotReplyOffset == 8, "a slot's record is bytes 8 to 21 of its ReadSlot reply");

class TestRecords : public QObject
{
    Q_OBJECT

private slots:
    // Element 3 - c is channel c; a driver that writes far more than the four
    // currents must not overrun the caller, and a failed read changes nothing.
    void currents_firstFourValuesFromALongerReply()
    {
        RecordingDriver driver;
        QByteArray bytes = QByteArray::fromHex("0000000000001040 0000000000000840"
                                               "0000000000000040 000000000000f03f");
        bytes.append(QByteArray(int(kPicoCurrentsReplyBytes) - bytes.size(), '\xee'));
        driver.setPicoCurrentsReply(bytes);
        const int fd = driver.open(kPico0Node, O_RDWR | O_SYNC);

        PicoCurrentsRecord record{};
        QCOMPARE(readPicoCurrents(driver, fd, record), 0);
        QCOMPARE(QVector<double>({channelCurrent(record, 0), channelCurrent(record, 1),
                                  channelCurrent(record, 2), channelCurrent(record, 3)}),
                 QVector<double>({1.0, 2.0, 3.0, 4.0}));

        driver.failRequest(AMM_IOC_READ_CURRENTS);
        PicoCurrentsRecord kept{{9, 9, 9, 9}};
        QVERIFY(readPicoCurrents(driver, fd, kept) < 0);
        QCOMPARE(kept.current[0], 9.0);
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
