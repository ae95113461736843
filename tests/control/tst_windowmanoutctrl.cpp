// Manual output control over the recording driver: how sliders and boxes keep
// each other in step, the bytes that reach the DAC module, who drives the
// outputs, and a DAC node that cannot be opened or goes away.

#include "app/mainwindow.h"
#include "control/windowmanoutctrl.h"
#include "support/programfixture.h"

#include <QAction>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QSlider>
#include <QtTest>

#include <fcntl.h>

using namespace zevo;

class TestWindowManOutCtrl : public QObject
{
    Q_OBJECT

    ProgramFixture m_program;
    std::unique_ptr<WindowManOutCtrl> m_window;
    uint8_t m_outputsFromController = 1; // what the controller reports

    QSlider* slider(int ch) const
    {
        return m_window->findChild<QSlider*>(QStringLiteral("ch%1slider").arg(ch));
    }
    QDoubleSpinBox* box(int ch) const
    {
        return m_window->findChild<QDoubleSpinBox*>(QStringLiteral("boxCh%1").arg(ch));
    }
    QCheckBox* enableBox() const
    {
        return m_window->findChild<QCheckBox*>(QStringLiteral("checboxEnableMan"));
    }

    std::vector<RecordingDriver::Call> dacRecords() const
    {
        std::vector<RecordingDriver::Call> out;
        for (const RecordingDriver::Call& c : m_program.driver.calls())
            if (c.kind == RecordingDriver::Call::Ioctl && c.request == DAC_IOC_SET_OUTPUTS)
                out.push_back(c);
        return out;
    }
    QByteArray lastDacRecord() const
    {
        const auto records = dacRecords();
        return records.empty() ? QByteArray() : records.back().sent;
    }

    // The record as the module expects it, written out byte by byte: four
    // little-endian doubles, then the enable word 1.
    static QByteArray expectedRecord(std::initializer_list<const char*> voltBytes)
    {
        QByteArray bytes;
        for (const char* hex : voltBytes)
            bytes += QByteArray::fromHex(hex);
        return bytes + QByteArray::fromHex("01000000");
    }

    // Types a value into the box and presses Return, as an operator would.
    void typeInto(int ch, double volts)
    {
        QDoubleSpinBox* b = box(ch);
        b->selectAll();
        QTest::keyClicks(b, QString::number(volts, 'f', 5));
        QTest::keyClick(b, Qt::Key_Return);
    }

    std::vector<MailboxMessage> outputSourceRequests() const
    {
        return m_program.sent(cmd::SetOutputsFromController);
    }

private slots:
    void init()
    {
        m_outputsFromController = 1;
        m_program.driver.defaultReply = [this](MailboxMessage& m) {
            if (m.command() == cmd::ReadOutputsFromController)
                m.setU8(4, m_outputsFromController);
            m.setU32(0, m.command() | kReplyAcknowledged);
        };
        m_program.setUp();
        theDriver = &m_program.driver;
        m_window = std::make_unique<WindowManOutCtrl>();
    }

    void cleanup()
    {
        m_window.reset();
        theDriver = nullptr;
        m_program.driver.setNodePresent(kDacNode, true);
        m_program.driver.failRequest(0);
        m_program.tearDown();
    }

    void dacNode_openForTheWindowsLife()
    {
        const auto calls = m_program.driver.calls();
        QCOMPARE(int(calls.size()), 1);
        QCOMPARE(calls[0].kind, RecordingDriver::Call::Open);
        QCOMPARE(calls[0].path, std::string(kDacNode));
        QCOMPARE(calls[0].flags, O_RDWR | O_SYNC);
        QVERIFY(m_window->dacAvailable());

        // Records go to that node, and it is closed with the window.
        slider(3)->setValue(1);
        const auto records = dacRecords();
        QVERIFY(!records.empty());
        const int dacFd = records.back().fd;
        m_program.driver.clearCalls();
        m_window.reset();
        const auto closes = m_program.driver.calls();
        QCOMPARE(int(closes.size()), 1);
        QCOMPARE(closes[0].kind, RecordingDriver::Call::Close);
        QCOMPARE(closes[0].fd, dacFd);
    }

    // A box leaving its slider's volt moves the slider, which cuts the box to
    // whole volts; a fraction within the slider's volt stays.
    void boxAndSlider_keepInStep()
    {
        typeInto(0, 2.5);
        QCOMPARE(slider(0)->value(), 2);
        QCOMPARE(box(0)->value(), 2.0);
        QCOMPARE(lastDacRecord(), expectedRecord({"0000000000000040", "0000000000000000",
                                                  "0000000000000000", "0000000000000000"}));

        m_program.driver.clearCalls();
        typeInto(0, 2.5);
        QCOMPARE(slider(0)->value(), 2);
        QCOMPARE(box(0)->value(), 2.5);
        QCOMPARE(lastDacRecord(), expectedRecord({"0000000000000440", "0000000000000000",
                                                  "0000000000000000", "0000000000000000"}));

        // Below the boxes' range: the output is 0 V.
        slider(1)->setValue(-1);
        QCOMPARE(box(1)->value(), 0.0);
        QCOMPARE(lastDacRecord(), expectedRecord({"0000000000000440", "0000000000000000",
                                                  "0000000000000000", "0000000000000000"}));

        // Half-typed values never reach the outputs: "12" is not 1 V first.
        m_program.driver.clearCalls();
        box(2)->selectAll();
        QTest::keyClicks(box(2), QStringLiteral("12"));
        QVERIFY(dacRecords().empty());
        QTest::keyClick(box(2), Qt::Key_Return);
        QCOMPARE(slider(2)->value(), 12);
        QVERIFY(!dacRecords().empty());
        for (const RecordingDriver::Call& c : dacRecords())
            QCOMPARE(c.sent.mid(16, 8), QByteArray::fromHex("0000000000002840"));
    }

    // Moving one output leaves the others alone, fractions included.
    void sliderMove_touchesOnlyItsOwnChannel()
    {
        typeInto(0, 2.0);
        typeInto(0, 2.5);
        typeInto(3, 7.0);
        typeInto(3, 7.25);
        slider(1)->setValue(5);
        QCOMPARE(slider(1)->value(), 5);
        QCOMPARE(box(1)->value(), 5.0);
        QCOMPARE(box(0)->value(), 2.5);
        QCOMPARE(box(3)->value(), 7.25);
        QCOMPARE(slider(0)->value(), 2);
        // 2.5, 5, 0, 7.25 V
        QCOMPARE(lastDacRecord(), expectedRecord({"0000000000000440", "0000000000001440",
                                                  "0000000000000000", "0000000000001d40"}));
    }

    // The box shows who drives the outputs; only the operator's click hands
    // them over, opening the window never does.
    void enableBox_showsOutputSource_andHandsOverOnlyOnClick()
    {
        m_window->showWindow();
        QVERIFY(m_window->isVisible());
        QVERIFY(!enableBox()->isChecked());
        QVERIFY(outputSourceRequests().empty());

        enableBox()->click();
        auto sent = outputSourceRequests();
        QCOMPARE(int(sent.size()), 1);
        QCOMPARE(sent[0].u8(4), uint8_t(0)); // the host drives
        enableBox()->click();
        sent = outputSourceRequests();
        QCOMPARE(int(sent.size()), 2);
        QCOMPARE(sent[1].u8(4), uint8_t(1)); // back to the PID controller

        // The host drives them already: shown checked, nothing sent.
        m_outputsFromController = 0;
        m_window->hide();
        m_window->showWindow();
        QVERIFY(enableBox()->isChecked());
        QCOMPARE(int(outputSourceRequests().size()), 2);

        // A failed read must not take the outputs away from the controller.
        m_outputsFromController = 1;
        enableBox()->click();
        m_program.driver.clearCalls();
        m_program.driver.failTransfer(1);
        m_window->showWindow();
        QVERIFY(outputSourceRequests().empty());
    }

    // Without the DAC node nothing is sent and the window says why; the node
    // is looked for again when the window is opened.
    void missingDacNode_sendsNothing_foundAgainOnShow()
    {
        m_window.reset();
        m_program.driver.setNodePresent(kDacNode, false);
        m_window = std::make_unique<WindowManOutCtrl>();
        m_window->showWindow();
        QVERIFY(!m_window->dacAvailable());
        auto* status = m_window->findChild<QLabel*>(QStringLiteral("dacStatusLabel"));
        QVERIFY(status->isVisible());
        QVERIFY(status->text().contains(QLatin1String(kDacNode)));

        typeInto(2, 4.0);
        QCOMPARE(box(2)->value(), 4.0);
        QVERIFY(dacRecords().empty());
        for (const RecordingDriver::Call& c : m_program.driver.calls())
            QVERIFY(c.kind != RecordingDriver::Call::Ioctl || c.fd >= 0);

        m_program.driver.setNodePresent(kDacNode, true);
        m_window->hide();
        m_window->showWindow();
        QVERIFY(m_window->dacAvailable());
        QVERIFY(!status->isVisible());
        typeInto(2, 4.5);
        QCOMPARE(lastDacRecord(), expectedRecord({"0000000000000000", "0000000000000000",
                                                  "0000000000001240", "0000000000000000"}));
    }

    // A failing request may mean that the node went away: the window lets
    // go of the descriptor and looks for the node again on the next change
    // or showing. A node that is still there is opened again silently; one
    // that is gone brings up the note until it is back.
    void failingRequest_nodeLookedForAgain_noteOnlyWhileMissing()
    {
        m_window->showWindow();
        auto* note = m_window->findChild<QLabel*>(QStringLiteral("dacStatusLabel"));
        slider(1)->setValue(2);
        const int firstFd = dacRecords().back().fd;

        m_program.driver.failRequest(DAC_IOC_SET_OUTPUTS);
        slider(1)->setValue(3);
        m_program.driver.failRequest(0);
        QVERIFY(!note->isVisible());
        bool closed = false;
        for (const RecordingDriver::Call& c : m_program.driver.calls())
            closed = closed || (c.kind == RecordingDriver::Call::Close && c.fd == firstFd);
        QVERIFY(closed);
        slider(1)->setValue(4);
        QVERIFY(dacRecords().back().fd != firstFd);
        QCOMPARE(lastDacRecord(), expectedRecord({"0000000000000000", "0000000000001040",
                                                  "0000000000000000", "0000000000000000"}));

        // The module is unplugged.
        m_program.driver.setNodePresent(kDacNode, false);
        m_program.driver.failRequest(DAC_IOC_SET_OUTPUTS);
        slider(1)->setValue(5);
        slider(1)->setValue(6);
        QVERIFY(note->isVisible());
        QVERIFY(!m_window->dacAvailable());

        m_program.driver.setNodePresent(kDacNode, true);
        m_program.driver.failRequest(0);
        m_window->hide();
        m_window->showWindow();
        QVERIFY(!note->isVisible());
        slider(1)->setValue(7);
        QCOMPARE(lastDacRecord(), expectedRecord({"0000000000000000", "0000000000001c40",
                                                  "0000000000000000", "0000000000000000"}));
    }

    // The main window keeps one instance and shows it from its action.
    void mainWindowAction_showsTheKeptWindow()
    {
        MainWindow main;
        QAction* show = main.findChild<QAction*>(QStringLiteral("actionManual_Output_Control"));
        main.handleUserLevelChange(1);
        show->trigger();
        const auto windows = main.findChildren<WindowManOutCtrl*>();
        QCOMPARE(windows.size(), 1);
        QVERIFY(windows[0]->isVisible());
        show->trigger();
        QCOMPARE(main.findChildren<WindowManOutCtrl*>().size(), 1);
    }
};

QTEST_MAIN(TestWindowManOutCtrl)
#include "tst_windowmanoutctrl.moc"
