#include "beamline/dacconf.h"

#include "ui_dacconf.h"

namespace
{
void choose(QComboBox* box, uint8_t channel)
{
    if (channel < box->count())
        box->setCurrentIndex(channel);
}
} // namespace

DacConf::DacConf(QWidget* parent) : QGroupBox(parent), ui(new Ui::DacConf)
{
    ui->setupUi(this);
}

DacConf::~DacConf() = default;

void DacConf::getDacChannels(uint8_t& x, uint8_t& y, uint8_t& i0) const
{
    x = static_cast<uint8_t>(ui->positionXComboBox->currentIndex());
    y = static_cast<uint8_t>(ui->positionYComboBox->currentIndex());
    i0 = static_cast<uint8_t>(ui->intensityComboBox->currentIndex());
}

void DacConf::setDacChannels(uint8_t x, uint8_t y, uint8_t i0)
{
    choose(ui->positionXComboBox, x);
    choose(ui->positionYComboBox, y);
    choose(ui->intensityComboBox, i0);
}
