#pragma once

#include <QDialog>

class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QTimer;
class SimDriver;

// The Simulation window: changes the virtual hardware while the program
// runs (beam, noise, drift, devices in the slots, firmware) and shows what
// the virtual controller is doing. Every change applies at once.
class SimulationWindow : public QDialog
{
    Q_OBJECT

public:
    explicit SimulationWindow(SimDriver& driver, QWidget* parent = nullptr);

public slots:
    // Reloads the controls from the present scenario and shows the window.
    void showWindow();

private slots:
    void applyControls();
    void refreshStatus();

private:
    void loadControls();

    SimDriver& m_driver;
    QCheckBox* m_beam;
    QDoubleSpinBox* m_noise;
    QDoubleSpinBox* m_drift;
    QCheckBox* m_secondPico;
    QCheckBox* m_encoder;
    QCheckBox* m_legacyFirmware;
    QLabel* m_status;
    QTimer* m_timer;
    bool m_loading = false;
};
