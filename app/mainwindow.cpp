#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "acquisition/postmortemcapture.h"
#include "acquisition/updater.h"
#include "beamline/about.h"
#include "beamline/windowbeamlineconf.h"
#include "beamline/windowpico.h"
#include "beamline/windowsfpstatus.h"
#include "control/dialoglogin.h"
#include "control/widgetfeedbackcontrol.h"
#include "control/windowmanoutctrl.h"
#include "control/windowpidparams.h"
#include "control/windowroc_roi.h"
#include "device/globals.h"
#include "device/mailboxcomm.h"
#include "measure/windowbeamstability.h"
#include "measure/windowpostmortem.h"
#include "measure/windowrocking3d.h"
#include "measure/windowrockingcurve.h"
#include "measure/windowsavedata.h"
#include "measure/windowstepresponse.h"
#include "plots/widgetgraphcurrents.h"
#include "plots/widgetgraphfft.h"
#include "plots/widgetgraphpos.h"
#include "plots/widgetgraphxy.h"
#include "plots/windowdisplaysettings.h"
#include "remote/remotebridge.h"
#include "remote/windowremoteaccess.h"

#include <QCoreApplication>
#include <QDockWidget>
#include <QStatusBar>

namespace
{
const QString kTitle = QStringLiteral("ZEVO Local User Interface v1.0");

// How long an accepted remote write stays in the status bar.
constexpr int kRemoteMessageMs = 15000;

// Controllers up to this software version have no display-rate commands.
const QString kLastVersionWithoutDisplayRate = QStringLiteral("1.0.02");

bool encoderInterfacePresent()
{
    return theMailbox && theMailbox->pavunPresent();
}
} // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    ui->centralWidget->deleteLater();
    setCentralWidget(nullptr);
    setWindowTitle(kTitle);

    takeDisplayFrequencyFromController();

    const bool encoder = encoderInterfacePresent();
    ui->actionPico_Amp->setVisible(!encoder);

    m_xy1 = new WidgetGraphXY(0, this);
    m_xy2 = new WidgetGraphXY(1, this);
    m_fft = new WidgetGraphFFT(this);
    m_feedbackPanel = new WidgetFeedbackControl(this);
    m_beamlineConf = new WindowBeamlineConf(this);
    m_pidParams = new WindowPIDparams(this);
    m_rocRoi = new WindowROC_ROI(this);
    m_displaySettings = new WindowDisplaySettings(this);
    m_manOutCtrl = new WindowManOutCtrl(this);
    m_pico = new WindowPico(this);
    m_sfpStatus = new WindowSFPstatus(this);
    m_stepResponse = new WindowStepResponse(this);
    m_stepResponse->setPidWindow(m_pidParams);
    m_remoteBridge = new RemoteBridge(
        [](uint16_t id) {
            return WindowSFPstatus::deviceName(
                QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0')));
        },
        this);
    m_remoteAccess = new WindowRemoteAccess(m_remoteBridge, this);

    ui->dockXY1->setWidget(m_xy1);
    ui->dockXY2->setWidget(m_xy2);
    ui->dockFFT->setWidget(m_fft);
    // The form's empty contents only held the dock's place.
    delete ui->dockFBctrlContents;
    ui->dockFBctrlContents = nullptr;
    ui->dockFBctrl->setWidget(m_feedbackPanel);
    if (theMailbox && theMailbox->deviceCount() == 1)
        ui->dockXY2->hide();

    connectActions();

    buildXYPlots();
    if (theUpdater) {
        theUpdater->setGraphData(Updater::KindFFT, 0, m_fft->graphData());
        connect(theUpdater, &Updater::replotGraphs, m_fft, &WidgetGraphFFT::replot);
    }
    buildTimePlots(encoder);
    wireRemoteAccess();
    wirePostMortem();

    // The feedback panel starts from the controller's regulation mode,
    // setpoints and feedback state. The mode also reaches the XY plots
    // (somethingChanged), so they draw the present setpoint from the start;
    // later changes arrive from the panel and from clicks in the plots.
    if (theMailbox) {
        m_feedbackPanel->confChanged(theMailbox->readRegulationMode());
        m_feedbackPanel->updateXYfields();
        m_feedbackPanel->updateHeartbeat(zevo::PID_Status_Type(theMailbox->pidStatus()));
    }

    if (theMailbox)
        theMailbox->announceDeviceCount();
    handleUserLevelChange(userLevel);
}

// QWidget's destructor closes the window and hides the docks; by then this is
// no longer a MainWindow, so the dock signals must not reach its slots.
MainWindow::~MainWindow()
{
    disconnect(ui->dockFFT, &QDockWidget::visibilityChanged, this, &MainWindow::dockDestroyed);
}

// The display rate is taken from the controller only where it can be set;
// older controllers stream at a fixed 1000 records per second.
void MainWindow::takeDisplayFrequencyFromController()
{
    const bool settable = kLastVersionWithoutDisplayRate < controllerVersions.swVersion;
    if (settable && theMailbox) {
        const int hz = int(theMailbox->readDisplayFrequency());
        SAMP_FREQ = hz > 0 ? hz : 1000; // a controller that reports no rate keeps the default
    } else {
        SAMP_FREQ = 1000;
    }
    ui->action_Display_Settings->setVisible(settable);
}

void MainWindow::connectActions()
{
    connect(ui->action_Exit, &QAction::triggered, this, &MainWindow::Exit);
    connect(ui->action_Display_Settings, &QAction::triggered, this, &MainWindow::showDispSettings);
    connect(ui->actionPico_Amp, &QAction::triggered, this, &MainWindow::showPicoWindow);
    connect(ui->action_Beamline_Settings, &QAction::triggered, this, &MainWindow::showBeamlineConf);
    connect(ui->action_PID_Parameters, &QAction::triggered, this, &MainWindow::showPIDparams);
    connect(ui->action_ROC_ROI, &QAction::triggered, this, &MainWindow::showROCwindow);
    connect(ui->actionSFP_info, &QAction::triggered, this, &MainWindow::showSFPinfo);
    connect(ui->action_Login, &QAction::triggered, this, &MainWindow::showLoginDialog);
    connect(ui->action_Rocking_Curve, &QAction::triggered, this, &MainWindow::showRockCurve);
    connect(ui->actionRocking_Curve_3D, &QAction::triggered, this, &MainWindow::showRockCurve3D);
    connect(ui->actionStep_Response, &QAction::triggered, this, &MainWindow::showStepResponse);
    connect(ui->actionManual_Output_Control, &QAction::triggered, this,
            &MainWindow::showManualOutputControl);
    connect(ui->action_Save_Data, &QAction::triggered, this, &MainWindow::showSaveDataWindow);
    connect(ui->action_About, &QAction::triggered, this, &MainWindow::showAboutDialog);
    connect(ui->action_Remote_Access, &QAction::triggered, this, &MainWindow::showRemoteAccess);
    connect(ui->actionBeam_Stability, &QAction::triggered, this, &MainWindow::showBeamStability);
    connect(ui->actionPost_Mortem, &QAction::triggered, this, &MainWindow::showPostMortem);
    connect(ui->dockFFT, &QDockWidget::visibilityChanged, this, &MainWindow::dockDestroyed);
    if (theMailbox) {
        connect(theMailbox, &MailboxComm::nrDorvishsChanged, this,
                &MainWindow::nr_dorvishs_changed);
        connect(theMailbox, &MailboxComm::nrDorvishsChanged, m_beamlineConf,
                &WindowBeamlineConf::nr_dorvishs_changed);
        connect(theMailbox, &MailboxComm::nrDorvishsChanged, m_rocRoi,
                &WindowROC_ROI::nrDorvishChanged);
        connect(theMailbox, &MailboxComm::nrDorvishsChanged, m_feedbackPanel,
                &WidgetFeedbackControl::nr_dorvishs_changed);
    }
}

void MainWindow::buildXYPlots()
{
    for (WidgetGraphXY* plot : {m_xy1, m_xy2}) {
        if (theUpdater) {
            theUpdater->setGraphData(plot->bpm() == 0 ? Updater::KindXY1 : Updater::KindXY2, 0,
                                     plot->graphData());
            connect(theUpdater, &Updater::replotGraphs, plot, &WidgetGraphXY::replot);
        }
        // New setpoints or mode from the panel redraw the setpoint; a
        // setpoint clicked into the plot shows in the panel's fields.
        connect(m_feedbackPanel, &WidgetFeedbackControl::somethingChanged, plot,
                &WidgetGraphXY::updateGraphXY);
        connect(plot, &WidgetGraphXY::XYchanged, m_feedbackPanel,
                &WidgetFeedbackControl::updateXYfields);
        // A saved beamline configuration may bring new scale factors (the
        // regions change size) and new loop sources (the setpoint moves to
        // the other BPM's plot).
        connect(m_beamlineConf, &WindowBeamlineConf::BPMscaleChanged, plot,
                &WidgetGraphXY::resetZoom);
        connect(m_beamlineConf, &WindowBeamlineConf::BPMselectorChanged, plot,
                &WidgetGraphXY::updateGraphXY);
        plot->resetZoom();
    }
}

QDockWidget* MainWindow::addBottomDock(const QString& objectName, const QString& title,
                                       QWidget* content)
{
    auto* dock = new QDockWidget(title, this);
    dock->setObjectName(objectName);
    dock->setWidget(content);
    addDockWidget(Qt::BottomDockWidgetArea, dock);
    tabifyDockWidget(ui->dockFFT, dock);
    return dock;
}

void MainWindow::buildTimePlots(bool encoder)
{
    const QString time = QStringLiteral("Time [s]");
    const QString current = QStringLiteral("Current [A]");

    m_currents1 = new WidgetGraphCurrents(this, encoder ? 2 : 4);
    m_currents2 = new WidgetGraphCurrents(this, 4);
    m_dac = new WidgetGraphCurrents(this, encoder ? 2 : 3);
    m_pos1 = new WidgetGraphPos(this);
    m_pos2 = new WidgetGraphPos(this);

    addBottomDock(QStringLiteral("dockCurrents1"),
                  encoder ? QStringLiteral("Graph Encoder Counts")
                          : QStringLiteral("Graph Currents BPM1"),
                  m_currents1);
    if (encoder) {
        m_currents1->setLabels(time, QStringLiteral("Counts"),
                               {QStringLiteral("Enc1"), QStringLiteral("Enc2")});
        m_currents1->setYNumberFormat(QStringLiteral("f"), 0);
    } else {
        m_currents1->setLabels(time, current,
                               {QStringLiteral("Dorvish Ch1"), QStringLiteral("Dorvish Ch2"),
                                QStringLiteral("Dorvish Ch3"), QStringLiteral("Dorvish Ch4")});
    }

    m_dockCurrents2 = addBottomDock(QStringLiteral("dockCurrents2"),
                                    QStringLiteral("Graph Currents BPM2"), m_currents2);
    m_dockCurrents2->hide();
    m_currents2->setLabels(time, current,
                           {QStringLiteral("Dorvish2 Ch1"), QStringLiteral("Dorvish2 Ch2"),
                            QStringLiteral("Dorvish2 Ch3"), QStringLiteral("Dorvish2 Ch4")});

    addBottomDock(QStringLiteral("dockDAC"), QStringLiteral("Graph DAC"), m_dac);
    QStringList dacNames{QStringLiteral("DAC Ch1"), QStringLiteral("DAC Ch2")};
    if (!encoder)
        dacNames << QStringLiteral("DAC Ch3");
    m_dac->setLabels(time, QStringLiteral("Voltage [V]"), dacNames);

    addBottomDock(QStringLiteral("dockPosition1"), QStringLiteral("Graph Position"), m_pos1);
    m_dockPos2 =
        addBottomDock(QStringLiteral("dockPosition2"), QStringLiteral("Graph Position 2"), m_pos2);
    m_dockPos2->hide();
    ui->dockFFT->raise();

    if (!theUpdater)
        return;
    // Encoder interfaces deliver two counts per picoammeter slot, and use the
    // third DAC output's record field for something else.
    const int currentSlots = encoder ? 2 : 4;
    for (int slot = 0; slot < currentSlots; ++slot)
        theUpdater->setGraphData(Updater::KindCurrents1, slot, m_currents1->graphData(slot));
    for (int slot = 0; slot < 4; ++slot)
        theUpdater->setGraphData(Updater::KindCurrents2, slot, m_currents2->graphData(slot));
    for (int slot = 0; slot < (encoder ? 2 : 3); ++slot)
        theUpdater->setGraphData(Updater::KindDac, slot, m_dac->graphData(slot));
    for (int slot = 0; slot < 3; ++slot) {
        theUpdater->setGraphData(Updater::KindPosition1, slot, m_pos1->graphData(slot));
        theUpdater->setGraphData(Updater::KindPosition2, slot, m_pos2->graphData(slot));
    }
    connect(theUpdater, &Updater::replotGraphs, m_currents1, &WidgetGraphCurrents::replot);
    connect(theUpdater, &Updater::replotGraphs, m_currents2, &WidgetGraphCurrents::replot);
    connect(theUpdater, &Updater::replotGraphs, m_dac, &WidgetGraphCurrents::replot);
    connect(theUpdater, &Updater::replotGraphs, m_pos1, &WidgetGraphPos::replot);
    connect(theUpdater, &Updater::replotGraphs, m_pos2, &WidgetGraphPos::replot);
}

void MainWindow::wireUserLevel(DialogLogin* login)
{
    connect(login, &DialogLogin::userLevelChanged, this, &MainWindow::handleUserLevelChange);
    connect(login, &DialogLogin::userLevelChanged, m_beamlineConf,
            &WindowBeamlineConf::checkUserLevel);
    connect(login, &DialogLogin::userLevelChanged, m_pidParams, &WindowPIDparams::checkUserLevel);
    connect(login, &DialogLogin::userLevelChanged, m_rocRoi, &WindowROC_ROI::checkUserLevel);
    connect(login, &DialogLogin::userLevelChanged, m_feedbackPanel,
            &WidgetFeedbackControl::checkUserLevel);
    connect(login, &DialogLogin::userLevelChanged, m_remoteAccess,
            &WindowRemoteAccess::checkUserLevel);
}

// Remote writes show at once where the operator looks: the panel's fields,
// lamp and regulation boxes, the setpoint in the XY plots, the status bar.
void MainWindow::wireRemoteAccess()
{
    connect(m_remoteBridge, &RemoteBridge::feedbackSwitched, m_feedbackPanel,
            &WidgetFeedbackControl::refreshFields);
    connect(m_remoteBridge, &RemoteBridge::setpointsChanged, m_feedbackPanel,
            &WidgetFeedbackControl::updateXYfields);
    for (WidgetGraphXY* plot : {m_xy1, m_xy2})
        connect(m_remoteBridge, &RemoteBridge::setpointsChanged, plot,
                &WidgetGraphXY::updateGraphXY);
    // The panel passes the mode on to the XY plots.
    connect(m_remoteBridge, &RemoteBridge::regulationModeChanged, m_feedbackPanel,
            &WidgetFeedbackControl::confChanged);
    connect(m_remoteBridge, &RemoteBridge::writeAccepted, this,
            [this](const QString& text) { statusBar()->showMessage(text, kRemoteMessageMs); });
}

// After each capture the status bar names the file; a capture that could not
// be saved says why, once for each reason, so that a folder that stays
// unwritable does not repeat itself at every trip.
void MainWindow::wirePostMortem()
{
    m_postMortem = new PostMortemCapture(this);
    m_remoteBridge->setPostMortem(m_postMortem);
    connect(m_postMortem, &PostMortemCapture::captured, this, [this](const PostMortemEvent& event) {
        if (event.saved) {
            m_lastPostMortemFailure.clear();
            statusBar()->showMessage(QStringLiteral("Post-mortem saved: ") + event.path);
        } else if (event.reason != m_lastPostMortemFailure) {
            m_lastPostMortemFailure = event.reason;
            statusBar()->showMessage(QStringLiteral("Post-mortem not saved: ") + event.reason);
        }
    });
}

void MainWindow::nr_dorvishs_changed(int count)
{
    const bool second = count == 2;
    ui->dockXY2->setVisible(second);
    m_dockCurrents2->setVisible(second);
    m_dockPos2->setVisible(second);
    ui->actionPico_Amp->setVisible(!encoderInterfacePresent());
}

void MainWindow::showBeamlineConf()
{
    m_beamlineConf->showWindow();
}

// Tool windows that are not built yet keep their actions, which show nothing.
void MainWindow::dockDestroyed() {}

// A new window on each opening, gone again when it is closed; several may be
// open at once, each with its own channels, comment and file.
void MainWindow::showSaveDataWindow()
{
    auto* window = new WindowSaveData(this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
}

// A new window on each opening, gone when it is closed; a scan running in it
// ends with it and hands the outputs back to the controller.
void MainWindow::showRockCurve()
{
    auto* window = new WindowRockingCurve(this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
}

// A new window on each opening, gone when it is closed; a scan running in it
// ends with it and hands the outputs back to the controller.
void MainWindow::showRockCurve3D()
{
    auto* window = new WindowRocking3D(this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
}

// The kept window: its last results stay until the next run.
void MainWindow::showStepResponse()
{
    m_stepResponse->showWindow();
}

void MainWindow::showSFPinfo()
{
    m_sfpStatus->show();
    m_sfpStatus->raise();
    m_sfpStatus->activateWindow();
}

void MainWindow::showPicoWindow()
{
    m_pico->show();
    m_pico->raise();
    m_pico->activateWindow();
}

// A new dialog on each opening, gone again when it is closed, so that
// opening it many times over a long run does not pile up hidden windows.
void MainWindow::showAboutDialog()
{
    auto* dialog = new about(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}

void MainWindow::Exit()
{
    QCoreApplication::exit(0);
}

void MainWindow::showDispSettings()
{
    m_displaySettings->showWindow();
}

void MainWindow::showPIDparams()
{
    m_pidParams->showWindow();
}

void MainWindow::showROCwindow()
{
    m_rocRoi->setUpdater(theUpdater);
    m_rocRoi->setBeamlineConf(m_beamlineConf);
    m_rocRoi->setGraphXY(0, m_xy1);
    m_rocRoi->setGraphXY(1, m_xy2);
    m_rocRoi->showWindow();
}

// Opening the dialog re-applies the present level: at level 1 or 2 this takes
// the operator lock again and tells every window once more.
void MainWindow::showLoginDialog()
{
    if (!theLogin)
        return;
    theLogin->applyUserLevel();
    theLogin->show();
    theLogin->raise();
    theLogin->activateWindow();
}

void MainWindow::showManualOutputControl()
{
    m_manOutCtrl->showWindow();
}

void MainWindow::showRemoteAccess()
{
    m_remoteAccess->showWindow();
}

void MainWindow::showBeamStability()
{
    if (!m_beamStability)
        m_beamStability = new WindowBeamStability(this);
    m_beamStability->showWindow();
}

void MainWindow::showPostMortem()
{
    if (!m_postMortemWindow)
        m_postMortemWindow = new WindowPostMortem(m_postMortem, this);
    m_postMortemWindow->showWindow();
}

void MainWindow::handleUserLevelChange(int user_level)
{
    const bool admin = user_level == 2;
    const bool user = user_level == 1;
    if (admin || !user) {
        // Level 1 leaves the measurement actions as they were.
        ui->action_Rocking_Curve->setEnabled(admin);
        ui->actionRocking_Curve_3D->setEnabled(admin);
        ui->actionStep_Response->setEnabled(admin);
    }
    ui->actionManual_Output_Control->setEnabled(admin || user);
}
