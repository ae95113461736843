#pragma once

#include <QString>

struct Scenario;

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
};
