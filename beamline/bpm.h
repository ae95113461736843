#pragma once

#include <QGroupBox>

#include <array>
#include <memory>

class QComboBox;
class QDoubleSpinBox;
class QGraphicsView;
class QSpinBox;

namespace Ui
{
class BPM;
}

// The panel of one beam position monitor: detector orientation, which
// picoammeter input feeds each electrode, the X/Y scale factors and offsets
// (or, with an encoder interface as position source, the same expressed in
// nanoradians per count and offset counts), and the picoammeter's
// high-voltage bias with its readback.
//
// The panel stores and sends nothing itself: the beamline configuration
// window loads it from the configuration file and saves and sends it. Only
// the high-voltage buttons act at once.
class BPM : public QGroupBox
{
    Q_OBJECT

public:
    explicit BPM(QWidget* parent = nullptr);
    ~BPM() override;

    // 0 for BPM 1, 1 for BPM 2: the index in the configuration file and the
    // BPM/picoammeter index in controller commands.
    int bpmIndex() const { return m_bpmIndex; }
    void setBpmIndex(int index) { m_bpmIndex = index == 0 ? 0 : 1; }

    bool isOrientation90() const;
    // 1 selects 90°, 0 selects 45°; anything else leaves the orientation.
    void setOrientation(int orientation);

    // Channels (0 to 3) of the top, right, bottom and left electrode, on the
    // picture of the present orientation. A channel outside 0 to 3 leaves
    // its choice as it was.
    void getChannels(int& top, int& right, int& bottom, int& left) const;
    void setChannels(int top, int right, int bottom, int left);

    void getScaling(double& x, double& y) const;
    // Fills the scale factors, this BPM's stored offsets and the encoder
    // fields derived from both.
    void setScaling(double x, double y);
    void getOffsets(double& x, double& y) const;

    // The picoammeter's readback: state (low four bits of its state word),
    // bias voltage in volts and bias current in microamperes.
    void setHVstatus(int state, float voltage, float current);

    // An encoder interface as position source: encoder fields instead of the
    // high-voltage block.
    void setEncoderMode(bool encoder);

    // The offsets exist on controllers newer than 1.0.02.
    void updateOffsetVisibility();

private slots:
    void changeBPMorient(const QString& str);
    void HVenable();
    void HVsetV();
    void checkConfiguration();
    void encoderSetPressed();

private:
    std::array<QComboBox*, 4> channelBoxes() const; // top, right, bottom, left
    void showPicture(QGraphicsView* view, const QString& resource);

    std::unique_ptr<Ui::BPM> ui;
    int m_bpmIndex = 0;
    bool hvEnabled = false; // last state sent, whatever the readback shows
};
