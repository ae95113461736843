#include "measure/windowsavedata.h"
#include "ui_windowsavedata.h"

#include "device/driver.h"
#include "device/globals.h"
#include "device/mailboxcomm.h"
#include "device/version.h"
#include "export/displaynexus.h"
#include "export/nexusfile.h"
#include "measure/savefiledialog.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHostInfo>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include <algorithm>

#include <fcntl.h>

namespace
{

QString clockNow()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss"));
}

} // namespace

WindowSaveData::WindowSaveData(QWidget* parent) : QDialog(parent), ui(new Ui::WindowSaveData)
{
    ui->setupUi(this);
    m_boxes = {ui->checkDorvishch1,   ui->checkDorvishch2,   ui->checkDorvishch3,
               ui->checkDorvishch4,   ui->checkDorvishch1_2, ui->checkDorvishch2_2,
               ui->checkDorvishch3_2, ui->checkDorvishch4_2, ui->checkBPMposX,
               ui->checkBPMposY,      ui->checkBPMi0,        ui->checkBPMposX_2,
               ui->checkBPMposY_2,    ui->checkBPMi0_2,      ui->checkOstrelch1,
               ui->checkOstrelch2,    ui->checkOstrelch3};

    // Return in the path or samples field saves; it neither asks for another
    // file (which would replace the typed path) nor closes the window.
    QPushButton* saveButton =
        ui->buttonBox->addButton(QStringLiteral("Save"), QDialogButtonBox::ApplyRole);
    saveButton->setDefault(true);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(ui->buttonBox, &QDialogButtonBox::clicked, this, &WindowSaveData::saveData);
    connect(ui->selectPathButton, &QPushButton::released, this, &WindowSaveData::getPath);
    // Each drives the other; setValue() with the value already shown emits
    // nothing, so the pair settles after one round.
    connect(ui->nrSampBox, QOverload<int>::of(&QSpinBox::valueChanged), ui->nrSampSlider,
            &QSlider::setValue);
    connect(ui->nrSampSlider, &QSlider::valueChanged, ui->nrSampBox, &QSpinBox::setValue);

    // With an encoder interface the picoammeter fields of the display record
    // carry encoder counts. The labels follow the interface present now; the
    // file's columns follow the one present at the moment of saving.
    if (theMailbox && theMailbox->pavunPresent()) {
        const char* encoderLabels[] = {"Encoder 1",
                                       "Encoder 2",
                                       "Encoder 1 (inv)",
                                       "Encoder 2 (inv)",
                                       "Pavun 2 Encoder 1",
                                       "Pavun 2 Encoder 2",
                                       "Pavun 2 Encoder 1 (inv)",
                                       "Pavun 2 Encoder 2 (inv)"};
        for (int c = displaycsv::Pico1Ch1; c <= displaycsv::Pico2Ch4; ++c)
            m_boxes[c]->setText(QString::fromLatin1(encoderLabels[c]));
    }
}

WindowSaveData::~WindowSaveData() = default;

void WindowSaveData::getPath()
{
    const QString proposed =
        QStringLiteral("ZEVO_meas_") +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss")) +
        QStringLiteral(".csv");
    QPointer<WindowSaveData> alive(this);
    const QString path =
        savefiledialog::ask(this, QStringLiteral("Select filename..."), proposed,
                            {QStringLiteral("CSV files (*.csv)"), NexusFile::kFileFilter});
    if (alive)
        ui->pathLineEdit->setText(path);
}

void WindowSaveData::saveData(QAbstractButton* button)
{
    if (!button || !button->text().contains(QStringLiteral("Save")))
        return;
    // The boxes a save opens are modal, but a second save must never start
    // inside the first one however the click arrives.
    if (m_saving)
        return;
    m_saving = true;
    QPointer<WindowSaveData> alive(this);
    save();
    if (alive)
        m_saving = false;
}

void WindowSaveData::save()
{
    QPointer<WindowSaveData> alive(this);
    const int samples = ui->nrSampBox->value();

    // The snapshot is taken as Save is pressed, before any question is asked.
    std::vector<zevo::DisplayRecord> records;
    QString error;
    if (!readSnapshot(records, samples, error)) {
        showNotSaved(QStringLiteral("Cannot read display data"), error,
                     QStringLiteral("display data could not be read"));
        return;
    }

    if (ui->pathLineEdit->text().isEmpty()) {
        getPath();
        if (!alive)
            return;
    }
    const QString path = ui->pathLineEdit->text();
    if (path.isEmpty()) {
        // The operator cancelled the file dialog: nothing to report but that.
        ui->statusLabel->setText(clockNow() + QStringLiteral(": Not saved: no file chosen"));
        return;
    }

    displaycsv::Mode mode = displaycsv::Mode::Append; // creates a missing file
    if (QFileInfo::exists(path)) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("File exists"),
                        QStringLiteral("File: ") + path +
                            QStringLiteral(" already exist.\n\nOverwrite file?\n\n"
                                           "Yes - overwrite file\n"
                                           "No - append to existing file\n"
                                           "Cancel - cancel writing to file"),
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        const int answer = box.exec();
        if (!alive)
            return;
        if (answer == QMessageBox::Yes)
            mode = displaycsv::Mode::Overwrite;
        else if (answer != QMessageBox::No)
            return; // Cancel (or the box closed otherwise): the file stays as it was
    }

    displaycsv::Header header;
    header.time = QDateTime::currentDateTime();
    header.hostName = QHostInfo::localHostName();
    header.comment = ui->commentTextEdit->toPlainText();

    captureSelection();
    displaycsv::Options options;
    options.columns = m_selection;
    options.samples = samples;
    options.sampFreq = SAMP_FREQ;
    options.scale = bpmScale;
    options.encoder = theMailbox && theMailbox->pavunPresent();

    // A .nxs path gets the same save as a NeXus entry; "No" appends one.
    const bool saved =
        NexusFile::isNexusPath(path)
            ? displaynexus::save(path, mode, header, options, records.data(), int(records.size()),
                                 nexus::currentSettings(header.hostName, zevo::programVersion()),
                                 &error)
            : displaycsv::saveBlock(path, mode, header, options, records.data(),
                                    int(records.size()), &error);
    if (!saved) {
        showNotSaved(QStringLiteral("Cannot write file"), error,
                     QStringLiteral("writing to ") + path + QStringLiteral(" failed"));
        return;
    }
    ui->statusLabel->setText(clockNow() + QStringLiteral(": Saved as: ") + path);
}

bool WindowSaveData::readSnapshot(std::vector<zevo::DisplayRecord>& records, int needed,
                                  QString& error)
{
    const QString node = QString::fromLatin1(zevo::kDisplayNode);
    if (!theDriver) {
        error = QStringLiteral("No driver is available.\n\nNothing was saved.");
        return false;
    }
    const int fd = theDriver->open(zevo::kDisplayNode, O_RDONLY);
    if (fd < 0) {
        error = QStringLiteral("System file %1 could not be opened.\n\n"
                               "Please check if ZEVO driver is loaded.\nNothing was saved.")
                    .arg(node);
        return false;
    }
    // One read of the whole display buffer into one heap block.
    records.resize(zevo::kDisplayBufferRecords);
    const ssize_t bytes = theDriver->read(fd, records.data(), zevo::kDisplayBufferBytes);
    theDriver->close(fd);
    if (bytes < 0) {
        records.clear();
        error = QStringLiteral("System file %1 could not be read.\n\n"
                               "Please check if ZEVO driver is loaded.\nNothing was saved.")
                    .arg(node);
        return false;
    }
    // Only whole records that arrived are data; the rest of the block is not.
    const std::size_t arrived =
        std::min<std::size_t>(std::size_t(bytes), zevo::kDisplayBufferBytes);
    records.resize(arrived / zevo::kDisplayRecordBytes);
    if (int(records.size()) < needed) {
        error = QStringLiteral("System file %1 delivered %2 samples, %3 were asked for.\n\n"
                               "Nothing was saved.")
                    .arg(node)
                    .arg(records.size())
                    .arg(needed);
        return false;
    }
    return true;
}

void WindowSaveData::captureSelection()
{
    for (int c = 0; c < displaycsv::ColumnCount; ++c)
        m_selection[c] = m_boxes[c]->isChecked();
}

void WindowSaveData::showNotSaved(const QString& title, const QString& text, const QString& status)
{
    // The status line says it too, so a glance at the window after the box
    // is gone never suggests a file that was not written.
    ui->statusLabel->setText(clockNow() + QStringLiteral(": Not saved: ") + status);
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok);
    box.exec();
}
