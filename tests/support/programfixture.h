#pragma once

// The process-wide objects the windows reach (mailbox over a recording
// driver, configuration in a temporary file, display updater), and a catcher
// for the message boxes they open.

#include "support/recordingdriver.h"

#include "acquisition/updater.h"
#include "device/globals.h"
#include "device/configstore.h"
#include "device/mailboxcomm.h"

#include <QApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <qcustomplot.h>

#include <memory>
#include <vector>

struct ProgramFixture {
    RecordingDriver driver;
    std::unique_ptr<MailboxComm> mailbox;
    std::unique_ptr<Updater> updater;
    QTemporaryDir dir;
    std::unique_ptr<ConfigStore> config;

    void setUp()
    {
        mailbox = std::make_unique<MailboxComm>(driver);
        mailbox->doSetupOnNewThread();
        // No background poll: a test decides when the controller is read
        // (refreshData()), so that what it counts does not depend on how
        // long it runs.
        for (QTimer* poll : mailbox->findChildren<QTimer*>())
            poll->stop();
        updater = std::make_unique<Updater>(driver);
        config = std::make_unique<ConfigStore>(dir.filePath("config.ini"));
        theMailbox = mailbox.get();
        theUpdater = updater.get();
        theConfig = config.get();
        driver.clearCalls();
    }

    void tearDown()
    {
        theMailbox = nullptr;
        theUpdater = nullptr;
        theConfig = nullptr;
        config.reset();
        updater.reset();
        mailbox.reset();
        SAMP_FREQ = 1000;
        BUFFER_BYTES = zevo::kDisplayBufferBytes;
    }

    // Mailbox messages sent with this command word, in order.
    std::vector<zevo::MailboxMessage> sent(uint32_t command) const
    {
        std::vector<zevo::MailboxMessage> out;
        for (const zevo::MailboxMessage& m : driver.transfers())
            if (m.command() == command)
                out.push_back(m);
        return out;
    }
};

// Closes every message box as soon as it is shown and remembers it.
struct BoxCatcher {
    struct Box {
        QString title, text;
        bool hasParent;
    };
    std::vector<Box> boxes;
    QTimer timer;

    BoxCatcher()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes.push_back({box->windowTitle(), box->text(), box->parent() != nullptr});
                box->done(QMessageBox::Ok);
            }
        });
        timer.start(5);
    }
};

// Lets QCOMPARE print axis ranges.
inline char* toString(const QCPRange& r)
{
    return QTest::toString(QString("%1 .. %2").arg(r.lower, 0, 'g', 17).arg(r.upper, 0, 'g', 17));
}

inline void fill(const SeriesPtr& series, const QVector<double>& keys,
                 const QVector<double>& values)
{
    QVector<QCPGraphData> points;
    for (int i = 0; i < keys.size(); ++i)
        points.append(QCPGraphData(keys[i], values[i]));
    series->set(points, true);
}
