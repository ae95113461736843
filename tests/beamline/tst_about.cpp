// The About dialog: the program's name, version and build, the maker's
// links, the logo, and the controller versions as start-up read them.

#include "app/initresources.h"
#include "beamline/about.h"
#include "support/programfixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QtTest>

#include <memory>

using namespace zevo;

class TestAbout : public QObject
{
    Q_OBJECT

private:
    ProgramFixture m_program;

    static QString field(about& a, const char* name)
    {
        return a.findChild<QLineEdit*>(QLatin1String(name))->text();
    }

private slots:
    void initTestCase() { initResources(); }
    void init() { m_program.setUp(); }
    void cleanup()
    {
        m_program.tearDown();
        controllerVersions = ControllerVersions{};
    }

    void showsProgramMakerAndLogo()
    {
        about a;
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
        QVERIFY(!a.windowIcon().isNull());
    }

    // The three strings as start-up read them, each in its own field;
    // opening the dialog asks the controller nothing.
    void showsTheControllerVersionsReadAtStartUp()
    {
        controllerVersions = {QStringLiteral("1719835200"), QStringLiteral("1.0.03"),
                              QStringLiteral("1.2.05")};
        about a;
        QCOMPARE(field(a, "curVerTSLineEdit"), QStringLiteral("1719835200"));
        QCOMPARE(field(a, "curVerSWLineEdit"), QStringLiteral("1.0.03"));
        QCOMPARE(field(a, "curPIDverLineEdit"), QStringLiteral("1.2.05"));
        for (const char* name : {"curVerTSLineEdit", "curVerSWLineEdit", "curPIDverLineEdit"})
            QVERIFY2(!a.findChild<QLineEdit*>(name)->isEnabled(), name);
        QCOMPARE(m_program.driver.countCalls(RecordingDriver::Call::Ioctl), 0);
    }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
