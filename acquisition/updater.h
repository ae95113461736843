#pragma once

#include "device/protocol.h"

#include <QObject>
#include <QSharedPointer>
#include <QVector>

#include <memory>
#include <vector>

class Driver;
class RealFft;
class QCPGraphData;
template <class DataType> class QCPDataContainer;
using QCPGraphDataContainer = QCPDataContainer<QCPGraphData>; // as <qcustomplot.h> defines it

using SeriesPtr = QSharedPointer<QCPGraphDataContainer>;

// The live display's heart: once a second it refreshes the picoammeter
// information records, fetches the newest display buffer, refills every
// registered data series and the spectrum of one selected signal, and asks
// the plots to redraw (replotGraphs()).
//
// The plot widgets own their series; the updater only refills them.
class Updater : public QObject
{
    Q_OBJECT

public:
    // Series kinds (the `kind` argument of setGraphData).
    enum SeriesKind {
        KindXY1 = 0,
        KindXY2 = 1,
        KindFFT = 2,
        KindCurrents1 = 3,
        KindCurrents2 = 4,
        KindPosition1 = 7,
        KindPosition2 = 8,
        KindDac = 9,
    };

    static constexpr int kBufferCapacityRecords = 131072; // 33,554,432 bytes
    static constexpr int kXYPoints = 1000;                // newest records in the XY clouds

    explicit Updater(Driver& driver, QObject* parent = nullptr);
    ~Updater() override;

    void setGraphData(int kind, int index, const SeriesPtr& series);
    void setFFTselector(int field);
    int fftSelector() const { return m_fftSelector; }

    // Read by the beamline configuration and picoammeter windows.
    const zevo::PicoInfoRecord& picoInfo(int pico) const { return m_picoInfo[pico == 0 ? 0 : 1]; }

    // The display records of the last fetch (recordCount() records, oldest
    // first; none after a failed fetch).
    const zevo::DisplayRecord* records() const { return m_buffer.get(); }
    int recordCount() const { return m_recordCount; }

    // Set by the FFT plot and the display settings.
    int fftLength = 1024;
    bool removeDC = false;
    bool paused = false;

    // Magnitude of one complex value of the transform output.
    static double fftw_abs(const double* z);

public slots:
    // One display cycle. A failed fetch is reported once as the missing
    // display driver, ends the program, and no later cycle does anything.
    void updateGraphs();
    void updateDorvishs();
    void ChangeFFTremoveDC(bool remove);

signals:
    void replotGraphs();

protected:
    // The missing display driver: the first shows the critical message and
    // returns when the operator has closed it, the second ends the program.
    // Virtual so that tests can observe them without a modal loop or a quit.
    virtual void showMissingDriverMessage();
    virtual void requestQuit();

private:
    struct SeriesSlot;
    struct SeriesTable;

    void refreshPicoInfo(int pico);
    bool fetchBuffer();
    void reportMissingDriver();
    void computeTimeKeys();
    void fillTimeSeries(SeriesSlot& slot, int field, double factor);
    void fillCurrents(int pico);
    void fillXY(int bpm);
    void fillPositions(int bpm);
    void fillDac();
    void fillSpectrum();
    int spectrumLength() const;

    Driver& m_driver;
    std::unique_ptr<zevo::DisplayRecord[]> m_buffer;
    int m_recordCount = 0;
    zevo::PicoInfoRecord m_picoInfo[2]{};
    int m_fftSelector = 1;
    bool m_driverMissingReported = false;
    std::unique_ptr<SeriesTable> m_series;
    std::unique_ptr<RealFft> m_fft;
    std::vector<double> m_timeKeys; // time of each record of the last fetch, s
};
