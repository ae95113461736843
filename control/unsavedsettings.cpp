#include "control/unsavedsettings.h"

#include <QDir>
#include <QMessageBox>

QString settingsNotSavedTitle()
{
    return QStringLiteral("Settings not saved");
}

QString settingsNotSavedText(const QString& filePath)
{
    return QStringLiteral("The settings could not be written to the configuration file\n%1\n\n"
                          "The controller has received them, but they will be lost when the "
                          "program restarts.\nCheck that the folder exists and is writable and "
                          "that the disk is not full.")
        .arg(QDir::toNativeSeparators(filePath));
}

void warnSettingsNotSaved(const QString& filePath)
{
    QMessageBox box(QMessageBox::Warning, settingsNotSavedTitle(), settingsNotSavedText(filePath),
                    QMessageBox::Ok);
    box.exec();
}
