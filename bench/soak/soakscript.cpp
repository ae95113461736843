#include "bench/soak/soakscript.h"

#include "app/mainwindow.h"
#include "control/dialoglogin.h"
#include "device/globals.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace
{

constexpr int kStepMs = 500;
// Cycles left to run after the settings went back to the defaults, so that
// the measured cycles all fetch and draw the default buffer.
constexpr int kSettleCycles = 3;
// Cycles in each measuring window: a quarter of what is left after the
// warm-up, within these bounds.
constexpr int kMinWindowCycles = 10;
constexpr int kMaxWindowCycles = 60;

const char kAdminPassword[] = "KiteRiverSun";

double nowS()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

SoakScript::SoakScript(MainWindow& window, CycleMeter& meter, double seconds, Result& result)
    : QObject(&window), m_window(window), m_meter(meter), m_seconds(seconds),
      m_stepTimer(new QTimer(this)), m_result(result)
{
    m_startedS = nowS();
    m_stepTimer->setInterval(kStepMs);
    connect(m_stepTimer, &QTimer::timeout, this, &SoakScript::step);
    connect(&meter, &CycleMeter::cycleMeasured, this, &SoakScript::cycleMeasured);
    qApp->installEventFilter(this);
    // The login dialog exists once the event loop runs.
    QTimer::singleShot(0, this, &SoakScript::begin);
}

bool SoakScript::eventFilter(QObject* watched, QEvent* event)
{
    // Nothing in this script should make the program complain; whatever it
    // says is kept for the verdict, and the box is closed so the run goes on.
    if (event->type() == QEvent::Show) {
        if (auto* box = qobject_cast<QMessageBox*>(watched)) {
            const QString seen = box->windowTitle() + QStringLiteral(": ") + box->text();
            m_result.messageBoxes << seen;
            std::fprintf(stderr, "# message box: %s\n", qPrintable(seen));
            QTimer::singleShot(0, box, [box] {
                if (!box->buttons().isEmpty())
                    box->buttons().first()->click();
            });
        }
    }
    return false;
}

void SoakScript::begin()
{
    logInAsAdmin();
    floatBottomDocks();
    m_keep.insert(&m_window);
    for (QDockWidget* dock : m_window.findChildren<QDockWidget*>())
        m_keep.insert(dock);
    closeOpenWindows();
    buildRound();
    m_stepTimer->start();
}

void SoakScript::logInAsAdmin()
{
    // As the operator does it: the menu entry, the fields, the button.
    m_window.findChild<QAction*>(QStringLiteral("action_Login"))->trigger();
    if (!theLogin)
        return;
    theLogin->findChild<QLineEdit*>(QStringLiteral("usernameLineEdit"))
        ->setText(QStringLiteral("admin"));
    theLogin->findChild<QLineEdit*>(QStringLiteral("passwordLineEdit"))
        ->setText(QString::fromLatin1(kAdminPassword));
    theLogin->findChild<QPushButton*>(QStringLiteral("logIn"))->click();
}

void SoakScript::floatBottomDocks()
{
    // Tabbed docks behind the raised one are not drawn; floated side by side
    // every chart is drawn on every cycle.
    auto* fft = m_window.findChild<QDockWidget*>(QStringLiteral("dockFFT"));
    if (!fft)
        return;
    const QSize size = fft->size();
    QList<QDockWidget*> docks = m_window.tabifiedDockWidgets(fft);
    docks.prepend(fft);
    int offset = 0;
    for (QDockWidget* dock : docks) {
        dock->setFloating(true);
        dock->resize(size);
        dock->move(m_window.geometry().topRight() + QPoint(20, offset));
        dock->show();
        offset += 30;
    }
}

void SoakScript::buildRound()
{
    // Every entry of the menus that opens a window; the display settings
    // have steps of their own, and logging in again or leaving are not
    // part of the shift.
    QList<QAction*> windows;
    for (QAction* entry : m_window.menuBar()->actions()) {
        if (!entry->menu())
            continue;
        for (QAction* action : entry->menu()->actions()) {
            const QString name = action->objectName();
            if (action->isSeparator() || action->menu() || name == QLatin1String("action_Exit") ||
                name == QLatin1String("action_Login") ||
                name == QLatin1String("action_Display_Settings"))
                continue;
            windows << action;
        }
    }

    static const DisplaySetting settings[] = {
        {500, "8192", true, "2048"}, {2000, "4096", false, "8192"},
        {250, "1024", true, "8192"}, // a spectrum longer than the buffer
        {1000, "2048", false, "64"}, {1000, "14336", false, "1024"},
    };
    std::vector<std::function<void()>> settingSteps;
    for (const DisplaySetting& setting : settings)
        settingSteps.push_back([this, setting] { applyDisplaySetting(setting); });
    settingSteps.insert(settingSteps.begin() + 2, [this] { setPaused(true); });
    settingSteps.insert(settingSteps.begin() + 3, [this] { setPaused(false); });

    m_round.clear();
    for (int i = 0; i < windows.size() || std::size_t(i) < settingSteps.size(); ++i) {
        if (i < windows.size()) {
            QAction* action = windows.at(i);
            m_round.push_back([this, action] { openWindow(action); });
            m_round.push_back([this] { closeOpenWindows(); });
        }
        if (std::size_t(i) < settingSteps.size())
            m_round.push_back(settingSteps[std::size_t(i)]);
    }
    std::fprintf(stderr, "# one round: %d windows, %d display settings, %d steps of %d ms\n",
                 int(windows.size()), int(settingSteps.size()), int(m_round.size()), kStepMs);
}

void SoakScript::step()
{
    if (m_phase == Phase::WarmUp) {
        if (m_nextStep < m_round.size())
            m_round[m_nextStep++]();
        else
            finishRound();
        return;
    }
    if (m_phase != Phase::Churn)
        return;
    if (nowS() - m_startedS >= m_churnUntilS) {
        m_stepTimer->stop();
        restoreDefaults();
        settle(Phase::EndWindow);
        return;
    }
    m_round[m_nextStep++ % m_round.size()]();
}

void SoakScript::finishRound()
{
    m_stepTimer->stop();
    restoreDefaults();
    settle(Phase::StartWindow);
    const double left = m_seconds - (nowS() - m_startedS);
    m_windowCycles = std::clamp(int(left / 4.0), kMinWindowCycles, kMaxWindowCycles);
    std::fprintf(stderr, "# warm-up round done after %.0f s; measuring windows of %d cycles\n",
                 nowS() - m_startedS, m_windowCycles);
}

void SoakScript::settle(Phase next)
{
    m_phase = next == Phase::StartWindow ? Phase::SettleBeforeStart : Phase::SettleBeforeEnd;
    m_settleUntil = int(m_meter.samples().size()) + kSettleCycles;
}

void SoakScript::cycleMeasured(int index)
{
    const CycleMeter::Sample& sample = m_meter.samples().at(std::size_t(index));
    m_result.cycles = index + 1;
    m_result.peakRssMiB = std::max(m_result.peakRssMiB, sample.rssMiB);
    if (index == kSettleCycles - 1)
        m_result.afterStartUp = m_meter.summarize(0, kSettleCycles);
    if (index % 60 == 59)
        std::fprintf(stderr, "# %4.0f s: %d cycles, last cycle %.1f ms (%.1f ms CPU), %.1f MiB\n",
                     sample.atS, index + 1, sample.wallMs, sample.cpuMs, sample.rssMiB);

    switch (m_phase) {
    case Phase::SettleBeforeStart:
    case Phase::SettleBeforeEnd:
        if (index + 1 >= m_settleUntil) {
            m_phase = m_phase == Phase::SettleBeforeStart ? Phase::StartWindow : Phase::EndWindow;
            m_phaseFirstCycle = index + 1;
        }
        break;
    case Phase::StartWindow:
        if (index + 1 - m_phaseFirstCycle >= m_windowCycles) {
            m_result.start = m_meter.summarize(m_phaseFirstCycle, m_windowCycles);
            const double elapsed = nowS() - m_startedS;
            // Leave room for the settling and the end window.
            m_churnUntilS =
                elapsed + std::max(0.0, m_seconds - elapsed - (m_windowCycles + kSettleCycles + 1));
            m_phase = Phase::Churn;
            m_nextStep = 0;
            m_stepTimer->start();
        }
        break;
    case Phase::EndWindow:
        if (index + 1 - m_phaseFirstCycle >= m_windowCycles) {
            m_result.end = m_meter.summarize(m_phaseFirstCycle, m_windowCycles);
            m_result.completed = true;
            QCoreApplication::exit(0);
        }
        break;
    case Phase::WarmUp:
    case Phase::Churn:
        break;
    }
}

void SoakScript::openWindow(QAction* action)
{
    if (!action->isEnabled() || !action->isVisible())
        return;
    action->trigger();
    ++m_result.windowOpenings;
}

void SoakScript::closeOpenWindows()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->isVisible() && !m_keep.contains(widget) && !qobject_cast<QMenu*>(widget))
            widget->close();
}

void SoakScript::editDisplaySettings(const std::function<void(QWidget& dialog)>& edit)
{
    auto* action = m_window.findChild<QAction*>(QStringLiteral("action_Display_Settings"));
    auto* dialog = m_window.findChild<QDialog*>(QStringLiteral("WindowDisplaySettings"));
    if (!action || !dialog || !action->isVisible())
        return;
    action->trigger();
    edit(*dialog);
    dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))
        ->button(QDialogButtonBox::Ok)
        ->click();
    ++m_result.settingsChanges;
}

void SoakScript::applyDisplaySetting(const DisplaySetting& setting)
{
    editDisplaySettings([&setting](QWidget& dialog) {
        dialog.findChild<QDoubleSpinBox*>(QStringLiteral("dispFreqBox"))
            ->setValue(setting.frequencyHz);
        dialog.findChild<QComboBox*>(QStringLiteral("bufferSamplesComboBox"))
            ->setCurrentText(QString::fromLatin1(setting.records));
        dialog.findChild<QCheckBox*>(QStringLiteral("enableFilterCheckBox"))
            ->setChecked(setting.filter);
    });
    if (auto* length = m_window.findChild<QComboBox*>(QStringLiteral("fFTLengthComboBox")))
        length->setCurrentText(QString::fromLatin1(setting.fftLength));
}

void SoakScript::setPaused(bool paused)
{
    editDisplaySettings([paused](QWidget& dialog) {
        dialog.findChild<QCheckBox*>(QStringLiteral("pauseCheckBox"))->setChecked(paused);
    });
}

void SoakScript::restoreDefaults()
{
    closeOpenWindows();
    applyDisplaySetting({1000, "14336", false, "1024"});
    setPaused(false);
}
