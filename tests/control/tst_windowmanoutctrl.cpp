// Manual output control over the recording driver: how sliders and boxes keep
// each other in step, the bytes that reach the DAC module, who drives the
// outputs, and a DAC node that cannot be opened or goes away.

#include "app/mainwindow.h"
#include "control/windowmanoutctrl.h"
#include "support/programfixture.h"
#include "support/widgets.h"

#include <QtWidgets>

#include <fcntl.h>

using namespace zevo;
using Call = RecordingDriver::Call;

namespace
{
// The record as the module expects it: four little-endian doubles (volts),
// then the enable word 1.
QByteArray record(const char* voltsHex)
{
    return QByteArray::fromHex(voltsHex) + QByteArray::fromHex("01000000");
}
} // namespace

class TestWindowManOutCtrl : public QObject
{
    Q_OBJECT

    ProgramFixture m_program;
    RecordingDriver& m_driver = m_program.driver;
    std::unique_ptr<WindowManOutCtrl> w;
    uint8_t m_outputsFromController = 1; // what the controller reports

    QSlider* slider(int ch) const
    {
        return child<QSlider>(w.get(), qPrintable(QString("ch%1slider").arg(ch)));
    }
    QDoubleSpinBox* box(int ch) const
    {
        return child<QDoubleSpinBox>(w.get(), qPrintable(QString("boxCh%1").arg(ch)));
    }
    // A channel's slider position and box value.
    QString shown(int ch) const
    {
        return QString("%1 / %2").arg(slider(ch)->value()).arg(box(ch)->value());
    }
    QCheckBox* enableBox() const { return child<QCheckBox>(w.get(), "checboxEnableMan"); }
    QLabel* note() const { return child<QLabel>(w.get(), "dacStatusLabel"); }

    std::vector<Call> dacRecords() const
    {
        std::vector<Call> out;
        for (const Call& c : m_driver.calls())
            if (c.kind == Call::Ioctl && c.request == DAC_IOC_SET_OUTPUTS)
                out.push_back(c);
        return out;
    }
    QByteArray lastDacRecord() const
    {
        const auto records = dacRecords();
        return records.empty() ? QByteArray() : records.back().sent;
    }
    bool closed(int fd) const
    {
        for (const Call& c : m_driver.calls())
            if (c.kind == Call::Close && c.fd == fd)
                return true;
        return false;
    }

    // Types a value into the box and presses Return, as an operator would.
    void typeInto(int ch, double volts)
    {
        box(ch)->selectAll();
        QTest::keyClicks(box(ch), QString::number(volts, 'f', 5));
        QTest::keyClick(box(ch), Qt::Key_Return);
    }
    void reshow()
    {
        w->hide();
        w->showWindow();
    }
    std::vector<MailboxMessage> sourceRequests() const
    {
        return m_program.sent(cmd::SetOutputsFromController);
    }

private slots:
    void init()
    {
        m_outputsFromController = 1;
        m_driver.defaultReply = [this](MailboxMessage& m) {
            if (m.command() == cmd::ReadOutputsFromController)
                m.setU8(4, m_outputsFromController);
            m.setU32(0, m.command() | kReplyAcknowledged);
        };
        m_program.setUp();
        w = std::make_unique<WindowManOutCtrl>();
    }

    void cleanup()
    {
        w.reset();
        m_driver.setNodePresent(kDacNode, true);
        m_driver.failRequest(0);
        m_program.tearDown();
    }

    // The node is opened once, read-write and synchronous, records go to it,
    // and it is closed with the window.
    void dacNode_openForTheWindowsLife()
    {
        const auto calls = m_driver.calls();
        QCOMPARE(int(calls.size()), 1);
        QCOMPARE(calls[0].kind, Call::Open);
        QCOMPARE(calls[0].path, std::string(kDacNode));
        QCOMPARE(calls[0].flags, O_RDWR | O_SYNC);
        QVERIFY(w->dacAvailable());
        slider(3)->setValue(1);
        QVERIFY(!dacRecords().empty());
        const int dacFd = dacRecords().back().fd;
        m_driver.clearCalls();
        w.reset();
        const auto closes = m_driver.calls();
        QCOMPARE(int(closes.size()), 1);
        QVERIFY(closed(dacFd));
    }

    // A box leaving its slider's volt moves the slider, which cuts the box to
    // whole volts; a fraction within the slider's volt stays. Moving one
    // output leaves the others alone, fractions included.
    void boxAndSlider_keepInStep_eachChannelOnItsOwn()
    {
        typeInto(0, 2.5);
        QCOMPARE(shown(0), QStringLiteral("2 / 2"));
        QCOMPARE(lastDacRecord(), record("0000000000000040 0000000000000000 "
                                         "0000000000000000 0000000000000000"));
        typeInto(0, 2.5);
        QCOMPARE(shown(0), QStringLiteral("2 / 2.5"));
        QCOMPARE(lastDacRecord(), record("0000000000000440 0000000000000000 "
                                         "0000000000000000 0000000000000000"));
        // Below the boxes' range: the output is 0 V.
        slider(1)->setValue(-1);
        QCOMPARE(box(1)->value(), 0.0);
        QCOMPARE(lastDacRecord(), record("0000000000000440 0000000000000000 "
                                         "0000000000000000 0000000000000000"));

        typeInto(3, 7.0);
        typeInto(3, 7.25);
        slider(1)->setValue(5);
        QCOMPARE(QStringList({shown(0), shown(1), shown(3)}),
                 (QStringList{"2 / 2.5", "5 / 5", "7 / 7.25"}));
        QCOMPARE(lastDacRecord(), record("0000000000000440 0000000000001440 "
                                         "0000000000000000 0000000000001d40"));

        // Half-typed values never reach the outputs: "12" is not 1 V first.
        m_driver.clearCalls();
        box(2)->selectAll();
        QTest::keyClicks(box(2), QStringLiteral("12"));
        QVERIFY(dacRecords().empty());
        QTest::keyClick(box(2), Qt::Key_Return);
        QCOMPARE(slider(2)->value(), 12);
        QVERIFY(!dacRecords().empty());
        for (const Call& c : dacRecords())
            QCOMPARE(c.sent.mid(16, 8).toHex(), QByteArray("0000000000002840"));
    }

    // The box shows who drives the outputs; only the operator's click hands
    // them over, opening the window never does.
    void enableBox_showsOutputSource_andHandsOverOnlyOnClick()
    {
        w->showWindow();
        QVERIFY(w->isVisible() && !enableBox()->isChecked());
        QVERIFY(sourceRequests().empty());
        enableBox()->click();
        enableBox()->click();
        const auto sent = sourceRequests();
        QCOMPARE(int(sent.size()), 2);
        QCOMPARE(sent[0].u8(4), uint8_t(0)); // the host drives
        QCOMPARE(sent[1].u8(4), uint8_t(1)); // back to the PID controller

        // The host drives them already: shown checked, nothing sent.
        m_outputsFromController = 0;
        reshow();
        QVERIFY(enableBox()->isChecked());
        QCOMPARE(int(sourceRequests().size()), 2);

        // A failed read must not take the outputs away from the controller.
        m_outputsFromController = 1;
        enableBox()->click();
        m_driver.clearCalls();
        m_driver.failTransfer(1);
        w->showWindow();
        QVERIFY(sourceRequests().empty());
    }

    // Without the DAC node nothing is sent and the window says why; the node
    // is looked for again when the window is opened. A failing request may
    // mean that the node went away: the window lets go of the descriptor and
    // looks for the node again on the next change or showing. A node that is
    // still there is opened again silently; one that is gone brings up the
    // note until it is back.
    void missingOrFailingDacNode_lookedForAgain_noteOnlyWhileMissing()
    {
        w.reset();
        m_driver.setNodePresent(kDacNode, false);
        w = std::make_unique<WindowManOutCtrl>();
        w->showWindow();
        QVERIFY(!w->dacAvailable());
        QVERIFY(note()->isVisible());
        QVERIFY(note()->text().contains(QLatin1String(kDacNode)));
        typeInto(2, 4.0);
        QCOMPARE(box(2)->value(), 4.0);
        for (const Call& c : m_driver.calls())
            QVERIFY(c.kind != Call::Ioctl || c.fd >= 0);
        QVERIFY(dacRecords().empty());

        m_driver.setNodePresent(kDacNode, true);
        reshow();
        QVERIFY(w->dacAvailable() && !note()->isVisible());
        typeInto(2, 4.5);
        QCOMPARE(lastDacRecord(), record("0000000000000000 0000000000000000 "
                                         "0000000000001240 0000000000000000"));

        slider(1)->setValue(2);
        const int firstFd = dacRecords().back().fd;
        m_driver.failRequest(DAC_IOC_SET_OUTPUTS);
        slider(1)->setValue(3);
        m_driver.failRequest(0);
        QVERIFY(!note()->isVisible());
        QVERIFY(closed(firstFd));
        slider(1)->setValue(4);
        QVERIFY(dacRecords().back().fd != firstFd);
        QCOMPARE(lastDacRecord(), record("0000000000000000 0000000000001040 "
                                         "0000000000001240 0000000000000000"));

        // The module is unplugged.
        m_driver.setNodePresent(kDacNode, false);
        m_driver.failRequest(DAC_IOC_SET_OUTPUTS);
        slider(1)->setValue(5);
        slider(1)->setValue(6);
        QVERIFY(note()->isVisible() && !w->dacAvailable());
        m_driver.setNodePresent(kDacNode, true);
        m_driver.failRequest(0);
        reshow();
        QVERIFY(!note()->isVisible());
        slider(1)->setValue(7);
        QCOMPARE(lastDacRecord(), record("0000000000000000 0000000000001c40 "
                                         "0000000000001240 0000000000000000"));
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
