#include "acquisition/updater.h"

#include "analysis/realfft.h"
#include "device/driver.h"
#include "device/globals.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QWeakPointer>

#include <qcustomplot.h>

#include <fcntl.h>

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace zevo;

namespace
{

constexpr int kPicoCount = 2;
constexpr int kChannelsPerPico = 4;
constexpr int kPositionSlots = 3; // X, Y, I0
constexpr int kDacSlots = 3;
constexpr int kRecordValues = int(sizeof(DisplayRecord::value) / sizeof(double));

// Display rate used for the keys. A rate that is not positive would make
// every key zero or infinite; the records are then keyed by their number
// (one record per second) so the plots still show the data in order.
double keyRate()
{
    return SAMP_FREQ > 0 ? double(SAMP_FREQ) : 1.0;
}

float keyRateSingle()
{
    return SAMP_FREQ > 0 ? float(SAMP_FREQ) : 1.0f;
}

int largestPowerOfTwoAtMost(int n)
{
    int p = 1;
    while (p <= n / 2)
        p *= 2;
    return p;
}

} // namespace

// One registered data series and the points handed to it last. The series
// shares the vector until the next refill takes it back, so the points are
// refilled in place instead of reallocated every second.
struct Updater::SeriesSlot {
    QWeakPointer<QCPGraphDataContainer> series;
    QVector<QCPGraphData> points;

    // The registered series, or null when none is registered (or its plot is gone).
    SeriesPtr target() const { return series.toStrongRef(); }

    // Resizes the scratch vector to n points without copying the old contents.
    QCPGraphData* beginFill(QCPGraphDataContainer& into, int n)
    {
        into.set(QVector<QCPGraphData>(), true); // drop the series' share of the last points
        points.resize(n);
        return points.data();
    }

    void commit(QCPGraphDataContainer& into) { into.set(points, true); }
};

struct Updater::SeriesTable {
    SeriesSlot xy[2];
    SeriesSlot fft;
    SeriesSlot currents[kPicoCount][kChannelsPerPico];
    SeriesSlot positions[2][kPositionSlots];
    SeriesSlot dac[kDacSlots];

    // The slot of (kind, index), or null for a kind or index that does not exist.
    SeriesSlot* find(int kind, int index)
    {
        auto pick = [index](SeriesSlot* first, int count) -> SeriesSlot* {
            return index >= 0 && index < count ? first + index : nullptr;
        };
        switch (kind) {
        case KindXY1:
            return pick(&xy[0], 1);
        case KindXY2:
            return pick(&xy[1], 1);
        case KindFFT:
            return pick(&fft, 1);
        case KindCurrents1:
            return pick(currents[0], kChannelsPerPico);
        case KindCurrents2:
            return pick(currents[1], kChannelsPerPico);
        case KindPosition1:
            return pick(positions[0], kPositionSlots);
        case KindPosition2:
            return pick(positions[1], kPositionSlots);
        case KindDac:
            return pick(dac, kDacSlots);
        default:
            return nullptr;
        }
    }
};

Updater::Updater(Driver& driver, QObject* parent)
    : QObject(parent), m_driver(driver),
      m_buffer(new DisplayRecord[kBufferCapacityRecords]), // not zeroed: pages are touched only
                                                           // when filled
      m_series(std::make_unique<SeriesTable>()), m_fft(std::make_unique<RealFft>())
{
}

Updater::~Updater() = default;

void Updater::setGraphData(int kind, int index, const SeriesPtr& series)
{
    if (SeriesSlot* slot = m_series->find(kind, index))
        slot->series = series;
}

void Updater::setFFTselector(int field)
{
    // Anything else would index outside the display record.
    if (field >= 0 && field < kRecordValues)
        m_fftSelector = field;
}

void Updater::ChangeFFTremoveDC(bool remove)
{
    removeDC = remove;
}

double Updater::fftw_abs(const double* z)
{
    return std::sqrt(z[0] * z[0] + z[1] * z[1]);
}

// ---------------------------------------------------------------- the cycle

void Updater::updateGraphs()
{
    // Once the display driver is reported missing the program is on its way
    // out: cycles that the timer fires while the message is open (its modal
    // loop keeps the timer running) or afterwards do nothing, so the operator
    // gets exactly one message and the plots never show a failed fetch.
    if (m_driverMissingReported)
        return;

    updateDorvishs();
    if (paused)
        return;
    if (!fetchBuffer()) {
        reportMissingDriver();
        return;
    }

    computeTimeKeys();
    fillCurrents(0);
    fillCurrents(1);
    fillXY(0);
    fillXY(1);
    fillPositions(0);
    fillPositions(1);
    fillDac();
    fillSpectrum();
    emit replotGraphs();
}

void Updater::updateDorvishs()
{
    // A node that does not open (no second picoammeter) is skipped
    // silently; its record keeps its last contents.
    refreshPicoInfo(0);
    refreshPicoInfo(1);
}

void Updater::refreshPicoInfo(int pico)
{
    const int fd = m_driver.open(picoNode(pico), O_RDONLY);
    if (fd < 0)
        return;
    // Read into a copy so that a failed request leaves the last good record.
    PicoInfoRecord info;
    std::memcpy(&info, &m_picoInfo[pico], sizeof info);
    if (m_driver.ioctl(fd, AMM_IOC_GET_INFO, &info) >= 0)
        std::memcpy(&m_picoInfo[pico], &info, sizeof info);
    m_driver.close(fd);
}

bool Updater::fetchBuffer()
{
    const int wanted =
        std::clamp(BUFFER_BYTES / kDisplayRecordBytes, 1, int(kBufferCapacityRecords));
    const int got = m_driver.getBuffer(m_buffer.get(), wanted);
    // A short or failed fetch may have overwritten part of the buffer: keep
    // nobody reading it as the last fetch.
    m_recordCount = got == wanted ? wanted : 0;
    return got == wanted;
}

void Updater::reportMissingDriver()
{
    m_driverMissingReported = true;
    showMissingDriverMessage();
    requestQuit();
}

void Updater::showMissingDriverMessage()
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Cannot open file"),
                    QStringLiteral("System file /dev/zevo_dma_displ could not be opened.\n\n"
                                   "Please check if ZEVO driver is loaded.\n"
                                   "Application will now quit.\n"),
                    QMessageBox::Ok);
    box.exec();
}

void Updater::requestQuit()
{
    QCoreApplication::quit();
}

// Record i lies i / SAMP_FREQ seconds after record 0, computed in single
// precision as the controller's timestamps are; shared by every time series.
void Updater::computeTimeKeys()
{
    const float rate = keyRateSingle();
    m_timeKeys.resize(std::size_t(m_recordCount));
    for (int i = 0; i < m_recordCount; ++i)
        m_timeKeys[std::size_t(i)] = double(float(i) / rate);
}

// Time keys are strictly ascending, so the points go in as they are.
void Updater::fillTimeSeries(SeriesSlot& slot, int field, double factor)
{
    const SeriesPtr series = slot.target();
    if (!series)
        return;
    const int n = m_recordCount;
    const DisplayRecord* records = m_buffer.get();
    QCPGraphData* out = slot.beginFill(*series, n);
    for (int i = 0; i < n; ++i) {
        out[i].key = m_timeKeys[std::size_t(i)];
        out[i].value = records[i].value[field] * factor;
    }
    slot.commit(*series);
}

void Updater::fillCurrents(int pico)
{
    const int first = pico == 0 ? disp::Pico1Ch1 : disp::Pico2Ch1;
    for (int ch = 0; ch < kChannelsPerPico; ++ch)
        fillTimeSeries(m_series->currents[pico][ch], first + ch, 1.0);
}

void Updater::fillPositions(int bpm)
{
    SeriesSlot* position = m_series->positions[bpm];
    fillTimeSeries(position[0], disp::bpmX(bpm), bpmScale.x(bpm));
    fillTimeSeries(position[1], disp::bpmY(bpm), bpmScale.y(bpm));
    fillTimeSeries(position[2], disp::bpmI0(bpm), 1.0);
}

void Updater::fillDac()
{
    for (int out = 0; out < kDacSlots; ++out)
        fillTimeSeries(m_series->dac[out], disp::Dac1 + out, 1.0);
}

// The beam position cloud of the newest records, keyed by scaled X. A later
// record with the same X replaces an earlier one; a record without an X
// (NaN) has no place on the axis and is left out.
void Updater::fillXY(int bpm)
{
    SeriesSlot& slot = m_series->xy[bpm];
    const SeriesPtr series = slot.target();
    if (!series)
        return;

    const int count = std::min(int(kXYPoints), m_recordCount);
    const DisplayRecord* records = m_buffer.get() + (m_recordCount - count);
    const double sx = bpmScale.x(bpm);
    const double sy = bpmScale.y(bpm);
    QCPGraphData* out = slot.beginFill(*series, count);
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        const double x = records[i].value[disp::bpmX(bpm)] * sx;
        if (!std::isnan(x))
            out[kept++] = QCPGraphData(x, records[i].value[disp::bpmY(bpm)] * sy);
    }

    // Stable, so records with equal X stay in arrival order and the last of each run wins.
    std::stable_sort(out, out + kept,
                     [](const QCPGraphData& a, const QCPGraphData& b) { return a.key < b.key; });
    int unique = 0;
    for (int i = 0; i < kept; ++i) {
        if (i + 1 < kept && out[i + 1].key == out[i].key)
            continue;
        out[unique++] = out[i];
    }
    slot.points.resize(unique);
    slot.commit(*series);
}

// Number of records transformed. A length the buffer cannot supply shrinks to
// the largest power of two it holds, so the spectrum still shows the newest
// data at correct amplitudes (only coarser in frequency). 0 means no spectrum.
int Updater::spectrumLength() const
{
    int n = fftLength;
    if (n > m_recordCount)
        n = largestPowerOfTwoAtMost(m_recordCount);
    return n >= 2 ? n : 0;
}

// Amplitude spectrum of the selected record value over the newest records:
// |X_k| / N for k = 0 .. N/2, no window, one-sided amplitude not doubled.
void Updater::fillSpectrum()
{
    SeriesSlot& slot = m_series->fft;
    const SeriesPtr series = slot.target();
    if (!series)
        return;

    const int n = spectrumLength();
    double* in = n > 0 ? m_fft->input(n) : nullptr;
    if (!in) {
        series->clear();
        return;
    }

    const int s = m_fftSelector;
    const double factor = s == disp::Bpm1X ? bpmScale.x(0) : s == disp::Bpm1Y ? bpmScale.y(0) : 1.0;
    const DisplayRecord* records = m_buffer.get() + (m_recordCount - n);
    for (int k = 0; k < n; ++k)
        in[k] = factor * records[k].value[s];

    if (removeDC) {
        double sum = 0.0;
        for (int k = 0; k < n; ++k)
            sum += in[k];
        const double mean = sum / n;
        for (int k = 0; k < n; ++k)
            in[k] -= mean;
    }

    // The plan of each length is made once and kept, so the length may
    // change from one cycle to the next without planning every second.
    const double* spectrum = m_fft->transform(n);

    const int bins = n / 2 + 1;
    const double rate = keyRate();
    QCPGraphData* out = slot.beginFill(*series, bins);
    for (int k = 0; k < bins; ++k) {
        out[k].key = double(k) * rate / double(n);
        out[k].value = fftw_abs(spectrum + 2 * k) / double(n);
    }
    slot.commit(*series);
}
