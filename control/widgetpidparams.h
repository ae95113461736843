#pragma once

#include <QWidget>

#include <memory>

namespace Ui
{
class WidgetPIDparams;
}

// The parameters of one of the controller's PID loops: gains, dead band,
// integral limit, output limits, gain and offset, and the requested loop
// frequency. The controller runs a loop once every `divider()` ticks of its
// base rate (PID_BASE_FREQ), so a requested frequency is only approximated;
// "Real freq:" shows the rate the loop will really run at.
class WidgetPIDparams : public QWidget
{
    Q_OBJECT

public:
    explicit WidgetPIDparams(QWidget* parent = nullptr);
    ~WidgetPIDparams() override;

    double kp() const;
    double ki() const;
    double kd() const;
    double eMin() const;
    double iMax() const;
    double oMin() const;
    double oMax() const;
    double oGain() const;
    double offset() const;
    double curFreq() const;

    void setCurFreq(double freq);
    void setParams(double kp, double ki, double kd, double eMin, double iMax, double oMin,
                   double oMax, double oGain, double offset);

    // Ticks of the base rate between two runs of the loop, for the requested
    // frequency and the present base rate; never 0 (see loopDivider()).
    int divider() const;

    // The divider for `freq` at `baseHz`: the nearest whole number of base
    // ticks, at least 1 (a request at or above twice the base rate runs at the
    // base rate) and at most the largest 32-bit divider (a request of 0 Hz
    // runs as slowly as the controller can).
    static int loopDivider(int baseHz, double freq);

public slots:
    // Shows the rate the loop really runs at for the requested `freq`.
    void calcRealFreq(double freq);

private:
    std::unique_ptr<Ui::WidgetPIDparams> ui;
};
