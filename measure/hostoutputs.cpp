#include "measure/hostoutputs.h"

#include "device/driver.h"
#include "device/globals.h"
#include "device/mailboxcomm.h"
#include "device/picocurrents.h"

#include <QMessageBox>

#include <fcntl.h>

#include <cstring>

HostOutputs::HostOutputs(Nodes nodes) : m_nodes(nodes) {}

HostOutputs::~HostOutputs()
{
    const bool handedBack =
        !m_taken || !theMailbox || theMailbox->setOutputsFromController(true) >= 0;
    // After a hand-over that failed, the controller most likely still has
    // the outputs; after one that went through, it has not.
    const bool hostHolds = m_hostHolds && !handedBack;
    if (theDriver) {
        if (m_dacFd >= 0)
            theDriver->close(m_dacFd);
        if (m_picoFd >= 0)
            theDriver->close(m_picoFd);
    }
    // The one failure that no measurement can report any more, and the one
    // that matters most: while the host holds the outputs, switching the
    // feedback on moves no actuator.
    if (hostHolds)
        QMessageBox::warning(
            nullptr, QStringLiteral("DAC outputs"),
            QStringLiteral("The controller did not take the DAC outputs back (mailbox request "
                           "failed).\n\nUntil it does, the feedback cannot move the actuators. "
                           "To hand them over again, check and uncheck \"Enable Manual Control\" "
                           "in Manual Output Control."));
}

bool HostOutputs::open()
{
    if (!theDriver) {
        m_error = QStringLiteral("No driver is available.");
        return false;
    }
    const auto cannotOpen = [this](const char* node) {
        m_error = QStringLiteral("System file %1 could not be opened.\n\n"
                                 "Please check if ZEVO driver is loaded.\n"
                                 "The measurement was not started.")
                      .arg(QString::fromLatin1(node));
        return false;
    };
    if (m_nodes == DacAndPicoammeter) {
        m_picoFd = theDriver->open(zevo::kPico0Node, O_RDWR | O_SYNC);
        if (m_picoFd < 0)
            return cannotOpen(zevo::kPico0Node);
    }
    m_dacFd = theDriver->open(zevo::kDacNode, O_RDWR | O_SYNC);
    if (m_dacFd < 0)
        return cannotOpen(zevo::kDacNode);
    return true;
}

int HostOutputs::takeOutputs()
{
    m_taken = true;
    const int result = theMailbox ? theMailbox->setOutputsFromController(false) : -1;
    m_hostHolds = result >= 0;
    return result;
}

int HostOutputs::setOutputs(const std::array<double, 4>& volts)
{
    if (!theDriver || m_dacFd < 0)
        return -1;
    zevo::DacOutputRecord record;
    std::memset(&record, 0, sizeof record); // no stray padding bytes reach the driver
    for (std::size_t k = 0; k < volts.size(); ++k)
        record.volts[k] = volts[k];
    record.enable = 1;
    return theDriver->ioctl(m_dacFd, zevo::DAC_IOC_SET_OUTPUTS, &record);
}

int HostOutputs::readCurrents(zevo::PicoCurrentsRecord& out)
{
    if (!theDriver || m_picoFd < 0)
        return -1;
    return readPicoCurrents(*theDriver, m_picoFd, out);
}

QString HostOutputs::badAssignmentText(const QString& key, int value)
{
    return QStringLiteral("The DAC assignment %1 = %2 names no DAC output (1 to 4 are stored as "
                          "0 to 3).\nCorrect it in the beamline configuration; the measurement "
                          "was not started.")
        .arg(key)
        .arg(value);
}
