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

#include <QtWidgets>

#include <tuple>

using namespace zevo;

namespace
{
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

// Those of the named widgets that are hidden.
QStringList hidden(QWidget& panel, const QStringList& names)
{
    QStringList out;
    for (const QString& name : names)
        if (child(panel, qPrintable(name))->isHidden())
            out << name;
    return out;
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
            const auto modes = sent(cmd::SetRegulationMode);
            QCOMPARE(modes.size(), std::size_t(1));
            QCOMPARE(checked + QString::number(modes[0].u8(4)), checked + QString::number(mode));
            QVERIFY(!changed.isEmpty());
            QCOMPARE(shownLoops(panel), shown);

            // A mode the panel does not know changes nothing but still tells the plots.
            changed.clear();
            panel.confChanged(7);
            QCOMPARE(changed.size(), 1);
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
        QCOMPARE(slider->scaleMaximum(), 1.0f); // no intensity measured yet
        entry->setValue(31234.0);               // nA: at the very left of 0 .. 1 A
        QCOMPARE(handle->value(), 0);

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
        child<QComboBox>(panel, "i0UnitSelector")->setCurrentText(QStringLiteral("uA"));
        handle->setValue(20);
        QCOMPARE(shown(), QStringLiteral("20 at 20"));
        QVERIFY(sent(cmd::SetSetpoint).empty()); // nothing goes out before "Update Setpoint"

        pidSourceI0 = 1;
        panel.refreshFields();
        QCOMPARE(slider->scaleMaximum(), 1e-6f);
        QCOMPARE(slider->findChild<QProgressBar*>()->value(), 37);
    }

    // The panel's own 770 ms refresh shows each state; a state it does not
    // know leaves lamp and text alone.
    void heartbeat_lampAndTextPerState()
    {
        WidgetFeedbackControl panel;
        auto* led = panel.findChild<QLed*>("heartbeatLed");
        auto* label = child<QLabel>(panel, "heartbeatLabel");
        // The lamp shows its state by its off-colour; it is never lit.
        auto shown = [&] {
            return QString("%1 %2 %3, %4")
                .arg(label->text())
                .arg(int(led->offColor()))
                .arg(led->value())
                .arg(child<QPushButton>(panel, "buttonFdbk")->text());
        };
        const std::tuple<int, QLed::ledColor, const char*, const char*> rows[] = {
            {0, QLed::Grey, "Feedback OFF", "Enable Feedback"},
            {1, QLed::Red, "FAULT: Out of ROC", "Disable Feedback"},
            {2, QLed::Purple, "Beam OFF", "Disable Feedback"},
            {3, QLed::Green, "Feedback ON", "Disable Feedback"}};
        for (const auto& [state, colour, text, button] : rows) {
            c->pidStatus = uint8_t((state + 1) % 4); // from another state, so that each row changes
            poll();
            panel.refreshFields();
            c->pidStatus = uint8_t(state);
            poll();
            QTRY_COMPARE_WITH_TIMEOUT(label->text(), QString(text), 2000);
            const QString expected = QString("%1 %2 0, %3").arg(text).arg(int(colour)).arg(button);
            QCOMPARE(shown(), expected);
            panel.updateHeartbeat(PID_Status_Type(7));
            QCOMPARE(shown(), expected);
        }
    }

    // Each click asks for the other state; the text follows the controller.
    // Level 0 disables the whole panel (and sends nothing); any other known
    // level enables it, an unknown one leaves it as it is.
    void feedbackButton_sendsRequestsFromLevel1On()
    {
        WidgetFeedbackControl panel;
        auto* button = child<QPushButton>(panel, "buttonFdbk");
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

        auto enabledAt = [&](int level) {
            userLevel = level;
            panel.checkUserLevel();
            return button->isEnabled();
        };
        QVERIFY(!enabledAt(0));
        m_program->driver.clearCalls();
        click(&panel, "buttonFdbk");
        QVERIFY(sent(cmd::SetFeedbackEnabled).empty());
        QVERIFY(!enabledAt(7));
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
        for (const auto& [name, text] : expected)
            QCOMPARE(child<QLineEdit>(panel, name)->text(), QString::fromLatin1(text));
    }

    // One picoammeter: the second grid is hidden and left alone until a
    // second one comes. An encoder interface: no intensities, no filtered
    // deviations, no second BPM, even when the device count says two.
    void devices_secondBpmAndIntensityFollowWhatIsPlugged()
    {
        const QStringList second = {"bpm2Table", "BPM2label"};
        c->plug({0x2101, 0, 0x2200, 0});
        MailboxStatusBlock block{};
        block.bpm[0].xMean = 0.01;
        block.bpm[1].xMean = 0.02;
        m_program->driver.setStatusBlock(block);
        poll();
        QCOMPARE(m_program->mailbox->deviceCount(), 1);
        auto one = std::make_unique<WidgetFeedbackControl>();
        one->nr_dorvishs_changed(1);
        QCOMPARE(hidden(*one, second), second);
        QCOMPARE(child<QLineEdit>(*one, "posXMeanLineEdit")->text() + "|" +
                     child<QLineEdit>(*one, "posXMeanLineEdit_2")->text(),
                 QStringLiteral("0.010 um|"));
        one->nr_dorvishs_changed(2);
        QCOMPARE(hidden(*one, second), QStringList());
        one.reset();

        c->plug({0x2101, 0x2300, 0x2200, 0});
        poll();
        QVERIFY(m_program->mailbox->pavunPresent());
        WidgetFeedbackControl panel;
        const QStringList gone =
            second + QStringList{"i0MeanLineEdit",      "i0StdLineEdit",       "i0StdFiltLineEdit",
                                 "posXStdFiltLineEdit", "posYStdFiltLineEdit", "i0RowLabel",
                                 "at1000HzLabel",       "confI0checkbox",      "i0Label",
                                 "i0DoubleSpinBox",     "i0UnitSelector",      "i0slider"};
        QCOMPARE(hidden(panel, gone + QStringList("posXMeanLineEdit")), gone);
        panel.nr_dorvishs_changed(2);
        QCOMPARE(hidden(panel, second), second);
    }

    // In the main window: docked, started from the controller's mode,
    // setpoints and state, and wired to the XY plots both ways and to the
    // device count.
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
        QCOMPARE(shownLoops(*panel), QStringLiteral("YI"));
        QCOMPARE(entries(*panel), QStringLiteral("250 -500 60000"));
        QCOMPARE(child<QLabel>(*panel, "heartbeatLabel")->text(), QStringLiteral("Beam OFF"));
        QCOMPARE(panel->findChild<QLed*>()->offColor(), QLed::Purple);
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

        m_program->mailbox->announceDeviceCount();
        QVERIFY(!child(*panel, "bpm2Table")->isHidden());
        c->plug({0x2101, 0, 0x2200, 0});
        poll();
        QVERIFY(child(*panel, "bpm2Table")->isHidden());
    }
};

QTEST_MAIN(TestWidgetFeedbackControl)
#include "tst_widgetfeedbackcontrol.moc"
