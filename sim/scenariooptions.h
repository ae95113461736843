#pragma once

#include <QString>

#include <vector>

struct Scenario;
struct VibrationLine;

// The simulator's own command-line options, which choose the scenario it
// starts with. They are taken out of argv before the rest reaches
// QApplication.
class ScenarioOptions
{
public:
    enum class Outcome { Run, Help, Error };

    // Applies every option of ours to `scenario` and removes it from argv
    // (argc shrinks accordingly). Help: --help was given. Error: `message`
    // says what was wrong.
    static Outcome parse(int& argc, char** argv, Scenario* scenario, QString* message);

    static QString helpText();

    // Vibration lines written as "37:0.4,12.5:1" (hertz:micrometres, peak);
    // "" or "none" for none. Frequencies above 0 and below 50 kHz,
    // amplitudes from 0 to 1000 um. False (and `lines` untouched) otherwise.
    static bool parseVibration(const QString& text, std::vector<VibrationLine>* lines);
    // The lines as parseVibration() reads them.
    static QString formatVibration(const std::vector<VibrationLine>& lines);
};
