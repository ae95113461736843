#include "app/startup.h"

#include "acquisition/updater.h"
#include "app/initresources.h"
#include "app/mainwindow.h"
#include "app/operatorlock.h"
#include "app/platform.h"
#include "control/dialoglogin.h"
#include "device/configstore.h"
#include "device/globals.h"
#include "device/mailboxcomm.h"
#include "device/userlevel.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

#include <memory>
#include <unistd.h>

namespace
{

// How long the GUI waits for the worker thread to open the mailbox node
// before its first controller requests.
constexpr int kMailboxOpenTimeoutMs = 5000;
constexpr int kDisplayCycleMs = 1000;

void readControllerIdentity()
{
    QString hw, sw, pid;
    if (theMailbox->readVersions(&hw, &sw, &pid) >= 0)
        controllerVersions = {hw, sw, pid};
    PidSourceSet sources;
    theMailbox->readPidSources(&sources.x, &sources.y, &sources.i0);
    pidSources.store(sources);
}

// A settings file with lines that cannot be read is named to the operator
// once, over the main window, without holding up the program.
void warnIfConfigDamaged(const ConfigStore& config, QWidget* window)
{
    if (!config.isDamaged())
        return;
    const QString text =
        QStringLiteral("Some lines of the settings file cannot be read (a group header without "
                       "its closing bracket, or a line that is not \"key=value\"):\n%1\n\n"
                       "Settings in or after those lines may not be the ones that were saved; "
                       "check them. The first save keeps the file as it is now as\n%2\n"
                       "and then writes a clean one.")
            .arg(config.filePath(), config.damagedCopyPath());
    qWarning("%s", qPrintable(text));
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("ZEVO Local User Interface"),
                                text, QMessageBox::Ok, window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

} // namespace

void applyStyleSheet(QApplication& app, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return; // run unstyled
    QByteArray bytes = file.readAll();
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    app.setStyleSheet(QString::fromLatin1(bytes));
}

int runProgram(int& argc, char** argv, const Platform& platform)
{
    // The embedded pictures, catalogue and style sheet, before any window
    // or the style sheet step looks for them.
    initResources();
    theDriver = platform.driver;

    // 1-2: settings and the BPM scale factors.
    theConfig = new ConfigStore(platform.configPath);
    for (int bpm = 0; bpm < 2; ++bpm)
        bpmScale.set(bpm, theConfig->getScaleX(bpm), theConfig->getScaleY(bpm));

    // 3: the display updater.
    theUpdater = new Updater(*platform.driver);

    // 4: the mailbox communicator on its own time-critical thread.
    auto* worker = new QThread;
    theMailbox = new MailboxComm(*platform.driver);
    theMailbox->setupThread(worker);
    theMailbox->moveToThread(worker);
    QObject::connect(worker, &QThread::started, theMailbox, &MailboxComm::doSetupOnNewThread);

    // 5-6. The worker starts only now: a thread's event loop cannot run
    // before the application object exists, and the poll timer needs it.
    QApplication app(argc, argv);
    QObject::connect(&app, &QApplication::lastWindowClosed, worker, &QThread::quit);
    worker->start(QThread::TimeCriticalPriority);

    // 7: identity of the controller, once the worker has opened the node.
    theMailbox->waitUntilOpen(kMailboxOpenTimeoutMs);
    readControllerIdentity();

    // 8-9
    auto mainWindow = std::make_unique<MainWindow>();
    if (platform.extendMainWindow)
        platform.extendMainWindow(*mainWindow);
    mainWindow->show();
    applyStyleSheet(app);
    warnIfConfigDamaged(*theConfig, mainWindow.get());

    // 10: the login dialog, kept for the life of the program; the main
    // window and the level-aware windows follow its level.
    theLogin = new DialogLogin(mainWindow.get());
    theLogin->wireUserLevel();

    // 11-12: the operator lock. Losing it to another instance drops this
    // one back to level 0: the dialog shows "cruise" and every window falls
    // back.
    lockFileFd = openOperatorLockFile(platform.lockPath);
    installOperatorLockHandler(lockFileFd);
    OperatorLock operatorLock;
    QObject::connect(&operatorLock, &OperatorLock::lockLost, mainWindow.get(), [] {
        userLevel = zevo::LevelCruise;
        if (theLogin)
            theLogin->applyUserLevel();
    });

    // 13: the display cycle.
    auto displayTimer = std::make_unique<QTimer>();
    QObject::connect(displayTimer.get(), &QTimer::timeout, theUpdater, &Updater::updateGraphs);
    displayTimer->start(kDisplayCycleMs);

    // 14
    const int result = app.exec();

    // 15: closing the descriptor drops any lock this process holds.
    closeOperatorLockFile(lockFileFd);
    lockFileFd = -1;
    displayTimer.reset();
    theLogin = nullptr; // a child of the main window
    mainWindow.reset();
    worker->quit();
    worker->wait();
    delete theMailbox;
    theMailbox = nullptr;
    delete worker;
    delete theUpdater;
    theUpdater = nullptr;
    delete theConfig;
    theConfig = nullptr;
    return result;
}
