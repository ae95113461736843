#pragma once

#include "measure/stepresponseprocedure.h"

#include <QDialog>
#include <QSharedPointer>
#include <QString>

#include <memory>
#include <vector>

namespace Ui
{
class WindowStepResponse;
}

class QCPGraphData;
class QCPItemLine;
class QCPItemText;
class QDateTime;
class QDoubleSpinBox;
class QPushButton;
class WindowPIDparams;
class WindowPidTuning;
template <class DataType> class QCPDataContainer;
struct StepRecording;
struct StepResponse;
struct StepResponseRun;

// "Step Response": how the beam answers a 100 ms step of one actuator.
//
// Run steps the chosen actuator (X, Y or I0) for 100 ms from the biases in
// the form (StepResponseProcedure); the window evaluates the response of
// BPM 1 or BPM 2: its change dc, the step du, the gain K, the dead time and
// the 10-90 % rise time, plotted with markers. The run blocks the GUI thread
// for its 320 ms of waits, so nothing else can happen in between (and no
// second run can start inside it). Afterwards the outputs are back with the
// controller, and the display rate and the feedback are as they were before
// the run. Created once by the main window and kept.
class WindowStepResponse : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kRunSampleRate = StepResponseProcedure::kRunSampleRate;

    // Pauses the run between its output steps. The default sleeps; tests
    // pass one that advances a manual clock.
    using WaitFunction = StepResponseProcedure::WaitFunction;

    explicit WindowStepResponse(QWidget* parent = nullptr);
    ~WindowStepResponse() override;

    // Presets the three biases from the PID output offsets, then shows the
    // window (non-modal).
    void showWindow();

    void setWaitFunction(WaitFunction wait);

    // Writes the last run to `path`: NeXus for a ".nxs" path, else CSV. A
    // failure is shown in a warning box; returns whether the file was written.
    bool writeResultFile(const QString& path);

    // The PID window that the tuning assistant's Apply sends through.
    void setPidWindow(WindowPIDparams* window);

public slots:
    void selector_radioButton_changed();
    void stepRespProcedure();
    // Asks for a file and writes the last run to it (NeXus or CSV).
    void saveResult();
    // Opens the tuning assistant on the last usable run.
    void suggestPid();

protected:
    // Asks the application to quit after the display node was missing;
    // virtual so that tests can see it without ending.
    virtual void requestQuit();

private:
    using Run = StepResponseProcedure::Run;
    enum Axis { AxisX = 0, AxisY = 1, AxisI0 = 2 };

    int chosenAxis() const;
    // What the form asks of the next run.
    StepResponseProcedure::Settings formSettings() const;
    void showResult(const StepResponse& result, const std::vector<double>& stimulus, double bias,
                    double step);
    void setupPlot();

    std::unique_ptr<Ui::WindowStepResponse> ui;
    QSharedPointer<QCPDataContainer<QCPGraphData>> m_stimulus;
    QSharedPointer<QCPDataContainer<QCPGraphData>> m_response;
    QDoubleSpinBox* m_bias[3] = {};
    QDoubleSpinBox* m_step[3] = {};

    QCPItemLine* m_riseLine = nullptr;
    QCPItemLine* m_deadArrow = nullptr;
    QCPItemText* m_deadLabel = nullptr;
    QCPItemLine* m_settleArrow = nullptr;
    QCPItemText* m_settleLabel = nullptr;
    QCPItemLine* m_dcArrow = nullptr;
    QCPItemText* m_dcLabel = nullptr;

    StepResponseProcedure m_procedure;
    bool m_running = false;

    // Keeps a measured run for "Save…", with the settings it ran with.
    void keepForSaving(const Run& run, const StepResponse& result, const QDateTime& started);
    std::unique_ptr<StepResponseRun> m_savable;
    QPushButton* m_save = nullptr;

    // The last run that gave a result, for the tuning assistant.
    std::unique_ptr<StepRecording> m_lastRun;
    QPushButton* m_suggest = nullptr;
    WindowPidTuning* m_tuning = nullptr;
    WindowPIDparams* m_pidWindow = nullptr;
};
