#pragma once

#include <QString>

class QApplication;
struct Platform;

// Applies the style sheet at `path` (the one embedded in the program by
// default), up to its first NUL byte. A sheet that cannot be opened leaves
// the program unstyled, without a message: it runs as well without one.
void applyStyleSheet(QApplication& app, const QString& path = QStringLiteral(":/qss/style.qss"));

// The start-up sequence: creates the process-wide objects in order, starts
// the mailbox worker thread, builds the main window, arms the operator lock
// and the one-second display timer, runs the event loop and tears everything
// down again. Returns the event loop's result.
int runProgram(int& argc, char** argv, const Platform& platform);
