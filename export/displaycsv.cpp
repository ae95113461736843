#include "export/displaycsv.h"

#include <QFile>
#include <QIODevice>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace displaycsv
{

namespace
{

const QByteArray kLineEnd("\r\n");
const QByteArray kSeparator(", ");

// The record field behind each optional column.
constexpr int kField[ColumnCount] = {
    zevo::disp::Pico1Ch1,     zevo::disp::Pico1Ch1 + 1, zevo::disp::Pico1Ch1 + 2,
    zevo::disp::Pico1Ch1 + 3, zevo::disp::Pico2Ch1,     zevo::disp::Pico2Ch1 + 1,
    zevo::disp::Pico2Ch1 + 2, zevo::disp::Pico2Ch1 + 3, zevo::disp::Bpm1X,
    zevo::disp::Bpm1Y,        zevo::disp::Bpm1I0,       zevo::disp::Bpm2X,
    zevo::disp::Bpm2Y,        zevo::disp::Bpm2I0,       zevo::disp::Dac1,
    zevo::disp::Dac1 + 1,     zevo::disp::Dac1 + 2,
};

// Positions are raw controller units in the record and micrometres in the file.
double scaleOf(Column column, const BpmScaleFactors& scale)
{
    switch (column) {
    case Bpm1PosX:
        return scale.x(0);
    case Bpm1PosY:
        return scale.y(0);
    case Bpm2PosX:
        return scale.x(1);
    case Bpm2PosY:
        return scale.y(1);
    default:
        return 1.0;
    }
}

// Text goes to the file in the locale's encoding, as the operator typed it.
QByteArray line(const QString& text)
{
    return text.toLocal8Bit() + kLineEnd;
}

} // namespace

Selection defaultSelection()
{
    Selection s{};
    for (Column c : {Bpm1PosX, Bpm1PosY, Bpm1I0, Bpm2PosX, Bpm2PosY, Bpm2I0})
        s[c] = true;
    return s;
}

bool isPicoColumn(Column column)
{
    return column >= Pico1Ch1 && column <= Pico2Ch4;
}

QString columnName(Column column, bool encoder)
{
    if (isPicoColumn(column)) {
        const int n = column - Pico1Ch1; // 0..7
        if (encoder)
            return QStringLiteral("Encoder %1").arg(n + 1);
        return QStringLiteral("%1 Ch%2")
            .arg(n < 4 ? QStringLiteral("Dorvish") : QStringLiteral("Dorvish2"))
            .arg(n % 4 + 1);
    }
    switch (column) {
    case Bpm1PosX:
        return QStringLiteral("BPM1 Pos X");
    case Bpm1PosY:
        return QStringLiteral("BPM1 Pos Y");
    case Bpm1I0:
        return QStringLiteral("BPM1 I0");
    case Bpm2PosX:
        return QStringLiteral("BPM2 Pos X");
    case Bpm2PosY:
        return QStringLiteral("BPM2 Pos Y");
    case Bpm2I0:
        return QStringLiteral("BPM2 I0");
    case Dac1:
        return QStringLiteral("Ostrel Ch1");
    case Dac2:
        return QStringLiteral("Ostrel Ch2");
    case Dac3:
        return QStringLiteral("Ostrel Ch3");
    default:
        return QString();
    }
}

QByteArray formatDouble(double value)
{
    // to_chars formats as printf does in the "C" locale; snprintf would
    // follow the operator's locale and write decimal commas into a CSV file.
    char text[64];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
    return QByteArray(text, int(result.ptr - text));
}

QByteArray formatCount(double value)
{
    // Converting a double outside the integer's range is undefined, so
    // only values that fit are converted; the rest keep their %g text.
    constexpr double kLimit = 9.2e18; // inside int64_t
    if (!std::isfinite(value) || std::fabs(value) >= kLimit)
        return formatDouble(value);
    return QByteArray::number(qint64(std::trunc(value)));
}

QByteArray headerBlock(const Header& header)
{
    QByteArray out;
    out += line(QStringLiteral("Quorvex ZEVO"));
    out += line(QStringLiteral("ZEVO"));
    out += kLineEnd;
    out += line(QStringLiteral("Time and Date: ") +
                header.time.toString(QStringLiteral("hh:mm:ss dd.MM.yyyy")));
    out += line(QStringLiteral("Host Name: ") + header.hostName);
    out += kLineEnd;
    out += line(QStringLiteral("Comment: ") + header.comment);
    out += kLineEnd;
    return out;
}

QByteArray columnHeaderLine(const Options& options)
{
    QByteArray out = "Nr" + kSeparator + "Rel. time" + kSeparator;
    for (int c = 0; c < ColumnCount; ++c)
        if (options.columns[c])
            out += columnName(Column(c), options.encoder).toLocal8Bit() + kSeparator;
    return out + kLineEnd;
}

double sampleTime(int sample, int sampFreq)
{
    return double(float(sample) / float(sampFreq));
}

double columnValue(const zevo::DisplayRecord& record, Column column, const BpmScaleFactors& scale)
{
    return record.value[kField[column]] * scaleOf(column, scale);
}

QByteArray dataLine(int sample, const zevo::DisplayRecord& record, const Options& options)
{
    QByteArray out = QByteArray::number(sample) + kSeparator +
                     formatDouble(sampleTime(sample, options.sampFreq)) + kSeparator;
    for (int c = 0; c < ColumnCount; ++c) {
        if (!options.columns[c])
            continue;
        const Column column = Column(c);
        const double value = columnValue(record, column, options.scale);
        if (options.encoder && isPicoColumn(column))
            out += formatCount(value);
        else
            out += formatDouble(value);
        out += kSeparator;
    }
    return out + kLineEnd;
}

bool writeBlock(QIODevice& out, const Header& header, const Options& options,
                const zevo::DisplayRecord* records, int recordCount, QString* error)
{
    const auto put = [&](const QByteArray& bytes) {
        if (out.write(bytes) == bytes.size())
            return true;
        if (error)
            *error = out.errorString();
        return false;
    };
    if (!put(headerBlock(header)) || !put(columnHeaderLine(options)))
        return false;
    // Never past the snapshot, whatever the number of samples asked for.
    const int samples = records ? std::min(options.samples, recordCount) : 0;
    for (int i = 0; i < samples; ++i)
        if (!put(dataLine(i, records[i], options)))
            return false;
    return true;
}

bool saveBlock(const QString& path, Mode mode, const Header& header, const Options& options,
               const zevo::DisplayRecord* records, int recordCount, QString* error)
{
    QFile file(path);
    const QIODevice::OpenMode how =
        mode == Mode::Append ? QIODevice::Append : QIODevice::WriteOnly | QIODevice::Truncate;
    if (!file.open(how)) {
        if (error)
            *error = QStringLiteral("File %1 could not be opened for writing:\n%2")
                         .arg(path, file.errorString());
        return false;
    }
    QString why;
    // The file buffers what it is given: a full disk may show only when the
    // buffer goes out, at the flush or at the close.
    bool written = writeBlock(file, header, options, records, recordCount, &why);
    if (written && !file.flush()) {
        written = false;
        why = file.errorString();
    }
    file.close();
    if (written && file.error() != QFileDevice::NoError) {
        written = false;
        why = file.errorString();
    }
    if (!written && error)
        *error = QStringLiteral("Writing to file %1 failed:\n%2\n\nThe file is incomplete.")
                     .arg(path, why);
    return written;
}

} // namespace displaycsv
