#include "export/tablecsv.h"

#include "export/displaycsv.h"

#include <QDir>
#include <QSaveFile>

#include <algorithm>
#include <cstdint>

namespace tablecsv
{

QByteArray table(const QString& comment, const QDateTime& now, const QString& hostName,
                 const std::vector<Column>& columns)
{
    const QByteArray eol("\r\n");
    QByteArray out = displaycsv::headerBlock({now, hostName, comment});
    std::size_t rows = columns.empty() ? 0 : SIZE_MAX;
    for (std::size_t c = 0; c < columns.size(); ++c) {
        out += (c ? "," : "") + columns[c].name.toLocal8Bit();
        rows = std::min(rows, columns[c].values ? columns[c].values->size() : 0);
    }
    out += eol;
    for (std::size_t r = 0; r < rows; ++r) {
        for (std::size_t c = 0; c < columns.size(); ++c) {
            if (c)
                out += ',';
            out += displaycsv::formatDouble((*columns[c].values)[r]);
        }
        out += eol;
    }
    return out;
}

bool write(const QString& path, const QByteArray& bytes, QString* error)
{
    // Written beside the file and renamed onto it, so that a failure never
    // leaves a half-written file under the name.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    if (error)
        *error = QStringLiteral("The CSV file %1 could not be written: %2.")
                     .arg(QDir::toNativeSeparators(path), file.errorString());
    file.cancelWriting();
    return false;
}

} // namespace tablecsv
