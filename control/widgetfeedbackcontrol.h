#pragma once

#include "device/protocol.h"

#include <QWidget>

#include <memory>

class QTimer;

namespace Ui
{
class WidgetFeedbackControl;
}

// The operator's feedback panel, docked in the main window. "Statistics"
// shows the controller's running mean and standard deviations of position
// and intensity per BPM; "Control" switches the feedback, shows its state as
// a lamp and a text, resets the PID controller, chooses the loops that
// regulate and sends the setpoints.
//
// Positions are shown and entered in micrometres and go to the controller in
// raw units of the BPM that feeds the loop; the intensity goes in amperes.
// Everything shown comes from what the mailbox communicator last polled,
// refreshed every 770 ms.
class WidgetFeedbackControl : public QWidget
{
    Q_OBJECT

public:
    explicit WidgetFeedbackControl(QWidget* parent = nullptr);
    ~WidgetFeedbackControl() override;

signals:
    // The setpoints or the regulation mode may have changed.
    void somethingChanged();

public slots:
    // Reads the setpoints back from the controller into the entry fields.
    void updateXYfields();
    void updateHeartbeat(zevo::PID_Status_Type PID_Status);
    // Shows regulation mode `item`: its loops' boxes checked, their setpoint
    // fields enabled.
    void confChanged(int item);
    void checkUserLevel();
    void nr_dorvishs_changed(int count);
    void fdbkStatusChanged(bool enable);
    void sendNewSetpoint();
    void updateButtonPressed();
    void refreshFields();
    void resetPIDControllerPressed();
    void sliderValueChanged(float value);
    void spinboxValueChanged(double value);

private:
    // Amperes per unit of the I0 entry ("uA" or "nA").
    double i0Unit() const;
    // Puts the slider's handle at an I0 entry without feeding back into it.
    void placeHandle(double entry);
    void showStatistics(const zevo::BpmStatistics& statistics, int bpm);

    std::unique_ptr<Ui::WidgetFeedbackControl> ui;
    QTimer* m_refreshTimer;
    // An encoder interface was present at construction: the panel shows
    // neither intensities nor a second BPM.
    bool m_pavun = false;
    // The I0 entry is being filled from the slider's handle.
    bool m_entryFromHandle = false;
};
