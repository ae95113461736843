#pragma once

#include <QDialog>

#include <array>
#include <memory>

namespace Ui
{
class WindowManOutCtrl;
}

class Driver;
class QDoubleSpinBox;
class QSlider;

// "Manual Output Control": drives the four outputs of the DAC module by hand.
// The check box hands the outputs from the PID controller to the host; each
// output has a slider in whole volts and a spin box in volts, kept in step;
// every change is written to the module at once. A typed value counts as a
// change once it is entered (Return, arrows, leaving the box), so that half
// of a number never reaches an actuator. Created once by the main window and
// kept; the DAC node stays open while its requests succeed.
class WindowManOutCtrl : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kChannels = 4;

    explicit WindowManOutCtrl(QWidget* parent = nullptr);
    ~WindowManOutCtrl() override;

    // Shows who drives the outputs now and shows the window (non-modal).
    void showWindow();

    // False while the DAC node could not be opened; output changes are then
    // not sent, and the window says so.
    bool dacAvailable() const { return !m_dacMissing; }

public slots:
    void enableMan_changed(bool enable);
    void sliders_changed();
    void boxes_changed();

private:
    // Channel of the slider or box that sent the signal being handled; -1
    // when called directly.
    int channelOf(const QObject* widget) const;
    bool ensureDacOpen();
    void sendOutputs();
    void showDacState();

    std::unique_ptr<Ui::WindowManOutCtrl> ui;
    std::array<QSlider*, kChannels> m_sliders{};
    std::array<QDoubleSpinBox*, kChannels> m_boxes{};
    // The driver the node was opened with, so that it is closed there too.
    Driver* m_driver = nullptr;
    int m_dacFd = -1;
    // The last look for the DAC node found none.
    bool m_dacMissing = false;
};
