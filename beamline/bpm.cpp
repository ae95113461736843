#include "beamline/bpm.h"

#include "device/configstore.h"
#include "device/globals.h"
#include "device/mailboxcomm.h"
#include "device/protocol.h"

#include "ui_bpm.h"

#include <QGraphicsScene>
#include <QGraphicsSvgItem>

#include <algorithm>
#include <cmath>

namespace
{
const QString kOrientation90 = QStringLiteral("90°");

// Controllers up to this software version have no position offsets.
const QString kLastVersionWithoutOffsets = QStringLiteral("1.0.02");

// The controller divides encoder counts by 2^31 to get its raw position, so
// 1 nrad per count is a scale of 2^31 / 1000 per raw unit (shown in µm,
// read as µrad).
constexpr double kTwoPow32 = 4294967296.0;
constexpr double kScalePerNradCount = 2147483.648;

// Offset counts of an offset at a scale: 2^31 x (1 - offset / scale). A
// scale of 0 has no counts of its own; it shows the counts of a zero offset
// (pressing "Set" with 0 nrad/count gives the offset 0 anyway). Counts are
// worked in double and kept inside the box's range before they become an
// int, so no value of the file can overflow the conversion.
void setOffsetCounts(QSpinBox* box, double offset, double scale)
{
    double counts = 0.5 * kTwoPow32;
    if (scale != 0.0 && std::isfinite(scale))
        counts = std::trunc(0.5 * (kTwoPow32 - offset * kTwoPow32 / scale));
    if (std::isnan(counts))
        counts = 0.5 * kTwoPow32;
    counts = std::clamp(counts, double(box->minimum()), double(box->maximum()));
    box->setValue(static_cast<int>(counts));
}

// The offset of a count at a scale, the inverse of setOffsetCounts().
double offsetOfCounts(int counts, double scale)
{
    return -scale * (2.0 * counts - kTwoPow32) / kTwoPow32;
}

void chooseChannel(QComboBox* box, int channel)
{
    if (channel >= 0 && channel < box->count())
        box->setCurrentIndex(channel);
}

QString hvStatusText(int state)
{
    switch (state) {
    case zevo::kHvOff:
        return QStringLiteral("HV OFF");
    case zevo::kHvOn:
        return QStringLiteral("HV ON");
    case zevo::kHvRising:
        return QStringLiteral("HV rising");
    case zevo::kHvFalling:
        return QStringLiteral("HV falling");
    default:
        return QString();
    }
}
} // namespace

BPM::BPM(QWidget* parent) : QGroupBox(parent), ui(new Ui::BPM)
{
    ui->setupUi(this);
    showPicture(ui->BPM90_image, QStringLiteral(":/beamline/bpm90.svg"));
    showPicture(ui->BPM45_image, QStringLiteral(":/beamline/bpm45.svg"));

    changeBPMorient(ui->BPMorientation->currentText()); // also checks the channels once
    connect(ui->BPMorientation, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this](int index) { changeBPMorient(ui->BPMorientation->itemText(index)); });

    connect(ui->enableHVbutton, &QPushButton::released, this, &BPM::HVenable);
    connect(ui->setHVbutton, &QPushButton::released, this, &BPM::HVsetV);
    for (QComboBox* box : {ui->BPM90_top, ui->BPM90_right, ui->BPM90_bottom, ui->BPM90_left,
                           ui->BPM45_top, ui->BPM45_right, ui->BPM45_bottom, ui->BPM45_left})
        connect(box, qOverload<int>(&QComboBox::currentIndexChanged), this,
                &BPM::checkConfiguration);
    connect(ui->encoderSetButton, &QPushButton::released, this, &BPM::encoderSetPressed);
}

BPM::~BPM() = default;

// The electrode picture of one orientation, drawn at its own size: the view
// keeps that size (its hint follows the scene), so nothing is scaled.
void BPM::showPicture(QGraphicsView* view, const QString& resource)
{
    auto* scene = new QGraphicsScene(view);
    scene->addItem(new QGraphicsSvgItem(resource));
    scene->setSceneRect(scene->itemsBoundingRect());
    view->setScene(scene);
    view->setRenderHint(QPainter::Antialiasing);
    view->setStyleSheet(QStringLiteral("background: transparent"));
}

// ---------------------------------------------------------------- orientation and channels

bool BPM::isOrientation90() const
{
    return ui->BPMorientation->currentText() == kOrientation90;
}

void BPM::setOrientation(int orientation)
{
    if (orientation == 1)
        ui->BPMorientation->setCurrentIndex(0);
    else if (orientation == 0)
        ui->BPMorientation->setCurrentIndex(1);
    changeBPMorient(ui->BPMorientation->currentText());
}

// The warning follows the picture on show: each orientation has its own
// four choices, and those of the new one may be valid where the others were
// not (or the reverse).
void BPM::changeBPMorient(const QString& str)
{
    const bool is90 = str == kOrientation90;
    ui->BPMvisual90->setVisible(is90);
    ui->BPMvisual45->setVisible(!is90);
    checkConfiguration();
}

std::array<QComboBox*, 4> BPM::channelBoxes() const
{
    if (isOrientation90())
        return {ui->BPM90_top, ui->BPM90_right, ui->BPM90_bottom, ui->BPM90_left};
    return {ui->BPM45_top, ui->BPM45_right, ui->BPM45_bottom, ui->BPM45_left};
}

void BPM::getChannels(int& top, int& right, int& bottom, int& left) const
{
    const auto boxes = channelBoxes();
    top = boxes[0]->currentIndex();
    right = boxes[1]->currentIndex();
    bottom = boxes[2]->currentIndex();
    left = boxes[3]->currentIndex();
}

void BPM::setChannels(int top, int right, int bottom, int left)
{
    const auto boxes = channelBoxes();
    chooseChannel(boxes[0], top);
    chooseChannel(boxes[1], right);
    chooseChannel(boxes[2], bottom);
    chooseChannel(boxes[3], left);
}

// Two electrodes on one input make the controller's positions meaningless;
// the operator is told, but the assignment is still saved as shown.
void BPM::checkConfiguration()
{
    int channels[4];
    getChannels(channels[0], channels[1], channels[2], channels[3]);
    std::sort(std::begin(channels), std::end(channels));
    const bool duplicate =
        std::adjacent_find(std::begin(channels), std::end(channels)) != std::end(channels);
    ui->textInvalidConf->setVisible(duplicate);
}

// ---------------------------------------------------------------- scaling, offsets, encoder

void BPM::getScaling(double& x, double& y) const
{
    x = ui->xGain->value();
    y = ui->yGain->value();
}

void BPM::setScaling(double x, double y)
{
    ui->xGain->setValue(x);
    ui->yGain->setValue(y);
    ui->horNradCountDoubleSpinBox->setValue(x / kScalePerNradCount);
    ui->vertNradCountDoubleSpinBox->setValue(y / kScalePerNradCount);

    if (theConfig) {
        ui->xOffset->setValue(theConfig->getOffsetX(m_bpmIndex));
        ui->yOffset->setValue(theConfig->getOffsetY(m_bpmIndex));
    }
    // The offsets as the boxes hold them, clamped to their range.
    setOffsetCounts(ui->horOffsetCountsSpinBox, ui->xOffset->value(), x);
    setOffsetCounts(ui->vertOffsetCountsSpinBox, ui->yOffset->value(), y);
}

void BPM::getOffsets(double& x, double& y) const
{
    x = ui->xOffset->value();
    y = ui->yOffset->value();
}

// From the encoder fields up into the scale and offset fields; stored and
// sent with the window's Save like any other edit.
void BPM::encoderSetPressed()
{
    const double sx = ui->horNradCountDoubleSpinBox->value() * kScalePerNradCount;
    const double sy = ui->vertNradCountDoubleSpinBox->value() * kScalePerNradCount;
    ui->xGain->setValue(sx);
    ui->xOffset->setValue(offsetOfCounts(ui->horOffsetCountsSpinBox->value(), sx));
    ui->yGain->setValue(sy);
    ui->yOffset->setValue(offsetOfCounts(ui->vertOffsetCountsSpinBox->value(), sy));
}

void BPM::setEncoderMode(bool encoder)
{
    ui->hv_widget->setVisible(!encoder);
    ui->encoderLabel->setVisible(encoder);
    ui->encoderWidget->setVisible(encoder);
}

void BPM::updateOffsetVisibility()
{
    const bool offsets = kLastVersionWithoutOffsets < controllerVersions.swVersion;
    QWidget* const rows[] = {ui->labelOffsetX, ui->xOffset, ui->labelOffsetY, ui->yOffset};
    for (QWidget* w : rows)
        w->setVisible(offsets);
}

// ---------------------------------------------------------------- high voltage

// The button alternates between switching on and off, starting with on; the
// readback below shows what the picoammeter actually does.
void BPM::HVenable()
{
    hvEnabled = !hvEnabled;
    if (theMailbox)
        theMailbox->setHvEnabled(hvEnabled, m_bpmIndex);
}

void BPM::HVsetV()
{
    if (theMailbox)
        theMailbox->setHvVoltage(m_bpmIndex,
                                 static_cast<float>(ui->biasVoltageDoubleSpinBox->value()));
}

void BPM::setHVstatus(int state, float voltage, float current)
{
    ui->voltageReadoutLineEdit->setText(QString::number(voltage, 'f', 2) + QLatin1Char('V'));
    ui->currentReadoutLineEdit->setText(QString::number(current, 'f', 2) + QStringLiteral("uA"));
    ui->statusLabel->setText(hvStatusText(state));
}
