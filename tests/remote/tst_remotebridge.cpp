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

#include <QAction>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QtTest>

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

private slots:
    void init()
    {
        initResources();
        m_program = std::make_unique<ProgramFixture>();
        c = &m_program->controller;
        c->plug({0x2101, 0x2101, 0x2200, 0});
        c->keepsWrites = true;
        c->setpoints[0] = 0.25;
        c->setpoints[1] = -0.5;
        c->setpoints[2] = 2e-6;
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

    void storeReadsRemoteGroupStrictlyAndWritesItApart()
    {
        ConfigStore& store = *m_program->config;
        const RemoteSettings fresh = store.getRemote();
        QVERIFY(!fresh.enabled && !fresh.controlAllowed);
        QCOMPARE(fresh.address, QStringLiteral("127.0.0.1"));
        QCOMPARE(fresh.port, 10000);
        QCOMPARE(fresh.deviceName, QStringLiteral("zevo/feedback/1"));

        QVERIFY(store.setScaleX(0, 3.5));
        {
            QSettings file(store.filePath(), QSettings::IniFormat);
            file.setValue("Remote/Enabled", "yes"); // only true or 1 switch on
            file.setValue("Remote/ControlAllowed", "on");
            file.setValue("Remote/Port", "ten");
        }
        RemoteSettings read = store.getRemote();
        QVERIFY(!read.enabled && !read.controlAllowed);
        QCOMPARE(read.port, 0); // refused by the check, which names the port
        QVERIFY(remotesettings::problem(read).contains(QStringLiteral("port 0")));

        read =
            RemoteSettings{true, QStringLiteral("0.0.0.0"), 10123, QStringLiteral("a/b/c"), false};
        QVERIFY(store.setRemoteServer(read));
        QVERIFY(store.setRemoteControlAllowed(true));
        const RemoteSettings back = store.getRemote();
        QVERIFY(back.enabled && back.controlAllowed);
        QCOMPARE(back.address, read.address);
        QCOMPARE(back.port, 10123);
        QCOMPARE(back.deviceName, read.deviceName);
        QVERIFY(store.setRemoteServer(read)); // keeps the switch as it was
        QVERIFY(store.getRemote().controlAllowed);
        QCOMPARE(store.getScaleX(0), 3.5); // the designed groups are untouched
    }

    void settingsCheckNamesWhatIsWrong()
    {
        const struct {
            const char* address;
            int port;
            const char* name;
            const char* complaint;
        } cases[] = {
            {"127.0.0.1", 10000, "zevo/feedback/1", ""},
            {"0.0.0.0", 65535, "x/y/z", ""},
            {"localhost", 10000, "a/b/c", "IPv4"},
            {"::1", 10000, "a/b/c", "IPv4"},
            {"127.0.0.1", 65536, "a/b/c", "65536"},
            {"127.0.0.1", 10000, "zevo/feedback", "domain/family"},
            {"127.0.0.1", 10000, "a b/c/d", "domain/family"},
        };
        for (const auto& c : cases) {
            const QString problem = remotesettings::problem(
                {true, QLatin1String(c.address), c.port, QLatin1String(c.name), false});
            QVERIFY2(*c.complaint ? problem.contains(QLatin1String(c.complaint))
                                  : problem.isEmpty(),
                     qPrintable(problem));
        }
    }

    // Setpoints in micrometres of the BPM that feeds the loop, as the panel
    // enters them; the local panel, lamp and status bar show every write.
    void allowedRequestsRunWithThePanelsOperations()
    {
        auto* panel = m_window->findChild<WidgetFeedbackControl*>();
        pidSourceX = 1;
        bpmScale.set(1, 2.0, 4.0);
        bpmScale.set(0, 8.0, 8.0);
        bridge().setControlAllowed(true);

        QCOMPARE(int(fromServerThread(Op::SetpointX, 100.0).outcome), int(Outcome::Done));
        const auto setpoints = m_program->sent(cmd::SetSetpoint);
        QCOMPARE(int(setpoints.size()), 3);
        QCOMPARE(setpoints[0].f64(8), 50.0); // 100 um / BPM 2's Scale_X
        QCOMPARE(setpoints[1].f64(8), -0.5); // Y and I0 as the controller holds them
        QCOMPARE(setpoints[2].f64(8), 2e-6);
        QCOMPARE(panel->findChild<QDoubleSpinBox*>("posXDoubleSpinBox")->value(), 100.0);
        QCOMPARE(m_window->statusBar()->currentMessage(),
                 QStringLiteral("Remote write from 10.0.0.7:4711: SetpointX = 100 um"));

        QCOMPARE(int(fromServerThread(Op::SetpointI0, 3e-7).outcome), int(Outcome::Done));
        QCOMPARE(c->setpoints[2], 3e-7);
        QCOMPARE(c->setpoints[0], 50.0);

        QCOMPARE(int(fromServerThread(Op::FeedbackOn).outcome), int(Outcome::Done));
        QCOMPARE(m_program->sent(cmd::SetFeedbackEnabled).back().u8(4), 1);
        QCOMPARE(panel->findChild<QLabel*>("heartbeatLabel")->text(),
                 QStringLiteral("Feedback ON"));

        QCOMPARE(int(fromServerThread(Op::RegulationMode, MODE_Y_I0).outcome), int(Outcome::Done));
        QCOMPARE(m_program->sent(cmd::SetRegulationMode).back().u8(4), MODE_Y_I0);
        QVERIFY(!panel->findChild<QCheckBox*>("confXcheckbox")->isChecked());
        QVERIFY(panel->findChild<QCheckBox*>("confI0checkbox")->isChecked());
        QVERIFY(!panel->findChild<QDoubleSpinBox*>("posXDoubleSpinBox")->isEnabled());

        QCOMPARE(int(fromServerThread(Op::ResetPid).outcome), int(Outcome::Done));
        QCOMPARE(int(m_program->sent(cmd::ResetPidController).size()), 1);
        QCOMPARE(userLevel, 0); // remote control never logs anybody in
    }

    void requestsNeverRunLateUnallowedOrAfterTheEnd()
    {
        bridge().setControlAllowed(true);
        for (double bad : {double(NAN), 1e5, -1e5})
            QCOMPARE(int(fromServerThread(Op::SetpointY, bad).outcome), int(Outcome::Invalid));
        QCOMPARE(int(fromServerThread(Op::SetpointI0, -1e-9).outcome), int(Outcome::Invalid));
        QCOMPARE(int(fromServerThread(Op::RegulationMode, 7).outcome), int(Outcome::Invalid));
        QCOMPARE(int(fromServerThread(Op::RegulationMode, 2.5).outcome), int(Outcome::Invalid));

        // The GUI thread is held (a measurement): the request gives up and
        // is never carried out afterwards.
        auto held = std::async(std::launch::async, [&] {
            return bridge().perform({Op::FeedbackOn}, QStringLiteral("c"), 100);
        });
        QCOMPARE(int(held.get().outcome), int(Outcome::Busy));
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
        QCOMPARE(int(fromServerThread(Op::FeedbackOn).outcome), int(Outcome::Closed));

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
        QCOMPARE(s.bpm[0].x, 10.0);
        QCOMPARE(s.bpm[0].y, 20.0);
        QCOMPARE(s.bpm[0].yStdDev, -3.0); // the sign of the scale, as the panel shows it
        QCOMPARE(s.bpm[1].x, 1000.0);
        QCOMPARE(s.bpm[1].xStdDev, 200.0);
        QCOMPARE(s.bpm[1].i0, 3e-5);
        QCOMPARE(s.pidStatus, int(PID_STATUS_BEAM_OFF));
        QCOMPARE(s.setpointX, 250.0);  // raw 0.25 at BPM 1
        QCOMPARE(s.setpointY, -250.0); // raw -0.5 at BPM 2, which feeds the Y loop
        QCOMPARE(s.setpointI0, 2e-6);
        QCOMPARE(s.dacCount, 3);
        QCOMPARE(s.dac[0], 5.1);
        QCOMPARE(s.dac[2], 6.0);
        QCOMPARE(s.slotIds[0], uint16_t(0x2101));
        QCOMPARE(s.slotNames[0], QStringLiteral("Dorvish"));
        QCOMPARE(s.slotNames[2], QStringLiteral("Ostrel"));
        QCOMPARE(s.slotNames[3], QString());
        QCOMPARE(s.swVersion, QStringLiteral("1.0.03"));

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
        auto* control = window->findChild<QCheckBox*>("controlAllowedCheckBox");
        QVERIFY(!control->isEnabled());
        QVERIFY(window->findChild<QLabel*>("levelLabel")->isVisible());
        control->setChecked(true); // what a script on the window could do
        QVERIFY(!bridge().controlAllowed());

        userLevel = 2;
        window->checkUserLevel();
        control->click();
        QVERIFY(bridge().controlAllowed()); // at once, and kept for the next start
        QVERIFY(m_program->config->getRemote().controlAllowed);
        control->click();
        QVERIFY(!bridge().controlAllowed());
        QVERIFY(!m_program->config->getRemote().controlAllowed);

        window->findChild<QCheckBox*>("enabledCheckBox")->setChecked(true);
        window->findChild<QLineEdit*>("addressLineEdit")->setText(QStringLiteral("localhost"));
        {
            BoxCatcher catcher;
            window->findChild<QPushButton*>("applyButton")->click();
            QCOMPARE(int(catcher.boxes.size()), 1);
            QVERIFY(catcher.boxes[0].text.contains(QStringLiteral("Nothing was saved")));
        }
        QVERIFY(!m_program->config->getRemote().enabled);
        window->findChild<QLineEdit*>("addressLineEdit")->setText(QStringLiteral("0.0.0.0"));
        window->findChild<QPushButton*>("applyButton")->click();
        QVERIFY(m_program->config->getRemote().enabled);
        QCOMPARE(m_program->config->getRemote().address, QStringLiteral("0.0.0.0"));
        QVERIFY(!bridge().controlAllowed()); // the server part never touches the switch

        // A server that could not start is reported once, without blocking.
        bridge().setServerState(RemoteBridge::ServerState::Failed,
                                QStringLiteral("Port 10000 on 127.0.0.1 is already in use"));
        QVERIFY(window->findChild<QLabel*>("serverStateLabel")->text().contains("already in use"));
        QTRY_COMPARE(int(m_window->findChildren<QMessageBox*>().size()), 1);
        bridge().setServerState(RemoteBridge::ServerState::Failed, QStringLiteral("again"));
        QCOMPARE(int(m_window->findChildren<QMessageBox*>().size()), 1);
    }
};

QTEST_MAIN(TestRemoteBridge)
#include "tst_remotebridge.moc"
