#include "export/nexusfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include <fcntl.h>
#include <hdf5.h>
#include <sys/stat.h>
#include <unistd.h>

static_assert(std::is_same<hid_t, int64_t>::value, "NexusFile keeps the file as an int64_t");

namespace
{

// One HDF5 identifier, closed with its own function when it goes.
class Id
{
public:
    Id(hid_t id, herr_t (*close)(hid_t)) : m_id(id), m_close(close) {}
    ~Id()
    {
        if (m_id >= 0)
            m_close(m_id);
    }
    Id(const Id&) = delete;
    Id& operator=(const Id&) = delete;

    bool valid() const { return m_id >= 0; }
    operator hid_t() const { return m_id; }

private:
    hid_t m_id;
    herr_t (*m_close)(hid_t);
};

// The innermost message of HDF5's error stack, which names the cause
// ("error message = 'No space left on device'" from the file driver, or
// what the library refused); empty when the stack is empty.
QString hdf5Reason()
{
    QString innermost;
    H5Ewalk2(
        H5E_DEFAULT, H5E_WALK_UPWARD,
        [](unsigned n, const H5E_error2_t* e, void* data) -> herr_t {
            if (n == 0 && e->desc)
                *static_cast<QString*>(data) = QString::fromUtf8(e->desc);
            return 0;
        },
        &innermost);
    const QString marker = QStringLiteral("error message = '");
    const int at = innermost.indexOf(marker);
    if (at >= 0) {
        const int from = at + marker.size();
        return innermost.mid(from, innermost.indexOf(QLatin1Char('\''), from) - from);
    }
    return innermost;
}

// A variable-length UTF-8 string type: h5py and the NeXus readers give
// these back as text, fixed-length ones as bytes.
hid_t utf8Type()
{
    const hid_t type = H5Tcopy(H5T_C_S1);
    H5Tset_size(type, H5T_VARIABLE);
    H5Tset_cset(type, H5T_CSET_UTF8);
    return type;
}

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Permissions for a new file, as a plain open() would give them.
mode_t newFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

bool writeAll(int fd, const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, std::size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

} // namespace

const QString NexusFile::kFileFilter = QStringLiteral("NeXus files (*.nxs)");

bool NexusFile::isNexusPath(const QString& path)
{
    return path.endsWith(QStringLiteral(".nxs"), Qt::CaseInsensitive);
}

NexusFile::NexusFile(const QString& path, Mode mode) : m_path(path), m_mode(mode)
{
    // Failures are reported to the operator through error(); HDF5's own
    // printing to the terminal would only repeat them.
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);

    // The file is built in memory and reaches the disk only in commit(): a
    // write that fails there leaves the library nothing half-written to
    // clean up, and the file to append to is never opened for writing.
    const Id access(H5Pcreate(H5P_FILE_ACCESS), H5Pclose);
    H5Pset_fapl_core(access, 1 << 20, false);
    // Closing the file closes whatever is still open in it.
    H5Pset_fclose_degree(access, H5F_CLOSE_STRONG);
    const QByteArray name = QFile::encodeName(path);
    if (mode == Mode::Append) {
        QFile original(path);
        QByteArray image;
        if (original.open(QIODevice::ReadOnly))
            image = original.readAll();
        if (original.error() != QFileDevice::NoError) {
            fail(QStringLiteral("the existing file could not be read (%1)")
                     .arg(original.errorString()));
            return;
        }
        // The library opens an image only under a name that no file has: it
        // must not mistake the image for the file of that name.
        if (H5Pset_file_image(access, image.data(), std::size_t(image.size())) >= 0)
            m_file = H5Fopen("/dev/null/image", H5F_ACC_RDWR, access);
        if (m_file < 0)
            fail(QStringLiteral("the existing file is not a NeXus (HDF5) file"));
    } else {
        m_file = H5Fcreate(name.constData(), H5F_ACC_TRUNC, H5P_DEFAULT, access);
        if (m_file < 0)
            fail(QStringLiteral("the HDF5 library could not create it (%1)").arg(hdf5Reason()));
    }
}

NexusFile::~NexusFile()
{
    discard();
}

bool NexusFile::fail(const QString& what)
{
    if (!ok())
        return false;
    m_error = QStringLiteral("The NeXus file %1 could not be written: %2.\n\n")
                  .arg(QDir::toNativeSeparators(m_path), what) +
              (m_mode == Mode::Append
                   ? QStringLiteral("Nothing was appended; the file keeps its previous contents.")
                   : QStringLiteral("Nothing was saved under that name; a file that was there "
                                    "before is unchanged."));
    discard();
    return false;
}

void NexusFile::discard()
{
    if (m_file >= 0) {
        H5Fclose(m_file);
        m_file = -1;
    }
    if (!m_temporary.isEmpty()) {
        ::unlink(QFile::encodeName(m_temporary).constData());
        m_temporary.clear();
    }
}

bool NexusFile::exists(const QString& objectPath)
{
    if (!ok())
        return false;
    const QByteArray p = objectPath.toUtf8();
    // H5Lexists needs every group on the way to exist, so walk down.
    int from = 1;
    while (true) {
        const int slash = p.indexOf('/', from);
        const QByteArray part = slash < 0 ? p : p.left(slash);
        if (H5Lexists(m_file, part.constData(), H5P_DEFAULT) <= 0)
            return false;
        if (slash < 0)
            return true;
        from = slash + 1;
    }
}

QString NexusFile::nextEntryName()
{
    if (!exists(QStringLiteral("/entry")))
        return QStringLiteral("entry");
    for (int n = 2;; ++n) {
        const QString name = QStringLiteral("entry%1").arg(n);
        if (!exists(QLatin1Char('/') + name))
            return name;
    }
}

bool NexusFile::group(const QString& path, const QString& nxClass)
{
    if (!ok())
        return false;
    {
        const Id g(
            H5Gcreate2(m_file, path.toUtf8().constData(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
            H5Gclose);
        if (!g.valid())
            return fail(
                QStringLiteral("the group %1 could not be created (%2)").arg(path, hdf5Reason()));
    }
    return attribute(path, QStringLiteral("NX_class"), nxClass);
}

bool NexusFile::text(const QString& path, const QString& value)
{
    if (!ok())
        return false;
    const Id type(utf8Type(), H5Tclose);
    const Id space(H5Screate(H5S_SCALAR), H5Sclose);
    const Id set(H5Dcreate2(m_file, path.toUtf8().constData(), type, space, H5P_DEFAULT,
                            H5P_DEFAULT, H5P_DEFAULT),
                 H5Dclose);
    const QByteArray utf8 = value.toUtf8();
    const char* data = utf8.constData();
    if (!set.valid() || H5Dwrite(set, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, &data) < 0)
        return fail(
            QStringLiteral("the field %1 could not be written (%2)").arg(path, hdf5Reason()));
    return true;
}

bool NexusFile::number(const QString& path, double value, const QString& units,
                       const QString& longName)
{
    return floats(path, {value}, {}, units, longName);
}

bool NexusFile::integer(const QString& path, int64_t value, const QString& longName)
{
    if (!ok())
        return false;
    {
        const Id space(H5Screate(H5S_SCALAR), H5Sclose);
        const Id set(H5Dcreate2(m_file, path.toUtf8().constData(), H5T_STD_I64LE, space,
                                H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
                     H5Dclose);
        if (!set.valid() ||
            H5Dwrite(set, H5T_NATIVE_INT64, H5S_ALL, H5S_ALL, H5P_DEFAULT, &value) < 0)
            return fail(
                QStringLiteral("the field %1 could not be written (%2)").arg(path, hdf5Reason()));
    }
    return longName.isEmpty() || attribute(path, QStringLiteral("long_name"), longName);
}

bool NexusFile::values(const QString& path, const std::vector<double>& values, const QString& units,
                       const QString& longName)
{
    return floats(path, values, {values.size()}, units, longName);
}

bool NexusFile::grid(const QString& path, const std::vector<double>& values, int rows, int columns,
                     const QString& units, const QString& longName)
{
    if (rows < 0 || columns < 0 || values.size() != std::size_t(rows) * std::size_t(columns))
        return fail(QStringLiteral("the field %1 does not hold %2 x %3 values")
                        .arg(path)
                        .arg(rows)
                        .arg(columns));
    return floats(path, values, {(unsigned long long)rows, (unsigned long long)columns}, units,
                  longName);
}

bool NexusFile::floats(const QString& path, const std::vector<double>& values,
                       const std::vector<unsigned long long>& dims, const QString& units,
                       const QString& longName)
{
    if (!ok())
        return false;
    {
        std::vector<hsize_t> extent(dims.begin(), dims.end());
        const Id space(dims.empty() ? H5Screate(H5S_SCALAR)
                                    : H5Screate_simple(int(extent.size()), extent.data(), nullptr),
                       H5Sclose);
        const Id set(H5Dcreate2(m_file, path.toUtf8().constData(), H5T_IEEE_F64LE, space,
                                H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
                     H5Dclose);
        // An empty field (a save of no samples) has nothing to write.
        const bool written =
            set.valid() && (values.empty() || H5Dwrite(set, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL,
                                                       H5P_DEFAULT, values.data()) >= 0);
        if (!written)
            return fail(
                QStringLiteral("the field %1 could not be written (%2)").arg(path, hdf5Reason()));
    }
    if (!units.isEmpty() && !attribute(path, QStringLiteral("units"), units))
        return false;
    return longName.isEmpty() || attribute(path, QStringLiteral("long_name"), longName);
}

namespace
{
// Writes one attribute of `type` and `space` to the object at `path`,
// replacing one of the same name.
bool writeAttribute(hid_t file, const QString& path, const QString& name, hid_t fileType,
                    hid_t memoryType, hid_t space, const void* data)
{
    const Id object(H5Oopen(file, path.toUtf8().constData(), H5P_DEFAULT), H5Oclose);
    if (!object.valid())
        return false;
    const QByteArray key = name.toUtf8();
    if (H5Aexists(object, key.constData()) > 0 && H5Adelete(object, key.constData()) < 0)
        return false;
    const Id attribute(
        H5Acreate2(object, key.constData(), fileType, space, H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
    return attribute.valid() && H5Awrite(attribute, memoryType, data) >= 0;
}
} // namespace

bool NexusFile::attribute(const QString& path, const QString& name, const QString& value)
{
    if (!ok())
        return false;
    const Id type(utf8Type(), H5Tclose);
    const Id space(H5Screate(H5S_SCALAR), H5Sclose);
    const QByteArray utf8 = value.toUtf8();
    const char* data = utf8.constData();
    if (!writeAttribute(m_file, path, name, type, type, space, &data))
        return fail(QStringLiteral("the attribute %1 of %2 could not be written (%3)")
                        .arg(name, path, hdf5Reason()));
    return true;
}

bool NexusFile::attribute(const QString& path, const QString& name, const QStringList& values)
{
    if (!ok())
        return false;
    const Id type(utf8Type(), H5Tclose);
    const hsize_t count = hsize_t(values.size());
    const Id space(H5Screate_simple(1, &count, nullptr), H5Sclose);
    std::vector<QByteArray> utf8;
    std::vector<const char*> data;
    for (const QString& v : values)
        utf8.push_back(v.toUtf8());
    for (const QByteArray& v : utf8)
        data.push_back(v.constData());
    if (!writeAttribute(m_file, path, name, type, type, space, data.data()))
        return fail(QStringLiteral("the attribute %1 of %2 could not be written (%3)")
                        .arg(name, path, hdf5Reason()));
    return true;
}

bool NexusFile::attribute(const QString& path, const QString& name, int64_t value)
{
    if (!ok())
        return false;
    const Id space(H5Screate(H5S_SCALAR), H5Sclose);
    if (!writeAttribute(m_file, path, name, H5T_STD_I64LE, H5T_NATIVE_INT64, space, &value))
        return fail(QStringLiteral("the attribute %1 of %2 could not be written (%3)")
                        .arg(name, path, hdf5Reason()));
    return true;
}

bool NexusFile::commit()
{
    if (!ok())
        return false;
    QByteArray image;
    if (H5Fflush(m_file, H5F_SCOPE_GLOBAL) >= 0) {
        const ssize_t size = H5Fget_file_image(m_file, nullptr, 0);
        if (size > 0) {
            image.resize(int(size));
            if (H5Fget_file_image(m_file, image.data(), std::size_t(size)) != size)
                image.clear();
        }
    }
    if (image.isEmpty())
        return fail(
            QStringLiteral("the HDF5 library could not complete it (%1)").arg(hdf5Reason()));
    H5Fclose(m_file);
    m_file = -1;
    return store(image);
}

bool NexusFile::store(const QByteArray& image)
{
    // A hidden file beside the final one: the rename below is then atomic,
    // and a folder listing never shows a file that is still being written.
    const QFileInfo final(m_path);
    QByteArray pattern =
        QFile::encodeName(final.absoluteDir().filePath(QStringLiteral(".") + final.fileName())) +
        ".XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return fail(QStringLiteral("a new file cannot be created in its folder (%1)")
                        .arg(systemReason(errno)));
    m_temporary = QFile::decodeName(pattern);

    // The file keeps the permissions of the one it replaces; a new one gets
    // those of any new file, not mkstemp's owner-only ones.
    struct stat existing;
    const bool replaces = ::stat(QFile::encodeName(m_path).constData(), &existing) == 0;
    ::fchmod(fd, replaces ? (existing.st_mode & 07777) : newFileMode());

    // On the disk before it takes the final name, so that a power cut
    // cannot leave an empty file there.
    bool written = writeAll(fd, image.constData(), image.size()) && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written)
        return fail(QStringLiteral("the file could not be written to the disk (%1)")
                        .arg(systemReason(error)));
    if (std::rename(QFile::encodeName(m_temporary).constData(),
                    QFile::encodeName(m_path).constData()) != 0)
        return fail(QStringLiteral("the finished file could not take its name (%1)")
                        .arg(systemReason(errno)));
    m_temporary.clear();
    return true;
}
