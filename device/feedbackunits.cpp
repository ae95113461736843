#include "device/feedbackunits.h"

#include "device/globals.h"
#include "device/protocol.h"

namespace feedbackunits
{

double setpointXToRaw(double micrometres)
{
    return micrometres / bpmScale.x(pidSourceX.load());
}

double setpointYToRaw(double micrometres)
{
    return micrometres / bpmScale.y(pidSourceY.load());
}

double setpointXFromRaw(double raw)
{
    return raw * bpmScale.x(pidSourceX.load());
}

double setpointYFromRaw(double raw)
{
    return raw * bpmScale.y(pidSourceY.load());
}

double xMicrometres(double raw, int bpm)
{
    return raw * bpmScale.x(bpm);
}

double yMicrometres(double raw, int bpm)
{
    return raw * bpmScale.y(bpm);
}

QString stateText(int pidStatus)
{
    switch (pidStatus) {
    case zevo::PID_STATUS_OFF:
        return QStringLiteral("Feedback OFF");
    case zevo::PID_STATUS_FAULT_ROC:
        return QStringLiteral("FAULT: Out of ROC");
    case zevo::PID_STATUS_BEAM_OFF:
        return QStringLiteral("Beam OFF");
    case zevo::PID_STATUS_ON:
        return QStringLiteral("Feedback ON");
    default:
        return QString();
    }
}

} // namespace feedbackunits
