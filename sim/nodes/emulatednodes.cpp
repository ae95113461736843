#include "sim/nodes/emulatednodes.h"

#include "device/protocol.h"

#include <umockdev.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace
{
// The bytes each request carries, as the driver copies them.
std::size_t argumentBytes(unsigned long request)
{
    switch (request) {
    case zevo::MBOX_IOC_TRANSFER:
        return sizeof(zevo::MailboxMessage);
    case zevo::MBOX_IOC_READ_STATUS:
        return sizeof(zevo::MailboxStatusBlock);
    case zevo::AMM_IOC_GET_INFO:
        return sizeof(zevo::PicoInfoRecord);
    case zevo::AMM_IOC_READ_CURRENTS:
        return sizeof(zevo::PicoCurrentsRecord);
    case zevo::DAC_IOC_SET_OUTPUTS:
        return sizeof(zevo::DacOutputRecord);
    default:
        return 0;
    }
}
} // namespace

EmulatedNodes::EmulatedNodes(const Scenario& scenario)
    : m_driver(scenario), m_testbed(umockdev_testbed_new()),
      m_handler(UMOCKDEV_IOCTL_BASE(g_object_new(UMOCKDEV_TYPE_IOCTL_BASE, nullptr)))
{
    g_signal_connect(m_handler, "handle-ioctl", G_CALLBACK(onIoctl), this);
    g_signal_connect(m_handler, "handle-read", G_CALLBACK(onRead), this);
    m_driver.prefill(2.0);
    // A node for each device the virtual controller has plugged in (the
    // others do not open): a one-byte plain file, so that its mode can lock
    // it, whose requests go to m_handler.
    for (const char* node : {zevo::kMailboxNode, zevo::kDisplayNode, zevo::kPico0Node,
                             zevo::kPico1Node, zevo::kDacNode}) {
        const int fd = m_driver.open(node, O_RDWR);
        if (fd < 0)
            continue;
        m_fds[node] = fd;
        const std::string name = std::string(node).substr(5);
        const std::string record =
            "P: /devices/zevo/" + name + "\nN: " + name + "=00\nE: SUBSYSTEM=zevo\n";
        umockdev_testbed_add_from_string(m_testbed, record.c_str(), nullptr);
        umockdev_testbed_attach_ioctl(m_testbed, node, m_handler, nullptr);
    }
}

EmulatedNodes::~EmulatedNodes()
{
    for (const auto& node : m_fds)
        umockdev_testbed_detach_ioctl(m_testbed, node.first.c_str(), nullptr);
    g_object_unref(m_handler);
    g_object_unref(m_testbed);
}

QString EmulatedNodes::root() const
{
    gchar* dir = umockdev_testbed_get_root_dir(m_testbed);
    const QString root = QString::fromLocal8Bit(dir);
    g_free(dir);
    return root;
}

void EmulatedNodes::fail(const char* node, int error)
{
    if (error == EACCES)
        ::chmod(qPrintable(root() + QString::fromLatin1(node)), 0);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failing[node] = error;
}

int EmulatedNodes::requests(const char* node, unsigned long request) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_counts.find({node, request});
    return it == m_counts.end() ? 0 : it->second;
}

std::vector<uint32_t> EmulatedNodes::mailboxCommands() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commands;
}

int EmulatedNodes::serve(UMockdevIoctlClient* client, bool read)
{
    const std::string node = umockdev_ioctl_client_get_devnode(client);
    const unsigned long request = read ? 0 : umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    // An ioctl's argument is copied from the program and back when the
    // request ends; a read's bytes only back, as many as were read.
    const std::size_t bytes = argumentBytes(request);
    if (!read)
        arg = bytes ? umockdev_ioctl_data_resolve(arg, 0, bytes, nullptr) : nullptr;
    QByteArray buffer(read ? arg->data_len : 0, '\0');
    int error = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_counts[{node, request}];
        if (m_failing.count(node))
            error = m_failing[node];
        else if (request == zevo::MBOX_IOC_TRANSFER && arg)
            m_commands.push_back(reinterpret_cast<zevo::MailboxMessage*>(arg->data)->command());
    }
    const long result = error ? -1
                        : read
                            ? m_driver.read(m_fds[node], buffer.data(), std::size_t(buffer.size()))
                            : m_driver.ioctl(m_fds[node], request, arg ? arg->data : nullptr);
    if (!error && result < 0)
        error = errno;
    if (read && result > 0)
        umockdev_ioctl_data_update(arg, 0, reinterpret_cast<guint8*>(buffer.data()), int(result));
    umockdev_ioctl_client_complete(client, result, error);
    return TRUE;
}

int EmulatedNodes::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, EmulatedNodes* self)
{
    return self->serve(client, false);
}

int EmulatedNodes::onRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, EmulatedNodes* self)
{
    return self->serve(client, true);
}
