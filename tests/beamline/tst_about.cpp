// The About dialog: the program's name, version and build, the maker's
// links, the logo, and the controller versions as start-up read them.

#include "app/initresources.h"
#include "app/mainwindow.h"
#include "beamline/about.h"
#include "support/programfixture.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

#include <memory>

using namespace zevo;

class TestAbout : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ProgramFixture> m_program;

    static QString field(about& a, const char* name)
    {
        return a.findChild<QLineEdit*>(QLatin1String(name))->text();
    }
    static MailboxMessage versionReply(uint32_t command, uint32_t word)
    {
        MailboxMessage m(command | kReplyAcknowledged);
        m.setU32(4, word);
        return m;
    }

private slots:
    void initTestCase() { initResources(); }
    void init()
    {
        m_program = std::make_unique<ProgramFixture>();
        m_program->setUp();
    }
    void cleanup()
    {
        m_program->tearDown();
        m_program.reset();
        controllerVersions = ControllerVersions{};
    }

    void showsProgramMakerAndLogo()
    {
        about a;
        QCOMPARE(a.objectName(), QStringLiteral("about"));
        QCOMPARE(a.findChild<QLabel*>("label_2")->text(),
                 QStringLiteral("Quorvex ZEVO Local User Interface<br>v1.0 build 826"));
        QCOMPARE(a.findChild<QLabel*>("label_4")->text(),
                 QStringLiteral("Current Version of ZEVO System:"));

        auto* maker = a.findChild<QLabel*>("label_3");
        QCOMPARE(maker->textFormat(), Qt::RichText);
        QVERIFY(maker->text().contains(QLatin1String("Quorvex")));
        QVERIFY(maker->text().contains(QLatin1String("<a href=\"https://")));
        QVERIFY(maker->text().contains(QLatin1String("<a href=\"mailto:")));
        QVERIFY(maker->openExternalLinks());
        const Qt::TextInteractionFlags flags = maker->textInteractionFlags();
        QVERIFY(flags.testFlag(Qt::LinksAccessibleByMouse));
        QVERIFY(flags.testFlag(Qt::LinksAccessibleByKeyboard));
        QVERIFY(flags.testFlag(Qt::TextSelectableByMouse));

        // The logo as embedded, not scaled.
        const QPixmap logo = a.findChild<QLabel*>("label")->pixmap(Qt::ReturnByValue);
        const QImage embedded(QStringLiteral(":/qss/images/Logo_Quorvex.png"));
        QVERIFY(!embedded.isNull());
        QCOMPARE(logo.toImage().convertToFormat(embedded.format()), embedded);

        QCOMPARE(a.minimumSize(), QSize(420, 400));
        QCOMPARE(a.maximumSize(), QSize(420, 413));
        QVERIFY(!a.windowIcon().isNull());
    }

    // The three strings as start-up reads them, each in its own field;
    // opening the dialog asks the controller nothing.
    void showsTheControllerVersionsReadAtStartUp()
    {
        m_program->driver.queueReply(versionReply(cmd::ReadSwVersion, 0x03000001));
        m_program->driver.queueReply(versionReply(cmd::ReadHwTimestamp, 1719835200));
        m_program->driver.queueReply(versionReply(cmd::ReadPidVersion, 0x05000201));
        QCOMPARE(m_program->mailbox->readVersions(&controllerVersions.hwTimestamp,
                                                  &controllerVersions.swVersion,
                                                  &controllerVersions.pidVersion),
                 0);
        m_program->driver.clearCalls();

        about a;
        QCOMPARE(field(a, "curVerTSLineEdit"), QStringLiteral("1719835200"));
        QCOMPARE(field(a, "curVerSWLineEdit"), QStringLiteral("1.0.03"));
        QCOMPARE(field(a, "curPIDverLineEdit"), QStringLiteral("1.2.05"));
        for (const char* name : {"curVerTSLineEdit", "curVerSWLineEdit", "curPIDverLineEdit"})
            QVERIFY2(!a.findChild<QLineEdit*>(name)->isEnabled(), name);
        QCOMPARE(m_program->driver.countCalls(RecordingDriver::Call::Ioctl), 0);
    }

    // Each opening is a new dialog of its own; a closed one is gone.
    void mainWindow_opensANewDialogEachTime()
    {
        MainWindow main;
        QAction* entry = main.findChild<QAction*>(QStringLiteral("action_About"));
        entry->trigger();
        entry->trigger();
        const QList<about*> dialogs = main.findChildren<about*>();
        QCOMPARE(dialogs.size(), 2);
        QVERIFY(dialogs[0] != dialogs[1]);
        QVERIFY(dialogs[0]->isVisible() && dialogs[1]->isVisible());
        QVERIFY(!dialogs[0]->isModal());

        dialogs[0]->close();
        QTRY_COMPARE(main.findChildren<about*>().size(), 1);
        QVERIFY(dialogs[1]->isVisible());
    }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
