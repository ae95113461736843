#include "remote/server/feedbackdeviceclass.h"

#include "device/feedbackunits.h"
#include "device/protocol.h"
#include "device/stabilitysettings.h"
#include "device/userlevel.h"
#include "remote/remotebridge.h"
#include "remote/server/feedbackdevice.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>

#include <strings.h>

using Operation = RemoteBridge::Operation;

namespace
{
RemoteBridge* theBridge = nullptr;
FeedbackDeviceClass* theClass = nullptr;
std::string servedDevice;

using Reader = std::function<void(FeedbackDevice&, Tango::Attribute&)>;
using Writer = std::function<void(FeedbackDevice&, Tango::WAttribute&)>;

// A scalar attribute read (and written) through functions.
class ScalarAttribute : public Tango::Attr
{
public:
    ScalarAttribute(const char* name, long type, Reader reader, Writer writer = {})
        : Tango::Attr(name, type, writer ? Tango::READ_WRITE : Tango::READ),
          m_reader(std::move(reader)), m_writer(std::move(writer))
    {
    }
    void read(Tango::DeviceImpl* device, Tango::Attribute& attribute) override
    {
        m_reader(*static_cast<FeedbackDevice*>(device), attribute);
    }
    void write(Tango::DeviceImpl* device, Tango::WAttribute& attribute) override
    {
        m_writer(*static_cast<FeedbackDevice*>(device), attribute);
    }

private:
    Reader m_reader;
    Writer m_writer;
};

class SpectrumAttribute : public Tango::SpectrumAttr
{
public:
    SpectrumAttribute(const char* name, long type, long maxLength, Reader reader)
        : Tango::SpectrumAttr(name, type, maxLength), m_reader(std::move(reader))
    {
    }
    void read(Tango::DeviceImpl* device, Tango::Attribute& attribute) override
    {
        m_reader(*static_cast<FeedbackDevice*>(device), attribute);
    }

private:
    Reader m_reader;
};

class OperationCommand : public Tango::Command
{
public:
    OperationCommand(const char* name, Operation operation)
        : Tango::Command(name, Tango::DEV_VOID, Tango::DEV_VOID), m_operation(operation)
    {
    }
    CORBA::Any* execute(Tango::DeviceImpl* device, const CORBA::Any&) override
    {
        static_cast<FeedbackDevice*>(device)->perform({m_operation, 0.0});
        return insert();
    }

private:
    Operation m_operation;
};

// ------------------------------------------------------------- value setters

void setNumber(FeedbackDevice& d, Tango::Attribute& a, double value, bool valid = true)
{
    if (!valid || !std::isfinite(value)) {
        a.set_quality(Tango::ATTR_INVALID);
        return;
    }
    FeedbackDevice::Values& v = d.values(a.get_name());
    v.number = value;
    a.set_value(&v.number);
}

void setEnumeration(FeedbackDevice& d, Tango::Attribute& a, int value, int count)
{
    if (value < 0 || value >= count) {
        a.set_quality(Tango::ATTR_INVALID);
        return;
    }
    FeedbackDevice::Values& v = d.values(a.get_name());
    v.enumeration = Tango::DevShort(value);
    a.set_value(&v.enumeration);
}

void setFlag(FeedbackDevice& d, Tango::Attribute& a, bool value, bool valid = true)
{
    if (!valid) {
        a.set_quality(Tango::ATTR_INVALID);
        return;
    }
    FeedbackDevice::Values& v = d.values(a.get_name());
    v.flag = value;
    a.set_value(&v.flag);
}

void setText(FeedbackDevice& d, Tango::Attribute& a, const QString& value)
{
    FeedbackDevice::Values& v = d.values(a.get_name());
    v.text = value.toStdString();
    v.textPointer = const_cast<char*>(v.text.c_str());
    a.set_value(&v.textPointer);
}

double requested(Tango::WAttribute& w)
{
    Tango::DevDouble value = 0.0;
    w.get_write_value(value);
    return value;
}

// ------------------------------------------------------------- attribute table

// The fixed properties of one attribute.
struct Properties {
    const char* unit = nullptr;
    std::string description;
    const char* format = nullptr;
    std::vector<std::string> labels; // of an enumeration
    std::string min, max;            // of a writable number
    // Change and archive events: the least change that sends one, absolute
    // (in the unit) or relative (in %), and the longest time between two
    // archive events. None for an enumeration or a flag, where every change
    // counts.
    const char* changeAbs = nullptr;
    const char* changeRel = nullptr;
    const char* archiveAbs = nullptr;
    const char* archiveRel = nullptr;
    bool events = false;
};

// Every archived attribute gets an archive event at least this often (ms),
// so that an archiver sees a steady value is still there.
constexpr const char* kArchivePeriodMs = "60000";

// Events on a beam position: changes of 0.1 um, archived from 0.5 um.
Properties& positionEvents(Properties& p, const char* change, const char* archive)
{
    p.changeAbs = change;
    p.archiveAbs = archive;
    p.events = true;
    return p;
}

// Events on an intensity: relative changes, in %.
Properties& intensityEvents(Properties& p, const char* change, const char* archive)
{
    p.changeRel = change;
    p.archiveRel = archive;
    p.events = true;
    return p;
}

Properties properties(const char* unit, const std::string& description,
                      const char* format = nullptr)
{
    Properties p;
    p.unit = unit;
    p.description = description;
    p.format = format;
    return p;
}

std::vector<std::string> labels(const std::function<QString(int)>& name, int count)
{
    std::vector<std::string> out;
    for (int k = 0; k < count; ++k)
        out.push_back(name(k).toStdString());
    return out;
}

void add(std::vector<Tango::Attr*>& list, Tango::Attr* attribute, Properties p)
{
    Tango::UserDefaultAttrProp props;
    if (p.unit) {
        props.set_unit(p.unit);
        props.set_standard_unit(p.unit);
        props.set_display_unit(p.unit);
    }
    props.set_description(p.description.c_str());
    if (p.format)
        props.set_format(p.format);
    if (!p.labels.empty())
        props.set_enum_labels(p.labels);
    if (!p.min.empty())
        props.set_min_value(p.min.c_str());
    if (!p.max.empty())
        props.set_max_value(p.max.c_str());
    if (p.changeAbs)
        props.set_event_abs_change(p.changeAbs);
    if (p.changeRel)
        props.set_event_rel_change(p.changeRel);
    if (p.archiveAbs)
        props.set_archive_event_abs_change(p.archiveAbs);
    if (p.archiveRel)
        props.set_archive_event_rel_change(p.archiveRel);
    if (p.events)
        props.set_archive_event_period(kArchivePeriodMs);
    // Values from the facility's database, where it has any, replace these.
    attribute->set_default_properties(props);
    list.push_back(attribute);
}

// A spectrum of doubles from the snapshot; invalid while it is empty.
void setSeries(FeedbackDevice& d, Tango::Attribute& a, const std::vector<double>& values)
{
    if (values.empty()) {
        a.set_quality(Tango::ATTR_INVALID);
        return;
    }
    FeedbackDevice::Values& v = d.values(a.get_name());
    v.series.assign(values.begin(), values.end());
    a.set_value(v.series.data(), long(v.series.size()));
}

// The beam stability per band: RMS of X and Y, and the bands' edges.
void addStabilityAttributes(std::vector<Tango::Attr*>& list)
{
    using Series = std::vector<double> RemoteSnapshot::*;
    struct Entry {
        const char* name;
        Series field;
        const char* unit;
        const char* description;
    };
    const Entry entries[] = {
        {"StabilityBandRmsX", &RemoteSnapshot::stabilityBandRmsX, "um",
         "RMS of beam position X per band (StabilityBandEdges) over the newest display "
         "buffer, at the BPM that feeds the X loop"},
        {"StabilityBandRmsY", &RemoteSnapshot::stabilityBandRmsY, "um",
         "RMS of beam position Y per band (StabilityBandEdges) over the newest display "
         "buffer, at the BPM that feeds the Y loop"},
        {"StabilityBandEdges", &RemoteSnapshot::stabilityBandEdges, "Hz",
         "Lower edges of the stability bands; the last band runs to the Nyquist frequency "
         "of the display (the [Stability] settings)"},
    };
    for (const Entry& e : entries) {
        const Series field = e.field;
        add(list,
            new SpectrumAttribute(e.name, Tango::DEV_DOUBLE, StabilitySettings::kMaxBands,
                                  [field](FeedbackDevice& d, Tango::Attribute& a) {
                                      setSeries(d, a, d.snapshot().*field);
                                  }),
            properties(e.unit, e.description, "%.4g"));
    }
}

void addBpmAttributes(std::vector<Tango::Attr*>& list, int bpm)
{
    using Field = double RemoteSnapshot::Bpm::*;
    struct Entry {
        const char* suffix;
        Field field;
        bool intensity;
        const char* what;
    };
    const Entry entries[] = {
        {"X", &RemoteSnapshot::Bpm::x, false, "beam position X, mean"},
        {"XStdDev", &RemoteSnapshot::Bpm::xStdDev, false, "beam position X, standard deviation"},
        {"Y", &RemoteSnapshot::Bpm::y, false, "beam position Y, mean"},
        {"YStdDev", &RemoteSnapshot::Bpm::yStdDev, false, "beam position Y, standard deviation"},
        {"I0", &RemoteSnapshot::Bpm::i0, true, "intensity I0, mean"},
        {"I0StdDev", &RemoteSnapshot::Bpm::i0StdDev, true, "intensity I0, standard deviation"},
    };
    for (const Entry& e : entries) {
        const std::string name = "Bpm" + std::to_string(bpm + 1) + e.suffix;
        const std::string description =
            "BPM " + std::to_string(bpm + 1) + " " + e.what + ", from the controller's statistics";
        const Field field = e.field;
        const bool intensity = e.intensity;
        auto* attribute =
            new ScalarAttribute(name.c_str(), Tango::DEV_DOUBLE,
                                [bpm, field, intensity](FeedbackDevice& d, Tango::Attribute& a) {
                                    const RemoteSnapshot::Bpm& b =
                                        d.snapshot().bpm[std::size_t(bpm)];
                                    setNumber(d, a, b.*field,
                                              d.snapshot().controllerPresent && b.present &&
                                                  (b.intensity || !intensity));
                                });
        Properties p = properties(intensity ? "A" : "um", description, intensity ? "%.4e" : "%.3f");
        const bool spread = e.suffix[std::strlen(e.suffix) - 1] == 'v';
        if (intensity)
            intensityEvents(p, spread ? "10" : "1", spread ? "20" : "2");
        else
            positionEvents(p, "0.1", spread ? "0.2" : "0.5");
        add(list, attribute, p);
    }
}
} // namespace

// ------------------------------------------------------------- the class

FeedbackDeviceClass::FeedbackDeviceClass(std::string& name) : Tango::DeviceClass(name)
{
    set_type(kClassName);
}

void FeedbackDeviceClass::setBridge(RemoteBridge* bridge)
{
    theBridge = bridge;
}

FeedbackDeviceClass* FeedbackDeviceClass::instance()
{
    if (!theClass) {
        std::string name = kClassName;
        theClass = new FeedbackDeviceClass(name);
    }
    return theClass;
}

void FeedbackDeviceClass::command_factory()
{
    command_list.push_back(new OperationCommand("FeedbackOn", Operation::FeedbackOn));
    command_list.push_back(new OperationCommand("FeedbackOff", Operation::FeedbackOff));
    command_list.push_back(new OperationCommand("ResetPID", Operation::ResetPid));
}

void FeedbackDeviceClass::attribute_factory(std::vector<Tango::Attr*>& list)
{
    addBpmAttributes(list, 0);
    addBpmAttributes(list, 1);
    addStabilityAttributes(list);

    auto stateProps = properties(nullptr, "Feedback state of the PID controller");
    stateProps.events = true;
    stateProps.labels = labels(feedbackunits::stateText, 4);
    add(list,
        new ScalarAttribute("PidStatus", Tango::DEV_ENUM,
                            [](FeedbackDevice& d, Tango::Attribute& a) {
                                setEnumeration(d, a, d.snapshot().pidStatus, 4);
                            }),
        stateProps);

    auto lastProps = properties(nullptr, "Time (UTC) and cause of the last post-mortem capture "
                                         "since the program started; empty before the first");
    lastProps.events = true;
    add(list,
        new ScalarAttribute("PostMortemLast", Tango::DEV_STRING,
                            [](FeedbackDevice& d, Tango::Attribute& a) {
                                setText(d, a, d.snapshot().postMortemLast);
                            }),
        lastProps);
    auto countProps = properties(nullptr, "Post-mortem captures since the program started", "%d");
    countProps.changeAbs = "1";
    countProps.archiveAbs = "1";
    countProps.events = true;
    add(list,
        new ScalarAttribute("PostMortemCount", Tango::DEV_LONG,
                            [](FeedbackDevice& d, Tango::Attribute& a) {
                                FeedbackDevice::Values& v = d.values(a.get_name());
                                v.count = Tango::DevLong(d.snapshot().postMortemCount);
                                a.set_value(&v.count);
                            }),
        countProps);

    add(list,
        new ScalarAttribute("FeedbackEnabled", Tango::DEV_BOOLEAN,
                            [](FeedbackDevice& d, Tango::Attribute& a) {
                                const int status = d.snapshot().pidStatus;
                                setFlag(d, a, status != zevo::PID_STATUS_OFF,
                                        status >= zevo::PID_STATUS_OFF &&
                                            status <= zevo::PID_STATUS_ON);
                            }),
        [] {
            auto p = properties(nullptr, "The feedback is switched on (it may be held by a fault "
                                         "or missing beam); FeedbackOn and FeedbackOff switch it");
            p.events = true;
            return p;
        }());

    auto modeProps = properties(nullptr, "Loops that regulate: 0 X, 1 X Y, 2 X I0, 3 Y, "
                                         "4 Y I0, 5 X Y I0, 6 I0");
    modeProps.labels = labels(RemoteBridge::modeName, 7);
    add(list,
        new ScalarAttribute(
            "RegulationMode", Tango::DEV_ENUM,
            [](FeedbackDevice& d, Tango::Attribute& a) {
                setEnumeration(d, a, d.snapshot().regulationMode, 7);
            },
            [](FeedbackDevice& d, Tango::WAttribute& w) {
                Tango::DevShort mode = 0;
                w.get_write_value(mode);
                d.perform({Operation::RegulationMode, double(mode)});
            }),
        modeProps);

    struct Setpoint {
        const char* name;
        Operation operation;
        double RemoteSnapshot::*field;
        const char* unit;
        const char* description;
        const char* format;
        double min, max;
    };
    const Setpoint setpoints[] = {
        {"SetpointX", Operation::SetpointX, &RemoteSnapshot::setpointX, "um",
         "Setpoint of the X loop at the BPM that feeds it", "%.3f", -RemoteBridge::kSetpointLimitUm,
         RemoteBridge::kSetpointLimitUm},
        {"SetpointY", Operation::SetpointY, &RemoteSnapshot::setpointY, "um",
         "Setpoint of the Y loop at the BPM that feeds it", "%.3f", -RemoteBridge::kSetpointLimitUm,
         RemoteBridge::kSetpointLimitUm},
        {"SetpointI0", Operation::SetpointI0, &RemoteSnapshot::setpointI0, "A",
         "Setpoint of the intensity loop", "%.4e", 0.0, RemoteBridge::kSetpointI0MaxA},
    };
    for (const Setpoint& s : setpoints) {
        const auto field = s.field;
        const Operation operation = s.operation;
        auto props = properties(s.unit, s.description, s.format);
        // A setpoint changes only when someone sets it: every change counts.
        if (operation == Operation::SetpointI0)
            intensityEvents(props, "0.01", "0.01");
        else
            positionEvents(props, "0.001", "0.001");
        props.min = std::to_string(s.min);
        props.max = std::to_string(s.max);
        add(list,
            new ScalarAttribute(
                s.name, Tango::DEV_DOUBLE,
                [field](FeedbackDevice& d, Tango::Attribute& a) {
                    setNumber(d, a, d.snapshot().*field, d.snapshot().setpointsKnown);
                },
                [operation](FeedbackDevice& d, Tango::WAttribute& w) {
                    d.perform({operation, requested(w)});
                }),
            props);
    }

    add(list,
        new SpectrumAttribute("DacOutputs", Tango::DEV_DOUBLE, 3,
                              [](FeedbackDevice& d, Tango::Attribute& a) {
                                  const RemoteSnapshot& s = d.snapshot();
                                  if (s.dacCount == 0) {
                                      a.set_quality(Tango::ATTR_INVALID);
                                      return;
                                  }
                                  FeedbackDevice::Values& v = d.values(a.get_name());
                                  for (std::size_t k = 0; k < v.dac.size(); ++k)
                                      v.dac[k] = s.dac[k];
                                  a.set_value(v.dac.data(), s.dacCount);
                              }),
        properties("V",
                   "DAC outputs 1 to 3 in the newest display record (two with an "
                   "encoder interface)",
                   "%.4f"));

    add(list,
        new SpectrumAttribute("SfpDeviceIds", Tango::DEV_USHORT, 4,
                              [](FeedbackDevice& d, Tango::Attribute& a) {
                                  FeedbackDevice::Values& v = d.values(a.get_name());
                                  for (std::size_t k = 0; k < 4; ++k)
                                      v.slotIds[k] = d.snapshot().slotIds[k];
                                  a.set_value(v.slotIds.data(), 4);
                              }),
        properties(nullptr, "Device identifier in SFP slots A to D (0: empty)", "0x%04x"));

    add(list,
        new SpectrumAttribute("SfpDevices", Tango::DEV_STRING, 4,
                              [](FeedbackDevice& d, Tango::Attribute& a) {
                                  FeedbackDevice::Values& v = d.values(a.get_name());
                                  for (std::size_t k = 0; k < 4; ++k) {
                                      v.slotNames[k] = d.snapshot().slotNames[k].toStdString();
                                      v.slotNamePointers[k] =
                                          const_cast<char*>(v.slotNames[k].c_str());
                                  }
                                  a.set_value(v.slotNamePointers.data(), 4);
                              }),
        properties(nullptr, "Device in SFP slots A to D as the device catalogue names it "
                            "(empty: no device, or one the catalogue does not list)"));

    struct Version {
        const char* name;
        QString RemoteSnapshot::*field;
        const char* description;
    };
    const Version versions[] = {
        {"HardwareTimestamp", &RemoteSnapshot::hwTimestamp, "Controller hardware timestamp"},
        {"SoftwareVersion", &RemoteSnapshot::swVersion, "Controller software version"},
        {"PidVersion", &RemoteSnapshot::pidVersion, "Controller PID version"},
    };
    for (const Version& version : versions) {
        const auto field = version.field;
        add(list,
            new ScalarAttribute(version.name, Tango::DEV_STRING,
                                [field](FeedbackDevice& d, Tango::Attribute& a) {
                                    setText(d, a, d.snapshot().*field);
                                }),
            properties(nullptr, version.description));
    }

    auto levelProps = properties(nullptr, "User level of the local operator (read only)");
    levelProps.labels = labels(zevo::userLevelName, zevo::LevelAdmin + 1);
    add(list,
        new ScalarAttribute("UserLevel", Tango::DEV_ENUM,
                            [](FeedbackDevice& d, Tango::Attribute& a) {
                                setEnumeration(d, a, d.snapshot().userLevel, zevo::LevelAdmin + 1);
                            }),
        levelProps);

    add(list,
        new ScalarAttribute("ControlAllowed", Tango::DEV_BOOLEAN,
                            [](FeedbackDevice& d, Tango::Attribute& a) {
                                setFlag(d, a, d.snapshot().controlAllowed);
                            }),
        properties(nullptr, "Remote clients may switch the feedback and change setpoints "
                            "and mode; set by the local administrator only"));
}

void FeedbackDeviceClass::setServedDevice(const std::string& name)
{
    servedDevice = name;
}

void FeedbackDeviceClass::device_factory(const Tango::DevVarStringArray* names)
{
    for (CORBA::ULong i = 0; i < names->length(); ++i) {
        const std::string name((*names)[i]);
        // A database may list more devices of the class for this server
        // (an old device name, say); only the configured one is the feedback.
        if (::strcasecmp(name.c_str(), servedDevice.c_str()) != 0) {
            std::fprintf(stderr,
                         "Remote access: the device %s is not served; this program "
                         "serves %s\n",
                         name.c_str(), servedDevice.c_str());
            continue;
        }
        auto* device = new FeedbackDevice(this, name, theBridge);
        device_list.push_back(device);
        // Without a database the device is exported under its own name.
        export_device(device, name.c_str());
    }
}

// The server's one class, asked for by the control system library.
void Tango::DServer::class_factory()
{
    add_class(FeedbackDeviceClass::instance());
}
