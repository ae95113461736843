// The style sheet step of the start-up: a sheet that is there is applied up
// to its first NUL byte; one that is missing leaves the program unstyled,
// without a message box.

#include "app/startup.h"
#include "support/programfixture.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>

class TestStartup : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void styleSheet_appliedUpToNul_missingOneLeavesTheProgramUnstyled_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("contents"); // written to `path` unless empty
        QTest::addColumn<QString>("expected");
        const QString sheet = m_dir.filePath(QStringLiteral("style.qss"));
        QTest::newRow("missing resource")
            << QStringLiteral(":/qss/missing.qss") << QByteArray() << QString();
        QTest::newRow("missing file")
            << m_dir.filePath(QStringLiteral("none.qss")) << QByteArray() << QString();
        QTest::newRow("cut at NUL") << sheet << QByteArray("QLabel { color: red; }\0junk", 27)
                                    << QStringLiteral("QLabel { color: red; }");
    }
    void styleSheet_appliedUpToNul_missingOneLeavesTheProgramUnstyled()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, contents);
        QFETCH(QString, expected);
        if (!contents.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(contents);
        }
        qApp->setStyleSheet(QString());
        BoxCatcher boxes;
        applyStyleSheet(*qApp, path);
        QCoreApplication::processEvents();
        QCOMPARE(qApp->styleSheet(), expected);
        QVERIFY(boxes.boxes.empty());
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
