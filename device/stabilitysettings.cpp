#include "device/stabilitysettings.h"

#include <QStringList>

#include <cmath>

bool StabilitySettings::parseBandEdges(const QString& text, std::vector<double>* edges)
{
    const QStringList parts = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (parts.isEmpty() || parts.size() > kMaxBands)
        return false;
    std::vector<double> parsed;
    for (const QString& part : parts) {
        bool ok = false;
        const double edge = part.trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(edge) || edge <= 0 || (!parsed.empty() && edge <= parsed.back()))
            return false;
        parsed.push_back(edge);
    }
    *edges = parsed;
    return true;
}

QString StabilitySettings::formatBandEdges(const std::vector<double>& edges)
{
    QStringList parts;
    for (double edge : edges)
        parts << QString::number(edge, 'g', 6);
    return parts.join(QStringLiteral(", "));
}
