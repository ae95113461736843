// Fuzz target: the display-sample CSV writer with arbitrary comments, host
// names, paths, column choices, rates, scale factors and record values.
// Every path lies inside a scratch folder (a "..", which could leave it, is
// turned into "__"), which holds an existing file and a sub-folder so that
// appending, overwriting, missing folders and folders in place of files all
// come up. A block that was saved must be in the file exactly, behind the old
// contents when appending; its lines must have the promised shape, and every
// number must read back as the value it stands for. A save that failed must
// say why.

#include "fuzzinput.h"

#include "export/displaycsv.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <vector>

namespace
{

// Removed when the process ends normally; a crashed run leaves it behind
// with the file that made it crash.
QTemporaryDir* scratch = nullptr;
const QByteArray kOldContents("an earlier block\r\n");

// The scratch folder as each input starts: one file, one empty folder.
void resetScratch()
{
    QDir dir(scratch->path());
    for (const QFileInfo& entry :
         dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
        if (entry.isDir() && !entry.isSymLink())
            QDir(entry.filePath()).removeRecursively();
        else
            QFile::remove(entry.filePath());
    }
    QFile existing(dir.filePath(QStringLiteral("existing.csv")));
    FUZZ_CHECK(existing.open(QIODevice::WriteOnly));
    existing.write(kOldContents);
    FUZZ_CHECK(dir.mkdir(QStringLiteral("folder")));
}

QString confined(const QByteArray& name)
{
    QStringList parts = QFile::decodeName(name).split(QLatin1Char('/'));
    for (QString& part : parts)
        if (part == QLatin1String(".."))
            part = QStringLiteral("__");
    return scratch->path() + QLatin1Char('/') + parts.join(QLatin1Char('/'));
}

QByteArray readFile(const QString& path, bool* ok)
{
    QFile file(path);
    *ok = QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly);
    return *ok ? file.readAll() : QByteArray();
}

// A %g number as printf writes it in the "C" locale.
QByteArray printfG(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    return QByteArray(text);
}

// The fields of a line: each one followed by ", ", then CR LF.
QList<QByteArray> fields(const QByteArray& line, int expectedCount)
{
    FUZZ_CHECK(line.endsWith(", "));
    QList<QByteArray> parts = line.left(line.size() - 2).split(',');
    FUZZ_CHECK(parts.size() == expectedCount);
    for (int i = 1; i < parts.size(); ++i) {
        FUZZ_CHECK(parts[i].startsWith(' '));
        parts[i] = parts[i].mid(1);
    }
    return parts;
}

// Takes the last line, which ends with CR LF, off `text`; without its CR LF.
QByteArray takeLastLine(QByteArray& text)
{
    FUZZ_CHECK(text.endsWith("\r\n"));
    const int previous = text.size() >= 3 ? text.lastIndexOf("\r\n", text.size() - 3) : -1;
    const int start = previous < 0 ? 0 : previous + 2;
    const QByteArray line = text.mid(start, text.size() - 2 - start);
    text.truncate(start);
    return line;
}

void checkBlock(QByteArray block, const displaycsv::Header& header,
                const displaycsv::Options& options, const std::vector<zevo::DisplayRecord>& records)
{
    using namespace displaycsv;
    std::vector<Column> columns;
    for (int c = 0; c < ColumnCount; ++c)
        if (options.columns[std::size_t(c)])
            columns.push_back(Column(c));
    const int fieldCount = 2 + int(columns.size());
    const int samples = std::max(0, std::min(options.samples, int(records.size())));

    // From the end: the data lines, the column header line, and what is left
    // is the header block, whose last lines hold the comment.
    for (int i = samples - 1; i >= 0; --i) {
        const QList<QByteArray> f = fields(takeLastLine(block), fieldCount);
        FUZZ_CHECK(f[0] == QByteArray::number(i));
        FUZZ_CHECK(f[1] == printfG(sampleTime(i, options.sampFreq)));
        for (std::size_t k = 0; k < columns.size(); ++k) {
            const QByteArray& text = f[int(k) + 2];
            const double value = columnValue(records[std::size_t(i)], columns[k], options.scale);
            if (!(options.encoder && isPicoColumn(columns[k]))) {
                FUZZ_CHECK(text == printfG(value));
                continue;
            }
            // A count: the value with its fraction cut off, in full; what is
            // no count at all keeps its number text.
            bool isCount = false;
            const qlonglong count = text.toLongLong(&isCount);
            if (isCount)
                FUZZ_CHECK(double(count) == std::trunc(value));
            else
                FUZZ_CHECK(text == printfG(value) && !(std::fabs(value) < 9e18));
        }
    }
    const QList<QByteArray> names = fields(takeLastLine(block), fieldCount);
    FUZZ_CHECK(names[0] == "Nr" && names[1] == "Rel. time");
    for (std::size_t k = 0; k < columns.size(); ++k)
        FUZZ_CHECK(!names[int(k) + 2].isEmpty());

    FUZZ_CHECK(block.startsWith("Quorvex ZEVO\r\nZEVO\r\n\r\nTime and Date: "));
    FUZZ_CHECK(block.endsWith("\r\nComment: " + header.comment.toLocal8Bit() + "\r\n\r\n"));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    startQt();
    static QTemporaryDir dir(scratchFolderTemplate());
    FUZZ_CHECK(dir.isValid());
    scratch = &dir;
    std::setlocale(LC_NUMERIC, "C");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace displaycsv;
    FuzzInput in(data, size);
    const uint8_t how = in.byte();
    const Mode mode = how & 1 ? Mode::Overwrite : Mode::Append;

    Options options;
    options.encoder = how & 2;
    const uint32_t ticked = in.value<uint32_t>();
    for (int c = 0; c < ColumnCount; ++c)
        options.columns[std::size_t(c)] = (ticked >> c) & 1;
    options.samples = in.inRange(-2, 40);
    options.sampFreq = in.value<int32_t>();
    for (double& factor : options.scale.value)
        factor = in.value<double>();

    Header header;
    header.time = QDateTime::fromMSecsSinceEpoch(in.value<qint64>());
    header.hostName = in.text();
    header.comment = in.text();
    const QString path = confined(in.piece());

    std::vector<zevo::DisplayRecord> records(in.remaining() / sizeof(zevo::DisplayRecord));
    for (zevo::DisplayRecord& record : records)
        in.copy(&record, sizeof record);

    resetScratch();
    bool existed = false;
    const QByteArray old = readFile(path, &existed);

    QString error;
    const bool saved =
        saveBlock(path, mode, header, options, records.data(), int(records.size()), &error);
    if (!saved) {
        FUZZ_CHECK(!error.isEmpty());
        return 0;
    }

    QBuffer expected;
    expected.open(QIODevice::WriteOnly);
    FUZZ_CHECK(writeBlock(expected, header, options, records.data(), int(records.size())));
    const QByteArray block = expected.data();
    checkBlock(block, header, options, records);

    bool readable = false;
    const QByteArray now = readFile(path, &readable);
    FUZZ_CHECK(readable);
    FUZZ_CHECK(now == (mode == Mode::Append && existed ? old + block : block));
    return 0;
}
