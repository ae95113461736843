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
    p.start(QStringLiteral(ZEVO_MANPAGE_TOOL), args);
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
    // The real help text: every option on the page, and groff content with it.
    // (How descriptions and the text around a list come through is shown on
    // a help text of its own in optionListsBecomeTaggedParagraphs.)
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
    }

    void optionListsBecomeTaggedParagraphs()
    {
        const QString help = QStringLiteral("Usage: tool [options]\n\nWhat the tool is for.\n\n"
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
        // clang-format off
        QCOMPARE(HelpToRoff::options(help), QStringLiteral(
            ".PP\nOptions:\n.TP\n\\fB\\-a\\fR, \\fB\\-\\-alpha\\fR \\fIN\\fR\n"
            "first line and its continuation\n"
            ".TP\n\\fB\\-\\-a\\-rather\\-long\\-option\\-name\\fR\ndescribed on the next line\n"
            ".TP\n\\fB\\-\\-x1\\fR \\fIA\\fR, \\fB\\-\\-x2\\fR \\fIB\\fR\n"
            "these two are explained, together\n"
            ".TP\n\\fB\\-\\-flag\\fR=\\fIVALUE\\fR\ninline value\n"
            ".PP\nText right under the list.\n"
            ".PP\nNotes:\n.TP\n\\fB\\-\\-late\\fR\na second list\n"));
        // clang-format on
        // Help without any option list gives nothing to put on the page.
        QCOMPARE(HelpToRoff::options(QStringLiteral("Usage: tool\n\nNo options.\n")), QString());
    }

    // Text that roff would read as a request, an escape, a hyphen to break at
    // or a character it cannot take.
    void escapeKeepsRoffFromReadingTextAsRequests()
    {
        // clang-format off
        const QStringList text{".hidden request", "'quoted", "a.b.cd", "C:\\path \\fB",
            "use --noise=2 or (--encoder) and -h", "inputs (1-4), time-critical, a -> b",
            QString::fromUtf8("5 \xc2\xb5" "A, 45\xc2\xb0, \xf0\x9d\x9b\xbc"), "a\tb\x01" "c"};
        const QStringList roff{"\\&.hidden request", "\\&'quoted", "a.b.cd", "C:\\epath \\efB",
            "use \\-\\-noise=2 or (\\-\\-encoder) and \\-h", "inputs (1-4), time-critical, a \\-> b",
            "5 \\[u00B5]A, 45\\[u00B0], \\[u1D6FC]", "a bc"};
        // clang-format on
        QStringList escaped;
        for (const QString& t : text)
            escaped << HelpToRoff::escape(t);
        QCOMPARE(escaped, roff);
    }

    void toolFillsTemplateOrFailsWithoutWritingAPage()
    {
        QTemporaryDir dir;
        const QString in = dir.filePath("page.1.in"), page = dir.filePath("page.1");
        QVERIFY(writeFile(in, ".TH T 1 \"\" \"t @VERSION@\"\n.SH OPTIONS\n@OPTIONS@\n.SH END\n"));
        QVERIFY(writeFile(dir.filePath("helpful"),
                          "#!/bin/sh\n[ \"$1\" = --help ] || exit 3\n"
                          "printf 'Usage: x\\n\\nOptions:\\n  --on   switch on\\n'\n",
                          true));
        QVERIFY(writeFile(dir.filePath("broken"),
                          "#!/bin/sh\necho 'Options:'; echo '  --on  x'; exit 4\n", true));
        QString errors;

        // A program whose --help fails.
        QCOMPARE(runTool({in, page, "2.5.0", dir.filePath("broken")}, &errors), 1);
        QVERIFY2(errors.contains("exit code 4"), qPrintable(errors));
        QVERIFY(!QFile::exists(page));
        // A placeholder left over: here the options, for want of a program.
        QCOMPARE(runTool({in, page, "2.5.0"}, &errors), 1);
        QVERIFY2(errors.contains("@OPTIONS@"), qPrintable(errors));
        QVERIFY(!QFile::exists(page));

        QCOMPARE(runTool({in, page, "2.5.0", dir.filePath("helpful")}, &errors), 0);
        QFile filled(page);
        QVERIFY(filled.open(QIODevice::ReadOnly));
        QCOMPARE(filled.readAll(), QByteArray(".TH T 1 \"\" \"t 2.5.0\"\n.SH OPTIONS\n"
                                              ".PP\nOptions:\n.TP\n\\fB\\-\\-on\\fR\nswitch on\n"
                                              ".SH END\n"));
    }
};

QTEST_GUILESS_MAIN(TestHelpToRoff)
#include "tst_helptoroff.moc"
