// Every record that crosses the driver boundary, checked against bytes
// written out by hand from the record layouts: the fields the program reads
// or writes must sit at exactly these offsets. A round trip through the one
// shared header could not catch a mistake in that header. (The DAC output
// set is checked as it leaves through the driver, in tst_hostoutputs; where
// the display cycle finds each value of a display record, in tst_updater.)
//
// Little-endian doubles used below: 1.0 = 000000000000f03f, 2.0 = ...0040,
// 3.0 = ...0840, 4.0 = ...1040, 5.0 = ...1440, 6.0 = ...1840, 7.0 = ...1c40,
// 8.0 = ...2040, 9.0 = ...2240, 10.0 = ...2440 ... 18.0 = ...3240.

#include "support/recordingdriver.h"

#include "acquisition/updater.h"
#include "device/globals.h"
#include "device/mailboxcomm.h"
#include "device/picocurrents.h"

#include <QtTest>

#include <qcustomplot.h>

#include <fcntl.h>

using namespace zevo;

namespace
{

QByteArray hex(const char* spaced)
{
    return QByteArray::fromHex(QByteArray(spaced).replace(' ', ""));
}

// `size` zero bytes with hand-written hex placed at hand-written offsets.
QByteArray placed(int size, std::initializer_list<std::pair<int, const char*>> fields)
{
    QByteArray bytes(size, '\0');
    for (const auto& field : fields) {
        const QByteArray value = hex(field.second);
        bytes.replace(field.first, value.size(), value);
    }
    return bytes;
}

template <typename Record> Record fromBytes(const QByteArray& bytes)
{
    Record record;
    Q_ASSERT(bytes.size() == int(sizeof record));
    std::memcpy(&record, bytes.constData(), sizeof record);
    return record;
}

} // namespace

class TestRecords : public QObject
{
    Q_OBJECT

    RecordingDriver driver;

private slots:
    // 8 bytes not interpreted, then nine doubles per BPM: mean, deviation and
    // deviation at 1000 Hz of X, then of Y, then of I0.
    void statusBlock_statisticsAtTheirOffsets()
    {
        // clang-format off
        const QByteArray bytes = hex("a1a2a3a4a5a6a7a8"
            "000000000000f03f 0000000000000040 0000000000000840 0000000000001040 0000000000001440"
            "0000000000001840 0000000000001c40 0000000000002040 0000000000002240"
            "0000000000002440 0000000000002640 0000000000002840 0000000000002a40 0000000000002c40"
            "0000000000002e40 0000000000003040 0000000000003140 0000000000003240");
        // clang-format on
        QCOMPARE(bytes.size(), 152);
        driver.setStatusBlock(fromBytes<MailboxStatusBlock>(bytes));
        MailboxComm comm(driver);
        comm.doSetupOnNewThread();
        comm.refreshData();

        QVector<double> got;
        for (const BpmStatistics& s : comm.statusBlock().bpm)
            got << s.xMean << s.xStd << s.xStd1kHz << s.yMean << s.yStd << s.yStd1kHz << s.i0Mean
                << s.i0Std << s.i0Std1kHz;
        QCOMPARE(got,
                 QVector<double>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}));
    }

    // High-voltage current (f32 at 12, µA), voltage (f32 at 16), state (low
    // four bits of the u32 at 20), then the channel currents from channel 4
    // down to channel 1 at 28, 36, 44 and 52.
    void picoInfo_fieldsAtTheirOffsets()
    {
        const QByteArray bytes = placed(64, {{0, "ffffffffffffffffffffffff"},
                                             {12, "0000c03f"}, // 1.5f
                                             {16, "0000c842"}, // 100.0f
                                             {20, "f3000000"}, // rising, high bits set
                                             {24, "ffffffff"},
                                             {28, "0000000000001040"},
                                             {36, "0000000000000840"},
                                             {44, "0000000000000040"},
                                             {52, "000000000000f03f"},
                                             {60, "ffffffff"}});
        driver.setPicoInfo(1, fromBytes<PicoInfoRecord>(bytes));
        Updater updater(driver);
        updater.updateDorvishs();

        const PicoInfoRecord& info = updater.picoInfo(1);
        // Packed fields: compare copies, never references to them.
        QCOMPARE(QVector<float>({info.hvCurrent, info.hvVoltage}), QVector<float>({1.5f, 100.0f}));
        QCOMPARE(uint32_t(info.hvState & 0xF), kHvRising);
        QCOMPARE(
            QVector<double>({info.currentCh1, info.currentCh2, info.currentCh3, info.currentCh4}),
            QVector<double>({1.0, 2.0, 3.0, 4.0}));
    }

    // Element 3 - c is channel c; a driver that writes far more than the four
    // currents must not overrun the caller, and a failed read changes nothing.
    void currents_firstFourValuesFromALongerReply()
    {
        QByteArray bytes = hex("0000000000001040 0000000000000840 0000000000000040"
                               "000000000000f03f");
        bytes.append(QByteArray(int(kPicoCurrentsReplyBytes) - bytes.size(), '\xee'));
        driver.setPicoCurrentsReply(bytes);
        const int fd = driver.open(kPico0Node, O_RDWR | O_SYNC);

        PicoCurrentsRecord record{};
        QCOMPARE(readPicoCurrents(driver, fd, record), 0);
        for (int channel = 0; channel < 4; ++channel)
            QCOMPARE(channelCurrent(record, channel), 1.0 + channel);

        driver.failRequest(AMM_IOC_READ_CURRENTS);
        PicoCurrentsRecord kept{{9, 9, 9, 9}};
        QVERIFY(readPicoCurrents(driver, fd, kept) < 0);
        QCOMPARE(kept.current[0], 9.0);
        driver.failRequest(0);
        driver.close(fd);
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
