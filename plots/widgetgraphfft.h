#pragma once

#include "acquisition/updater.h"

#include <QWidget>

#include <memory>

class QCPAxis;
class QCPGraph;
class PlotRedraw;

namespace Ui
{
class WidgetGraphFFT;
}

// The amplitude spectrum of one display signal. The display updater computes
// it; this widget only chooses the signal, the transform length and the mean
// removal, and draws the result on linear or logarithmic axes.
class WidgetGraphFFT : public QWidget
{
    Q_OBJECT

public:
    explicit WidgetGraphFFT(QWidget* parent = nullptr);
    ~WidgetGraphFFT() override;

    // The spectrum series, refilled by the display updater.
    SeriesPtr graphData();

public slots:
    // Rescales both axes to the spectrum and redraws (once visible).
    void replot();
    // "Log" makes the axis logarithmic, any other text linear.
    void xAxesChanged(const QString& text);
    void yAxesChanged(const QString& text);
    void fftLengthChanged(const QString& text);
    // Chooses the transformed display value and the spectrum's colour.
    void fftSelectorChanged(const QString& selector);

private:
    void setScale(QCPAxis* axis, bool logarithmic);
    // The series as drawn and both axes fitted to it.
    void showSpectrum();

    std::unique_ptr<Ui::WidgetGraphFFT> ui;
    // Filled by the updater. The graph draws a copy in which the points that
    // a logarithmic axis cannot show are gaps, so the series stays intact
    // when an axis is switched back to linear (also while paused).
    SeriesPtr m_series;
    QCPGraph* m_spectrum = nullptr;
    PlotRedraw* m_redraw = nullptr;
};
