#pragma once

#include <QDialog>

#include <memory>

namespace Ui
{
class WindowDisplaySettings;
}

// How the live display is fed: the display frequency and filter of the
// controller's display stream, the records fetched per display cycle, and
// the pause of the display cycle. Frequency, filter and buffer length apply
// on OK; the pause applies at once.
class WindowDisplaySettings : public QDialog
{
    Q_OBJECT

public:
    explicit WindowDisplaySettings(QWidget* parent = nullptr);
    ~WindowDisplaySettings() override;

    // Shows the dialog with the values in force.
    void showWindow();

public slots:
    void saveSettings();
    void pauseButtonChanged(bool checked);

private:
    void readFilterFromController();

    std::unique_ptr<Ui::WindowDisplaySettings> ui;
};
