#pragma once

#include <QString>

struct Scenario;

// Writes the simulator's configuration file on its first start: the settings
// of a beamline that has been set up before, matching what the virtual
// controller powers up with (channel maps from the wiring, scale factors,
// regions, PID parameters). Does nothing when the file exists. False when
// the file could not be written.
bool writeFirstRunConfiguration(const QString& path, const Scenario& scenario);
