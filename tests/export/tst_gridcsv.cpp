// The 3D rocking-curve file: its exact bytes, and a file that cannot be
// written.

#include "analysis/surfacegrid.h"
#include "export/gridcsv.h"
#include "support/bytes.h"

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
        const GridCsvScan scan{raw.data(), 4.0, 2.0, -1.0, 6.3};
        const QByteArray bytes = gridCsv(scan, m_when, QStringLiteral("beamline-ctl"));

        QVERIFY(
            bytes.startsWith("Quorvex ZEVO\r\nZEVO\r\n\r\nTime and Date: 09:05:02 07.03.2024\r\n"
                             "Host Name: beamline-ctl\r\nch0,ch1,I0\r\n"
                             "4,-1,1.23457e-06\r\n4,-0.9,-3.5e-10\r\n"));
        QVERIFY(bytes.contains("\r\n4,5.3,0\r\n4.03175,-1,0.0001\r\n4.03175,-0.9,0\r\n"));
        QVERIFY(bytes.endsWith("\r\n6,5.2,0\r\n6,5.3,0.5\r\n"));
        QCOMPARE(bytes.count('\n'), 6 + 4096);
        QCOMPARE(bytes.count("\r\n"), 6 + 4096);
    }

    // An older, longer file is replaced entirely; a folder that is a regular
    // file gives a failure with a reason.
    void write_replacesOrFails()
    {
        QTemporaryDir dir;
        std::vector<float> raw(surfacegrid::kPoints, 0.0f);
        const GridCsvScan scan{raw.data(), 0.0, 0.0, 0.0, 0.0};
        QFile file(dir.filePath("grid.csv"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(400000, 'x'));
        file.close();

        QString error;
        QVERIFY(writeGridCsv(file.fileName(), scan, m_when, "h", &error));
        QCOMPARE(fileText(file.fileName()), gridCsv(scan, m_when, "h"));
        QVERIFY(!writeGridCsv(dir.filePath("grid.csv/inside.csv"), scan, m_when, "h", &error));
        QVERIFY(!error.isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestGridCsv)
#include "tst_gridcsv.moc"
