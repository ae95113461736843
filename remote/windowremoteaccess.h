#pragma once

#include <QDialog>
#include <QPointer>

#include <memory>

class QMessageBox;
class RemoteBridge;

namespace Ui
{
class WindowRemoteAccess;
}

// "Remote Access": whether the beamline's control system may reach the
// feedback, for an administrator (user level 2). Allowing remote control
// takes effect at once, so that an operator can cut remote clients off at any
// moment; the server's address, port and device name take effect at the next
// start. Shows where the server runs, or why it does not.
class WindowRemoteAccess : public QDialog
{
    Q_OBJECT

public:
    explicit WindowRemoteAccess(RemoteBridge* bridge, QWidget* parent = nullptr);
    ~WindowRemoteAccess() override;

    // Applies the user level, loads the stored settings and shows the window
    // (non-modal).
    void showWindow();

public slots:
    void checkUserLevel();

private slots:
    void controlToggled(bool allowed);
    void applyServerSettings();
    void showServerState();

private:
    void loadSettings();

    std::unique_ptr<Ui::WindowRemoteAccess> ui;
    RemoteBridge* m_bridge;
    QPointer<QMessageBox> m_startProblem;
};
