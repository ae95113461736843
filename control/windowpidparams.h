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

public slots:
    void savePIDparams(QAbstractButton* button);
    void checkUserLevel();

private:
    void loadParams();

    std::unique_ptr<Ui::WindowPIDparams> ui;
};
