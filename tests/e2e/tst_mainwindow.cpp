// The main window over a scripted controller: which docks, tabs and series
// follow the devices in the SFP slots, which actions the user level allows,
// and where the display rate comes from.

#include "app/mainwindow.h"
#include "plots/widgetgraphxy.h"
#include "support/programfixture.h"

#include <QAction>
#include <QCheckBox>
#include <QDockWidget>
#include <QtTest>

#include <array>
#include <memory>

using namespace zevo;

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    // Slot contents the scripted controller reports, and its display divider.
    std::array<uint16_t, 4> m_slotIds{};
    uint32_t m_displayDivider = 100000;
    uint8_t m_regulationMode = MODE_XY;
    double m_setpoints[3] = {0.25, -0.5, 1e-6}; // raw X, Y, I0
    std::unique_ptr<ProgramFixture> m_program;

    void startController(std::array<uint16_t, 4> slotIds, const QString& swVersion)
    {
        m_slotIds = slotIds;
        m_program = std::make_unique<ProgramFixture>();
        m_program->driver.defaultReply = [this](MailboxMessage& m) {
            const uint32_t command = m.command();
            if (command == cmd::ReadSlot)
                m.put<uint16_t>(kSlotReplyOffset, m_slotIds[m.u8(4) & 3]);
            if (command == cmd::ReadDisplayFrequency)
                m.setU32(8, m_displayDivider);
            if (command == cmd::ReadRegulationMode)
                m.setU8(4, m_regulationMode);
            if (command == cmd::ReadSetpoint)
                m.setF64(8, m_setpoints[m.u8(4) % 3]);
            m.setU32(0, command | kReplyAcknowledged);
        };
        m_program->setUp(); // opens the mailbox and scans the slots
        controllerVersions.swVersion = swVersion;
        userLevel = 0;
    }

    static QDockWidget* dock(MainWindow& w, const char* name)
    {
        return w.findChild<QDockWidget*>(QString::fromLatin1(name));
    }
    static QAction* action(MainWindow& w, const char* name)
    {
        return w.findChild<QAction*>(QString::fromLatin1(name));
    }

private slots:
    void init() { m_displayDivider = 100000; }

    void cleanup()
    {
        m_program->tearDown();
        m_program.reset();
    }

    void secondBpmDocks_followDeviceCount()
    {
        startController({0x2101, 0x2200, 0, 0}, QStringLiteral("1.0.03"));
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        const char* secondBpmDocks[] = {"dockXY2", "dockCurrents2", "dockPosition2"};
        for (const char* name : secondBpmDocks)
            QVERIFY2(dock(w, name)->isHidden(), name);
        QCOMPARE(dock(w, "dockXY1")->windowTitle(), QStringLiteral("Graph XY"));
        QCOMPARE(dock(w, "dockCurrents2")->windowTitle(), QStringLiteral("Graph Currents BPM2"));

        // A second picoammeter is plugged in: the next poll shows its docks.
        m_slotIds[2] = 0x2101;
        m_program->mailbox->refreshData();
        QCoreApplication::processEvents();
        for (const char* name : secondBpmDocks)
            QVERIFY2(!dock(w, name)->isHidden(), name);

        // ...and they go again when it is unplugged.
        m_slotIds[2] = 0;
        m_program->mailbox->refreshData();
        QCoreApplication::processEvents();
        for (const char* name : secondBpmDocks)
            QVERIFY2(dock(w, name)->isHidden(), name);
    }

    // The controller's setpoint is on the XY plots from the first moment,
    // scaled to micrometres, on the plot of the BPM that feeds the loops.
    void setpoint_drawnFromStartUp()
    {
        startController({0x2101, 0x2101, 0, 0}, QStringLiteral("1.0.03"));
        bpmScale.set(0, 4.0, 2.0);
        MainWindow w;
        auto setpointOf = [&](int bpm) {
            return w.graphXY(bpm)->findChild<QCustomPlot*>()->graph(1);
        };
        QCPGraph* first = setpointOf(0);
        QVERIFY(first->visible());
        QCOMPARE(first->data()->size(), 1);
        QCOMPARE(first->data()->constBegin()->key, 1.0);
        QCOMPARE(first->data()->constBegin()->value, -1.0);
        QCOMPARE(setpointOf(1)->data()->size(), 0); // BPM 2 feeds no loop
        bpmScale = BpmScaleFactors{};
    }

    void bottomTabs_areTabbedWithTheSpectrum()
    {
        startController({0x2101, 0x2101, 0x2200, 0}, QStringLiteral("1.0.03"));
        MainWindow w;
        QStringList titles;
        for (QDockWidget* d : w.tabifiedDockWidgets(dock(w, "dockFFT")))
            titles << d->windowTitle();
        QCOMPARE(titles, (QStringList{"Graph Currents BPM1", "Graph Currents BPM2", "Graph DAC",
                                      "Graph Position", "Graph Position 2"}));
        QCOMPARE(w.windowTitle(), QStringLiteral("ZEVO Local User Interface v1.0"));
        QVERIFY(!dock(w, "dockFBctrl")->features().testFlag(QDockWidget::DockWidgetClosable));
        QVERIFY(!dock(w, "dockFBctrl")->features().testFlag(QDockWidget::DockWidgetFloatable));
    }

    void encoderInterface_changesCurrentsAndDacPlots()
    {
        startController({0x2101, 0x2300, 0x2200, 0}, QStringLiteral("1.0.03"));
        QVERIFY(m_program->mailbox->pavunPresent());
        MainWindow w;
        w.show();

        QVERIFY(!action(w, "actionPico_Amp")->isVisible());
        QDockWidget* currents = dock(w, "dockCurrents1");
        QCOMPARE(currents->windowTitle(), QStringLiteral("Graph Encoder Counts"));
        // Two encoder series: the third and fourth channel boxes are hidden.
        QVERIFY(currents->findChild<QCheckBox*>("CheckCh2")->isVisibleTo(currents));
        QVERIFY(!currents->findChild<QCheckBox*>("CheckCh3")->isVisibleTo(currents));
        QDockWidget* dac = dock(w, "dockDAC");
        QVERIFY(!dac->findChild<QCheckBox*>("CheckCh3")->isVisibleTo(dac));
    }

    void picoammetersOnly_showPicoAmpAndFourChannels()
    {
        startController({0x2101, 0x2200, 0, 0}, QStringLiteral("1.0.03"));
        MainWindow w;
        w.show();
        QVERIFY(action(w, "actionPico_Amp")->isVisible());
        QDockWidget* currents = dock(w, "dockCurrents1");
        QCOMPARE(currents->windowTitle(), QStringLiteral("Graph Currents BPM1"));
        QVERIFY(currents->findChild<QCheckBox*>("CheckCh4")->isVisibleTo(currents));
        QDockWidget* dac = dock(w, "dockDAC");
        QVERIFY(dac->findChild<QCheckBox*>("CheckCh3")->isVisibleTo(dac));
        QVERIFY(!dac->findChild<QCheckBox*>("CheckCh4")->isVisibleTo(dac));
    }

    void gatedActions_followUserLevel()
    {
        startController({0x2101, 0x2200, 0, 0}, QStringLiteral("1.0.03"));
        MainWindow w;
        const char* measurements[] = {"action_Rocking_Curve", "actionRocking_Curve_3D",
                                      "actionStep_Response"};
        auto measurementsEnabled = [&](bool expected) {
            for (const char* name : measurements)
                if (action(w, name)->isEnabled() != expected)
                    return false;
            return true;
        };

        QVERIFY(measurementsEnabled(false));
        QVERIFY(!action(w, "actionManual_Output_Control")->isEnabled());

        w.handleUserLevelChange(1);
        QVERIFY(measurementsEnabled(false));
        QVERIFY(action(w, "actionManual_Output_Control")->isEnabled());

        w.handleUserLevelChange(2);
        QVERIFY(measurementsEnabled(true));
        QVERIFY(action(w, "actionManual_Output_Control")->isEnabled());

        // Level 1 after level 2 leaves the measurements as they were.
        w.handleUserLevelChange(1);
        QVERIFY(measurementsEnabled(true));

        w.handleUserLevelChange(0);
        QVERIFY(measurementsEnabled(false));
        QVERIFY(!action(w, "actionManual_Output_Control")->isEnabled());

        // Everything else stays enabled at every level.
        for (const char* name : {"action_Exit", "action_Login", "action_Save_Data", "action_About"})
            QVERIFY2(action(w, name)->isEnabled(), name);
    }

    void displayRate_comesFromControllersThatCanSetIt_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("settable");
        QTest::addColumn<int>("sampFreq");
        QTest::newRow("1.0.02") << "1.0.02" << false << 1000;
        QTest::newRow("older") << "1.0.01" << false << 1000;
        QTest::newRow("unread") << "" << false << 1000;
        QTest::newRow("1.0.03") << "1.0.03" << true << 3000;
        QTest::newRow("1.1") << "1.1" << true << 3000;
    }
    void displayRate_comesFromControllersThatCanSetIt()
    {
        QFETCH(QString, version);
        QFETCH(bool, settable);
        QFETCH(int, sampFreq);
        m_displayDivider = 33333; // 3000.03 Hz
        startController({0x2101, 0x2200, 0, 0}, version);
        MainWindow w;
        QCOMPARE(action(w, "action_Display_Settings")->isVisible(), settable);
        QCOMPARE(SAMP_FREQ, sampFreq);
    }

    void controllerWithoutRate_keepsTheDefaultRate()
    {
        m_displayDivider = 0;
        startController({0x2101, 0x2200, 0, 0}, QStringLiteral("1.0.03"));
        MainWindow w;
        QCOMPARE(SAMP_FREQ, 1000);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
