#include "control/windowpidparams.h"

#include "control/unsavedsettings.h"
#include "control/widgetpidparams.h"
#include "device/configstore.h"
#include "device/globals.h"
#include "device/mailboxcomm.h"
#include "device/protocol.h"
#include "device/userlevel.h"

#include "ui_windowpidparams.h"

#include <QAbstractButton>
#include <QDialogButtonBox>

namespace
{
// What a panel holds, as the configuration file keeps it.
PidLoopSettings settingsOf(const WidgetPIDparams* w)
{
    return {w->curFreq(), w->kp(),   w->ki(),   w->kd(),    w->eMin(),
            w->iMax(),    w->oMin(), w->oMax(), w->oGain(), w->offset()};
}

void fill(WidgetPIDparams* w, const PidLoopSettings& v)
{
    w->setCurFreq(v.frequency);
    w->setParams(v.kp, v.ki, v.kd, v.eMin, v.iMax, v.oMin, v.oMax, v.oGain, v.offset);
    // The base rate may have changed since the panel last computed its real
    // frequency (an encoder interface plugged in) while the stored frequency
    // did not; show the rate the loop will run at now.
    w->calcRealFreq(v.frequency);
}

void sendParams(int channel, const WidgetPIDparams* w)
{
    theMailbox->setPidParams(channel, w->kp(), w->ki(), w->kd(), w->eMin(), w->iMax(), w->oMin(),
                             w->oMax(), w->oGain());
}
} // namespace

WindowPIDparams::WindowPIDparams(QWidget* parent) : QDialog(parent), ui(new Ui::WindowPIDparams)
{
    ui->setupUi(this);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // clicked() comes before accepted(): OK stores and sends, then closes.
    connect(ui->buttonBox, &QDialogButtonBox::clicked, this, &WindowPIDparams::savePIDparams);
}

WindowPIDparams::~WindowPIDparams() = default;

void WindowPIDparams::showWindow()
{
    checkUserLevel();
    loadParams();
    // An encoder interface runs the intensity loop on no picoammeter.
    const bool i0 = !(theMailbox && theMailbox->pavunPresent());
    ui->intI0widget->setVisible(i0);
    ui->label_i0->setVisible(i0);
    show();
    raise();
    activateWindow();
}

void WindowPIDparams::loadParams()
{
    if (!theConfig)
        return;
    fill(ui->posXwidget, theConfig->pidLoop(zevo::kPidX));
    fill(ui->posYwidget, theConfig->pidLoop(zevo::kPidY));
    fill(ui->intI0widget, theConfig->pidLoop(zevo::kPidI0));
}

void WindowPIDparams::checkUserLevel()
{
    if (!zevo::isUserLevel(userLevel))
        return;
    const bool admin = userLevel == zevo::LevelAdmin;
    ui->posXwidget->setEnabled(admin);
    ui->posYwidget->setEnabled(admin);
    ui->intI0widget->setEnabled(admin);
}

void WindowPIDparams::savePIDparams(QAbstractButton* button)
{
    const QDialogButtonBox::StandardButton which = ui->buttonBox->standardButton(button);
    if (which != QDialogButtonBox::Ok && which != QDialogButtonBox::Apply)
        return;
    storeAndSend();
}

bool WindowPIDparams::applyLoopGains(int channel, double kp, double ki, double kd, double oGain)
{
    WidgetPIDparams* panel = channel == zevo::kPidX    ? ui->posXwidget
                             : channel == zevo::kPidY  ? ui->posYwidget
                             : channel == zevo::kPidI0 ? ui->intI0widget
                                                       : nullptr;
    if (!panel || userLevel != zevo::LevelAdmin)
        return false;
    // The other loops and the other values of this one go out as stored, not
    // as edits left unsent in this dialog.
    loadParams();
    panel->setParams(kp, ki, kd, panel->eMin(), panel->iMax(), panel->oMin(), panel->oMax(), oGain,
                     panel->offset());
    return storeAndSend();
}

bool WindowPIDparams::storeAndSend()
{
    if (userLevel != zevo::LevelAdmin)
        return false; // only an administrator changes the loops; no message

    const WidgetPIDparams* x = ui->posXwidget;
    const WidgetPIDparams* y = ui->posYwidget;
    const WidgetPIDparams* i0 = ui->intI0widget;

    // The dividers and offsets of all loops go out first; then each loop's
    // parameters are sent and its group stored, X, Y, then I0. The I0 loop
    // is kept even while its panel is hidden. A failed write is reported
    // once, after everything has reached the controller.
    if (theMailbox) {
        theMailbox->setPidDivider(zevo::kPidX, x->divider());
        theMailbox->setPidDivider(zevo::kPidY, y->divider());
        theMailbox->setPidDivider(zevo::kPidI0, i0->divider());
        theMailbox->setPidOffsets(x->offset(), y->offset(), i0->offset());
    }
    bool saved = true;
    const auto sendAndStore = [&](int channel, const WidgetPIDparams* panel) {
        if (theMailbox)
            sendParams(channel, panel);
        if (theConfig)
            saved &= theConfig->setPidLoop(channel, settingsOf(panel));
    };
    sendAndStore(zevo::kPidX, x);
    sendAndStore(zevo::kPidY, y);
    sendAndStore(zevo::kPidI0, i0);

    // What was sent used the present base rate; show it on every panel.
    for (WidgetPIDparams* w : {ui->posXwidget, ui->posYwidget, ui->intI0widget})
        w->calcRealFreq(w->curFreq());

    if (!saved)
        warnSettingsNotSaved(theConfig->filePath());
    return true;
}
