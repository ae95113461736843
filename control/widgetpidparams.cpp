#include "control/widgetpidparams.h"

#include "device/globals.h"

#include "ui_widgetpidparams.h"

#include <QDoubleSpinBox>
#include <QLineEdit>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace
{
// The divider travels to the controller as a 32-bit word and is handled as a
// signed int on this side.
constexpr int kMaxDivider = std::numeric_limits<int32_t>::max();
} // namespace

WidgetPIDparams::WidgetPIDparams(QWidget* parent) : QWidget(parent), ui(new Ui::WidgetPIDparams)
{
    ui->setupUi(this);
    connect(ui->curFreqBox, qOverload<double>(&QDoubleSpinBox::valueChanged), this,
            &WidgetPIDparams::calcRealFreq);
    calcRealFreq(ui->curFreqBox->value());
}

WidgetPIDparams::~WidgetPIDparams() = default;

double WidgetPIDparams::kp() const
{
    return ui->boxKp->value();
}
double WidgetPIDparams::ki() const
{
    return ui->boxKi->value();
}
double WidgetPIDparams::kd() const
{
    return ui->boxKd->value();
}
double WidgetPIDparams::eMin() const
{
    return ui->boxemin->value();
}
double WidgetPIDparams::iMax() const
{
    return ui->boxImax->value();
}
double WidgetPIDparams::oMin() const
{
    return ui->boxOmin->value();
}
double WidgetPIDparams::oMax() const
{
    return ui->boxOmax->value();
}
double WidgetPIDparams::oGain() const
{
    return ui->boxOgain->value();
}
double WidgetPIDparams::offset() const
{
    return ui->offsetDoubleSpinBox->value();
}
double WidgetPIDparams::curFreq() const
{
    return ui->curFreqBox->value();
}

void WidgetPIDparams::setCurFreq(double freq)
{
    ui->curFreqBox->setValue(freq);
}

void WidgetPIDparams::setParams(double kp, double ki, double kd, double eMin, double iMax,
                                double oMin, double oMax, double oGain, double offset)
{
    ui->boxKp->setValue(kp);
    ui->boxKi->setValue(ki);
    ui->boxKd->setValue(kd);
    ui->boxemin->setValue(eMin);
    ui->boxImax->setValue(iMax);
    ui->boxOmin->setValue(oMin);
    ui->boxOmax->setValue(oMax);
    ui->boxOgain->setValue(oGain);
    ui->offsetDoubleSpinBox->setValue(offset);
}

int WidgetPIDparams::loopDivider(int baseHz, double freq)
{
    // 0 Hz gives an infinite ratio; a divider of 0 would make the controller
    // divide by zero, so the ratio saturates at both ends instead.
    const double ratio = double(baseHz) / freq;
    if (!(ratio < double(kMaxDivider)))
        return kMaxDivider;
    return int(std::max(1L, std::lround(ratio)));
}

int WidgetPIDparams::divider() const
{
    return loopDivider(PID_BASE_FREQ.load(), ui->curFreqBox->value());
}

void WidgetPIDparams::calcRealFreq(double freq)
{
    const int base = PID_BASE_FREQ.load();
    // Single precision, as the controller's own rate figure.
    const float real = float(base) / float(loopDivider(base, freq));
    ui->realFreqLine->setText(QString::number(real, 'f', 2) + QStringLiteral(" Hz"));
}
