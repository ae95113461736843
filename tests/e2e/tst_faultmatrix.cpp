// The whole program on the virtual controller while the driver misbehaves:
// every kind of request, in turn, fails, comes back short or brings back
// garbage, and nodes vanish. For each case an operator goes through every
// window and the poll with the fault, then once more without it. No case may
// crash, hang or read out of bounds (the sanitizer build runs this too); the
// poll, the display cycle and the settings windows stay silent, a measurement
// that lost a request says so, a display buffer that does not arrive ends the
// program with its message, and once the driver behaves the program works as
// before.

#include "support/programfixture.h"
#include "support/virtualprogram.h"
#include "support/widgets.h"

#include "beamline/bpm.h"
#include "beamline/widgetpico.h"
#include "beamline/windowbeamlineconf.h"
#include "beamline/windowsfpstatus.h"
#include "control/widgetfeedbackcontrol.h"
#include "control/windowmanoutctrl.h"
#include "control/windowpidparams.h"
#include "control/windowroc_roi.h"
#include "measure/windowrocking3d.h"
#include "measure/windowrockingcurve.h"
#include "measure/windowsavedata.h"
#include "measure/windowstepresponse.h"
#include "plots/widgetgraphcurrents.h"
#include "plots/widgetgraphxy.h"
#include "plots/windowdisplaysettings.h"

#include <QCheckBox>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QSlider>
#include <QSpinBox>

#include <bitset>
#include <csignal>
#include <cstring>
#include <set>

#include <unistd.h>

using Fault = RecordingDriver::Fault;
using Target = RecordingDriver::Target;
namespace cmd = zevo::cmd;

namespace
{
// clang-format off
const uint32_t kCommands[] = {
    cmd::ReadSwVersion, cmd::ReadHwTimestamp, cmd::ReadPidVersion, cmd::SetBpmScale,
    cmd::SetPidDivider, cmd::SetBpmChannelMap, cmd::SetBpmOrientation, cmd::SetFeedbackEnabled,
    cmd::SetOutputsFromController, cmd::ReadOutputsFromController, cmd::SetDisplayFrequency,
    cmd::ReadDisplayFrequency, cmd::SetBpmOffset, cmd::SetPidSources, cmd::ReadPidSources,
    cmd::SetPidParamBlock, cmd::SetSetpoint, cmd::ReadSetpoint, cmd::SetRegulationMode,
    cmd::ReadRegulationMode, cmd::SetPidOffset, cmd::SetRocLimit, cmd::ReadPidStatus,
    cmd::ApplyPidParams, cmd::ResetPidController, cmd::SetDacAssignment, cmd::SetRocEnables,
    cmd::ReadRocEnables, cmd::ReadSlot, cmd::SetHvEnabled, cmd::SetHvVoltage, cmd::SetPicoRange};
// clang-format on
// Asked by the start-up sequence only; then those asked at start-up too,
// where the answer shapes the program (its display rate, the panel's loops,
// the windows built for the devices found).
const std::vector<uint32_t> kStartupOnly = {cmd::ReadSwVersion, cmd::ReadHwTimestamp,
                                            cmd::ReadPidVersion, cmd::ReadPidSources,
                                            cmd::ReadRocEnables};
const std::vector<uint32_t> kAlsoAtStartup = {cmd::ReadDisplayFrequency, cmd::ReadRegulationMode,
                                              cmd::ReadSlot};

std::vector<Target> everyRequest()
{
    std::vector<Target> all;
    for (const char* node : {zevo::kMailboxNode, zevo::kPico0Node, zevo::kPico1Node, zevo::kDacNode,
                             zevo::kDisplayNode})
        all.push_back(Target::opening(node));
    for (unsigned long request : {zevo::MBOX_IOC_READ_STATUS, zevo::AMM_IOC_GET_INFO,
                                  zevo::AMM_IOC_READ_CURRENTS, zevo::DAC_IOC_SET_OUTPUTS})
        all.push_back(Target::ioctl(request));
    for (uint32_t command : kCommands)
        all.push_back(Target::mailbox(command));
    all.push_back(Target::reading());
    all.push_back(Target::fetching());
    return all;
}

// What an operator does in a round, in order.
// clang-format off
enum Step {
    Poll, Display, Feedback, XYClick, PidParams, RocRoi, Beamline, Pico, Sfp, DisplaySettings,
    ManualOutput, SaveData, Rocking, Rocking3D, StepResponse, StepCount
};
// clang-format on
using Steps = std::bitset<StepCount>;
const char* const kStepNames[StepCount] = {
    "poll",          "display cycle", "feedback panel", "XY click",         "PID parameters",
    "ROC/ROI",       "beamline",      "picoammeter",    "SFP info",         "display settings",
    "manual output", "save data",     "rocking curve",  "3D rocking curve", "step response"};

// Data saving and the measurements tell the operator when the driver lets
// them down; everything else is silent.
bool reports(Step s)
{
    return s >= SaveData;
}

// Requests that a step cannot do without: their loss must be reported.
bool mustReport(Step s, const Target& t, Fault f)
{
    const bool lost =
        f == Fault::Fail || f == Fault::Vanish || (t.kind == Target::Read && f == Fault::Empty);
    const bool dac = t == Target::opening(zevo::kDacNode) ||
                     t == Target::ioctl(zevo::DAC_IOC_SET_OUTPUTS) ||
                     (t.kind == Target::Transfer && t.command == cmd::SetOutputsFromController);
    const bool display = t == Target::opening(zevo::kDisplayNode) || t == Target::reading();
    const bool pico =
        t == Target::opening(zevo::kPico0Node) || t == Target::ioctl(zevo::AMM_IOC_READ_CURRENTS);
    return lost &&
           ((s == SaveData && display) || ((s == Rocking || s == Rocking3D) && (dac || pico)) ||
            (s == StepResponse && (dac || display)));
}

// A display buffer that does not arrive whole is read as a missing driver.
bool endsDisplay(const Target& t, Fault f)
{
    return t.kind == Target::GetBuffer && f <= Fault::Excess && f != Fault::Vanish;
}

// So is a display node that a step response cannot open.
bool endsStepResponse(const Target& t, Fault f)
{
    return t == Target::opening(zevo::kDisplayNode) && (f == Fault::Fail || f == Fault::Vanish);
}

// Under the address sanitizer a start of the program costs seconds: there
// the start-up requests get only the faults that they decode differently
// (failure, random bytes, all ones: not-a-number and the controller's
// "unknown command").
bool thorough(Fault f)
{
#ifdef __SANITIZE_ADDRESS__
    return f == Fault::Fail || f == Fault::Random || f == Fault::Ones;
#else
    Q_UNUSED(f);
    return true;
#endif
}

struct Case {
    Target target;
    Fault fault;
    int nth = 1;
    bool once = false;

    QString name() const
    {
        return QStringLiteral("%1 %2 %3 %4")
            .arg(QString::fromStdString(target.name()), RecordingDriver::name(fault),
                 once ? "once at" : "from", QString::number(nth));
    }
};

// A case that does not finish in time ends the process, naming the case: no
// check on the blocked GUI thread could report a hang.
char g_running[128];
void armWatchdog(const QString& what)
{
    std::snprintf(g_running, sizeof g_running, "HANG: %s\n", qPrintable(what));
    std::signal(SIGALRM, [](int) {
        const ssize_t ignored = write(STDERR_FILENO, g_running, std::strlen(g_running));
        (void)ignored;
        std::abort();
    });
    alarm(120);
}

void trigger(MainWindow& w, const char* action)
{
    child<QAction>(&w, action)->trigger();
}

bool isMissingDriver(const BoxCatcher::Box& b)
{
    return b.title == QLatin1String("Cannot open file") &&
           b.text == QLatin1String(
                         "System file /dev/zevo_dma_displ could not be opened.\n\n"
                         "Please check if ZEVO driver is loaded.\nApplication will now quit.\n");
}

QString describe(const BoxCatcher::Box& b)
{
    return QStringLiteral("%1 \"%2\": %3")
        .arg(b.hasParent ? "child" : "box", b.title, b.text.left(90).replace('\n', ' '));
}

// What a round gave: per step the message boxes and the calls that
// misbehaved in it.
struct Round {
    std::vector<BoxCatcher::Box> boxes[StepCount];
    int injections[StepCount] = {};
    int before = 0;    // calls that misbehaved before the round (at start-up)
    bool quit = false; // the program showed the missing-driver message
    QStringList problems;
};

// An operator at the running program, logged in at level 2.
class Operator
{
public:
    Operator(VirtualProgram& program, RecordingDriver& faults, MainWindow& window)
        : m_program(program), m_faults(faults), m_w(window)
    {
        logIn(m_w, QStringLiteral("admin"), QStringLiteral("KiteRiverSun"));
        // The poll runs when a round asks for it, so that each run of a case
        // makes the same calls.
        QMetaObject::invokeMethod(
            theMailbox,
            [] {
                for (QTimer* t : theMailbox->findChildren<QTimer*>())
                    t->stop();
            },
            Qt::BlockingQueuedConnection);
    }

    // A round without faults, noting which steps make which requests.
    void census()
    {
        m_census = true;
        for (int s = 0; s < StepCount; ++s) {
            const auto before = m_faults.counts();
            run(Step(s), nullptr);
            for (const auto& [target, n] : m_faults.counts())
                if (n != (before.count(target) ? before.at(target) : 0))
                    m_made[s].insert(target);
        }
    }

    // The steps from the first that makes the case's request to the last:
    // nothing before can meet the fault, and what comes after only reads
    // what the poll and the display cycle fetch (those go on to the end). A
    // node that vanishes fails every call on it.
    Steps stepsFor(const Case& c) const
    {
        Steps steps;
        if (m_census && c.fault != Fault::Vanish) {
            int first = StepCount, last = -1;
            for (int s = 0; s < StepCount; ++s)
                if (m_made[s].count(c.target)) {
                    first = std::min(first, s);
                    last = std::max(last, s <= Display ? int(StepCount) - 1 : s);
                }
            for (int s = first; s <= last; ++s)
                steps.set(std::size_t(s));
        }
        return steps.any() ? steps : Steps().set();
    }

    Round round(const Case* active, Steps steps = Steps().set())
    {
        Round r;
        r.before = m_faults.injections();
        for (int s = 0; s < StepCount && !r.quit; ++s) {
            if (!steps[std::size_t(s)])
                continue;
            const std::size_t shown = m_catcher.boxes.size();
            const int injected = m_faults.injections();
            run(Step(s), active);
            QCoreApplication::processEvents();
            r.boxes[s].assign(m_catcher.boxes.begin() + long(shown), m_catcher.boxes.end());
            r.injections[s] = m_faults.injections() - injected;
            for (const BoxCatcher::Box& b : r.boxes[s])
                r.quit = r.quit || isMissingDriver(b);
            // Whatever else failed, the display cycle shows a whole buffer.
            const int points = m_w.findChild<WidgetGraphCurrents*>()->graphData(0)->size();
            if (s == Display && !r.quit && points != BUFFER_BYTES / zevo::kDisplayRecordBytes)
                r.problems << QStringLiteral("%1 points in the currents plot").arg(points);
        }
        m_program.clock.advanceSeconds(0.05);
        return r;
    }

private:
    void run(Step step, const Case* active)
    {
        switch (step) {
        case Poll:
            QMetaObject::invokeMethod(theMailbox, &MailboxComm::refreshData,
                                      Qt::BlockingQueuedConnection);
            return;
        case Display:
            theUpdater->updateGraphs();
            // The plots behind the raised tab draw only when they come into view.
            for (const char* name : {"dockCurrents1", "dockCurrents2", "dockDAC", "dockPosition1",
                                     "dockPosition2", "dockFFT"}) {
                if (!active || active->target.kind != Target::GetBuffer)
                    return;
                auto* dock = child<QDockWidget>(&m_w, name);
                dock->raise();
                QMetaObject::invokeMethod(dock->widget(), "replot");
                QCoreApplication::processEvents();
            }
            return;
        case Feedback: {
            auto* panel = m_w.findChild<WidgetFeedbackControl*>();
            panel->refreshFields();
            for (const char* button :
                 {"buttonUpdate", "updateConfButton", "resetPIDbutton", "buttonFdbk", "buttonFdbk"})
                child<QPushButton>(panel, button)->click();
            panel->updateXYfields();
            return;
        }
        case XYClick: {
            WidgetGraphXY* plot = m_w.graphXY(0);
            child<QPushButton>(plot, "tagetEnable")->setChecked(true);
            auto* graph = plot->findChild<QCustomPlot*>();
            QMouseEvent click(QEvent::MouseButtonPress,
                              QPointF(graph->xAxis->coordToPixel(0), graph->yAxis->coordToPixel(0)),
                              Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
            plot->graphClicked(&click);
            return;
        }
        case PidParams:
            trigger(m_w, "action_PID_Parameters");
            return apply(m_w.findChild<WindowPIDparams*>(), QDialogButtonBox::Apply);
        case RocRoi:
            trigger(m_w, "action_ROC_ROI");
            return apply(m_w.findChild<WindowROC_ROI*>(), QDialogButtonBox::Apply);
        case Beamline: {
            trigger(m_w, "action_Beamline_Settings");
            auto* bpm = child<BPM>(m_w.beamlineConf(), "boxBPM1");
            for (const char* button : {"enableHVbutton", "setHVbutton", "enableHVbutton"})
                child<QPushButton>(bpm, button)->click();
            QMetaObject::invokeMethod(m_w.beamlineConf(), "refreshFields");
            return apply(m_w.beamlineConf(), QDialogButtonBox::Save);
        }
        case Pico:
            trigger(m_w, "actionPico_Amp");
            for (WidgetPico* panel : m_w.findChildren<WidgetPico*>())
                child<QPushButton>(panel, "saveButton")->click();
            return;
        case Sfp:
            trigger(m_w, "actionSFP_info");
            QMetaObject::invokeMethod(m_w.findChild<WindowSFPstatus*>(), "updateSFPdata");
            return;
        case DisplaySettings:
            trigger(m_w, "action_Display_Settings");
            return apply(m_w.findChild<WindowDisplaySettings*>(), QDialogButtonBox::Ok);
        case ManualOutput: {
            trigger(m_w, "actionManual_Output_Control");
            auto* manual = m_w.findChild<WindowManOutCtrl*>();
            child<QCheckBox>(manual, "checboxEnableMan")->setChecked(true);
            child<QSlider>(manual, "ch0slider")->setValue(1);
            child<QSlider>(manual, "ch0slider")->setValue(0);
            child<QCheckBox>(manual, "checboxEnableMan")->setChecked(false);
            manual->hide();
            return;
        }
        case SaveData:
            return inNewWindow<WindowSaveData>("action_Save_Data", [this](WindowSaveData* w) {
                // The CSV file and the NeXus file in turn.
                const QString path = m_out.filePath(++m_saves % 2 ? "saved.csv" : "saved.nxs");
                QFile::remove(path);
                child<QLineEdit>(w, "pathLineEdit")->setText(path);
                child<QSpinBox>(w, "nrSampBox")->setValue(100);
                buttonNamed(w, QStringLiteral("Save"))->click();
            });
        case Rocking:
            return inNewWindow<WindowRockingCurve>("action_Rocking_Curve", [this](auto* w) {
                w->setWaitFunction([this](unsigned long us) { advanceUs(us); });
                child<QSpinBox>(w, "boxN")->setValue(3);
                child<QDoubleSpinBox>(w, "boxTimePoint")->setValue(1.0);
                child<QPushButton>(w, "buttonStart")->click();
            });
        case Rocking3D:
            return inNewWindow<WindowRocking3D>("actionRocking_Curve_3D", [this](auto* w) {
                // Two grid points reach every request of the scan; then the
                // operator presses Stop.
                auto sleeps = std::make_shared<int>(0);
                w->setSleeper([this, w, sleeps](unsigned long us) {
                    advanceUs(us);
                    if (++*sleeps == 12)
                        w->stopMeasurement();
                });
                child<QPushButton>(w, "goButton")->click();
            });
        case StepResponse: {
            trigger(m_w, "actionStep_Response");
            auto* w = m_w.findChild<WindowStepResponse*>();
            w->setWaitFunction([this](int ms) { advanceUs(ms * 1000ul); });
            return apply(w, QDialogButtonBox::Apply);
        }
        case StepCount:
            return;
        }
    }

    void advanceUs(unsigned long us) { m_program.clock.advanceNs(int64_t(us) * 1000); }

    static void apply(QWidget* window, QDialogButtonBox::StandardButton button)
    {
        standardButton(window, button)->click();
        window->hide();
    }

    // A window of the kind that `action` opens anew; `use` drives it, then
    // it is closed.
    template <typename W, typename F> void inNewWindow(const char* action, F use)
    {
        const auto before = m_w.findChildren<W*>();
        trigger(m_w, action);
        QPointer<W> window;
        for (W* w : m_w.findChildren<W*>())
            if (!before.contains(w))
                window = w;
        use(window.data());
        if (window) {
            window->close();
            delete window.data();
        }
    }

    VirtualProgram& m_program;
    RecordingDriver& m_faults;
    MainWindow& m_w;
    BoxCatcher m_catcher;
    std::set<Target> m_made[StepCount];
    bool m_census = false;
    int m_saves = 0;
    QTemporaryDir m_out{QDir(QStringLiteral("/dev/shm")).exists()
                            ? QStringLiteral("/dev/shm/zevo-XXXXXX")
                            : QDir::tempPath() + QStringLiteral("/zevo-XXXXXX")};
};

// The round with the fault: only the steps that must report may show a box
// (a measurement once a call misbehaved; the missing-driver message where
// the fault ends the program, exactly once), never with a parent.
void judge(const Case& c, const Round& r, QStringList& problems)
{
    int injected = r.before, quitting = 0;
    for (int s = 0; s < StepCount; ++s) {
        injected += r.injections[s];
        for (const BoxCatcher::Box& b : r.boxes[s]) {
            quitting += isMissingDriver(b);
            // The display timer may run a cycle inside any step.
            const bool allowed =
                isMissingDriver(b) ? endsDisplay(c.target, c.fault) ||
                                         (s == StepResponse && endsStepResponse(c.target, c.fault))
                                   : reports(Step(s)) && injected > 0;
            if (!allowed || b.hasParent)
                problems << QStringLiteral("%1 showed %2").arg(kStepNames[s], describe(b));
        }
        if (r.injections[s] > 0 && !c.once && mustReport(Step(s), c.target, c.fault) &&
            r.boxes[s].empty())
            problems << QStringLiteral("%1 did not report it").arg(kStepNames[s]);
    }
    const bool mustQuit = endsDisplay(c.target, c.fault) ||
                          (endsStepResponse(c.target, c.fault) && r.injections[StepResponse] > 0);
    if (mustQuit && quitting != 1)
        problems << QStringLiteral("the missing-driver message came %1 times").arg(quitting);
    if (injected == 0)
        problems << QStringLiteral("no request of this kind was made");
    problems << r.problems;
}
} // namespace

class TestFaultMatrix : public QObject
{
    Q_OBJECT

    // What the start-up made of the controller, for the start-up cases.
    struct Startup {
        QString swVersion;
        int sampFreq = 0;
        bool displaySettings = false;
        int devices = -1; // seen by the round with the fault
    } m_startup;

    // Runs the program once for `cases`, each with a round with its fault
    // and one without. With `fromStart` the (one) case's fault is there from
    // the program's first request on. `lasting`: the fault leaves the
    // mailbox closed for good, so the measurements go on saying that they
    // cannot run. Returns what went wrong, by case.
    QStringList runProgram(const std::vector<Case>& cases, bool fromStart, bool lasting = false)
    {
        // Each run starts as a fresh process would.
        controllerVersions = {};
        userLevel = 0;
        bpmScale = {};
        pidSourceX = pidSourceY = pidSourceI0 = 0;
        PID_BASE_FREQ = 100000;
        SAMP_FREQ = 1000;
        BUFFER_BYTES = zevo::kDisplayBufferBytes;

        VirtualProgram program;
        // Every Save writes the settings file many times over: on a RAM disk
        // that costs nothing.
        QTemporaryDir fast(QStringLiteral("/dev/shm/zevo-XXXXXX"));
        if (fast.isValid())
            program.platform.configPath = fast.filePath(QStringLiteral("config.ini"));
        if (!program.useFirstRunConfiguration())
            return {QStringLiteral("no first-run configuration")};
        RecordingDriver faults(&program.driver, 20260605);
        program.platform.driver = &faults;
        const Case& first = cases.front();
        armWatchdog(first.name());
        if (fromStart)
            faults.inject(first.target, first.fault, first.nth, first.once);

        QStringList problems;
        bool quit = false;
        const int result = program.run({}, [&](MainWindow& window) {
            m_startup = {controllerVersions.swVersion, SAMP_FREQ,
                         child<QAction>(&window, "action_Display_Settings")->isVisible(), -1};
            QTimer::singleShot(0, &window, [&] {
                Operator op(program, faults, window);
                if (cases.size() > 1)
                    op.census();
                for (const Case& c : cases) {
                    armWatchdog(c.name());
                    faults.clearCalls(); // only the counts are looked at
                    if (!fromStart)
                        faults.inject(c.target, c.fault, c.nth, c.once);
                    const Round withFault = op.round(&c, op.stepsFor(c));
                    m_startup.devices = theMailbox->deviceCount();
                    faults.clear();
                    QStringList found;
                    judge(c, withFault, found);
                    if (!withFault.quit) {
                        // Again where the fault struck, and the poll and
                        // display cycle: silent, and the poll sees the
                        // virtual beamline's devices again.
                        Steps again = Steps().set(Poll).set(Display);
                        for (int s = 0; s < StepCount; ++s)
                            if (withFault.injections[s] > 0 || !withFault.boxes[s].empty())
                                again.set(std::size_t(s));
                        const Round after = op.round(nullptr, again);
                        for (int s = 0; s < StepCount; ++s)
                            for (const BoxCatcher::Box& b : after.boxes[s])
                                if (!lasting || !reports(Step(s)))
                                    found << QStringLiteral("afterwards %1 showed %2")
                                                 .arg(kStepNames[s], describe(b));
                        found << after.problems;
                        if (!lasting && theMailbox->deviceCount() != 2)
                            found << QStringLiteral("afterwards %1 devices")
                                         .arg(theMailbox->deviceCount());
                    }
                    for (const QString& p : found)
                        problems << c.name() + QStringLiteral(": ") + p;
                    if (withFault.quit) {
                        // On its way out; if it were not, it would end with 1.
                        quit = true;
                        QTimer::singleShot(5000, &window, [] { QCoreApplication::exit(1); });
                        return;
                    }
                }
                trigger(window, "action_Exit");
            });
        });
        alarm(0);
        if (result != 0)
            problems << QStringLiteral("%1: the program ended with %2%3")
                            .arg(first.name())
                            .arg(result)
                            .arg(quit ? " instead of quitting" : "");
        return problems;
    }

private slots:
    void initTestCase()
    {
        // The offscreen platform's note on every window raised would bury the failures in the log.
        static const QtMessageHandler previous = qInstallMessageHandler(nullptr);
        qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
                if (!text.startsWith(QLatin1String("This plugin does not support")))
                    previous(type, context, text);
            });
    }

    // Every request kind made while the program runs, with every fault that
    // applies to it from its first call in a round on; the multi-message
    // operations and the scans also with one failure in their middle; the
    // nodes also vanishing between their open and their use.
    void duringOperation()
    {
        std::vector<Case> cases;
        for (const Target& t : everyRequest()) {
            const bool elsewhere =
                t == Target::opening(zevo::kMailboxNode) ||
                t == Target::opening(zevo::kDisplayNode) ||
                (t.kind == Target::Transfer &&
                 std::count(kStartupOnly.begin(), kStartupOnly.end(), t.command));
            for (int f = 0; f < RecordingDriver::kFaultCount && !elsewhere; ++f) {
                if (!RecordingDriver::applies(Fault(f), t) || endsDisplay(t, Fault(f)))
                    continue;
                cases.push_back({t, Fault(f)});
                if (Fault(f) == Fault::Vanish)
                    cases.push_back({t, Fault(f), 2});
            }
        }
        for (uint32_t command : {cmd::SetPidParamBlock, cmd::SetSetpoint, cmd::ReadSetpoint,
                                 cmd::SetPidOffset, cmd::SetBpmOffset, cmd::ReadSlot})
            cases.push_back({Target::mailbox(command), Fault::Fail, 2, true});
        for (unsigned long request : {zevo::DAC_IOC_SET_OUTPUTS, zevo::AMM_IOC_READ_CURRENTS})
            cases.push_back({Target::ioctl(request), Fault::Fail, 3, true});
        // The request that gives the DAC outputs back to the controller.
        cases.push_back({Target::mailbox(cmd::SetOutputsFromController, 1), Fault::Fail});
        const QStringList problems = runProgram(cases, false);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
    }

    // The requests of the start-up sequence misbehaving from the first call
    // on: the program comes up without a message and works once the driver
    // does. Without its mailbox node it has no controller: no versions, the
    // fixed display rate, no devices.
    void atStartUp()
    {
        std::vector<Case> cases = {{Target::opening(zevo::kMailboxNode), Fault::Fail}};
        for (const auto* commands : {&kStartupOnly, &kAlsoAtStartup})
            for (uint32_t command : *commands)
                for (int f = 0; f < RecordingDriver::kFaultCount; ++f)
                    if (RecordingDriver::applies(Fault(f), Target::mailbox(command)) &&
                        thorough(Fault(f)))
                        cases.push_back({Target::mailbox(command), Fault(f)});
        QStringList problems;
        for (const Case& c : cases) {
            const bool noMailbox = c.target.kind == Target::Open;
            problems << runProgram({c}, true, noMailbox);
            const bool noVersions = noMailbox || (c.target == Target::mailbox(cmd::ReadSwVersion) &&
                                                  c.fault == Fault::Fail);
            if (noVersions && (!m_startup.swVersion.isEmpty() || m_startup.displaySettings ||
                               m_startup.sampFreq != 1000))
                problems << c.name() +
                                QStringLiteral(": versions or display rate not the defaults");
            if (noMailbox && m_startup.devices != 0)
                problems << c.name() + QStringLiteral(": devices without a mailbox");
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
    }

    // A display buffer that does not arrive whole, and a display node that
    // the step response cannot open, end the program with the missing-driver
    // message, shown once. The mailbox node vanishing mid-run leaves the
    // program silent but for the measurements, which say why they cannot run.
    void endingFaults()
    {
        std::vector<Case> cases;
        for (Fault f : {Fault::Fail, Fault::Short, Fault::Empty, Fault::Negative, Fault::Excess})
            cases.push_back({Target::fetching(), f});
        for (int nth : {1, 2})
            cases.push_back({Target::opening(zevo::kDisplayNode), Fault::Vanish, nth});
        cases.push_back({Target::opening(zevo::kDisplayNode), Fault::Fail});
        QStringList problems;
        for (const Case& c : cases)
            problems << runProgram({c}, false);
        problems << runProgram({{Target::opening(zevo::kMailboxNode), Fault::Vanish, 3}}, false,
                               true);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
    }
};

QTEST_APPLESS_MAIN(TestFaultMatrix)
#include "tst_faultmatrix.moc"
