#pragma once

#include <QObject>

#include <vector>

class QTimer;
class Updater;

// Times every display cycle of the running program, from the display
// timer's event to the moment the charts it asked to redraw have drawn and
// their windows have been repainted, and samples the resident memory after
// each. Lives on the GUI thread; watches the application's events.
class CycleMeter : public QObject
{
    Q_OBJECT

public:
    struct Sample {
        double wallMs; // elapsed time
        double cpuMs;  // CPU time of the GUI thread
        double rssMiB; // resident memory at the end of the cycle
        double atS;    // when the cycle ended, seconds since the meter started
    };

    // Medians over a run of cycles, and the lower quartile of the CPU time:
    // other work on the machine only ever lengthens a cycle, so the faster
    // cycles show best what the program itself needs.
    struct Summary {
        int cycles = 0;
        double wallMs = 0;
        double cpuMs = 0;
        double cpuMsLowQuartile = 0;
        double rssMiB = 0;
    };

    explicit CycleMeter(Updater& updater, QObject* parent = nullptr);
    ~CycleMeter() override;

    const std::vector<Sample>& samples() const { return m_samples; }
    Summary summarize(int first, int count) const;

    // Resident memory of this process.
    static double residentMiB();

signals:
    // Sample `index` was added.
    void cycleMeasured(int index);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void cycleRefilled();

    double m_startS = 0;
    QObject* m_displayTimer = nullptr; // known after the first cycle
    QObject* m_timerInDelivery = nullptr;
    double m_wallStart = 0, m_cpuStart = 0;
    bool m_cycleOpen = false;
    std::vector<Sample> m_samples;
};
