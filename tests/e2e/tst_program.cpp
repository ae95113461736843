// The whole program, start-up to exit, on the virtual controller: it comes up
// with live data in its plots and the resources it embeds, and ends cleanly
// with the event loop's result. (The hand-over of the operator lock between
// running programs is driven in tst_programinstances.)

#include "acquisition/updater.h"
#include "device/globals.h"
#include "support/virtualprogram.h"

#include "app/mainwindow.h"
#include "device/mailboxcomm.h"
#include "plots/widgetgraphcurrents.h"
#include "plots/widgetgraphxy.h"

#include <QApplication>
#include <QDomDocument>
#include <QFile>
#include <QImage>
#include <QMessageBox>
#include <QSvgRenderer>

#include <qcustomplot.h>

#include <atomic>

namespace
{

// Why the embedded file at `path` would not serve the window that opens it;
// empty if fine.
QString problemWith(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot be opened");
    if (path.endsWith(QLatin1String(".svg"))) {
        // The status lamps are laid out for drawings of this size.
        const QSvgRenderer svg(path);
        if (!svg.isValid() || svg.defaultSize() != QSize(100, 50))
            return QStringLiteral("is not a 100 x 50 SVG drawing");
    } else if (path.endsWith(QLatin1String(".png"))) {
        if (QImage(path, "PNG").isNull())
            return QStringLiteral("does not load as a PNG picture");
    } else if (file.readAll().trimmed().isEmpty()) {
        return QStringLiteral("is empty");
    }
    return {};
}

// The device catalogue as the SFP window reads it: the document's first
// child is the list, and each device's children are taken by position (id,
// group, name, image, desc). Problems found, one line each.
QStringList catalogueProblems()
{
    QFile file(QStringLiteral(":/product_data/devices.xml"));
    QDomDocument document;
    QString error;
    if (!file.open(QIODevice::ReadOnly) || !document.setContent(&file, &error))
        return {QStringLiteral("catalogue does not parse: ") + error};
    // An XML declaration or a comment ahead of the list would be the first
    // child, and every lookup would come back empty.
    const QDomNode list = document.firstChild();
    if (list.nodeName() != QLatin1String("devices"))
        return {QStringLiteral("first child is ") + list.nodeName()};
    QStringList problems;
    QSet<QString> ids;
    int count = 0;
    for (QDomElement device = list.firstChildElement(); !device.isNull();
         device = device.nextSiblingElement(), ++count) {
        const QDomNodeList c = device.childNodes();
        QStringList tags;
        for (int i = 0; i < c.size(); ++i)
            tags << c.at(i).nodeName();
        const QString id = c.at(0).firstChild().nodeValue();
        if (tags != QStringList({"id", "group", "name", "image", "desc"}) || id.size() != 4 ||
            ids.contains(id))
            problems << QStringLiteral("device %1: %2").arg(id, tags.join(','));
        ids << id;
        // Only the power supply's picture is not embedded: it shows its name alone.
        const QString image = c.at(3).firstChild().nodeValue();
        if (id != QLatin1String("1100") && !problemWith(":/product_data/" + image).isEmpty())
            problems << QStringLiteral("device %1: picture %2").arg(id, image);
    }
    if (count < 12)
        problems << QStringLiteral("only %1 devices").arg(count);
    return problems;
}

} // namespace

class TestProgram : public QObject
{
    Q_OBJECT

    // The program over a virtual beamline whose history is already recorded;
    // `onCycle` is called after every display cycle.
    static int runOnVirtualController(const std::function<void(MainWindow&, int cycle)>& onCycle)
    {
        return VirtualProgram().run(onCycle);
    }

private slots:
    // One run serves the embedded resources too: the style sheet applied is
    // the shipped file, and every picture, drawing and the device catalogue
    // the windows open by name load and parse.
    void exitAction_endsWithZeroAfterLiveCycles()
    {
        int xyPoints = -1;
        int currentPoints = -1;
        int cyclesSeen = 0;
        std::atomic<bool> workerLoopRuns{false};
        QString styleSheet;
        QStringList problems;
        const int result = runOnVirtualController([&](MainWindow& window, int cycle) {
            cyclesSeen = cycle;
            if (cycle == 1) {
                // Runs only if the mailbox thread's event loop (and with it
                // the one-second poll) is alive.
                QTimer::singleShot(0, theMailbox, [&workerLoopRuns] { workerLoopRuns = true; });
                styleSheet = qApp->styleSheet();
                for (const char* path :
                     {":/qss/style.qss", ":/resources/round_red.svg", ":/resources/round_green.svg",
                      ":/resources/round_yellow.svg", ":/resources/round_grey.svg",
                      ":/resources/round_purple.svg", ":/images/images/ZEVO_PID.png",
                      ":/qss/images/Logo_Quorvex.png"}) {
                    const QString problem = problemWith(QString::fromLatin1(path));
                    if (!problem.isEmpty())
                        problems << path + (' ' + problem);
                }
                problems << catalogueProblems();
            }
            if (cycle < 2)
                return;
            xyPoints = window.graphXY(0)->graphData()->size();
            auto* currents = window.findChild<WidgetGraphCurrents*>();
            currentPoints = currents ? currents->graphData(0)->size() : -1;
            window.findChild<QAction*>(QStringLiteral("action_Exit"))->trigger();
        });

        QCOMPARE(result, 0);
        QCOMPARE(cyclesSeen, 2);
        QVERIFY(workerLoopRuns);
        QFile shipped(QStringLiteral(ZEVO_STYLE_SHEET_FILE));
        QVERIFY(shipped.open(QIODevice::ReadOnly));
        QVERIFY(styleSheet.contains(QLatin1String("QMainWindow::separator")));
        QCOMPARE(styleSheet, QString::fromLatin1(shipped.readAll()));
        QCOMPARE(problems, QStringList());
        // The beam holds still at this noise level, so some of the newest
        // 1000 positions share their X and show as one point.
        QVERIFY2(xyPoints > 100 && xyPoints <= 1000, qPrintable(QString::number(xyPoints)));
        QCOMPARE(currentPoints, 14336);
        // Everything the start-up created is gone again.
        QVERIFY(!theMailbox);
        QVERIFY(!theUpdater);
        QVERIFY(!theConfig);
    }

    // A settings file with unreadable lines is named to the operator once,
    // in a box that leaves the display cycles running; an intact one gives
    // no box.
    void damagedSettingsFile_namedWithoutStoppingTheProgram()
    {
        for (const bool damaged : {false, true}) {
            VirtualProgram program;
            QVERIFY(program.useFirstRunConfiguration());
            if (damaged) {
                QFile file(program.platform.configPath);
                QVERIFY(file.open(QIODevice::Append));
                file.write("[Remote\\0x\n");
            }
            QStringList texts;
            const int result = program.run([&texts](MainWindow& window, int cycle) {
                if (cycle < 2)
                    return;
                for (QMessageBox* box : window.findChildren<QMessageBox*>())
                    texts << box->text();
                window.findChild<QAction*>(QStringLiteral("action_Exit"))->trigger();
            });
            QCOMPARE(result, 0);
            QCOMPARE(texts.size(), damaged ? 1 : 0);
            if (damaged) {
                QVERIFY2(texts[0].contains('\n' + program.platform.configPath + "\n\n"),
                         qPrintable(texts[0]));
                QVERIFY(texts[0].contains('\n' + program.platform.configPath + ".damaged\n"));
            }
        }
    }

    void closingTheWindow_endsTheProgram()
    {
        const int result = runOnVirtualController([](MainWindow& window, int) { window.close(); });
        QCOMPARE(result, 0);
        QVERIFY(!theMailbox);
    }
};

QTEST_APPLESS_MAIN(TestProgram)
#include "tst_program.moc"
