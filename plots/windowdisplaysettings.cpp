#include "plots/windowdisplaysettings.h"

#include "acquisition/updater.h"
#include "device/globals.h"
#include "device/mailboxcomm.h"
#include "device/protocol.h"

#include "ui_windowdisplaysettings.h"

WindowDisplaySettings::WindowDisplaySettings(QWidget* parent)
    : QDialog(parent), ui(new Ui::WindowDisplaySettings)
{
    ui->setupUi(this);
    // The display frequency divides the time axes and the controller's
    // 100 MHz display period, so the form's minimum is 1 Hz, not 0.
    ui->dispFreqBox->setValue(SAMP_FREQ);
    readFilterFromController();

    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &WindowDisplaySettings::saveSettings);
    connect(ui->pauseCheckBox, &QCheckBox::toggled, this,
            &WindowDisplaySettings::pauseButtonChanged);
}

WindowDisplaySettings::~WindowDisplaySettings() = default;

void WindowDisplaySettings::showWindow()
{
    show();
    ui->pauseCheckBox->setChecked(theUpdater && theUpdater->paused);
    ui->dispFreqBox->setValue(SAMP_FREQ);
    ui->bufferSamplesComboBox->setCurrentText(
        QString::number(BUFFER_BYTES / zevo::kDisplayRecordBytes));
    // A filter box changed and then cancelled must not show a filter state
    // the controller does not have.
    readFilterFromController();
}

void WindowDisplaySettings::pauseButtonChanged(bool checked)
{
    if (theUpdater)
        theUpdater->paused = checked;
}

void WindowDisplaySettings::saveSettings()
{
    const int frequency = int(ui->dispFreqBox->value()); // truncated toward zero
    if (frequency > 0) {
        SAMP_FREQ = frequency;
        if (theMailbox)
            theMailbox->setDisplayFrequency(ui->enableFilterCheckBox->isChecked());
    }

    bool ok = false;
    const int records = ui->bufferSamplesComboBox->currentText().toInt(&ok);
    if (ok && records > 0)
        BUFFER_BYTES = records * zevo::kDisplayRecordBytes;
}

void WindowDisplaySettings::readFilterFromController()
{
    if (!theMailbox)
        return;
    bool filter = false;
    theMailbox->readDisplayFrequency(&filter);
    ui->enableFilterCheckBox->setChecked(filter);
}
