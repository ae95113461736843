// The worker's half of a post-mortem capture on records whose every field
// says which record it is: two reads joined where they overlap whatever the
// delay said, reads that do not overlap kept as two segments and said so,
// the event found where a limit in force is first crossed, and a folder
// that cannot be made reported instead of written.

#include "support/displayrecords.h"

#include "../export/nexusreader.h"

#include "acquisition/postmortemcapture.h"
#include "analysis/recordjoin.h"

#include <QTemporaryDir>
#include <QtTest>

namespace
{
// Record numbers of a joined series.
std::vector<int> numbers(const std::vector<zevo::DisplayRecord>& records)
{
    std::vector<int> out;
    for (const zevo::DisplayRecord& r : records)
        out.push_back(int(r.value[0] / 1000.0));
    return out;
}

std::vector<int> range(int from, int to)
{
    std::vector<int> out;
    for (int i = from; i < to; ++i)
        out.push_back(i);
    return out;
}
} // namespace

class TestPostMortemWrite : public QObject
{
    Q_OBJECT

private slots:
    void readsJoinedOnlyWhereTheyOverlap_data()
    {
        QTest::addColumn<int>("secondFrom"); // first record of the second read
        QTest::addColumn<int>("expected");   // the shift the delay suggests
        QTest::addColumn<bool>("joined");
        QTest::newRow("as expected") << 2000 << 2000 << true;
        QTest::newRow("delay off by a second") << 2000 << 3000 << true;
        QTest::newRow("stream stalled") << 0 << 2000 << true;
        QTest::newRow("overlap too short") << 14336 - 40 << 14296 << false;
        QTest::newRow("no overlap") << 20000 << 2000 << false;
    }
    void readsJoinedOnlyWhereTheyOverlap()
    {
        QFETCH(int, secondFrom);
        QFETCH(int, expected);
        QFETCH(bool, joined);
        const std::vector<zevo::DisplayRecord> all = numberedRecords(40000);
        const int n = zevo::kDisplayBufferRecords;
        const recordjoin::Joined j =
            recordjoin::join(all.data(), n, all.data() + secondFrom, n, expected);
        QCOMPARE(j.joined(), joined);
        if (joined) {
            QCOMPARE(numbers(j.records), range(0, secondFrom + n)); // each record once
            QCOMPARE(j.shift, secondFrom);
        } else {
            std::vector<int> both = range(0, n);
            const std::vector<int> second = range(secondFrom, secondFrom + n);
            both.insert(both.end(), second.begin(), second.end());
            QCOMPARE(numbers(j.records), both);
            QCOMPARE(j.secondSegment, n);
        }
    }

    void twoSegmentsAndTheEventInTheFile()
    {
        const std::vector<zevo::DisplayRecord> all = numberedRecords(40000);
        PostMortemRecord r;
        r.eventTime = QDateTime(QDate(2026, 12, 7), QTime(16, 0), Qt::UTC);
        r.cause = "FAULT: Out of ROC"_q;
        // BPM2 Y with its check on: record i reads (1000 i + 5.25) * 0.5 um,
        // beyond the limit from record 13336 on.
        r.settings.scale.set(1, 1.0, 0.5);
        r.rocEnabled[std::size_t(zevo::rocIndex(1, 1))] = true;
        r.rocLimitUm = {1e12, 1e12, 1e12, 13336 * 500.0};
        QTemporaryDir dir;
        const QDateTime detected = r.eventTime;
        const PostMortemEvent event =
            postmortem::write(r, {all.begin(), all.begin() + 14336},
                              {all.begin() + 20000, all.begin() + 34336}, dir.path(), 5);
        QVERIFY2(event.saved, qPrintable(event.reason));
        QCOMPARE(event.location, "BPM2 Y"_q);
        // The event is the first record beyond the limit, 999 records before
        // the first read's newest, which came at detection.
        QCOMPARE(event.time, detected.addMSecs(-999));
        NexusReader nexus(event.path);
        QCOMPARE(nexus.values("/entry/instrument/postmortem/segments"_q), std::vector<double>{2});
        QCOMPARE(nexus.values("/entry/instrument/postmortem/event_index"_q),
                 std::vector<double>{13336});
        const std::vector<double> t = nexus.values("/entry/data/time"_q);
        const std::vector<double> segment = nexus.values("/entry/data/segment"_q);
        QCOMPARE(int(t.size()), 2 * 14336);
        QCOMPARE(t[13336], 0.0);
        QCOMPARE(segment[14335], 1.0);
        QCOMPARE(segment[14336], 2.0);
        // The second read ends the post-trigger delay after the first.
        QCOMPARE(t.back(), t[14335] + r.postTriggerSeconds);
    }

    void folderThatCannotBeMadeIsTheReason()
    {
        QTemporaryDir dir;
        QFile blocker(dir.filePath("file"_q));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        PostMortemRecord r;
        r.eventTime = QDateTime::currentDateTimeUtc();
        const std::vector<zevo::DisplayRecord> all = numberedRecords(200);
        const PostMortemEvent event =
            postmortem::write(r, all, all, blocker.fileName() + "/pm"_q, 5);
        QVERIFY(!event.saved);
        QVERIFY2(event.reason.contains(blocker.fileName()), qPrintable(event.reason));
    }
};

QTEST_MAIN(TestPostMortemWrite)
#include "tst_postmortemwrite.moc"
