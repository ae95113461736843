#include "control/slider.h"
#include "ui_slider.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QSlider>
#include <QSpacerItem>

#include <algorithm>
#include <cmath>

namespace
{
constexpr int kInitialDivisions = 5;
constexpr int kScaleRowMinimumHeight = 55;
constexpr int kBarMinimumHeight = 30;

QSpacerItem* scaleGap()
{
    return new QSpacerItem(1, 10, QSizePolicy::MinimumExpanding, QSizePolicy::Minimum);
}

QFrame* tickMark(QWidget* parent)
{
    auto* tick = new QFrame(parent);
    tick->setFrameShape(QFrame::VLine);
    tick->setAttribute(Qt::WA_TransparentForMouseEvents); // never in the way of the handle
    return tick;
}
} // namespace

Slider::Slider(QWidget* parent)
    : QWidget(parent), ui(new Ui::Slider), m_slider(new QSlider(Qt::Horizontal, this)),
      m_bar(new QProgressBar(this)), m_labelRow(new QHBoxLayout), m_tickRow(new QHBoxLayout)
{
    connect(m_slider, &QSlider::valueChanged, this, &Slider::signalSender);
    ui->setupUi(this);

    // The handle keeps QSlider's 0..99 and the bar QProgressBar's 0..100.
    m_slider->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Fixed);
    m_bar->setTextVisible(false);
    m_bar->setMinimumHeight(kBarMinimumHeight);

    // Handle, bar and ticks share one cell; the numbers sit beneath.
    ui->gridLayout->addWidget(m_slider, 0, 0);
    ui->gridLayout->addWidget(m_bar, 0, 0, Qt::AlignBottom);
    ui->gridLayout->addLayout(m_labelRow, 1, 0, Qt::AlignTop);
    ui->gridLayout->setRowMinimumHeight(0, kScaleRowMinimumHeight);
    ui->gridLayout->addLayout(m_tickRow, 0, 0, Qt::AlignBottom);
    // The handle overlaps the bar's upper edge; drawn above it, it stays
    // visible and can be grabbed there.
    m_slider->raise();

    setScale(kInitialDivisions, 0.0f, 1.0f);
}

Slider::~Slider() = default;

void Slider::signalSender(int val)
{
    emit valueChanged(float(val / 100.0 * (double(m_max) - double(m_min)) + double(m_min)));
}

void Slider::setValue(float value)
{
    // Zero, negative, infinite and not-a-number values have no decade: the
    // scale stays as it was and the bar shows empty (full for +infinity).
    const double full = std::pow(10.0, std::ceil(std::log10(double(value))));
    if (!(value > 0.0f) || !std::isfinite(float(full)) || !(float(full) > 0.0f)) {
        setBarValue(value);
        return;
    }
    clearScales();
    setScale(kInitialDivisions, 0.0f, float(full));
    setBarValue(value);
}

void Slider::setSliderValue(float v)
{
    const double position = (double(v) - m_min) * 100.0 / (double(m_max) - m_min);
    if (!std::isfinite(position))
        return; // no value or no scale: the handle stays
    const double clamped =
        std::clamp(position, double(m_slider->minimum()), double(m_slider->maximum()));
    m_slider->setValue(int(std::trunc(clamped)));
}

void Slider::setBarValue(float v)
{
    int percent = 0;
    if (v < m_min) {
        percent = 0;
    } else if (v > m_max) {
        percent = 100;
    } else {
        const double p = (double(v) - m_min) * 100.0 / (double(m_max) - m_min);
        percent = std::isfinite(p) ? int(std::trunc(p)) : 0; // not-a-number, or an empty scale
    }
    m_bar->setValue(percent);
}

void Slider::setScale(int divisions, float min, float max)
{
    clearLayout(m_labelRow, true);
    // Also the tick row, so that a repeated call never doubles the marks.
    clearLayout(m_tickRow, true);
    m_min = min;
    m_max = max;

    if (divisions > 0) {
        const float step = (max - min) / float(divisions);
        for (int i = 0; i < divisions; ++i) {
            const float number = min + float(i) * step;
            auto* label = new QLabel(QString::number(double(number), 'g', 6), this);
            m_labelRow->addWidget(label, 0, Qt::AlignCenter);
            m_labelRow->addItem(scaleGap());
        }
    }
    m_labelRow->addWidget(new QLabel(QString::number(double(max), 'e', 0), this), 0,
                          Qt::AlignRight);

    for (int i = 0; i < divisions; ++i) {
        m_tickRow->addWidget(tickMark(this));
        m_tickRow->addItem(scaleGap());
    }
    m_tickRow->addWidget(tickMark(this));
}

void Slider::clearLayout(QLayout* layout, bool deleteWidgets)
{
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (deleteWidgets && item->widget())
            delete item->widget();
        if (QLayout* inner = item->layout())
            clearLayout(inner, deleteWidgets);
        delete item;
    }
}

void Slider::clearScales()
{
    clearLayout(m_labelRow, true);
    clearLayout(m_tickRow, true);
}
