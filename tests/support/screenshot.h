#pragma once

// The documentation's screenshots: with ZEVO_SCREENSHOT_DIR set, a test saves
// the window it has just driven there under the name the README links to.

#include <QDir>
#include <QPixmap>
#include <QWidget>

inline bool screenshotsWanted()
{
    return !qEnvironmentVariableIsEmpty("ZEVO_SCREENSHOT_DIR");
}

// Saves `picture` as `name`; true when none is wanted.
inline bool saveScreenshot(const QPixmap& picture, const QString& name)
{
    return !screenshotsWanted() ||
           picture.save(QDir(qEnvironmentVariable("ZEVO_SCREENSHOT_DIR")).filePath(name));
}
inline bool saveScreenshot(QWidget& widget, const QString& name)
{
    return !screenshotsWanted() || saveScreenshot(widget.grab(), name);
}
