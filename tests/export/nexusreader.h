#pragma once

// Reads a NeXus file back with the HDF5 C library, independently of the
// program's writer: groups, attributes, string and number fields, shapes.
// Anything missing or of the wrong kind reads as empty / NaN, so that a
// QCOMPARE shows what was found.

#include <QFile>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include <hdf5.h>

// A QString from a literal, short enough to keep paths and names readable.
inline QString operator"" _q(const char* text, std::size_t size)
{
    return QString::fromUtf8(text, int(size));
}

class NexusReader
{
public:
    explicit NexusReader(const QString& path)
    {
        H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
        m_file = H5Fopen(QFile::encodeName(path).constData(), H5F_ACC_RDONLY, H5P_DEFAULT);
    }
    ~NexusReader()
    {
        if (m_file >= 0)
            H5Fclose(m_file);
    }

    // A missing group on the way fails the lookup (silently): not there either.
    bool exists(const QString& path) const
    {
        return m_file >= 0 &&
               (path == "/"_q || H5Lexists(m_file, path.toUtf8().constData(), H5P_DEFAULT) > 0);
    }

    // Names of the members of a group, sorted.
    QStringList children(const QString& path) const
    {
        QStringList names;
        if (exists(path))
            H5Literate_by_name(
                m_file, path.toUtf8().constData(), H5_INDEX_NAME, H5_ITER_INC, nullptr,
                [](hid_t, const char* name, const H5L_info_t*, void* data) -> herr_t {
                    static_cast<QStringList*>(data)->append(QString::fromUtf8(name));
                    return 0;
                },
                &names, H5P_DEFAULT);
        return names;
    }

    // A scalar string attribute or field (no attribute), or an array of them;
    // also says whether it is stored as a variable-length UTF-8 string.
    QString text(const QString& path, const QString& attribute = {}, bool* utf8 = nullptr) const
    {
        const QStringList v = strings(path, attribute, utf8);
        return v.size() == 1 ? v[0] : QString();
    }
    QStringList strings(const QString& path, const QString& attribute, bool* utf8 = nullptr) const
    {
        QStringList out;
        const hid_t o = open(path, attribute);
        if (o < 0)
            return out;
        const hid_t type = attribute.isEmpty() ? H5Dget_type(o) : H5Aget_type(o);
        const bool variable = H5Tis_variable_str(type) > 0;
        if (utf8)
            *utf8 = variable && H5Tget_cset(type) == H5T_CSET_UTF8;
        std::vector<char*> buffer(points(o, attribute), nullptr);
        const hid_t memType = H5Tcopy(H5T_C_S1);
        H5Tset_size(memType, H5T_VARIABLE);
        H5Tset_cset(memType, H5T_CSET_UTF8);
        if (variable && read(o, attribute, memType, buffer.data()))
            for (char* s : buffer) {
                out << QString::fromUtf8(s);
                H5free_memory(s);
            }
        H5Tclose(memType);
        H5Tclose(type);
        attribute.isEmpty() ? H5Dclose(o) : H5Aclose(o);
        return out;
    }

    // Every element of a numeric field (or attribute), row-major, as doubles.
    std::vector<double> values(const QString& path, const QString& attribute = QString()) const
    {
        std::vector<double> out;
        const hid_t o = open(path, attribute);
        if (o < 0)
            return out;
        out.resize(points(o, attribute));
        if (!out.empty() && !read(o, attribute, H5T_NATIVE_DOUBLE, out.data()))
            out.clear();
        attribute.isEmpty() ? H5Dclose(o) : H5Aclose(o);
        return out;
    }
    double number(const QString& path) const
    {
        const std::vector<double> v = values(path);
        return v.size() == 1 ? v[0] : std::nan("");
    }

    // The dimensions of a field ({} for a scalar, empty too when missing).
    std::vector<hsize_t> shape(const QString& path) const
    {
        std::vector<hsize_t> dims;
        const hid_t d = open(path, QString());
        if (d < 0)
            return dims;
        const hid_t space = H5Dget_space(d);
        dims.resize(std::size_t(std::max(0, H5Sget_simple_extent_ndims(space))));
        H5Sget_simple_extent_dims(space, dims.data(), nullptr);
        H5Sclose(space);
        H5Dclose(d);
        return dims;
    }

private:
    // The named attribute of the object at `path`, or with no attribute the
    // field at `path`; negative when missing.
    hid_t open(const QString& path, const QString& attribute) const
    {
        const QByteArray p = path.toUtf8(), a = attribute.toUtf8();
        if (!exists(path))
            return -1;
        if (attribute.isEmpty())
            return H5Dopen2(m_file, p.constData(), H5P_DEFAULT);
        return H5Aexists_by_name(m_file, p.constData(), a.constData(), H5P_DEFAULT) > 0
                   ? H5Aopen_by_name(m_file, p.constData(), a.constData(), H5P_DEFAULT, H5P_DEFAULT)
                   : -1;
    }
    static std::size_t points(hid_t o, const QString& attribute)
    {
        const hid_t space = attribute.isEmpty() ? H5Dget_space(o) : H5Aget_space(o);
        const hssize_t n = H5Sget_simple_extent_npoints(space);
        H5Sclose(space);
        return std::size_t(std::max<hssize_t>(0, n));
    }
    static bool read(hid_t o, const QString& attribute, hid_t memType, void* to)
    {
        return (attribute.isEmpty() ? H5Dread(o, memType, H5S_ALL, H5S_ALL, H5P_DEFAULT, to)
                                    : H5Aread(o, memType, to)) >= 0;
    }

    hid_t m_file = -1;
};
