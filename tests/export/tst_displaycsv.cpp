// The display-sample CSV file, byte for byte: header block, column header,
// column order, encoder counts, and writes that fail. (Every number printed
// as %g, line ends, appending and overwriting are checked on every input of
// fuzz_displaycsv.)

#include "export/displaycsv.h"
#include "support/bytes.h"
#include "support/displayrecords.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>
#include <vector>

using namespace displaycsv;
using zevo::DisplayRecord;

namespace
{

Header fixedHeader(const QString& comment = QString())
{
    return {QDateTime(QDate(2026, 6, 5), QTime(14, 3, 22)), QStringLiteral("bl-ctrl"), comment};
}

const QByteArray kHeaderBlock = "Quorvex ZEVO\r\nZEVO\r\n\r\nTime and Date: 14:03:22 05.06.2026\r\n"
                                "Host Name: bl-ctrl\r\n\r\nComment: \r\n\r\n";

QByteArray block(const Options& options, const std::vector<DisplayRecord>& records,
                 const Header& header = fixedHeader())
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!writeBlock(buffer, header, options, records.data(), int(records.size())))
        return "write failed";
    return buffer.data();
}

Options withColumns(const QList<int>& ticked, int samples, int sampFreq = 1000)
{
    Options options;
    for (int c : ticked)
        options.columns[std::size_t(c)] = true;
    options.samples = samples;
    options.sampFreq = sampFreq;
    return options;
}

const QList<int> kDefaults{Bpm1PosX, Bpm1PosY, Bpm1I0, Bpm2PosX, Bpm2PosY, Bpm2I0};
const QByteArray kDefaultNames = "Nr, Rel. time, BPM1 Pos X, BPM1 Pos Y, BPM1 I0, BPM2 Pos X, "
                                 "BPM2 Pos Y, BPM2 I0, \r\n";

} // namespace

class TestDisplayCsv : public QObject
{
    Q_OBJECT

private slots:
    // Everything after the header block. However the boxes are ticked,
    // picoammeter columns come first, then the BPMs, then the DAC outputs;
    // positions are scaled (X1 by 2, Y1 by 4, X2 by -1, Y2 by 0.5), nothing
    // else is; more samples than records never reads past the snapshot.
    void block_exactBytes_data()
    {
        QTest::addColumn<QList<int>>("ticked");
        QTest::addColumn<int>("samples");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("records");
        QTest::addColumn<QByteArray>("expected");
        // clang-format off
        QTest::newRow("defaults") << kDefaults << 2 << 1000 << 14336 << kDefaultNames +
            "0, 0, 0.5, 5, 2.25, -4.25, 2.625, 6.25, \r\n"
            "1, 0.001, 2000.5, 4005, 1002.25, -1004.25, 502.625, 1006.25, \r\n";
        QTest::newRow("no samples") << kDefaults << 0 << 1000 << 100 << kDefaultNames;
        QTest::newRow("nothing ticked") << QList<int>{} << 3 << 250 << 3
            << QByteArray("Nr, Rel. time, \r\n0, 0, \r\n1, 0.004, \r\n2, 0.008, \r\n");
        QTest::newRow("column order fixed") << QList<int>{Dac3, Bpm2I0, Pico2Ch4, Bpm1PosY, Pico1Ch1}
            << 1 << 1000 << 1 << QByteArray("Nr, Rel. time, Dorvish Ch1, Dorvish2 Ch4, BPM1 Pos Y, "
                "BPM2 I0, Ostrel Ch3, \r\n0, 0, 24.25, 31.25, 5, 6.25, 10.25, \r\n");
        QTest::newRow("more samples than records") << QList<int>{} << 10000 << 1000 << 2
            << QByteArray("Nr, Rel. time, \r\n0, 0, \r\n1, 0.001, \r\n");
        // clang-format on
    }
    void block_exactBytes()
    {
        QFETCH(QList<int>, ticked);
        QFETCH(int, samples);
        QFETCH(int, rate);
        QFETCH(int, records);
        QFETCH(QByteArray, expected);
        Options options = withColumns(ticked, samples, rate);
        options.scale.set(0, 2.0, 4.0);
        options.scale.set(1, -1.0, 0.5);
        QCOMPARE(block(options, numberedRecords(records)), kHeaderBlock + expected);
    }

    // With an encoder interface the eight picoammeter columns hold counts,
    // truncated toward zero (in full beyond 32 bits, nan as such); the other
    // columns stay doubles.
    void encoder_countsTruncatedTowardZero()
    {
        std::vector<DisplayRecord> records(1);
        const double values[] = {-12.7,        12.7, 1610612736.9, 3.0e9,
                                 std::nan(""), -0.5, 1e300,        -2147483648.0};
        std::copy(std::begin(values), std::end(values), records[0].value + 24);
        records[0].value[8] = -12.7; // DAC output 1
        Options options = withColumns(
            {Pico1Ch1, Pico1Ch2, Pico1Ch3, Pico1Ch4, Pico2Ch1, Pico2Ch2, Pico2Ch3, Pico2Ch4, Dac1},
            1);
        options.encoder = true;
        QCOMPARE(block(options, records).mid(kHeaderBlock.size()),
                 "Nr, Rel. time, Encoder 1, Encoder 2, Encoder 3, Encoder 4, Encoder 5, Encoder 6, "
                 "Encoder 7, Encoder 8, Ostrel Ch1, \r\n0, 0, -12, 12, 1610612736, 3000000000, "
                 "nan, 0, 1e+300, -2147483648, -12.7, \r\n");
    }

    void failingWrites_reportedNotSwallowed()
    {
        Options options = withColumns(kDefaults, 1000);
        const std::vector<DisplayRecord> records = numberedRecords(1000);
        QString error;

        // A folder that is a regular file: the file cannot be opened.
        QTemporaryDir dir;
        QFile plain(dir.filePath(QStringLiteral("plain")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        const QString path = plain.fileName() + QStringLiteral("/data.csv");
        QVERIFY(
            !saveBlock(path, Mode::Append, fixedHeader(), options, records.data(), 1000, &error));
        QVERIFY2(error.contains(path), qPrintable(error));

        // A full disk, found while the lines go out (a long block) or only
        // when the file's buffer goes out at the end (a header alone). (The
        // file retries a short write itself: a full disk is the failure a
        // save meets.)
        for (int samples : {1000, 0}) {
            options.samples = samples;
            error.clear();
            QVERIFY(!saveBlock(QStringLiteral("/dev/full"), Mode::Overwrite, fixedHeader(), options,
                               records.data(), 1000, &error));
            QVERIFY2(error.contains(QStringLiteral("/dev/full")) &&
                         error.contains(QStringLiteral("No space left")),
                     qPrintable(error));
        }
    }
};

QTEST_APPLESS_MAIN(TestDisplayCsv)
#include "tst_displaycsv.moc"
