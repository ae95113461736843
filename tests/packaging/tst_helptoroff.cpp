// The manual pages' options section, made from a program's --help text, and
// the build-time tool that fills a page template with it.

#include "packaging/helptoroff.h"
#include "sim/scenariooptions.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
struct Rendered {
    QString text;     // whitespace collapsed to single spaces
    QString warnings; // what groff said on stderr
};

// A page around `options`, formatted the way man(1) does, with every groff
// warning on; no hyphenation and a wide line so that text can be searched.
Rendered render(const QString& options)
{
    const QString page = QStringLiteral(".TH T 1\n.SH OPTIONS\n") + options;
    QProcess groff;
    groff.start(QStringLiteral("groff"),
                {"-man", "-Tascii", "-wall", "-rHY=0", "-rLL=250n", "-P", "-cbou"});
    groff.write(page.toUtf8());
    groff.closeWriteChannel();
    if (!groff.waitForFinished(20000) || groff.exitCode() != 0)
        return {QString(), QStringLiteral("groff did not run: ") + groff.errorString()};
    QString text = QString::fromUtf8(groff.readAllStandardOutput());
    text.replace(QRegularExpression(QStringLiteral("\\s+")), QStringLiteral(" "));
    return {text, QString::fromUtf8(groff.readAllStandardError())};
}

QString tool()
{
    return QStringLiteral(ZEVO_MANPAGE_TOOL);
}

bool writeFile(const QString& path, const QByteArray& bytes, bool executable = false)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return false;
    f.close();
    return !executable || f.setPermissions(f.permissions() | QFile::ExeOwner);
}

int runTool(const QStringList& args, QString* errors)
{
    QProcess p;
    p.start(tool(), args);
    if (!p.waitForFinished(30000))
        return -1;
    *errors = QString::fromLocal8Bit(p.readAllStandardError());
    return p.exitCode();
}
} // namespace

class TestHelpToRoff : public QObject
{
    Q_OBJECT

private slots:
    void simulatorHelpRendersWithoutWarningsAndKeepsEveryOption()
    {
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("groff")).isEmpty(),
                 "groff is needed to check the manual pages");
        const QString help = ScenarioOptions::helpText();
        const Rendered page = render(HelpToRoff::options(help));
        QCOMPARE(page.warnings, QString());

        // Every option the help names, as typed on a command line.
        QRegularExpressionMatchIterator it =
            QRegularExpression(QStringLiteral("--[a-z0-9][a-z0-9-]*")).globalMatch(help);
        int options = 0;
        while (it.hasNext()) {
            const QString option = it.next().captured();
            QVERIFY2(page.text.contains(option), qPrintable(option));
            ++options;
        }
        QVERIFY(options >= 10);
        // Descriptions come through whole, continuation lines joined.
        QVERIFY(page.text.contains(
            "controller firmware without the version commands (and without display-rate and "
            "BPM-offset commands)"));
        // The two wiring options share one description.
        QVERIFY(page.text.contains("--wiring1 T,R,B,L, --wiring2 T,R,B,L picoammeter inputs (1-4) "
                                   "wired to the top, right, bottom and left electrode"));
        // The usage line and summary are the page's synopsis and description.
        QVERIFY(!page.text.contains("Usage:"));
        QVERIFY(page.text.contains("Options may also be written --option=value."));
    }

    void optionListsBecomeTaggedParagraphs()
    {
        const QString help = QStringLiteral("Usage: tool [options]\n"
                                            "\n"
                                            "What the tool is for.\n"
                                            "\n"
                                            "Options:\n"
                                            "  -a, --alpha N           first line\n"
                                            "                          and its continuation\n"
                                            "  --a-rather-long-option-name\n"
                                            "                          described on the next line\n"
                                            "  --x1 A                  these two are explained,\n"
                                            "  --x2 B                  together\n"
                                            "  --flag=VALUE            inline value\n"
                                            "Text right under the list.\n"
                                            "\n"
                                            "Notes:\n"
                                            "  --late                  a second list\n");
        QCOMPARE(HelpToRoff::options(help),
                 QStringLiteral(".PP\n"
                                "Options:\n"
                                ".TP\n"
                                "\\fB\\-a\\fR, \\fB\\-\\-alpha\\fR \\fIN\\fR\n"
                                "first line and its continuation\n"
                                ".TP\n"
                                "\\fB\\-\\-a\\-rather\\-long\\-option\\-name\\fR\n"
                                "described on the next line\n"
                                ".TP\n"
                                "\\fB\\-\\-x1\\fR \\fIA\\fR, \\fB\\-\\-x2\\fR \\fIB\\fR\n"
                                "these two are explained, together\n"
                                ".TP\n"
                                "\\fB\\-\\-flag\\fR=\\fIVALUE\\fR\n"
                                "inline value\n"
                                ".PP\n"
                                "Text right under the list.\n"
                                ".PP\n"
                                "Notes:\n"
                                ".TP\n"
                                "\\fB\\-\\-late\\fR\n"
                                "a second list\n"));
        // Help without any option list gives nothing to put on the page.
        QCOMPARE(HelpToRoff::options(QStringLiteral("Usage: tool\n\nNo options.\n")), QString());
    }

    void escapeKeepsRoffFromReadingTextAsRequests_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("roff");
        QTest::newRow("leading dot") << ".hidden request"
                                     << "\\&.hidden request";
        QTest::newRow("leading apostrophe") << "'quoted"
                                            << "\\&'quoted";
        QTest::newRow("dot inside") << "a.b.cd"
                                    << "a.b.cd";
        QTest::newRow("backslash") << "C:\\path \\fB"
                                   << "C:\\epath \\efB";
        QTest::newRow("option words") << "use --noise=2 or (--encoder) and -h"
                                      << "use \\-\\-noise=2 or (\\-\\-encoder) and \\-h";
        QTest::newRow("hyphens in words") << "inputs (1-4), time-critical, a -> b"
                                          << "inputs (1-4), time-critical, a \\-> b";
        QTest::newRow("non-ASCII") << QString::fromUtf8("5 \xc2\xb5"
                                                        "A, 45\xc2\xb0, \xf0\x9d\x9b\xbc")
                                   << "5 \\[u00B5]A, 45\\[u00B0], \\[u1D6FC]";
        QTest::newRow("tabs and control characters") << QString("a\tb\x01"
                                                                "c")
                                                     << "a bc";
    }

    void escapeKeepsRoffFromReadingTextAsRequests()
    {
        QFETCH(QString, text);
        QFETCH(QString, roff);
        QCOMPARE(HelpToRoff::escape(text), roff);
    }

    void toolFillsTemplateOrFailsWithoutWritingAPage()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString page = dir.filePath("page.1");
        const QString helpful = dir.filePath("helpful");
        const QString broken = dir.filePath("broken");
        QVERIFY(writeFile(dir.filePath("page.1.in"),
                          ".TH T 1 \"\" \"t @VERSION@\"\n.SH OPTIONS\n@OPTIONS@\n.SH END\n"));
        QVERIFY(writeFile(helpful,
                          "#!/bin/sh\n[ \"$1\" = --help ] || exit 3\n"
                          "printf 'Usage: x\\n\\nOptions:\\n  --on   switch on\\n'\n",
                          true));
        QVERIFY(writeFile(broken, "#!/bin/sh\necho 'Options:'; echo '  --on  x'; exit 4\n", true));
        QString errors;

        QCOMPARE(runTool({dir.filePath("page.1.in"), page, "2.5.0", helpful}, &errors), 0);
        QFile filled(page);
        QVERIFY(filled.open(QIODevice::ReadOnly));
        QCOMPARE(filled.readAll(), QByteArray(".TH T 1 \"\" \"t 2.5.0\"\n.SH OPTIONS\n"
                                              ".PP\nOptions:\n.TP\n\\fB\\-\\-on\\fR\nswitch on\n"
                                              ".SH END\n"));
        filled.close();
        QVERIFY(QFile::remove(page));

        // A program whose --help fails.
        QCOMPARE(runTool({dir.filePath("page.1.in"), page, "2.5.0", broken}, &errors), 1);
        QVERIFY2(errors.contains("exit code 4"), qPrintable(errors));
        QVERIFY(!QFile::exists(page));

        // A placeholder left over: here the options, for want of a program.
        QCOMPARE(runTool({dir.filePath("page.1.in"), page, "2.5.0"}, &errors), 1);
        QVERIFY2(errors.contains("@OPTIONS@"), qPrintable(errors));
        QVERIFY(!QFile::exists(page));
    }
};

QTEST_GUILESS_MAIN(TestHelpToRoff)
#include "tst_helptoroff.moc"
