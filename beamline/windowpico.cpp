#include "beamline/windowpico.h"
#include "ui_windowpico.h"

#include "acquisition/updater.h"
#include "beamline/widgetpico.h"
#include "device/globals.h"
#include "device/mailboxcomm.h"
#include "device/protocol.h"

#include <QTimer>

namespace
{
bool singlePicoammeter()
{
    return theMailbox && theMailbox->deviceCount() == 1;
}

void showCurrents(WidgetPico* panel, int pico)
{
    if (!theUpdater)
        return;
    // A copy: the record is packed, its currents lie at unaligned offsets.
    const zevo::PicoInfoRecord info = theUpdater->picoInfo(pico);
    panel->setCurrents(info.currentCh1, info.currentCh2, info.currentCh3, info.currentCh4);
}
} // namespace

WindowPico::WindowPico(QWidget* parent)
    : QDialog(parent), ui(new Ui::WindowPico), m_timer(new QTimer(this))
{
    ui->setupUi(this);
    ui->widgetPico0->setPicoIndex(0);
    ui->widgetPico1->setPicoIndex(1);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);

    if (singlePicoammeter())
        showSecondPanel(false);

    connect(m_timer, &QTimer::timeout, this, &WindowPico::refreshFields);
    m_timer->start(kRefreshMs);
}

WindowPico::~WindowPico() = default;

WidgetPico* WindowPico::panel(int pico) const
{
    return pico == 0 ? ui->widgetPico0 : ui->widgetPico1;
}

// Opening the window shows the present currents at once instead of at the
// next tick.
void WindowPico::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    refreshFields();
}

void WindowPico::refreshFields()
{
    showCurrents(ui->widgetPico0, 0);
    // Only exactly one device hides the second panel; none at all (no
    // controller answer yet) shows both.
    if (singlePicoammeter()) {
        showSecondPanel(false);
        return;
    }
    showSecondPanel(true);
    showCurrents(ui->widgetPico1, 1);
}

void WindowPico::showSecondPanel(bool show)
{
    ui->widgetPico1->setVisible(show);
    ui->label_dorvish1->setVisible(show);
}
