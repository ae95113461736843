#pragma once

#include "analysis/surfacegrid.h"

#include <QDateTime>
#include <QDialog>
#include <QElapsedTimer>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

namespace Ui
{
class WindowRocking3D;
}

class Graph3D;
class HostOutputs;
class QAbstractButton;

// "3D Rocking Curve": scans DAC outputs 1 (X) and 2 (Y) over a 64 x 64 grid
// of voltages with the feedback off, averages ten readings of the first
// picoammeter's total current at every point, and shows the normalised grid
// as a surface in the 3D view. The raw grid can be saved as CSV, or as a
// NeXus file when the chosen name ends in ".nxs".
//
// The scan runs on the GUI thread and lets pending events through once per
// point, so Stop, Close, Save Data and the view's rotation reach the window
// meanwhile; Go is refused while a scan runs. However the scan ends (last
// point, Stop, Close, the window destroyed, a failed request) the outputs go
// back to the controller and the nodes are closed.
//
// Where the display gives no OpenGL context, the window has no 3D view and
// says so in its place; scanning and saving work as before.
class WindowRocking3D : public QDialog
{
    Q_OBJECT

public:
    // Waits between hardware steps, in microseconds.
    using Sleeper = std::function<void(unsigned long microseconds)>;

    explicit WindowRocking3D(QWidget* parent = nullptr);
    ~WindowRocking3D() override;

    // Replaces the real sleeps (tests let simulated time pass instead).
    void setSleeper(Sleeper sleeper);

    bool isScanning() const { return m_scanning; }
    // The 3D view; null where the display has no OpenGL.
    Graph3D* graph3D() const { return m_graph3D; }
    // Average total current of X step i and Y step j at element 64 i + j, amperes.
    const std::array<float, surfacegrid::kPoints>& rawGrid() const { return m_raw; }
    const std::array<float, surfacegrid::kPoints>& normalisedGrid() const { return m_normalised; }

    // Writes the raw grid to `path` (NeXus for a ".nxs" path, else CSV); a
    // file that cannot be written is reported in a warning box. Returns
    // whether the file was written.
    bool writeDataFile(const QString& path);

public slots:
    void startMeasurement();
    void measure();
    void stopMeasurement();
    void saveData();
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    enum class ScanEnd { Finished, Stopped, Failed, WindowGone };
    enum class Repaint { Now, Throttled };

    ScanEnd runScan(HostOutputs& outputs, QString& failure);
    // Hands the normalised grid to the view and redraws it.
    void showGrid(Repaint when = Repaint::Now);
    void setScanning(bool scanning);

    std::unique_ptr<Ui::WindowRocking3D> ui;
    Graph3D* m_graph3D = nullptr;

    // Both grids live in the window: a scan allocates nothing per point.
    std::array<float, surfacegrid::kPoints> m_raw{};
    std::array<float, surfacegrid::kPoints> m_normalised{};
    double m_xMin = 0.0;
    double m_xSpan = 0.0;
    double m_yMin = 0.0;
    double m_ySpan = 0.0;
    uint64_t m_stepTimeMs = 10;
    // When the last scan began and ended (invalid before the first; the end
    // also while a scan runs).
    QDateTime m_scanStarted;
    QDateTime m_scanEnded;
    bool m_stop = false;
    bool m_scanning = false;
    Sleeper m_sleep;
    QElapsedTimer m_lastPaint;
};
