#pragma once

#include "analysis/realfft.h"
#include "device/stabilitysettings.h"
#include "export/stabilityfile.h"

#include <QDialog>

#include <memory>

namespace Ui
{
class WindowBeamStability;
}

class PlotRedraw;
class QCPGraph;

// "Beam Stability": how much the beam moves at one BPM and where the motion
// comes from, from the display records of every cycle. The power spectral
// densities of X and Y on log-log axes with their integrated RMS, the RMS in
// frequency bands (in micrometres and, with a beam size set, as a share of
// it, the bands over the limit marked), the strongest lines, and a held
// reference: its spectra drawn under the live ones and the ratio live /
// reference per band, which with the reference taken with the feedback off
// is the feedback's suppression. Sends nothing to the controller; only the
// [Stability] settings it is judged against need an administrator.
//
// It computes only while it is shown, whenever the display cycles have
// brought half a segment of new records (every third cycle at the default
// 1000 records per second). Created by the main window on first use and kept.
class WindowBeamStability : public QDialog
{
    Q_OBJECT

public:
    explicit WindowBeamStability(QWidget* parent = nullptr);
    ~WindowBeamStability() override;

    // Reads the settings, analyses the last display buffer and shows the
    // window (non-modal).
    void showWindow();

    // The last buffer analysed; its spectra are not valid before the first.
    const StabilityRecord& live() const { return m_live; }
    bool referenceHeld() const { return m_reference.x.valid(); }
    const StabilityRecord& reference() const { return m_reference; }

    // Writes the live analysis (and the reference) as a NeXus file for a
    // path ending in .nxs, as CSV otherwise; a failure is shown in a
    // message box. False when nothing was written.
    bool writeFile(const QString& path);

public slots:
    void checkUserLevel();
    // Analyses the display updater's last buffer, when the window is shown.
    void refresh();
    // After each display cycle: refresh() once half a segment of new
    // records has arrived since the last refresh.
    void displayCycle();
    void holdReference();
    void clearReference();

private:
    void setupPlot();
    void setupTables();
    void loadSettings();
    void applySettings();
    void save();
    void offerPresentBpms();
    void analyse();
    void showPlot();
    void showBands();
    void showLines();
    // Whether the held reference belongs to the live BPM and bins.
    bool referenceComparable() const;

    std::unique_ptr<Ui::WindowBeamStability> ui;
    RealFft m_fft;
    StabilitySettings m_settings;
    StabilityRecord m_live;
    StabilityRecord m_reference;
    PlotRedraw* m_redraw = nullptr;
    QCPGraph* m_psd[2] = {};
    QCPGraph* m_referencePsd[2] = {};
    QCPGraph* m_integrated[2] = {};
    int m_cyclesSinceRefresh = 0;
};
