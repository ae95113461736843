#pragma once

#include <QString>

#include <functional>

class Driver;
class MainWindow;

// What distinguishes the production program from the simulator build: the
// driver it talks to, where its settings and operator lock live, and what it
// adds to the main window.
struct Platform {
    Driver* driver = nullptr;
    QString configPath;
    QString lockPath;
    // Called once the main window stands (the simulator adds its menu here).
    std::function<void(MainWindow&)> extendMainWindow;
};
