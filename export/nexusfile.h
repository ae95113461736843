#pragma once

// One NeXus file on HDF5 being written: groups with their NX_class, fields
// (datasets) with units and long names, and attributes, each addressed by
// its path inside the file ("/entry/data/time").
//
// The HDF5 library builds the file in memory. Only commit() writes it out,
// to a hidden temporary file beside the final one, and renames that onto the
// final name once every byte is on the disk; a writer destroyed without a
// successful commit leaves the disk untouched. So a full disk, a crash or a
// refused write never leaves a half-written file under the final name, and
// an existing file keeps its contents. Appending reads the existing file
// into memory and adds to that copy.
//
// The first failure is kept: every later call does nothing and returns
// false, and error() holds a sentence for the operator. A writer can thus
// write everything and look once, at commit().

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

class NexusFile
{
public:
    enum class Mode {
        Create, // a new file, replacing whatever is at the path on commit
        Append  // the existing file with what is added, replacing it on commit
    };

    // The file dialogs' filter for NeXus files.
    static const QString kFileFilter;
    // True for a path ending in ".nxs" (any case): such a path gets a NeXus
    // file, every other one the CSV file of its window.
    static bool isNexusPath(const QString& path);

    explicit NexusFile(const QString& path, Mode mode = Mode::Create);
    ~NexusFile();
    NexusFile(const NexusFile&) = delete;
    NexusFile& operator=(const NexusFile&) = delete;

    bool ok() const { return m_error.isEmpty(); }
    const QString& error() const { return m_error; }
    const QString& path() const { return m_path; }

    bool exists(const QString& objectPath);
    // The first of "entry", "entry2", "entry3", ... not yet at the root.
    QString nextEntryName();

    bool group(const QString& path, const QString& nxClass);
    // Scalar fields: a UTF-8 string, a float64 and an int64.
    bool text(const QString& path, const QString& value);
    bool number(const QString& path, double value, const QString& units = QString(),
                const QString& longName = QString());
    bool integer(const QString& path, int64_t value, const QString& longName = QString());
    // A float64 field of values.size() elements.
    bool values(const QString& path, const std::vector<double>& values,
                const QString& units = QString(), const QString& longName = QString());
    // A float64 field of rows x columns, row-major (element columns * r + c).
    bool grid(const QString& path, const std::vector<double>& values, int rows, int columns,
              const QString& units = QString(), const QString& longName = QString());

    // Attributes of the group or field at `path` ("/" for the root); an
    // attribute of that name is replaced.
    bool attribute(const QString& path, const QString& name, const QString& value);
    bool attribute(const QString& path, const QString& name, const QStringList& values);
    bool attribute(const QString& path, const QString& name, int64_t value);

    // Closes the file and puts it under the final name. False (with error())
    // when anything failed, now or before; then nothing was put there.
    bool commit();

private:
    // Puts the finished image under the final name.
    bool store(const QByteArray& image);
    bool fail(const QString& what);
    bool floats(const QString& path, const std::vector<double>& values,
                const std::vector<unsigned long long>& dims, const QString& units,
                const QString& longName);
    void discard();

    QString m_path;
    QString m_temporary; // while store() writes it
    Mode m_mode;
    int64_t m_file = -1; // the HDF5 file identifier
    QString m_error;
};
