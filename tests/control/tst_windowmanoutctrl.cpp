// Manual output control over the recording driver: how sliders and boxes keep
// each other in step, the bytes that reach the DAC module, who drives the
// outputs, and a DAC node that cannot be opened or goes away.

#include "app/mainwindow.h"
#include "control/windowmanoutctrl.h"
#include "support/programfixture.h"
#include "support/widgets.h"

#include <QtWidgets>

#include <algorithm>
#include <cstring>

#include <fcntl.h>

using namespace zevo;
using Call = RecordingDriver::Call;

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
    QCheckBox* enableBox() const { return child<QCheckBox>(w.get(), "checboxEnableMan"); }
    bool noteShown() const { return child(w.get(), "dacStatusLabel")->isVisible(); }
    // The DAC records sent since the last clearCalls(): descriptor, then volts.
    QStringList dacRecords() const
    {
        QStringList out;
        for (const Call& c : m_driver.calls())
            if (c.kind == Call::Ioctl && c.request == DAC_IOC_SET_OUTPUTS) {
                DacOutputRecord r{};
                // The driver takes the volts and the flag, not the record's tail padding.
                std::memcpy(&r, c.sent.constData(), std::min(sizeof r, std::size_t(c.sent.size())));
                out << QString("%1: %2 %3 %4 %5")
                           .arg(c.fd)
                           .arg(r.volts[0])
                           .arg(r.volts[1])
                           .arg(r.volts[2])
                           .arg(r.volts[3]);
            }
        return out;
    }
    QString lastVolts() const
    {
        return dacRecords().value(dacRecords().size() - 1).section(": ", 1);
    }
    int lastFd() const
    {
        return dacRecords().value(dacRecords().size() - 1).section(':', 0, 0).toInt();
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
    QString sourceRequests() const
    {
        QString out;
        for (const MailboxMessage& m : m_program.sent(cmd::SetOutputsFromController))
            out += QString::number(m.u8(4));
        return out;
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

    // The node is opened once, read-write and synchronous, records go to it
    // (four little-endian doubles in volts, then the enable word 1), and it
    // is closed with the window. A box leaving its slider's volt moves the
    // slider, which cuts the box to whole volts; a fraction within the
    // slider's volt stays. Moving one output leaves the others alone,
    // fractions included; below the boxes' range is 0 V; half-typed values
    // ("1" of "12") never reach the outputs.
    void dacNode_openForTheWindowsLife_boxAndSliderKeepInStepPerChannel()
    {
        const auto calls = m_driver.calls();
        QCOMPARE(int(calls.size()), 1);
        QCOMPARE(std::make_tuple(calls[0].kind, calls[0].path, calls[0].flags),
                 std::make_tuple(Call::Open, std::string(kDacNode), O_RDWR | O_SYNC));
        typeInto(0, 2.5);
        QCOMPARE(lastVolts(), QStringLiteral("2 0 0 0"));
        typeInto(0, 2.5);
        slider(1)->setValue(-1);
        typeInto(3, 7.0);
        QCOMPARE(m_driver.calls().back().sent.toHex(),
                 QByteArray("0000000000000440 0000000000000000 0000000000000000 "
                            "0000000000001c40 01000000")
                     .replace(' ', ""));
        typeInto(3, 7.25);
        slider(1)->setValue(5);
        QStringList shown;
        for (int ch = 0; ch < 4; ++ch)
            shown << QString("%1/%2").arg(slider(ch)->value()).arg(box(ch)->value());
        QCOMPARE(shown.join(' ') + ", " + lastVolts(),
                 QStringLiteral("2/2.5 5/5 0/0 7/7.25, 2.5 5 0 7.25"));

        m_driver.clearCalls();
        box(2)->selectAll();
        QTest::keyClicks(box(2), QStringLiteral("12"));
        QVERIFY(dacRecords().isEmpty());
        QTest::keyClick(box(2), Qt::Key_Return);
        QCOMPARE(slider(2)->value(), 12);
        for (const QString& record : dacRecords())
            QCOMPARE(record.section(' ', 3, 3), QStringLiteral("12"));

        const int dacFd = lastFd();
        m_driver.clearCalls();
        w.reset();
        QVERIFY(m_driver.calls().size() == 1 && closed(dacFd));
    }

    // The box shows who drives the outputs; only the operator's click hands
    // them over, opening the window never does, not even after a failed read.
    void enableBox_showsOutputSource_andHandsOverOnlyOnClick_mainWindowKeepsOne()
    {
        w->showWindow();
        QVERIFY(!enableBox()->isChecked());
        enableBox()->click();
        enableBox()->click();
        m_outputsFromController = 0;
        reshow();
        QVERIFY(enableBox()->isChecked());
        QCOMPARE(sourceRequests(), QStringLiteral("01")); // the host drives, then the controller
        m_outputsFromController = 1;
        enableBox()->click();
        m_driver.clearCalls();
        m_driver.failTransfer(1);
        w->showWindow();
        QCOMPARE(sourceRequests(), QString());

        // The main window keeps one instance and shows it from its action.
        MainWindow main;
        QAction* show = main.findChild<QAction*>(QStringLiteral("actionManual_Output_Control"));
        main.handleUserLevelChange(1);
        show->trigger();
        show->trigger();
        const auto windows = main.findChildren<WindowManOutCtrl*>();
        QVERIFY(windows.size() == 1 && windows[0]->isVisible());
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
        QVERIFY(!w->dacAvailable() && noteShown());
        QVERIFY(child<QLabel>(w.get(), "dacStatusLabel")->text().contains(kDacNode));
        typeInto(2, 4.0);
        QVERIFY(box(2)->value() == 4.0 && dacRecords().isEmpty());

        m_driver.setNodePresent(kDacNode, true);
        reshow();
        QVERIFY(w->dacAvailable() && !noteShown());
        typeInto(2, 4.5);
        QCOMPARE(lastVolts(), QStringLiteral("0 0 4.5 0"));
        const int firstFd = lastFd();
        m_driver.failRequest(DAC_IOC_SET_OUTPUTS);
        slider(1)->setValue(3);
        m_driver.failRequest(0);
        QVERIFY(!noteShown() && closed(firstFd));
        slider(1)->setValue(4);
        QVERIFY(lastFd() != firstFd);
        QCOMPARE(lastVolts(), QStringLiteral("0 4 4.5 0"));

        // The module is unplugged.
        m_driver.setNodePresent(kDacNode, false);
        m_driver.failRequest(DAC_IOC_SET_OUTPUTS);
        slider(1)->setValue(5);
        slider(1)->setValue(6);
        QVERIFY(noteShown() && !w->dacAvailable());
        m_driver.setNodePresent(kDacNode, true);
        m_driver.failRequest(0);
        reshow();
        QVERIFY(!noteShown());
        slider(1)->setValue(7);
        QCOMPARE(lastVolts(), QStringLiteral("0 7 4.5 0"));
    }
};

QTEST_MAIN(TestWindowManOutCtrl)
#include "tst_windowmanoutctrl.moc"
