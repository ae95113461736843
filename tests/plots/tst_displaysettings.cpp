// The display settings dialog: OK applies frequency, filter and buffer
// length, Cancel nothing; the pause acts at once.

#include "support/programfixture.h"

#include "plots/windowdisplaysettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QPushButton>

namespace cmd = zevo::cmd;

class TestDisplaySettings : public QObject
{
    Q_OBJECT

    ProgramFixture f;
    std::unique_ptr<WindowDisplaySettings> w;
    QDoubleSpinBox* frequency = nullptr;
    QCheckBox* filter = nullptr;
    QComboBox* buffer = nullptr;
    QCheckBox* pause = nullptr;

    void press(QDialogButtonBox::StandardButton which)
    {
        f.driver.clearCalls();
        w->findChild<QDialogButtonBox*>("buttonBox")->button(which)->click();
    }

private slots:
    void init()
    {
        f.setUp();
        f.driver.defaultReply = [](zevo::MailboxMessage& m) {
            if (m.command() == cmd::ReadDisplayFrequency) {
                m.setU8(4, 1); // filter on
                m.setU32(8, 100000);
            }
            m.setU32(0, m.command() | zevo::kReplyAcknowledged);
        };
        w = std::make_unique<WindowDisplaySettings>();
        frequency = w->findChild<QDoubleSpinBox*>("dispFreqBox");
        filter = w->findChild<QCheckBox*>("enableFilterCheckBox");
        buffer = w->findChild<QComboBox*>("bufferSamplesComboBox");
        pause = w->findChild<QCheckBox*>("pauseCheckBox");
        w->showWindow();
    }

    void cleanup()
    {
        w.reset();
        f.tearDown();
    }

    void okAppliesFrequencyFilterAndBuffer()
    {
        QCOMPARE(frequency->value(), 1000.0);
        QVERIFY(filter->isChecked());
        QCOMPARE(buffer->currentText(), QString("14336"));

        frequency->setValue(500);
        filter->setChecked(false);
        buffer->setCurrentText("1024");
        press(QDialogButtonBox::Ok);
        QCOMPARE(SAMP_FREQ, 500);
        QCOMPARE(BUFFER_BYTES, 1024 * 256);
        const auto sent = f.sent(cmd::SetDisplayFrequency);
        QCOMPARE(int(sent.size()), 1);
        QCOMPARE(sent[0].u32(8), 200000u);
        QCOMPARE(int(sent[0].u8(4)), 0);
        QVERIFY(!w->isVisible());
    }

    void cancelChangesNothingButThePause()
    {
        frequency->setValue(3000);
        filter->setChecked(false);
        buffer->setCurrentText("2048");
        pause->setChecked(true);
        QVERIFY(f.updater->paused); // at once, before any button
        press(QDialogButtonBox::Cancel);
        QCOMPARE(SAMP_FREQ, 1000);
        QCOMPARE(BUFFER_BYTES, zevo::kDisplayBufferBytes);
        QVERIFY(f.sent(cmd::SetDisplayFrequency).empty());
        QVERIFY(f.updater->paused);

        // Shown again, the form tells what is in force.
        f.updater->paused = false;
        SAMP_FREQ = 2000;
        BUFFER_BYTES = 4096 * 256;
        w->showWindow();
        QCOMPARE(frequency->value(), 2000.0);
        QCOMPARE(buffer->currentText(), QString("4096"));
        QVERIFY(!pause->isChecked() && filter->isChecked());
    }

    void frequencyNeverReachesZero()
    {
        frequency->setValue(0.4);
        press(QDialogButtonBox::Ok);
        QCOMPARE(SAMP_FREQ, 1);
        const auto sent = f.sent(cmd::SetDisplayFrequency);
        QCOMPARE(int(sent.size()), 1);
        QCOMPARE(sent[0].u32(8), 100000000u);
    }
};

QTEST_MAIN(TestDisplaySettings)
#include "tst_displaysettings.moc"
