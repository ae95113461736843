#pragma once

#include <QWidget>

#include <memory>

namespace Ui
{
class WidgetPico;
}

// One picoammeter in the picoammeter window: its four input currents and the
// choice of its measuring range, sent to the controller on "Update range".
class WidgetPico : public QWidget
{
    Q_OBJECT

public:
    // Range choices in the order of their index in the controller command.
    enum Range { Range0 = 0, Range1 = 1, RangeAuto = 2 };

    explicit WidgetPico(QWidget* parent = nullptr);
    ~WidgetPico() override;

    // Which picoammeter this panel stands for (0 or 1); set by the window
    // right after construction.
    void setPicoIndex(int index) { picoIndex = index; }

    // Currents in amperes, shown in exponent format with five decimals.
    void setCurrents(double ch1, double ch2, double ch3, double ch4);

private slots:
    void sendSettings();

private:
    std::unique_ptr<Ui::WidgetPico> ui;
    int picoIndex = 0;
};
