#include "export/stepresponsefile.h"

#include "export/nexusfile.h"
#include "export/tablecsv.h"

#include <algorithm>

namespace stepresponsefile
{

namespace
{
const char* const kAxes[3] = {"X", "Y", "I0"};
const char* const kLoops[3] = {"pid_x", "pid_y", "pid_i0"};

int axisOf(const StepResponseRun& run)
{
    return std::clamp(run.axis, 0, 2);
}

// The response field's name as the save-data window names it ("BPM1 Pos X").
QString responseName(const StepResponseRun& run)
{
    const char* quantity[3] = {"Pos X", "Pos Y", "I0"};
    return QStringLiteral("BPM%1 %2")
        .arg(run.bpm2 ? 2 : 1)
        .arg(QLatin1String(quantity[axisOf(run)]));
}

std::vector<double> times(const StepResponseRun& run)
{
    std::vector<double> t(std::min(run.stimulus.size(), run.response.size()));
    for (std::size_t i = 0; i < t.size(); ++i)
        t[i] = stepSampleTime(int(i), run.sampleRate);
    return t;
}
} // namespace

QString title(const StepResponseRun& run)
{
    return QStringLiteral("Step response of %1 at BPM%2")
        .arg(QLatin1String(kAxes[axisOf(run)]))
        .arg(run.bpm2 ? 2 : 1);
}

bool writeNexus(const QString& path, const StepResponseRun& run, QString* error)
{
    NexusFile file(path);
    const QString entryPath =
        nexus::beginEntry(file, {title(run), run.started, run.ended}, run.settings);
    const QString data = entryPath + QStringLiteral("/data");
    nexus::beginData(file, entryPath, QStringLiteral("response"), {QStringLiteral("time")},
                     {QStringLiteral("stimulus")});
    file.values(data + QStringLiteral("/time"), times(run), QStringLiteral("s"),
                QStringLiteral("time"));
    file.values(data + QStringLiteral("/stimulus"), run.stimulus, QStringLiteral("V"),
                QStringLiteral("DAC output %1").arg(run.stimulusOutput + 1));
    // Positions are raw controller units here (the scale factors stand in
    // the bpm collections); intensities are amperes.
    const bool intensity = axisOf(run) == 2;
    file.values(data + QStringLiteral("/response"), run.response,
                intensity ? QStringLiteral("A") : QString(),
                intensity ? responseName(run)
                          : responseName(run) + QStringLiteral(" (raw position units)"));

    const QString volts = QStringLiteral("V");
    const QString s = nexus::collection(file, entryPath, QStringLiteral("step"));
    file.text(s + QStringLiteral("/axis"), QLatin1String(kAxes[axisOf(run)]));
    file.integer(s + QStringLiteral("/bpm"), run.bpm2 ? 2 : 1, QStringLiteral("BPM (1 or 2)"));
    file.number(s + QStringLiteral("/sample_rate"), run.sampleRate, QStringLiteral("Hz"));
    file.integer(s + QStringLiteral("/stimulus_output"), run.stimulusOutput + 1,
                 QStringLiteral("DAC output (1 to 4)"));
    const char* loops[3] = {"x", "y", "i0"};
    for (int k = 0; k < 3; ++k) {
        file.number(s + QStringLiteral("/bias_") + QLatin1String(loops[k]),
                    run.bias[std::size_t(k)], volts);
        file.number(s + QStringLiteral("/step_") + QLatin1String(loops[k]),
                    run.step[std::size_t(k)], volts);
    }

    const PidLoopSettings& p = run.pid;
    const QString pid = nexus::collection(file, entryPath, QLatin1String(kLoops[axisOf(run)]));
    file.number(pid + QStringLiteral("/frequency"), p.frequency, QStringLiteral("Hz"),
                QStringLiteral("requested loop frequency"));
    file.number(pid + QStringLiteral("/kp"), p.kp);
    file.number(pid + QStringLiteral("/ki"), p.ki);
    file.number(pid + QStringLiteral("/kd"), p.kd);
    file.number(pid + QStringLiteral("/e_min"), p.eMin);
    file.number(pid + QStringLiteral("/i_max"), p.iMax);
    file.number(pid + QStringLiteral("/o_min"), p.oMin, volts);
    file.number(pid + QStringLiteral("/o_max"), p.oMax, volts);
    file.number(pid + QStringLiteral("/o_gain"), p.oGain);
    file.number(pid + QStringLiteral("/offset"), p.offset, volts);

    const StepResponse& r = run.evaluation;
    const QString results = nexus::collection(file, entryPath, QStringLiteral("results"));
    file.number(results + QStringLiteral("/du"), r.du, volts, QStringLiteral("step"));
    file.number(results + QStringLiteral("/dc"), r.dc, QString(),
                QStringLiteral("change of the response"));
    file.number(results + QStringLiteral("/gain"), r.gain, QString(),
                QStringLiteral("K = dc / du"));
    file.number(results + QStringLiteral("/dead_time"), r.deadTime, QStringLiteral("s"),
                QStringLiteral("Tdead"));
    file.number(results + QStringLiteral("/settle_time"), r.settleTime, QStringLiteral("s"),
                QStringLiteral("Tset, 10 % to 90 %"));
    file.integer(results + QStringLiteral("/inverted"), r.inverted ? 1 : 0,
                 QStringLiteral("1: the response falls when the stimulus rises"));

    if (file.commit())
        return true;
    if (error)
        *error = file.error();
    return false;
}

QByteArray csv(const StepResponseRun& run, const QDateTime& now, const QString& hostName)
{
    const std::vector<double> t = times(run);
    const QString response =
        axisOf(run) == 2 ? responseName(run) + QStringLiteral(" [A]") : responseName(run);
    return tablecsv::table(title(run), now, hostName,
                           {{QStringLiteral("time [s]"), &t},
                            {QStringLiteral("stimulus [V]"), &run.stimulus},
                            {response, &run.response}});
}

bool writeCsv(const QString& path, const StepResponseRun& run, const QDateTime& now,
              const QString& hostName, QString* error)
{
    return tablecsv::write(path, csv(run, now, hostName), error);
}

} // namespace stepresponsefile
