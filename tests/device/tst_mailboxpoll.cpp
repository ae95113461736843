// The once-a-second poll: slot scan, device-count signal rules, and what the
// GUI thread sees while the poll runs on its worker thread, by itself once a
// second. (That devices plugged meanwhile reach the windows is checked per
// window against a scripted controller.)

#include "support/recordingdriver.h"
#include "support/scriptedcontroller.h"

#include "device/globals.h"
#include "device/mailboxcomm.h"

#include <QScopeGuard>
#include <QtTest>

#include <fcntl.h>

#include <array>
#include <atomic>
#include <chrono>
#include <thread>

using zevo::MailboxMessage;

namespace
{

using Ids = QList<int>; // slot device identifiers, or device counts announced

// The controller of the windows' tests (its PID sources read back 0, 0, 0)
// behind a driver whose status block changes on every read, written one BPM
// at a time with a pause between, so that a reader without a snapshot would
// see it torn.
class TornStatusDriver : public RecordingDriver
{
public:
    ScriptedController controller;
    std::atomic<QThread*> scanThread{nullptr};
    std::atomic<int> statusReads{0};

    TornStatusDriver()
    {
        controller.answer(*this);
        controller.onTransfer = [this](const MailboxMessage& m) {
            if (m.command() == zevo::cmd::ReadSlot)
                scanThread = QThread::currentThread();
        };
    }
    void plug(const Ids& slotIds)
    {
        std::array<uint16_t, zevo::kSlotCount> ids{};
        for (int s = 0; s < zevo::kSlotCount; ++s)
            ids[std::size_t(s)] = uint16_t(slotIds.value(s));
        controller.plug(ids);
    }
    int ioctl(int fd, unsigned long request, void* arg) override
    {
        if (request != zevo::MBOX_IOC_READ_STATUS || fd < 0)
            return RecordingDriver::ioctl(fd, request, arg);
        auto* block = static_cast<zevo::MailboxStatusBlock*>(arg);
        const double n = ++statusReads;
        for (auto& bpm : block->bpm) {
            for (double* v = &bpm.xMean; v <= &bpm.i0Std1kHz; ++v)
                *v = n;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return 0;
    }
};

} // namespace

class TstMailboxPoll : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        PID_BASE_FREQ = 100000;
        pidSourceX = pidSourceY = pidSourceI0 = 0;
    }

    void scanAnnouncesChanges_data()
    {
        QTest::addColumn<Ids>("before");
        QTest::addColumn<Ids>("after");
        QTest::addColumn<Ids>("announced"); // by the scan from before to after
        QTest::addColumn<int>("baseFreq");
        QTest::addColumn<bool>("sourcesRead");

        QTest::newRow("one to two picoammeters")
            << Ids{0x2101, 0x2200} << Ids{0x2101, 0x2200, 0x2101} << Ids{2} << 100000 << true;
        QTest::newRow("encoder as second device")
            << Ids{0x2101, 0x2200} << Ids{0x2101, 0x2300, 0x2200} << Ids{2, 2} << 5000 << true;
        QTest::newRow("encoder replaces picoammeter")
            << Ids{0x2101} << Ids{0x2300} << Ids{1} << 5000 << false;
        QTest::newRow("encoder unplugged keeps its rate")
            << Ids{0x2300, 0x2101} << Ids{0, 0x2101} << Ids{1, 1} << 5000 << true;
        QTest::newRow("other families do not count")
            << Ids{0x2101} << Ids{0x2101, 0x2200, 0x0000, 0x1100} << Ids{} << 100000 << false;
    }
    void scanAnnouncesChanges()
    {
        QFETCH(Ids, before);
        QFETCH(Ids, after);
        QFETCH(Ids, announced);
        QFETCH(int, baseFreq);
        QFETCH(bool, sourcesRead);

        TornStatusDriver driver;
        driver.plug(before);
        MailboxComm comm(driver);
        // A poll before the worker has opened the node asks nothing (as one
        // whose node did not open: the "no-node" input of fuzz_mailbox).
        QVERIFY(!comm.waitUntilOpen(0));
        comm.refreshData();
        QCOMPARE(driver.countCalls(RecordingDriver::Call::Ioctl), 0);
        comm.doSetupOnNewThread();
        QVERIFY(comm.waitUntilOpen(0));
        QCOMPARE(std::make_pair(driver.calls().front().path, driver.calls().front().flags),
                 std::make_pair(std::string("/dev/zevo_mailbox"), O_RDWR));
        pidSourceX = pidSourceY = 1; // read back as 0
        QSignalSpy spy(&comm, &MailboxComm::nrDorvishsChanged);

        driver.plug(after);
        comm.refreshData();
        QList<int> got;
        for (const QList<QVariant>& args : spy)
            got << args.at(0).toInt();
        QCOMPARE(got, announced);
        QCOMPARE(PID_BASE_FREQ.load(), baseFreq);
        QCOMPARE(pidSourceX.load() == 0 && pidSourceY.load() == 0, sourcesRead);

        spy.clear();
        comm.announceDeviceCount();
        QCOMPARE(QList<QList<QVariant>>(spy), QList<QList<QVariant>>({{comm.deviceCount()}}));
    }

    void pollRunsOnWorkerAndPublishesWholeBlocks()
    {
        TornStatusDriver driver;
        driver.plug({0x2101, 0x2101});
        auto* comm = new MailboxComm(driver);
        QThread worker;
        comm->setupThread(&worker);
        comm->moveToThread(&worker);
        connect(&worker, &QThread::started, comm, &MailboxComm::doSetupOnNewThread);

        QList<int> counts;
        QList<QThread*> receivedOn;
        connect(comm, &MailboxComm::nrDorvishsChanged, this, [&](int n) {
            counts << n;
            receivedOn << QThread::currentThread();
        });
        // Ends the worker on every way out; deleteLater runs on the worker, at
        // the latest when it finishes.
        auto stop = qScopeGuard([&] {
            comm->deleteLater();
            worker.quit();
            worker.wait();
        });
        worker.start(QThread::TimeCriticalPriority);
        QVERIFY(comm->waitUntilOpen(5000));

        constexpr int kPolls = 50;
        for (int i = 0; i < kPolls; ++i)
            QMetaObject::invokeMethod(comm, &MailboxComm::refreshData, Qt::QueuedConnection);
        QElapsedTimer clock;
        clock.start();
        double seen = 0;
        while (seen < kPolls && clock.elapsed() < 60000) {
            const zevo::MailboxStatusBlock block = comm->statusBlock();
            seen = block.bpm[0].xMean;
            for (const auto& bpm : block.bpm)
                for (const double* v = &bpm.xMean; v <= &bpm.i0Std1kHz; ++v)
                    QCOMPARE(*v, seen);
            std::this_thread::yield();
        }
        QVERIFY(seen >= kPolls);

        QTRY_COMPARE(counts, QList<int>{2});
        QCOMPARE(QList<QThread*>({receivedOn.first(), driver.scanThread.load()}),
                 QList<QThread*>({QThread::currentThread(), &worker}));
        QCOMPARE(comm->deviceCount(), 2);

        // Left alone, the worker polls by itself once a second.
        const int before = driver.statusReads;
        QTest::qWait(2500);
        const int polls = driver.statusReads - before;
        QVERIFY2(polls >= 2 && polls <= 3, qPrintable(QString::number(polls)));

        stop.dismiss();
        comm->deleteLater();
        worker.quit();
        QVERIFY(worker.wait(5000));
        QCOMPARE(driver.calls().back().kind, RecordingDriver::Call::Close);
    }
};

QTEST_GUILESS_MAIN(TstMailboxPoll)
#include "tst_mailboxpoll.moc"
