#pragma once

#include "bench/soak/cyclemeter.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <functional>
#include <vector>

class MainWindow;
class QAction;
class QTimer;
class QWidget;

// Plays an operator's long shift on the running program, from inside it:
// logs in at level 2, floats every bottom dock so that every chart is drawn
// on every cycle, then opens and closes every window of the menus and cycles
// the display settings (frequency, buffer length, filter, pause, spectrum
// length), one step every half second.
//
// Timeline: one warm-up round of every step (every window and setting has
// been seen once, so one-time allocations are done), the settings put back
// to the defaults, the start window (cycles measured with nothing else
// happening), the churn until shortly before the end, the defaults again,
// and the end window under the same conditions as the start window. Then
// the event loop is asked to end.
class SoakScript : public QObject
{
    Q_OBJECT

public:
    struct Result {
        CycleMeter::Summary afterStartUp; // the first cycles
        CycleMeter::Summary start;
        CycleMeter::Summary end;
        int cycles = 0;
        int windowOpenings = 0;
        int settingsChanges = 0;
        double peakRssMiB = 0;
        QStringList messageBoxes; // "title: text" of every message box seen
        bool completed = false;   // the end window was measured
    };

    // Runs for `seconds` from now and leaves its figures in `result`, which
    // must outlive the event loop (the script ends with the main window).
    SoakScript(MainWindow& window, CycleMeter& meter, double seconds, Result& result);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Phase { WarmUp, SettleBeforeStart, StartWindow, Churn, SettleBeforeEnd, EndWindow };

    struct DisplaySetting {
        int frequencyHz;
        const char* records;
        bool filter;
        const char* fftLength;
    };

    void begin();
    void logInAsAdmin();
    void floatBottomDocks();
    void buildRound();
    void step();
    void cycleMeasured(int index);
    void finishRound();
    void settle(Phase next);

    void openWindow(QAction* action);
    void closeOpenWindows();
    void applyDisplaySetting(const DisplaySetting& setting);
    void setPaused(bool paused);
    void restoreDefaults();
    // Opens the display settings from the menu, lets `edit` change its
    // form, and presses OK.
    void editDisplaySettings(const std::function<void(QWidget& dialog)>& edit);

    MainWindow& m_window;
    CycleMeter& m_meter;
    double m_seconds;
    double m_startedS = 0;
    Phase m_phase = Phase::WarmUp;
    QTimer* m_stepTimer;
    std::vector<std::function<void()>> m_round;
    std::size_t m_nextStep = 0;
    QSet<QWidget*> m_keep; // top-level windows that stay open: main window, docks
    int m_windowCycles = 0;
    int m_phaseFirstCycle = 0;
    int m_settleUntil = 0;
    double m_churnUntilS = 0;
    Result& m_result;
};
