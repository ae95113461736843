#pragma once

// The feedback as one device of the control system. Included only by the
// server's own sources: the control system's header brings a
// namespace-wide using directive with it.

#include "remote/remotebridge.h"
#include "remote/remotesnapshot.h"

#include <tango.h>

#include <array>
#include <map>
#include <string>
#include <vector>

// Reads come from the bridge's snapshot, copied once per request; writes and
// commands go to the bridge, which carries them out on the GUI thread or
// refuses them. Runs on the server's request and polling threads only.
class FeedbackDevice : public Tango::Device_5Impl
{
public:
    // The state, the status and the feedback attributes are polled at the
    // controller's poll rate, so that clients get change events at that rate.
    static constexpr int kPollPeriodMs = 1000;

    FeedbackDevice(Tango::DeviceClass* deviceClass, const std::string& name, RemoteBridge* bridge);
    ~FeedbackDevice() override;

    void init_device() override;
    void delete_device() override;
    Tango::DevState dev_state() override;
    Tango::ConstDevString dev_status() override;
    void read_attr_hardware(std::vector<long>& attributes) override;

    // Attribute properties are fixed by the program: no client rewrites the
    // units, limits or labels that other clients rely on.
    void set_attribute_config(const Tango::AttributeConfigList& config) override;
    void set_attribute_config_3(const Tango::AttributeConfigList_3& config) override;
    void set_attribute_config_4(const Tango::AttributeConfigList_3& config,
                                const Tango::ClntIdent& client) override;
    void set_attribute_config_5(const Tango::AttributeConfigList_5& config,
                                const Tango::ClntIdent& client) override;

    // Hands a write or command to the bridge; throws the reason to the client
    // when it was not carried out.
    void perform(const RemoteBridge::Request& request);

    // The snapshot of the request being answered.
    const RemoteSnapshot& snapshot() const { return m_snapshot; }

    // Value storage of the attributes, filled while a request is answered:
    // the library reads the values after the read methods have returned.
    struct Values {
        Tango::DevDouble number = 0.0;
        Tango::DevShort enumeration = 0;
        Tango::DevBoolean flag = false;
        Tango::DevLong count = 0;
        std::string text;
        Tango::DevString textPointer = nullptr;
        std::array<Tango::DevDouble, 3> dac{};
        std::array<Tango::DevUShort, 4> slotIds{};
        std::array<std::string, 4> slotNames;
        std::array<Tango::DevString, 4> slotNamePointers{};
        std::vector<Tango::DevDouble> series;
    };
    // One storage per attribute, by the attribute's name.
    Values& values(const std::string& attribute) { return m_values[attribute]; }

private:
    // Who sent the request being answered, as the log shows it.
    QString clientText();
    void takeSnapshot();

    RemoteBridge* m_bridge;
    RemoteSnapshot m_snapshot;
    std::string m_status;
    std::map<std::string, Values> m_values;
};
