#include "sim/firstrunconfig.h"

#include "device/configstore.h"
#include "device/protocol.h"
#include "sim/beamlinemodel.h"
#include "sim/scenario.h"
#include "sim/virtualcontroller.h"

#include <QFileInfo>

namespace
{
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
        const double scale = encoder ? kEncoderScale : BeamlineModel::kMicrometresPerUnit;
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

    for (int c : {zevo::kPidX, zevo::kPidY, zevo::kPidI0}) {
        const PidParameters& p = boot.active[c];
        ok &= store.setPidLoop(c, {kPidFrequency, p.kp, p.ki, p.kd, p.eMin, p.iMax, p.oMin, p.oMax,
                                   p.oGain, boot.pidOffset[c]});
    }
    return ok;
}
