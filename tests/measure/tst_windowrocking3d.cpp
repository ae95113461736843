// The 3D rocking-curve window over the recording driver, on the offscreen
// platform (no OpenGL there): what a scan sends and reads and in which order,
// how it waits, how Stop, Close and a destroyed window end it, what happens
// when a node or a request fails, and the file Save Data writes.

#include "measure/windowrocking3d.h"

#include "app/mainwindow.h"
#include "support/programfixture.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QHostInfo>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

#include <fcntl.h>

#include <cstring>
#include <functional>

using namespace zevo;
using Call = RecordingDriver::Call;

namespace
{
struct OutputSet
{
    double volts[4];
    uint32_t enable;
};

QByteArray currentsBytes(double a, double b, double c, double d)
{
    const double values[4] = {a, b, c, d};
    return QByteArray(reinterpret_cast<const char*>(values), sizeof values);
}
} // namespace

class TestWindowRocking3D : public QObject
{
    Q_OBJECT

    std::unique_ptr<ProgramFixture> m_program;
    QPointer<WindowRocking3D> m_window;
    std::vector<unsigned long> m_waits;
    // Called once a point is complete, just before its events are let
    // through (so anything queued here reaches the window at that point).
    std::function<void(int point)> m_onPoint;

    static constexpr int kWaitsPerPoint = 12;

    WindowRocking3D* makeWindow(QWidget* parent = nullptr)
    {
        m_window = new WindowRocking3D(parent);
        m_window->setSleeper([this](unsigned long us) {
            m_waits.push_back(us);
            if (m_waits.size() % kWaitsPerPoint == 0 && m_onPoint)
                m_onPoint(int(m_waits.size() / kWaitsPerPoint) - 1);
        });
        return m_window;
    }

    template <typename T> T* child(const char* name) const
    {
        return m_window->findChild<T*>(QString::fromLatin1(name));
    }
    QDoubleSpinBox* box(const char* name) const { return child<QDoubleSpinBox>(name); }
    QPushButton* button(const char* name) const { return child<QPushButton>(name); }

    std::vector<Call> ioctls(unsigned long request) const
    {
        std::vector<Call> out;
        for (const Call& c : m_program->driver.calls())
            if (c.kind == Call::Ioctl && c.request == request)
                out.push_back(c);
        return out;
    }
    std::vector<OutputSet> outputSets() const
    {
        std::vector<OutputSet> out;
        for (const Call& c : ioctls(DAC_IOC_SET_OUTPUTS)) {
            OutputSet s;
            std::memcpy(&s, c.sent.constData(), sizeof s);
            out.push_back(s);
        }
        return out;
    }
    // Values of SetOutputsFromController in the order sent (0 = host drives).
    QVector<int> outputSourceRequests() const
    {
        QVector<int> out;
        for (const MailboxMessage& m : m_program->sent(cmd::SetOutputsFromController))
            out << m.u8(4);
        return out;
    }
    int closes() const { return m_program->driver.countCalls(Call::Close); }

    // Presses Go from the event loop, as the operator does, and lets the
    // scan run to its end.
    void pressGoAndWait()
    {
        QVERIFY(m_window);
        QMetaObject::invokeMethod(button("goButton"), "click", Qt::QueuedConnection);
        QCoreApplication::processEvents();
        QVERIFY(!m_window || !m_window->isScanning());
    }

private slots:
    void init()
    {
        m_program = std::make_unique<ProgramFixture>();
        m_program->setUp();
        theDriver = &m_program->driver;
        m_waits.clear();
        m_onPoint = nullptr;
    }

    void cleanup()
    {
        delete m_window;
        theDriver = nullptr;
        m_program->tearDown();
        m_program.reset();
    }

    // Offscreen there is no OpenGL: the window stands without the 3D view,
    // says so where the view would be, and keeps the designed controls.
    void freshWindow_withoutOpenGL_explainsMissingView()
    {
        makeWindow()->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        QCOMPARE(m_window->windowTitle(), QStringLiteral("3D Rocking Curve"));
        QVERIFY(!m_window->graph3D());
        QVERIFY(!m_window->findChild<QWidget*>(QStringLiteral("graph3D")));
        auto* note = child<QLabel>("graph3DUnavailable");
        QVERIFY(note && note->isVisible());
        QVERIFY(note->text().contains(QStringLiteral("OpenGL")));

        for (const char* name : {"xMinBox", "xMaxBox", "yMinBox", "yMaxBox"}) {
            QCOMPARE(box(name)->minimum(), -20.0);
            QCOMPARE(box(name)->maximum(), 99.99);
            QCOMPARE(box(name)->suffix(), QStringLiteral(" V"));
        }
        QCOMPARE(box("xMinBox")->value(), 4.0);
        QCOMPARE(box("yMaxBox")->value(), 6.0);
        QCOMPARE(box("timeBox")->value(), 10.0);
        QCOMPARE(box("timeBox")->decimals(), 0);
        QCOMPARE(box("timeBox")->minimum(), 1.0);
        QCOMPARE(box("timeBox")->maximum(), 1000.0);
        QCOMPARE(button("saveButton")->text(), QStringLiteral("Save Data"));
        QVERIFY(m_program->driver.calls().empty()); // opening touches nothing
        for (float v : m_window->rawGrid())
            QCOMPARE(v, 0.0f);
    }

    // A whole scan: nodes, feedback off, outputs taken, X outer and Y inner
    // from end to end of both ranges, ten reads a point, the waits, the
    // outputs handed back and the nodes closed. Go pressed again or the
    // scan started once more while it runs starts nothing.
    void fullScan_requestsWaitsAndGrid()
    {
        m_program->driver.setPicoCurrentsReply(currentsBytes(1e-6, 2e-6, 3e-6, 4e-6));
        makeWindow()->show();
        m_onPoint = [this](int point) {
            if (point == 5) {
                QVERIFY(!button("goButton")->isEnabled());
                QMetaObject::invokeMethod(button("goButton"), "click", Qt::QueuedConnection);
                QMetaObject::invokeMethod(m_window, "startMeasurement", Qt::QueuedConnection);
            }
        };
        pressGoAndWait();

        const std::vector<Call> calls = m_program->driver.calls();
        QCOMPARE(calls[0].kind, Call::Open);
        QCOMPARE(calls[0].path, std::string(kPico0Node));
        QCOMPARE(calls[0].flags, O_RDWR | O_SYNC);
        QCOMPARE(calls[1].kind, Call::Open);
        QCOMPARE(calls[1].path, std::string(kDacNode));
        QCOMPARE(calls[1].flags, O_RDWR | O_SYNC);
        QCOMPARE(m_program->driver.countCalls(Call::Open), 2);

        // Feedback off before the outputs are taken; one take, one hand-back.
        const auto transfers = m_program->driver.transfers();
        QVERIFY(transfers.size() >= 3);
        QCOMPARE(transfers[0].command(), cmd::SetFeedbackEnabled);
        QCOMPARE(transfers[0].u8(4), uint8_t(0));
        QCOMPARE(outputSourceRequests(), QVector<int>({0, 1}));
        QCOMPARE(transfers.back().command(), cmd::SetOutputsFromController);

        const auto sets = outputSets();
        QCOMPARE(int(sets.size()), 4096);
        // The first record byte by byte: X 4 V, Y 4 V, 0, 0, enable 1.
        QCOMPARE(ioctls(DAC_IOC_SET_OUTPUTS)[0].sent.toHex(),
                 QByteArray("0000000000001040" "0000000000001040" "0000000000000000"
                            "0000000000000000" "01000000"));
        QCOMPARE(sets[1].volts[0], 4.0);
        QCOMPARE(sets[1].volts[1], 4.0 + 2.0 / 63.0);
        QCOMPARE(sets[63].volts[1], 6.0);
        QCOMPARE(sets[64].volts[0], 4.0 + 2.0 / 63.0);
        QCOMPARE(sets[64].volts[1], 4.0);
        QCOMPARE(sets[4095].volts[0], 6.0);
        QCOMPARE(sets[4095].volts[1], 6.0);
        for (const OutputSet& s : sets)
            QVERIFY(s.volts[2] == 0.0 && s.volts[3] == 0.0 && s.enable == 1);
        QCOMPARE(int(ioctls(AMM_IOC_READ_CURRENTS).size()), 40960);
        QCOMPARE(closes(), 2);

        // Each point: the step time, ten tenths, the step time again.
        QCOMPARE(int(m_waits.size()), 4096 * kWaitsPerPoint);
        const std::vector<unsigned long> point(m_waits.begin(), m_waits.begin() + kWaitsPerPoint);
        QCOMPARE(point, std::vector<unsigned long>({10000, 1000, 1000, 1000, 1000, 1000, 1000,
                                                    1000, 1000, 1000, 1000, 10000}));

        // The average total current everywhere; equal everywhere, so the
        // surface lies flat instead of dividing by a zero range.
        for (float v : m_window->rawGrid())
            QVERIFY2(qFuzzyCompare(v, 1e-5f), qPrintable(QString::number(double(v), 'g', 12)));
        for (float v : m_window->normalisedGrid())
            QCOMPARE(v, 0.0f);
        QVERIFY(button("goButton")->isEnabled());
    }

    // X min = X max holds X on one voltage for the whole scan; the step time
    // is taken in whole milliseconds and its tenth in whole microseconds.
    void equalXRange_constantFirstColumn_oddStepTime()
    {
        makeWindow()->show();
        box("xMinBox")->setValue(5.25);
        box("xMaxBox")->setValue(5.25);
        box("timeBox")->setValue(7);
        m_onPoint = [this](int point) {
            if (point == 2 * 64 - 1) // two rows
                QMetaObject::invokeMethod(button("stopButton"), "click", Qt::QueuedConnection);
        };
        pressGoAndWait();
        QCOMPARE(m_waits[0], 7000ul);
        QCOMPARE(m_waits[1], 700ul);

        QTemporaryDir dir;
        const QString path = dir.filePath("flat.csv");
        QVERIFY(m_window->writeDataFile(path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), 6 + 4096 + 1); // the last line feed ends the file
        for (int k = 6; k < 6 + 4096; ++k)
            QVERIFY2(lines[k].startsWith("5.25,"), lines[k].constData());
    }

    // Stop ends the scan after the point it arrives at; the outputs go back,
    // the nodes close, and the file holds zeros where the scan did not get.
    void stop_endsAfterCurrentPoint_restStaysZero()
    {
        m_program->driver.setPicoCurrentsReply(currentsBytes(1e-6, 0, 0, 0));
        makeWindow()->show();
        m_onPoint = [this](int point) {
            if (point == 99)
                QMetaObject::invokeMethod(button("stopButton"), "click", Qt::QueuedConnection);
        };
        pressGoAndWait();
        QCOMPARE(int(outputSets().size()), 100);
        QCOMPARE(outputSourceRequests(), QVector<int>({0, 1}));
        QCOMPARE(closes(), 2);
        QCOMPARE(m_window->rawGrid()[99], 1e-6f);
        QCOMPARE(m_window->rawGrid()[100], 0.0f);
        // Now there is a range: measured points at the top, the rest at 0.
        QCOMPARE(m_window->normalisedGrid()[0], 1.0f);
        QCOMPARE(m_window->normalisedGrid()[4095], 0.0f);

        QTemporaryDir dir;
        QVERIFY(m_window->writeDataFile(dir.filePath("stopped.csv")));
        QFile file(dir.filePath("stopped.csv"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines[6 + 99], QByteArray("4.03175,5.11111,1e-06\r"));
        QCOMPARE(lines[6 + 100], QByteArray("4.03175,5.14286,0\r"));

        // A new scan clears the grid of the last one before it measures.
        m_program->driver.setPicoCurrentsReply(currentsBytes(0, 0, 0, 2e-6));
        m_waits.clear();
        m_onPoint = [this](int point) {
            if (point == 0) {
                QCOMPARE(m_window->rawGrid()[0], 2e-6f);
                QCOMPARE(m_window->rawGrid()[1], 0.0f);
                QMetaObject::invokeMethod(button("stopButton"), "click", Qt::QueuedConnection);
            }
        };
        pressGoAndWait();
        QCOMPARE(m_waits.size(), std::size_t(kWaitsPerPoint));
    }

    // Close during a scan ends it; the window goes away, the outputs go
    // back to the controller, and both nodes are closed.
    void close_midScan_outputsBackWindowGone()
    {
        makeWindow()->setAttribute(Qt::WA_DeleteOnClose);
        m_window->show();
        m_onPoint = [this](int point) {
            if (point == 10) {
                QAbstractButton* close =
                    child<QDialogButtonBox>("buttonBox")->button(QDialogButtonBox::Close);
                QMetaObject::invokeMethod(close, "click", Qt::QueuedConnection);
            }
        };
        pressGoAndWait();
        QTRY_VERIFY(!m_window);
        QCOMPARE(int(outputSets().size()), 11);
        QCOMPARE(outputSourceRequests(), QVector<int>({0, 1}));
        QCOMPARE(closes(), 2);
    }

    // The window destroyed outright while its scan lets events through (its
    // parent went away): the scan ends without touching it.
    void windowDestroyed_midScan_outputsBack()
    {
        auto* parent = new QWidget;
        makeWindow(parent)->show();
        m_onPoint = [parent](int point) {
            if (point == 3)
                QMetaObject::invokeMethod(parent, [parent] { delete parent; }, Qt::QueuedConnection);
        };
        pressGoAndWait();
        QVERIFY(!m_window);
        QCOMPARE(int(outputSets().size()), 4);
        QCOMPARE(outputSourceRequests(), QVector<int>({0, 1}));
        QCOMPARE(closes(), 2);
    }

    // A node that cannot be opened: a message without parent naming it, and
    // the controller is not touched at all.
    void missingNode_refusedBeforeController_data()
    {
        QTest::addColumn<QString>("node");
        QTest::newRow("picoammeter") << QString(kPico0Node);
        QTest::newRow("DAC") << QString(kDacNode);
    }
    void missingNode_refusedBeforeController()
    {
        QFETCH(QString, node);
        m_program->driver.setNodePresent(node.toStdString(), false);
        makeWindow()->show();
        BoxCatcher catcher;
        pressGoAndWait();
        QCOMPARE(int(catcher.boxes.size()), 1);
        QCOMPARE(catcher.boxes[0].title, QStringLiteral("Cannot open file"));
        QVERIFY(catcher.boxes[0].text.contains(node));
        QVERIFY(!catcher.boxes[0].hasParent);
        QVERIFY(m_program->driver.transfers().empty());
        QCOMPARE(m_program->driver.countCalls(Call::Ioctl), 0);
        QCOMPARE(closes(), m_program->driver.countCalls(Call::Open) - 1);
        QVERIFY(m_waits.empty());
        QVERIFY(button("goButton")->isEnabled());
    }

    // A request failing during the scan ends it at once (no grid of stale
    // readings), hands the outputs back and says where it stopped.
    void failedRequest_endsScanAndReports_data()
    {
        QTest::addColumn<qulonglong>("request");
        QTest::addColumn<QString>("node");
        QTest::addColumn<int>("outputSets");
        QTest::newRow("currents") << qulonglong(AMM_IOC_READ_CURRENTS) << QString(kPico0Node) << 1;
        QTest::newRow("outputs") << qulonglong(DAC_IOC_SET_OUTPUTS) << QString(kDacNode) << 1;
    }
    void failedRequest_endsScanAndReports()
    {
        QFETCH(qulonglong, request);
        QFETCH(QString, node);
        QFETCH(int, outputSets);
        m_program->driver.failRequest(request);
        makeWindow()->show();
        BoxCatcher catcher;
        pressGoAndWait();
        m_program->driver.failRequest(0);
        QCOMPARE(int(catcher.boxes.size()), 1);
        QCOMPARE(catcher.boxes[0].title, QStringLiteral("3D Rocking Curve"));
        QVERIFY(catcher.boxes[0].text.contains(node));
        QVERIFY(catcher.boxes[0].text.contains(QStringLiteral("X = 4 V, Y = 4 V")));
        QVERIFY(!catcher.boxes[0].hasParent);
        QCOMPARE(int(ioctls(DAC_IOC_SET_OUTPUTS).size()), outputSets);
        QVERIFY(int(ioctls(AMM_IOC_READ_CURRENTS).size()) <= 1);
        QCOMPARE(outputSourceRequests(), QVector<int>({0, 1}));
        QCOMPARE(closes(), 2);
        QVERIFY(button("goButton")->isEnabled());
    }

    // The controller refusing to hand over the outputs: nothing is driven.
    void outputsNotHandedOver_noScan()
    {
        m_program->driver.failTransfer(2); // feedback off, then the take
        makeWindow()->show();
        BoxCatcher catcher;
        pressGoAndWait();
        QCOMPARE(int(catcher.boxes.size()), 1);
        QVERIFY(catcher.boxes[0].text.contains(QStringLiteral("did not hand the DAC outputs")));
        QVERIFY(ioctls(DAC_IOC_SET_OUTPUTS).empty());
        QCOMPARE(outputSourceRequests(), QVector<int>({0, 1}));
        QCOMPARE(closes(), 2);
    }

    // Save Data proposes a dated name in the designed dialog and writes the
    // grid (zeros before any scan, at the voltages the boxes show).
    void saveData_dialogProposesName_writesGrid()
    {
        makeWindow()->show();
        QTemporaryDir dir;
        const QString path = dir.filePath("chosen.csv");
        QString title, proposed;
        QStringList filters;
        QTimer answer;
        connect(&answer, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            answer.stop();
            title = dialog->windowTitle();
            filters = dialog->nameFilters();
            proposed = QFileInfo(dialog->selectedFiles().value(0)).fileName();
            dialog->selectFile(path);
            QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        });
        answer.start(5);
        QTest::mouseClick(button("saveButton"), Qt::LeftButton);
        QCOMPARE(title, QStringLiteral("DialogTitle"));
        QCOMPARE(filters, QStringList{QStringLiteral("CSV files (*.csv)")});
        QVERIFY2(QRegularExpression(QStringLiteral(
                                        "^ZEVO_rock3D_\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d\\.csv$"))
                     .match(proposed)
                     .hasMatch(),
                 qPrintable(proposed));

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), 6 + 4096 + 1);
        QCOMPARE(lines[4], "Host Name: " + QHostInfo::localHostName().toUtf8() + '\r');
        QCOMPARE(lines[6], QByteArray("4,4,0\r"));
        QCOMPARE(lines[6 + 4095], QByteArray("6,6,0\r"));
    }

    void unwritableFile_warnsOperator()
    {
        makeWindow();
        QTemporaryDir dir;
        QFile plain(dir.filePath("plain"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        BoxCatcher catcher;
        QVERIFY(!m_window->writeDataFile(dir.filePath("plain/grid.csv")));
        QCOMPARE(int(catcher.boxes.size()), 1);
        QVERIFY(catcher.boxes[0].text.contains(QStringLiteral("could not be saved")));
        QVERIFY(!catcher.boxes[0].hasParent);
    }

    // The menu entry opens a new window each time, gone again when closed.
    void mainWindow_opensNewWindowEachTime()
    {
        MainWindow main;
        main.showRockCurve3D();
        main.showRockCurve3D();
        const auto windows = main.findChildren<WindowRocking3D*>();
        QCOMPARE(windows.size(), 2);
        QPointer<WindowRocking3D> first = windows[0];
        QVERIFY(first->isVisible());
        QVERIFY(first->testAttribute(Qt::WA_DeleteOnClose));
        first->close();
        QTRY_VERIFY(!first);
    }
};

// The window is tested where the display gives no OpenGL: the offscreen
// platform without its GLX variant, even when an X display is at hand.
int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QPA_OFFSCREEN_NO_GLX", "1");
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestWindowRocking3D test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_windowrocking3d.moc"
