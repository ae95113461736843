#pragma once

#include <QDialog>

#include <memory>

class BPM;
class QAbstractButton;
class QDoubleSpinBox;
class QTimer;

namespace Ui
{
class WindowBeamlineConf;
}

// "Beamline Configuration": what the controller must know about the
// beamline hardware. A panel per BPM (orientation, channel map, scaling,
// offsets, high voltage or encoder), the DAC output of each feedback loop,
// the BPM each loop takes its input from, and a beam-off threshold per BPM.
//
// "Save" stores every setting in the configuration file first and sends it
// to the controller second; nothing is sent while editing, except by the
// panels' high-voltage buttons. The window is created once and kept; it
// refreshes the high-voltage readback every 770 ms for its whole life.
class WindowBeamlineConf : public QDialog
{
    Q_OBJECT

public:
    explicit WindowBeamlineConf(QWidget* parent = nullptr);
    ~WindowBeamlineConf() override;

    // Applies the user level, reloads both BPM panels from the configuration
    // file and shows the window (non-modal).
    void showWindow();

    // Closes only after a save that went through.
    void accept() override;

signals:
    // After a save: the scale factors may have changed...
    void BPMscaleChanged();
    // ...and so may the BPM that feeds each loop.
    void BPMselectorChanged();

public slots:
    // The number of picoammeter-class devices (picoammeters and encoder
    // interfaces together) has changed: the BPM 2 panel and source buttons
    // appear for exactly two, and an encoder interface swaps the panels'
    // high-voltage block for the encoder settings.
    void nr_dorvishs_changed(int n);
    // Levels 0 and 1 may choose the PID sources only; level 2 everything.
    void checkUserLevel();

private slots:
    void sendSettings(QAbstractButton* button);
    void refreshFields();

private:
    void loadBpm(BPM* panel);
    // Each step stores first and sends second; false when a store failed.
    bool saveSettings();
    bool saveThreshold(int bpm, const QDoubleSpinBox* box);
    bool saveBpm(const BPM* panel);

    std::unique_ptr<Ui::WindowBeamlineConf> ui;
    QTimer* m_refreshTimer = nullptr;
    bool savedOk = false;
};
