// The login dialog: which names and passwords give which level, what a
// refused login shows, how levels take the operator lock, and how the main
// window's actions follow the level chosen in the dialog. (A lock another
// running program keeps is driven in tst_programinstances.)

#include "app/mainwindow.h"
#include "app/operatorlock.h"
#include "control/dialoglogin.h"
#include "support/lockprobe.h"
#include "support/programfixture.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

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
    QString m_lockPath;
    int m_probe = -1;
    MainWindow* m_window = nullptr;
    DialogLogin* m_login = nullptr;

    // Types into the fields and presses "Log in" as an operator would.
    void logIn(const QString& name, const QString& password)
    {
        m_login->findChild<QLineEdit*>(QStringLiteral("usernameLineEdit"))->setText(name);
        m_login->findChild<QLineEdit*>(QStringLiteral("passwordLineEdit"))->setText(password);
        QTest::mouseClick(m_login->findChild<QPushButton*>(QStringLiteral("logIn")),
                          Qt::LeftButton);
    }
    QString shownLevel() const
    {
        return m_login->findChild<QLabel*>(QStringLiteral("currentLevel"))->text();
    }
    QAction* action(const char* name) const
    {
        return m_window->findChild<QAction*>(QString::fromLatin1(name));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_lockPath = m_dir.filePath(QStringLiteral("zevo_lock"));
    }

    void init()
    {
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

    void rightPasswords_setLevelShowNameAndAnnounce()
    {
        QCOMPARE(shownLevel(), QString()); // nothing applied yet
        QSignalSpy changed(m_login, &DialogLogin::userLevelChanged);

        logIn(QStringLiteral("user"), kUserPassword);
        QCOMPARE(userLevel, 1);
        QCOMPARE(shownLevel(), QStringLiteral("user"));
        QCOMPARE(lockHolder(m_probe), getpid());

        logIn(QStringLiteral("admin"), kAdminPassword);
        QCOMPARE(userLevel, 2);
        QCOMPARE(shownLevel(), QStringLiteral("admin"));

        // "cruise" asks for no password: any text, or none, will do. It keeps
        // the lock until another instance asks for it.
        logIn(QStringLiteral("cruise"), QStringLiteral("anything"));
        QCOMPARE(userLevel, 0);
        QCOMPARE(shownLevel(), QStringLiteral("cruise"));
        logIn(QStringLiteral("cruise"), QString());
        QCOMPARE(userLevel, 0);
        QCOMPARE(lockHolder(m_probe), getpid());

        QList<int> announced;
        for (const QList<QVariant>& args : changed)
            announced << args.at(0).toInt();
        QCOMPARE(announced, (QList<int>{1, 2, 0, 0}));
        // The dialog stays open with what was typed.
        QVERIFY(m_login->isVisible());
        QCOMPARE(m_login->findChild<QLineEdit*>(QStringLiteral("usernameLineEdit"))->text(),
                 QStringLiteral("cruise"));
    }

    void wrongNameOrPassword_warnsAndChangesNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("title");

        const QString wrongName = QStringLiteral("Wrong username");
        const QString wrongPassword = QStringLiteral("Wrong password");
        // name, password, expected box
        const QStringList rows[] = {
            {"Admin", kAdminPassword, wrongName},    {"", kAdminPassword, wrongName},
            {"admin", kUserPassword, wrongPassword}, {"user", "stoneharbour", wrongPassword},
            {"user", "StoneHarbou", wrongPassword},  {"admin", "KiteRiverSun2", wrongPassword},
        };
        for (const QStringList& row : rows)
            QTest::addRow("%s/%s", qPrintable(row[0]), qPrintable(row[1]))
                << row[0] << row[1] << row[2];
    }

    void wrongNameOrPassword_warnsAndChangesNothing()
    {
        QFETCH(QString, name);
        QFETCH(QString, password);
        QFETCH(QString, title);

        logIn(QStringLiteral("user"), kUserPassword);
        QSignalSpy changed(m_login, &DialogLogin::userLevelChanged);
        BoxCatcher boxes;
        logIn(name, password);

        QCOMPARE(int(boxes.boxes.size()), 1);
        QCOMPARE(boxes.boxes[0].title, title);
        QCOMPARE(boxes.boxes[0].text, title == QLatin1String("Wrong username")
                                          ? QStringLiteral("Username entered does not match.\n\n")
                                          : QStringLiteral("Password entered does not match.\n\n"));
        QVERIFY(!boxes.boxes[0].hasParent);
        QCOMPARE(userLevel, 1);
        QCOMPARE(shownLevel(), QStringLiteral("user"));
        QCOMPARE(changed.count(), 0);
    }

    // Opening the dialog at level 2 logs in again: the lock, which this
    // process already holds, is taken at once and every window hears of it.
    void openingAtLevel2_takesLockAgainAtOnceAndReannounces()
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
        QCOMPARE(shownLevel(), QStringLiteral("admin"));
        QCOMPARE(lockHolder(m_probe), getpid());
        QVERIFY(m_login->isVisible());
    }

    // A lock file that cannot be used must not keep the operator out.
    void brokenLockFile_loginStillProceeds()
    {
        closeOperatorLockFile(lockFileFd);
        lockFileFd = -1;
        logIn(QStringLiteral("admin"), kAdminPassword);
        QCOMPARE(userLevel, 2);
        QCOMPARE(shownLevel(), QStringLiteral("admin"));
    }

    void mainWindowActions_followLevelChosenInDialog()
    {
        const QStringList all = {"action_Rocking_Curve", "actionRocking_Curve_3D",
                                 "actionStep_Response", "actionManual_Output_Control"};
        auto enabled = [&] {
            QStringList on;
            for (const QString& name : all)
                if (m_window->findChild<QAction*>(name)->isEnabled())
                    on << name;
            return on;
        };

        QCOMPARE(enabled(), QStringList());
        logIn(QStringLiteral("user"), kUserPassword);
        QCOMPARE(enabled(), QStringList{"actionManual_Output_Control"});
        logIn(QStringLiteral("admin"), kAdminPassword);
        QCOMPARE(enabled(), all);
        // Level 1 after level 2 leaves the measurements as they were.
        logIn(QStringLiteral("user"), kUserPassword);
        QCOMPARE(enabled(), all);
        logIn(QStringLiteral("cruise"), QString());
        QCOMPARE(enabled(), QStringList());
        // Everything else stays enabled at every level.
        for (const char* name : {"action_Exit", "action_Login", "action_Save_Data", "action_About"})
            QVERIFY2(action(name)->isEnabled(), name);
    }
};

QTEST_MAIN(TestDialogLogin)
#include "tst_dialoglogin.moc"
