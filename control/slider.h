#pragma once

#include <QWidget>

#include <memory>

class QHBoxLayout;
class QLayout;
class QProgressBar;
class QSlider;

namespace Ui
{
class Slider;
}

// A horizontal setter for a floating-point value, with a second value shown
// as a bar behind it, against a scale from min to max with numbered ticks
// beneath. The handle has a hundred positions across the scale.
//
// setValue() shows a measured value on the bar and rescales to its decade;
// the user (or setSliderValue()) moving the handle emits valueChanged() with
// the value of the handle's position.
class Slider : public QWidget
{
    Q_OBJECT

public:
    explicit Slider(QWidget* parent = nullptr);
    ~Slider() override;

    // Puts the handle at the position of v on the present scale.
    void setSliderValue(float v);
    // Shows v on the bar: 0 below the scale, 100 above it.
    void setBarValue(float v);
    // Scale from min to max in `divisions` steps: numbers and tick marks.
    void setScale(int divisions, float min, float max);

    float scaleMaximum() const { return m_max; }

signals:
    // The handle moved; the value of its position in scale units.
    void valueChanged(float value);

public slots:
    // Rescales to 0 .. the smallest power of ten not below value, and shows
    // value on the bar.
    void setValue(float value);

private slots:
    void signalSender(int val);

private:
    static void clearLayout(QLayout* layout, bool deleteWidgets);
    void clearScales();

    std::unique_ptr<Ui::Slider> ui;
    QSlider* m_slider;
    QProgressBar* m_bar;
    QHBoxLayout* m_labelRow;
    QHBoxLayout* m_tickRow;
    float m_min = 0.0f;
    float m_max = 1.0f;
};
