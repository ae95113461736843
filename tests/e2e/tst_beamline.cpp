// The beamline configuration window over the virtual controller: the
// channel map it saves is the one the controller computes positions with, so
// a wrong map shows on the display as a wrong beam position, and the right
// one brings the position back.

#include "acquisition/updater.h"
#include "app/initresources.h"
#include "beamline/bpm.h"
#include "beamline/windowbeamlineconf.h"
#include "device/configstore.h"
#include "device/globals.h"
#include "sim/firstrunconfig.h"
#include "sim/simrig.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <qcustomplot.h>

#include <cmath>

class TestBeamline : public QObject
{
    Q_OBJECT

    struct Shown {
        double statusMeanX; // controller's statistics, micrometres
        double statusMeanY;
        double seriesMeanX; // the position plot's series, micrometres
    };

    // What the display shows once the controller has run for a while with
    // the settings just saved.
    static Shown shown(SimRig& rig, Updater& updater, const SeriesPtr& seriesX)
    {
        rig.advance(2.0);
        const zevo::BpmStatistics stats = rig.statistics(0);
        updater.updateGraphs();
        double sum = 0.0;
        for (const QCPGraphData& point : *seriesX)
            sum += point.value;
        const double seriesMean = seriesX->isEmpty() ? NAN : sum / seriesX->size();
        return {stats.xMean * bpmScale.x(0), stats.yMean * bpmScale.y(0), seriesMean};
    }

    static void save(WindowBeamlineConf& window)
    {
        window.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))
            ->button(QDialogButtonBox::Save)
            ->click();
    }

private slots:
    void initTestCase() { initResources(); }

    void cleanup()
    {
        theConfig = nullptr;
        theMailbox = nullptr;
        theUpdater = nullptr;
        bpmScale = BpmScaleFactors{};
        BUFFER_BYTES = zevo::kDisplayBufferBytes;
        controllerVersions = ControllerVersions{};
        userLevel = 0;
    }

    void swappedElectrodes_mirrorTheDisplayedPosition()
    {
        SimRig rig;
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config.ini"));
        QVERIFY(writeFirstRunConfiguration(path, rig.driver.scenario()));
        ConfigStore config(path);
        Updater updater(rig.driver);
        theConfig = &config;
        theMailbox = &rig.mailbox;
        theUpdater = &updater;
        controllerVersions.swVersion = QStringLiteral("1.0.03");
        userLevel = 2;
        BUFFER_BYTES = 500 * zevo::kDisplayRecordBytes; // the newest half second
        auto seriesX = SeriesPtr::create();
        updater.setGraphData(Updater::KindPosition1, 0, seriesX);

        // Move the beam off the centre of BPM 1, so that a mirrored position
        // differs from the true one.
        rig.hostOutputs(5.6, 5.5, 6.0);

        WindowBeamlineConf window;
        window.showWindow();
        auto* bpm1 = window.findChild<BPM*>(QStringLiteral("boxBPM1"));
        QVERIFY(bpm1->isOrientation90());
        auto* right = bpm1->findChild<QComboBox*>(QStringLiteral("BPM90_right"));
        auto* left = bpm1->findChild<QComboBox*>(QStringLiteral("BPM90_left"));
        const int rightChannel = right->currentIndex();
        const int leftChannel = left->currentIndex();
        QVERIFY(rightChannel != leftChannel);

        save(window); // as configured: the true position
        const Shown truth = shown(rig, updater, seriesX);
        QVERIFY2(std::abs(truth.statusMeanX) > 20.0,
                 qPrintable(QString::number(truth.statusMeanX)));
        QVERIFY(std::abs(truth.seriesMeanX - truth.statusMeanX) <
                0.05 * std::abs(truth.statusMeanX));

        // Left and right electrodes swapped: X is mirrored, Y stays.
        right->setCurrentIndex(leftChannel);
        left->setCurrentIndex(rightChannel);
        save(window);
        const Shown swapped = shown(rig, updater, seriesX);
        QCOMPARE(rig.settings().channelMap[0][1], leftChannel);
        QVERIFY2(swapped.statusMeanX * truth.statusMeanX < 0,
                 qPrintable(QString("%1 then %2").arg(truth.statusMeanX).arg(swapped.statusMeanX)));
        QVERIFY(swapped.seriesMeanX * truth.seriesMeanX < 0);
        QVERIFY(std::abs(swapped.statusMeanX + truth.statusMeanX) <
                0.05 * std::abs(truth.statusMeanX));
        QVERIFY(std::abs(swapped.statusMeanY - truth.statusMeanY) <
                0.05 * std::abs(truth.statusMeanY) + 1.0);

        // Restored: the true position again.
        right->setCurrentIndex(rightChannel);
        left->setCurrentIndex(leftChannel);
        save(window);
        const Shown restored = shown(rig, updater, seriesX);
        QVERIFY(restored.statusMeanX * truth.statusMeanX > 0);
        QVERIFY(std::abs(restored.statusMeanX - truth.statusMeanX) <
                0.05 * std::abs(truth.statusMeanX));
        QVERIFY(std::abs(restored.seriesMeanX - truth.seriesMeanX) <
                0.05 * std::abs(truth.seriesMeanX));
    }
};

QTEST_MAIN(TestBeamline)
#include "tst_beamline.moc"
