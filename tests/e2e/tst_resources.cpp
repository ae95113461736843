// The resources embedded in the program are there when it runs on the
// virtual controller: the style sheet it applies is the shipped file, and the
// lamp pictures, the PID diagram, the logo, the device catalogue and the
// icons the catalogue names all open and parse.

#include "acquisition/updater.h"
#include "support/virtualprogram.h"

#include "app/mainwindow.h"
#include "device/globals.h"

#include <QAction>
#include <QApplication>
#include <QDomDocument>
#include <QFile>
#include <QImage>
#include <QSvgRenderer>
#include <QtTest>

namespace {

const QString kCatalogue = QStringLiteral(":/product_data/devices.xml");

// Every embedded file the windows open by name, and the catalogue's icons.
const QStringList kEmbeddedFiles = {
    QStringLiteral(":/qss/style.qss"),
    QStringLiteral(":/resources/round_red.svg"),
    QStringLiteral(":/resources/round_green.svg"),
    QStringLiteral(":/resources/round_yellow.svg"),
    QStringLiteral(":/resources/round_grey.svg"),
    QStringLiteral(":/resources/round_purple.svg"),
    QStringLiteral(":/images/images/ZEVO_PID.png"),
    QStringLiteral(":/qss/images/Logo_Quorvex.png"),
    kCatalogue,
    QStringLiteral(":/product_data/icon_dorvish.png"),
    QStringLiteral(":/product_data/icon_dorvish_fast.png"),
    QStringLiteral(":/product_data/icon_Ostrel.png"),
    QStringLiteral(":/product_data/icon_Pavun.png"),
};

// Why the embedded file at `path` would not serve its window; empty if fine.
QString problemWith(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot be opened");
    if (path.endsWith(QLatin1String(".svg"))) {
        QSvgRenderer svg(path);
        if (!svg.isValid())
            return QStringLiteral("is not a valid SVG drawing");
        // The status lamps are laid out for drawings of this size.
        if (svg.defaultSize() != QSize(100, 50))
            return QStringLiteral("is drawn %1 x %2, not 100 x 50")
                .arg(svg.defaultSize().width())
                .arg(svg.defaultSize().height());
    } else if (path.endsWith(QLatin1String(".png"))) {
        if (QImage(path, "PNG").isNull())
            return QStringLiteral("does not load as a PNG picture");
    } else if (path.endsWith(QLatin1String(".xml"))) {
        QDomDocument document;
        QString error;
        int line = 0;
        if (!document.setContent(&file, &error, &line))
            return QStringLiteral("does not parse: %1 at line %2").arg(error).arg(line);
    } else if (file.readAll().trimmed().isEmpty()) {
        return QStringLiteral("is empty");
    }
    return {};
}

// The catalogue as the SFP window reads it: the document's first child is
// the list, and each device's children are taken by position.
struct Catalogue {
    QString firstChild;
    QList<QStringList> devices; // per device: "tag=text" of each child node
};

Catalogue readCatalogue()
{
    Catalogue catalogue;
    QFile file(kCatalogue);
    QDomDocument document;
    if (!file.open(QIODevice::ReadOnly) || !document.setContent(&file))
        return catalogue;
    const QDomNode list = document.firstChild();
    catalogue.firstChild = list.nodeName();
    for (QDomElement device = list.firstChildElement(); !device.isNull();
         device = device.nextSiblingElement()) {
        QStringList row;
        const QDomNodeList children = device.childNodes();
        for (int i = 0; i < children.size(); ++i)
            row << children.at(i).nodeName() + QLatin1Char('=') +
                       children.at(i).firstChild().nodeValue();
        catalogue.devices << row;
    }
    return catalogue;
}

QString shippedStyleSheet()
{
    QFile file(QStringLiteral(ZEVO_STYLE_SHEET_FILE));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
}

} // namespace

class TestResources : public QObject
{
    Q_OBJECT

    // What the running program found on its first display cycle.
    int m_result = -1;
    int m_cycles = 0;
    QString m_styleSheet;
    QMap<QString, QString> m_problems;
    Catalogue m_catalogue;

    // The program over a virtual beamline whose history is already recorded;
    // `onCycle` is called after every display cycle.
    int runOnVirtualController(const std::function<void(MainWindow&, int cycle)>& onCycle)
    {
        VirtualProgram program;
        return program.run(onCycle);
    }

private slots:
    void initTestCase()
    {
        m_result = runOnVirtualController([this](MainWindow& window, int cycle) {
            m_cycles = cycle;
            m_styleSheet = qApp->styleSheet();
            for (const QString& path : kEmbeddedFiles)
                m_problems[path] = problemWith(path);
            m_catalogue = readCatalogue();
            window.findChild<QAction*>(QStringLiteral("action_Exit"))->trigger();
        });
    }

    void exitAction_endsTheProgramAfterOneCycle()
    {
        QCOMPARE(m_result, 0);
        QCOMPARE(m_cycles, 1);
    }

    void styleSheet_isTheShippedFile()
    {
        const QString shipped = shippedStyleSheet();
        QVERIFY(shipped.contains(QLatin1String("QMainWindow::separator")));
        QCOMPARE(m_styleSheet, shipped);
    }

    void embeddedFile_opensAndParses_data()
    {
        QTest::addColumn<QString>("path");
        for (const QString& path : kEmbeddedFiles)
            QTest::newRow(qPrintable(path)) << path;
    }

    void embeddedFile_opensAndParses()
    {
        QFETCH(QString, path);
        QVERIFY(m_problems.contains(path));
        QCOMPARE(m_problems.value(path), QString());
    }

    // The SFP window finds a slot's name and picture by the device id; a
    // wrong id, name or file name shows the wrong device or no picture.
    void catalogue_listsEveryKnownDevice()
    {
        const QList<QStringList> known = {
            {"id=1100", "group=Power Supplies", "name=Kavrel", "image=KAVREL_small.png"},
            {"id=2100", "group=Beamline instrumentation", "name=Dorvish", "image=icon_dorvish.png"},
            {"id=2180", "group=Beamline instrumentation", "name=Dorvish (recovery mode)",
             "image=icon_dorvish.png"},
            {"id=2140", "group=Beamline instrumentation", "name=Dorvish (fast interface)",
             "image=icon_dorvish_fast.png"},
            {"id=2101", "group=Beamline instrumentation", "name=Dorvish", "image=icon_dorvish.png"},
            {"id=2102", "group=Beamline instrumentation", "name=Dorvish (fast communication)",
             "image=icon_dorvish.png"},
            {"id=2103", "group=Beamline instrumentation", "name=Dorvish (fast communication)",
             "image=icon_dorvish.png"},
            {"id=2104", "group=Beamline instrumentation", "name=Dorvish (fast communication)",
             "image=icon_dorvish.png"},
            {"id=2200", "group=Beamline instrumentation", "name=Ostrel", "image=icon_Ostrel.png"},
            {"id=2240", "group=Beamline instrumentation", "name=Ostrel (Fast)",
             "image=icon_Ostrel.png"},
            {"id=2300", "group=Beamline instrumentation", "name=Pavun", "image=icon_Pavun.png"},
            {"id=2340", "group=Beamline instrumentation", "name=Pavun (SFP)",
             "image=icon_Pavun.png"},
        };
        // An XML declaration or a comment ahead of the list would be the
        // first child, and every lookup would come back empty.
        QCOMPARE(m_catalogue.firstChild, QStringLiteral("devices"));
        QCOMPARE(m_catalogue.devices.size(), known.size());
        for (int i = 0; i < known.size(); ++i) {
            const QStringList& device = m_catalogue.devices.at(i);
            QCOMPARE(device.size(), 5);
            QCOMPARE(device.mid(0, 4), known.at(i));
            QVERIFY2(device.at(4).startsWith(QLatin1String("desc=")), qPrintable(device.at(4)));
        }
    }
};

QTEST_APPLESS_MAIN(TestResources)
#include "tst_resources.moc"
