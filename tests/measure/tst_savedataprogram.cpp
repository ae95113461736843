// Data saving in the whole program on the virtual controller: the menu opens
// the window, Save writes the oldest records of the display buffer as the
// controller holds them at that moment, positions in micrometres.

#include "support/virtualprogram.h"

#include "app/mainwindow.h"
#include "device/globals.h"
#include "export/displaycsv.h"
#include "measure/windowsavedata.h"

#include <QAction>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

#include <vector>

class TestSaveDataProgram : public QObject
{
    Q_OBJECT

private slots:
    void save_writesTheControllersBufferInMicrometres()
    {
        QTemporaryDir out;
        const QString path = out.filePath(QStringLiteral("ZEVO_meas_2026-06-05_14-03-22.csv"));
        const QString shots = qEnvironmentVariable("ZEVO_SCREENSHOT_DIR");
        QString status;
        std::vector<zevo::DisplayRecord> heldAtSave;
        BpmScaleFactors scaleAtSave;
        int rateAtSave = 0;

        VirtualProgram program;
        QVERIFY(program.useFirstRunConfiguration());
        const int result = program.run([&](MainWindow& main, int) {
            main.findChild<QAction*>(QStringLiteral("action_Save_Data"))->trigger();
            auto* exit = main.findChild<QAction*>(QStringLiteral("action_Exit"));
            auto* window = main.findChild<WindowSaveData*>();
            if (!window) {
                exit->trigger();
                return;
            }
            window->findChild<QPlainTextEdit*>(QStringLiteral("commentTextEdit"))
                ->setPlainText(QStringLiteral("Reference orbit before the gap scan"));
            window->findChild<QLineEdit*>(QStringLiteral("pathLineEdit"))->setText(path);
            window->findChild<QCheckBox*>(QStringLiteral("checkOstrelch1"))->setChecked(true);
            window->findChild<QCheckBox*>(QStringLiteral("checkOstrelch2"))->setChecked(true);
            for (QAbstractButton* b :
                 window->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))->buttons())
                if (b->text() == QStringLiteral("Save"))
                    QTest::mouseClick(b, Qt::LeftButton);
            status = window->findChild<QLabel*>(QStringLiteral("statusLabel"))->text();

            // The manual clock stands still: the controller holds what it
            // held as Save was pressed.
            heldAtSave.resize(zevo::kDisplayBufferRecords);
            theDriver->getBuffer(heldAtSave.data(), zevo::kDisplayBufferRecords);
            scaleAtSave = bpmScale;
            rateAtSave = SAMP_FREQ;

            if (!shots.isEmpty()) {
                QCoreApplication::processEvents(); // lays the window out
                window->grab().save(shots + QStringLiteral("/save-data.png"));
            }
            window->close();
            exit->trigger();
        });
        QCOMPARE(result, 0);
        QVERIFY2(status.endsWith(QStringLiteral(": Saved as: ") + path), qPrintable(status));
        QCOMPARE(scaleAtSave.x(0), 1000.0); // the first start's scale: raw units are millimetres

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), 8 + 1 + 1000 + 1);
        QCOMPARE(lines[6], QByteArray("Comment: Reference orbit before the gap scan\r"));
        QCOMPARE(lines[8], QByteArray("Nr, Rel. time, BPM1 Pos X, BPM1 Pos Y, BPM1 I0, BPM2 Pos X, "
                                      "BPM2 Pos Y, BPM2 I0, Ostrel Ch1, Ostrel Ch2, \r"));

        // Sample i is record i of the buffer, oldest first, positions scaled.
        for (int i = 0; i < 1000; ++i) {
            const QList<QByteArray> f = lines[9 + i].split(',');
            QCOMPARE(f.size(), 11); // ten fields, each followed by ", "
            const zevo::DisplayRecord& r = heldAtSave[std::size_t(i)];
            QCOMPARE(f[0].toInt(), i);
            QCOMPARE(f[1].trimmed(),
                     displaycsv::formatDouble(double(float(i) / float(rateAtSave))));
            QCOMPARE(f[2].trimmed(), displaycsv::formatDouble(r.value[0] * scaleAtSave.x(0)));
            QCOMPARE(f[5].trimmed(), displaycsv::formatDouble(r.value[4] * scaleAtSave.x(1)));
            QCOMPARE(f[8].trimmed(), displaycsv::formatDouble(r.value[8]));
            QVERIFY2(f[4].trimmed().toDouble() > 0.0, f[4].constData()); // beam on BPM 1
        }
    }
};

QTEST_APPLESS_MAIN(TestSaveDataProgram)
#include "tst_savedataprogram.moc"
