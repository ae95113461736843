// The display settings dialog: OK applies frequency, filter and buffer
// length, Cancel nothing; the pause acts at once.

#include "support/programfixture.h"
#include "support/widgets.h"

#include "plots/windowdisplaysettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>

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
        standardButton(w.get(), which)->click();
    }

private slots:
    void init()
    {
        f.controller.displayFilter = true;
        f.controller.displayDivider = 100000;
        f.setUp();
        w = std::make_unique<WindowDisplaySettings>();
        frequency = child<QDoubleSpinBox>(w.get(), "dispFreqBox");
        filter = child<QCheckBox>(w.get(), "enableFilterCheckBox");
        buffer = child<QComboBox>(w.get(), "bufferSamplesComboBox");
        pause = child<QCheckBox>(w.get(), "pauseCheckBox");
        w->showWindow();
    }

    void cleanup()
    {
        w.reset();
        f.tearDown();
    }

    // OK applies what the form shows; a frequency below 1 Hz is 1 Hz, never 0.
    void okAppliesFrequencyFilterAndBuffer_data()
    {
        QTest::addColumn<double>("hz");
        QTest::addColumn<int>("sampFreq");
        QTest::addColumn<uint>("divider");
        QTest::newRow("500 Hz") << 500.0 << 500 << 200000u;
        QTest::newRow("0.4 Hz") << 0.4 << 1 << 100000000u;
    }
    void okAppliesFrequencyFilterAndBuffer()
    {
        QFETCH(double, hz);
        QFETCH(int, sampFreq);
        QFETCH(uint, divider);
        frequency->setValue(hz);
        filter->setChecked(false);
        buffer->setCurrentText("1024");
        press(QDialogButtonBox::Ok);
        QCOMPARE(SAMP_FREQ, sampFreq);
        QCOMPARE(BUFFER_BYTES, 1024 * 256);
        const auto sent = f.sent(cmd::SetDisplayFrequency);
        QCOMPARE(int(sent.size()), 1);
        QCOMPARE(std::make_pair(sent[0].u32(8), int(sent[0].u8(4))), std::make_pair(divider, 0));
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
        QVERIFY(!pause->isChecked() && filter->isChecked()); // the controller's filter flag
    }
};

QTEST_MAIN(TestDisplaySettings)
#include "tst_displaysettings.moc"
