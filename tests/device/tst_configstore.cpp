// The configuration file: the exact lines that the setters write, the values
// that the getters read from a file written by hand, defaults and failed writes.

#include "device/configstore.h"

#include <QtTest>

#include <QTemporaryDir>

#include <tuple>

#include <sys/stat.h>

namespace
{

// Every section of an INI text as "[section] key=value" lines, sorted.
QStringList iniLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines;
    QString section;
    for (const QString& raw : QString::fromUtf8(file.readAll()).split('\n')) {
        const QString line = raw.trimmed();
        if (line.startsWith('['))
            section = line;
        else if (!line.isEmpty())
            lines << section + ' ' + line;
    }
    lines.sort();
    return lines;
}

mode_t modeOf(const QString& path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Writes a file by hand, its folder too.
// A file written as by hand. Each gets a modification time of its own, as an
// edit between two runs has: Qt takes a file of the same size and time (to
// the millisecond) as the one it parsed last as unchanged, and two rows
// written within a millisecond could otherwise read the earlier row's file.
bool writeFile(const QString& path, const QByteArray& bytes)
{
    static qint64 edits = 0;
    QFile f(path);
    return QDir().mkpath(QFileInfo(path).absolutePath()) && f.open(QIODevice::WriteOnly) &&
           f.write(bytes) == bytes.size() && f.flush() &&
           f.setFileTime(QDateTime::fromSecsSinceEpoch(++edits), QFileDevice::FileModificationTime);
}

} // namespace

class TstConfigStore : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    // A directory of its own, not yet created, for each test.
    QString path() const
    {
        return dir.filePath(QString(QTest::currentTestFunction()) + "/config.ini");
    }

private slots:
    void settersWriteAndGettersReadGroupsAndKeys_unwritableFails()
    {
        ConfigStore store(path()); // its directory is created by the first write
        // The threshold of "BPM 7": any non-zero BPM is BPM 2.
        QVERIFY(store.setOrient(1, 1) && store.setScaleX(1, 0.125) && store.setScaleY(0, -3.5) &&
                store.setOffsetX(1, 12.25) && store.setOffsetY(1, -0.5) &&
                store.setBpmChannels(3, 2, 1, 0, 1) && store.setBeamThreshold(0, 2.5e-7) &&
                store.setBeamThreshold(7, 1e-6) && store.setBeamlineDacs(2, 0, 3) &&
                store.setRocRoi(1, 100, 50, 1e-9, 2e-6, 80) &&
                store.setPidY(500, 1.5, 0.25, 0, 0, 10, -5, 5, 2, 0.5));
        // clang-format off
        QCOMPARE(iniLines(path()), QStringList({
            "[BPM1] Scale_Y=-3.5",
            "[BPM2] Bottom=1", "[BPM2] Left=0", "[BPM2] Offset_X=12.25", "[BPM2] Offset_Y=-0.5",
            "[BPM2] Orient=1", "[BPM2] Right=2", "[BPM2] Scale_X=0.125", "[BPM2] Top=3",
            "[Beamline] BeamThreshold2=1e-06", "[Beamline] BeamThreshold=2.5e-07",
            "[Beamline] DAC_I0=3", "[Beamline] DAC_posX=2", "[Beamline] DAC_posY=0",
            "[PID_Y] Freq=500", "[PID_Y] Imax=10", "[PID_Y] Kd=0", "[PID_Y] Ki=0.25",
            "[PID_Y] Kp=1.5", "[PID_Y] Offset=0.5", "[PID_Y] Ogain=2", "[PID_Y] Omax=5",
            "[PID_Y] Omin=-5", "[PID_Y] emin=0",
            "[ROCandROI2] Roc=80", "[ROCandROI2] RoiI0max=2e-06", "[ROCandROI2] RoiI0min=1e-09",
            "[ROCandROI2] RoiX=100", "[ROCandROI2] RoiY=50"}));
        // clang-format on

        // Values read from a file written by hand; keys and files missing give
        // the defaults, and reading never creates the file.
        const ConfigStore missing(path() + ".missing");
        QCOMPARE(missing.getScaleX(0), 0.0);
        QVERIFY(!QFile::exists(missing.filePath()));

        QVERIFY(writeFile(path() + ".hand",
                          "[BPM1]\nOrient=1\nScale_X=2.5\nScale_Y=-1\nOffset_X=3\n"
                          "Offset_Y=4\nTop=1\nRight=2\nBottom=3\nLeft=0\n"
                          "[BPM2]\nScale_X=7\n"
                          "[Beamline]\nBeamThreshold2=0.5\nDAC_posY=3\n"
                          "[ROCandROI]\nRoiX=10\nRoiY=20\nRoiI0min=1e-09\nRoiI0max=2e-06\n"
                          "Roc=90\n[PID_X]\nFreq=1\nKp=2\nKi=3\nKd=4\nemin=5\nImax=6\n"
                          "Omin=7\nOmax=8\nOgain=9\nOffset=10\n"));
        const ConfigStore byHand(path() + ".hand");
        QCOMPARE(QVector<int>({byHand.getOrient(0), byHand.getOrient(1)}), QVector<int>({1, 0}));
        QCOMPARE(QVector<double>({byHand.getScaleX(0), byHand.getScaleY(0), byHand.getOffsetX(0),
                                  byHand.getOffsetY(0), byHand.getScaleX(1), byHand.getScaleY(1)}),
                 QVector<double>({2.5, -1, 3, 4, 7, 0}));
        int c[4];
        double t[2], v[10];
        byHand.getBpmChannels(&c[0], &c[1], &c[2], &c[3], 0);
        QCOMPARE(QVector<int>(c, c + 4), QVector<int>({1, 2, 3, 0}));
        byHand.getBeamlineDacs(&c[0], &c[1], &c[2]); // X and I0 missing: their defaults
        QCOMPARE(QVector<int>(c, c + 3), QVector<int>({0, 3, 2}));
        byHand.getBeamThreshold(&t[0], 0);
        byHand.getBeamThreshold(&t[1], 1);
        QCOMPARE(QVector<double>(t, t + 2), QVector<double>({1e-9, 0.5}));
        byHand.getRocRoi(&v[0], &v[1], &v[2], &v[3], &v[4], 0);
        QCOMPARE(QVector<double>(v, v + 5), QVector<double>({10, 20, 1e-9, 2e-6, 90}));
        byHand.getPidX(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9]);
        QCOMPARE(QVector<double>(v, v + 10), QVector<double>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));

        // Saves that cannot be written report it. A regular file where a
        // directory should be: fails even for root.
        const QString blocker = dir.filePath("blocker");
        QVERIFY(writeFile(blocker, {}));
        ConfigStore blocked(blocker + "/sub/config.ini");
        QVERIFY(!blocked.setOrient(1, 0));
        QVERIFY(!blocked.setPidX(1, 2, 3, 4, 5, 6, 7, 8, 9, 10));
        QCOMPARE(blocked.getOrient(0), 0);

        // The file itself is a directory.
        QVERIFY(QDir(dir.path()).mkpath("isdir/config.ini"));
        QVERIFY(!ConfigStore(dir.filePath("isdir/config.ini")).setScaleX(0, 1.0));
    }

    // [Stability] by hand: band edges with or without quotes; values that
    // cannot be used read as the defaults. A save reads back as saved.
    void stabilityGroup_data()
    {
        QTest::addColumn<QByteArray>("group");
        QTest::addColumn<QString>("read"); // sizes, limit; edges
        QTest::newRow("none") << QByteArray() << "0 0 10; 0.1, 1, 10, 100";
        QTest::newRow("by hand") << QByteArray("BeamSizeX=12.5\nBeamSizeY=3\nLimitPercent=5\n"
                                               "Bands=0.5, 5,50\n")
                                 << "12.5 3 5; 0.5, 5, 50";
        QTest::newRow("quoted") << QByteArray("Bands=\"2, 20\"\n") << "0 0 10; 2, 20";
        QTest::newRow("unusable") << QByteArray("BeamSizeX=-1\nBeamSizeY=wide\nLimitPercent=inf\n"
                                                "Bands=10, 1\n")
                                  << "0 0 10; 0.1, 1, 10, 100";
    }
    void stabilityGroup()
    {
        QFETCH(QByteArray, group);
        QFETCH(QString, read);
        QVERIFY(writeFile(path(), "[Stability]\n" + group));
        ConfigStore store(path());
        auto text = [](const StabilitySettings& s) {
            return QStringLiteral("%1 %2 %3; ")
                       .arg(s.beamSizeX)
                       .arg(s.beamSizeY)
                       .arg(s.limitPercent) +
                   StabilitySettings::formatBandEdges(s.bandEdges);
        };
        QCOMPARE(text(store.getStability()), read);
        StabilitySettings saved;
        saved.beamSizeY = 7.5;
        saved.bandEdges = {0.2, 3};
        QVERIFY(store.setStability(saved));
        QCOMPARE(text(store.getStability()), QStringLiteral("0 7.5 10; 0.2, 3"));
    }

    // [PostMortem]: missing or unusable values read as the defaults; only
    // "false" or "0" switch the capture off.
    void postMortemGroup()
    {
        QVERIFY(writeFile(path(), "[PostMortem]\nEnabled=no\nPostTriggerSeconds=11\nKeep=0\n"));
        ConfigStore store(path());
        PostMortemSettings read = store.getPostMortem();
        QVERIFY(read.enabled);
        QCOMPARE(read.postTriggerSeconds, 2.0);
        QCOMPARE(read.keep, 200);
        QVERIFY(read.folder.endsWith(QStringLiteral("/postmortem")));
        read.enabled = false;
        read.folder = QStringLiteral("/data/pm");
        read.postTriggerSeconds = 0.5;
        read.keep = 3;
        QVERIFY(store.setPostMortem(read));
        const PostMortemSettings saved = store.getPostMortem();
        QVERIFY(!saved.enabled);
        QCOMPARE(saved.folder, read.folder);
        QCOMPARE(saved.postTriggerSeconds, 0.5);
        QCOMPARE(saved.keep, 3);
        // The default folder is kept as empty: it follows the data location.
        read.folder = PostMortemSettings::defaultFolder();
        QVERIFY(store.setPostMortem(read));
        QFile file(path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("\nFolder=\n"));
        QCOMPARE(store.getPostMortem().folder, PostMortemSettings::defaultFolder());
    }

    // A save rewrites the whole file from what Qt's reader could parse. Every
    // key must read the same before and after a save of another key, however
    // damaged the file (and the save succeeds); a damaged file is named as
    // such and kept, byte for byte, before the first save rewrites it. (Any
    // file at all, with every setter: fuzz_configstore.)
    void damagedFile_saveChangesNoOtherKey_originalKept_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<bool>("damaged");
        QTest::addColumn<int>("port");
        QTest::addColumn<double>("scaleX");
        // The header "[Remote\0x" is the group "Remote/0x", which sorts
        // between "Remote" and "Remote/Port" and once hid [Remote] from a
        // lone read of its port.
        // clang-format off
        QTest::newRow("broken header before the group") << QByteArray(
            "[Remote\\0Enabled=true\nAddr=1\n[Remote]\nPort=10010\n") << true << 10010 << 0.0;
        QTest::newRow("broken header after the group") << QByteArray(
            "[Remote]\nPort=10010\n[Remote\\0x\nPort=5\n[BPM1\nScale_X=3\n") << true << 10010 << 3.0;
        QTest::newRow("line without =") << QByteArray(
            "[BPM1]\nScale_X=2\n@garbage\n[Remote]\nPort=7\n") << true << 7 << 2.0;
        QTest::newRow("repeated group: the last value holds") << QByteArray(
            "[BPM1]\nScale_X=2\n[Remote]\nPort=7\n[BPM1]\nScale_X=3\n") << false << 7 << 3.0;
        QTest::newRow("repeated key, first unreadable") << QByteArray(
            "[Remote]\nPort=ort=10\xff" "000\nPort=10010\n") << false << 10010 << 0.0;
        QTest::newRow("repeated key, last unreadable: refused port") << QByteArray(
            "[Remote]\nPort=10010\nPort=x\n") << false << 0 << 0.0;
        QTest::newRow("NUL bytes") << QByteArray("[BPM1]\nScale_X=2\n") + QByteArray(2, '\0') +
            "\n[Remote]\nPort=7" + QByteArray(1, '\0') + "\n" << true << 0 << 2.0;
        // clang-format on
    }
    void damagedFile_saveChangesNoOtherKey_originalKept()
    {
        QFETCH(QByteArray, contents);
        QFETCH(bool, damaged);
        QFETCH(int, port);
        QFETCH(double, scaleX);
        ConfigStore store(dir.filePath(QStringLiteral("damaged/") + QTest::currentDataTag() +
                                       QStringLiteral("/config.ini")));
        QVERIFY(writeFile(store.filePath(), contents));
        // An earlier copy is never overwritten.
        QVERIFY(writeFile(store.filePath() + QStringLiteral(".damaged"), "earlier"));
        const QString copy = store.filePath() + QStringLiteral(".damaged.2");

        QCOMPARE(store.isDamaged(), damaged);
        QCOMPARE(store.damagedCopyPath(), copy);
        const auto readBack = [&store] {
            return std::make_tuple(store.getRemote().port, store.getScaleX(0),
                                   store.getRemote().enabled, store.getOrient(1));
        };
        const auto before = readBack();
        QCOMPARE(std::get<0>(before), port);
        QCOMPARE(std::get<1>(before), scaleX);

        QVERIFY(store.setPidX(1, 2, 3, 4, 5, 6, 7, 8, 9, 10));
        QVERIFY(readBack() == before);
        QVERIFY(!store.isDamaged()); // the rewrite is clean
        QFile kept(copy);
        QCOMPARE(kept.exists(), damaged);
        if (damaged) {
            QVERIFY(kept.open(QIODevice::ReadOnly));
            QCOMPARE(kept.readAll(), contents);
        }
        // Later saves of the clean file keep no further copies.
        QVERIFY(store.setRemoteControlAllowed(false));
        QVERIFY(readBack() == before);
        QVERIFY(!QFile::exists(store.filePath() + QStringLiteral(".damaged.3")));
    }

    // The operators share the file through a setgid folder of their group: a
    // file that a save creates there is writable by the group whatever the
    // umask (never by everyone); an existing file keeps its mode, and so
    // does every file outside such a folder.
    void sharedFolder_newFileGroupWritable_existingModeKept_data()
    {
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<int>("mask");
        QTest::addColumn<int>("existingMode"); // 0: no file yet
        QTest::addColumn<int>("expected");
        QTest::newRow("shared, umask 022") << 02775 << 022 << 0 << 0664;
        QTest::newRow("shared, umask 077") << 02775 << 077 << 0 << 0660;
        QTest::newRow("shared, umask 000") << 02775 << 0 << 0 << 0664;
        QTest::newRow("shared, existing 0640") << 02775 << 022 << 0640 << 0640;
        QTest::newRow("plain folder") << 0775 << 022 << 0 << 0644;
    }
    void sharedFolder_newFileGroupWritable_existingModeKept()
    {
        QFETCH(int, folderMode);
        QFETCH(int, mask);
        QFETCH(int, existingMode);
        QFETCH(int, expected);
        // A folder of its own for each row.
        const QString folder = dir.filePath(QStringLiteral("shared/") + QTest::currentDataTag());
        const QString file = folder + QStringLiteral("/config.ini");
        QVERIFY(QDir().mkpath(folder));
        // Our own folder in our own group: the setgid bit holds for any user.
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), mode_t(folderMode)) == 0);
        QCOMPARE(int(modeOf(folder)), folderMode);
        if (existingMode)
            QVERIFY(writeFile(file, {}) &&
                    ::chmod(QFile::encodeName(file).constData(), mode_t(existingMode)) == 0);

        const mode_t oldMask = ::umask(mode_t(mask));
        ConfigStore store(file);
        const bool saved = store.setOrient(1, 0) && store.setScaleX(0, 2.0);
        ::umask(oldMask);
        QVERIFY(saved);
        QCOMPARE(store.getScaleX(0), 2.0);
        QCOMPARE(QString::number(modeOf(file), 8), QString::number(expected, 8));
    }
};

QTEST_GUILESS_MAIN(TstConfigStore)
#include "tst_configstore.moc"
