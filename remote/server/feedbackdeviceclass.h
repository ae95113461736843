#pragma once

// The class of the feedback device: its attributes, commands and the one
// device of the server. Included only by the server's own sources.

#include <tango.h>

class RemoteBridge;

class FeedbackDeviceClass : public Tango::DeviceClass
{
public:
    static constexpr const char* kClassName = "ZevoFeedback";

    // The bridge the device will serve; set before the server creates its
    // devices.
    static void setBridge(RemoteBridge* bridge);
    // The one device the server serves, whatever else a database lists.
    static void setServedDevice(const std::string& name);
    static FeedbackDeviceClass* instance();

    void command_factory() override;
    void attribute_factory(std::vector<Tango::Attr*>& attributes) override;
    void device_factory(const Tango::DevVarStringArray* names) override;

private:
    explicit FeedbackDeviceClass(std::string& name);
};
