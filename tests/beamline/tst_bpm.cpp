// One BPM panel: the electrode set of each orientation and its channel
// check, the conversions between scale/offset and the encoder fields, the
// offsets by controller version, and the high-voltage buttons and readback.

#include "app/initresources.h"
#include "beamline/bpm.h"
#include "support/bytes.h"
#include "support/programfixture.h"
#include "support/widgets.h"

#include <QtWidgets>

#include <memory>

using namespace zevo;

class TestBpm : public QObject
{
    Q_OBJECT

    ProgramFixture f;
    std::unique_ptr<BPM> panel;

    template <class T = QWidget> T* get(const char* name) { return child<T>(panel.get(), name); }
    bool shown(const char* name) { return get(name)->isVisibleTo(panel.get()); }
    bool invalidShown() { return shown("textInvalidConf"); }
    int choice(const char* box) { return get<QComboBox>(box)->currentIndex(); }
    QVector<int> channels()
    {
        int top = -1, right = -1, bottom = -1, left = -1;
        panel->getChannels(top, right, bottom, left);
        return {top, right, bottom, left};
    }
    // The values of spin boxes, whole-numbered or not.
    QVector<double> values(std::initializer_list<const char*> names)
    {
        QVector<double> out;
        for (const char* name : names) {
            auto* box = get<QAbstractSpinBox>(name);
            auto* real = qobject_cast<QDoubleSpinBox*>(box);
            out << (real ? real->value() : qobject_cast<QSpinBox*>(box)->value());
        }
        return out;
    }
    QVector<double> scalingAndOffsets()
    {
        double sx = 0, sy = 0, ox = 0, oy = 0;
        panel->getScaling(sx, sy);
        panel->getOffsets(ox, oy);
        return {sx, sy, ox, oy};
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
    // and written, and the warning about two electrodes on one input follows
    // the shown set.
    void orientationAndChannels_theShownSetIsReadWrittenAndChecked()
    {
        QVERIFY(panel->isOrientation90() && shown("BPMvisual90") && !shown("BPMvisual45"));
        panel->setChannels(3, 2, 1, 0);
        QCOMPARE(QVector<int>({choice("BPM90_top"), choice("BPM90_left")}), QVector<int>({3, 0}));

        panel->setOrientation(0);
        QVERIFY(!panel->isOrientation90() && shown("BPMvisual45") && !shown("BPMvisual90"));
        // The 45° set still holds its form default (all "Ch 1"), which the
        // warning reports as soon as that set is on show.
        QCOMPARE(channels(), QVector<int>({0, 0, 0, 0}));
        QVERIFY(invalidShown());
        panel->setChannels(1, 2, 3, 0);
        QVERIFY(!invalidShown());
        // The other set untouched.
        QCOMPARE(QVector<int>({choice("BPM45_right"), choice("BPM90_top")}), QVector<int>({2, 3}));

        panel->setOrientation(7); // no such orientation: nothing changes
        QVERIFY(!panel->isOrientation90());
        panel->setOrientation(1);
        panel->setChannels(0, 1, 2, 3);
        QVERIFY(panel->isOrientation90() && !invalidShown());
        get<QComboBox>("BPM90_bottom")->setCurrentIndex(1); // "Ch 2" twice
        QVERIFY(invalidShown());
        get<QComboBox>("BPM90_right")->setCurrentIndex(2);
        QVERIFY(!invalidShown());

        // A channel outside the four inputs (a damaged file) keeps the choice
        // instead of leaving an empty box that would be sent as 255.
        panel->setChannels(9, -1, 1, 3);
        QCOMPARE(channels(), QVector<int>({0, 2, 1, 3}));
    }

    // Loading scale and stored offset fills the encoder fields, and "Set"
    // turns the encoder fields back into the same scale and offset; nothing
    // goes to the controller before the window's Save.
    void encoderConversion_bothWays()
    {
        QVERIFY(theConfig->setOffsetX(1, 1610612.736) && theConfig->setOffsetY(1, 1.5e8));
        panel->setScaling(2147483.648, 1.6e8);
        // The vertical counts come from the offset as its box holds it (1e8
        // at most): 2^31 x (1 - 1e8 / 1.6e8).
        QCOMPARE(values({"horNradCountDoubleSpinBox", "horOffsetCountsSpinBox", "xOffset",
                         "yOffset", "vertOffsetCountsSpinBox"}),
                 QVector<double>({1.0, 536870912, 1610612.736, 1e8, 805306368}));

        get<QDoubleSpinBox>("xGain")->setValue(1.0);
        get<QDoubleSpinBox>("xOffset")->setValue(0.0);
        get<QDoubleSpinBox>("horNradCountDoubleSpinBox")->setValue(1.0);
        get<QSpinBox>("horOffsetCountsSpinBox")->setValue(536870912);
        get<QDoubleSpinBox>("vertNradCountDoubleSpinBox")->setValue(0.5);
        get<QSpinBox>("vertOffsetCountsSpinBox")->setValue(0);
        get<QPushButton>("encoderSetButton")->click();
        // Count 0: offset = scale.
        QCOMPARE(scalingAndOffsets(),
                 QVector<double>({2147483.648, 1073741.824, 1610612.736, 1073741.824}));
        QCOMPARE(int(f.driver.transfers().size()), 0);
    }

    // A scale of 0 and offsets far outside the count range neither divide by
    // zero nor overflow the conversion to int: the counts stay in the box;
    // "Set" from a zero nrad/count gives a zero scale and offset, never NaN.
    void encoderConversion_zeroScaleAndHugeCountsStayInRange()
    {
        const double rows[][3] = {// scale, offset, counts
                                  {0.0, 5.0, 999999999},
                                  {0.001, -1e4, 999999999},
                                  {1.0, 1e8, 0},
                                  {4.0, 3.0, 536870912}};
        for (const auto& [scale, offset, counts] : rows) {
            QVERIFY(theConfig->setOffsetX(1, offset) && theConfig->setOffsetY(1, offset));
            panel->setScaling(scale, scale);
            QCOMPARE(QVector<double>({scale, offset}) +
                         values({"horOffsetCountsSpinBox", "vertOffsetCountsSpinBox"}),
                     QVector<double>({scale, offset, counts, counts}));
            get<QDoubleSpinBox>("horNradCountDoubleSpinBox")->setValue(0.0);
            get<QPushButton>("encoderSetButton")->click();
            QCOMPARE(scalingAndOffsets().at(2), 0.0);
        }
    }

    // The offset rows only for controllers that take offsets (1.0.03 on).
    void offsetRows_followControllerVersion()
    {
        QString shownAt;
        for (const char* version : {"1.0.02", "1.0.03", "1.1", ""}) {
            controllerVersions.swVersion = version;
            panel->updateOffsetVisibility();
            for (const char* name : {"labelOffsetX", "xOffset", "labelOffsetY", "yOffset"})
                shownAt += shown(name) ? '1' : '0';
            shownAt += ' ';
        }
        QCOMPARE(shownAt, QStringLiteral("0000 1111 1111 0000 "));
    }

    // Each state its text, other values none; volts and microamperes.
    void hvReadback_statusTextsAndFormats()
    {
        QStringList shown;
        for (int state : {0, 1, 2, 3, 4, 5, 15}) {
            get<QLabel>("statusLabel")->setText(QStringLiteral("stale"));
            panel->setHVstatus(state, 12.345f, 0.5f);
            shown << get<QLabel>("statusLabel")->text();
        }
        QCOMPARE(shown.join('|'), QStringLiteral("HV OFF|HV ON||HV rising||HV falling|"));
        QCOMPARE(get<QLineEdit>("voltageReadoutLineEdit")->text() + " " +
                     get<QLineEdit>("currentReadoutLineEdit")->text(),
                 QStringLiteral("12.35V 0.50uA"));
    }

    // The enable button alternates on/off for this panel's picoammeter,
    // whatever the readback says; "Set HV" sends the bias in single precision.
    void hvButtons_sendAtOnce()
    {
        panel->setHVstatus(1, 500.0f, 0.1f); // the readback has no say
        get<QPushButton>("enableHVbutton")->click();
        get<QPushButton>("enableHVbutton")->click();
        get<QDoubleSpinBox>("biasVoltageDoubleSpinBox")->setValue(250.5);
        get<QPushButton>("setHVbutton")->click();
        QCOMPARE(hexOf(f.driver.transfers()), goldenHex({"00010004 01000000 01", // on, index 1
                                                         "00010004 01000000 00", // off
                                                         "00020004 01000000 00807a43"}));
    }
};

QTEST_MAIN(TestBpm)
#include "tst_bpm.moc"
