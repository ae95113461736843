// An operator's hands inside the production program, for the tests that run
// it as a process: preloaded beside it, this library reads commands on
// standard input once the application object exists and works the program's
// own widgets, found by their object names, as an operator would. It sees
// nothing of the program but Qt's widget tree.
//
//   login NAME PASSWORD  Settings -> Login, the two fields, "Log in"
//   step-response STEP   Tools -> Step Response, X, the step, Apply; reports
//                        "probe: K <gain shown>"
//   exit                 File -> Exit
// Each command ends with "probe: done COMMAND" on standard output.

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

namespace
{
template <typename T> T* find(const char* name)
{
    for (QWidget* top : QApplication::topLevelWidgets())
        if (T* found = top->findChild<T*>(QLatin1String(name)))
            return found;
    return nullptr;
}

void report(const QString& text)
{
    std::printf("probe: %s\n", qPrintable(text));
    std::fflush(stdout);
}

void run(const QStringList& words)
{
    const QString command = words.value(0);
    if (command == QLatin1String("login")) {
        find<QAction>("action_Login")->trigger();
        find<QLineEdit>("usernameLineEdit")->setText(words.value(1));
        find<QLineEdit>("passwordLineEdit")->setText(words.value(2));
        find<QAbstractButton>("logIn")->click();
    } else if (command == QLatin1String("step-response")) {
        find<QAction>("actionStep_Response")->trigger();
        auto* step = find<QWidget>("WindowStepResponse");
        step->findChild<QAbstractButton*>(QStringLiteral("stepInXbutton"))->click();
        step->findChild<QDoubleSpinBox*>(QStringLiteral("posXStepDoubleSpinBox"))
            ->setValue(words.value(1).toDouble());
        step->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Apply)->click();
        report(QStringLiteral("K ") + step->findChild<QLabel*>(QStringLiteral("Klabel"))->text());
    } else if (command == QLatin1String("exit")) {
        find<QAction>("action_Exit")->trigger();
    }
    report(QStringLiteral("done ") + command);
}

void listen()
{
    // Once the event loop runs: the application object is still being made.
    QMetaObject::invokeMethod(
        qApp,
        [] {
            auto* input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, qApp);
            QObject::connect(input, &QSocketNotifier::activated, [input] {
                static QByteArray pending;
                char buffer[512];
                const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
                if (n <= 0) {
                    input->setEnabled(false);
                    return;
                }
                pending.append(buffer, int(n));
                for (int end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1)) {
                    const QStringList words =
                        QString::fromUtf8(pending.left(end)).split(QLatin1Char(' '));
                    // Posted: a command may open a modal window while others follow.
                    QMetaObject::invokeMethod(
                        qApp, [words] { run(words); }, Qt::QueuedConnection);
                }
            });
        },
        Qt::QueuedConnection);
}
} // namespace

Q_COREAPP_STARTUP_FUNCTION(listen)
