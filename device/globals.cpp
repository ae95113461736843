#include "device/globals.h"

#include "device/protocol.h"
#include "device/userlevel.h"

#include <cmath>

extern "C" {
__attribute__((visibility("default"), used)) int SAMP_FREQ = 1000;
}

int BUFFER_BYTES = zevo::kDisplayBufferBytes;
std::atomic<int> PID_BASE_FREQ{100000};
PidSources pidSources;
const PidSource pidSourceX{zevo::kPidX};
const PidSource pidSourceY{zevo::kPidY};
const PidSource pidSourceI0{zevo::kPidI0};
BpmScaleFactors bpmScale;
ControllerVersions controllerVersions;
int userLevel = zevo::LevelCruise;
int lockFileFd = -1;

Driver* theDriver = nullptr;
ConfigStore* theConfig = nullptr;
Updater* theUpdater = nullptr;
MailboxComm* theMailbox = nullptr;
DialogLogin* theLogin = nullptr;

// ---------------------------------------------------------------- PID sources

namespace
{
// Two bits per loop, X in the lowest: a source is 0 or 1, anything else is
// taken as BPM 2 as every reader does ("not 0").
constexpr int kBits = 2;

unsigned shift(int loop)
{
    return unsigned(loop == zevo::kPidY ? kBits : loop == zevo::kPidI0 ? 2 * kBits : 0);
}

unsigned field(int bpm)
{
    return bpm != 0 ? 1u : 0u;
}
} // namespace

int PidSourceSet::of(int loop) const
{
    return loop == zevo::kPidY ? y : loop == zevo::kPidI0 ? i0 : x;
}

PidSourceSet PidSources::load() const
{
    const unsigned word = m_word.load();
    const auto part = [word](int loop) { return int((word >> shift(loop)) & 3u); };
    return {part(zevo::kPidX), part(zevo::kPidY), part(zevo::kPidI0)};
}

void PidSources::store(const PidSourceSet& s)
{
    m_word.store(field(s.x) << shift(zevo::kPidX) | field(s.y) << shift(zevo::kPidY) |
                 field(s.i0) << shift(zevo::kPidI0));
}

void PidSources::storeOne(int loop, int bpm)
{
    const unsigned mask = 3u << shift(loop);
    unsigned word = m_word.load();
    while (!m_word.compare_exchange_weak(word, (word & ~mask) | field(bpm) << shift(loop))) {
    }
}

// ---------------------------------------------------------------- scale factors

double BpmScaleFactors::usable(double scale)
{
    return std::isfinite(scale) && scale != 0.0 ? scale : 1.0;
}

void BpmScaleFactors::set(int bpm, double sx, double sy)
{
    value[bpm == 0 ? 0 : 2] = usable(sx);
    value[bpm == 0 ? 1 : 3] = usable(sy);
}
