// Build-time helper: fills a manual page template.
//
//   zevo-manpage TEMPLATE OUTPUT VERSION [PROGRAM]
//
// "@VERSION@" becomes VERSION; "@OPTIONS@" becomes the options section made
// from what `PROGRAM --help` prints, so the page lists exactly the options
// the program takes. Exits non-zero when the program fails, prints nothing,
// or a placeholder is left over, so that a broken page fails the build
// instead of being installed.

#include "packaging/helptoroff.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <cstdio>

namespace
{
constexpr int kProgramTimeoutMs = 30000;

bool fail(const QString& message)
{
    std::fprintf(stderr, "zevo-manpage: %s\n", qPrintable(message));
    return false;
}

bool helpOf(const QString& program, QString* help)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, {QStringLiteral("--help")});
    if (!process.waitForFinished(kProgramTimeoutMs))
        return fail(
            QStringLiteral("%1 --help did not finish: %2").arg(program, process.errorString()));
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return fail(QStringLiteral("%1 --help failed with exit code %2")
                        .arg(program)
                        .arg(process.exitCode()));
    *help = QString::fromLocal8Bit(process.readAllStandardOutput());
    if (help->trimmed().isEmpty())
        return fail(QStringLiteral("%1 --help printed nothing").arg(program));
    return true;
}

bool run(const QStringList& args)
{
    if (args.size() < 4 || args.size() > 5)
        return fail(QStringLiteral("usage: zevo-manpage TEMPLATE OUTPUT VERSION [PROGRAM]"));
    const QString templatePath = args[1];
    const QString outputPath = args[2];

    QFile in(templatePath);
    if (!in.open(QIODevice::ReadOnly | QIODevice::Text))
        return fail(QStringLiteral("cannot read %1").arg(templatePath));
    QString page = QString::fromUtf8(in.readAll());
    page.replace(QStringLiteral("@VERSION@"), args[3]);

    if (args.size() == 5) {
        QString help;
        if (!helpOf(args[4], &help))
            return false;
        const QString options = HelpToRoff::options(help);
        if (options.isEmpty())
            return fail(QStringLiteral("no options found in the help of %1").arg(args[4]));
        page.replace(QStringLiteral("@OPTIONS@\n"), options);
    }

    const QRegularExpressionMatch left = QRegularExpression(QStringLiteral("@[A-Z]+@")).match(page);
    if (left.hasMatch())
        return fail(QStringLiteral("%1 still holds %2").arg(templatePath, left.captured()));

    QFile out(outputPath);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(page.toUtf8()) < 0 ||
        !out.flush()) {
        // A half-written page would look up to date to the next build.
        out.remove();
        return fail(QStringLiteral("cannot write %1").arg(outputPath));
    }
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    return run(app.arguments()) ? 0 : 1;
}
