#include "sim/firstrunconfig.h"

#include "device/configstore.h"
#include "sim/beamlinemodel.h"
#include "sim/scenario.h"
#include "sim/virtualcontroller.h"

#include <QFileInfo>

namespace
{
// Display units: micrometres per raw detector unit.
constexpr double kScaleMicrometres = 1000.0;
// With an encoder interface: 1 nrad per count, shown in microradians.
constexpr double kEncoderScale = 2147483.648;
constexpr double kRoiMicrometres = 100.0;
constexpr double kRocPercent = 150.0;
constexpr double kPidFrequency = 1000.0;
} // namespace

bool writeFirstRunConfiguration(const QString& path, const Scenario& scenario)
{
    if (QFileInfo::exists(path))
        return true;
    ConfigStore store(path);
    const FirmwareSettings boot;
    bool ok = true;

    for (int bpm = 0; bpm < 2; ++bpm) {
        const DetectorWiring& w = scenario.wiring[bpm];
        ok &= store.setOrient(w.orientation90 ? 1 : 0, bpm);
        const bool encoder = bpm == 0 && scenario.encoderPlugged();
        const double scale = encoder ? kEncoderScale : kScaleMicrometres;
        const double offset = encoder ? scale * BeamlineModel::kEncoderCentre / 2147483648.0 : 0.0;
        ok &= store.setScaleX(bpm, scale);
        ok &= store.setScaleY(bpm, scale);
        ok &= store.setOffsetX(bpm, offset);
        ok &= store.setOffsetY(bpm, offset);
        ok &= store.setBpmChannels(w.channel[0], w.channel[1], w.channel[2], w.channel[3], bpm);
        ok &= store.setBeamThreshold(bpm, boot.rocHigh[3 * bpm + 2] * 1e6);
        ok &= store.setRocRoi(bpm, kRoiMicrometres, kRoiMicrometres, 1e-6, 1e-4, kRocPercent);
    }
    ok &=
        store.setBeamlineDacs(boot.dacAssignment[0], boot.dacAssignment[1], boot.dacAssignment[2]);

    auto pid = [&](int c) {
        const PidParameters& p = boot.active[c];
        return std::array<double, 10>{kPidFrequency, p.kp,   p.ki,   p.kd,    p.eMin,
                                      p.iMax,        p.oMin, p.oMax, p.oGain, boot.pidOffset[c]};
    };
    const auto x = pid(0), y = pid(1), i0 = pid(2);
    ok &= store.setPidX(x[0], x[1], x[2], x[3], x[4], x[5], x[6], x[7], x[8], x[9]);
    ok &= store.setPidY(y[0], y[1], y[2], y[3], y[4], y[5], y[6], y[7], y[8], y[9]);
    ok &= store.setPidI0(i0[0], i0[1], i0[2], i0[3], i0[4], i0[5], i0[6], i0[7], i0[8], i0[9]);
    return ok;
}
