#pragma once

// The process-wide objects the windows reach (mailbox over a recording
// driver and a scripted controller, configuration in a temporary file,
// display updater), and a catcher for the message boxes and file dialogs
// they open.

#include "support/recordingdriver.h"
#include "support/scriptedcontroller.h"

#include "acquisition/updater.h"
#include "device/configstore.h"
#include "device/globals.h"
#include "device/mailboxcomm.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <qcustomplot.h>

#include <functional>
#include <memory>
#include <vector>

struct ProgramFixture {
    RecordingDriver driver;
    ScriptedController controller;
    std::unique_ptr<MailboxComm> mailbox;
    std::unique_ptr<Updater> updater;
    QTemporaryDir dir;
    std::unique_ptr<ConfigStore> config;
    std::unique_ptr<ConfigStore> unwritable;

    ProgramFixture() { controller.answer(driver); }

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
        theDriver = &driver;
        theMailbox = mailbox.get();
        theUpdater = updater.get();
        theConfig = config.get();
        driver.clearCalls();
    }

    void tearDown()
    {
        theDriver = nullptr;
        theMailbox = nullptr;
        theUpdater = nullptr;
        theConfig = nullptr;
        unwritable.reset();
        config.reset();
        updater.reset();
        mailbox.reset();
        SAMP_FREQ = 1000;
        BUFFER_BYTES = zevo::kDisplayBufferBytes;
    }

    // Points the windows at a configuration file that cannot be written (its
    // folder is a plain file), or back at the writable one.
    void setConfigWritable(bool writable)
    {
        if (!unwritable) {
            QFile blocker(dir.filePath(QStringLiteral("blocker")));
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            unwritable = std::make_unique<ConfigStore>(blocker.fileName() + "/config.ini");
        }
        theConfig = writable ? config.get() : unwritable.get();
    }

    // Mailbox messages sent with this command word, in order.
    std::vector<zevo::MailboxMessage> sent(uint32_t command) const { return driver.sent(command); }
};

// Answers every message box and file dialog as soon as it is shown, and
// remembers what it showed. Boxes get `answer` (their button, or done() with
// it); a file dialog gets `file` in the filter `filter` (empty: as it
// stands), or is cancelled when `file` is empty.
struct BoxCatcher {
    struct Box {
        QString title, text;
        bool hasParent;
        QMessageBox::Icon icon;
    };
    struct Dialog {
        QString caption, proposedName;
        QStringList filters;
    };
    std::vector<Box> boxes;
    std::vector<Dialog> dialogs;
    QMessageBox::StandardButton answer = QMessageBox::Ok;
    QString file, filter;
    std::function<void(const Box&)> onBox; // called before the box is answered
    QTimer timer;

    BoxCatcher()
    {
        // Without the application object the timer never fires and every
        // "no box" check would pass unseen.
        if (!QCoreApplication::instance())
            qFatal("BoxCatcher made before the application object");
        QObject::connect(&timer, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                boxes.push_back(
                    {box->windowTitle(), box->text(), box->parent() != nullptr, box->icon()});
                if (onBox)
                    onBox(boxes.back());
                if (QAbstractButton* button = box->button(answer))
                    button->click();
                else
                    box->done(answer);
            } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
                dialogs.push_back({dialog->windowTitle(),
                                   QFileInfo(dialog->selectedFiles().value(0)).fileName(),
                                   dialog->nameFilters()});
                if (file.isEmpty())
                    return dialog->reject();
                if (!filter.isEmpty()) {
                    dialog->selectNameFilter(filter);
                    emit dialog->filterSelected(filter); // as the filter box does
                }
                dialog->selectFile(file);
                // accept() is protected; it checks the typed name as a click
                // on the dialog's Save button would.
                QMetaObject::invokeMethod(dialog, "accept");
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
