#pragma once

#include <QGroupBox>

#include <cstdint>
#include <memory>

namespace Ui
{
class DacConf;
}

// Which DAC output channel each feedback loop drives: three choices CH1 to
// CH3 (index 0 to 2) for position X, position Y and intensity.
class DacConf : public QGroupBox
{
    Q_OBJECT

public:
    explicit DacConf(QWidget* parent = nullptr);
    ~DacConf() override;

    void getDacChannels(uint8_t& x, uint8_t& y, uint8_t& i0) const;
    // A channel the module does not have (a damaged configuration file)
    // leaves that choice as it was, so that the box never shows an empty
    // choice that a save would send as a nonexistent output.
    void setDacChannels(uint8_t x, uint8_t y, uint8_t i0);

private:
    std::unique_ptr<Ui::DacConf> ui;
};
