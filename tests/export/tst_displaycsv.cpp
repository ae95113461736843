// The display-sample CSV file, byte for byte: header block, column header,
// number formats, column order, appending, and writes that fail.

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

// Accepts a fixed number of bytes, then takes only part of what it is given,
// as a file on a filling disk does.
class FillingDevice : public QIODevice
{
public:
    explicit FillingDevice(qint64 room) : m_room(room)
    {
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64 len) override
    {
        const qint64 n = std::min(len, m_room);
        m_room -= n;
        if (n == 0)
            setErrorString(QStringLiteral("No space left on device"));
        return n ? n : -1;
    }

private:
    qint64 m_room;
};

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
        QTest::newRow("defaults")
            << kDefaults << 2 << 1000 << 14336
            << kDefaultNames + "0, 0, 0.5, 5, 2.25, -4.25, 2.625, 6.25, \r\n"
                               "1, 0.001, 2000.5, 4005, 1002.25, -1004.25, 502.625, 1006.25, \r\n";
        QTest::newRow("no samples") << kDefaults << 0 << 1000 << 100 << kDefaultNames;
        QTest::newRow("nothing ticked") << QList<int>{} << 3 << 250 << 3
                                        << QByteArray("Nr, Rel. time, \r\n0, 0, \r\n1, 0.004, \r\n"
                                                      "2, 0.008, \r\n");
        QTest::newRow("column order fixed")
            << QList<int>{Dac3, Bpm2I0, Pico2Ch4, Bpm1PosY, Pico1Ch1} << 1 << 1000 << 1
            << QByteArray("Nr, Rel. time, Dorvish Ch1, Dorvish2 Ch4, BPM1 Pos Y, BPM2 I0, "
                          "Ostrel Ch3, \r\n0, 0, 24.25, 31.25, 5, 6.25, 10.25, \r\n");
        QTest::newRow("more samples than records")
            << QList<int>{} << 10000 << 1000 << 2
            << QByteArray("Nr, Rel. time, \r\n0, 0, \r\n1, 0.001, \r\n");
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
        options.encoder = false;
        QVERIFY(block(options, records)
                    .endsWith("\r\n0, 0, -12.7, 12.7, 1.61061e+09, 3e+09, nan, "
                              "-0.5, 1e+300, -2.14748e+09, -12.7, \r\n"));
    }

    void doubles_printedLikePercentG6()
    {
        QByteArrayList printed;
        for (double v : {0.001, 12.345678, 1.2345678e-7, -4.5e-9, 0.0, 100000.0, 1000000.0, 0.0001,
                         0.00001, -123456.7, 1.0 / 3.0, 2.5e-5})
            printed << formatDouble(v);
        QCOMPARE(printed,
                 (QByteArrayList{"0.001", "12.3457", "1.23457e-07", "-4.5e-09", "0", "100000",
                                 "1e+06", "0.0001", "1e-05", "-123457", "0.333333", "2.5e-05"}));
    }

    // CR LF ends every line; the only bare LFs are the comment's own breaks.
    void lineEnds_crLfEverywhereButInsideTheComment()
    {
        Options options;
        options.columns.fill(true);
        options.samples = 50;
        const QByteArray bytes = block(options, numberedRecords(50),
                                       fixedHeader(QStringLiteral("beam at 3 GeV\ngap 12\nend")));
        QVERIFY(bytes.contains("\r\nComment: beam at 3 GeV\ngap 12\nend\r\n\r\nNr, "));
        QCOMPARE(bytes.count('\n'), 8 + 1 + 50 + 2);
        QCOMPARE(bytes.count("\r\n"), 8 + 1 + 50);
        QCOMPARE(bytes.count('\r'), 8 + 1 + 50);
        QVERIFY(bytes.endsWith(", \r\n"));
    }

    // "No" to an existing file: a second complete block, numbered from 0
    // again; "Yes": the old contents are gone.
    void appendAndOverwrite_onAFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ZEVO_meas.csv"));
        Options options = withColumns({}, 2);
        const std::vector<DisplayRecord> records = numberedRecords(2);
        const QByteArray one = block(options, records);
        QVERIFY(saveBlock(path, Mode::Append, fixedHeader(), options, records.data(), 2));
        QVERIFY(saveBlock(path, Mode::Append, fixedHeader(), options, records.data(), 2));
        QCOMPARE(fileText(path), one + one);
        options.samples = 1;
        QVERIFY(saveBlock(path, Mode::Overwrite, fixedHeader(), options, records.data(), 2));
        QCOMPARE(fileText(path), kHeaderBlock + "Nr, Rel. time, \r\n0, 0, \r\n");
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
        // when the file's buffer goes out at the end (a header alone).
        for (int samples : {1000, 0}) {
            options.samples = samples;
            error.clear();
            QVERIFY(!saveBlock(QStringLiteral("/dev/full"), Mode::Overwrite, fixedHeader(), options,
                               records.data(), 1000, &error));
            QVERIFY2(error.contains(QStringLiteral("/dev/full")) &&
                         error.contains(QStringLiteral("No space left")),
                     qPrintable(error));
        }
        // A disk that fills up in the middle: a short write ends the block.
        options.samples = 1000;
        for (qint64 room : {0, 100, 5000}) {
            FillingDevice device(room);
            error.clear();
            QVERIFY(!writeBlock(device, fixedHeader(), options, records.data(), 1000, &error));
            QVERIFY(!error.isEmpty());
        }
    }
};

QTEST_APPLESS_MAIN(TestDisplayCsv)
#include "tst_displaycsv.moc"
