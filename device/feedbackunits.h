#pragma once

// The units of the feedback loop as the operator sees them, in one place for
// every place that shows or enters them (the feedback panel, the remote
// interface): positions in micrometres, intensities in amperes, the feedback
// state as a text. The controller takes setpoints in raw units of the BPM
// that feeds each loop; its statistics are raw units of their own BPM.
//
// Reads the process-wide scale factors and loop sources, so GUI thread only.
// Below every window, so that the panel and the remote interface share it.

#include <QString>

namespace feedbackunits
{

// Setpoints: micrometres <-> raw units of the BPM named by pidSourceX /
// pidSourceY. A BPM without a usable scale factor has the factor 1
// (BpmScaleFactors::usable): its setpoints are entered and read back in raw
// units.
double setpointXToRaw(double micrometres);
double setpointYToRaw(double micrometres);
double setpointXFromRaw(double raw);
double setpointYFromRaw(double raw);

// Statistics of one BPM: raw units times that BPM's scale factor.
double xMicrometres(double raw, int bpm);
double yMicrometres(double raw, int bpm);

// "Feedback OFF", "FAULT: Out of ROC", "Beam OFF", "Feedback ON" for the PID
// states 0 to 3; empty for any other value.
QString stateText(int pidStatus);

} // namespace feedbackunits
