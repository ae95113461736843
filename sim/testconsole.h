#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class MainWindow;
class QSocketNotifier;

// For the automated tests only: lets a test that runs the simulator build as
// a real process log in through the real login dialog and see what the
// operator would see. Enabled by the simulator option --test-console, which
// the help text does not list.
//
// Commands, one per line on standard input:
//   login NAME [PASSWORD]  open "&Login" from the menu, type NAME and
//                          PASSWORD, press "Log in"
//   state                  print the state line
//   close-message          press the first button of the open message box
//   press NAME             trigger the menu action or click the button of
//                          that object name, in whichever window shows it
// Reports on standard output, each line starting with "test-console: ":
//   ready PID                              the event loop runs
//   level N shown "NAME" disabled A,B,...  after every level change and on
//                                          `state` (menu actions that are
//                                          disabled, by object name; "-"
//                                          for none)
//   message-box "TITLE" "TEXT"             a message box opened
//   unknown "LINE"                         a command it does not know
//   no-message-box                         close-message found none open
//   not-found "NAME"                       press found no enabled action or
//                                          shown button of that name
//   done COMMAND                           the command has ended
// Quoted texts have their quotes, backslashes and line breaks written as
// \", \\ and \n. The end of standard input ends the program, so a test
// that dies leaves no simulator behind.
class TestConsole : public QObject
{
    Q_OBJECT

public:
    explicit TestConsole(MainWindow& window);

    // Removes --test-console from the arguments; true if it was there.
    static bool takeOption(int& argc, char** argv);

    // The state line of `window` (without the "test-console: " prefix).
    static QString stateLine(const MainWindow& window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void attach();
    void readInput();
    void runCommand(const QString& line);
    void logIn(const QString& name, const QString& password);
    void closeMessageBox();
    void press(const QString& name);
    void report(const QString& text);

    MainWindow& m_window;
    QSocketNotifier* m_input = nullptr;
    QByteArray m_pending;
};
