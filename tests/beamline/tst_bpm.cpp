// One BPM panel: the electrode set of each orientation and its channel
// check, the conversions between scale/offset and the encoder fields, the
// offsets by controller version, and the high-voltage buttons and readback.

#include "app/initresources.h"
#include "beamline/bpm.h"
#include "support/bytes.h"
#include "support/programfixture.h"
#include "support/widgets.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <memory>

using namespace zevo;

class TestBpm : public QObject
{
    Q_OBJECT

    ProgramFixture f;
    std::unique_ptr<BPM> panel;

    template <class T> T* child(const char* name) { return ::child<T>(panel.get(), name); }
    QComboBox* combo(const char* name) { return child<QComboBox>(name); }
    QDoubleSpinBox* dspin(const char* name) { return child<QDoubleSpinBox>(name); }
    QSpinBox* spin(const char* name) { return child<QSpinBox>(name); }
    bool invalidShown() { return child<QLabel>("textInvalidConf")->isVisibleTo(panel.get()); }

    void storeOffsets(int bpm, double x, double y)
    {
        QVERIFY(theConfig->setOffsetX(bpm, x));
        QVERIFY(theConfig->setOffsetY(bpm, y));
    }

private slots:
    void initTestCase() { initResources(); }

    void init()
    {
        f.setUp();
        controllerVersions.swVersion = QStringLiteral("1.0.03");
        panel = std::make_unique<BPM>();
        panel->setBpmIndex(1);
    }

    void cleanup()
    {
        panel.reset();
        f.tearDown();
        controllerVersions = ControllerVersions{};
    }

    // Each orientation has its own four choices; only the shown set is read
    // and written, and the channel warning follows the shown set.
    void orientation_choosesTheElectrodeSetReadAndWritten()
    {
        QCOMPARE(combo("BPMorientation")->currentText(), QStringLiteral("90°"));
        QVERIFY(panel->isOrientation90());
        QVERIFY(child<QWidget>("BPMvisual90")->isVisibleTo(panel.get()));
        QVERIFY(!child<QWidget>("BPMvisual45")->isVisibleTo(panel.get()));

        panel->setChannels(3, 2, 1, 0);
        QCOMPARE(combo("BPM90_top")->currentIndex(), 3);
        QCOMPARE(combo("BPM90_left")->currentIndex(), 0);

        panel->setOrientation(0);
        QVERIFY(!panel->isOrientation90());
        QCOMPARE(combo("BPMorientation")->currentText(), QStringLiteral("45°"));
        QVERIFY(child<QWidget>("BPMvisual45")->isVisibleTo(panel.get()));
        QVERIFY(!child<QWidget>("BPMvisual90")->isVisibleTo(panel.get()));
        // The 45° set still holds its form default (all "Ch 1")...
        int top = -1, right = -1, bottom = -1, left = -1;
        panel->getChannels(top, right, bottom, left);
        QCOMPARE(QVector<int>({top, right, bottom, left}), QVector<int>({0, 0, 0, 0}));
        // ...which the warning reports as soon as that set is on show.
        QVERIFY(invalidShown());

        panel->setChannels(1, 2, 3, 0);
        QVERIFY(!invalidShown());
        QCOMPARE(combo("BPM45_right")->currentIndex(), 2);
        QCOMPARE(combo("BPM90_top")->currentIndex(), 3); // the other set untouched

        panel->setOrientation(7); // no such orientation: nothing changes
        QVERIFY(!panel->isOrientation90());
        panel->setOrientation(1);
        QVERIFY(panel->isOrientation90());
        QVERIFY(!invalidShown());
    }

    // Each set has its electrode picture, drawn from the embedded resources.
    void pictures_showTheElectrodesOfEachOrientation()
    {
        for (const char* name : {"BPM90_image", "BPM45_image"}) {
            auto* view = child<QGraphicsView>(name);
            QVERIFY2(view->scene() && !view->scene()->itemsBoundingRect().isEmpty(), name);
            QVERIFY(view->maximumWidth() <= 50 && view->maximumHeight() <= 50);
        }
    }

    void channelCheck_reportsTwoElectrodesOnOneInput()
    {
        panel->setChannels(0, 1, 2, 3);
        QVERIFY(!invalidShown());
        QCOMPARE(child<QLabel>("textInvalidConf")->text(),
                 QStringLiteral("Invalid BPM configuration"));

        combo("BPM90_bottom")->setCurrentIndex(1); // "Ch 2" twice
        QVERIFY(invalidShown());
        combo("BPM90_right")->setCurrentIndex(2);
        QVERIFY(!invalidShown());

        // A channel outside the four inputs (a damaged file) keeps the choice
        // instead of leaving an empty box that would be sent as 255.
        panel->setChannels(9, -1, 1, 3);
        int top = -1, right = -1, bottom = -1, left = -1;
        panel->getChannels(top, right, bottom, left);
        QCOMPARE(QVector<int>({top, right, bottom, left}), QVector<int>({0, 2, 1, 3}));
    }

    // Loading scale and stored offset fills the encoder fields, and "Set"
    // turns the encoder fields back into the same scale and offset.
    void encoderConversion_bothWays()
    {
        storeOffsets(1, 1610612.736, 1.5e8);
        panel->setScaling(2147483.648, 1.6e8);
        QCOMPARE(dspin("horNradCountDoubleSpinBox")->value(), 1.0);
        QCOMPARE(spin("horOffsetCountsSpinBox")->value(), 536870912);
        QCOMPARE(dspin("xOffset")->value(), 1610612.736);
        // The counts come from the offset as its box holds it (1e8 at most):
        // 2^31 x (1 - 1e8 / 1.6e8).
        QCOMPARE(dspin("yOffset")->value(), 1e8);
        QCOMPARE(spin("vertOffsetCountsSpinBox")->value(), 805306368);

        dspin("xGain")->setValue(1.0);
        dspin("xOffset")->setValue(0.0);
        dspin("horNradCountDoubleSpinBox")->setValue(1.0);
        spin("horOffsetCountsSpinBox")->setValue(536870912);
        dspin("vertNradCountDoubleSpinBox")->setValue(0.5);
        spin("vertOffsetCountsSpinBox")->setValue(0);
        child<QPushButton>("encoderSetButton")->click();
        double sx = 0, sy = 0, ox = 0, oy = 0;
        panel->getScaling(sx, sy);
        panel->getOffsets(ox, oy);
        QCOMPARE(sx, 2147483.648);
        QCOMPARE(ox, 1610612.736);
        QCOMPARE(sy, 1073741.824);
        QCOMPARE(oy, 1073741.824); // count 0: offset = scale

        // Nothing goes to the controller before the window's Save.
        QCOMPARE(int(f.driver.transfers().size()), 0);

        // Below 0.005 nrad/count the two decimals show 0.00.
        panel->setScaling(0.004 * 2147483.648, 1.0);
        QCOMPARE(dspin("horNradCountDoubleSpinBox")->text(), QStringLiteral("0.00"));
    }

    // A scale of 0 and offsets far outside the count range neither divide by
    // zero nor overflow the conversion to int: the counts stay in the box.
    void encoderConversion_zeroScaleAndHugeCountsStayInRange_data()
    {
        QTest::addColumn<double>("scale");
        QTest::addColumn<double>("offset");
        QTest::addColumn<int>("counts");
        QTest::newRow("scale 0, offset 0") << 0.0 << 0.0 << 999999999;
        QTest::newRow("scale 0, offset 5") << 0.0 << 5.0 << 999999999;
        QTest::newRow("far below") << 0.001 << -10000.0 << 999999999;
        QTest::newRow("far above") << 1.0 << 1e8 << 0;
        QTest::newRow("centre") << 1.0 << 0.0 << 999999999;
        QTest::newRow("half") << 4.0 << 3.0 << 536870912;
    }
    void encoderConversion_zeroScaleAndHugeCountsStayInRange()
    {
        QFETCH(double, scale);
        QFETCH(double, offset);
        QFETCH(int, counts);
        storeOffsets(1, offset, offset);
        panel->setScaling(scale, scale);
        QCOMPARE(spin("horOffsetCountsSpinBox")->value(), counts);
        QCOMPARE(spin("vertOffsetCountsSpinBox")->value(), counts);

        // "Set" from a zero nrad/count gives a zero scale and offset, never NaN.
        dspin("horNradCountDoubleSpinBox")->setValue(0.0);
        child<QPushButton>("encoderSetButton")->click();
        double ox = 1, oy = 1;
        panel->getOffsets(ox, oy);
        QCOMPARE(ox, 0.0);
    }

    void offsetRows_followControllerVersion_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("shown");
        QTest::newRow("1.0.02") << "1.0.02" << false;
        QTest::newRow("1.0.03") << "1.0.03" << true;
        QTest::newRow("1.1") << "1.1" << true;
        QTest::newRow("no version commands") << "0.0.90" << false;
        QTest::newRow("version unread") << "" << false;
    }
    void offsetRows_followControllerVersion()
    {
        QFETCH(QString, version);
        QFETCH(bool, shown);
        controllerVersions.swVersion = version;
        panel->updateOffsetVisibility();
        for (const char* name : {"labelOffsetX", "xOffset", "labelOffsetY", "yOffset"})
            QVERIFY2(child<QWidget>(name)->isVisibleTo(panel.get()) == shown, name);
        QVERIFY(child<QWidget>("xGain")->isVisibleTo(panel.get()));
    }

    void hvReadback_statusTextsAndFormats_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("text");
        QTest::newRow("off") << 0 << "HV OFF";
        QTest::newRow("on") << 1 << "HV ON";
        QTest::newRow("2") << 2 << "";
        QTest::newRow("rising") << 3 << "HV rising";
        QTest::newRow("4") << 4 << "";
        QTest::newRow("falling") << 5 << "HV falling";
        QTest::newRow("15") << 15 << "";
    }
    void hvReadback_statusTextsAndFormats()
    {
        QFETCH(int, state);
        QFETCH(QString, text);
        child<QLabel>("statusLabel")->setText(QStringLiteral("stale"));
        panel->setHVstatus(state, 12.345f, 0.5f);
        QCOMPARE(child<QLabel>("statusLabel")->text(), text);
        QCOMPARE(child<QLineEdit>("voltageReadoutLineEdit")->text(), QStringLiteral("12.35V"));
        QCOMPARE(child<QLineEdit>("currentReadoutLineEdit")->text(), QStringLiteral("0.50uA"));
    }

    // The enable button alternates on/off for this panel's picoammeter,
    // whatever the readback says; "Set HV" sends the bias in single precision.
    void hvButtons_sendAtOnce()
    {
        panel->setHVstatus(1, 500.0f, 0.1f); // the readback has no say
        auto* enable = child<QPushButton>("enableHVbutton");
        enable->click();
        enable->click();
        dspin("biasVoltageDoubleSpinBox")->setValue(250.5);
        child<QPushButton>("setHVbutton")->click();

        QCOMPARE(hexOf(f.driver.transfers()), goldenHex({"00010004 01000000 01", // on, index 1
                                                         "00010004 01000000 00", // off
                                                         "00020004 01000000 00807a43"}));
    }
};

QTEST_MAIN(TestBpm)
#include "tst_bpm.moc"
