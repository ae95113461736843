#include "sim/scenariooptions.h"

#include "sim/scenario.h"

#include <QStringList>

#include <cstring>

namespace
{
// "a.b.cd", as the program shows a version word: bytes a and b, then c and
// d written together (d is the last digit).
bool parseVersion(const QString& text, uint32_t* word)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 3 || parts[2].size() < 2)
        return false;
    bool ok[4];
    const int a = parts[0].toInt(&ok[0]);
    const int b = parts[1].toInt(&ok[1]);
    const int c = parts[2].left(parts[2].size() - 1).toInt(&ok[2]);
    const int d = parts[2].right(1).toInt(&ok[3]);
    for (bool k : ok)
        if (!k)
            return false;
    if (a < 0 || a > 255 || b < 0 || b > 255 || c < 0 || c > 255 || d < 0 || d > 9)
        return false;
    *word = Scenario::versionWord(a, b, c, d);
    return true;
}

// "1,2,3,4": picoammeter inputs (1-4) of the top, right, bottom and left
// electrode.
bool parseWiring(const QString& text, DetectorWiring* wiring)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return false;
    std::array<int, 4> channel{};
    for (int k = 0; k < 4; ++k) {
        bool ok = false;
        channel[k] = parts[k].trimmed().toInt(&ok) - 1;
        if (!ok || channel[k] < 0 || channel[k] > 3)
            return false;
    }
    wiring->channel = channel;
    return true;
}
constexpr double kMaxVibrationHz = 50000.0; // the model's Nyquist frequency
constexpr double kMaxVibrationUm = 1000.0;  // the detector's half-width
} // namespace

bool ScenarioOptions::parseVibration(const QString& text, std::vector<VibrationLine>* lines)
{
    std::vector<VibrationLine> parsed;
    const QString trimmed = text.trimmed();
    if (!trimmed.isEmpty() && trimmed != QLatin1String("none")) {
        for (const QString& part : trimmed.split(QLatin1Char(','))) {
            const QStringList pair = part.split(QLatin1Char(':'));
            if (pair.size() != 2)
                return false;
            bool okHz = false, okUm = false;
            const VibrationLine line{pair[0].trimmed().toDouble(&okHz),
                                     pair[1].trimmed().toDouble(&okUm)};
            if (!okHz || !okUm || !(line.hz > 0 && line.hz < kMaxVibrationHz) ||
                !(line.micrometres >= 0 && line.micrometres <= kMaxVibrationUm))
                return false;
            parsed.push_back(line);
        }
    }
    *lines = parsed;
    return true;
}

QString ScenarioOptions::formatVibration(const std::vector<VibrationLine>& lines)
{
    QStringList parts;
    for (const VibrationLine& line : lines)
        parts << QStringLiteral("%1:%2").arg(line.hz, 0, 'g', 6).arg(line.micrometres, 0, 'g', 6);
    return parts.isEmpty() ? QStringLiteral("none") : parts.join(QLatin1Char(','));
}

QString ScenarioOptions::helpText()
{
    return QStringLiteral(
        "Usage: zevo-lui-sim [simulator options] [Qt options]\n"
        "\n"
        "The ZEVO Local User Interface over a virtual controller and beamline.\n"
        "\n"
        "Simulator options (the Simulation menu changes most of them at run time):\n"
        "  --pico-count N          picoammeters plugged in, 0 to 2 (default 2; 1 with --encoder)\n"
        "  --encoder               plug an encoder interface into slot D\n"
        "  --no-dac                leave the DAC module out of slot C\n"
        "  --old-firmware          controller firmware without the version commands (and\n"
        "                          without display-rate and BPM-offset commands)\n"
        "  --firmware-version V    controller software version a.b.cd (default 1.0.03)\n"
        "  --no-beam               start without beam\n"
        "  --noise F               noise, vibration and mains pick-up, times F (default 1)\n"
        "  --drift F               slow drift, times F (default 1)\n"
        "  --vibration HZ:UM,...   vibration lines: the beam moves by UM micrometres (peak)\n"
        "                          at HZ hertz at every BPM, in X and Y (default 37:0.4;\n"
        "                          none for no vibration)\n"
        "  --mains UM              50 Hz pick-up of the BPM electronics, micrometres (peak)\n"
        "                          at every BPM (default 0.05)\n"
        "  --detector45 N          detector of BPM N (1 or 2) mounted at 45 degrees\n"
        "  --wiring1 T,R,B,L       picoammeter inputs (1-4) wired to the top, right,\n"
        "  --wiring2 T,R,B,L       bottom and left electrode of BPM 1 / BPM 2 (default 1,2,3,4)\n"
        "  --seed N                seed of the noise (default 1)\n"
        "  --screenshot FILE       save a picture of the main window after a few display\n"
        "                          cycles, then quit (for the documentation)\n"
        "  --remote PORT           serve the feedback to the beamline's control system on\n"
        "                          PORT of this computer, for this run (Settings, Remote\n"
        "                          Access keeps it on for every run)\n"
        "  --remote-control        let remote clients switch the feedback and change its\n"
        "                          setpoints and regulation mode, for this run\n"
        "  --help                  show this text and quit\n"
        "\n"
        "Options may also be written --option=value.\n");
}

ScenarioOptions::Outcome ScenarioOptions::parse(int& argc, char** argv, Scenario* scenario,
                                                QString* message)
{
    int picoCount = -1;
    bool encoder = false;
    bool noDac = false;
    Scenario s = *scenario;
    QString error;

    int out = 1;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        QString name = arg;
        QString value;
        bool inlineValue = false;
        const int eq = arg.indexOf(QLatin1Char('='));
        if (arg.startsWith(QLatin1String("--")) && eq > 0) {
            name = arg.left(eq);
            value = arg.mid(eq + 1);
            inlineValue = true;
        }

        static const char* const withValue[] = {
            "--pico-count", "--firmware-version", "--noise",   "--drift",   "--vibration",
            "--mains",      "--detector45",       "--wiring1", "--wiring2", "--seed"};
        static const char* const flags[] = {"--encoder", "--no-dac", "--old-firmware",
                                            "--no-beam", "--help",   "-h"};
        bool takesValue = false;
        bool known = false;
        for (const char* o : withValue)
            if (name == QLatin1String(o))
                known = takesValue = true;
        for (const char* o : flags)
            if (name == QLatin1String(o))
                known = true;
        if (!known) {
            argv[out++] = argv[i]; // for QApplication
            continue;
        }
        if (takesValue && !inlineValue) {
            if (i + 1 >= argc) {
                error = QStringLiteral("%1 needs a value").arg(name);
                break;
            }
            value = QString::fromLocal8Bit(argv[++i]);
        }
        if (!takesValue && inlineValue) {
            error = QStringLiteral("%1 takes no value").arg(name);
            break;
        }

        bool ok = true;
        if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
            if (message)
                *message = helpText();
            return Outcome::Help;
        } else if (name == QLatin1String("--pico-count")) {
            picoCount = value.toInt(&ok);
            ok = ok && picoCount >= 0 && picoCount <= 2;
        } else if (name == QLatin1String("--encoder")) {
            encoder = true;
        } else if (name == QLatin1String("--no-dac")) {
            noDac = true;
        } else if (name == QLatin1String("--old-firmware")) {
            s.versionCommands = false;
        } else if (name == QLatin1String("--firmware-version")) {
            ok = parseVersion(value, &s.swVersion);
        } else if (name == QLatin1String("--no-beam")) {
            s.beamPresent = false;
        } else if (name == QLatin1String("--noise")) {
            s.noiseLevel = value.toDouble(&ok);
            ok = ok && s.noiseLevel >= 0;
        } else if (name == QLatin1String("--drift")) {
            s.driftLevel = value.toDouble(&ok);
            ok = ok && s.driftLevel >= 0;
        } else if (name == QLatin1String("--vibration")) {
            ok = parseVibration(value, &s.vibration);
        } else if (name == QLatin1String("--mains")) {
            s.mainsMicrometres = value.toDouble(&ok);
            ok = ok && s.mainsMicrometres >= 0 && s.mainsMicrometres <= kMaxVibrationUm;
        } else if (name == QLatin1String("--detector45")) {
            const int bpm = value.toInt(&ok);
            ok = ok && (bpm == 1 || bpm == 2);
            if (ok)
                s.wiring[bpm - 1].orientation90 = false;
        } else if (name == QLatin1String("--wiring1")) {
            ok = parseWiring(value, &s.wiring[0]);
        } else if (name == QLatin1String("--wiring2")) {
            ok = parseWiring(value, &s.wiring[1]);
        } else if (name == QLatin1String("--seed")) {
            s.seed = value.toULongLong(&ok);
        }
        if (!ok) {
            error = QStringLiteral("invalid value for %1: %2").arg(name, value);
            break;
        }
    }

    if (!error.isEmpty()) {
        if (message)
            *message = error + QStringLiteral("\n\n") + helpText();
        return Outcome::Error;
    }

    // An encoder interface takes the place of the second picoammeter unless
    // two are asked for explicitly.
    if (picoCount < 0)
        picoCount = encoder ? 1 : 2;
    s.setFirstPicoPlugged(picoCount >= 1);
    s.setSecondPicoPlugged(picoCount >= 2);
    s.setEncoderPlugged(encoder);
    s.setDacPlugged(!noDac);

    argc = out;
    argv[argc] = nullptr;
    *scenario = s;
    return Outcome::Run;
}
