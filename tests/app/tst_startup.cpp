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
    void styleSheet_appliedUpToNul_missingOneLeavesTheProgramUnstyled()
    {
        const QString sheet = m_dir.filePath(QStringLiteral("style.qss"));
        QFile file(sheet);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("QLabel { color: red; }\0junk", 27));
        file.close();
        // path, the sheet applied
        const std::pair<QString, QString> rows[] = {
            {QStringLiteral(":/qss/missing.qss"), QString()},
            {m_dir.filePath(QStringLiteral("none.qss")), QString()},
            {sheet, QStringLiteral("QLabel { color: red; }")}};
        for (const auto& [path, expected] : rows) {
            qApp->setStyleSheet(QString());
            BoxCatcher boxes;
            applyStyleSheet(*qApp, path);
            QCoreApplication::processEvents();
            QCOMPARE(qApp->styleSheet(), expected);
            QVERIFY(boxes.boxes.empty() && QApplication::topLevelWidgets().isEmpty());
        }
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
