// The About dialog: the program's name, version and build, the maker's
// links, the logo, and the controller versions as start-up read them.

#include "app/initresources.h"
#include "beamline/about.h"
#include "support/programfixture.h"
#include "support/widgets.h"

#include <QtWidgets>

using namespace zevo;

class TestAbout : public QObject
{
    Q_OBJECT

    ProgramFixture m_program;

private slots:
    void initTestCase() { initResources(); }
    void init() { m_program.setUp(); }
    void cleanup()
    {
        m_program.tearDown();
        controllerVersions = ControllerVersions{};
    }

    // The version and build the program was made as; the maker's links open
    // outside; the logo as embedded, not scaled; the three controller strings
    // each in its field as start-up read them, with nothing asked of the
    // controller on opening.
    void showsProgramMakerLogoAndControllerVersions()
    {
        controllerVersions = {"1719835200", "1.0.03", "1.2.05"};
        about a;
        QCOMPARE(child<QLabel>(a, "label_2")->text(),
                 QStringLiteral("Quorvex ZEVO Local User Interface<br>v1.0 build 826"));
        auto* maker = child<QLabel>(a, "label_3");
        QVERIFY(maker->textFormat() == Qt::RichText && maker->openExternalLinks() &&
                maker->textInteractionFlags().testFlag(Qt::LinksAccessibleByMouse));
        QVERIFY(maker->text().contains("<a href=\"https://") &&
                maker->text().contains("<a href=\"mailto:"));
        const QImage logo(":/qss/images/Logo_Quorvex.png");
        QVERIFY(!logo.isNull());
        QCOMPARE(child<QLabel>(a, "label")
                     ->pixmap(Qt::ReturnByValue)
                     .toImage()
                     .convertToFormat(logo.format()),
                 logo);
        QVERIFY(!a.windowIcon().isNull());

        QStringList fields;
        for (const char* name : {"curVerTSLineEdit", "curVerSWLineEdit", "curPIDverLineEdit"})
            fields << child<QLineEdit>(a, name)->text();
        QCOMPARE(fields, (QStringList{"1719835200", "1.0.03", "1.2.05"}));
        QCOMPARE(m_program.driver.countCalls(RecordingDriver::Call::Ioctl), 0);
    }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
