#pragma once

#include <QWidget>

#include <memory>

class QComboBox;
class QDoubleSpinBox;

namespace Ui
{
class WidgetRoc;
}

// The regions of one BPM: region of interest (ROI) in micrometres, region of
// control (ROC) as a percentage of the ROI, and the intensity bounds, entered
// in µA or nA.
//
// Values loaded from the configuration file come back unchanged from the
// getters until their box (or unit selector) is edited: the boxes round to
// their decimals, and an OK without edits must not rewrite the stored
// settings with rounded ones. (A stored value outside a box's range is shown
// clamped and applied as shown.)
class WidgetRoc : public QWidget
{
    Q_OBJECT

public:
    explicit WidgetRoc(QWidget* parent = nullptr);
    ~WidgetRoc() override;

    void setBpmName(const QString& name);

    // Fills the boxes with stored values (intensity bounds in amperes). Each
    // bound is shown in µA from 1 µA up and in nA below; a bound of 0 keeps
    // its unit selector as it is.
    void setValues(double roiX, double roiY, double i0Min, double i0Max, double roc);

    double roiX() const;  // micrometres
    double roiY() const;  // micrometres
    double roc() const;   // percent of the ROI
    double i0Min() const; // amperes
    double i0Max() const; // amperes

    // The five boxes and the two unit selectors.
    void setInputsEnabled(bool enabled);

private:
    // A value as loaded and as its box (and unit) showed it.
    struct Loaded {
        bool valid = false;
        double stored = 0.0;
        double shown = 0.0;
        int unit = -1;
    };

    static bool fits(const QDoubleSpinBox* box, double value);
    static double kept(const Loaded& loaded, double entered, double shown, int unit);
    void load(Loaded& loaded, QDoubleSpinBox* box, double value);
    void loadCurrent(Loaded& loaded, QDoubleSpinBox* box, QComboBox* unit, double amperes);
    double current(const Loaded& loaded, const QDoubleSpinBox* box, const QComboBox* unit) const;

    std::unique_ptr<Ui::WidgetRoc> ui;
    Loaded m_roiX, m_roiY, m_roc, m_i0Min, m_i0Max;
};
