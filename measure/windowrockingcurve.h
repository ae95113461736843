#pragma once

#include "export/rockingcurvefile.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>

namespace Ui
{
class WindowRockingCurve;
}

class QCloseEvent;
class QPushButton;

// "Rocking Curve": scans one actuator output over a voltage range while the
// output of the other direction is held, and plots against the output voltage
// the currents of the two opposite BPM1 electrodes of the scanned direction
// and their sum. The host drives the DAC outputs and reads the first
// picoammeter itself; the feedback is switched off for the scan and the
// outputs go back to the controller at its end.
//
// The scan runs on the GUI thread and lets pending events through once per
// point, so the window can be moved or zoomed meanwhile. Start is refused
// while a scan runs; closing the window (OK, Cancel, Escape, title bar) ends
// the scan after its present point, and the window may even be deleted by
// then. Created anew by the main window on every opening.
//
// "Save…" (beside OK and Cancel) writes the points of the last scan to a
// NeXus file or a plain CSV file; it is usable once a scan has taken a point
// and while no scan runs.
class WindowRockingCurve : public QDialog
{
    Q_OBJECT

public:
    // Sleeps for the given microseconds between the steps of a scan. The
    // program sleeps the thread; tests pass the time on the virtual
    // controller's clock instead, so that a scan of minutes takes none.
    using WaitFunction = std::function<void(unsigned long microseconds)>;

    explicit WindowRockingCurve(QWidget* parent = nullptr);
    ~WindowRockingCurve() override;

    void setWaitFunction(WaitFunction wait);
    bool isScanning() const { return m_scanning; }

    // The output offset of the X loop (x true) or the Y loop from the
    // configuration: the value at which a scan holds the other direction.
    double pidOffset(bool x) const;

    // The last scan's points and settings (no points before the first scan).
    // Writes the last scan to `path`: NeXus for a ".nxs" path, else CSV. A
    // failure is shown in a warning box; returns whether the file was written.
    bool writeResultFile(const QString& path);

public slots:
    void startMeasurement();
    void minMaxChanged();
    void clearGraph();
    void done(int result) override;
    // Asks for a file and writes the last scan to it.
    void saveResult();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // What the operator is told once the scan is over; empty when all went well.
    struct Report {
        enum Kind { None, Warning, Critical } kind = None;
        QString title;
        QString text;
    };

    Report runScan();
    void nameGraphs(bool scanX, int firstChannel, int secondChannel);

    std::unique_ptr<Ui::WindowRockingCurve> ui;
    WaitFunction m_wait;
    RockingCurve m_curve;
    QPushButton* m_saveButton = nullptr;
    bool m_scanning = false;
    bool m_stopRequested = false;
};
