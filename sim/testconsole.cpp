#include "sim/testconsole.h"

#include "app/mainwindow.h"
#include "control/dialoglogin.h"
#include "device/globals.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace
{

constexpr char kOption[] = "--test-console";

// One line per report: quotes, backslashes and line breaks are escaped.
QString quoted(QString text)
{
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1Char('"'), QLatin1String("\\\""));
    text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

} // namespace

TestConsole::TestConsole(MainWindow& window) : QObject(&window), m_window(window)
{
    m_input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(m_input, &QSocketNotifier::activated, this, &TestConsole::readInput);
    qApp->installEventFilter(this);
    // The login dialog is created after the main window; the first pass of
    // the event loop comes after it.
    QTimer::singleShot(0, this, &TestConsole::attach);
}

bool TestConsole::takeOption(int& argc, char** argv)
{
    bool found = false;
    int out = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], kOption) == 0)
            found = true;
        else
            argv[out++] = argv[i];
    }
    argc = out;
    argv[argc] = nullptr;
    return found;
}

QString TestConsole::stateLine(const MainWindow& window)
{
    QStringList disabled;
    for (QAction* entry : window.menuBar()->actions()) {
        if (!entry->menu())
            continue;
        for (QAction* action : entry->menu()->actions())
            if (!action->isSeparator() && !action->menu() && !action->isEnabled())
                disabled << action->objectName();
    }
    const auto* shown =
        theLogin ? theLogin->findChild<QLabel*>(QStringLiteral("currentLevel")) : nullptr;
    return QStringLiteral("level %1 shown %2 disabled %3")
        .arg(userLevel)
        .arg(quoted(shown ? shown->text() : QString()))
        .arg(disabled.isEmpty() ? QStringLiteral("-") : disabled.join(QLatin1Char(',')));
}

bool TestConsole::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show) {
        if (auto* box = qobject_cast<QMessageBox*>(watched))
            report(QStringLiteral("message-box %1 %2")
                       .arg(quoted(box->windowTitle()), quoted(box->text())));
    }
    return false;
}

void TestConsole::attach()
{
    if (theLogin)
        connect(theLogin, &DialogLogin::userLevelChanged, this,
                [this] { report(stateLine(m_window)); });
    report(QStringLiteral("ready %1").arg(QCoreApplication::applicationPid()));
}

void TestConsole::readInput()
{
    char buffer[4096];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n <= 0) {
        // The test that drove this process is gone.
        m_input->setEnabled(false);
        QCoreApplication::exit(0);
        return;
    }
    m_pending.append(buffer, int(n));
    int end;
    while ((end = m_pending.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(m_pending.left(end)).trimmed();
        m_pending.remove(0, end + 1);
        // Posted, not run here: a command may open a modal box, and the
        // commands that close it must still be read meanwhile.
        QMetaObject::invokeMethod(
            this, [this, line] { runCommand(line); }, Qt::QueuedConnection);
    }
}

void TestConsole::runCommand(const QString& line)
{
    const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString command = words.value(0);
    if (command == QLatin1String("login") && words.size() >= 2)
        logIn(words.at(1), words.value(2));
    else if (command == QLatin1String("state"))
        report(stateLine(m_window));
    else if (command == QLatin1String("close-message"))
        closeMessageBox();
    else if (command == QLatin1String("press") && words.size() == 2)
        press(words.at(1));
    else if (!command.isEmpty())
        report(QStringLiteral("unknown %1").arg(quoted(line)));
    // A login may sit in a modal box until a later command closes it; this
    // tells the test when it has really ended.
    if (!command.isEmpty())
        report(QStringLiteral("done %1").arg(command));
}

void TestConsole::logIn(const QString& name, const QString& password)
{
    // The operator's way: the menu entry, the two fields, the button.
    auto* action = m_window.findChild<QAction*>(QStringLiteral("action_Login"));
    if (!action || !theLogin) {
        report(QStringLiteral("unknown %1").arg(quoted(QStringLiteral("login"))));
        return;
    }
    action->trigger();
    theLogin->findChild<QLineEdit*>(QStringLiteral("usernameLineEdit"))->setText(name);
    theLogin->findChild<QLineEdit*>(QStringLiteral("passwordLineEdit"))->setText(password);
    theLogin->findChild<QPushButton*>(QStringLiteral("logIn"))->click();
}

void TestConsole::closeMessageBox()
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || box->buttons().isEmpty()) {
        report(QStringLiteral("no-message-box"));
        return;
    }
    box->buttons().first()->click();
}

void TestConsole::press(const QString& name)
{
    // As the operator would: only what is enabled, and a button only where
    // its window is shown.
    if (auto* action = m_window.findChild<QAction*>(name); action && action->isEnabled()) {
        action->trigger();
        return;
    }
    for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* button = top->findChild<QAbstractButton*>(name);
        if (button && button->isVisible() && button->isEnabled()) {
            button->click();
            return;
        }
    }
    report(QStringLiteral("not-found %1").arg(quoted(name)));
}

void TestConsole::report(const QString& text)
{
    std::printf("test-console: %s\n", qPrintable(text));
    std::fflush(stdout);
}
