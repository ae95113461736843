// The 3D rocking-curve file: its exact bytes, and a file that cannot be
// written.

#include "analysis/surfacegrid.h"
#include "export/gridcsv.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <vector>

class TestGridCsv : public QObject
{
    Q_OBJECT

    const QDateTime m_when{QDate(2024, 3, 7), QTime(9, 5, 2)};

private slots:
    // Five header lines and the column line, then 4096 lines, X outer and Y
    // inner from end to end of both ranges, currents as %g with 6 digits,
    // every line ending in CR LF.
    void file_exactBytes()
    {
        std::vector<float> raw(surfacegrid::kPoints, 0.0f);
        raw[0] = 1.2345678e-6f;
        raw[1] = -3.5e-10f;
        raw[64] = 100e-6f; // X step 1, Y step 0
        raw[4095] = 0.5f;
        GridCsvScan scan;
        scan.raw = raw.data();
        scan.xMin = 4.0;
        scan.xSpan = 2.0;
        scan.yMin = -1.0;
        scan.ySpan = 6.3;
        const QByteArray bytes = gridCsv(scan, m_when, QStringLiteral("beamline-ctl"));

        const QByteArray header = "Quorvex ZEVO\r\nZEVO\r\n\r\n"
                                  "Time and Date: 09:05:02 07.03.2024\r\n"
                                  "Host Name: beamline-ctl\r\n"
                                  "ch0,ch1,I0\r\n";
        QVERIFY(bytes.startsWith(header));
        const QList<QByteArray> lines = bytes.mid(header.size()).split('\n');
        QCOMPARE(lines.size(), 4096 + 1);
        QVERIFY(lines.last().isEmpty());
        for (int k = 0; k < 4096; ++k)
            QVERIFY(lines[k].endsWith('\r'));
        QCOMPARE(lines[0], QByteArray("4,-1,1.23457e-06\r"));
        QCOMPARE(lines[1], QByteArray("4,-0.9,-3.5e-10\r"));
        QCOMPARE(lines[63], QByteArray("4,5.3,0\r"));
        QCOMPARE(lines[64], QByteArray("4.03175,-1,0.0001\r"));
        QCOMPARE(lines[4095], QByteArray("6,5.3,0.5\r"));
    }

    // An older, longer file is replaced entirely; a folder that is a regular
    // file gives a failure with a reason.
    void write_replacesOrFails()
    {
        QTemporaryDir dir;
        std::vector<float> raw(surfacegrid::kPoints, 0.0f);
        GridCsvScan scan;
        scan.raw = raw.data();
        QFile file(dir.filePath("grid.csv"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(400000, 'x'));
        file.close();

        QString error;
        QVERIFY(writeGridCsv(file.fileName(), scan, m_when, "h", &error));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), gridCsv(scan, m_when, "h"));

        QVERIFY(!writeGridCsv(dir.filePath("grid.csv/inside.csv"), scan, m_when, "h", &error));
        QVERIFY(!error.isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestGridCsv)
#include "tst_gridcsv.moc"
