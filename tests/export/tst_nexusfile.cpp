// The NeXus file writer over the HDF5 library, read back independently:
// what it writes, that the final name only ever holds a complete file, what
// every kind of failure leaves behind (nothing new, the old file as it was)
// and how appending adds an entry to a copy.

#include "export/nexusfile.h"
#include "nexusreader.h"
#include "support/bytes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

#include <sys/resource.h>
#include <sys/stat.h>

namespace
{
void put(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// Every file in the folder, hidden ones too.
QStringList filesIn(const QTemporaryDir& dir)
{
    return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

mode_t modeOf(const QString& path)
{
    struct stat s;
    return ::stat(QFile::encodeName(path).constData(), &s) == 0 ? (s.st_mode & 07777) : 0;
}

// Files may grow to `bytes` while it lives: a write beyond fails as on a
// full disk (EFBIG), without the signal that would end the test.
struct FileSizeLimit {
    rlimit old{};
    void (*handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &old);
        const rlimit limit{bytes, old.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, handler);
    }
};

// A small file of one entry with one field.
void writeFirst(const QString& path)
{
    NexusFile file(path);
    file.group("/entry"_q, "NXentry"_q);
    file.values("/entry/x"_q, {1.0, 2.0, 3.0}, "V"_q);
    QVERIFY2(file.commit(), qPrintable(file.error()));
}
} // namespace

class TestNexusFile : public QObject
{
    Q_OBJECT

private slots:
    // Strings (fields and attributes, scalar and arrays) are variable-length
    // UTF-8 and keep every character; integers keep every bit beyond 32,
    // numbers beyond single precision; an attribute written twice holds the
    // second value. (Number fields with their shapes, units and long names,
    // grids, empty fields and index attributes are read back from every
    // writer in tst_nexuswriters.)
    void written_readBackAsWritten()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("all.nxs"_q);
        const QString text = "Strahl bei 5 \u00b5m, Gr\u00f6\u00dfe\nzweite Zeile"_q;
        {
            NexusFile file(path);
            const bool written =
                file.ok() && file.group("/entry"_q, "NXentry"_q) &&
                file.group("/entry/data"_q, "NXdata"_q) && file.text("/entry/title"_q, text) &&
                file.integer("/entry/count"_q, -(int64_t(1) << 40), "a count"_q) &&
                file.values("/entry/data/x"_q, {0.1, -2e-9, 1e300}, "um"_q) &&
                file.attribute("/entry/data"_q, "axes"_q, QStringList{"x"_q, "\u00b5"_q}) &&
                file.attribute("/"_q, "default"_q, "first"_q) &&
                file.attribute("/"_q, "default"_q, "entry"_q);
            QVERIFY2(written, qPrintable(file.error()));
            QVERIFY(file.exists("/entry/data/x"_q) && !file.exists("/entry/nothing/x"_q));
            QCOMPARE(file.nextEntryName(), "entry2"_q);
            QVERIFY2(file.commit(), qPrintable(file.error()));
        }

        NexusReader r(path);
        bool utf8[3] = {};
        QCOMPARE(QStringList({r.text("/entry"_q, "NX_class"_q, &utf8[0]),
                              r.text("/entry/title"_q, &utf8[1]), r.text("/"_q, "default"_q)}) +
                     r.strings("/entry/data"_q, "axes"_q, &utf8[2]),
                 (QStringList{"NXentry"_q, text, "entry"_q, "x"_q, "\u00b5"_q}));
        QVERIFY(utf8[0] && utf8[1] && utf8[2]);
        QCOMPARE(r.number("/entry/count"_q), -double(int64_t(1) << 40));
        QCOMPARE(r.values("/entry/data/x"_q), (std::vector<double>{0.1, -2e-9, 1e300}));
    }

    // Until commit() the folder holds what it held; afterwards only the
    // finished file is there, with the permissions of the file it replaced,
    // or those of any new file.
    void commit_isTheOnlyWayToTheFinalName()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("run.nxs"_q);
        put(path, "old contents");
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        {
            NexusFile file(path);
            file.group("/entry"_q, "NXentry"_q);
            QCOMPARE(fileText(path), QByteArray("old contents"));
            QCOMPARE(filesIn(dir), QStringList{"run.nxs"_q});
            QVERIFY2(file.commit(), qPrintable(file.error()));
        }
        QCOMPARE(filesIn(dir), QStringList{"run.nxs"_q});
        QVERIFY(NexusReader(path).exists("/entry"_q));
        QCOMPARE(int(modeOf(path)), 0640);

        const mode_t mask = ::umask(022);
        const QString fresh = dir.filePath("fresh.nxs"_q);
        writeFirst(fresh);
        ::umask(mask);
        QCOMPARE(int(modeOf(fresh)), 0644);
    }

    // Every failure: a sentence naming the file and the cause, every later
    // call refused, and afterwards no file of the writer's in the folder and
    // the old file byte for byte as it was.
    void failure_leavesNothingNewAndTheOldFileIntact_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("cause"); // part of the error
        // clang-format off
        QTest::newRow("folder missing") << "missing"_q << "No such file or directory"_q;
        QTest::newRow("folder is a file") << "notAFolder"_q << "Not a directory"_q;
        QTest::newRow("write refused") << "refused"_q << "/entry/none/x"_q;
        QTest::newRow("file limit mid-write") << "limit"_q << "File too large"_q;
        QTest::newRow("file limit, appending") << "limitAppend"_q << "File too large"_q;
        QTest::newRow("append to a CSV file") << "notHdf5"_q << "not a NeXus (HDF5) file"_q;
        QTest::newRow("never committed") << "abandoned"_q << ""_q;
        // clang-format on
    }
    void failure_leavesNothingNewAndTheOldFileIntact()
    {
        QFETCH(QString, kind);
        QFETCH(QString, cause);
        QTemporaryDir dir;
        const QString old = dir.filePath("old.nxs"_q);
        writeFirst(old);
        if (kind == "notHdf5"_q)
            put(old, "Quorvex ZEVO\r\nZEVO\r\n");
        if (kind == "limitAppend"_q) { // an old file near the limit: the appended one exceeds it
            NexusFile big(old);
            big.values("/big"_q, std::vector<double>(100000, 1.5));
            QVERIFY(big.commit());
        }
        const QByteArray before = fileText(old);
        const QStringList filesBefore = filesIn(dir);
        const QString path = kind == "missing"_q      ? dir.filePath("missing/new.nxs"_q)
                             : kind == "notAFolder"_q ? dir.filePath("old.nxs/new.nxs"_q)
                                                      : old;
        QString error;
        {
            std::unique_ptr<FileSizeLimit> limit;
            if (kind.startsWith("limit"_q))
                limit = std::make_unique<FileSizeLimit>(64 * 1024);
            const bool append = kind == "notHdf5"_q || kind == "limitAppend"_q;
            NexusFile file(path, append ? NexusFile::Mode::Append : NexusFile::Mode::Create);
            file.group("/entry"_q, "NXentry"_q);
            if (kind == "refused"_q)
                QVERIFY(!file.values("/entry/none/x"_q, {1.0}));
            file.grid("/entry/grid"_q, std::vector<double>(64 * 64 * 8, 0.25), 64, 64 * 8);
            if (kind == "abandoned"_q) {
                QVERIFY(file.ok()); // and gone without a commit
            } else {
                QVERIFY(!file.commit() && !file.ok());
                QVERIFY(!file.group("/later"_q, "NXentry"_q));
                error = file.error();
                QVERIFY2(error.contains(cause) && error.contains(QDir::toNativeSeparators(path)),
                         qPrintable(error));
            }
        }
        QCOMPARE(filesIn(dir), filesBefore);
        QCOMPARE(fileText(old), before);
    }

    // Appending adds "entry2", then "entry3", to a copy (the failure rows
    // show the old file untouched when the copy fails); the entries already
    // in the file come through unchanged.
    void append_addsTheNextEntryToACopy()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("log.nxs"_q);
        writeFirst(path);
        for (int n = 2; n <= 3; ++n) {
            NexusFile file(path, NexusFile::Mode::Append);
            const QString entry = QLatin1Char('/') + file.nextEntryName();
            QVERIFY(file.group(entry, "NXentry"_q) && file.values(entry + "/x"_q, {double(n)}));
            QVERIFY2(file.commit(), qPrintable(file.error()));
        }
        NexusReader r(path);
        QCOMPARE(r.children("/"_q), (QStringList{"entry"_q, "entry2"_q, "entry3"_q}));
        QCOMPARE(r.values("/entry/x"_q), (std::vector<double>{1, 2, 3}));
        QCOMPARE(r.values("/entry3/x"_q), (std::vector<double>{3}));
        QCOMPARE(filesIn(dir), QStringList{"log.nxs"_q});
    }
};

QTEST_GUILESS_MAIN(TestNexusFile)
#include "tst_nexusfile.moc"
