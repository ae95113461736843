#pragma once

#include <QDialog>

#include <memory>

namespace Ui
{
class WindowPico;
}

class QTimer;
class WidgetPico;

// "PicoAmperMeter": the four input currents of each picoammeter, from the
// information records the display cycle refreshes, and the choice of each
// picoammeter's range. With a single picoammeter the second panel is hidden.
// Created once by the main window and kept; it refreshes itself every 970 ms
// for its whole life, shown or not.
class WindowPico : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kRefreshMs = 970;

    explicit WindowPico(QWidget* parent = nullptr);
    ~WindowPico() override;

    WidgetPico* panel(int pico) const;

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void refreshFields();

private:
    void showSecondPanel(bool show);

    std::unique_ptr<Ui::WindowPico> ui;
    QTimer* m_timer;
};
