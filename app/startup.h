#pragma once

struct Platform;

// The start-up sequence: creates the process-wide objects in order, starts
// the mailbox worker thread, builds the main window, arms the operator lock
// and the one-second display timer, runs the event loop and tears everything
// down again. Returns the event loop's result.
int runProgram(int& argc, char** argv, const Platform& platform);
