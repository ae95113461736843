#pragma once

#include <QDialog>

#include <memory>

class QAbstractButton;
class WidgetPIDparams;

namespace Ui
{
class WindowPIDparams;
}

// "PID Parameters": the parameters of the controller's three loops (position
// X, position Y, intensity I0), one panel each. Every showing loads them from
// the configuration file; OK and Apply store them and send them to the
// controller, for an administrator (user level 2) only.
class WindowPIDparams : public QDialog
{
    Q_OBJECT

public:
    explicit WindowPIDparams(QWidget* parent = nullptr);
    ~WindowPIDparams() override;

    // Applies the user level, loads the stored parameters and shows the
    // dialog (non-modal).
    void showWindow();

    // Puts new gains into one loop and sends them as OK does: loads the
    // stored parameters of all three loops, sets kp, ki, kd and O gain of the
    // loop `channel` (zevo::kPidX, kPidY or kPidI0) in its panel, then stores
    // and sends everything exactly as OK would. The boxes round the values
    // to their decimals and range. Returns false, having changed nothing,
    // below user level 2 or for an unknown loop.
    bool applyLoopGains(int channel, double kp, double ki, double kd, double oGain);

public slots:
    void savePIDparams(QAbstractButton* button);
    void checkUserLevel();

private:
    void loadParams();
    // What OK and Apply do: stores the three panels and sends them, at user
    // level 2 only. Returns whether it acted.
    bool storeAndSend();

    std::unique_ptr<Ui::WindowPIDparams> ui;
};
