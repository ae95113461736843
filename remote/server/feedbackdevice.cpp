#include "remote/server/feedbackdevice.h"

#include "device/feedbackunits.h"
#include "device/protocol.h"

#include <cstring>

namespace
{
// Reasons the client sees with each refusal, one per outcome.
const char* reasonOf(RemoteBridge::Outcome outcome)
{
    switch (outcome) {
    case RemoteBridge::Outcome::Refused:
        return "ZEVO_RemoteControlDisabled";
    case RemoteBridge::Outcome::Invalid:
        return "ZEVO_InvalidValue";
    case RemoteBridge::Outcome::Failed:
        return "ZEVO_ControllerFailed";
    case RemoteBridge::Outcome::Busy:
        return "ZEVO_Busy";
    case RemoteBridge::Outcome::Closed:
        return "ZEVO_ShuttingDown";
    case RemoteBridge::Outcome::Done:
        break;
    }
    return "ZEVO_Error";
}

// Throws the refusal to the client.
void refuse(const char* reason, const QString& message, const char* origin)
{
    Tango::Except::throw_exception(reason, message.toStdString(), origin);
}
} // namespace

FeedbackDevice::FeedbackDevice(Tango::DeviceClass* deviceClass, const std::string& name,
                               RemoteBridge* bridge)
    : Tango::Device_5Impl(deviceClass, name.c_str()), m_bridge(bridge)
{
    init_device();
}

FeedbackDevice::~FeedbackDevice()
{
    delete_device();
}

void FeedbackDevice::init_device()
{
    takeSnapshot();
    // Asked for while the server starts, the polling starts with it. The
    // polled attributes send change and archive events.
    for (const char* name :
         {"State", "Status", "PidStatus", "FeedbackEnabled", "RegulationMode", "ControlAllowed",
          "SetpointX", "SetpointY", "SetpointI0", "PostMortemLast", "PostMortemCount"})
        poll_attribute(name, kPollPeriodMs);
    for (const char* bpm : {"Bpm1", "Bpm2"})
        for (const char* value : {"X", "XStdDev", "Y", "YStdDev", "I0", "I0StdDev"})
            poll_attribute(std::string(bpm) + value, kPollPeriodMs);
}

void FeedbackDevice::delete_device() {}

void FeedbackDevice::takeSnapshot()
{
    m_snapshot = m_bridge->snapshot();
}

void FeedbackDevice::read_attr_hardware(std::vector<long>&)
{
    // One copy per request: every attribute of a multi-attribute read comes
    // from the same moment.
    takeSnapshot();
}

Tango::DevState FeedbackDevice::dev_state()
{
    takeSnapshot();
    Tango::DevState state = Tango::UNKNOWN;
    if (m_snapshot.controllerPresent) {
        switch (m_snapshot.pidStatus) {
        case zevo::PID_STATUS_OFF:
            state = Tango::OFF;
            break;
        case zevo::PID_STATUS_FAULT_ROC:
            state = Tango::FAULT;
            break;
        case zevo::PID_STATUS_BEAM_OFF:
            state = Tango::ALARM;
            break;
        case zevo::PID_STATUS_ON:
            state = Tango::ON;
            break;
        default:
            break;
        }
    }
    set_state(state);
    return state;
}

Tango::ConstDevString FeedbackDevice::dev_status()
{
    dev_state();
    QString text = m_snapshot.controllerPresent
                       ? feedbackunits::stateText(m_snapshot.pidStatus)
                       : QStringLiteral("No controller: the mailbox is not open");
    if (text.isEmpty())
        text = QStringLiteral("Feedback state not known yet");
    text += m_snapshot.controlAllowed ? QStringLiteral("\nRemote control is allowed")
                                      : QStringLiteral("\n") + RemoteBridge::kRefusedText;
    m_status = text.toStdString();
    return m_status.c_str();
}

void FeedbackDevice::set_attribute_config(const Tango::AttributeConfigList&)
{
    refuse("ZEVO_FixedConfiguration", QStringLiteral("Attribute properties are fixed"),
           "FeedbackDevice::set_attribute_config");
}

void FeedbackDevice::set_attribute_config_3(const Tango::AttributeConfigList_3&)
{
    refuse("ZEVO_FixedConfiguration", QStringLiteral("Attribute properties are fixed"),
           "FeedbackDevice::set_attribute_config_3");
}

void FeedbackDevice::set_attribute_config_4(const Tango::AttributeConfigList_3&,
                                            const Tango::ClntIdent&)
{
    refuse("ZEVO_FixedConfiguration", QStringLiteral("Attribute properties are fixed"),
           "FeedbackDevice::set_attribute_config_4");
}

void FeedbackDevice::set_attribute_config_5(const Tango::AttributeConfigList_5&,
                                            const Tango::ClntIdent&)
{
    refuse("ZEVO_FixedConfiguration", QStringLiteral("Attribute properties are fixed"),
           "FeedbackDevice::set_attribute_config_5");
}

QString FeedbackDevice::clientText()
{
    const Tango::client_addr* client = get_client_ident();
    if (!client || client->client_ip[0] == '\0')
        return QStringLiteral("an unknown client");
    // "giop:tcp:127.0.0.1:47834" names the transport first.
    QString address = QString::fromLatin1(client->client_ip);
    const QString tcp = QStringLiteral("giop:tcp:");
    if (address.startsWith(tcp))
        address = address.mid(tcp.size());
    if (client->client_ident && client->client_pid > 0)
        address += QStringLiteral(" (pid %1)").arg(client->client_pid);
    return address;
}

void FeedbackDevice::perform(const RemoteBridge::Request& request)
{
    const RemoteBridge::Reply reply = m_bridge->perform(request, clientText());
    if (reply.outcome != RemoteBridge::Outcome::Done)
        refuse(reasonOf(reply.outcome), reply.message, "FeedbackDevice::perform");
}
