// The main window over a scripted controller: which docks and series
// follow the devices in the SFP slots, where the display rate comes from, and
// the windows its menus open anew. (Which actions each user level allows is
// driven through the login dialog in tst_dialoglogin.)

#include "app/initresources.h"
#include "app/mainwindow.h"
#include "support/programfixture.h"
#include "support/widgets.h"

#include <QAction>
#include <QCheckBox>
#include <QDockWidget>

using namespace zevo;

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ProgramFixture> m_program;
    ScriptedController* m_controller = nullptr;

    void startController(std::array<uint16_t, 4> slotIds, const QString& swVersion,
                         uint32_t displayDivider = 100000)
    {
        m_program = std::make_unique<ProgramFixture>();
        m_controller = &m_program->controller;
        m_controller->plug(slotIds);
        m_controller->displayDivider = displayDivider;
        m_program->setUp(); // opens the mailbox and scans the slots
        controllerVersions.swVersion = swVersion;
        userLevel = 0;
    }

private slots:
    void initTestCase() { initResources(); }

    void cleanup()
    {
        m_program->tearDown();
        m_program.reset();
    }

    // A second picoammeter plugged in shows its docks at the next poll, and
    // they go again when it is unplugged.
    void secondBpmDocks_followDeviceCount()
    {
        startController({0x2101, 0x2200, 0, 0}, QStringLiteral("1.0.03"));
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        for (const uint16_t id : {uint16_t(0), uint16_t(0x2101), uint16_t(0)}) {
            m_controller->slotContents[2].deviceId = id;
            m_program->mailbox->refreshData();
            QCoreApplication::processEvents();
            for (const char* name : {"dockXY2", "dockCurrents2", "dockPosition2"})
                QVERIFY2(child<QDockWidget>(w, name)->isHidden() == (id == 0), name);
        }
    }

    // The display rate comes from controllers that can set it. An encoder
    // interface: no picoammeter window, two encoder series in the first
    // currents plot, two DAC outputs.
    void devicesAndDisplayRate_data()
    {
        QTest::addColumn<uint16_t>("second");
        QTest::addColumn<QString>("version");
        QTest::addColumn<uint>("divider"); // 33333: 3000.03 Hz
        QTest::addColumn<bool>("settable");
        QTest::addColumn<int>("sampFreq");
        QTest::addColumn<int>("series");
        QTest::addColumn<int>("outputs");
        // clang-format off
        QTest::newRow("1.0.02") << uint16_t(0) << "1.0.02" << 33333u << false << 1000 << 4 << 3;
        QTest::newRow("unread") << uint16_t(0) << "" << 33333u << false << 1000 << 4 << 3;
        QTest::newRow("1.0.03") << uint16_t(0) << "1.0.03" << 33333u << true << 3000 << 4 << 3;
        QTest::newRow("1.1") << uint16_t(0) << "1.1" << 33333u << true << 3000 << 4 << 3;
        QTest::newRow("no rate read") << uint16_t(0) << "1.0.03" << 0u << true << 1000 << 4 << 3;
        QTest::newRow("encoder interface")
            << uint16_t(0x2300) << "1.0.03" << 33333u << true << 3000 << 2 << 2;
        // clang-format on
    }
    void devicesAndDisplayRate()
    {
        QFETCH(uint16_t, second);
        QFETCH(QString, version);
        QFETCH(uint, divider);
        QFETCH(bool, settable);
        QFETCH(int, sampFreq);
        QFETCH(int, series);
        QFETCH(int, outputs);
        startController({0x2101, second, 0x2200, 0}, version, divider);
        MainWindow w;
        QCOMPARE(child<QAction>(w, "action_Display_Settings")->isVisible(), settable);
        QCOMPARE(SAMP_FREQ, sampFreq);
        QCOMPARE(child<QAction>(w, "actionPico_Amp")->isVisible(), second == 0);
        auto shown = [&](const char* name) {
            QDockWidget* d = child<QDockWidget>(w, name);
            int n = 0;
            for (QCheckBox* box : d->findChildren<QCheckBox*>(QRegularExpression("^CheckCh")))
                n += box->isVisibleTo(d) ? 1 : 0;
            return n;
        };
        QCOMPARE(QVector<int>({shown("dockCurrents1"), shown("dockDAC")}),
                 QVector<int>({series, outputs}));
    }

    // The menus open a new window each time, the main window its parent; a
    // closed one is gone, so that windows do not pile up over a long run.
    void menuWindows_newEachTimeGoneWhenClosed_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("window");
        QTest::newRow("Rocking Curve") << "action_Rocking_Curve"
                                       << "WindowRockingCurve";
        QTest::newRow("Rocking Curve 3D") << "actionRocking_Curve_3D"
                                          << "WindowRocking3D";
        QTest::newRow("Save Data") << "action_Save_Data"
                                   << "WindowSaveData";
        QTest::newRow("About") << "action_About"
                               << "about";
    }
    void menuWindows_newEachTimeGoneWhenClosed()
    {
        QFETCH(QString, action);
        QFETCH(QString, window);
        startController({0x2101, 0x2200, 0, 0}, QStringLiteral("1.0.03"));
        MainWindow main;
        auto windows = [&] {
            QList<QWidget*> found;
            for (QWidget* w : main.findChildren<QWidget*>())
                if (window == QLatin1String(w->metaObject()->className()))
                    found << w;
            return found;
        };
        main.findChild<QAction*>(action)->trigger();
        main.findChild<QAction*>(action)->trigger();
        const QList<QWidget*> opened = windows();
        QCOMPARE(opened.size(), 2);
        QVERIFY(opened[0]->isVisible() && opened[1]->isVisible());
        QPointer<QWidget> first = opened[0];
        first->close();
        QTRY_VERIFY(first.isNull());
        QCOMPARE(windows(), QList<QWidget*>{opened[1]});
        QVERIFY(opened[1]->isVisible());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
