#include "control/windowroc_roi.h"

#include "control/unsavedsettings.h"
#include "control/widgetroc.h"
#include "device/configstore.h"
#include "device/globals.h"
#include "device/mailboxcomm.h"
#include "device/userlevel.h"
#include "plots/widgetgraphxy.h"

#include "ui_windowroc_roi.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDialogButtonBox>

#include <cmath>

namespace
{
// ROC limit index of a BPM's coordinate: 3 × BPM + 0 (X) or 1 (Y).
int rocIndex(int bpm, int coordinate)
{
    return 3 * bpm + coordinate;
}
} // namespace

WindowROC_ROI::WindowROC_ROI(QWidget* parent) : QDialog(parent), ui(new Ui::WindowROC_ROI)
{
    ui->setupUi(this);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // clicked() comes before accepted(): OK stores and sends, then closes.
    connect(ui->buttonBox, &QDialogButtonBox::clicked, this, &WindowROC_ROI::sendROCconf);
    ui->rocWidget0->setBpmName(QStringLiteral("BPM 1"));
    ui->rocWidget1->setBpmName(QStringLiteral("BPM 2"));
    // Until the first device count arrives, one picoammeter is assumed.
    ui->rocWidget1->hide();
    readEnables();
}

WindowROC_ROI::~WindowROC_ROI() = default;

void WindowROC_ROI::setUpdater(Updater* updater)
{
    m_updater = updater;
}

void WindowROC_ROI::setBeamlineConf(WindowBeamlineConf* beamlineConf)
{
    m_beamlineConf = beamlineConf;
}

void WindowROC_ROI::setGraphXY(int bpm, WidgetGraphXY* plot)
{
    if (bpm == 0 || bpm == 1)
        m_graphXY[bpm] = plot;
}

WidgetRoc* WindowROC_ROI::panel(int bpm) const
{
    return bpm == 0 ? ui->rocWidget0 : ui->rocWidget1;
}

// The controller's check enables, in its order of positions 0 to 5.
void WindowROC_ROI::readEnables()
{
    if (!theMailbox)
        return;
    bool on[6] = {};
    theMailbox->readRocEnables(&on[0], &on[1], &on[2], &on[3], &on[4], &on[5]);
    QCheckBox* boxes[6] = {ui->enableROCXCheckCheckBox,    ui->enableROCYCheckCheckBox,
                           ui->enableBeamOffCheckCheckBox, ui->enableROCXCheckCheckBox_2,
                           ui->enableROCYCheckCheckBox_2,  ui->enableBeamOffCheckCheckBox_2};
    for (int k = 0; k < 6; ++k)
        boxes[k]->setChecked(on[k]);
}

void WindowROC_ROI::showWindow()
{
    checkUserLevel();
    if (theConfig) {
        for (int bpm = 0; bpm < 2; ++bpm) {
            double roiX = 0.0, roiY = 0.0, i0Min = 0.0, i0Max = 0.0, roc = 0.0;
            theConfig->getRocRoi(&roiX, &roiY, &i0Min, &i0Max, &roc, bpm);
            panel(bpm)->setValues(roiX, roiY, i0Min, i0Max, roc);
        }
    }
    show();
    raise();
    activateWindow();
}

void WindowROC_ROI::checkUserLevel()
{
    if (!zevo::isUserLevel(userLevel))
        return;
    const bool admin = userLevel == zevo::LevelAdmin;
    ui->rocWidget0->setInputsEnabled(admin);
    ui->rocWidget1->setInputsEnabled(admin);
    for (QCheckBox* box : {ui->enableROCXCheckCheckBox, ui->enableROCYCheckCheckBox,
                           ui->enableBeamOffCheckCheckBox, ui->enableROCXCheckCheckBox_2,
                           ui->enableROCYCheckCheckBox_2, ui->enableBeamOffCheckCheckBox_2})
        box->setEnabled(admin);
}

// The second BPM's panel shows exactly when its regions are applied, that is
// with two devices; a panel whose edits OK would drop is not offered.
void WindowROC_ROI::nrDorvishChanged(int nrDorvishs)
{
    m_nrDorvishs = nrDorvishs;
    ui->rocWidget1->setVisible(nrDorvishs == 2);
}

bool WindowROC_ROI::storeBpm(int bpm)
{
    const WidgetRoc* p = panel(bpm);
    return theConfig->setRocRoi(bpm, p->roiX(), p->roiY(), p->i0Min(), p->i0Max(), p->roc());
}

// Draws the regions and sends the position limits of one BPM. The intensity
// bounds are kept in the file only; the beam-off limits are the beamline
// configuration's.
void WindowROC_ROI::sendBpm(int bpm)
{
    const WidgetRoc* p = panel(bpm);
    const double roiX = p->roiX();
    const double roiY = p->roiY();
    const double roc = p->roc();

    if (m_graphXY[bpm])
        m_graphXY[bpm]->setRegions(roiX, roiY, roc / 100.0);

    if (!theMailbox)
        return;
    // Micrometres to controller units. A scale factor of 0 has no controller
    // equivalent: such a limit is not sent rather than sent infinite.
    const double limitX = roiX * (roc / 100.0) / bpmScale.x(bpm);
    const double limitY = (roc / 100.0) * roiY / bpmScale.y(bpm);
    if (std::isfinite(limitX))
        theMailbox->setRocLimit(rocIndex(bpm, 0), 0.0, limitX);
    if (std::isfinite(limitY))
        theMailbox->setRocLimit(rocIndex(bpm, 1), 0.0, limitY);
}

void WindowROC_ROI::sendROCconf(QAbstractButton* button)
{
    const QDialogButtonBox::StandardButton which = ui->buttonBox->standardButton(button);
    if (which != QDialogButtonBox::Ok && which != QDialogButtonBox::Apply)
        return;
    if (userLevel != zevo::LevelAdmin)
        return; // only an administrator changes the regions; no message

    const bool secondBpm = m_nrDorvishs == 2;

    // Stored first, then sent: a failed write never holds back what goes to
    // the controller.
    bool saved = true;
    if (theConfig) {
        saved &= storeBpm(0);
        if (secondBpm)
            saved &= storeBpm(1);
    }

    sendBpm(0);
    if (secondBpm)
        sendBpm(1);
    // All six enables, the second BPM's included even without its panel.
    if (theMailbox)
        theMailbox->setRocEnables(
            ui->enableROCXCheckCheckBox->isChecked(), ui->enableROCYCheckCheckBox->isChecked(),
            ui->enableBeamOffCheckCheckBox->isChecked(), ui->enableROCXCheckCheckBox_2->isChecked(),
            ui->enableROCYCheckCheckBox_2->isChecked(),
            ui->enableBeamOffCheckCheckBox_2->isChecked());

    if (!saved)
        warnSettingsNotSaved(theConfig->filePath());
}
