#include "remote/windowremoteaccess.h"
#include "ui_windowremoteaccess.h"

#include "control/unsavedsettings.h"
#include "device/configstore.h"
#include "device/globals.h"
#include "remote/remotebridge.h"
#include "remote/remotesettings.h"

#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>

#include <cstdio>

namespace
{
constexpr int kAdminLevel = 2;
const QString kTitle = QStringLiteral("Remote Access");
} // namespace

WindowRemoteAccess::WindowRemoteAccess(RemoteBridge* bridge, QWidget* parent)
    : QDialog(parent), ui(new Ui::WindowRemoteAccess), m_bridge(bridge)
{
    ui->setupUi(this);
    connect(ui->controlAllowedCheckBox, &QCheckBox::toggled, this,
            &WindowRemoteAccess::controlToggled);
    connect(ui->applyButton, &QPushButton::clicked, this, &WindowRemoteAccess::applyServerSettings);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::close);
    connect(m_bridge, &RemoteBridge::serverStateChanged, this,
            &WindowRemoteAccess::showServerState);
    // Follows the switch wherever it is changed, so the box never shows a
    // state the clients do not see.
    connect(m_bridge, &RemoteBridge::controlAllowedChanged, this, [this](bool allowed) {
        const QSignalBlocker quiet(ui->controlAllowedCheckBox);
        ui->controlAllowedCheckBox->setChecked(allowed);
    });
    showServerState();
    checkUserLevel();
}

WindowRemoteAccess::~WindowRemoteAccess() = default;

void WindowRemoteAccess::showWindow()
{
    checkUserLevel();
    loadSettings();
    show();
    raise();
    activateWindow();
}

void WindowRemoteAccess::checkUserLevel()
{
    const bool admin = userLevel == kAdminLevel;
    ui->controlGroup->setEnabled(admin);
    ui->serverGroup->setEnabled(admin);
    ui->levelLabel->setVisible(!admin);
}

void WindowRemoteAccess::loadSettings()
{
    const RemoteSettings stored = theConfig ? theConfig->getRemote() : RemoteSettings();
    ui->enabledCheckBox->setChecked(stored.enabled);
    ui->addressLineEdit->setText(stored.address);
    ui->portSpinBox->setValue(stored.port);
    ui->deviceNameLineEdit->setText(stored.deviceName);
    ui->databaseLineEdit->setText(stored.database);
    ui->serverInstanceLineEdit->setText(stored.serverInstance);
    ui->serverInstanceLineEdit->setPlaceholderText(remotesettings::serverInstance({}));
    // The switch as the clients see it, which a start option may have set.
    const QSignalBlocker quiet(ui->controlAllowedCheckBox);
    ui->controlAllowedCheckBox->setChecked(m_bridge->controlAllowed());
}

void WindowRemoteAccess::controlToggled(bool allowed)
{
    if (userLevel != kAdminLevel) {
        const QSignalBlocker quiet(ui->controlAllowedCheckBox);
        ui->controlAllowedCheckBox->setChecked(m_bridge->controlAllowed());
        return;
    }
    // Into effect first: switching off must never wait for the file.
    m_bridge->setControlAllowed(allowed);
    std::printf("Remote control %s by the local operator\n", allowed ? "allowed" : "disabled");
    std::fflush(stdout);
    if (theConfig && !theConfig->setRemoteControlAllowed(allowed))
        warnSettingsNotSaved(theConfig->filePath());
}

void WindowRemoteAccess::applyServerSettings()
{
    if (userLevel != kAdminLevel || !theConfig)
        return;
    RemoteSettings settings;
    settings.enabled = ui->enabledCheckBox->isChecked();
    settings.address = ui->addressLineEdit->text().trimmed();
    settings.port = ui->portSpinBox->value();
    settings.deviceName = ui->deviceNameLineEdit->text().trimmed();
    settings.database = ui->databaseLineEdit->text().trimmed();
    settings.serverInstance = ui->serverInstanceLineEdit->text().trimmed();
    const QString problem = remotesettings::problem(settings);
    if (!problem.isEmpty()) {
        QMessageBox::warning(nullptr, kTitle, problem + QStringLiteral(".\n\nNothing was saved."));
        return;
    }
    if (!theConfig->setRemoteServer(settings))
        warnSettingsNotSaved(theConfig->filePath());
}

void WindowRemoteAccess::showServerState()
{
    switch (m_bridge->serverState()) {
    case RemoteBridge::ServerState::Running:
        ui->serverStateLabel->setText(
            QStringLiteral("The server runs. Clients reach the feedback at\n%1")
                .arg(m_bridge->serverDetail()));
        break;
    case RemoteBridge::ServerState::Off:
        ui->serverStateLabel->setText(QStringLiteral("The server is off."));
        break;
    case RemoteBridge::ServerState::Failed:
        ui->serverStateLabel->setText(
            QStringLiteral("The server did not start: %1.").arg(m_bridge->serverDetail()));
        // Told once, over the main window, without holding up the program:
        // it runs on without the server.
        if (!m_startProblem) {
            m_startProblem = new QMessageBox(
                QMessageBox::Warning, kTitle,
                QStringLiteral("The remote access server did not start: %1.\n\nThe program "
                               "runs without it; see Settings, Remote Access.")
                    .arg(m_bridge->serverDetail()),
                QMessageBox::Ok, parentWidget());
            m_startProblem->setAttribute(Qt::WA_DeleteOnClose);
            m_startProblem->setModal(false);
            m_startProblem->show();
        }
        break;
    }
}
