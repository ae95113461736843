#pragma once

// Reads a NeXus file back with the HDF5 C library, independently of the
// program's writer: groups, attributes, string and number fields, shapes.
// Anything missing or of the wrong kind reads as empty / NaN, so that a
// QCOMPARE shows what was found.

#include <QFile>
#include <QString>
#include <QStringList>

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
    NexusReader(const NexusReader&) = delete;
    NexusReader& operator=(const NexusReader&) = delete;

    bool isOpen() const { return m_file >= 0; }

    bool exists(const QString& path) const
    {
        if (!isOpen())
            return false;
        const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        QString at;
        for (const QString& part : parts) {
            at += QLatin1Char('/') + part;
            if (H5Lexists(m_file, at.toUtf8().constData(), H5P_DEFAULT) <= 0)
                return false;
        }
        return true;
    }

    // Names of the members of a group, sorted.
    QStringList children(const QString& path) const
    {
        QStringList names;
        if (!exists(path) && path != "/"_q)
            return names;
        const hid_t g = H5Gopen2(m_file, path.toUtf8().constData(), H5P_DEFAULT);
        if (g < 0)
            return names;
        H5Literate(
            g, H5_INDEX_NAME, H5_ITER_INC, nullptr,
            [](hid_t, const char* name, const H5L_info_t*, void* data) -> herr_t {
                static_cast<QStringList*>(data)->append(QString::fromUtf8(name));
                return 0;
            },
            &names);
        H5Gclose(g);
        return names;
    }

    // A scalar string attribute; also says whether it is stored as a
    // variable-length UTF-8 string.
    QString text(const QString& path, const QString& attribute, bool* utf8 = nullptr) const
    {
        const QStringList v = strings(path, attribute, utf8);
        return v.size() == 1 ? v[0] : QString();
    }
    QStringList strings(const QString& path, const QString& attribute, bool* utf8 = nullptr) const
    {
        QStringList out;
        const hid_t a = openAttribute(path, attribute);
        if (a < 0)
            return out;
        const hid_t type = H5Aget_type(a);
        const hid_t space = H5Aget_space(a);
        out = readStrings(type, space,
                          [a](hid_t memType, void* buffer) { return H5Aread(a, memType, buffer); });
        if (utf8)
            *utf8 = H5Tis_variable_str(type) > 0 && H5Tget_cset(type) == H5T_CSET_UTF8;
        H5Sclose(space);
        H5Tclose(type);
        H5Aclose(a);
        return out;
    }
    long long integerAttribute(const QString& path, const QString& attribute) const
    {
        long long value = -999999;
        const hid_t a = openAttribute(path, attribute);
        if (a < 0)
            return value;
        H5Aread(a, H5T_NATIVE_LLONG, &value);
        H5Aclose(a);
        return value;
    }

    // A scalar string field.
    QString text(const QString& path, bool* utf8 = nullptr) const
    {
        QStringList out;
        if (!exists(path))
            return QString();
        const hid_t d = H5Dopen2(m_file, path.toUtf8().constData(), H5P_DEFAULT);
        const hid_t type = H5Dget_type(d);
        const hid_t space = H5Dget_space(d);
        if (H5Tget_class(type) == H5T_STRING)
            out = readStrings(type, space, [d](hid_t memType, void* buffer) {
                return H5Dread(d, memType, H5S_ALL, H5S_ALL, H5P_DEFAULT, buffer);
            });
        if (utf8)
            *utf8 = H5Tis_variable_str(type) > 0 && H5Tget_cset(type) == H5T_CSET_UTF8;
        H5Sclose(space);
        H5Tclose(type);
        H5Dclose(d);
        return out.size() == 1 ? out[0] : QString();
    }

    // The dimensions of a field ({} for a scalar, empty too when missing).
    std::vector<hsize_t> shape(const QString& path) const
    {
        std::vector<hsize_t> dims;
        if (!exists(path))
            return dims;
        const hid_t d = H5Dopen2(m_file, path.toUtf8().constData(), H5P_DEFAULT);
        const hid_t space = H5Dget_space(d);
        dims.resize(std::size_t(std::max(0, H5Sget_simple_extent_ndims(space))));
        H5Sget_simple_extent_dims(space, dims.data(), nullptr);
        H5Sclose(space);
        H5Dclose(d);
        return dims;
    }
    // Whether a field is stored as 64-bit floats.
    bool isFloat64(const QString& path) const { return classAndSize(path) == 1008; }
    bool isInt64(const QString& path) const { return classAndSize(path) == 8; }

    // Every element of a numeric field, row-major, as doubles.
    std::vector<double> values(const QString& path) const
    {
        std::vector<double> out;
        if (!exists(path))
            return out;
        const hid_t d = H5Dopen2(m_file, path.toUtf8().constData(), H5P_DEFAULT);
        const hid_t space = H5Dget_space(d);
        out.resize(std::size_t(H5Sget_simple_extent_npoints(space)));
        if (!out.empty())
            H5Dread(d, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, out.data());
        H5Sclose(space);
        H5Dclose(d);
        return out;
    }
    double number(const QString& path) const
    {
        const std::vector<double> v = values(path);
        return v.size() == 1 ? v[0] : std::nan("");
    }

private:
    hid_t openAttribute(const QString& path, const QString& attribute) const
    {
        if (!isOpen() || (path != "/"_q && !exists(path)))
            return -1;
        if (H5Aexists_by_name(m_file, path.toUtf8().constData(), attribute.toUtf8().constData(),
                              H5P_DEFAULT) <= 0)
            return -1;
        return H5Aopen_by_name(m_file, path.toUtf8().constData(), attribute.toUtf8().constData(),
                               H5P_DEFAULT, H5P_DEFAULT);
    }

    template <typename Read> static QStringList readStrings(hid_t type, hid_t space, Read read)
    {
        QStringList out;
        const hssize_t n = H5Sget_simple_extent_npoints(space);
        if (H5Tis_variable_str(type) <= 0 || n < 0)
            return out;
        std::vector<char*> buffer(std::size_t(n), nullptr);
        const hid_t memType = H5Tcopy(H5T_C_S1);
        H5Tset_size(memType, H5T_VARIABLE);
        H5Tset_cset(memType, H5T_CSET_UTF8);
        if (read(memType, buffer.data()) >= 0)
            for (char* s : buffer) {
                out << QString::fromUtf8(s);
                H5free_memory(s);
            }
        H5Tclose(memType);
        return out;
    }

    // 1000 x float flag + size in bytes, for a short comparison.
    int classAndSize(const QString& path) const
    {
        if (!exists(path))
            return -1;
        const hid_t d = H5Dopen2(m_file, path.toUtf8().constData(), H5P_DEFAULT);
        const hid_t type = H5Dget_type(d);
        const int result = (H5Tget_class(type) == H5T_FLOAT ? 1000 : 0) + int(H5Tget_size(type));
        H5Tclose(type);
        H5Dclose(d);
        return result;
    }

    hid_t m_file = -1;
};
