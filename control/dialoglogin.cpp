#include "control/dialoglogin.h"
#include "ui_dialoglogin.h"

#include "app/mainwindow.h"
#include "app/operatorlock.h"
#include "device/globals.h"
#include "device/userlevel.h"

#include <QCryptographicHash>
#include <QMessageBox>

#include <cstddef>

namespace
{

// The passwords are kept only as SHA-256 digests of salt + password, so that
// they cannot be read out of the executable.
struct StoredPassword {
    unsigned char salt[16];
    unsigned char digest[32];
};

constexpr StoredPassword kUserPassword = {{0xe4, 0xa3, 0x2f, 0xfb, 0x92, 0x7f, 0xe8, 0xcb, 0xfd,
                                           0x90, 0x35, 0xa3, 0x88, 0xd8, 0x6e, 0x2f},
                                          {0x7d, 0x7f, 0x0a, 0x9f, 0x1e, 0x47, 0xf6, 0xc2,
                                           0xf8, 0x60, 0x75, 0xad, 0xe5, 0x54, 0xda, 0xfa,
                                           0xaf, 0x99, 0x23, 0x82, 0xf3, 0x35, 0x14, 0xad,
                                           0x7f, 0xef, 0x63, 0xb5, 0x83, 0xda, 0x69, 0xf1}};

constexpr StoredPassword kAdminPassword = {{0x22, 0xeb, 0xc8, 0x9a, 0x54, 0xeb, 0x6e, 0x83, 0x03,
                                            0x71, 0x19, 0xe7, 0xee, 0x2d, 0xf3, 0xcf},
                                           {0x64, 0xd8, 0xd5, 0xa4, 0x3e, 0x8a, 0xc5, 0x93,
                                            0x36, 0x1f, 0xd1, 0xc2, 0xec, 0x02, 0xb5, 0x2f,
                                            0x0f, 0x03, 0xf1, 0x87, 0xcd, 0x08, 0x00, 0xa1,
                                            0xd2, 0x43, 0x5b, 0xa9, 0x19, 0xc9, 0xb3, 0x5d}};

// The whole typed text, letter case included, must be the password.
bool matches(const QString& typed, const StoredPassword& stored)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(reinterpret_cast<const char*>(stored.salt), int(sizeof stored.salt));
    hash.addData(typed.toUtf8());
    const QByteArray digest = hash.result();
    if (digest.size() != int(sizeof stored.digest))
        return false;
    // Every byte is looked at, so the time taken tells nothing about how
    // much of a guess was right.
    unsigned char difference = 0;
    for (std::size_t i = 0; i < sizeof stored.digest; ++i)
        difference |= static_cast<unsigned char>(digest[int(i)]) ^ stored.digest[i];
    return difference == 0;
}

void warn(const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok);
    box.exec();
}

} // namespace

DialogLogin::DialogLogin(MainWindow* parent)
    : QDialog(parent), ui(new Ui::DialogLogin), m_mainWindow(parent)
{
    ui->setupUi(this);
    connect(ui->logIn, &QPushButton::released, this, &DialogLogin::checkPasswd);
}

DialogLogin::~DialogLogin() = default;

void DialogLogin::applyUserLevel()
{
    applyLevel(userLevel);
}

bool DialogLogin::applyLevel(int level)
{
    if (zevo::operatesFeedback(level)) {
        // Blocks while the holder is asked to let go. A broken lock file does
        // not keep the operator out; a holder that never lets go does.
        int holder = 0;
        if (acquireOperatorLock(lockFileFd, kOperatorLockTimeoutMs, &holder) ==
            kOperatorLockHeldElsewhere) {
            warn(tr("Operator lock"), OperatorLock::heldElsewhereMessage(holder));
            return false;
        }
    }
    userLevel = level;
    ui->currentLevel->setText(zevo::userLevelName(level));
    emit userLevelChanged(level);
    return true;
}

void DialogLogin::wireUserLevel()
{
    if (m_mainWindow)
        m_mainWindow->wireUserLevel(this);
}

void DialogLogin::checkPasswd()
{
    const QString name = ui->usernameLineEdit->text();
    if (name == zevo::userLevelName(zevo::LevelCruise)) {
        applyLevel(zevo::LevelCruise); // the lowest level asks for no password
        return;
    }

    int level = zevo::LevelCruise;
    const StoredPassword* stored = nullptr;
    if (name == zevo::userLevelName(zevo::LevelAdmin)) {
        level = zevo::LevelAdmin;
        stored = &kAdminPassword;
    } else if (name == zevo::userLevelName(zevo::LevelUser)) {
        level = zevo::LevelUser;
        stored = &kUserPassword;
    } else {
        warn(QStringLiteral("Wrong username"),
             QStringLiteral("Username entered does not match.\n\n"));
        return;
    }

    if (!matches(ui->passwordLineEdit->text(), *stored)) {
        warn(QStringLiteral("Wrong password"),
             QStringLiteral("Password entered does not match.\n\n"));
        return;
    }
    applyLevel(level);
}
