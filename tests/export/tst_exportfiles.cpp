// The files a measurement is saved in. The CSV files, byte for byte: of the
// display samples (header block, column header, column order, encoder
// counts) and of the 3D rocking curve, and writes that fail. (Every display
// number printed as %g, line ends, appending and overwriting are checked on
// every input of fuzz_displaycsv.) The NeXus files, read back with the HDF5
// library independently of the program's writer. The file writer every
// measurement goes through: what it writes, that the final name only ever
// holds a complete file, and what every kind of failure leaves behind
// (nothing new, the old file as it was). The four measurements' files, held
// against the CSV files written from the same data: the path a viewer
// follows to the plot (NX_class, @default, @signal, @axes, ...), units,
// shapes, and every value printed as the CSV prints it. Also the entry's
// times and the settings collections. (Appending a save as entry2 and
// entry3 is driven from the window in tst_nexuswindows.)

#include "analysis/surfacegrid.h"
#include "export/displaycsv.h"
#include "export/displaynexus.h"
#include "export/gridcsv.h"
#include "export/gridnexus.h"
#include "export/nexusentry.h"
#include "export/nexusfile.h"
#include "export/rockingcurvefile.h"
#include "export/stepresponsefile.h"
#include "nexusreader.h"
#include "support/bytes.h"
#include "support/displayrecords.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <memory>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>

using namespace displaycsv;
using zevo::DisplayRecord;
using Shape = std::vector<hsize_t>;

namespace
{
void put(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// Every file in the folder, hidden ones too.
QStringList filesIn(const QTemporaryDir& dir)
{
    return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

mode_t modeOf(const QString& path)
{
    struct stat s;
    return ::stat(QFile::encodeName(path).constData(), &s) == 0 ? (s.st_mode & 07777) : 0;
}

// Files may grow to `bytes` while it lives: a write beyond fails as on a
// full disk (EFBIG), without the signal that would end the test.
struct FileSizeLimit {
    rlimit old{};
    void (*handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &old);
        const rlimit limit{bytes, old.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, handler);
    }
};

// A small file of one entry with one field.
void writeFirst(const QString& path)
{
    NexusFile file(path);
    file.group("/entry"_q, "NXentry"_q);
    file.values("/entry/x"_q, {1.0, 2.0, 3.0}, "V"_q);
    QVERIFY2(file.commit(), qPrintable(file.error()));
}

const QDateTime kWhen(QDate(2026, 6, 5), QTime(14, 3, 22), Qt::OffsetFromUTC, 7200);
const QString kHost = "bl-ctrl"_q;
const Header kHeader{kWhen, kHost, QString()};

const QByteArray kHeaderBlock = "Quorvex ZEVO\r\nZEVO\r\n\r\nTime and Date: 14:03:22 05.06.2026\r\n"
                                "Host Name: bl-ctrl\r\n\r\nComment: \r\n\r\n";

QByteArray block(const Options& options, const std::vector<DisplayRecord>& records,
                 const Header& header = kHeader)
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

nexus::Settings someSettings()
{
    // clang-format off
    nexus::Settings s{kHost, "1.0"_q, {"2024-01-02 03:04"_q, "1.0.03"_q, "2.1"_q}, {},
                      {{{3, 2, 1, 0}, {0, 1, 2, 3}}}, {{2, 0, 3}}, {{1, 0, 1}}};
    // clang-format on
    s.scale.set(0, 2.5, -0.5);
    s.scale.set(1, 1e-3, 4.0);
    return s;
}

// The lines of a CSV file, each ended by CR LF (a comment's inner line
// breaks are single LF and stay inside its line).
QList<QByteArray> csvLines(const QByteArray& bytes)
{
    QList<QByteArray> lines;
    int from = 0;
    for (int at = bytes.indexOf("\r\n"); at >= 0; at = bytes.indexOf("\r\n", from)) {
        lines << bytes.mid(from, at - from);
        from = at + 2;
    }
    if (from != bytes.size())
        lines << "unended line: " + bytes.mid(from);
    return lines;
}

// The CSV text of every element of a field, as the CSV files print numbers
// (encoder counts too: the file holds them as whole numbers already).
QList<QByteArray> printed(const std::vector<double>& values)
{
    QList<QByteArray> out;
    for (double v : values)
        out << displaycsv::formatDouble(v);
    return out;
}

// Column `c` of the comma-separated data lines from `first` on.
QList<QByteArray> csvColumn(const QList<QByteArray>& lines, int first, int c)
{
    QList<QByteArray> out;
    for (int i = first; i < lines.size(); ++i)
        out << lines[i].split(',').value(c).trimmed();
    return out;
}

// The parts every file shares: the classes on the way to the data, the
// entry's facts and the settings collections (the entry's times are written
// by one function, checked in isoTime_keepsTheOffset and
// display_matchesTheCsvBlock). Channels and outputs count
// from 1, as the windows show them.
void verifyEntry(const NexusReader& r, const QString& title, const nexus::Settings& s)
{
    const QString in = "/entry/instrument"_q;
    QCOMPARE(
        (QStringList{r.text("/"_q, "NX_class"_q), r.text("/"_q, "creator"_q),
                     r.text("/entry"_q, "NX_class"_q), r.text("/entry"_q, "default"_q),
                     r.text("/entry/data"_q, "NX_class"_q), r.text("/entry/title"_q),
                     r.text("/entry/program_name"_q), r.text("/entry/program_name"_q, "version"_q),
                     r.text(in, "NX_class"_q), r.text(in + "/controller/host_name"_q),
                     r.text(in + "/controller/software_version"_q)}),
        (QStringList{"NXroot"_q, nexus::kProgramName, "NXentry"_q, "data"_q, "NXdata"_q, title,
                     nexus::kProgramName, s.programVersion, "NXinstrument"_q, s.hostName,
                     s.controller.swVersion}));
    for (const QString& name : r.children(in))
        if (name != "name"_q)
            QCOMPARE(r.text(in + QLatin1Char('/') + name, "NX_class"_q), "NXcollection"_q);
    QCOMPARE((std::vector<double>{
                 r.number(in + "/bpm2/scale_x"_q), r.number(in + "/bpm1/channel_top"_q),
                 r.number(in + "/dac_assignment/i0"_q), r.number(in + "/pid_sources/x"_q)}),
             (std::vector<double>{1e-3, 4.0, 4.0, 2.0}));
}

// Shape, units and printed values of each field against the CSV's columns
// from `column` on.
void verifyColumns(const NexusReader& r, const QStringList& fields, const QStringList& units,
                   const QList<QByteArray>& lines, int column)
{
    for (int k = 0; k < fields.size(); ++k) {
        const QString field = "/entry/data/"_q + fields[k];
        QCOMPARE(r.shape(field), Shape{hsize_t(lines.size() - 9)});
        QCOMPARE(r.text(field, "units"_q), units[k]);
        QCOMPARE(printed(r.values(field)), csvColumn(lines, 9, column + k));
    }
}

// Record i, field f: distinct values with fractions, signs and small
// magnitudes; the encoder fields hold counts with fractions (-12.7 ...).
std::vector<DisplayRecord> records(int count)
{
    std::vector<DisplayRecord> out(std::size_t(count), DisplayRecord{});
    for (int i = 0; i < count; ++i)
        for (int f = 0; f < 32; ++f)
            out[std::size_t(i)].value[f] = f >= 24 ? -12.7 + 3.3 * i - 1000.0 * f
                                                   : (i * 1000.0 + f + 0.123456789) *
                                                         std::pow(10.0, -(f % 9)) *
                                                         ((i + f) % 3 ? 1 : -1);
    return out;
}

} // namespace

class TestExportFiles : public QObject
{
    Q_OBJECT

private slots:
    // What is written reads back as written: strings (fields and attributes,
    // scalar and arrays) variable-length UTF-8 with every character, integers
    // with every bit beyond 32, numbers beyond single precision, an attribute
    // written twice with the second value. Until commit() the folder holds
    // what it held; afterwards only the finished file is there, with the
    // permissions of the file it replaced, or those of any new file. (Number
    // fields with their shapes, units and long names, grids, empty fields and
    // index attributes are read back from every writer below; appending from
    // the data-saving window in tst_nexuswindows.)
    void commit_replacesTheOldFileWithWhatWasWritten()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("run.nxs"_q);
        put(path, "old contents");
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        const QString text = "Strahl bei 5 \u00b5m, Gr\u00f6\u00dfe\nzweite Zeile"_q;
        {
            NexusFile file(path);
            const bool written =
                file.ok() && file.group("/entry"_q, "NXentry"_q) &&
                file.group("/entry/data"_q, "NXdata"_q) && file.text("/entry/title"_q, text) &&
                file.integer("/entry/count"_q, -(int64_t(1) << 40), "a count"_q) &&
                file.values("/entry/data/x"_q, {0.1, -2e-9, 1e300}, "um"_q) &&
                file.attribute("/entry/data"_q, "axes"_q, QStringList{"x"_q, "\u00b5"_q}) &&
                file.attribute("/"_q, "default"_q, "first"_q) &&
                file.attribute("/"_q, "default"_q, "entry"_q);
            QVERIFY2(written, qPrintable(file.error()));
            QVERIFY(file.exists("/entry/data/x"_q) && !file.exists("/entry/nothing/x"_q));
            QCOMPARE(fileText(path), QByteArray("old contents"));
            QCOMPARE(filesIn(dir), QStringList{"run.nxs"_q});
            QVERIFY2(file.commit(), qPrintable(file.error()));
        }
        QCOMPARE(filesIn(dir), QStringList{"run.nxs"_q});
        QCOMPARE(int(modeOf(path)), 0640);

        NexusReader r(path);
        bool utf8[3] = {};
        QCOMPARE(QStringList({r.text("/entry"_q, "NX_class"_q, &utf8[0]),
                              r.text("/entry/title"_q, {}, &utf8[1]), r.text("/"_q, "default"_q)}) +
                     r.strings("/entry/data"_q, "axes"_q, &utf8[2]),
                 (QStringList{"NXentry"_q, text, "entry"_q, "x"_q, "\u00b5"_q}));
        QVERIFY(utf8[0] && utf8[1] && utf8[2]);
        QCOMPARE(r.number("/entry/count"_q), -double(int64_t(1) << 40));
        QCOMPARE(r.values("/entry/data/x"_q), (std::vector<double>{0.1, -2e-9, 1e300}));

        const mode_t mask = ::umask(022);
        const QString fresh = dir.filePath("fresh.nxs"_q);
        writeFirst(fresh);
        ::umask(mask);
        QCOMPARE(int(modeOf(fresh)), 0644);
    }

    // Every failure: a sentence naming the file and the cause, every later
    // call refused, and afterwards no file of the writer's in the folder and
    // the old file byte for byte as it was.
    void failure_leavesNothingNewAndTheOldFileIntact_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("cause"); // part of the error
        // clang-format off
        QTest::newRow("folder missing") << "missing"_q << "No such file or directory"_q;
        QTest::newRow("folder is a file") << "notAFolder"_q << "Not a directory"_q;
        QTest::newRow("write refused") << "refused"_q << "/entry/none/x"_q;
        QTest::newRow("file limit mid-write") << "limit"_q << "File too large"_q;
        QTest::newRow("file limit, appending") << "limitAppend"_q << "File too large"_q;
        QTest::newRow("append to a CSV file") << "notHdf5"_q << "not a NeXus (HDF5) file"_q;
        QTest::newRow("never committed") << "abandoned"_q << ""_q;
        // clang-format on
    }
    void failure_leavesNothingNewAndTheOldFileIntact()
    {
        QFETCH(QString, kind);
        QFETCH(QString, cause);
        QTemporaryDir dir;
        const QString old = dir.filePath("old.nxs"_q);
        writeFirst(old);
        if (kind == "notHdf5"_q)
            put(old, "Quorvex ZEVO\r\nZEVO\r\n");
        if (kind == "limitAppend"_q) { // an old file near the limit: the appended one exceeds it
            NexusFile big(old);
            big.values("/big"_q, std::vector<double>(100000, 1.5));
            QVERIFY(big.commit());
        }
        const QByteArray before = fileText(old);
        const QStringList filesBefore = filesIn(dir);
        const QString path = kind == "missing"_q      ? dir.filePath("missing/new.nxs"_q)
                             : kind == "notAFolder"_q ? dir.filePath("old.nxs/new.nxs"_q)
                                                      : old;
        QString error;
        {
            std::unique_ptr<FileSizeLimit> limit;
            if (kind.startsWith("limit"_q))
                limit = std::make_unique<FileSizeLimit>(64 * 1024);
            const bool append = kind == "notHdf5"_q || kind == "limitAppend"_q;
            NexusFile file(path, append ? NexusFile::Mode::Append : NexusFile::Mode::Create);
            file.group("/entry"_q, "NXentry"_q);
            if (kind == "refused"_q)
                QVERIFY(!file.values("/entry/none/x"_q, {1.0}));
            file.grid("/entry/grid"_q, std::vector<double>(64 * 64 * 8, 0.25), 64, 64 * 8);
            if (kind == "abandoned"_q) {
                QVERIFY(file.ok()); // and gone without a commit
            } else {
                QVERIFY(!file.commit() && !file.ok());
                QVERIFY(!file.group("/later"_q, "NXentry"_q));
                error = file.error();
                QVERIFY2(error.contains(cause) && error.contains(QDir::toNativeSeparators(path)),
                         qPrintable(error));
            }
        }
        QCOMPARE(filesIn(dir), filesBefore);
        QCOMPARE(fileText(old), before);
    }
    // The entry's times carry the time's own offset and milliseconds.
    void isoTime_keepsTheOffset()
    {
        const QDate d(2026, 12, 6);
        const QTime t(15, 42, 7, 250);
        QCOMPARE((QStringList{nexus::isoTime(QDateTime(d, t, Qt::OffsetFromUTC, 3600)),
                              nexus::isoTime(QDateTime(d, t, Qt::OffsetFromUTC, -19800)),
                              nexus::isoTime(QDateTime(d, t, Qt::UTC))}),
                 (QStringList{"2026-12-06T15:42:07.250+01:00"_q, "2026-12-06T15:42:07.250-05:30"_q,
                              "2026-12-06T15:42:07.250+00:00"_q}));
    }

    // Data saving: the ticked columns in the CSV's order, each a field with
    // the CSV's column name as long name and its unit; the first is the
    // signal, the others auxiliary signals, all over the time axis; every
    // value and time prints as the CSV block written from the same records.
    // The entry spans the saved samples, one display period between records.
    void display_matchesTheCsvBlock_data()
    {
        QTest::addColumn<QList<int>>("ticked");
        QTest::addColumn<int>("samples");
        QTest::addColumn<int>("rate");
        QTest::addColumn<bool>("encoder");
        QList<int> all;
        for (int c = 0; c < ColumnCount; ++c)
            all << c;
        QTest::newRow("defaults") << QList<int>{Bpm1PosX, Bpm1PosY, Bpm1I0,
                                                Bpm2PosX, Bpm2PosY, Bpm2I0}
                                  << 1000 << 1000 << false;
        QTest::newRow("every column, currents") << all << 300 << 50000 << false;
        QTest::newRow("every column, encoder counts") << all << 300 << 7 << true;
        QTest::newRow("nothing ticked") << QList<int>{} << 10 << 1000 << false;
        QTest::newRow("no samples") << QList<int>{Bpm2I0} << 0 << 1000 << false;
    }
    void display_matchesTheCsvBlock()
    {
        QFETCH(QList<int>, ticked);
        QFETCH(int, samples);
        QFETCH(int, rate);
        QFETCH(bool, encoder);
        const nexus::Settings settings = someSettings();
        Options options{{}, samples, rate, settings.scale, encoder};
        for (int c : ticked)
            options.columns[std::size_t(c)] = true;
        const Header header{kWhen, kHost, "Strahl \u00b5 stabil\nZeile 2"_q};
        const std::vector<DisplayRecord> recs = records(1200);

        QTemporaryDir dir;
        const QString nxs = dir.filePath("s.nxs"_q);
        QString error;
        QVERIFY2(displaynexus::save(nxs, Mode::Overwrite, header, options, recs.data(),
                                    int(recs.size()), settings, &error),
                 qPrintable(error));

        const QList<QByteArray> lines = csvLines(block(options, recs, header));
        QCOMPARE(lines.size(), 9 + samples);
        NexusReader r(nxs);
        verifyEntry(r, header.comment, settings);
        QCOMPARE(r.text("/"_q, "default"_q), "entry"_q);
        QCOMPARE(r.number("/entry/instrument/display/frequency"_q), double(rate));
        QCOMPARE(r.number("/entry/instrument/display/encoder_interface"_q), encoder ? 1.0 : 0.0);
        if (samples == 1000) { // the newest of the 1200 records is the moment of saving
            QCOMPARE(r.text("/entry/start_time"_q), "2026-06-05T14:03:20.801+02:00"_q);
            QCOMPARE(r.text("/entry/end_time"_q), "2026-06-05T14:03:21.800+02:00"_q);
        }

        const QList<QByteArray> names = lines[8].split(',');
        QStringList fields{"time"_q}, units{"s"_q};
        for (int k = 0; k < ticked.size(); ++k) {
            fields << displaynexus::fieldName(Column(ticked[k]), encoder);
            const QByteArray name = names[k + 2].trimmed();
            QCOMPARE(r.text("/entry/data/"_q + fields.last(), "long_name"_q).toLocal8Bit(), name);
            units << (name.contains("Pos")         ? "um"_q
                      : name.startsWith("Ostrel")  ? "V"_q
                      : name.startsWith("Encoder") ? "counts"_q
                                                   : "A"_q);
        }
        verifyColumns(r, fields, units, lines, 1);
        QCOMPARE(r.children("/entry/data"_q).size(), fields.size());

        // The plot: the first ticked column against time, the others beside it.
        const QString group = "/entry/data"_q;
        fields.removeFirst();
        if (fields.isEmpty()) {
            QCOMPARE(r.text(group, "signal"_q), "time"_q);
        } else {
            QCOMPARE(r.text(group, "signal"_q), fields.takeFirst());
            QCOMPARE(r.strings(group, "axes"_q), QStringList{"time"_q});
            QCOMPARE(r.values(group, "time_indices"_q), std::vector<double>{0});
            QCOMPARE(r.strings(group, "auxiliary_signals"_q), fields);
        }
    }

    // The rocking curve: the electrodes of the scanned direction and their
    // sum (the signal) over the output voltage, named as the legend names
    // them; the CSV holds the same columns, with units in the names.
    void rockingCurve_nexusAndCsvAgree_data()
    {
        QTest::addColumn<bool>("scanX");
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("posX") << true << QStringList{"left", "right"};
        QTest::newRow("posY") << false << QStringList{"top", "bottom"};
    }
    void rockingCurve_nexusAndCsvAgree()
    {
        QFETCH(bool, scanX);
        QFETCH(QStringList, fields);
        RockingCurve c{scanX, 0,  2,  4.0,           6.0,   1000,
                       1.5,   1,  3,  5.25,          kWhen, kWhen.addSecs(3),
                       {},    {}, {}, someSettings()};
        for (int i = 0; i < 7; ++i) {
            c.volts.push_back(4.0 + 0.002 * i);
            c.first.push_back(1.234567e-6 * (i + 1));
            c.second.push_back(-3.3e-9 * i * i);
        }
        QTemporaryDir dir;
        const QString nxs = dir.filePath("r.nxs"_q), csv = dir.filePath("r.csv"_q);
        QVERIFY(rockingcurvefile::writeNexus(nxs, c));
        QVERIFY(rockingcurvefile::writeCsv(csv, c, kWhen, kHost));

        const QList<QByteArray> lines = csvLines(fileText(csv));
        QCOMPARE(lines.size(), 9 + 7);
        QCOMPARE(lines[6], "Comment: " + rockingcurvefile::title(c).toLatin1());
        QCOMPARE(lines[8], QStringLiteral("Output voltage [V],%1 (ch 1) [A],%2 (ch 3) [A],"
                                          "sum (%1+%2) [A]")
                               .arg(fields[0], fields[1])
                               .toLatin1());

        NexusReader r(nxs);
        verifyEntry(r, rockingcurvefile::title(c), c.settings);
        const QString data = "/entry/data"_q;
        QCOMPARE(r.strings(data, "signal"_q) + r.strings(data, "axes"_q) +
                     r.strings(data, "auxiliary_signals"_q),
                 QStringList({"sum"_q, "voltage"_q}) + fields);
        QCOMPARE(r.values(data, "voltage_indices"_q), std::vector<double>{0});
        const QStringList curves = fields + QStringList{"sum"_q};
        verifyColumns(r, QStringList{"voltage"_q} + curves, {"V"_q, "A"_q, "A"_q, "A"_q}, lines, 0);
        QStringList longNames;
        for (const QString& field : curves)
            longNames << r.text(data + QLatin1Char('/') + field, "long_name"_q);
        QCOMPARE(longNames, rockingcurvefile::curveNames(scanX, 0, 2));
        const QString scan = "/entry/instrument/scan/"_q;
        QCOMPARE(r.text(scan + "direction"_q), scanX ? "posX"_q : "posY"_q);
        QCOMPARE((std::vector<double>{
                     r.number(scan + "scan_output"_q), r.number(scan + "held_output"_q),
                     r.number(scan + "held_voltage"_q), r.number(scan + "points_taken"_q)}),
                 (std::vector<double>{2.0, 4.0, 5.25, 7.0}));
        QCOMPARE(r.text("/entry/end_time"_q), "2026-06-05T14:03:25.000+02:00"_q);
    }

    // The step response: time, stimulus and the response as recorded (the
    // signal), with the stepped loop's PID parameters, the biases and steps
    // and the evaluation; positions carry no unit (raw controller units),
    // intensities amperes. The CSV holds the same three columns.
    void stepResponse_nexusAndCsvAgree_data()
    {
        QTest::addColumn<int>("axis");
        QTest::addColumn<bool>("bpm2");
        QTest::addColumn<QStringList>("names"); // response unit, loop group, CSV column
        QTest::newRow("X at BPM1, falling") << 0 << false << QStringList{"", "pid_x", "BPM1 Pos X"};
        QTest::newRow("I0 at BPM2") << 2 << true << QStringList{"A", "pid_i0", "BPM2 I0 [A]"};
    }
    void stepResponse_nexusAndCsvAgree()
    {
        QFETCH(int, axis);
        QFETCH(bool, bpm2);
        QFETCH(QStringList, names);
        const QString loop = names[1];
        const std::size_t a = std::size_t(axis);
        // clang-format off
        StepResponseRun run{axis, bpm2, 50000, {5.0, 4.5, 3.0},
                            {axis == 0 ? 0.1 : 0.0, 0.0, axis == 2 ? 0.5 : 0.0}, 2, kWhen,
                            kWhen.addMSecs(320), {}, {}, {}, someSettings(),
                            {1000.0, 0.3, 0.1, 0.01, 0.0, 100.0, -12.0, 12.0, 1.0, 5.0}};
        // clang-format on
        const double sign = axis == 0 ? -1.0 : 1.0;
        for (int i = 0; i < 2000; ++i) {
            const bool stepped = i >= 500 && i < 1500;
            run.stimulus.push_back(run.bias[a] + (stepped ? run.step[a] : 0.0));
            run.response.push_back(sign * (stepped ? 1.0 - std::exp(-(i - 520) / 80.0) : 0.0) +
                                   1e-7 * i);
        }
        run.evaluation = evaluateStepResponse(run.response, run.stimulus, run.bias[a], run.step[a],
                                              run.sampleRate);
        QTemporaryDir dir;
        const QString nxs = dir.filePath("s.nxs"_q), csv = dir.filePath("s.csv"_q);
        QString error;
        QVERIFY2(stepresponsefile::writeNexus(nxs, run, &error), qPrintable(error));
        QVERIFY(stepresponsefile::writeCsv(csv, run, kWhen, kHost));

        const QList<QByteArray> lines = csvLines(fileText(csv));
        QCOMPARE(lines.size(), 9 + 2000);
        QCOMPARE(lines[6], "Comment: " + stepresponsefile::title(run).toLatin1());
        QCOMPARE(lines[8], "time [s],stimulus [V]," + names[2].toLatin1());

        NexusReader r(nxs);
        verifyEntry(r, stepresponsefile::title(run), run.settings);
        const QString data = "/entry/data"_q;
        QCOMPARE(r.strings(data, "signal"_q) + r.strings(data, "axes"_q) +
                     r.strings(data, "auxiliary_signals"_q),
                 (QStringList{"response"_q, "time"_q, "stimulus"_q}));
        verifyColumns(r, {"time"_q, "stimulus"_q, "response"_q}, {"s"_q, "V"_q, names[0]}, lines,
                      0);
        QCOMPARE(r.values(data + "/response"_q), run.response);
        QCOMPARE(r.text(data + "/stimulus"_q, "long_name"_q), "DAC output 3"_q);

        const QString in = "/entry/instrument/"_q;
        QCOMPARE((std::vector<double>{
                     r.number(in + loop + "/kp"_q), r.number(in + loop + "/o_min"_q),
                     r.number(in + loop + "/offset"_q), r.number(in + "step/bias_y"_q),
                     r.number(in + "step/sample_rate"_q), r.number(in + "step/bpm"_q),
                     r.number(in + "results/gain"_q), r.number(in + "results/dead_time"_q),
                     r.number(in + "results/inverted"_q)}),
                 (std::vector<double>{0.3, -12.0, 5.0, 4.5, 50000.0, bpm2 ? 2.0 : 1.0,
                                      run.evaluation.gain, run.evaluation.deadTime,
                                      axis == 0 ? 1.0 : 0.0}));
    }
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

    // The 3D grid. Its CSV file: five header lines and the column line, then
    // 4096 lines, X outer and Y inner from end to end of both ranges, currents
    // as %g with 6 digits, every line ending in CR LF; an older, longer file
    // is replaced entirely. Its NeXus file: a 64 x 64 signal over the X (v1)
    // and Y (v2) voltages, each element and voltage printing as the CSV's
    // line for that point.
    void grid_csvExactBytes_nexusMatchesTheCsv()
    {
        std::vector<float> raw(surfacegrid::kPoints, 0.0f);
        raw[0] = 1.2345678e-6f;
        raw[1] = -3.5e-10f;
        raw[64] = 100e-6f; // X step 1, Y step 0
        raw[4095] = 0.5f;
        const GridCsvScan scan{raw.data(), 4.0, 2.0, -1.0, 6.3};
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("grid.csv"));
        put(path, QByteArray(400000, 'x'));
        QString error;
        QVERIFY2(writeGridCsv(path, scan, QDateTime(QDate(2024, 3, 7), QTime(9, 5, 2)),
                              QStringLiteral("beamline-ctl"), &error),
                 qPrintable(error));
        const QByteArray bytes = fileText(path);

        QVERIFY(
            bytes.startsWith("Quorvex ZEVO\r\nZEVO\r\n\r\nTime and Date: 09:05:02 07.03.2024\r\n"
                             "Host Name: beamline-ctl\r\nch0,ch1,I0\r\n"
                             "4,-1,1.23457e-06\r\n4,-0.9,-3.5e-10\r\n"));
        QVERIFY(bytes.contains("\r\n4,5.3,0\r\n4.03175,-1,0.0001\r\n4.03175,-0.9,0\r\n"));
        QVERIFY(bytes.endsWith("\r\n6,5.2,0\r\n6,5.3,0.5\r\n"));
        QCOMPARE(bytes.count('\n'), 6 + 4096);
        QCOMPARE(bytes.count("\r\n"), 6 + 4096);

        const QString nxs = dir.filePath("g.nxs"_q);
        const nexus::Settings settings = someSettings();
        QVERIFY2(
            writeGridNexus(nxs, scan, 10.0, {"3D Rocking Curve"_q, kWhen, kWhen}, settings, &error),
            qPrintable(error));
        const QList<QByteArray> lines = csvLines(bytes);
        NexusReader r(nxs);
        verifyEntry(r, "3D Rocking Curve"_q, settings);
        const QString data = "/entry/data"_q;
        QCOMPARE(r.strings(data, "signal"_q) + r.strings(data, "axes"_q),
                 (QStringList{"intensity"_q, "v1"_q, "v2"_q}));
        QCOMPARE(r.values(data, "v1_indices"_q), std::vector<double>{0});
        QCOMPARE(r.values(data, "v2_indices"_q), std::vector<double>{1});
        QCOMPARE(r.shape(data + "/intensity"_q), (Shape{64, 64}));
        QCOMPARE(r.text(data + "/intensity"_q, "units"_q), "A"_q);
        QCOMPARE(r.text(data + "/v1"_q, "units"_q), "V"_q);
        QCOMPARE(printed(r.values(data + "/intensity"_q)), csvColumn(lines, 6, 2));
        const QList<QByteArray> xs = csvColumn(lines, 6, 0), ys = csvColumn(lines, 6, 1);
        QList<QByteArray> x, y;
        for (int i = 0; i < 64; ++i) {
            x << xs[i * 64];
            y << ys[i];
        }
        QCOMPARE(printed(r.values(data + "/v1"_q)), x);
        QCOMPARE(printed(r.values(data + "/v2"_q)), y);
        QCOMPARE(r.number("/entry/instrument/scan/x_max"_q), 6.0);
        QCOMPARE(r.number("/entry/instrument/scan/step_time"_q), 10.0);
    }

    void failingWrites_reportedNotSwallowed()
    {
        Options options = withColumns(kDefaults, 1000);
        const std::vector<DisplayRecord> records = numberedRecords(1000);
        QString error;

        // A folder that is a regular file: neither file can be opened.
        QTemporaryDir dir;
        const QString plain = dir.filePath(QStringLiteral("plain"));
        put(plain, {});
        const QString path = plain + QStringLiteral("/data.csv");
        QVERIFY(!saveBlock(path, Mode::Append, kHeader, options, records.data(), 1000, &error));
        QVERIFY2(error.contains(path), qPrintable(error));
        std::vector<float> raw(surfacegrid::kPoints, 0.0f);
        const GridCsvScan scan{raw.data(), 0.0, 0.0, 0.0, 0.0};
        error.clear();
        QVERIFY(!writeGridCsv(plain + QStringLiteral("/grid.csv"), scan, kWhen, QStringLiteral("h"),
                              &error));
        QVERIFY(!error.isEmpty());

        // A full disk, found while the lines go out (a long block) or only
        // when the file's buffer goes out at the end (a header alone). (The
        // file retries a short write itself: a full disk is the failure a
        // save meets.)
        for (int samples : {1000, 0}) {
            options.samples = samples;
            error.clear();
            QVERIFY(!saveBlock(QStringLiteral("/dev/full"), Mode::Overwrite, kHeader, options,
                               records.data(), 1000, &error));
            QVERIFY2(error.contains(QStringLiteral("/dev/full")) &&
                         error.contains(QStringLiteral("No space left")),
                     qPrintable(error));
        }
    }
};

QTEST_GUILESS_MAIN(TestExportFiles)
#include "tst_exportfiles.moc"
