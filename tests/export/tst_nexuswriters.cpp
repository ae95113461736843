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

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <vector>

using zevo::DisplayRecord;

namespace
{

const QDateTime kWhen(QDate(2026, 6, 5), QTime(14, 3, 22), Qt::OffsetFromUTC, 7200);
const QString kHost = "bl-ctrl"_q;

nexus::Settings someSettings()
{
    nexus::Settings s;
    s.hostName = kHost;
    s.programVersion = "1.0"_q;
    s.controller = {"2024-01-02 03:04"_q, "1.0.03"_q, "2.1"_q};
    s.scale.set(0, 2.5, -0.5);
    s.scale.set(1, 1e-3, 4.0);
    s.channels = {{{3, 2, 1, 0}, {0, 1, 2, 3}}};
    s.dacs = {2, 0, 3};
    s.pidSources = {1, 0, 1};
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
QList<QByteArray> csvColumn(const QList<QByteArray>& lines, int first, int c,
                            const QByteArray& separator)
{
    QList<QByteArray> out;
    for (int i = first; i < lines.size(); ++i)
        out << lines[i].split(separator.at(0)).value(c).trimmed();
    return out;
}

const QRegularExpression
    kIsoTime("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$"_q);

// The parts every file shares: the classes on the way to the data, the
// entry's facts and the settings collections.
void verifyEntry(const NexusReader& r, const QString& entry, const QString& title,
                 const nexus::Settings& s)
{
    QCOMPARE(r.text("/"_q, "NX_class"_q), "NXroot"_q);
    QCOMPARE(r.text("/"_q, "creator"_q), nexus::kProgramName);
    QCOMPARE(r.text(entry, "NX_class"_q), "NXentry"_q);
    QCOMPARE(r.text(entry, "default"_q), "data"_q);
    QCOMPARE(r.text(entry + "/data"_q, "NX_class"_q), "NXdata"_q);
    QCOMPARE(r.text(entry + "/title"_q), title);
    for (const char* time : {"/start_time", "/end_time"}) {
        const QString t = r.text(entry + QLatin1String(time));
        QVERIFY2(kIsoTime.match(t).hasMatch(), qPrintable(t));
    }
    QCOMPARE(r.text(entry + "/program_name"_q), nexus::kProgramName);
    QCOMPARE(r.text(entry + "/program_name"_q, "version"_q), s.programVersion);

    const QString in = entry + "/instrument"_q;
    QCOMPARE(r.text(in, "NX_class"_q), "NXinstrument"_q);
    for (const QString& name : r.children(in))
        if (name != "name"_q)
            QCOMPARE(r.text(in + QLatin1Char('/') + name, "NX_class"_q), "NXcollection"_q);
    QCOMPARE(r.text(in + "/controller/host_name"_q), s.hostName);
    QCOMPARE(r.text(in + "/controller/software_version"_q), s.controller.swVersion);
    QCOMPARE(r.number(in + "/bpm2/scale_x"_q), 1e-3);
    // Channels and outputs count from 1, as the windows show them.
    QCOMPARE(r.number(in + "/bpm1/channel_top"_q), 4.0);
    QCOMPARE(r.number(in + "/dac_assignment/i0"_q), 4.0);
    QCOMPARE(r.number(in + "/pid_sources/x"_q), 2.0);
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
        QCOMPARE(nexus::isoTime(QDateTime(d, t, Qt::OffsetFromUTC, 3600)),
                 "2026-12-06T15:42:07.250+01:00"_q);
        QCOMPARE(nexus::isoTime(QDateTime(d, t, Qt::OffsetFromUTC, -(5 * 3600 + 1800))),
                 "2026-12-06T15:42:07.250-05:30"_q);
        QCOMPARE(nexus::isoTime(QDateTime(d, t, Qt::UTC)), "2026-12-06T15:42:07.250+00:00"_q);
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
        QTest::newRow("defaults") << QList<int>{Bpm1PosX, Bpm1PosY, Bpm1I0,
                                                Bpm2PosX, Bpm2PosY, Bpm2I0}
                                  << 1000 << 1000 << false;
        QList<int> all;
        for (int c = 0; c < ColumnCount; ++c)
            all << c;
        QTest::newRow("every column, currents") << all << 300 << 50000 << false;
        QTest::newRow("every column, encoder counts") << all << 300 << 7 << true;
        QTest::newRow("DAC outputs only") << QList<int>{Dac3, Dac1} << 20 << 1000 << false;
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
        Options options;
        for (int c : ticked)
            options.columns[std::size_t(c)] = true;
        options.samples = samples;
        options.sampFreq = rate;
        options.scale = settings.scale;
        options.encoder = encoder;
        const Header header{kWhen, kHost, "Strahl \u00b5 stabil\nZeile 2"_q};
        const std::vector<DisplayRecord> recs = records(1200);

        QTemporaryDir dir;
        const QString csv = dir.filePath("s.csv"_q);
        const QString nxs = dir.filePath("s.nxs"_q);
        QVERIFY(saveBlock(csv, Mode::Overwrite, header, options, recs.data(), int(recs.size())));
        QString error;
        QVERIFY2(displaynexus::save(nxs, Mode::Overwrite, header, options, recs.data(),
                                    int(recs.size()), settings, &error),
                 qPrintable(error));

        const QList<QByteArray> lines = csvLines(fileText(csv));
        QCOMPARE(lines.size(), 9 + samples);
        const QList<QByteArray> names = lines[8].split(',');
        NexusReader r(nxs);
        verifyEntry(r, "/entry"_q, header.comment, settings);
        QCOMPARE(r.text("/"_q, "default"_q), "entry"_q);
        QCOMPARE(r.number("/entry/instrument/display/frequency"_q), double(rate));
        QCOMPARE(r.number("/entry/instrument/display/encoder_interface"_q), encoder ? 1.0 : 0.0);

        const QString data = "/entry/data/"_q;
        QCOMPARE(r.values(data + "time"_q).size(), std::size_t(samples));
        QCOMPARE(printed(r.values(data + "time"_q)), csvColumn(lines, 9, 1, ", "));
        QCOMPARE(r.text(data + "time"_q, "units"_q), "s"_q);

        // The columns stand in the CSV's order whatever the order ticked.
        std::sort(ticked.begin(), ticked.end());
        QStringList fields;
        for (int k = 0; k < ticked.size(); ++k) {
            const Column column = Column(ticked[k]);
            const QString field = displaynexus::fieldName(column, encoder);
            fields << field;
            QVERIFY2(r.isFloat64(data + field), qPrintable(field));
            QCOMPARE(r.shape(data + field), (std::vector<hsize_t>{hsize_t(samples)}));
            const QByteArray name = names[k + 2].trimmed();
            QCOMPARE(r.text(data + field, "long_name"_q).toLocal8Bit(), name);
            const char* unit = name.contains("Pos")         ? "um"
                               : name.startsWith("Ostrel")  ? "V"
                               : name.startsWith("Encoder") ? "counts"
                                                            : "A";
            QCOMPARE(r.text(data + field, "units"_q), QString::fromLatin1(unit));
            QCOMPARE(printed(r.values(data + field)), csvColumn(lines, 9, k + 2, ", "));
        }
        QCOMPARE(r.children("/entry/data"_q).size(), fields.size() + 1);

        // The plot: the first ticked column against time, the others beside it.
        const QString group = "/entry/data"_q;
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
        using namespace displaycsv;
        Options options;
        options.columns = defaultSelection();
        options.samples = 1001;
        options.sampFreq = 1000;
        const std::vector<DisplayRecord> recs = records(3001);
        QTemporaryDir dir;
        const QString nxs = dir.filePath("t.nxs"_q);
        QVERIFY(displaynexus::save(nxs, Mode::Overwrite, {kWhen, kHost, QString()}, options,
                                   recs.data(), 3001, someSettings()));
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
        verifyEntry(r, "/entry"_q, "3D Rocking Curve"_q, settings);
        const QString data = "/entry/data"_q;
        QCOMPARE(r.text(data, "signal"_q), "intensity"_q);
        QCOMPARE(r.strings(data, "axes"_q), (QStringList{"v1"_q, "v2"_q}));
        QCOMPARE(r.integerAttribute(data, "v1_indices"_q), 0LL);
        QCOMPARE(r.integerAttribute(data, "v2_indices"_q), 1LL);
        QCOMPARE(r.shape(data + "/intensity"_q), (std::vector<hsize_t>{64, 64}));
        QCOMPARE(r.text(data + "/intensity"_q, "units"_q), "A"_q);
        QCOMPARE(r.text(data + "/v1"_q, "units"_q), "V"_q);

        const QList<QByteArray> x = csvColumn(lines, 6, 0, ",");
        const QList<QByteArray> y = csvColumn(lines, 6, 1, ",");
        const QList<QByteArray> current = csvColumn(lines, 6, 2, ",");
        QCOMPARE(printed(r.values(data + "/intensity"_q)), current);
        const QList<QByteArray> v1 = printed(r.values(data + "/v1"_q));
        const QList<QByteArray> v2 = printed(r.values(data + "/v2"_q));
        QCOMPARE(v1.size(), 64);
        for (int i = 0; i < 64; ++i) {
            QCOMPARE(v1[i], x[i * 64]);
            QCOMPARE(v2[i], y[i]);
        }
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
        QTest::addColumn<QByteArray>("csvNames");
        QTest::newRow("posX") << true << QStringList{"left", "right"}
                              << QByteArray("Output voltage [V],left (ch 1) [A],right (ch 3) [A],"
                                            "sum (left+right) [A]");
        QTest::newRow("posY") << false << QStringList{"top", "bottom"}
                              << QByteArray("Output voltage [V],top (ch 1) [A],bottom (ch 3) [A],"
                                            "sum (top+bottom) [A]");
    }
    void rockingCurve_nexusAndCsvAgree()
    {
        QFETCH(bool, scanX);
        QFETCH(QStringList, fields);
        QFETCH(QByteArray, csvNames);
        RockingCurve c;
        c.scanX = scanX;
        c.firstChannel = 0;
        c.secondChannel = 2;
        c.start = 4.0;
        c.stop = 6.0;
        c.points = 1000;
        c.pointTimeMs = 1.5;
        c.scanOutput = 1;
        c.heldOutput = 3;
        c.heldVolts = 5.25;
        c.started = kWhen;
        c.ended = kWhen.addSecs(3);
        for (int i = 0; i < 7; ++i) {
            c.volts.push_back(4.0 + 0.002 * i);
            c.first.push_back(1.234567e-6 * (i + 1));
            c.second.push_back(-3.3e-9 * i * i);
        }
        c.settings = someSettings();
        QTemporaryDir dir;
        const QString nxs = dir.filePath("r.nxs"_q);
        const QString csv = dir.filePath("r.csv"_q);
        QVERIFY(rockingcurvefile::writeNexus(nxs, c));
        QVERIFY(rockingcurvefile::writeCsv(csv, c, kWhen, kHost));

        const QList<QByteArray> lines = csvLines(fileText(csv));
        QCOMPARE(lines[6], "Comment: " + rockingcurvefile::title(c).toLatin1());
        QCOMPARE(lines[8], csvNames);
        QCOMPARE(lines.size(), 9 + 7);

        NexusReader r(nxs);
        verifyEntry(r, "/entry"_q, rockingcurvefile::title(c), c.settings);
        const QString data = "/entry/data"_q;
        QCOMPARE(r.text(data, "signal"_q), "sum"_q);
        QCOMPARE(r.strings(data, "auxiliary_signals"_q), fields);
        QCOMPARE(r.strings(data, "axes"_q), QStringList{"voltage"_q});
        QCOMPARE(r.integerAttribute(data, "voltage_indices"_q), 0LL);
        const QStringList all = QStringList{"voltage"_q} + fields + QStringList{"sum"_q};
        const QStringList legend = rockingcurvefile::curveNames(scanX, 0, 2);
        for (int k = 0; k < all.size(); ++k) {
            const QString field = data + QLatin1Char('/') + all[k];
            QCOMPARE(r.shape(field), (std::vector<hsize_t>{7}));
            QCOMPARE(r.text(field, "units"_q), k ? "A"_q : "V"_q);
            if (k)
                QCOMPARE(r.text(field, "long_name"_q), legend[k - 1]);
            QCOMPARE(printed(r.values(field)), csvColumn(lines, 9, k, ","));
        }
        const QString scan = "/entry/instrument/scan"_q;
        QCOMPARE(r.text(scan + "/direction"_q), scanX ? "posX"_q : "posY"_q);
        QCOMPARE(r.number(scan + "/scan_output"_q), 2.0);
        QCOMPARE(r.number(scan + "/held_output"_q), 4.0);
        QCOMPARE(r.number(scan + "/held_voltage"_q), 5.25);
        QCOMPARE(r.number(scan + "/points_taken"_q), 7.0);
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
        QTest::addColumn<QString>("units");
        QTest::addColumn<QString>("loop");
        QTest::addColumn<QByteArray>("responseName");
        QTest::newRow("X at BPM1, falling")
            << 0 << false << QString() << "pid_x" << QByteArray("BPM1 Pos X");
        QTest::newRow("I0 at BPM2") << 2 << true << "A"
                                    << "pid_i0" << QByteArray("BPM2 I0 [A]");
    }
    void stepResponse_nexusAndCsvAgree()
    {
        QFETCH(int, axis);
        QFETCH(bool, bpm2);
        QFETCH(QString, units);
        QFETCH(QString, loop);
        QFETCH(QByteArray, responseName);
        StepResponseRun run;
        run.axis = axis;
        run.bpm2 = bpm2;
        run.sampleRate = 50000;
        run.bias = {5.0, 4.5, 3.0};
        run.step = {axis == 0 ? 0.1 : 0.0, 0.0, axis == 2 ? 0.5 : 0.0};
        run.stimulusOutput = 2;
        run.started = kWhen;
        run.ended = kWhen.addMSecs(320);
        const double sign = axis == 0 ? -1.0 : 1.0;
        for (int i = 0; i < 2000; ++i) {
            const bool stepped = i >= 500 && i < 1500;
            run.stimulus.push_back(run.bias[std::size_t(axis)] +
                                   (stepped ? run.step[std::size_t(axis)] : 0.0));
            run.response.push_back(sign * (stepped ? 1.0 - std::exp(-(i - 520) / 80.0) : 0.0) +
                                   1e-7 * i);
        }
        run.evaluation =
            evaluateStepResponse(run.response, run.stimulus, run.bias[std::size_t(axis)],
                                 run.step[std::size_t(axis)], run.sampleRate);
        run.pid = {1000.0, 0.3, 0.1, 0.01, 0.0, 100.0, -12.0, 12.0, 1.0, 5.0};
        run.settings = someSettings();
        QTemporaryDir dir;
        const QString nxs = dir.filePath("s.nxs"_q);
        const QString csv = dir.filePath("s.csv"_q);
        QString error;
        QVERIFY2(stepresponsefile::writeNexus(nxs, run, &error), qPrintable(error));
        QVERIFY(stepresponsefile::writeCsv(csv, run, kWhen, kHost));

        const QList<QByteArray> lines = csvLines(fileText(csv));
        QCOMPARE(lines[6], "Comment: " + stepresponsefile::title(run).toLatin1());
        QCOMPARE(lines[8], "time [s],stimulus [V]," + responseName);
        QCOMPARE(lines.size(), 9 + 2000);

        NexusReader r(nxs);
        verifyEntry(r, "/entry"_q, stepresponsefile::title(run), run.settings);
        const QString data = "/entry/data"_q;
        QCOMPARE(r.text(data, "signal"_q), "response"_q);
        QCOMPARE(r.strings(data, "auxiliary_signals"_q), QStringList{"stimulus"_q});
        QCOMPARE(r.strings(data, "axes"_q), QStringList{"time"_q});
        const char* fields[3] = {"/time", "/stimulus", "/response"};
        for (int k = 0; k < 3; ++k) {
            QCOMPARE(r.shape(data + QLatin1String(fields[k])), (std::vector<hsize_t>{2000}));
            QCOMPARE(printed(r.values(data + QLatin1String(fields[k]))),
                     csvColumn(lines, 9, k, ","));
        }
        QCOMPARE(r.values(data + "/response"_q), run.response);
        QCOMPARE(r.text(data + "/response"_q, "units"_q), units);
        QCOMPARE(r.text(data + "/time"_q, "units"_q), "s"_q);
        QCOMPARE(r.text(data + "/stimulus"_q, "long_name"_q), "DAC output 3"_q);

        const QString in = "/entry/instrument/"_q;
        QCOMPARE(r.number(in + loop + "/kp"_q), 0.3);
        QCOMPARE(r.number(in + loop + "/o_min"_q), -12.0);
        QCOMPARE(r.number(in + loop + "/offset"_q), 5.0);
        QCOMPARE(r.number(in + "step/bias_y"_q), 4.5);
        QCOMPARE(r.number(in + "step/sample_rate"_q), 50000.0);
        QCOMPARE(r.number(in + "step/bpm"_q), bpm2 ? 2.0 : 1.0);
        QCOMPARE(r.number(in + "results/gain"_q), run.evaluation.gain);
        QCOMPARE(r.number(in + "results/dead_time"_q), run.evaluation.deadTime);
        QCOMPARE(r.number(in + "results/inverted"_q), axis == 0 ? 1.0 : 0.0);
    }
};

QTEST_GUILESS_MAIN(TestNexusWriters)
#include "tst_nexuswriters.moc"
