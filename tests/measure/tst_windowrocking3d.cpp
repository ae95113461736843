// The 3D rocking-curve window over the recording driver where the display
// gives no OpenGL: what a scan sends and reads and in which order, how it
// waits, how Stop, Close and a destroyed window end it, refused and failing
// scans, and what Save Data hands to the grid file.

#include "measure/windowrocking3d.h"

#include "support/bytes.h"
#include "support/programfixture.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

#include <fcntl.h>

#include <functional>

using namespace zevo;
using Call = RecordingDriver::Call;
using Volts = std::array<double, 4>;

class TestWindowRocking3D : public QObject
{
    Q_OBJECT

    static constexpr int kWaitsPerPoint = 12;

    std::unique_ptr<ProgramFixture> m_program;
    QPointer<WindowRocking3D> m_window;
    std::vector<unsigned long> m_waits;
    // Called when a point is complete, before its events are let through:
    // whatever it queues reaches the window at that point.
    std::function<void(int point)> m_onPoint;

    void makeWindow(QWidget* parent = nullptr)
    {
        m_window = new WindowRocking3D(parent);
        m_window->setSleeper([this](unsigned long us) {
            m_waits.push_back(us);
            if (m_waits.size() % kWaitsPerPoint == 0 && m_onPoint)
                m_onPoint(int(m_waits.size() / kWaitsPerPoint) - 1);
        });
        m_window->show();
    }
    template <typename T = QPushButton> T* child(const char* name) const
    {
        return m_window->findChild<T*>(QString::fromLatin1(name));
    }
    // Clicks a button from the event loop, as the operator does.
    static void queueClick(QAbstractButton* button)
    {
        QMetaObject::invokeMethod(button, "click", Qt::QueuedConnection);
    }
    void pressGo()
    {
        queueClick(child("goButton"));
        QCoreApplication::processEvents(); // the whole scan runs in here
    }
    std::vector<Volts> outputSets() const
    {
        std::vector<Volts> out;
        for (const DacOutputRecord& r : m_program->driver.outputSets())
            out.push_back({r.volts[0], r.volts[1], r.volts[2], r.volts[3]});
        return out;
    }
    // The outputs taken once and given back, both nodes closed.
    void verifyHandedBackAndClosed() const
    {
        QCOMPARE(hexOf(m_program->sent(cmd::SetOutputsFromController)),
                 goldenHex({"00070001 00", "00070001 01"}));
        QCOMPARE(m_program->driver.countCalls(Call::Close), 2);
    }
    void setCurrents(double total)
    {
        const double c[4] = {0.1 * total, 0.2 * total, 0.3 * total, 0.4 * total};
        m_program->driver.setPicoCurrentsReply(QByteArray(reinterpret_cast<const char*>(c), 32));
    }

private slots:
    void init()
    {
        m_program = std::make_unique<ProgramFixture>();
        m_program->setUp();
        m_waits.clear();
        m_onPoint = nullptr;
    }
    void cleanup()
    {
        delete m_window;
        m_program->tearDown();
    }

    // Without OpenGL the window says so where the view would be, and a whole
    // scan still runs: nodes, feedback off, outputs taken, X outer and Y
    // inner from end to end of both ranges with outputs 3 and 4 at 0, ten
    // reads and the waits of each point, outputs back, nodes closed. Go or
    // a start while the scan runs starts nothing more.
    void fullScan_withoutOpenGL()
    {
        setCurrents(1e-5);
        makeWindow();
        QVERIFY(!m_window->graph3D());
        m_onPoint = [this](int point) {
            if (point == 5) {
                QVERIFY(!child("goButton")->isEnabled());
                queueClick(child("goButton"));
                QMetaObject::invokeMethod(m_window, "startMeasurement", Qt::QueuedConnection);
            }
        };
        pressGo();

        const auto calls = m_program->driver.calls();
        QCOMPARE(std::make_tuple(calls[0].path, calls[1].path, calls[1].flags),
                 std::make_tuple(std::string(kPico0Node), std::string(kDacNode), O_RDWR | O_SYNC));
        QCOMPARE(hexOf({m_program->driver.transfers()[0]}), goldenHex({"00050001 00"}));
        verifyHandedBackAndClosed();

        const auto sets = outputSets();
        QCOMPARE(int(sets.size()), 4096);
        const double step = 2.0 / 63.0;
        QCOMPARE((std::vector<Volts>{sets[1], sets[63], sets[64], sets[4095]}),
                 (std::vector<Volts>{{4.0, 4.0 + step, 0, 0}, {4.0, 6.0, 0, 0},
                                     {4.0 + step, 4.0, 0, 0}, {6.0, 6.0, 0, 0}}));
        QCOMPARE(m_program->driver.countCalls(Call::Ioctl) - m_program->driver.transfers().size(),
                 std::size_t(4096 * 11));
        QCOMPARE(m_waits.size(), std::size_t(4096 * kWaitsPerPoint));
        QCOMPARE(std::vector<unsigned long>(m_waits.begin(), m_waits.begin() + kWaitsPerPoint),
                 (std::vector<unsigned long>{10000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000,
                                             1000, 1000, 10000}));
        // The same current everywhere: a flat surface, not 0 / 0.
        for (std::size_t i = 0; i < m_window->rawGrid().size(); ++i)
            QVERIFY(qFuzzyCompare(m_window->rawGrid()[i], 1e-5f) &&
                    m_window->normalisedGrid()[i] == 0.0f);
        QVERIFY(child("goButton")->isEnabled());
    }

    // Stop ends the scan after the point it reaches; Save Data then proposes
    // a dated name and hands the grid as scanned (zeros where the scan did
    // not get) and the ranges the boxes show to the CSV file (the NeXus file
    // is tst_nexuswindows'); a file that cannot be written is reported. The next scan starts from a cleared grid. The
    // step time counts in whole milliseconds, its tenth in whole microseconds.
    void stop_endsAfterCurrentPoint_saveWritesTheGrid()
    {
        setCurrents(1e-6);
        makeWindow();
        child<QDoubleSpinBox>("xMinBox")->setValue(5.25);
        child<QDoubleSpinBox>("xMaxBox")->setValue(5.25);
        child<QDoubleSpinBox>("timeBox")->setValue(7);
        m_onPoint = [this](int point) {
            if (point == 99)
                queueClick(child("stopButton"));
        };
        pressGo();
        QCOMPARE(std::make_tuple(int(outputSets().size()), m_waits[0], m_waits[1]),
                 std::make_tuple(100, 7000ul, 700ul));
        verifyHandedBackAndClosed();
        QVERIFY(m_window->rawGrid()[99] > 0.0f && m_window->rawGrid()[100] == 0.0f);

        QTemporaryDir dir;
        BoxCatcher answer;
        answer.file = dir.filePath("chosen.csv");
        QTest::mouseClick(child("saveButton"), Qt::LeftButton);
        const QString proposed = answer.dialogs[0].proposedName;
        QVERIFY2(QRegularExpression("^ZEVO_rock3D_\\d{4}(-\\d\\d){2}_\\d\\d(-\\d\\d){2}\\.csv$")
                     .match(proposed)
                     .hasMatch(),
                 qPrintable(proposed));
        // The grid as scanned and the ranges the boxes show reach the file.
        const QList<QByteArray> lines = fileText(answer.file).split('\n');
        QCOMPARE((QList<QByteArray>{lines[6 + 99], lines[6 + 100]}),
                 (QList<QByteArray>{"5.25,5.11111,1e-06\r", "5.25,5.14286,0\r"}));
        QVERIFY(!m_window->writeDataFile(dir.filePath("chosen.csv/not-a-folder.csv")));
        QCOMPARE(int(answer.boxes.size()), 1);
        QVERIFY(!answer.boxes[0].hasParent);

        setCurrents(2e-6);
        m_onPoint = [this](int point) {
            QCOMPARE(m_window->rawGrid()[1], 0.0f);
            if (point == 0)
                queueClick(child("stopButton"));
        };
        pressGo();
        QVERIFY(qFuzzyCompare(m_window->rawGrid()[0], 2e-6f));
    }

    // Closing the window or destroying it (its parent going) during a scan
    // ends the scan; the outputs go back and the nodes close.
    void windowGone_midScan_data()
    {
        QTest::addColumn<bool>("byClose");
        QTest::newRow("Close") << true;
        QTest::newRow("parent destroyed") << false;
    }
    void windowGone_midScan()
    {
        QFETCH(bool, byClose);
        auto* parent = new QWidget;
        makeWindow(byClose ? nullptr : parent);
        m_window->setAttribute(Qt::WA_DeleteOnClose);
        m_onPoint = [this, byClose, parent](int point) {
            if (point != 10)
                return;
            if (byClose)
                queueClick(child<QDialogButtonBox>("buttonBox")->button(QDialogButtonBox::Close));
            else
                QMetaObject::invokeMethod(parent, [parent] { delete parent; }, Qt::QueuedConnection);
        };
        pressGo();
        QTRY_VERIFY(!m_window);
        QCOMPARE(int(outputSets().size()), 11);
        verifyHandedBackAndClosed();
        if (byClose)
            delete parent;
    }

    // Refused before the controller is touched (a node missing), or ended
    // at once when the controller keeps the outputs or a request fails:
    // one box without parent saying what and where, outputs back, nodes
    // closed, Go usable again.
    void refusedOrFailed_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("sets");
        QTest::newRow("no picoammeter") << "node" << kPico0Node << 0;
        QTest::newRow("outputs kept") << "handover" << "did not hand the DAC" << 0;
        QTest::newRow("read fails") << "read" << "X = 4 V, Y = 4 V: the currents" << 1;
    }
    void refusedOrFailed()
    {
        QFETCH(QString, what);
        QFETCH(QString, text);
        QFETCH(int, sets);
        m_program->driver.setNodePresent(kPico0Node, what != "node");
        m_program->driver.failRequest(what == "read" ? AMM_IOC_READ_CURRENTS : 0);
        if (what == "handover")
            m_program->driver.failTransfer(2); // after the feedback-off one
        makeWindow();
        BoxCatcher catcher;
        pressGo();

        QCOMPARE(int(catcher.boxes.size()), 1);
        QVERIFY2(catcher.boxes[0].text.contains(text), qPrintable(catcher.boxes[0].text));
        QVERIFY(!catcher.boxes[0].hasParent);
        QCOMPARE(int(outputSets().size()), sets);
        if (what != "node") {
            verifyHandedBackAndClosed();
        } else {
            QCOMPARE(catcher.boxes[0].title, QStringLiteral("Cannot open file"));
            QVERIFY(m_program->driver.transfers().empty());
            QCOMPARE(m_program->driver.stillOpen(), 0);
        }
        QVERIFY(child("goButton")->isEnabled());
    }

};

// Tested where the display gives no OpenGL: the offscreen platform without
// its GLX variant, even when an X display is at hand.
int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QPA_OFFSCREEN_NO_GLX", "1");
    QApplication app(argc, argv);
    TestWindowRocking3D test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_windowrocking3d.moc"
