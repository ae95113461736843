// The login dialog: which names and passwords give which level, what a
// refused login shows, how levels take the operator lock, and how the main
// window's actions follow the level chosen in the dialog. (A lock another
// running program keeps is driven in tst_programinstances.)

#include "app/mainwindow.h"
#include "app/operatorlock.h"
#include "control/dialoglogin.h"
#include "support/lockprobe.h"
#include "support/programfixture.h"
#include "support/widgets.h"

#include <QtWidgets>

#include <fcntl.h>
#include <unistd.h>

namespace
{
const QString kUserPassword = QStringLiteral("StoneHarbour");
const QString kAdminPassword = QStringLiteral("KiteRiverSun");
} // namespace

class TestDialogLogin : public QObject
{
    Q_OBJECT

    ProgramFixture m_program;
    QTemporaryDir m_dir;
    QString m_lockPath = m_dir.filePath(QStringLiteral("zevo_lock"));
    int m_probe = -1;
    MainWindow* m_window = nullptr;
    DialogLogin* m_login = nullptr;

    // Types into the fields and presses "Log in" as an operator would.
    void logIn(const QString& name, const QString& password)
    {
        child<QLineEdit>(m_login, "usernameLineEdit")->setText(name);
        child<QLineEdit>(m_login, "passwordLineEdit")->setText(password);
        click(m_login, "logIn");
    }
    QString shownLevel() const { return child<QLabel>(m_login, "currentLevel")->text(); }
    QAction* action(const char* name) const { return child<QAction>(m_window, name); }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_program.setUp();
        userLevel = 0;
        lockFileFd = openOperatorLockFile(m_lockPath);
        QVERIFY(lockFileFd >= 0);
        m_probe = ::open(QFile::encodeName(m_lockPath).constData(), O_RDWR);
        QVERIFY(m_probe >= 0);
        m_window = new MainWindow;
        m_login = new DialogLogin(m_window);
        theLogin = m_login;
        m_login->wireUserLevel();
        m_login->show();
    }

    void cleanup()
    {
        theLogin = nullptr;
        delete m_window; // and the dialog with it
        m_window = nullptr;
        // Closing the descriptor drops the lock for the next case.
        closeOperatorLockFile(lockFileFd);
        lockFileFd = -1;
        ::close(m_probe);
        userLevel = 0;
        m_program.tearDown();
    }

    // Each right password sets its level, shows the name and announces it;
    // "cruise" asks for no password: any text, or none, will do. The lock is
    // kept until another instance asks for it; the dialog stays open with
    // what was typed.
    void passwords_rightOnesSetLevelShowNameAndAnnounce_wrongOnesWarn()
    {
        QCOMPARE(shownLevel(), QString()); // nothing applied yet
        QSignalSpy changed(m_login, &DialogLogin::userLevelChanged);
        QStringList levels;
        for (const auto& [name, password] : {std::pair{"user", kUserPassword},
                                             {"admin", kAdminPassword},
                                             {"cruise", QStringLiteral("anything")},
                                             {"cruise", QString()}}) {
            logIn(name, password);
            levels << QString("%1 %2 %3")
                          .arg(shownLevel())
                          .arg(userLevel)
                          .arg(changed.takeFirst().at(0).toInt());
            QCOMPARE(lockHolder(m_probe), getpid());
        }
        QCOMPARE(levels, (QStringList{"user 1 1", "admin 2 2", "cruise 0 0", "cruise 0 0"}));
        QVERIFY(m_login->isVisible() && changed.isEmpty());
        QCOMPARE(child<QLineEdit>(m_login, "usernameLineEdit")->text(), QStringLiteral("cruise"));

        // A wrong name or password: one warning without parent that says
        // which, and the level, the name shown and the announcements stay as
        // they were.
        logIn(QStringLiteral("user"), kUserPassword);
        changed.clear();
        BoxCatcher boxes;
        const QStringList rows[] = {
            // name, password, what is wrong: the case, another user's, a prefix, a longer one
            {"Admin", kAdminPassword, "Username"},  {"admin", kUserPassword, "Password"},
            {"user", "stoneharbour", "Password"},   {"user", "StoneHarbou", "Password"},
            {"admin", "KiteRiverSun2", "Password"},
        };
        for (const QStringList& row : rows) {
            boxes.boxes.clear();
            logIn(row[0], row[1]);
            QStringList seen = {row.join('/')};
            for (const BoxCatcher::Box& box : boxes.boxes)
                seen << box.text << QString::number(box.hasParent);
            QCOMPARE(seen,
                     (QStringList{row.join('/'), row[2] + " entered does not match.\n\n", "0"}));
            QCOMPARE(shownLevel() + QString::number(userLevel), QStringLiteral("user1"));
        }
        QCOMPARE(changed.count(), 0);
    }

    // Opening the dialog at level 2 logs in again: the lock, which this
    // process already holds, is taken at once and every window hears of it.
    void levels_reopeningAtLevel2_mainWindowActions_brokenLockFile()
    {
        logIn(QStringLiteral("admin"), kAdminPassword);
        QSignalSpy changed(m_login, &DialogLogin::userLevelChanged);
        m_login->hide();
        QElapsedTimer clock;
        clock.start();
        action("action_Login")->trigger();
        QVERIFY(clock.elapsed() < 500);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toInt(), 2);
        QVERIFY(lockHolder(m_probe) == getpid() && m_login->isVisible());

        // Level 1 after level 2 leaves the measurements as they were; the
        // dialog's level reaches the main window's actions. (Every menu action
        // at each level from a fresh start: tst_programinstances.)
        logIn(QStringLiteral("user"), kUserPassword);
        for (const char* name : {"action_Rocking_Curve", "actionRocking_Curve_3D",
                                 "actionStep_Response", "actionManual_Output_Control"})
            QVERIFY2(action(name)->isEnabled(), name);
        logIn(QStringLiteral("cruise"), QString());
        QVERIFY(!action("actionManual_Output_Control")->isEnabled());

        // A lock file that cannot be used must not keep the operator out.
        closeOperatorLockFile(lockFileFd);
        lockFileFd = -1;
        logIn(QStringLiteral("admin"), kAdminPassword);
        QCOMPARE(shownLevel() + QString::number(userLevel), QStringLiteral("admin2"));
    }
};

QTEST_MAIN(TestDialogLogin)
#include "tst_dialoglogin.moc"
