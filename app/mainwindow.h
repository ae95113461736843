#pragma once

#include <QMainWindow>

#include <memory>

namespace Ui
{
class MainWindow;
}

class DialogLogin;
class PostMortemCapture;
class QDockWidget;
class RemoteBridge;
class WidgetGraphCurrents;
class WidgetGraphFFT;
class WidgetGraphPos;
class WidgetGraphXY;
class WidgetFeedbackControl;
class WindowBeamStability;
class WindowBeamlineConf;
class WindowDisplaySettings;
class WindowPIDparams;
class WindowRemoteAccess;
class WindowROC_ROI;
class WindowManOutCtrl;
class WindowPico;
class WindowPostMortem;
class WindowSFPstatus;
class WindowStepResponse;

// The one top-level window. Everything lives in docks: the XY plots and the
// feedback panel at the top, the spectrum and the time plots as tabs at the
// bottom. It builds the plots once, registers their series with the display
// updater, follows the number of picoammeters and gates the tool actions by
// user level.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    WidgetGraphXY* graphXY(int bpm) const { return bpm == 0 ? m_xy1 : m_xy2; }
    WindowBeamlineConf* beamlineConf() const { return m_beamlineConf; }
    // What the remote interface's server reads and hands its requests to.
    RemoteBridge* remoteBridge() const { return m_remoteBridge; }
    // Captures the display records around each trip of the feedback.
    PostMortemCapture* postMortem() const { return m_postMortem; }

    // Connects the login dialog's userLevelChanged() to every level-aware
    // window and to handleUserLevelChange(); called once at start-up.
    void wireUserLevel(DialogLogin* login);

public slots:
    void nr_dorvishs_changed(int count);
    void showBeamlineConf();
    void showSFPinfo();
    void dockDestroyed();
    void showPIDparams();
    void showRockCurve();
    void showROCwindow();
    void showRockCurve3D();
    void showPicoWindow();
    void showSaveDataWindow();
    void showLoginDialog();
    void showAboutDialog();
    void Exit();
    void showStepResponse();
    void showDispSettings();
    void handleUserLevelChange(int user_level);
    void showManualOutputControl();
    void showRemoteAccess();
    void showBeamStability();
    void showPostMortem();

private:
    void takeDisplayFrequencyFromController();
    QDockWidget* addBottomDock(const QString& objectName, const QString& title, QWidget* content);
    void buildXYPlots();
    void buildTimePlots(bool encoder);
    void connectActions();
    void wireRemoteAccess();
    void wirePostMortem();

    std::unique_ptr<Ui::MainWindow> ui;

    WidgetGraphXY* m_xy1 = nullptr;
    WidgetGraphXY* m_xy2 = nullptr;
    WidgetGraphFFT* m_fft = nullptr;
    WidgetFeedbackControl* m_feedbackPanel = nullptr;
    WidgetGraphCurrents* m_currents1 = nullptr;
    WidgetGraphCurrents* m_currents2 = nullptr;
    WidgetGraphCurrents* m_dac = nullptr;
    WidgetGraphPos* m_pos1 = nullptr;
    WidgetGraphPos* m_pos2 = nullptr;
    WindowBeamlineConf* m_beamlineConf = nullptr;
    WindowPIDparams* m_pidParams = nullptr;
    WindowROC_ROI* m_rocRoi = nullptr;
    WindowDisplaySettings* m_displaySettings = nullptr;
    WindowManOutCtrl* m_manOutCtrl = nullptr;
    WindowPico* m_pico = nullptr;
    WindowSFPstatus* m_sfpStatus = nullptr;
    WindowStepResponse* m_stepResponse = nullptr;
    RemoteBridge* m_remoteBridge = nullptr;
    WindowRemoteAccess* m_remoteAccess = nullptr;
    // Made when first opened.
    WindowBeamStability* m_beamStability = nullptr;
    WindowPostMortem* m_postMortemWindow = nullptr;
    PostMortemCapture* m_postMortem = nullptr;
    QString m_lastPostMortemFailure; // said once in the status bar

    QDockWidget* m_dockCurrents2 = nullptr;
    QDockWidget* m_dockPos2 = nullptr;
};
