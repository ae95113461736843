#include "control/widgetroc.h"

#include "ui_widgetroc.h"

#include <QComboBox>
#include <QDoubleSpinBox>

#include <cmath>
#include <initializer_list>

namespace
{
// Unit selector items, in the order of the form.
constexpr int kMicroamperes = 0; // "uA"
constexpr int kNanoamperes = 1;  // "nA"

// Units per ampere. 1e6 and 1e9 are exact in binary, 1e-6 and 1e-9 are not:
// dividing by them gives 800 nA as 8e-7 A, multiplying by 1e-9 as
// 8.000000000000001e-7 A.
double perAmpere(int index)
{
    return index == kNanoamperes ? 1e9 : 1e6;
}
} // namespace

WidgetRoc::WidgetRoc(QWidget* parent) : QWidget(parent), ui(new Ui::WidgetRoc)
{
    ui->setupUi(this);
}

WidgetRoc::~WidgetRoc() = default;

void WidgetRoc::setBpmName(const QString& name)
{
    ui->bpmLabel->setText(name);
}

// A stored value inside the box's range is only rounded for showing and is
// kept; one outside it is shown clamped, and the clamped value is what the
// operator sees and what OK applies.
bool WidgetRoc::fits(const QDoubleSpinBox* box, double value)
{
    return value >= box->minimum() && value <= box->maximum();
}

void WidgetRoc::load(Loaded& loaded, QDoubleSpinBox* box, double value)
{
    box->setValue(value);
    loaded = {fits(box, value), value, box->value(), -1};
}

void WidgetRoc::loadCurrent(Loaded& loaded, QDoubleSpinBox* box, QComboBox* unit, double amperes)
{
    if (amperes != 0.0)
        unit->setCurrentIndex(std::abs(amperes) >= 1e-6 ? kMicroamperes : kNanoamperes);
    const double shown = amperes * perAmpere(unit->currentIndex());
    box->setValue(shown);
    loaded = {fits(box, shown), amperes, box->value(), unit->currentIndex()};
}

void WidgetRoc::setValues(double roiX, double roiY, double i0Min, double i0Max, double roc)
{
    load(m_roiX, ui->roiXDoubleSpinBox, roiX);
    load(m_roiY, ui->roiYDoubleSpinBox, roiY);
    load(m_roc, ui->rocFactorBox, roc);
    loadCurrent(m_i0Min, ui->roiI0minBox, ui->roiI0minUnit, i0Min);
    loadCurrent(m_i0Max, ui->roiI0maxBox, ui->roiI0maxUnit, i0Max);
}

// The stored value while the box still shows what loading put there, else
// what the operator entered.
double WidgetRoc::kept(const Loaded& loaded, double entered, double shown, int unit)
{
    if (loaded.valid && shown == loaded.shown && unit == loaded.unit)
        return loaded.stored;
    return entered;
}

double WidgetRoc::roiX() const
{
    const double v = ui->roiXDoubleSpinBox->value();
    return kept(m_roiX, v, v, -1);
}

double WidgetRoc::roiY() const
{
    const double v = ui->roiYDoubleSpinBox->value();
    return kept(m_roiY, v, v, -1);
}

double WidgetRoc::roc() const
{
    const double v = ui->rocFactorBox->value();
    return kept(m_roc, v, v, -1);
}

double WidgetRoc::current(const Loaded& loaded, const QDoubleSpinBox* box,
                          const QComboBox* unit) const
{
    const double shown = box->value();
    const int index = unit->currentIndex();
    return kept(loaded, shown / perAmpere(index), shown, index);
}

double WidgetRoc::i0Min() const
{
    return current(m_i0Min, ui->roiI0minBox, ui->roiI0minUnit);
}

double WidgetRoc::i0Max() const
{
    return current(m_i0Max, ui->roiI0maxBox, ui->roiI0maxUnit);
}

void WidgetRoc::setInputsEnabled(bool enabled)
{
    for (QWidget* input : std::initializer_list<QWidget*>{
             ui->roiXDoubleSpinBox, ui->roiYDoubleSpinBox, ui->rocFactorBox, ui->roiI0minBox,
             ui->roiI0minUnit, ui->roiI0maxBox, ui->roiI0maxUnit})
        input->setEnabled(enabled);
}
