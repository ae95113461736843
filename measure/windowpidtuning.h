#pragma once

#include "analysis/pidtuning.h"

#include <QDialog>

#include <memory>
#include <vector>

namespace Ui
{
class WindowPidTuning;
}

class QCustomPlot;
class QPushButton;
class WindowPIDparams;

// One step-response run as the tuning assistant reads it.
struct StepRecording {
    std::vector<double> response; // the BPM's samples as recorded, not negated for display
    std::vector<double> stimulus; // the stepped DAC output, volts
    double sampleRate = 0.0;      // samples per second
    int loop = 0;                 // stepped axis = PID loop: zevo::kPidX, kPidY, kPidI0
    int bpm = 0;                  // where the response was taken: 0 = BPM 1, 1 = BPM 2
    double step = 0.0;            // volts
};

// "PID Tuning Assistant": turns the last step-response run into parameters
// for the loop that was stepped.
//
// A first-order-plus-dead-time model is fitted to the recorded response and
// drawn over it; the SIMC rules give PI parameters for the closed-loop time
// constant of the slider (from the dead time, tight, to ten dead times,
// smooth); these become the controller's Kp, Ki, Kd and O gain at the loop's
// real rate, as the PID boxes can hold them, and the setpoint step they give
// is predicted with the controller's own law beside that of the present
// parameters. Apply (administrator only) hands the proposal to the PID
// window, which stores and sends it as its OK does; Undo sends back the
// gains the loop had before the first Apply since the last Undo, so that a
// series of tries along the slider ends in one click where it began.
// Created by the step-response window on first use and kept.
class WindowPidTuning : public QDialog
{
    Q_OBJECT

public:
    // Slider positions: tauC = position / 10 dead times.
    static constexpr int kTightPosition = 10;
    static constexpr int kSmoothPosition = 100;

    explicit WindowPidTuning(QWidget* parent = nullptr);
    ~WindowPidTuning() override;

    // The window whose loops Apply and Undo change; without one they stay
    // disabled.
    void setPidWindow(WindowPIDparams* window);

    // Fits the model to `run`, reads the loop's stored parameters and shows
    // the proposal for the tight end of the slider. Undo stays while the
    // run is of the same loop.
    void setRecording(const StepRecording& run);

    // Applies the user level, reads the loop's stored parameters again (the
    // PID window may have changed them) and shows the window (non-modal).
    void showWindow();

    const FopdtModel& model() const { return m_model; }
    // Valid once the fit is valid and the proposal fits the PID boxes.
    bool proposalValid() const { return m_proposalValid; }
    // The controller parameters Apply sends (rounded as the boxes hold them),
    // and the setpoint step they are predicted to give, in response units.
    const PidLawParameters& proposal() const { return m_proposal; }
    const ClosedLoopStep& prediction() const { return m_prediction; }
    // The same step with the loop's stored parameters.
    const ClosedLoopStep& presentPrediction() const { return m_presentStep; }
    double loopRate() const { return m_loopRate; }
    double tauC() const;

public slots:
    void checkUserLevel();

private:
    // The stored values of one loop.
    struct Stored {
        double freq = 0, offset = 0;
        PidLawParameters pid;
    };

    void setupPlots();
    // What the two plots have in common.
    void setupPlot(QCustomPlot* plot);
    Stored readStored() const;
    // Reads the loop's stored parameters and rate, and predicts the step
    // they give.
    void readLoop();
    // How long a prediction for `tauC` runs, seconds.
    double predictionSeconds(double tauC) const;
    void showFit();
    void updateProposal();
    void showProposal();
    void apply();
    void undo();
    // Stores and sends `gains` through the PID window; false when nothing was sent.
    bool sendGains(const PidLawParameters& gains, const QString& done);

    std::unique_ptr<Ui::WindowPidTuning> ui;
    WindowPIDparams* m_pidWindow = nullptr;
    StepRecording m_run;
    FopdtModel m_model;
    Stored m_stored;
    double m_loopRate = 0.0;
    int m_divider = 0;
    double m_predictionStep = 0.0;
    PiTuning m_pi;
    PidLawParameters m_proposal;
    QString m_proposalProblem;
    bool m_proposalValid = false;
    ClosedLoopStep m_prediction;
    ClosedLoopStep m_presentStep;
    bool m_hasUndo = false;
    int m_undoLoop = -1;
    PidLawParameters m_beforeApply;

    QPushButton* m_apply = nullptr;
    QPushButton* m_undo = nullptr;
};
