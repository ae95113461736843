#include "control/widgetfeedbackcontrol.h"
#include "ui_widgetfeedbackcontrol.h"

#include "control/qled.h"
#include "control/slider.h"
#include "device/feedbackunits.h"
#include "device/globals.h"
#include "device/mailboxcomm.h"
#include "device/userlevel.h"

#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QStyle>
#include <QTimer>

using zevo::PID_Status_Type;

namespace
{
constexpr int kRefreshIntervalMs = 770;

constexpr double kMicroampere = 1e-6;
constexpr double kNanoampere = 1e-9;

// Lamp colour of each feedback state; the text comes with the state's units.
const QLed::ledColor kHeartbeatColour[4] = {QLed::Grey, QLed::Red, QLed::Purple, QLed::Green};

QString micrometres(double value, char format, int precision)
{
    return QString::number(value, format, precision) + QStringLiteral(" um");
}

QString amperes(double value, int precision)
{
    return QString::number(value, 'g', precision) + QStringLiteral(" A");
}

// A long number shows its beginning when the field is too narrow for it.
void showText(QLineEdit* field, const QString& text)
{
    field->setText(text);
    field->setCursorPosition(0);
}
} // namespace

WidgetFeedbackControl::WidgetFeedbackControl(QWidget* parent)
    : QWidget(parent), ui(new Ui::WidgetFeedbackControl), m_refreshTimer(new QTimer(this))
{
    ui->setupUi(this);

    ui->buttonFdbk->setCheckable(true);
    ui->buttonFdbk->setIconSize(QSize(24, 24));
    ui->buttonFdbk->setText(QStringLiteral("Enable Feedback"));
    ui->buttonFdbk->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    ui->heartbeatLed->setShape(QLed::Rounded);

    connect(ui->buttonFdbk, &QPushButton::toggled, this, &WidgetFeedbackControl::fdbkStatusChanged);
    connect(ui->buttonUpdate, &QPushButton::released, this,
            &WidgetFeedbackControl::sendNewSetpoint);
    connect(ui->updateConfButton, &QPushButton::released, this,
            &WidgetFeedbackControl::updateButtonPressed);
    connect(ui->resetPIDbutton, &QPushButton::released, this,
            &WidgetFeedbackControl::resetPIDControllerPressed);
    connect(ui->i0slider, &Slider::valueChanged, this, &WidgetFeedbackControl::sliderValueChanged);
    connect(ui->i0DoubleSpinBox, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
            &WidgetFeedbackControl::spinboxValueChanged);
    connect(m_refreshTimer, &QTimer::timeout, this, &WidgetFeedbackControl::refreshFields);
    m_refreshTimer->start(kRefreshIntervalMs);

    // An encoder interface reports mechanical positions in place of the
    // picoammeters: no intensity, no filtered deviations, no second BPM.
    m_pavun = theMailbox && theMailbox->pavunPresent();
    if (m_pavun) {
        for (QWidget* w : std::initializer_list<QWidget*>{
                 ui->bpm2Table, ui->BPM2label, ui->i0MeanLineEdit, ui->i0StdLineEdit,
                 ui->i0StdFiltLineEdit, ui->posXStdFiltLineEdit, ui->posYStdFiltLineEdit,
                 ui->i0RowLabel, ui->at1000HzLabel, ui->at1000HzLabel_2, ui->confI0checkbox,
                 ui->i0Label, ui->i0DoubleSpinBox, ui->i0UnitSelector, ui->i0slider})
            w->hide();
    }

    checkUserLevel();
    refreshFields();
}

WidgetFeedbackControl::~WidgetFeedbackControl() = default;

double WidgetFeedbackControl::i0Unit() const
{
    return ui->i0UnitSelector->currentText() == QLatin1String("uA") ? kMicroampere : kNanoampere;
}

void WidgetFeedbackControl::updateXYfields()
{
    if (!theMailbox)
        return;
    double x = 0.0, y = 0.0, i0 = 0.0;
    if (theMailbox->readSetpoints(&x, &y, &i0) < 0)
        return; // the fields keep what they show
    ui->posXDoubleSpinBox->setValue(feedbackunits::setpointXFromRaw(x));
    ui->posYDoubleSpinBox->setValue(feedbackunits::setpointYFromRaw(y));
    // Taken in full precision (the slider's float would show 60 uA as
    // 59999.998 nA, and "Update Setpoint" would send that back); the entry
    // then moves the handle.
    ui->i0DoubleSpinBox->setValue(i0 / i0Unit());
}

void WidgetFeedbackControl::updateHeartbeat(PID_Status_Type PID_Status)
{
    // The lamp is never lit: its off-colour is the state. Unknown states
    // leave lamp and text as they were.
    const int state = PID_Status;
    if (state < zevo::PID_STATUS_OFF || state > zevo::PID_STATUS_ON)
        return;
    ui->heartbeatLed->setOffColor(kHeartbeatColour[state]);
    ui->heartbeatLabel->setText(feedbackunits::stateText(state));
}

void WidgetFeedbackControl::confChanged(int item)
{
    if (zevo::isRegulationMode(item)) {
        const zevo::LoopSet loops = zevo::loopsOfMode(item);
        ui->posXDoubleSpinBox->setEnabled(loops.x);
        ui->posYDoubleSpinBox->setEnabled(loops.y);
        ui->i0DoubleSpinBox->setEnabled(loops.i0);
        ui->confXcheckbox->setChecked(loops.x);
        ui->confYcheckbox->setChecked(loops.y);
        ui->confI0checkbox->setChecked(loops.i0);
    }
    emit somethingChanged();
}

void WidgetFeedbackControl::checkUserLevel()
{
    if (userLevel == zevo::LevelCruise)
        setEnabled(false);
    else if (zevo::operatesFeedback(userLevel))
        setEnabled(true);
}

void WidgetFeedbackControl::nr_dorvishs_changed(int count)
{
    // With an encoder interface the second BPM stays hidden whatever the
    // count: the encoder interface itself is counted among the devices.
    const bool second = count != 1 && !m_pavun;
    ui->BPM2label->setVisible(second);
    ui->bpm2Table->setVisible(second);
}

void WidgetFeedbackControl::fdbkStatusChanged(bool enable)
{
    if (theMailbox)
        theMailbox->setFeedbackEnabled(enable);
}

void WidgetFeedbackControl::sendNewSetpoint()
{
    if (!theMailbox)
        return;
    const double x = ui->posXDoubleSpinBox->value();
    const double y = ui->posYDoubleSpinBox->value();
    const double i = ui->i0DoubleSpinBox->value();
    // Positions go in raw units of the BPM that feeds each loop.
    theMailbox->setSetpoints(feedbackunits::setpointXToRaw(x), feedbackunits::setpointYToRaw(y),
                             i * i0Unit());
    emit somethingChanged();
}

void WidgetFeedbackControl::updateButtonPressed()
{
    int mode = zevo::modeOfLoops(ui->confXcheckbox->isChecked(), ui->confYcheckbox->isChecked(),
                                 ui->confI0checkbox->isChecked());
    // Nothing checked means X alone: some loop always regulates.
    if (mode < 0)
        mode = zevo::MODE_X;
    if (theMailbox)
        theMailbox->setRegulationMode(mode);
    confChanged(mode);
    emit somethingChanged();
}

void WidgetFeedbackControl::showStatistics(const zevo::BpmStatistics& s, int bpm)
{
    const bool first = bpm == 0;
    QLineEdit* const xMean = first ? ui->posXMeanLineEdit : ui->posXMeanLineEdit_2;
    QLineEdit* const xStd = first ? ui->posXStdLineEdit : ui->posXStdLineEdit_2;
    QLineEdit* const xStdFilt = first ? ui->posXStdFiltLineEdit : ui->posXStdFiltLineEdit_2;
    QLineEdit* const yMean = first ? ui->posYMeanLineEdit : ui->posYMeanLineEdit_2;
    QLineEdit* const yStd = first ? ui->posYStdLineEdit : ui->posYStdLineEdit_2;
    QLineEdit* const yStdFilt = first ? ui->posYStdFiltLineEdit : ui->posYStdFiltLineEdit_2;
    QLineEdit* const i0Mean = first ? ui->i0MeanLineEdit : ui->i0MeanLineEdit_2;
    QLineEdit* const i0Std = first ? ui->i0StdLineEdit : ui->i0StdLineEdit_2;
    QLineEdit* const i0StdFilt = first ? ui->i0StdFiltLineEdit : ui->i0StdFiltLineEdit_2;

    using feedbackunits::xMicrometres;
    using feedbackunits::yMicrometres;
    showText(xMean, micrometres(xMicrometres(s.xMean, bpm), 'f', 3));
    showText(xStd, micrometres(xMicrometres(s.xStd, bpm), 'f', 6));
    showText(xStdFilt, micrometres(xMicrometres(s.xStd1kHz, bpm), 'f', 6));
    showText(yMean, micrometres(yMicrometres(s.yMean, bpm), 'f', 5));
    showText(yStd, micrometres(yMicrometres(s.yStd, bpm), 'f', 5));
    showText(yStdFilt, micrometres(yMicrometres(s.yStd1kHz, bpm), 'f', 6));
    showText(i0Mean, amperes(s.i0Mean, 4));
    showText(i0Std, amperes(s.i0Std, 4));
    showText(i0StdFilt, amperes(s.i0Std1kHz, first ? 4 : 6));
}

void WidgetFeedbackControl::refreshFields()
{
    if (!theMailbox)
        return;
    // One snapshot of the poll's block, so that both BPMs show the same second.
    const zevo::MailboxStatusBlock block = theMailbox->statusBlock();
    showStatistics(block.bpm[0], 0);
    if (theMailbox->deviceCount() == 2)
        showStatistics(block.bpm[1], 1);

    const int status = theMailbox->pidStatus();
    updateHeartbeat(PID_Status_Type(status));

    // The bar shows the intensity measured by the BPM that feeds the I0 loop.
    const float fullScale = ui->i0slider->scaleMaximum();
    ui->i0slider->setValue(float(block.bpm[pidSourceI0.load() != 0 ? 1 : 0].i0Mean));
    // On a new scale the handle would show another value than the entry.
    if (ui->i0slider->scaleMaximum() != fullScale)
        placeHandle(ui->i0DoubleSpinBox->value());

    // The button follows the controller, not its own checked state: a click
    // only asks for the other state.
    const bool running = status != zevo::PID_STATUS_OFF;
    ui->buttonFdbk->setText(running ? QStringLiteral("Disable Feedback")
                                    : QStringLiteral("Enable Feedback"));
    ui->buttonFdbk->setIcon(
        style()->standardIcon(running ? QStyle::SP_MediaStop : QStyle::SP_MediaPlay));
}

void WidgetFeedbackControl::resetPIDControllerPressed()
{
    if (theMailbox)
        theMailbox->resetPidController();
}

void WidgetFeedbackControl::sliderValueChanged(float value)
{
    // Dragged by the operator, the handle already stands where the value came
    // from; a value handed in by a direct call moves it there.
    const QScopedValueRollback<bool> dragged(m_entryFromHandle, sender() == ui->i0slider);
    ui->i0DoubleSpinBox->setValue(double(value) / i0Unit());
}

void WidgetFeedbackControl::spinboxValueChanged(double value)
{
    if (!m_entryFromHandle)
        placeHandle(value);
}

void WidgetFeedbackControl::placeHandle(double entry)
{
    // The handle has only a hundred positions; moving it must not round the
    // entry, which is what "Update Setpoint" sends, to one of them.
    const QSignalBlocker keepEntry(ui->i0slider);
    ui->i0slider->setSliderValue(float(entry * i0Unit()));
}
