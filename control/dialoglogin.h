#pragma once

#include <QDialog>

#include <memory>

namespace Ui
{
class DialogLogin;
}

class MainWindow;

// "Log in": switches the process-wide user level (device/userlevel.h) by
// user name and password and announces every level applied
// with userLevelChanged(int). Levels 1 and 2 take the operator lock, so that
// only one running instance at a time is logged in above level 0.
class DialogLogin : public QDialog
{
    Q_OBJECT

public:
    explicit DialogLogin(MainWindow* parent);
    ~DialogLogin() override;

    // Shows the current level and announces it (even when unchanged). At
    // level 1 or 2 the operator lock is taken again first; if another
    // instance keeps it, the operator is told and nothing changes.
    void applyUserLevel();
    // Has the main window connect userLevelChanged() to its receivers.
    void wireUserLevel();

signals:
    void userLevelChanged(int level);

public slots:
    void checkPasswd();

private:
    // Makes `level` the user level. Returns false, leaving everything as it
    // was, when the operator lock is held by an instance that does not let go.
    bool applyLevel(int level);

    std::unique_ptr<Ui::DialogLogin> ui;
    MainWindow* m_mainWindow;
};
