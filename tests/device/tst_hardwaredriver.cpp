// The production driver on a computer without the feedback hardware: no
// acquisition library and no device nodes. Every call fails with a negative
// result and a fetch writes nothing, so that the display cycle can tell a
// missing driver from a buffer.

#include "device/hardwaredriver.h"
#include "device/protocol.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <vector>

using namespace zevo;

class TestHardwareDriver : public QObject
{
    Q_OBJECT

private slots:
    // A library that is not there, and one that loads but has no getBuffer:
    // -1 on every call, never a count, and the destination untouched.
    void getBuffer_withoutLibraryOrSymbol_failsWritingNothing_data()
    {
        QTest::addColumn<QByteArray>("library");
        QTest::newRow("no library") << QByteArray("libzevo-absent.so.1");
        QTest::newRow("no getBuffer symbol") << QByteArray("libm.so.6");
    }
    void getBuffer_withoutLibraryOrSymbol_failsWritingNothing()
    {
        QFETCH(QByteArray, library);
        HardwareDriver driver(library.constData());
        std::vector<DisplayRecord> buffer(4);
        std::memset(buffer.data(), 0x5a, buffer.size() * sizeof(DisplayRecord));
        const std::vector<DisplayRecord> before = buffer;
        for (int attempt = 0; attempt < 2; ++attempt)
            QCOMPARE(driver.getBuffer(buffer.data(), int(buffer.size())), -1);
        QVERIFY(std::memcmp(buffer.data(), before.data(), sizeof(DisplayRecord) * 4) == 0);
    }

    // Missing nodes do not open; requests on a descriptor that is not open,
    // or that is not a node of the driver, fail.
    void missingNodesAndBadDescriptors_fail()
    {
        HardwareDriver driver;
        QTemporaryDir dir;
        QCOMPARE(driver.open(QFile::encodeName(dir.filePath("zevo_mailbox")).constData(), O_RDWR),
                 -1);
        QCOMPARE(errno, ENOENT);

        MailboxMessage message(cmd::ReadSwVersion);
        DacOutputRecord outputs{};
        char bytes[16];
        const int other = driver.open("/dev/null", O_RDWR);
        QVERIFY(other >= 0);
        QVERIFY(driver.ioctl(other, MBOX_IOC_TRANSFER, &message) < 0);
        QCOMPARE(driver.close(other), 0);
        // Closed: the descriptor is gone for every call.
        QVERIFY(driver.ioctl(other, DAC_IOC_SET_OUTPUTS, &outputs) < 0);
        QVERIFY(driver.read(other, bytes, sizeof bytes) < 0);
        QVERIFY(driver.close(other) < 0);
    }
};

QTEST_GUILESS_MAIN(TestHardwareDriver)
#include "tst_hardwaredriver.moc"
