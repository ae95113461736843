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
        QString at;
        for (const QString& part : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
            at += QLatin1Char('/') + part;
            if (!isOpen() || H5Lexists(m_file, at.toUtf8().constData(), H5P_DEFAULT) <= 0)
                return false;
        }
        return isOpen();
    }

    // Names of the members of a group, sorted.
    QStringList children(const QString& path) const
    {
        QStringList names;
        const hid_t g =
            exists(path) ? H5Gopen2(m_file, path.toUtf8().constData(), H5P_DEFAULT) : -1;
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

    // A scalar string attribute, or an array of them; also says whether it is
    // stored as a variable-length UTF-8 string.
    QString text(const QString& path, const QString& attribute, bool* utf8 = nullptr) const
    {
        const QStringList v = strings(path, attribute, utf8);
        return v.size() == 1 ? v[0] : QString();
    }
    QStringList strings(const QString& path, const QString& attribute, bool* utf8 = nullptr) const
    {
        const hid_t a = openAttribute(path, attribute);
        if (a < 0)
            return {};
        const QStringList out =
            readStrings(H5Aget_type(a), H5Aget_space(a), utf8,
                        [a](hid_t type, void* to) { return H5Aread(a, type, to); });
        H5Aclose(a);
        return out;
    }
    long long integerAttribute(const QString& path, const QString& attribute) const
    {
        long long value = -999999;
        const hid_t a = openAttribute(path, attribute);
        if (a >= 0) {
            H5Aread(a, H5T_NATIVE_LLONG, &value);
            H5Aclose(a);
        }
        return value;
    }

    // A scalar string field.
    QString text(const QString& path, bool* utf8 = nullptr) const
    {
        QStringList out;
        withField(path, [&](hid_t d) {
            out = readStrings(H5Dget_type(d), H5Dget_space(d), utf8, [d](hid_t type, void* to) {
                return H5Dread(d, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, to);
            });
        });
        return out.size() == 1 ? out[0] : QString();
    }

    // The dimensions of a field ({} for a scalar, empty too when missing).
    std::vector<hsize_t> shape(const QString& path) const
    {
        std::vector<hsize_t> dims;
        withField(path, [&](hid_t d) {
            const hid_t space = H5Dget_space(d);
            dims.resize(std::size_t(std::max(0, H5Sget_simple_extent_ndims(space))));
            H5Sget_simple_extent_dims(space, dims.data(), nullptr);
            H5Sclose(space);
        });
        return dims;
    }
    // Whether a field is stored as 64-bit floats, or 64-bit integers.
    bool isFloat64(const QString& path) const { return classAndSize(path) == 1008; }
    bool isInt64(const QString& path) const { return classAndSize(path) == 8; }

    // Every element of a numeric field, row-major, as doubles.
    std::vector<double> values(const QString& path) const
    {
        std::vector<double> out;
        withField(path, [&](hid_t d) {
            const hid_t space = H5Dget_space(d);
            out.resize(std::size_t(H5Sget_simple_extent_npoints(space)));
            if (!out.empty())
                H5Dread(d, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, out.data());
            H5Sclose(space);
        });
        return out;
    }
    double number(const QString& path) const
    {
        const std::vector<double> v = values(path);
        return v.size() == 1 ? v[0] : std::nan("");
    }

private:
    template <typename Use> void withField(const QString& path, Use use) const
    {
        if (!exists(path))
            return;
        const hid_t d = H5Dopen2(m_file, path.toUtf8().constData(), H5P_DEFAULT);
        use(d);
        H5Dclose(d);
    }

    hid_t openAttribute(const QString& path, const QString& attribute) const
    {
        if (!exists(path) || H5Aexists_by_name(m_file, path.toUtf8().constData(),
                                               attribute.toUtf8().constData(), H5P_DEFAULT) <= 0)
            return -1;
        return H5Aopen_by_name(m_file, path.toUtf8().constData(), attribute.toUtf8().constData(),
                               H5P_DEFAULT, H5P_DEFAULT);
    }

    // Reads variable-length strings (nothing else) and closes type and space.
    template <typename Read>
    static QStringList readStrings(hid_t type, hid_t space, bool* utf8, Read read)
    {
        QStringList out;
        const hssize_t n = H5Sget_simple_extent_npoints(space);
        const bool variable = H5Tis_variable_str(type) > 0;
        if (utf8)
            *utf8 = variable && H5Tget_cset(type) == H5T_CSET_UTF8;
        if (variable && n >= 0) {
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
        }
        H5Sclose(space);
        H5Tclose(type);
        return out;
    }

    // 1000 x float flag + size in bytes, for a short comparison.
    int classAndSize(const QString& path) const
    {
        int result = -1;
        withField(path, [&](hid_t d) {
            const hid_t type = H5Dget_type(d);
            result = (H5Tget_class(type) == H5T_FLOAT ? 1000 : 0) + int(H5Tget_size(type));
            H5Tclose(type);
        });
        return result;
    }

    hid_t m_file = -1;
};
