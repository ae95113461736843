#include "control/windowmanoutctrl.h"
#include "ui_windowmanoutctrl.h"

#include "device/driver.h"
#include "device/globals.h"
#include "device/mailboxcomm.h"
#include "device/protocol.h"

#include <QSignalBlocker>

#include <cmath>

#include <fcntl.h>

WindowManOutCtrl::WindowManOutCtrl(QWidget* parent) : QDialog(parent), ui(new Ui::WindowManOutCtrl)
{
    ui->setupUi(this);
    m_sliders = {ui->ch0slider, ui->ch1slider, ui->ch2slider, ui->ch3slider};
    m_boxes = {ui->boxCh0, ui->boxCh1, ui->boxCh2, ui->boxCh3};

    connect(ui->checboxEnableMan, &QCheckBox::toggled, this, &WindowManOutCtrl::enableMan_changed);
    for (QSlider* slider : m_sliders)
        connect(slider, &QSlider::valueChanged, this, &WindowManOutCtrl::sliders_changed);
    for (QDoubleSpinBox* box : m_boxes)
        connect(box, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
                &WindowManOutCtrl::boxes_changed);

    ensureDacOpen();
    showDacState();
}

WindowManOutCtrl::~WindowManOutCtrl()
{
    if (m_dacFd >= 0)
        m_driver->close(m_dacFd);
}

void WindowManOutCtrl::showWindow()
{
    // A module plugged in after start-up is found when the window is opened.
    ensureDacOpen();
    showDacState();
    if (theMailbox) {
        // Only shows who drives the outputs: opening the window must not hand
        // them over. A failed read would otherwise take them away from the
        // running feedback.
        const bool hostDrives = theMailbox->readOutputsFromController() == 0;
        const QSignalBlocker quiet(ui->checboxEnableMan);
        ui->checboxEnableMan->setChecked(hostDrives);
    }
    show();
    raise();
    activateWindow();
}

void WindowManOutCtrl::enableMan_changed(bool enable)
{
    // Checked: the host drives the outputs; unchecked: the PID controller.
    if (theMailbox)
        theMailbox->setOutputsFromController(!enable);
}

int WindowManOutCtrl::channelOf(const QObject* widget) const
{
    for (int ch = 0; ch < kChannels; ++ch)
        if (widget == m_sliders[ch] || widget == m_boxes[ch])
            return ch;
    return -1;
}

// A slider moved: its box takes the slider's whole volts. Only the channel
// that moved is touched, so a fractional setting on another output stays.
void WindowManOutCtrl::sliders_changed()
{
    const int moved = channelOf(sender());
    for (int ch = 0; ch < kChannels; ++ch)
        if (moved < 0 || ch == moved)
            m_boxes[ch]->setValue(m_sliders[ch]->value());
    sendOutputs();
}

// A box changed: its slider follows to the box's whole volts. Leaving the
// slider's volt moves the slider, which cuts the box to whole volts; a
// fraction within the slider's present volt stays.
void WindowManOutCtrl::boxes_changed()
{
    const int changed = channelOf(sender());
    for (int ch = 0; ch < kChannels; ++ch)
        if (changed < 0 || ch == changed)
            m_sliders[ch]->setValue(int(std::trunc(m_boxes[ch]->value())));
    sendOutputs();
}

bool WindowManOutCtrl::ensureDacOpen()
{
    if (m_dacFd >= 0)
        return true;
    const int fd = theDriver ? theDriver->open(zevo::kDacNode, O_RDWR | O_SYNC) : -1;
    m_dacMissing = fd < 0;
    if (fd < 0)
        return false;
    m_driver = theDriver;
    m_dacFd = fd;
    return true;
}

void WindowManOutCtrl::sendOutputs()
{
    // Sent whether or not manual control is on: whether the voltages reach
    // the outputs depends on who drives them.
    if (!ensureDacOpen()) {
        showDacState();
        return;
    }
    zevo::DacOutputRecord record{};
    for (int ch = 0; ch < kChannels; ++ch)
        record.volts[ch] = m_boxes[ch]->value();
    record.enable = 1;
    if (m_driver->ioctl(m_dacFd, zevo::DAC_IOC_SET_OUTPUTS, &record) < 0) {
        // The node may have gone (module unplugged, driver reloaded), and its
        // old descriptor would fail every later change even once it is back.
        // Let go of it: the next change or showing looks for the node again,
        // and only a node that is then missing brings up the note.
        m_driver->close(m_dacFd);
        m_dacFd = -1;
    }
    showDacState();
}

void WindowManOutCtrl::showDacState()
{
    if (dacAvailable()) {
        ui->dacStatusLabel->hide();
        ui->dacStatusLabel->clear();
        return;
    }
    ui->dacStatusLabel->setText(tr("The DAC module cannot be reached:\n%1 could not be opened.\n"
                                   "Output changes are not sent.")
                                    .arg(QString::fromLatin1(zevo::kDacNode)));
    ui->dacStatusLabel->show();
    // The note must not squeeze the sliders.
    resize(size().expandedTo(minimumSizeHint()));
}
