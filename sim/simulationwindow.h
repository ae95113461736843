#pragma once

#include "device/protocol.h"

#include <QDialog>

#include <array>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLineEdit;
class QLabel;
class QMainWindow;
class QTimer;
class SimDriver;

// The Simulation window: changes the virtual hardware while the program
// runs (beam, kick, noise, drift, vibration and pick-up, devices in the slots, firmware) and shows
// what the virtual controller is doing. Every change applies at once.
class SimulationWindow : public QDialog
{
    Q_OBJECT

public:
    explicit SimulationWindow(SimDriver& driver, QWidget* parent = nullptr);

    // Adds the "Simulation" menu to the program's main window, with the
    // entry that opens this window (created here, a child of `window`).
    static SimulationWindow* addToMenuBar(QMainWindow& window, SimDriver& driver);

public slots:
    // Reloads the controls from the present scenario and shows the window.
    void showWindow();

private slots:
    void applyControls();
    void refreshStatus();

private:
    void loadControls();
    // Puts the beam at every BPM x, y micrometres away from where it would be.
    void setKick(double x, double y);

    SimDriver& m_driver;
    QCheckBox* m_beam;
    QDoubleSpinBox* m_noise;
    QDoubleSpinBox* m_drift;
    QLineEdit* m_vibration;
    QDoubleSpinBox* m_mains;
    QDoubleSpinBox* m_kickX;
    QDoubleSpinBox* m_kickY;
    // What sits in slots A to D.
    std::array<QComboBox*, zevo::kSlotCount> m_slots{};
    QCheckBox* m_legacyFirmware;
    QLabel* m_status;
    QTimer* m_timer;
    bool m_loading = false;
};
