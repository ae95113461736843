#pragma once

#include <QDialog>
#include <QPointer>

#include <memory>

class QAbstractButton;
class QCheckBox;
class Updater;
class WidgetGraphXY;
class WidgetRoc;
class WindowBeamlineConf;

namespace Ui
{
class WindowROC_ROI;
}

// "ROC/ROI Settings": per BPM the region of interest, the region of control
// (a percentage of the ROI) and the intensity bounds, and the controller's
// position and beam-off checks. OK and Apply store the regions, draw them on
// the BPM's XY plot, send the ROC limits (converted to controller units with
// the BPM scale factors) and the six check enables, for an administrator
// (user level 2) only.
class WindowROC_ROI : public QDialog
{
    Q_OBJECT

public:
    explicit WindowROC_ROI(QWidget* parent = nullptr);
    ~WindowROC_ROI() override;

    // Handed over by the main window before each showing. The updater and the
    // beamline configuration window are kept for the window's owner; either
    // may be null. A BPM without a plot gets its regions stored and sent,
    // just not drawn.
    void setUpdater(Updater* updater);
    void setBeamlineConf(WindowBeamlineConf* beamlineConf);
    void setGraphXY(int bpm, WidgetGraphXY* plot);

    // Applies the user level, loads the stored regions and shows the dialog
    // (non-modal).
    void showWindow();

public slots:
    void sendROCconf(QAbstractButton* button);
    void checkUserLevel();
    void nrDorvishChanged(int nrDorvishs);

private:
    WidgetRoc* panel(int bpm) const;
    bool storeBpm(int bpm);
    void sendBpm(int bpm);
    void readEnables();

    std::unique_ptr<Ui::WindowROC_ROI> ui;
    Updater* m_updater = nullptr;
    WindowBeamlineConf* m_beamlineConf = nullptr;
    QPointer<WidgetGraphXY> m_graphXY[2];
    int m_nrDorvishs = 1;
};
