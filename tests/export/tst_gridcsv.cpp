// The 3D rocking-curve file: its exact bytes, and what happens when it
// cannot be written.

#include "export/gridcsv.h"
#include "analysis/surfacegrid.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <clocale>
#include <vector>

class TestGridCsv : public QObject
{
    Q_OBJECT

    static QDateTime when() { return QDateTime(QDate(2024, 3, 7), QTime(9, 5, 2)); }

private slots:
    // Header, column line and every data line with CR LF; X outer, Y inner;
    // both ends of both ranges; currents in %g with 6 significant digits.
    void file_exactBytes()
    {
        std::vector<float> raw(surfacegrid::kPoints, 0.0f);
        raw[0] = 1.2345678e-6f;
        raw[1] = -3.5e-10f;
        raw[64] = 100e-6f; // X step 1, Y step 0
        raw[surfacegrid::kPoints - 1] = 0.5f;
        GridCsvScan scan;
        scan.raw = raw.data();
        scan.xMin = 4.0;
        scan.xSpan = 2.0;
        scan.yMin = -1.0;
        scan.ySpan = 6.3;
        const QByteArray bytes = gridCsv(scan, when(), QStringLiteral("beamline-ctl"));

        const QByteArray header = "Quorvex ZEVO\r\n"
                                  "ZEVO\r\n"
                                  "\r\n"
                                  "Time and Date: 09:05:02 07.03.2024\r\n"
                                  "Host Name: beamline-ctl\r\n"
                                  "ch0,ch1,I0\r\n";
        QVERIFY(bytes.startsWith(header));
        const QByteArray data = bytes.mid(header.size());
        QVERIFY(data.endsWith("6,5.3,0.5\r\n"));
        QCOMPARE(data.count("\r\n"), 4096);
        QCOMPARE(data.count('\n'), 4096); // no bare line feeds
        QCOMPARE(bytes.count("\r\n"), 6 + 4096);

        const QList<QByteArray> lines = data.split('\n');
        QCOMPARE(lines[0], QByteArray("4,-1,1.23457e-06\r"));
        QCOMPARE(lines[1], QByteArray("4,-0.9,-3.5e-10\r"));
        QCOMPARE(lines[2], QByteArray("4,-0.8,0\r"));
        QCOMPARE(lines[63], QByteArray("4,5.3,0\r"));
        QCOMPARE(lines[64], QByteArray("4.03175,-1,0.0001\r"));
        QCOMPARE(lines[4095], QByteArray("6,5.3,0.5\r"));
    }

    // A decimal comma in the operator's locale must not split the columns.
    void numbers_ignoreLocale()
    {
        const char* previous = std::setlocale(LC_NUMERIC, nullptr);
        const QByteArray saved = previous ? QByteArray(previous) : QByteArray("C");
        const bool german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));

        std::vector<float> raw(surfacegrid::kPoints, 2.5e-6f);
        GridCsvScan scan;
        scan.raw = raw.data();
        scan.xMin = 4.5;
        scan.xSpan = 0.0;
        scan.yMin = 4.5;
        scan.ySpan = 0.0;
        const QByteArray bytes = gridCsv(scan, when(), QStringLiteral("h"));

        std::setlocale(LC_NUMERIC, saved.constData());
        QLocale::setDefault(QLocale::c());
        QVERIFY(bytes.endsWith("\r\n4.5,4.5,2.5e-06\r\n"));
        if (!german)
            qInfo("de_DE.UTF-8 not installed; only Qt's default locale was German");
    }

    void write_replacesFile_orReportsFailure()
    {
        QTemporaryDir dir;
        std::vector<float> raw(surfacegrid::kPoints, 0.0f);
        GridCsvScan scan;
        scan.raw = raw.data();

        // An older, longer file is replaced entirely.
        const QString path = dir.filePath("grid.csv");
        {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(QByteArray(400000, 'x'));
        }
        QString error;
        QVERIFY(writeGridCsv(path, scan, when(), QStringLiteral("h"), &error));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), gridCsv(scan, when(), QStringLiteral("h")));

        // A folder that is a regular file cannot hold the file.
        const QString notAFolder = dir.filePath("plain");
        {
            QFile plain(notAFolder);
            QVERIFY(plain.open(QIODevice::WriteOnly));
        }
        error.clear();
        QVERIFY(!writeGridCsv(notAFolder + "/grid.csv", scan, when(), QStringLiteral("h"), &error));
        QVERIFY(!error.isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestGridCsv)
#include "tst_gridcsv.moc"
