// The feedback panel over a scripted controller: the regulation mode that
// the check boxes send and show, setpoints converted by the scale of the BPM
// that feeds each loop, the lamp per feedback state, the statistics, the I0
// entry and slider, and the panel inside the main window; the lamp's pictures
// and the I0 slider's decade scale, bar and handle on their own. (Gating by user
// level: tst_windowpidparams; what follows the devices plugged in:
// tst_windowbeamlineconf.)

#include "app/initresources.h"
#include "app/mainwindow.h"
#include "control/qled.h"
#include "control/slider.h"
#include "control/widgetfeedbackcontrol.h"
#include "plots/widgetgraphxy.h"
#include "support/bytes.h"
#include "support/programfixture.h"
#include "support/widgets.h"

#include <QtWidgets>

#include <limits>

using namespace zevo;

namespace
{
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

QStringList scaleTexts(const Slider& slider)
{
    QStringList texts;
    for (const QLabel* label : slider.findChildren<QLabel*>())
        texts << label->text();
    return texts;
}

int barOf(const Slider& slider)
{
    return slider.findChild<QProgressBar*>()->value();
}

QDoubleSpinBox* field(QWidget& panel, const char* name)
{
    return child<QDoubleSpinBox>(panel, name);
}

// Loops the panel shows as regulating: boxes checked ("X", "Y", "I"), and
// "!" for any setpoint field whose enabled state disagrees.
QString shownLoops(QWidget& panel)
{
    QString loops;
    const char* boxes[] = {"confXcheckbox", "confYcheckbox", "confI0checkbox"};
    const char* fields[] = {"posXDoubleSpinBox", "posYDoubleSpinBox", "i0DoubleSpinBox"};
    for (int k = 0; k < 3; ++k) {
        const bool checked = child<QCheckBox>(panel, boxes[k])->isChecked();
        if (checked)
            loops += QLatin1Char("XYI"[k]);
        if (child(panel, fields[k])->isEnabled() != checked)
            loops += QLatin1Char('!');
    }
    return loops;
}
} // namespace

class TestWidgetFeedbackControl : public QObject
{
    Q_OBJECT

    std::unique_ptr<ProgramFixture> m_program;
    ScriptedController* c = nullptr; // what the controller reports

    // Lets the poll read the controller, as the worker thread does each second.
    void poll() { m_program->mailbox->refreshData(); }
    std::vector<MailboxMessage> sent(uint32_t command) const { return m_program->sent(command); }
    // The X, Y and I0 setpoint entries.
    static QString entries(QWidget& panel)
    {
        return QString("%1 %2 %3")
            .arg(field(panel, "posXDoubleSpinBox")->value())
            .arg(field(panel, "posYDoubleSpinBox")->value())
            .arg(field(panel, "i0DoubleSpinBox")->value());
    }
    // "Update Setpoint": the X, Y and I0 setpoints sent, to 12 digits.
    QStringList update(QWidget& panel)
    {
        m_program->driver.clearCalls();
        click(&panel, "buttonUpdate");
        QStringList values;
        for (const MailboxMessage& m : sent(cmd::SetSetpoint))
            values << QString::number(m.f64(8), 'g', 12);
        return values;
    }

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

    // Every combination of the three boxes sends its mode, and the panel then
    // shows that mode: its loops' boxes checked, their setpoint fields enabled.
    void regulationBoxes_sendModeAndShowIt()
    {
        const std::pair<const char*, int> rows[] = {{"", 0},  {"X", 0},  {"Y", 3},  {"XY", 1},
                                                    {"I", 6}, {"XI", 2}, {"YI", 4}, {"XYI", 5}};
        for (const auto& [boxes, mode] : rows) {
            const QString checked = boxes;
            const QString shown = checked.isEmpty() ? QStringLiteral("X") : checked;
            WidgetFeedbackControl panel;
            // Start from another mode, as the controller reported it.
            panel.confChanged(mode == MODE_XY_I0 ? MODE_X : MODE_XY_I0);
            child<QCheckBox>(panel, "confXcheckbox")->setChecked(checked.contains('X'));
            child<QCheckBox>(panel, "confYcheckbox")->setChecked(checked.contains('Y'));
            child<QCheckBox>(panel, "confI0checkbox")->setChecked(checked.contains('I'));
            QSignalSpy changed(&panel, &WidgetFeedbackControl::somethingChanged);
            m_program->driver.clearCalls();
            click(&panel, "updateConfButton");
            QStringList modes = {checked};
            for (const MailboxMessage& m : sent(cmd::SetRegulationMode))
                modes << QString::number(m.u8(4));
            QCOMPARE(modes, (QStringList{checked, QString::number(mode)}));
            QVERIFY(!changed.isEmpty());
            // A mode the panel does not know changes nothing.
            panel.confChanged(7);
            QCOMPARE(shownLoops(panel), shown);
        }
    }

    // Read back, the setpoints show as entered: micrometres of the source
    // BPM, and the I0 exactly, not rounded to one of the slider's steps,
    // which sending the other setpoints leaves as it was; a read that fails
    // leaves the fields alone. Positions go out in raw units of the BPM
    // feeding each loop, the intensity in amperes of the selected unit; a BPM
    // without a scale factor takes raw units instead of infinity, both ways.
    void setpoints_inRawUnitsOfTheSourceBpm_bothWays()
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
        QCOMPARE(entries(panel), QStringLiteral("100 10 52345"));
        QCOMPARE(panel.findChild<QSlider*>()->value(), 52);
        QCOMPARE(update(panel), (QStringList{"25", "20", "5.2345e-05"}));
        c->setpoints[0] = 1.0;
        m_program->driver.failTransfer(1);
        panel.updateXYfields();
        QCOMPARE(entries(panel), QStringLiteral("100 10 52345"));

        field(panel, "i0DoubleSpinBox")->setValue(250.0); // nA, as the panel starts
        QSignalSpy changed(&panel, &WidgetFeedbackControl::somethingChanged);
        QCOMPARE(update(panel), (QStringList{"25", "20", "2.5e-07"}));
        QCOMPARE(changed.size(), 1);
        child<QComboBox>(panel, "i0UnitSelector")->setCurrentText(QStringLiteral("uA"));
        field(panel, "i0DoubleSpinBox")->setValue(2.5);
        QCOMPARE(update(panel).at(2), QStringLiteral("2.5e-06"));
        bpmScale.set(1, 0.0, 8.0);
        QCOMPARE(update(panel).at(0), QStringLiteral("100"));
        c->setpoints[0] = 60.0;
        panel.updateXYfields();
        QCOMPARE(field(panel, "posXDoubleSpinBox")->value(), 60.0);
    }

    // Typing moves the handle; dragging the handle fills the entry; the bar
    // shows the measured intensity of the BPM that feeds the I0 loop.
    void i0EntryAndSlider_followEachOther()
    {
        WidgetFeedbackControl panel;
        auto* slider = panel.findChild<Slider*>("i0slider");
        auto* handle = slider->findChild<QSlider*>();
        auto* entry = field(panel, "i0DoubleSpinBox");
        entry->setValue(31234.0); // nA: at the very left of 0 .. 1 A
        // The first measured intensity rescales; the handle moves with the
        // scale to keep showing the entry, and the entry stays as typed.
        MailboxStatusBlock block{};
        block.bpm[0].i0Mean = 7.7e-5;
        block.bpm[1].i0Mean = 3.7e-7;
        m_program->driver.setStatusBlock(block);
        poll();
        panel.refreshFields();
        // The entry, and where the handle stands.
        auto shown = [&] { return QString("%1 at %2").arg(entry->value()).arg(handle->value()); };
        QCOMPARE(slider->scaleMaximum(), 1e-4f);
        QCOMPARE(shown(), QStringLiteral("31234 at 31"));
        entry->setValue(45678.0);
        QCOMPARE(shown(), QStringLiteral("45678 at 45"));
        handle->setValue(64); // the operator drags
        QCOMPARE(shown(), QStringLiteral("64000 at 64"));
        QVERIFY(sent(cmd::SetSetpoint).empty()); // nothing goes out before "Update Setpoint"

        pidSourceI0 = 1;
        panel.refreshFields();
        QCOMPARE(slider->scaleMaximum(), 1e-6f);
        QCOMPARE(slider->findChild<QProgressBar*>()->value(), 37);
    }

    // The panel's own 770 ms refresh shows the controller's state: the lamp
    // by its off-colour, never lit, and the state's text; a state it does
    // not know leaves lamp and text alone.
    void heartbeat_lampAndTextPerState_buttonAsksForTheOtherState()
    {
        WidgetFeedbackControl panel;
        auto* led = panel.findChild<QLed*>("heartbeatLed");
        auto* label = child<QLabel>(panel, "heartbeatLabel");
        c->pidStatus = PID_STATUS_FAULT_ROC;
        poll();
        QTRY_COMPARE_WITH_TIMEOUT(led->offColor(), QLed::Red, 2000);
        QStringList shown = {label->text()};
        for (int state : {0, 2, 3, 7}) {
            panel.updateHeartbeat(PID_Status_Type(state));
            shown << QString("%1 %2").arg(led->offColor()).arg(label->text());
        }
        const auto row = [](QLed::ledColor colour, const char* text) {
            return QString("%1 %2").arg(colour).arg(text);
        };
        QCOMPARE(shown, (QStringList{"FAULT: Out of ROC", row(QLed::Grey, "Feedback OFF"),
                                     row(QLed::Purple, "Beam OFF"), row(QLed::Green, "Feedback ON"),
                                     row(QLed::Green, "Feedback ON")}));
        QVERIFY(!led->value());

        // Each click asks for the other state; the text follows the controller.
        c->pidStatus = PID_STATUS_OFF;
        poll();
        auto* button = child<QPushButton>(panel, "buttonFdbk");
        m_program->driver.clearCalls();
        click(&panel, "buttonFdbk");
        click(&panel, "buttonFdbk");
        click(&panel, "buttonFdbk"); // asks for on, but the controller stays off
        click(&panel, "resetPIDbutton");
        QCOMPARE(hexOf(m_program->driver.transfers()),
                 goldenHex({"00050001 01", "00050001 00", "00050001 01", "00090002"}));
        panel.refreshFields();
        QVERIFY(button->isChecked());
        QCOMPARE(button->text(), QStringLiteral("Enable Feedback"));
        userLevel = 0; // a panel built at level 0 starts disabled
        QVERIFY(!WidgetFeedbackControl().isEnabled());
    }

    // Each BPM's statistics in micrometres by its own scale factors, X by
    // the X factor and Y by the Y factor; intensities in amperes.
    void statistics_inUnitsOfEachBpm()
    {
        MailboxStatusBlock block{};
        block.bpm[0] = {0.0123456, 0, 0, -0.0345678, 0, 0, 7.712345e-5, 0, 0};
        block.bpm[1] = {0.5, 0, 0.125, 10.0, 0.3, 0, 0, 0, 1.2345678e-9};
        m_program->driver.setStatusBlock(block);
        bpmScale.set(0, 2.0, 3.0);
        bpmScale.set(1, 10.0, 0.5);
        poll();
        WidgetFeedbackControl panel; // refreshes once at construction
        QStringList shown;
        for (const char* name : {"posXMeanLineEdit", "posYMeanLineEdit", "i0MeanLineEdit",
                                 "posXMeanLineEdit_2", "posXStdFiltLineEdit_2",
                                 "posYMeanLineEdit_2", "posYStdLineEdit_2", "i0StdFiltLineEdit_2"})
            shown << child<QLineEdit>(panel, name)->text();
        QCOMPARE(shown.join(" | "), QStringLiteral("0.025 um | -0.10370 um | 7.712e-05 A | 5.000 um"
                                                   " | 1.250000 um | 5.00000 um | 0.15000 um"
                                                   " | 1.23457e-09 A"));
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
        QCOMPARE(shownLoops(*panel) + " " + entries(*panel) + " " +
                     child<QLabel>(*panel, "heartbeatLabel")->text() + ", " +
                     child<QPushButton>(*panel, "buttonFdbk")->text(),
                 QStringLiteral("YI 250 -500 60000 Beam OFF, Disable Feedback"));
        // Mode 4 regulates Y from BPM 1: its plot draws the setpoint line;
        // nothing is drawn in mode 5.
        QCPGraph* setpoint = window.graphXY(0)->findChild<QCustomPlot*>()->graph(1);
        QCOMPARE(setpoint->data()->size(), 2);
        c->regulationMode = MODE_XY_I0;
        emit panel->somethingChanged();
        QCOMPARE(setpoint->data()->size(), 0);
        // A setpoint clicked into a plot reaches the panel.
        c->setpoints[1] = 0.125;
        emit window.graphXY(1)->XYchanged();
        QCOMPARE(field(*panel, "posYDoubleSpinBox")->value(), 125.0);
    }

    // The lamp shows the picture of its shape and its present colour; only
    // the rounded lamps have pictures (the others draw nothing); Designer
    // forms set it up by name.
    void led_showsThePictureOfItsState()
    {
        QLed led;
        QStringList paths;
        led.setOffColor(QLed::Purple);
        paths << led.picturePath();
        led.setShape(QLed::Rounded);
        led.setOnColor(QLed::Green);
        for (int i = 0; i < 3; ++i, led.toggleValue())
            paths << led.picturePath();
        QCOMPARE(paths,
                 (QStringList{":/resources/circle_purple.svg", ":/resources/round_purple.svg",
                              ":/resources/round_green.svg", ":/resources/round_purple.svg"}));
        QVERIFY(QFile::exists(paths[1]) && QFile::exists(paths[2]) && !QFile::exists(paths[0]));
        QLed named;
        QVERIFY(named.setProperty("shape", QStringLiteral("Rounded")) &&
                named.setProperty("onColor", QStringLiteral("Yellow")) &&
                named.setProperty("value", true));
        QCOMPARE(named.picturePath(), QStringLiteral(":/resources/round_yellow.svg"));
    }

    // The scale takes the decade of a measured value (a power of ten is its
    // own full scale), rebuilt rather than added to; a value without a decade
    // keeps the scale, the bar empty (full for +inf and a decade beyond
    // float). A measured value is no operator's move; the handle is. The
    // handle stays on the scale; a handle moved by program is reported like
    // a drag; a scale of no width has no positions and no bar.
    void slider_decadeScaleBarAndHandle()
    {
        Slider slider;
        QSignalSpy moved(&slider, &Slider::valueChanged);
        slider.setValue(3.7e-7f);
        QCOMPARE(scaleTexts(slider),
                 (QStringList{"0", "2e-07", "4e-07", "6e-07", "8e-07", "1e-06"}));
        QCOMPARE(barOf(slider), 37);
        slider.setValue(100.0f);
        QCOMPARE(scaleTexts(slider).last() + " " + QString::number(barOf(slider)),
                 QStringLiteral("1e+02 100"));
        int ticks = 0;
        for (const QFrame* frame : slider.findChildren<QFrame*>())
            ticks += !qobject_cast<const QLabel*>(frame) && frame->frameShape() == QFrame::VLine;
        QCOMPARE(ticks, 6);
        slider.setValue(0.1f); // the float just above 0.1 belongs to the next decade
        QCOMPARE(slider.scaleMaximum(), 1.0f);

        slider.setValue(4e-5f);
        QStringList bars;
        for (float value : {0.0f, -2.5e-6f, kNaN, std::numeric_limits<float>::infinity(), 3e38f}) {
            slider.setValue(value);
            bars << QString::number(slider.scaleMaximum()) + ":" + QString::number(barOf(slider));
        }
        QCOMPARE(bars.join(' '),
                 QStringLiteral("0.0001:0 0.0001:0 0.0001:0 0.0001:100 0.0001:100"));
        QCOMPARE(moved.size(), 0);
        auto* handle = slider.findChild<QSlider*>();
        handle->setValue(99);   // as far right as the handle goes
        slider.setValue(6e-5f); // 0 .. 1e-4
        slider.setSliderValue(2.5e-5f);
        QCOMPARE(handle->value(), 25);
        QCOMPARE(moved.size(), 2);
        QCOMPARE(QVector<float>({moved.at(0).at(0).toFloat(), moved.at(1).at(0).toFloat()}),
                 QVector<float>({9.9e-5f, 2.5e-5f}));
        for (float beyond : {5e-3f, kNaN}) {
            slider.setSliderValue(beyond);
            QCOMPARE(handle->value(), 99);
        }
        slider.setScale(5, 1.0f, 1.0f);
        slider.setSliderValue(1.0f);
        slider.setBarValue(1.0f);
        QCOMPARE(QString("%1 %2").arg(handle->value()).arg(barOf(slider)), QStringLiteral("99 0"));
    }
};

QTEST_MAIN(TestWidgetFeedbackControl)
#include "tst_widgetfeedbackcontrol.moc"
