// Another instance that holds the operator lock and ignores every request to
// let go, for the operator lock tests:
//
//   lock_peer <lock file> --ignore-signal [--hold-ms N]
//
// Takes the lock as a login at level 2 would, then keeps it for N ms (default
// 10000) and exits 3. A failed acquisition prints "result <r> holder <pid>"
// and exits 2. (A holder that lets go is a running program: the operator lock
// tests drive that in-process and in tst_programinstances.)

#include "app/operatorlock.h"
#include "device/globals.h"

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
        std::fprintf(stderr, "usage: lock_peer <lock file> --ignore-signal [--hold-ms N]\n");
        return 1;
    }
    const int holdIndex = args.indexOf(QStringLiteral("--hold-ms"));
    const int holdMs = holdIndex > 0 ? args.value(holdIndex + 1).toInt() : 10000;
    lockFileFd = openOperatorLockFile(args.at(1));
    std::signal(SIGUSR1, SIG_IGN);
    int holder = 0;
    const int result = acquireOperatorLock(lockFileFd, kOperatorLockTimeoutMs, &holder);
    if (result != kOperatorLockTaken) {
        std::printf("result %d holder %d\n", result, holder);
        std::fflush(stdout);
        return 2;
    }
    QTimer::singleShot(holdMs, &app, [&app] { app.exit(3); });
    return app.exec();
}
