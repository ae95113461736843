// Another instance contending for the operator lock, driven by the operator
// lock tests:
//
//   lock_peer <lock file> [--ignore-signal] [--hold-ms N]
//
// Takes the lock as a login at level 2 would, then keeps running for N ms
// (default 10000; 0 = exit at once). Losing the lock prints "level 0" and
// exits 0; still holding it at the end prints "still level 2" and exits 3.
// A failed acquisition prints "result <r> holder <pid>" and exits 2.
// --ignore-signal makes it a holder that never lets go.

#include "device/globals.h"
#include "app/operatorlock.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTimer>

#include <csignal>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: lock_peer <lock file> [--ignore-signal] [--hold-ms N]\n");
        return 1;
    }
    const bool ignoreSignal = args.contains(QStringLiteral("--ignore-signal"));
    const int holdIndex = args.indexOf(QStringLiteral("--hold-ms"));
    const int holdMs = holdIndex > 0 ? args.value(holdIndex + 1).toInt() : 10000;

    lockFileFd = openOperatorLockFile(args.at(1));
    if (ignoreSignal)
        std::signal(SIGUSR1, SIG_IGN);
    else
        installOperatorLockHandler(lockFileFd);

    OperatorLock lock;
    QObject::connect(&lock, &OperatorLock::lockLost, &app, [&app] {
        userLevel = 0;
        std::printf("level %d\n", userLevel);
        std::fflush(stdout);
        app.exit(0);
    });

    int holder = 0;
    const int result = acquireOperatorLock(lockFileFd, kOperatorLockTimeoutMs, &holder);
    if (result != kOperatorLockTaken) {
        std::printf("result %d holder %d\n", result, holder);
        std::fflush(stdout);
        return 2;
    }
    userLevel = 2;
    if (holdMs == 0)
        return 0;

    QTimer::singleShot(holdMs, &app, [&app] {
        std::printf("still level %d\n", userLevel);
        std::fflush(stdout);
        app.exit(3);
    });
    return app.exec();
}
