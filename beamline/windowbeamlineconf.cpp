#include "beamline/windowbeamlineconf.h"

#include "acquisition/updater.h"
#include "beamline/bpm.h"
#include "beamline/dacconf.h"
#include "control/unsavedsettings.h"
#include "device/configstore.h"
#include "device/globals.h"
#include "device/mailboxcomm.h"
#include "device/protocol.h"
#include "device/userlevel.h"

#include "ui_windowbeamlineconf.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>

namespace
{
constexpr int kRefreshIntervalMs = 770;

// Dividing by the exact 1e6 gives the ampere value nearest to the one shown
// (12.5 uA is 1.25e-05 A); multiplying by the inexact 1e-6 may land one step
// beside it.
constexpr double kMicroamperesPerAmpere = 1e6;

// ROC limit index of a BPM's beam-off threshold: 3 x BPM + 2.
int beamOffLimitIndex(int bpm)
{
    return 3 * bpm + 2;
}

// The threshold in microamperes as the box shows it: the number before the
// unit, with a decimal comma read as a point. A text that does not read as a
// number (digits of another script) falls back to the box's value rather
// than to 0, which would switch the beam-off check off.
double shownMicroamperes(const QDoubleSpinBox* box)
{
    QString shown = box->text();
    const int unit = shown.indexOf(QLatin1Char('u'));
    if (unit >= 0)
        shown.truncate(unit);
    shown.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double microamperes = shown.trimmed().toDouble(&ok);
    return ok ? microamperes : box->value();
}

} // namespace

WindowBeamlineConf::WindowBeamlineConf(QWidget* parent)
    : QDialog(parent), ui(new Ui::WindowBeamlineConf)
{
    ui->setupUi(this);
    ui->boxDac->setEnabled(true);
    ui->boxBPM1->setEnabled(true);
    ui->boxBPM2->setEnabled(true);
    ui->boxBPM2->hide();
    ui->boxBPM1->setBpmIndex(0);
    ui->boxBPM2->setBpmIndex(1);
    ui->boxBPM1->updateOffsetVisibility();
    ui->boxBPM2->updateOffsetVisibility();

    // The DAC assignment and the thresholds are loaded once, here; the BPM
    // panels on every opening.
    if (theConfig) {
        int x = 0, y = 1, i0 = 2;
        theConfig->getBeamlineDacs(&x, &y, &i0);
        ui->boxDac->setDacChannels(uint8_t(x), uint8_t(y), uint8_t(i0));
        double threshold1 = 0.0, threshold2 = 0.0;
        theConfig->getBeamThreshold(&threshold1, 0);
        theConfig->getBeamThreshold(&threshold2, 1);
        ui->beamOffTh->setValue(threshold1);
        ui->beamOffTh_2->setValue(threshold2);
    }

    // clicked() comes before accepted(): Save has decided savedOk by the
    // time accept() asks for it.
    connect(ui->buttonBox, &QDialogButtonBox::clicked, this, &WindowBeamlineConf::sendSettings);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &WindowBeamlineConf::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &WindowBeamlineConf::reject);

    nr_dorvishs_changed(theMailbox ? theMailbox->deviceCount() : 0);

    m_refreshTimer = new QTimer(this);
    connect(m_refreshTimer, &QTimer::timeout, this, &WindowBeamlineConf::refreshFields);
    m_refreshTimer->start(kRefreshIntervalMs);
}

WindowBeamlineConf::~WindowBeamlineConf() = default;

void WindowBeamlineConf::showWindow()
{
    checkUserLevel();
    loadBpm(ui->boxBPM1);
    loadBpm(ui->boxBPM2);
    show();
    raise();
    activateWindow();
}

void WindowBeamlineConf::loadBpm(BPM* panel)
{
    if (!theConfig)
        return;
    const int bpm = panel->bpmIndex();
    // Orientation first: the channels go into the picture it shows.
    panel->setOrientation(theConfig->getOrient(bpm));
    int top = 0, right = 0, bottom = 0, left = 0;
    theConfig->getBpmChannels(&top, &right, &bottom, &left, bpm);
    panel->setChannels(top, right, bottom, left);
    panel->setScaling(theConfig->getScaleX(bpm), theConfig->getScaleY(bpm));
}

void WindowBeamlineConf::accept()
{
    if (savedOk)
        QDialog::accept();
}

void WindowBeamlineConf::nr_dorvishs_changed(int n)
{
    const bool second = n == 2;
    QWidget* const secondBpm[] = {ui->boxBPM2, ui->pidSourceX_BPM2, ui->pidSourceY_BPM2,
                                  ui->pidSourceI_BPM2};
    for (QWidget* w : secondBpm)
        w->setVisible(second);

    const PidSourceSet sources = pidSources.load();
    (sources.x != 0 ? ui->pidSourceX_BPM2 : ui->pidSourceX_BPM1)->setChecked(true);
    (sources.y != 0 ? ui->pidSourceY_BPM2 : ui->pidSourceY_BPM1)->setChecked(true);
    (sources.i0 != 0 ? ui->pidSourceI_BPM2 : ui->pidSourceI_BPM1)->setChecked(true);

    // An encoder interface gives BPM 1 a position without an intensity.
    const bool encoder = theMailbox && theMailbox->pavunPresent();
    ui->boxBPM1->setEncoderMode(encoder);
    ui->boxBPM2->setEncoderMode(encoder);
    QWidget* const intensityRows[] = {ui->label_4,   ui->pidSourceI_BPM1, ui->bpmthrLabel,
                                      ui->beamOffTh, ui->bpm2thrLabel,    ui->beamOffTh_2};
    for (QWidget* w : intensityRows)
        w->setVisible(!encoder);
}

void WindowBeamlineConf::checkUserLevel()
{
    if (!zevo::isUserLevel(userLevel))
        return;
    const bool admin = userLevel == zevo::LevelAdmin;
    QWidget* const gated[] = {ui->boxDac, ui->boxBPM1, ui->boxBPM2, ui->beamOffTh, ui->beamOffTh_2};
    for (QWidget* w : gated)
        w->setEnabled(admin);
}

void WindowBeamlineConf::refreshFields()
{
    if (!theUpdater)
        return;
    const zevo::PicoInfoRecord first = theUpdater->picoInfo(0);
    ui->boxBPM1->setHVstatus(int(first.hvState & 0xF), first.hvVoltage, first.hvCurrent);
    if (!ui->boxBPM2->isHidden()) {
        const zevo::PicoInfoRecord second = theUpdater->picoInfo(1);
        ui->boxBPM2->setHVstatus(int(second.hvState & 0xF), second.hvVoltage, second.hvCurrent);
    }
}

// ---------------------------------------------------------------- save

void WindowBeamlineConf::sendSettings(QAbstractButton* button)
{
    if (ui->buttonBox->standardButton(button) != QDialogButtonBox::Save)
        return; // Cancel reaches reject() through the button box

    uint8_t x = 0, y = 0, i0 = 0;
    ui->boxDac->getDacChannels(x, y, i0);
    if (x == y || x == i0 || y == i0) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("DAC outputs not unique"),
                        QStringLiteral("DAC outputs must be unique"), QMessageBox::Ok);
        box.exec();
        savedOk = false;
        return;
    }

    const bool stored = saveSettings();
    savedOk = true;
    emit BPMscaleChanged();
    emit BPMselectorChanged();
    // The controller has everything by now; only the file is behind.
    if (!stored && theConfig)
        warnSettingsNotSaved(theConfig->filePath());
}

bool WindowBeamlineConf::saveSettings()
{
    bool stored = true;

    uint8_t x = 0, y = 0, i0 = 0;
    ui->boxDac->getDacChannels(x, y, i0);
    if (theConfig)
        stored &= theConfig->setBeamlineDacs(x, y, i0);
    if (theMailbox)
        theMailbox->setDacAssignment(x, y, i0);

    stored &= saveThreshold(0, ui->beamOffTh);
    stored &= saveThreshold(1, ui->beamOffTh_2);

    stored &= saveBpm(ui->boxBPM1);
    if (!ui->boxBPM2->isHidden())
        stored &= saveBpm(ui->boxBPM2);

    const PidSourceSet sources{ui->pidSourceX_BPM2->isChecked() ? 1 : 0,
                               ui->pidSourceY_BPM2->isChecked() ? 1 : 0,
                               ui->pidSourceI_BPM2->isChecked() ? 1 : 0};
    pidSources.store(sources);
    if (theMailbox)
        theMailbox->setPidSources(sources.x, sources.y, sources.i0);

    return stored;
}

bool WindowBeamlineConf::saveThreshold(int bpm, const QDoubleSpinBox* box)
{
    const double microamperes = shownMicroamperes(box);
    const bool stored = !theConfig || theConfig->setBeamThreshold(bpm, microamperes);
    if (theMailbox)
        theMailbox->setRocLimit(beamOffLimitIndex(bpm), 0.0, microamperes / kMicroamperesPerAmpere);
    return stored;
}

bool WindowBeamlineConf::saveBpm(const BPM* panel)
{
    const int bpm = panel->bpmIndex();
    bool stored = true;

    const int orientation = panel->isOrientation90() ? 1 : 0;
    if (theConfig)
        stored &= theConfig->setOrient(orientation, bpm);
    if (theMailbox)
        theMailbox->setBpmOrientation(orientation, bpm);

    double scaleX = 0.0, scaleY = 0.0;
    panel->getScaling(scaleX, scaleY);
    if (theConfig) {
        stored &= theConfig->setScaleX(bpm, scaleX);
        stored &= theConfig->setScaleY(bpm, scaleY);
    }
    bpmScale.set(bpm, scaleX, scaleY);
    if (theMailbox)
        theMailbox->setBpmScale(bpm, scaleX, scaleY);

    // Offsets are entered in micrometres; the controller takes raw units.
    double offsetX = 0.0, offsetY = 0.0;
    panel->getOffsets(offsetX, offsetY);
    if (theConfig) {
        stored &= theConfig->setOffsetX(bpm, offsetX);
        stored &= theConfig->setOffsetY(bpm, offsetY);
    }
    if (theMailbox)
        theMailbox->setBpmOffsets(bpm, offsetX / BpmScaleFactors::usable(scaleX),
                                  offsetY / BpmScaleFactors::usable(scaleY));

    int top = 0, right = 0, bottom = 0, left = 0;
    panel->getChannels(top, right, bottom, left);
    if (theConfig)
        stored &= theConfig->setBpmChannels(top, right, bottom, left, bpm);
    if (theMailbox)
        theMailbox->setBpmChannelMap(top, right, bottom, left, bpm);

    return stored;
}
