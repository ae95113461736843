// The display-sample CSV file, byte for byte: header block, column header,
// number formats, column order, appending, and writes that fail.

#include "export/displaycsv.h"
#include "support/displayrecords.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
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

const QByteArray kHeaderBlock = "Quorvex ZEVO\r\n"
                                "ZEVO\r\n"
                                "\r\n"
                                "Time and Date: 14:03:22 05.06.2026\r\n"
                                "Host Name: bl-ctrl\r\n"
                                "\r\n"
                                "Comment: \r\n"
                                "\r\n";

QByteArray block(const Options& options, const std::vector<DisplayRecord>& records,
                 const Header& header = fixedHeader())
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!writeBlock(buffer, header, options, records.data(), int(records.size())))
        return "write failed";
    return buffer.data();
}

QList<QByteArray> lines(const QByteArray& bytes)
{
    QList<QByteArray> out = bytes.split('\n');
    if (!out.isEmpty() && out.last().isEmpty())
        out.removeLast();
    return out;
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
        if (n == 0) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        return n;
    }

private:
    qint64 m_room;
};

} // namespace

class TestDisplayCsv : public QObject
{
    Q_OBJECT

private slots:
    void defaults_writeHeaderBpmColumnsAndTimes()
    {
        Options options;
        options.columns = defaultSelection();
        options.samples = 1000;
        options.sampFreq = 1000;
        options.scale.set(0, 2.0, 4.0);
        options.scale.set(1, -1.0, 0.5);
        const QByteArray bytes = block(options, numberedRecords(14336));

        QVERIFY(bytes.startsWith(kHeaderBlock));
        const QList<QByteArray> all = lines(bytes);
        QCOMPARE(all.size(), 8 + 1 + 1000);
        QCOMPARE(all[8], QByteArray("Nr, Rel. time, BPM1 Pos X, BPM1 Pos Y, BPM1 I0, "
                                    "BPM2 Pos X, BPM2 Pos Y, BPM2 I0, \r"));
        // Fields 0, 1, 2, 4, 5, 6 of records 0 and 1; X and Y scaled.
        QCOMPARE(all[9], QByteArray("0, 0, 0.5, 5, 2.25, -4.25, 2.625, 6.25, \r"));
        QCOMPARE(all[10], QByteArray("1, 0.001, 2000.5, 4005, 1002.25, -1004.25, 502.625, "
                                     "1006.25, \r"));
        QCOMPARE(all[11].left(10), QByteArray("2, 0.002, "));
        QCOMPARE(all.last().left(12), QByteArray("999, 0.999, "));
    }

    void zeroSamples_writeHeaderAndColumnHeaderOnly()
    {
        Options options;
        options.columns = defaultSelection();
        options.samples = 0;
        const QByteArray bytes = block(options, numberedRecords(100));
        QCOMPARE(bytes, kHeaderBlock +
                            "Nr, Rel. time, BPM1 Pos X, BPM1 Pos Y, BPM1 I0, BPM2 Pos X, "
                            "BPM2 Pos Y, BPM2 I0, \r\n");
    }

    void noChannel_linesHoldNumberAndTimeOnly()
    {
        Options options; // nothing ticked
        options.samples = 3;
        options.sampFreq = 250;
        QCOMPARE(block(options, numberedRecords(3)),
                 kHeaderBlock + "Nr, Rel. time, \r\n0, 0, \r\n1, 0.004, \r\n2, 0.008, \r\n");
    }

    // However the boxes are ticked, picoammeter columns come first, then the
    // BPMs, then the DAC outputs; positions are scaled, nothing else is.
    void columnOrder_isFixedAndOnlyPositionsScaled()
    {
        Options options;
        options.columns[Dac3] = true;
        options.columns[Bpm2I0] = true;
        options.columns[Pico2Ch4] = true;
        options.columns[Bpm1PosY] = true;
        options.columns[Pico1Ch1] = true;
        options.samples = 1;
        options.scale.set(0, 10.0, 10.0);
        options.scale.set(1, 10.0, 10.0);
        const QList<QByteArray> all = lines(block(options, numberedRecords(1)));
        QCOMPARE(all[8], QByteArray("Nr, Rel. time, Dorvish Ch1, Dorvish2 Ch4, BPM1 Pos Y, "
                                    "BPM2 I0, Ostrel Ch3, \r"));
        QCOMPARE(all[9], QByteArray("0, 0, 24.25, 31.25, 12.5, 6.25, 10.25, \r"));
    }

    // With an encoder interface the eight picoammeter columns hold counts,
    // truncated toward zero; the other columns stay doubles.
    void encoder_countsTruncatedTowardZero()
    {
        std::vector<DisplayRecord> records(1);
        DisplayRecord& r = records[0];
        r.value[24] = -12.7;
        r.value[25] = 12.7;
        r.value[26] = 1610612736.9; // an encoder near its centre
        r.value[27] = 3.0e9;        // beyond 32 bits: written in full, not wrapped
        r.value[28] = std::numeric_limits<double>::quiet_NaN();
        r.value[29] = -0.5;
        r.value[30] = 1e300;
        r.value[31] = -2147483648.0;
        r.value[8] = -12.7; // DAC output 1
        Options options;
        options.columns.fill(false);
        for (int c = Pico1Ch1; c <= Pico2Ch4; ++c)
            options.columns[c] = true;
        options.columns[Dac1] = true;
        options.samples = 1;

        options.encoder = true;
        QList<QByteArray> all = lines(block(options, records));
        QCOMPARE(all[8], QByteArray("Nr, Rel. time, Encoder 1, Encoder 2, Encoder 3, Encoder 4, "
                                    "Encoder 5, Encoder 6, Encoder 7, Encoder 8, Ostrel Ch1, \r"));
        QCOMPARE(all[9], QByteArray("0, 0, -12, 12, 1610612736, 3000000000, nan, 0, 1e+300, "
                                    "-2147483648, -12.7, \r"));

        options.encoder = false;
        all = lines(block(options, records));
        QCOMPARE(all[9], QByteArray("0, 0, -12.7, 12.7, 1.61061e+09, 3e+09, nan, -0.5, 1e+300, "
                                    "-2.14748e+09, -12.7, \r"));
    }

    void doubles_printedLikePercentG6()
    {
        const std::pair<double, const char*> cases[] = {
            {0.001, "0.001"},
            {12.345678, "12.3457"},
            {1.2345678e-7, "1.23457e-07"},
            {-4.5e-9, "-4.5e-09"},
            {0.0, "0"},
            {100000.0, "100000"},
            {1000000.0, "1e+06"},
            {0.0001, "0.0001"},
            {0.00001, "1e-05"},
            {-123456.7, "-123457"},
            {1.0 / 3.0, "0.333333"},
            {2.5e-5, "2.5e-05"},
        };
        for (const auto& [value, text] : cases)
            QCOMPARE(formatDouble(value), QByteArray(text));
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
        int bareLf = 0;
        for (int i = 0; i < bytes.size(); ++i)
            if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r'))
                ++bareLf;
        QCOMPARE(bareLf, 2);
        QVERIFY(bytes.endsWith(", \r\n"));
        QCOMPARE(bytes.count("\r\n"), 8 + 1 + 50);
        QCOMPARE(bytes.count('\r'), 8 + 1 + 50);
    }

    // More samples than records never reads past the snapshot.
    void samplesBeyondRecords_stopAtTheLastRecord()
    {
        Options options;
        options.samples = 10000;
        QCOMPARE(lines(block(options, numberedRecords(5))).size(), 8 + 1 + 5);
    }

    // "No" to an existing file: a second complete block, numbered from 0
    // again; "Yes": the old contents are gone.
    void appendAndOverwrite_onAFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ZEVO_meas.csv"));
        Options options;
        options.samples = 2;
        const std::vector<DisplayRecord> records = numberedRecords(2);
        const QByteArray one = block(options, records);

        QVERIFY(saveBlock(path, Mode::Append, fixedHeader(), options, records.data(), 2));
        QVERIFY(saveBlock(path, Mode::Append, fixedHeader(), options, records.data(), 2));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), one + one);
        file.close();

        options.samples = 1;
        QVERIFY(saveBlock(path, Mode::Overwrite, fixedHeader(), options, records.data(), 2));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), kHeaderBlock + "Nr, Rel. time, \r\n0, 0, \r\n");
    }

    void failingWrites_reportedNotSwallowed()
    {
        Options options;
        options.columns = defaultSelection();
        options.samples = 1000;
        const std::vector<DisplayRecord> records = numberedRecords(1000);
        QString error;

        // A folder that is a regular file: the file cannot be opened.
        QTemporaryDir dir;
        const QString notAFolder = dir.filePath(QStringLiteral("plain"));
        QFile plain(notAFolder);
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        const QString path = notAFolder + QStringLiteral("/data.csv");
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
            QVERIFY2(error.contains(QStringLiteral("/dev/full")), qPrintable(error));
            QVERIFY2(error.contains(QStringLiteral("No space left")), qPrintable(error));
        }
        options.samples = 1000;

        // A disk that fills up in the middle: a short write ends the block.
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
