#pragma once

#include <QString>

// Tells the operator that settings just applied could not be written to the
// configuration file (unwritable file or folder, full disk): the controller
// has them, but they will be gone after a restart. A modal warning box
// without parent, naming the file.
//
// Every settings window calls this last, once everything applied has been
// both stored and sent, so that a failed write never holds back what goes to
// the controller. (The PID parameters window sends each loop before storing
// it; the others store first and send second.)
void warnSettingsNotSaved(const QString& filePath);

// The texts of that box, for the windows' tests.
QString settingsNotSavedTitle();
QString settingsNotSavedText(const QString& filePath);
