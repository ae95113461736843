// The GUI-thread side of the remote interface over a scripted controller:
// the [Remote] settings, the snapshot in the panel's units, requests from a
// foreign thread carried out on the GUI thread with the panel's operations
// (and never late or after the end), the panel and the status bar showing
// them at once, and the Remote Access window. (Every request refused without
// permission is driven through the real server in tst_remoteserver.)

#include "app/initresources.h"
#include "app/mainwindow.h"
#include "control/widgetfeedbackcontrol.h"
#include "remote/remotebridge.h"
#include "remote/remotesettings.h"
#include "remote/windowremoteaccess.h"
#include "support/programfixture.h"
#include "support/screenshot.h"
#include "support/widgets.h"

#include <QAction>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QStatusBar>

#include <QtTest>

#include <algorithm>
#include <future>

using namespace zevo;
using Op = RemoteBridge::Operation;
using Outcome = RemoteBridge::Outcome;

class TestRemoteBridge : public QObject
{
    Q_OBJECT

    std::unique_ptr<ProgramFixture> m_program;
    std::unique_ptr<MainWindow> m_window;
    ScriptedController* c = nullptr; // keeps what is written to it

    RemoteBridge& bridge() { return *m_window->remoteBridge(); }
    // Messages that write to the controller (reads keep the snapshot fresh).
    int writesSent() const
    {
        int n = 0;
        for (const MailboxMessage& m : m_program->driver.transfers())
            n += (m.command() & 0xFF) == 0x00;
        return n;
    }

    // A request as the server's threads make it; the GUI thread keeps
    // serving its events meanwhile.
    RemoteBridge::Reply fromServerThread(Op op, double value = 0.0, int timeoutMs = 2000)
    {
        auto reply = std::async(std::launch::async, [&] {
            return bridge().perform({op, value}, QStringLiteral("10.0.0.7:4711"), timeoutMs);
        });
        while (reply.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
            QCoreApplication::processEvents();
        return reply.get();
    }
    int outcome(Op op, double value = 0.0) { return int(fromServerThread(op, value).outcome); }

private slots:
    void init()
    {
        initResources();
        m_program = std::make_unique<ProgramFixture>();
        c = &m_program->controller;
        c->plug({0x2101, 0x2101, 0x2200, 0});
        c->keepsWrites = true;
        const double setpoints[] = {0.25, -0.5, 2e-6}; // raw X, Y; I0 in amperes
        std::copy(setpoints, setpoints + 3, c->setpoints);
        m_program->setUp();
        userLevel = 0;
        m_window = std::make_unique<MainWindow>();
        m_program->driver.clearCalls();
    }

    void cleanup()
    {
        m_window.reset();
        m_program->tearDown();
        m_program.reset();
        bpmScale = BpmScaleFactors();
        pidSourceX = pidSourceY = pidSourceI0 = 0;
        userLevel = 0;
    }

    // The [Remote] group read strictly (what is not plainly on is off), and
    // the check of its values naming what is wrong. (That saving it changes
    // no other key, whatever the file holds: fuzz_configstore.)
    void storeReadsRemoteGroupStrictly_checkNamesWhatIsWrong()
    {
        ConfigStore& store = *m_program->config;
        const RemoteSettings fresh = store.getRemote();
        QVERIFY(!fresh.enabled && !fresh.controlAllowed);
        QCOMPARE(QStringList({fresh.address, QString::number(fresh.port), fresh.deviceName}),
                 QStringList({"127.0.0.1", "10000", "zevo/feedback/1"}));

        {
            QSettings file(store.filePath(), QSettings::IniFormat);
            file.setValue("Remote/Enabled", "yes"); // only true or 1 switch on
            file.setValue("Remote/ControlAllowed", "on");
            file.setValue("Remote/Port", "ten");
        }
        const RemoteSettings read = store.getRemote();
        QVERIFY(!read.enabled && !read.controlAllowed);
        QCOMPARE(read.port, 0); // refused by the check, which names the port
        QVERIFY(remotesettings::problem(read).contains(QStringLiteral("port 0")));

        // The check names what is wrong.
        // clang-format off
        const std::tuple<const char*, int, const char*, const char*> cases[] = {
            {"127.0.0.1", 10000, "zevo/feedback/1", ""}, {"0.0.0.0", 65535, "x/y/z", ""},
            {"localhost", 10000, "a/b/c", "IPv4"},       {"127.0.0.1", 65536, "a/b/c", "65536"},
            {"127.0.0.1", 10000, "a b/c/d", "domain/family"},
            {"127.0.0.1", 10000, "zevo/feedback", "domain/family"}};
        // clang-format on
        for (const auto& [address, port, name, complaint] : cases) {
            const QString problem =
                remotesettings::problem({true, address, port, name, false, {}, {}});
            QVERIFY2(*complaint ? problem.contains(complaint) : problem.isEmpty(),
                     qPrintable(problem));
        }
    }

    // Setpoints in micrometres of the BPM that feeds the loop, as the panel
    // enters them; the local panel, lamp and status bar show every write.
    void allowedRequestsRunWithThePanelsOperations_neverLateUnallowedOrAfterTheEnd()
    {
        auto* panel = m_window->findChild<WidgetFeedbackControl*>();
        pidSourceX = 1;
        bpmScale.set(1, 2.0, 4.0);
        bpmScale.set(0, 8.0, 8.0);
        bridge().setControlAllowed(true);

        QCOMPARE(outcome(Op::SetpointX, 100.0), int(Outcome::Done));
        // 100 um / BPM 2's Scale_X; Y and I0 as the controller holds them.
        QVector<double> setpoints;
        for (const MailboxMessage& m : m_program->sent(cmd::SetSetpoint))
            setpoints << m.f64(8);
        QCOMPARE(setpoints, QVector<double>({50.0, -0.5, 2e-6}));
        QCOMPARE(panel->findChild<QDoubleSpinBox*>("posXDoubleSpinBox")->value(), 100.0);
        QCOMPARE(m_window->statusBar()->currentMessage(),
                 QStringLiteral("Remote write from 10.0.0.7:4711: SetpointX = 100 um"));

        QCOMPARE(outcome(Op::SetpointI0, 3e-7), int(Outcome::Done));
        QCOMPARE(QVector<double>({c->setpoints[2], c->setpoints[0]}), QVector<double>({3e-7, 50}));

        QCOMPARE(outcome(Op::FeedbackOn), int(Outcome::Done));
        QCOMPARE(m_program->sent(cmd::SetFeedbackEnabled).back().u8(4), 1);

        QCOMPARE(outcome(Op::RegulationMode, MODE_Y_I0), int(Outcome::Done));
        QCOMPARE(m_program->sent(cmd::SetRegulationMode).back().u8(4), MODE_Y_I0);
        QVERIFY(panel->findChild<QCheckBox*>("confI0checkbox")->isChecked());

        QCOMPARE(outcome(Op::ResetPid), int(Outcome::Done));
        QCOMPARE(int(m_program->sent(cmd::ResetPidController).size()), 1);
        QCOMPARE(userLevel, 0); // remote control never logs anybody in

        // Requests never run when invalid, late, unallowed or after the end.
        m_program->driver.clearCalls();
        m_window->statusBar()->clearMessage();
        const std::pair<Op, double> invalid[] = {
            {Op::SetpointY, NAN},    {Op::SetpointY, 1e5},    {Op::SetpointY, -1e5},
            {Op::SetpointI0, -1e-9}, {Op::RegulationMode, 7}, {Op::RegulationMode, 2.5}};
        for (const auto& [op, value] : invalid)
            QCOMPARE(outcome(op, value), int(Outcome::Invalid));

        // The GUI thread is held (a measurement): the request gives up and
        // is never carried out afterwards.
        auto held = std::async(std::launch::async, [&] {
            return bridge().perform({Op::FeedbackOn}, QStringLiteral("c"), 100);
        });
        QCOMPARE(int(held.get().outcome), int(Outcome::Busy));
        // Control off: refused before it is queued, so a held GUI thread
        // does not keep the client waiting.
        bridge().setControlAllowed(false);
        auto unallowed = std::async(std::launch::async, [&] {
            return bridge().perform({Op::FeedbackOn}, QStringLiteral("c"), 100);
        });
        QCOMPARE(int(unallowed.get().outcome), int(Outcome::Refused));
        bridge().setControlAllowed(true);
        // Switched off by the operator while a request waits: refused.
        auto waiting = std::async(std::launch::async, [&] {
            return bridge().perform({Op::FeedbackOn}, QStringLiteral("c"), 5000);
        });
        QThread::msleep(50); // queued, not yet run: the GUI thread is busy here
        bridge().setControlAllowed(false);
        while (waiting.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
            QCoreApplication::processEvents();
        QCOMPARE(int(waiting.get().outcome), int(Outcome::Refused));

        // The program ends while a request waits: answered at once.
        bridge().setControlAllowed(true);
        QElapsedTimer clock;
        clock.start();
        auto ending = std::async(std::launch::async, [&] {
            return bridge().perform({Op::FeedbackOn}, QStringLiteral("c"), 5000);
        });
        QThread::msleep(50);
        bridge().close();
        QCOMPARE(int(ending.get().outcome), int(Outcome::Closed));
        QVERIFY(clock.elapsed() < 1000);
        QCOMPARE(outcome(Op::FeedbackOn), int(Outcome::Closed));

        QCoreApplication::processEvents();
        QCOMPARE(writesSent(), 0);
        QVERIFY(m_window->statusBar()->currentMessage().isEmpty());
    }

    // What clients read: the status block in micrometres by each BPM's own
    // scale, setpoints by the loops' source BPMs, the catalogue's names.
    void snapshotShowsTheControllerInThePanelsUnits()
    {
        MailboxStatusBlock block{};
        block.bpm[0] = {0.01, 0.002, 0.001, -0.02, 0.003, 0.001, 7e-5, 1e-7, 5e-8};
        block.bpm[1] = {0.5, 0.1, 0.05, 0.25, 0.2, 0.1, 3e-5, 2e-7, 1e-7};
        m_program->driver.setStatusBlock(block);
        c->pidStatus = PID_STATUS_BEAM_OFF;
        m_program->mailbox->refreshData();
        std::vector<DisplayRecord> records(4);
        records.back().value[disp::Dac1] = 5.1;
        records.back().value[disp::Dac1 + 2] = 6.0;
        m_program->driver.setDisplayRecords(records);
        BUFFER_BYTES = int(records.size()) * kDisplayRecordBytes;
        m_program->updater->updateGraphs();
        bpmScale.set(0, 1000.0, -1000.0);
        bpmScale.set(1, 2000.0, 500.0);
        pidSourceY = 1;
        controllerVersions = {QStringLiteral("1719835200"), QStringLiteral("1.0.03"),
                              QStringLiteral("1.2.05")};
        bridge().refresh();

        const RemoteSnapshot s = bridge().snapshot();
        QVERIFY(s.controllerPresent && s.bpm[1].present && s.bpm[1].intensity);
        // The standard deviation has the sign of the scale, as the panel shows it; the Y
        // setpoint is raw -0.5 at BPM 2, which feeds the Y loop.
        QCOMPARE(QVector<double>({s.bpm[0].x, s.bpm[0].y, s.bpm[0].yStdDev, s.bpm[1].x,
                                  s.bpm[1].xStdDev, s.bpm[1].i0, s.setpointX, s.setpointY,
                                  s.setpointI0, s.dac[0], s.dac[2]}),
                 QVector<double>({10, 20, -3, 1000, 200, 3e-5, 250, -250, 2e-6, 5.1, 6.0}));
        QCOMPARE(QVector<int>({s.pidStatus, s.dacCount, s.slotIds[0]}),
                 QVector<int>({PID_STATUS_BEAM_OFF, 3, 0x2101}));
        QCOMPARE(QStringList({s.slotNames[0], s.slotNames[2], s.slotNames[3], s.swVersion}),
                 QStringList({"Dorvish", "Ostrel", "", "1.0.03"}));

        // One picoammeter: no second BPM. An encoder interface: no
        // intensity and two DAC outputs.
        c->plug({0x2101, 0, 0x2200, 0x2301});
        m_program->mailbox->refreshData();
        bridge().refresh();
        QVERIFY(bridge().snapshot().bpm[0].present && !bridge().snapshot().bpm[1].present);
        QVERIFY(!bridge().snapshot().bpm[0].intensity);
        QCOMPARE(bridge().snapshot().dacCount, 2);
    }

    void windowGatesByLevel_controlAtOnce_serverAtNextStart()
    {
        auto* window = m_window->findChild<WindowRemoteAccess*>();
        m_window->findChild<QAction*>("action_Remote_Access")->trigger();
        QVERIFY(window->isVisible());
        auto* control = child<QCheckBox>(window, "controlAllowedCheckBox");
        QVERIFY(!control->isEnabled());
        control->setChecked(true); // what a script on the window could do
        QVERIFY(!bridge().controlAllowed());

        userLevel = 2;
        window->checkUserLevel();
        for (bool allowed : {true, false}) { // at once, and kept for the next start
            control->click();
            QCOMPARE(bridge().controlAllowed(), allowed);
            QCOMPARE(m_program->config->getRemote().controlAllowed, allowed);
        }

        child<QCheckBox>(window, "enabledCheckBox")->setChecked(true);
        child<QLineEdit>(window, "addressLineEdit")->setText(QStringLiteral("localhost"));
        {
            BoxCatcher catcher; // refused, with a reason
            click(window, "applyButton");
            QCOMPARE(int(catcher.boxes.size()), 1);
        }
        QVERIFY(!m_program->config->getRemote().enabled);
        child<QLineEdit>(window, "addressLineEdit")->setText(QStringLiteral("0.0.0.0"));
        click(window, "applyButton");
        QVERIFY(m_program->config->getRemote().enabled &&
                m_program->config->getRemote().address == QStringLiteral("0.0.0.0"));
        QVERIFY(!bridge().controlAllowed()); // the server part never touches the switch

        // The database and instance: a host without a port is refused, a
        // proper one kept for the next start.
        auto* database = child<QLineEdit>(window, "databaseLineEdit");
        database->setText(QStringLiteral("tango-db"));
        {
            BoxCatcher catcher;
            click(window, "applyButton");
            QCOMPARE(int(catcher.boxes.size()), 1);
        }
        QVERIFY(m_program->config->getRemote().database.isEmpty());
        database->setText(QStringLiteral("tango-db:10000"));
        child<QLineEdit>(window, "serverInstanceLineEdit")->setText(QStringLiteral("bl07"));
        click(window, "applyButton");
        QCOMPARE(QStringList({m_program->config->getRemote().database,
                              m_program->config->getRemote().serverInstance}),
                 QStringList({"tango-db:10000", "bl07"}));
        bridge().setServerState(RemoteBridge::ServerState::Running,
                                QStringLiteral("tango://tango-db:10000/zevo/feedback/1\nas the "
                                               "server ZevoLui/bl07 of the Tango database at "
                                               "tango-db:10000"));
        QVERIFY(child<QLabel>(window, "serverStateLabel")->text().contains("ZevoLui/bl07"));
        QCoreApplication::processEvents(); // the label's new height laid out
        QVERIFY(saveScreenshot(*window, QStringLiteral("remote-access.png")));

        // A server that could not start is reported once, without blocking.
        bridge().setServerState(RemoteBridge::ServerState::Failed,
                                QStringLiteral("Port 10000 on 127.0.0.1 is already in use"));
        QTRY_COMPARE(int(m_window->findChildren<QMessageBox*>().size()), 1);
        bridge().setServerState(RemoteBridge::ServerState::Failed, QStringLiteral("again"));
        QCOMPARE(int(m_window->findChildren<QMessageBox*>().size()), 1);
    }
};

QTEST_MAIN(TestRemoteBridge)
#include "tst_remotebridge.moc"
