#pragma once

#include <QDialog>

class MainWindow;

// "Log in": switches the process-wide user level (0 "cruise", 1 "user",
// 2 "admin") by user name and password and announces every level applied
// with userLevelChanged(int). Levels 1 and 2 take the operator lock.
class DialogLogin : public QDialog
{
    Q_OBJECT

public:
    explicit DialogLogin(MainWindow* parent);
    ~DialogLogin() override;

    // Shows the current level and announces it (even when unchanged).
    void applyUserLevel();
    // Has the main window connect userLevelChanged() to its receivers.
    void wireUserLevel();

signals:
    void userLevelChanged(int level);

public slots:
    void checkPasswd();

private:
    MainWindow* m_mainWindow;
};
