#include "packaging/helptoroff.h"

#include <QRegularExpression>
#include <QStringList>
#include <QVector>

namespace
{
struct Option {
    QStringList tags;
    QString description;
};

// A run of text or an option list, in the order of the help text.
struct Piece {
    QString paragraph; // set for running text
    QVector<Option> options;
};

bool isOptionLine(const QString& line)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s+-"));
    return pattern.match(line).hasMatch();
}

bool isIndented(const QString& line)
{
    return !line.isEmpty() && line.at(0).isSpace();
}

QString appendWords(const QString& text, const QString& more)
{
    if (text.isEmpty())
        return more;
    return more.isEmpty() ? text : text + QLatin1Char(' ') + more;
}

// "--wiring1 T,R,B,L" -> option names bold, their arguments italic; a comma
// that separates spellings of one option ("-h, --help") stays roman.
QString formatTag(const QString& tag)
{
    QStringList parts;
    const QStringList words = tag.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (QString word : words) {
        QString trailer;
        if (word.endsWith(QLatin1Char(','))) {
            word.chop(1);
            trailer = QStringLiteral(",");
        }
        QString formatted;
        if (word.startsWith(QLatin1Char('-'))) {
            const int eq = word.indexOf(QLatin1Char('='));
            if (eq > 0)
                formatted = QStringLiteral("\\fB%1\\fR=\\fI%2\\fR")
                                .arg(HelpToRoff::escape(word.left(eq)),
                                     HelpToRoff::escape(word.mid(eq + 1)));
            else
                formatted = QStringLiteral("\\fB%1\\fR").arg(HelpToRoff::escape(word));
        } else {
            formatted = QStringLiteral("\\fI%1\\fR").arg(HelpToRoff::escape(word));
        }
        parts << formatted + trailer;
    }
    // A tag never starts with a control character: it starts with a font
    // escape.
    return parts.join(QLatin1Char(' '));
}

// The option list and the text around it, block by block.
QVector<Piece> parse(const QString& help)
{
    static const QRegularExpression gap(QStringLiteral("\\s{2,}"));
    QVector<Piece> pieces;
    bool optionsSeen = false;
    const QStringList blocks =
        help.split(QRegularExpression(QStringLiteral("\\n\\s*\\n")), Qt::SkipEmptyParts);
    for (const QString& block : blocks) {
        const QStringList lines = block.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        bool hasOptions = false;
        for (const QString& line : lines)
            hasOptions = hasOptions || isOptionLine(line);
        optionsSeen = optionsSeen || hasOptions;
        if (!optionsSeen)
            continue;

        Piece text;
        Piece list;
        for (const QString& line : lines) {
            const QString trimmed = line.trimmed();
            if (trimmed.isEmpty())
                continue;
            if (isOptionLine(line)) {
                const QRegularExpressionMatch split = gap.match(trimmed);
                const QString tag =
                    split.hasMatch() ? trimmed.left(split.capturedStart()) : trimmed;
                const QString words =
                    split.hasMatch() ? trimmed.mid(split.capturedEnd()) : QString();
                if (!list.options.isEmpty() &&
                    list.options.last().description.endsWith(QLatin1Char(','))) {
                    list.options.last().tags << tag;
                    list.options.last().description =
                        appendWords(list.options.last().description, words);
                } else {
                    list.options.append({QStringList{tag}, words});
                }
            } else if (isIndented(line) && !list.options.isEmpty()) {
                list.options.last().description =
                    appendWords(list.options.last().description, trimmed);
            } else {
                // Running text before the list of this block, or after it.
                if (!list.options.isEmpty()) {
                    if (!text.paragraph.isEmpty())
                        pieces.append(text);
                    pieces.append(list);
                    text = Piece();
                    list = Piece();
                }
                text.paragraph = appendWords(text.paragraph, trimmed);
            }
        }
        if (!text.paragraph.isEmpty())
            pieces.append(text);
        if (!list.options.isEmpty())
            pieces.append(list);
    }
    return pieces;
}
} // namespace

QString HelpToRoff::escape(const QString& text)
{
    QString out;
    out.reserve(text.size() + 8);
    // An option name starts with a hyphen at the start of a word or after
    // an opening bracket, a quote, "=" or "/": "(--encoder)", "--a=--b".
    static const QString optionOpeners = QStringLiteral("([{\"'=/");
    uint previous = ' ';
    bool inOptionWord = false;
    for (const uint c : text.toUcs4()) {
        if (QChar::isSpace(c)) {
            out += QLatin1Char(' ');
            previous = ' ';
            inOptionWord = false;
            continue;
        }
        if (c == '-' &&
            (previous == ' ' || (previous < 0x80 && optionOpeners.contains(QChar(previous)))))
            inOptionWord = true;
        previous = c;
        if (c < 0x20 || c == 0x7f)
            continue; // a control character shows nothing on a terminal either
        if (c == '\\')
            out += QStringLiteral("\\e");
        else if (c == '-' && inOptionWord)
            out += QStringLiteral("\\-");
        else if (c > 0x7e)
            out += QStringLiteral("\\[u%1]").arg(QString::number(c, 16).toUpper(), 4,
                                                 QLatin1Char('0'));
        else
            out += QChar(c);
    }
    // A line that starts with a dot or an apostrophe would be read as a
    // request.
    if (out.startsWith(QLatin1Char('.')) || out.startsWith(QLatin1Char('\'')))
        out.prepend(QStringLiteral("\\&"));
    return out;
}

QString HelpToRoff::options(const QString& help)
{
    QString roff;
    for (const Piece& piece : parse(help)) {
        if (!piece.paragraph.isEmpty()) {
            roff += QStringLiteral(".PP\n") + escape(piece.paragraph) + QLatin1Char('\n');
            continue;
        }
        for (const Option& option : piece.options) {
            QStringList tags;
            for (const QString& tag : option.tags)
                tags << formatTag(tag);
            roff += QStringLiteral(".TP\n") + tags.join(QStringLiteral(", ")) + QLatin1Char('\n');
            if (!option.description.isEmpty())
                roff += escape(option.description) + QLatin1Char('\n');
        }
    }
    return roff;
}
