#include "device/postmortemsettings.h"

#include <QStandardPaths>

QString PostMortemSettings::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/postmortem");
}
