// The feedback panel over a scripted controller: the regulation mode that
// the check boxes send and show, setpoints converted by the scale of the BPM
// that feeds each loop, the lamp per feedback state, user-level gating, the
// statistics formats, the I0 entry and slider, and the panel inside the main
// window.

#include "app/initresources.h"
#include "app/mainwindow.h"
#include "control/qled.h"
#include "control/slider.h"
#include "control/widgetfeedbackcontrol.h"
#include "plots/widgetgraphxy.h"
#include "support/programfixture.h"
#include "support/widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QToolBox>
#include <QtTest>

#include <array>
#include <memory>

using namespace zevo;

class TestWidgetFeedbackControl : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ProgramFixture> m_program;
    ScriptedController* c = nullptr; // what the controller reports

    // Lets the poll read the controller, as the worker thread does each second.
    void poll() { m_program->mailbox->refreshData(); }

    std::vector<MailboxMessage> sent(uint32_t command) const { return m_program->sent(command); }

private slots:
    void initTestCase() { initResources(); }

    void init()
    {
        userLevel = 2;
        pidSourceX = pidSourceY = pidSourceI0 = 0;
        bpmScale = BpmScaleFactors{};
        m_program = std::make_unique<ProgramFixture>();
        c = &m_program->controller;
        c->plug({0x2101, 0x2101, 0x2200, 0});
        m_program->setUp(); // opens the mailbox and scans the slots
    }

    void cleanup()
    {
        m_program->tearDown();
        m_program.reset();
        bpmScale = BpmScaleFactors{};
        pidSourceX = pidSourceY = pidSourceI0 = 0;
        userLevel = 0;
    }

    // Loops the panel shows as regulating: boxes checked ("X", "Y", "I"),
    // and "!" for any setpoint field whose enabled state disagrees.
    static QString shownLoops(QWidget& panel)
    {
        QString loops;
        const char* boxes[] = {"confXcheckbox", "confYcheckbox", "confI0checkbox"};
        const char* fields[] = {"posXDoubleSpinBox", "posYDoubleSpinBox", "i0DoubleSpinBox"};
        for (int k = 0; k < 3; ++k) {
            const bool checked = child<QCheckBox>(panel, boxes[k])->isChecked();
            if (checked)
                loops += QLatin1Char("XYI"[k]);
            if (child<QWidget>(panel, fields[k])->isEnabled() != checked)
                loops += QLatin1Char('!');
        }
        return loops;
    }

    // Every combination of the three boxes sends its mode, and the panel then
    // shows that mode: its loops' boxes checked, their setpoint fields enabled.
    void regulationBoxes_sendModeAndShowIt_data()
    {
        QTest::addColumn<QString>("checked");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("shown");
        QTest::newRow("none") << "" << 0 << "X";
        QTest::newRow("X") << "X" << 0 << "X";
        QTest::newRow("Y") << "Y" << 3 << "Y";
        QTest::newRow("X Y") << "XY" << 1 << "XY";
        QTest::newRow("I0") << "I" << 6 << "I";
        QTest::newRow("X I0") << "XI" << 2 << "XI";
        QTest::newRow("Y I0") << "YI" << 4 << "YI";
        QTest::newRow("X Y I0") << "XYI" << 5 << "XYI";
    }
    void regulationBoxes_sendModeAndShowIt()
    {
        QFETCH(QString, checked);
        QFETCH(int, mode);
        QFETCH(QString, shown);
        WidgetFeedbackControl panel;
        // Start from another mode, as the controller reported it.
        panel.confChanged(mode == MODE_XY_I0 ? MODE_X : MODE_XY_I0);
        child<QCheckBox>(panel, "confXcheckbox")->setChecked(checked.contains('X'));
        child<QCheckBox>(panel, "confYcheckbox")->setChecked(checked.contains('Y'));
        child<QCheckBox>(panel, "confI0checkbox")->setChecked(checked.contains('I'));
        QSignalSpy changed(&panel, &WidgetFeedbackControl::somethingChanged);
        m_program->driver.clearCalls();

        click(&panel, "updateConfButton");
        const auto modes = sent(cmd::SetRegulationMode);
        QCOMPARE(modes.size(), std::size_t(1));
        QCOMPARE(int(modes[0].u8(4)), mode);
        QVERIFY(!changed.isEmpty());
        QCOMPARE(shownLoops(panel), shown);
    }

    // A mode the panel does not know changes nothing but still tells the plots.
    void unknownMode_changesNothingButIsAnnounced()
    {
        WidgetFeedbackControl panel;
        panel.confChanged(MODE_Y_I0);
        QSignalSpy changed(&panel, &WidgetFeedbackControl::somethingChanged);
        panel.confChanged(7);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(shownLoops(panel), QStringLiteral("YI"));
    }

    // Positions go out in raw units of the BPM feeding each loop, the
    // intensity in amperes of the selected unit.
    void setpoints_convertedBySourceScaleAndUnit()
    {
        pidSourceX = 1;
        pidSourceY = 0;
        bpmScale.set(0, 2.0, 0.5);
        bpmScale.set(1, 4.0, 8.0);
        WidgetFeedbackControl panel;
        child<QDoubleSpinBox>(panel, "posXDoubleSpinBox")->setValue(100.0);
        child<QDoubleSpinBox>(panel, "posYDoubleSpinBox")->setValue(10.0);
        child<QDoubleSpinBox>(panel, "i0DoubleSpinBox")->setValue(250.0);
        QCOMPARE(child<QComboBox>(panel, "i0UnitSelector")->currentText(), QStringLiteral("nA"));
        QSignalSpy changed(&panel, &WidgetFeedbackControl::somethingChanged);
        m_program->driver.clearCalls();

        click(&panel, "buttonUpdate");
        auto setpoints = sent(cmd::SetSetpoint);
        QCOMPARE(setpoints.size(), std::size_t(3));
        QCOMPARE(setpoints[0].f64(8), 25.0); // 100 um / BPM 2's X scale
        QCOMPARE(setpoints[1].f64(8), 20.0); // 10 um / BPM 1's Y scale
        QCOMPARE(setpoints[2].f64(8), 2.5e-7);
        QCOMPARE(changed.size(), 1);

        child<QComboBox>(panel, "i0UnitSelector")->setCurrentText(QStringLiteral("uA"));
        child<QDoubleSpinBox>(panel, "i0DoubleSpinBox")->setValue(2.5);
        m_program->driver.clearCalls();
        click(&panel, "buttonUpdate");
        QCOMPARE(sent(cmd::SetSetpoint).at(2).f64(8), 2.5e-6);

        // A BPM without a scale factor takes raw units instead of infinity.
        bpmScale.set(1, 0.0, 8.0);
        m_program->driver.clearCalls();
        click(&panel, "buttonUpdate");
        QCOMPARE(sent(cmd::SetSetpoint)[0].f64(8), 100.0);
        c->setpoints[0] = 60.0; // and reads back the same way
        panel.updateXYfields();
        QCOMPARE(child<QDoubleSpinBox>(panel, "posXDoubleSpinBox")->value(), 60.0);
    }

    // Read back, the setpoints show as entered: micrometres of the source
    // BPM, and the I0 exactly, not rounded to one of the slider's steps.
    void setpointsReadBack_showInEntryUnits()
    {
        pidSourceX = 1;
        bpmScale.set(0, 2.0, 0.5);
        bpmScale.set(1, 4.0, 8.0);
        c->setpoints[0] = 25.0;
        c->setpoints[1] = 20.0;
        c->setpoints[2] = 52.345e-6;
        WidgetFeedbackControl panel;
        panel.findChild<Slider*>("i0slider")->setValue(7.7e-5f); // scale 0 .. 1e-4

        panel.updateXYfields();
        QCOMPARE(child<QDoubleSpinBox>(panel, "posXDoubleSpinBox")->value(), 100.0);
        QCOMPARE(child<QDoubleSpinBox>(panel, "posYDoubleSpinBox")->value(), 10.0);
        QCOMPARE(child<QDoubleSpinBox>(panel, "i0DoubleSpinBox")->value(), 52345.0);
        QCOMPARE(panel.findChild<QSlider*>()->value(), 52);

        // Sending the other setpoints leaves the controller's I0 as it was.
        m_program->driver.clearCalls();
        click(&panel, "buttonUpdate");
        QCOMPARE(sent(cmd::SetSetpoint)[2].f64(8), 52.345e-6);

        // A read that fails leaves the fields alone.
        c->setpoints[0] = 1.0;
        m_program->driver.failTransfer(1);
        panel.updateXYfields();
        QCOMPARE(child<QDoubleSpinBox>(panel, "posXDoubleSpinBox")->value(), 100.0);
    }

    // Typing moves the handle; dragging the handle fills the entry; the bar
    // shows the measured intensity.
    void i0EntryAndSlider_followEachOther()
    {
        WidgetFeedbackControl panel;
        auto* slider = panel.findChild<Slider*>("i0slider");
        auto* handle = slider->findChild<QSlider*>();
        auto* entry = child<QDoubleSpinBox>(panel, "i0DoubleSpinBox");
        QCOMPARE(slider->scaleMaximum(), 1.0f); // no intensity measured yet

        entry->setValue(31234.0); // nA: at the very left of 0 .. 1 A
        QCOMPARE(handle->value(), 0);

        // The first measured intensity rescales; the handle moves with the
        // scale to keep showing the entry, and the entry stays as typed.
        MailboxStatusBlock block{};
        block.bpm[0].i0Mean = 7.7e-5;
        block.bpm[1].i0Mean = 3.7e-7;
        m_program->driver.setStatusBlock(block);
        poll();
        panel.refreshFields();
        QCOMPARE(slider->scaleMaximum(), 1e-4f);
        QCOMPARE(handle->value(), 31);
        QCOMPARE(entry->value(), 31234.0);

        entry->setValue(45678.0); // typing moves the handle
        QCOMPARE(handle->value(), 45);
        QCOMPARE(entry->value(), 45678.0);

        handle->setValue(64); // the operator drags
        QCOMPARE(entry->value(), 64000.0);
        QCOMPARE(handle->value(), 64);

        child<QComboBox>(panel, "i0UnitSelector")->setCurrentText(QStringLiteral("uA"));
        handle->setValue(20);
        QCOMPARE(entry->value(), 20.0);
        QVERIFY(sent(cmd::SetSetpoint).empty()); // nothing goes out before "Update Setpoint"

        // The bar shows the intensity of the BPM that feeds the I0 loop.
        pidSourceI0 = 1;
        panel.refreshFields();
        QCOMPARE(slider->scaleMaximum(), 1e-6f);
        QCOMPARE(slider->findChild<QProgressBar*>()->value(), 37);
    }

    void heartbeat_lampAndTextPerState_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("colour");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("button");
        QTest::newRow("off") << 0 << int(QLed::Grey) << "Feedback OFF"
                             << "Enable Feedback";
        QTest::newRow("fault") << 1 << int(QLed::Red) << "FAULT: Out of ROC"
                               << "Disable Feedback";
        QTest::newRow("beam off") << 2 << int(QLed::Purple) << "Beam OFF"
                                  << "Disable Feedback";
        QTest::newRow("on") << 3 << int(QLed::Green) << "Feedback ON"
                            << "Disable Feedback";
    }
    void heartbeat_lampAndTextPerState()
    {
        QFETCH(int, state);
        QFETCH(int, colour);
        QFETCH(QString, text);
        QFETCH(QString, button);
        WidgetFeedbackControl panel;
        auto* led = panel.findChild<QLed*>("heartbeatLed");
        QCOMPARE(led->shape(), QLed::Rounded);
        // Start from another state so that each row shows a change.
        c->pidStatus = uint8_t((state + 1) % 4);
        poll();
        panel.refreshFields();

        c->pidStatus = uint8_t(state);
        poll();
        // The panel's own 770 ms refresh picks it up.
        QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(panel, "heartbeatLabel")->text(), text, 2000);
        QCOMPARE(int(led->offColor()), colour);
        QVERIFY(!led->value()); // the lamp shows its state by its off-colour
        QCOMPARE(child<QPushButton>(panel, "buttonFdbk")->text(), button);

        // A state the panel does not know leaves lamp and text alone.
        panel.updateHeartbeat(PID_Status_Type(7));
        QCOMPARE(child<QLabel>(panel, "heartbeatLabel")->text(), text);
        QCOMPARE(int(led->offColor()), colour);
    }

    // Each click asks for the other state; the text follows the controller.
    void feedbackButton_sendsRequestsTextFollowsController()
    {
        WidgetFeedbackControl panel;
        auto* button = child<QPushButton>(panel, "buttonFdbk");
        QVERIFY(button->isCheckable());
        QCOMPARE(button->text(), QStringLiteral("Enable Feedback"));

        click(&panel, "buttonFdbk");
        click(&panel, "buttonFdbk");
        const auto requests = sent(cmd::SetFeedbackEnabled);
        QCOMPARE(requests.size(), std::size_t(2));
        QCOMPARE(int(requests[0].u8(4)), 1);
        QCOMPARE(int(requests[1].u8(4)), 0);

        click(&panel, "buttonFdbk"); // asks for on, but the controller stays off
        panel.refreshFields();
        QVERIFY(button->isChecked());
        QCOMPARE(button->text(), QStringLiteral("Enable Feedback"));

        click(&panel, "resetPIDbutton");
        QCOMPARE(sent(cmd::ResetPidController).size(), std::size_t(1));
    }

    void userLevel_gatesTheWholePanel()
    {
        WidgetFeedbackControl panel;
        auto enabledAt = [&](int level) {
            userLevel = level;
            panel.checkUserLevel();
            return child<QPushButton>(panel, "buttonFdbk")->isEnabled();
        };
        QVERIFY(!enabledAt(0));
        for (const char* name : {"resetPIDbutton", "updateConfButton", "buttonUpdate",
                                 "confXcheckbox", "i0UnitSelector", "toolBox"})
            QVERIFY2(!child<QWidget>(panel, name)->isEnabled(), name);
        click(&panel, "buttonFdbk");
        QVERIFY(sent(cmd::SetFeedbackEnabled).empty());
        QVERIFY(!enabledAt(7)); // no level: left as it is
        QVERIFY(enabledAt(1));
        QVERIFY(enabledAt(7));
        QVERIFY(enabledAt(2));

        userLevel = 0; // a panel built at level 0 starts disabled
        QVERIFY(!WidgetFeedbackControl().isEnabled());
    }

    void statistics_formatsPerField()
    {
        MailboxStatusBlock block{};
        block.bpm[0] = {0.0123456,  0.000123,    0.0000456,   -0.0345678, 0.0012345,
                        0.00000789, 7.712345e-5, 1.234567e-8, 2.345678e-9};
        block.bpm[1] = {0.5, 0.25, 0.125, 10.0, 0.3, 0.04, 4e-5, 5.5e-9, 1.2345678e-9};
        m_program->driver.setStatusBlock(block);
        bpmScale.set(0, 2.0, 3.0);
        bpmScale.set(1, 10.0, 0.5);
        poll();
        WidgetFeedbackControl panel; // refreshes once at construction

        const std::pair<const char*, const char*> expected[] = {
            {"posXMeanLineEdit", "0.025 um"},         {"posXStdLineEdit", "0.000246 um"},
            {"posXStdFiltLineEdit", "0.000091 um"},   {"posYMeanLineEdit", "-0.10370 um"},
            {"posYStdLineEdit", "0.00370 um"},        {"posYStdFiltLineEdit", "0.000024 um"},
            {"i0MeanLineEdit", "7.712e-05 A"},        {"i0StdLineEdit", "1.235e-08 A"},
            {"i0StdFiltLineEdit", "2.346e-09 A"},     {"posXMeanLineEdit_2", "5.000 um"},
            {"posXStdLineEdit_2", "2.500000 um"},     {"posXStdFiltLineEdit_2", "1.250000 um"},
            {"posYMeanLineEdit_2", "5.00000 um"},     {"posYStdLineEdit_2", "0.15000 um"},
            {"posYStdFiltLineEdit_2", "0.020000 um"}, {"i0MeanLineEdit_2", "4e-05 A"},
            {"i0StdLineEdit_2", "5.5e-09 A"},         {"i0StdFiltLineEdit_2", "1.23457e-09 A"},
        };
        for (const auto& [name, text] : expected) {
            auto* field = child<QLineEdit>(panel, name);
            QVERIFY2(!field->isEnabled(), name);
            QCOMPARE(field->text(), QString::fromLatin1(text));
        }
        QCOMPARE(child<QToolBox>(panel, "toolBox")->currentIndex(), 0);
        QCOMPARE(child<QToolBox>(panel, "toolBox")->itemText(1), QStringLiteral("Control"));
    }

    // With one picoammeter the second grid is hidden and left alone.
    void oneDevice_secondBpmHiddenAndNotUpdated()
    {
        c->plug({0x2101, 0, 0x2200, 0});
        poll();
        QCOMPARE(m_program->mailbox->deviceCount(), 1);
        MailboxStatusBlock block{};
        block.bpm[0].xMean = 0.01;
        block.bpm[1].xMean = 0.02;
        m_program->driver.setStatusBlock(block);
        poll();

        WidgetFeedbackControl panel;
        panel.nr_dorvishs_changed(1);
        QVERIFY(child<QWidget>(panel, "bpm2Table")->isHidden());
        QVERIFY(child<QWidget>(panel, "BPM2label")->isHidden());
        QCOMPARE(child<QLineEdit>(panel, "posXMeanLineEdit")->text(), QStringLiteral("0.010 um"));
        QCOMPARE(child<QLineEdit>(panel, "posXMeanLineEdit_2")->text(), QString());

        panel.nr_dorvishs_changed(2);
        QVERIFY(!child<QWidget>(panel, "bpm2Table")->isHidden());
        QVERIFY(!child<QWidget>(panel, "BPM2label")->isHidden());
    }

    // An encoder interface: no intensities, no filtered deviations, no
    // second BPM, even when the device count says two.
    void encoderInterface_hidesIntensityAndSecondBpm()
    {
        c->plug({0x2101, 0x2300, 0x2200, 0});
        poll();
        QVERIFY(m_program->mailbox->pavunPresent());
        WidgetFeedbackControl panel;
        for (const char* name :
             {"bpm2Table", "BPM2label", "i0MeanLineEdit", "i0StdLineEdit", "i0StdFiltLineEdit",
              "posXStdFiltLineEdit", "posYStdFiltLineEdit", "i0RowLabel", "at1000HzLabel",
              "confI0checkbox", "i0Label", "i0DoubleSpinBox", "i0UnitSelector", "i0slider"})
            QVERIFY2(child<QWidget>(panel, name)->isHidden(), name);
        QVERIFY(!child<QWidget>(panel, "posXMeanLineEdit")->isHidden());

        panel.nr_dorvishs_changed(2);
        QVERIFY(child<QWidget>(panel, "bpm2Table")->isHidden());
        QVERIFY(child<QWidget>(panel, "BPM2label")->isHidden());
    }

    // In the main window: docked, started from the controller's mode,
    // setpoints and state, and wired to the XY plots both ways.
    void mainWindow_startsPanelFromControllerAndWiresPlots()
    {
        c->regulationMode = MODE_Y_I0;
        c->pidStatus = PID_STATUS_BEAM_OFF;
        c->setpoints[0] = 0.25;
        c->setpoints[1] = -0.5;
        c->setpoints[2] = 6e-5;
        bpmScale.set(0, 1000.0, 1000.0);
        poll();
        MainWindow window;
        auto* panel = window.findChild<WidgetFeedbackControl*>();
        QVERIFY(panel);
        QCOMPARE(window.findChild<QDockWidget*>("dockFBctrl")->widget(), panel);

        QVERIFY(!child<QCheckBox>(*panel, "confXcheckbox")->isChecked());
        QVERIFY(child<QCheckBox>(*panel, "confYcheckbox")->isChecked());
        QVERIFY(child<QCheckBox>(*panel, "confI0checkbox")->isChecked());
        QCOMPARE(child<QDoubleSpinBox>(*panel, "posXDoubleSpinBox")->value(), 250.0);
        QCOMPARE(child<QDoubleSpinBox>(*panel, "posYDoubleSpinBox")->value(), -500.0);
        QCOMPARE(child<QDoubleSpinBox>(*panel, "i0DoubleSpinBox")->value(), 60000.0);
        QCOMPARE(child<QLabel>(*panel, "heartbeatLabel")->text(), QStringLiteral("Beam OFF"));
        QCOMPARE(panel->findChild<QLed*>()->offColor(), QLed::Purple);
        // Mode 4 regulates Y from BPM 1: its plot draws the setpoint line.
        QCPGraph* setpoint = window.graphXY(0)->findChild<QCustomPlot*>()->graph(1);
        QCOMPARE(setpoint->data()->size(), 2);

        // The panel's changes reach both plots...
        c->regulationMode = MODE_XY_I0; // nothing is drawn in mode 5
        emit panel->somethingChanged();
        QCOMPARE(setpoint->data()->size(), 0);

        // ...and a setpoint clicked into a plot reaches the panel.
        c->setpoints[1] = 0.125;
        emit window.graphXY(1)->XYchanged();
        QCOMPARE(child<QDoubleSpinBox>(*panel, "posYDoubleSpinBox")->value(), 125.0);

        // The device count reaches the panel.
        m_program->mailbox->announceDeviceCount();
        QVERIFY(!child<QWidget>(*panel, "bpm2Table")->isHidden());
        c->plug({0x2101, 0, 0x2200, 0});
        poll();
        QVERIFY(child<QWidget>(*panel, "bpm2Table")->isHidden());
    }
};

QTEST_MAIN(TestWidgetFeedbackControl)
#include "tst_widgetfeedbackcontrol.moc"
