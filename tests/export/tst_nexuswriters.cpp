// The four measurements' NeXus files, read back with the HDF5 library and
// held against the CSV files written from the same data: the path a viewer
// follows to the plot (NX_class, @default, @signal, @axes, ...), units,
// shapes, and every value printed as the CSV prints it. Also the entry's
// times and the settings collections. (Appending a save as entry2 is driven
// from the window in tst_nexuswindows.)

#include "analysis/surfacegrid.h"
#include "export/displaynexus.h"
#include "export/gridnexus.h"
#include "export/nexusentry.h"
#include "export/rockingcurvefile.h"
#include "export/stepresponsefile.h"
#include "nexusreader.h"
#include "support/bytes.h"

#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <vector>

using zevo::DisplayRecord;
using Shape = std::vector<hsize_t>;

namespace
{

const QDateTime kWhen(QDate(2026, 6, 5), QTime(14, 3, 22), Qt::OffsetFromUTC, 7200);
const QString kHost = "bl-ctrl"_q;

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
// display_entryTimesSpanTheSamples). Channels and outputs count
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

class TestNexusWriters : public QObject
{
    Q_OBJECT

private slots:
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
    void display_matchesTheCsvBlock_data()
    {
        QTest::addColumn<QList<int>>("ticked");
        QTest::addColumn<int>("samples");
        QTest::addColumn<int>("rate");
        QTest::addColumn<bool>("encoder");
        using namespace displaycsv;
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
        using namespace displaycsv;
        const nexus::Settings settings = someSettings();
        Options options{{}, samples, rate, settings.scale, encoder};
        for (int c : ticked)
            options.columns[std::size_t(c)] = true;
        const Header header{kWhen, kHost, "Strahl \u00b5 stabil\nZeile 2"_q};
        const std::vector<DisplayRecord> recs = records(1200);

        QTemporaryDir dir;
        const QString csv = dir.filePath("s.csv"_q), nxs = dir.filePath("s.nxs"_q);
        QVERIFY(saveBlock(csv, Mode::Overwrite, header, options, recs.data(), int(recs.size())));
        QString error;
        QVERIFY2(displaynexus::save(nxs, Mode::Overwrite, header, options, recs.data(),
                                    int(recs.size()), settings, &error),
                 qPrintable(error));

        const QList<QByteArray> lines = csvLines(fileText(csv));
        QCOMPARE(lines.size(), 9 + samples);
        NexusReader r(nxs);
        verifyEntry(r, header.comment, settings);
        QCOMPARE(r.text("/"_q, "default"_q), "entry"_q);
        QCOMPARE(r.number("/entry/instrument/display/frequency"_q), double(rate));
        QCOMPARE(r.number("/entry/instrument/display/encoder_interface"_q), encoder ? 1.0 : 0.0);

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
            QCOMPARE(r.integerAttribute(group, "time_indices"_q), 0LL);
            QCOMPARE(r.strings(group, "auxiliary_signals"_q), fields);
        }
    }

    // The entry spans the saved samples: the newest record of the snapshot
    // is the moment of saving, one display period between records.
    void display_entryTimesSpanTheSamples()
    {
        displaycsv::Options options{displaycsv::defaultSelection(), 1001, 1000, {}, false};
        const std::vector<DisplayRecord> recs = records(3001);
        QTemporaryDir dir;
        const QString nxs = dir.filePath("t.nxs"_q);
        QVERIFY(displaynexus::save(nxs, displaycsv::Mode::Overwrite, {kWhen, kHost, QString()},
                                   options, recs.data(), 3001, someSettings()));
        NexusReader r(nxs);
        QCOMPARE(r.text("/entry/start_time"_q), "2026-06-05T14:03:19.000+02:00"_q);
        QCOMPARE(r.text("/entry/end_time"_q), "2026-06-05T14:03:20.000+02:00"_q);
    }

    // The 3D grid: a 64 x 64 signal over the X (v1) and Y (v2) voltages,
    // each element and voltage printing as the CSV's line for that point.
    void grid_matchesTheCsv()
    {
        std::vector<float> raw(surfacegrid::kPoints, 0.0f);
        for (int k = 0; k < surfacegrid::kPoints; ++k)
            raw[std::size_t(k)] = float(1e-6 * std::sin(0.01 * k) + 1e-9 * k);
        const GridCsvScan scan{raw.data(), 4.0, 2.0, -1.0, 6.3};
        const nexus::Settings settings = someSettings();
        QTemporaryDir dir;
        const QString nxs = dir.filePath("g.nxs"_q);
        QString error;
        QVERIFY2(
            writeGridNexus(nxs, scan, 10.0, {"3D Rocking Curve"_q, kWhen, kWhen}, settings, &error),
            qPrintable(error));

        const QList<QByteArray> lines = csvLines(gridCsv(scan, kWhen, kHost));
        NexusReader r(nxs);
        verifyEntry(r, "3D Rocking Curve"_q, settings);
        const QString data = "/entry/data"_q;
        QCOMPARE(r.text(data, "signal"_q), "intensity"_q);
        QCOMPARE(r.strings(data, "axes"_q), (QStringList{"v1"_q, "v2"_q}));
        QCOMPARE(r.integerAttribute(data, "v1_indices"_q), 0LL);
        QCOMPARE(r.integerAttribute(data, "v2_indices"_q), 1LL);
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
        QCOMPARE(r.text(data, "signal"_q), "sum"_q);
        QCOMPARE(r.strings(data, "auxiliary_signals"_q), fields);
        QCOMPARE(r.strings(data, "axes"_q), QStringList{"voltage"_q});
        QCOMPARE(r.integerAttribute(data, "voltage_indices"_q), 0LL);
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
        QCOMPARE(r.text(data, "signal"_q), "response"_q);
        QCOMPARE(r.strings(data, "auxiliary_signals"_q), QStringList{"stimulus"_q});
        QCOMPARE(r.strings(data, "axes"_q), QStringList{"time"_q});
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
};

QTEST_GUILESS_MAIN(TestNexusWriters)
#include "tst_nexuswriters.moc"
