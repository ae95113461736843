#include "control/dialoglogin.h"

#include "app/mainwindow.h"
#include "device/globals.h"

DialogLogin::DialogLogin(MainWindow* parent) : QDialog(parent), m_mainWindow(parent) {}

DialogLogin::~DialogLogin() = default;

void DialogLogin::applyUserLevel()
{
    emit userLevelChanged(userLevel);
}

void DialogLogin::wireUserLevel()
{
    if (m_mainWindow)
        m_mainWindow->wireUserLevel(this);
}

void DialogLogin::checkPasswd() {}
