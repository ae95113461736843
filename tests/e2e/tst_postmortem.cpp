// Post-mortem capture on the whole program over the virtual beamline: a kick
// beyond the region of control and a beam loss trip the feedback, and the
// files hold the records around the event, joined from two reads exactly as
// the virtual controller streamed them; trips in a row, Keep and a folder
// that cannot be written.

#include "support/operatorsteps.h"
#include "support/programfixture.h"
#include "support/screenshot.h"
#include "support/virtualprogram.h"
#include "support/widgets.h"

#include "../export/nexusreader.h"

#include "acquisition/postmortemcapture.h"
#include "control/windowroc_roi.h"
#include "device/configstore.h"
#include "measure/windowpostmortem.h"
#include "sim/simulationwindow.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableWidget>

#include <qcustomplot.h>

#include <cmath>
#include <numeric>
#include <optional>

namespace
{
constexpr double kKickUm = 500.0; // the region of control is 150 um
constexpr int kRate = 1000;

double mean(const std::vector<double>& v, const std::vector<double>& t, double from, double to)
{
    double sum = 0;
    int n = 0;
    for (std::size_t i = 0; i < v.size(); ++i)
        if (t[i] >= from && t[i] < to) {
            sum += v[i];
            ++n;
        }
    return n ? sum / n : NAN;
}

// The virtual program with the [PostMortem] folder `folder`, the feedback
// switched on in X and Y at BPM 1 with the regions of control and the beam-off
// check of BPM 1 enabled, the capture timed by the controller's clock.
// `script` runs once per display cycle after that, with one second of
// controller time passing per cycle, until it returns false.
struct TripRun {
    VirtualProgram program{15.0};
    // Answers message boxes while the program runs (its timer needs the
    // program's application object); what it caught is kept in `boxes`.
    std::optional<BoxCatcher> catcher;
    std::vector<BoxCatcher::Box> boxes;
    QString statusBar;
    int cycles = 0;

    uint64_t produced()
    {
        uint64_t n = 0;
        program.driver.inspect([&](const VirtualController& c) { n = c.recordsProduced(); });
        return n;
    }

    int run(const PostMortemSettings& settings,
            const std::function<bool(MainWindow&, PostMortemCapture&)>& script)
    {
        if (!program.useFirstRunConfiguration() ||
            !ConfigStore(program.platform.configPath).setPostMortem(settings))
            return -1;
        return program.run(
            [&](MainWindow& window, int cycle) {
                cycles = cycle;
                if (cycle == 1) {
                    logIn(window, "admin"_q, "KiteRiverSun"_q);
                    child<QAction>(&window, "action_ROC_ROI")->trigger();
                    auto* roc = window.findChild<WindowROC_ROI*>();
                    for (const char* box : {"enableROCXCheckCheckBox", "enableROCYCheckCheckBox",
                                            "enableBeamOffCheckCheckBox"})
                        child<QCheckBox>(roc, box)->setChecked(true);
                    QTest::mouseClick(standardButton(roc, QDialogButtonBox::Ok), Qt::LeftButton);
                    click(chooseLoops(window, {"confXcheckbox", "confYcheckbox"}), "buttonFdbk");
                    program.advance(1.0);
                    return;
                }
                statusBar = window.statusBar()->currentMessage();
                // Feedback on before the script starts; at most a minute in all.
                const bool on = theMailbox->pidStatus() == zevo::PID_STATUS_ON;
                if (cycle > 60 || ((on || cycle > 3) && !script(window, *window.postMortem()))) {
                    boxes = catcher->boxes;
                    catcher.reset();
                    return child<QAction>(&window, "action_Exit")->trigger();
                }
                program.advance(1.0);
            },
            [this](MainWindow& window) {
                catcher.emplace();
                window.postMortem()->setClock([this] { return program.clock.nowNs() * 1e-9; });
            });
    }
};

PostMortemSettings settingsIn(const QString& folder, int keep = 200)
{
    PostMortemSettings s;
    s.folder = folder;
    s.keep = keep;
    return s;
}
} // namespace

class TestPostMortem : public QObject
{
    Q_OBJECT

private slots:
    void kickBeyondRocCapturedAsStreamed()
    {
        QTemporaryDir folder;
        TripRun trip;
        uint64_t kickAt = 0;
        std::vector<zevo::DisplayRecord> streamed(40 * kRate);
        uint64_t streamedEnd = 0;
        QStringList listed;
        int plotted = 0, rows = 0;
        const int result = trip.run(
            settingsIn(folder.path()), [&](MainWindow& window, PostMortemCapture& capture) {
                if (kickAt == 0) {
                    // The operator's kick in the Simulation window.
                    kickAt = trip.produced();
                    SimulationWindow simulation(trip.program.driver);
                    child<QDoubleSpinBox>(&simulation, "kickXSpinBox")->setValue(kKickUm);
                    child<QDoubleSpinBox>(&simulation, "kickYSpinBox")->setValue(0.0);
                    click(&simulation, "kickButton");
                    return true;
                }
                if (capture.eventsSinceStart() == 0)
                    return true;
                trip.program.driver.inspect([&](const VirtualController& c) {
                    streamedEnd = c.recordsProduced();
                    c.copyNewest(streamed.data(), int(streamed.size()));
                });
                child<QAction>(&window, "actionPost_Mortem")->trigger();
                auto* pm = window.findChild<WindowPostMortem*>();
                auto* table = child<QTableWidget>(pm, "eventsTable");
                rows = table->rowCount();
                for (int c = 0; c < table->columnCount(); ++c)
                    listed << table->item(0, c)->text();
                plotted = child<QCustomPlot>(pm, "plot")->graphCount();
                if (screenshotsWanted())
                    saveScreenshot(*pm, QStringLiteral("post-mortem.png"));
                // Asked for just before the end: still written as the program ends.
                capture.captureNow();
                return false;
            });
        QCOMPARE(result, 0);
        const QStringList files = QDir(folder.path()).entryList({"*.nxs"_q}, QDir::Files);
        QCOMPARE(files.size(), 2); // the trip, then Capture now
        QCOMPARE(NexusReader(folder.filePath(files.last())).text("/entry/cause"_q),
                 "Capture now"_q);
        QCOMPARE(rows, 1); // read from the folder and captured: listed once
        QCOMPARE(listed.value(1), "FAULT: Out of ROC"_q);
        QCOMPARE(listed.value(2), "BPM1 X"_q);
        QCOMPARE(listed.value(3), files.first());
        QVERIFY(plotted >= 7); // four positions, two intensities (or one), three DACs
        QVERIFY2(trip.statusBar.startsWith("Post-mortem saved: "_q), qPrintable(trip.statusBar));

        NexusReader nexus(folder.filePath(files.first()));
        QCOMPARE(nexus.text("/entry/cause"_q), "FAULT: Out of ROC"_q);
        QCOMPARE(nexus.text("/entry/data"_q, "signal"_q), "bpm1_pos_x"_q);
        QCOMPARE(nexus.strings("/entry/data"_q, "axes"_q), QStringList{"time"_q});
        QCOMPARE(nexus.text("/entry/data/time"_q, "units"_q), "s"_q);
        QCOMPARE(nexus.text("/entry/data/bpm1_pos_x"_q, "units"_q), "um"_q);
        QVERIFY(!nexus.text("/entry/event_time"_q).isEmpty());
        QCOMPARE(nexus.values("/entry/instrument/postmortem/segments"_q), std::vector<double>{1.0});
        const std::vector<double> t = nexus.values("/entry/data/time"_q);
        const std::vector<double> x = nexus.values("/entry/data/bpm1_pos_x"_q);
        QVERIFY2(t.front() <= -10.0 && t.back() >= 2.0,
                 qPrintable(QStringLiteral("%1 .. %2 s").arg(t.front()).arg(t.back())));

        // Every record once, in order: the file's picoammeter currents are a
        // stretch of the stream with nothing doubled or left out.
        const std::vector<double> ch1 = nexus.values("/entry/data/dorvish1_ch1"_q);
        const std::vector<double> ch2 = nexus.values("/entry/data/dorvish1_ch2"_q);
        const auto streamedAt = [&](std::size_t k, int field) { return streamed[k].value[field]; };
        std::size_t start = streamed.size();
        for (std::size_t k = 0; k + ch1.size() <= streamed.size(); ++k)
            if (streamedAt(k, zevo::disp::Pico1Ch1) == ch1[0] &&
                streamedAt(k, zevo::disp::Pico1Ch1 + 1) == ch2[0]) {
                start = k;
                break;
            }
        QVERIFY(start < streamed.size());
        for (std::size_t i = 0; i < ch1.size(); ++i)
            QVERIFY2(streamedAt(start + i, zevo::disp::Pico1Ch1) == ch1[i] &&
                         streamedAt(start + i, zevo::disp::Pico1Ch1 + 1) == ch2[i],
                     qPrintable(QStringLiteral("record %1").arg(i)));

        // Time 0 within a second of the kick, which shows in the positions.
        const uint64_t firstStreamed = streamedEnd - streamed.size();
        const auto zeroIndex = std::size_t(std::find(t.begin(), t.end(), 0.0) - t.begin());
        const double zeroAfterKick =
            (double(firstStreamed + start + zeroIndex) - double(kickAt)) / kRate;
        qInfo("time 0 is %.3f s after the kick; %zu records, %.2f .. %.2f s", zeroAfterKick,
              t.size(), t.front(), t.back());
        QVERIFY(std::abs(zeroAfterKick) <= 1.0);
        QVERIFY(mean(x, t, 0.0, 0.5) - mean(x, t, -1.0, -0.1) > 0.5 * kKickUm);
    }

    void beamLossTwiceKeepAndUnwritableFolder()
    {
        // Two beam losses 4 s apart, the second while the first capture waits
        // for its second read (8 s after, however late the poll sees either):
        // two files, the intensity falling at 0; with Keep 3 the older of two
        // files already there goes. Each state lasts two cycles, so that the
        // once-a-second poll sees it.
        QTemporaryDir folder;
        for (const char* old :
             {"postmortem_20200101T000000.000Z.nxs", "postmortem_20210101T000000.000Z.nxs"}) {
            QFile f(folder.filePath(QString::fromLatin1(old)));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        TripRun trip;
        int step = 0;
        int mostPending = 0;
        const auto lossesAt = [](int step) { return step % 4 == 1 || step % 4 == 2; };
        PostMortemSettings settings = settingsIn(folder.path(), 3);
        settings.postTriggerSeconds = 8.0;
        const int result = trip.run(settings, [&](MainWindow&, PostMortemCapture& capture) {
            ++step;
            trip.program.driver.changeScenario(
                [&](Scenario& s) { s.beamPresent = !lossesAt(step) || step > 6; });
            mostPending = std::max(mostPending, capture.pending());
            return capture.eventsSinceStart() < 2;
        });
        QCOMPARE(mostPending, 2);
        QCOMPARE(result, 0);
        QVERIFY(trip.boxes.empty());
        QStringList files = QDir(folder.path()).entryList({"*.nxs"_q}, QDir::Files, QDir::Name);
        QCOMPARE(files.size(), 3);
        QCOMPARE(files.first(), "postmortem_20210101T000000.000Z.nxs"_q);
        for (const QString& name : files.mid(1)) {
            NexusReader nexus(folder.filePath(name));
            QCOMPARE(nexus.text("/entry/cause"_q), "Beam OFF"_q);
            const std::vector<double> t = nexus.values("/entry/data/time"_q);
            const std::vector<double> i0 = nexus.values("/entry/data/bpm1_i0"_q);
            QVERIFY(mean(i0, t, 0.05, 0.5) < 0.2 * mean(i0, t, -1.0, -0.05));
        }

        // A folder that is a plain file: the trips are listed as not saved,
        // said once in the status bar, no message box; the program runs on.
        QFile blocker(folder.filePath("blocker"_q));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        TripRun blocked;
        step = 0;
        std::vector<PostMortemEvent> events;
        const int blockedResult =
            blocked.run(settingsIn(blocker.fileName() + "/postmortem"_q),
                        [&](MainWindow&, PostMortemCapture& capture) {
                            ++step;
                            blocked.program.driver.changeScenario(
                                [&](Scenario& s) { s.beamPresent = !lossesAt(step) || step > 6; });
                            events = capture.events();
                            return capture.eventsSinceStart() < 2;
                        });
        QCOMPARE(blockedResult, 0);
        QVERIFY(blocked.boxes.empty());
        QCOMPARE(int(events.size()), 2);
        for (const PostMortemEvent& e : events) {
            QVERIFY(!e.saved);
            QVERIFY2(e.reason.contains("cannot be created"_q), qPrintable(e.reason));
        }
        QVERIFY2(blocked.statusBar.startsWith("Post-mortem not saved: "_q),
                 qPrintable(blocked.statusBar));
    }

    // The capture settings in the window: an administrator's only. A folder
    // that is not a full path or cannot be made is refused with a message
    // and nothing is saved; a usable one is saved with the rest, and the
    // list has its files at once beside this run's captures. A file removed
    // from the folder leaves the list.
    void administratorEditsTheCaptureSettings()
    {
        QTemporaryDir folder;
        const QString other = folder.filePath("other"_q);
        QFile blocker(folder.filePath("blocker"_q));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        TripRun trip;
        PostMortemSettings saved;
        bool lockedOut = false, offered = false, refusedUnchanged = true;
        QStringList before, after, afterRemoval;
        const auto rows = [](WindowPostMortem* pm) {
            QStringList files;
            auto* table = child<QTableWidget>(pm, "eventsTable");
            for (int r = 0; r < table->rowCount(); ++r)
                files << table->item(r, 3)->text();
            return files;
        };
        const int result = trip.run(
            settingsIn(folder.path()), [&](MainWindow& window, PostMortemCapture& capture) {
                child<QAction>(&window, "actionPost_Mortem")->trigger();
                auto* pm = window.findChild<WindowPostMortem*>();
                if (capture.eventsSinceStart() == 0) {
                    if (capture.pending() == 0) {
                        // An operator may capture but not change the settings.
                        logIn(window, "user"_q, "StoneHarbour"_q);
                        lockedOut = !child<QGroupBox>(pm, "settingsGroupBox")->isEnabled() &&
                                    !pm->applySettings();
                        click(pm, "captureNowButton");
                    }
                    return true;
                }
                before = rows(pm);
                const QString written = capture.events().front().path;
                QDir().mkpath(other);
                QFile::copy(written, other + "/postmortem_20220101T000000.000Z.nxs"_q);

                logIn(window, "admin"_q, "KiteRiverSun"_q);
                offered = child<QGroupBox>(pm, "settingsGroupBox")->isEnabled();
                auto* folderEdit = child<QLineEdit>(pm, "folderLineEdit");
                child<QCheckBox>(pm, "enabledCheckBox")->setChecked(false);
                child<QDoubleSpinBox>(pm, "postTriggerSpinBox")->setValue(3.5);
                child<QSpinBox>(pm, "keepSpinBox")->setValue(5);
                for (const QString& bad : {"relative/postmortem"_q, blocker.fileName() + "/pm"_q}) {
                    folderEdit->setText(bad);
                    click(pm, "applySettingsButton");
                    saved = theConfig->getPostMortem();
                    refusedUnchanged =
                        refusedUnchanged && saved.folder == folder.path() && saved.enabled;
                }
                folderEdit->setText(other);
                click(pm, "applySettingsButton");
                saved = theConfig->getPostMortem();
                after = rows(pm);
                QFile::remove(written);
                pm->reloadEvents();
                afterRemoval = rows(pm);
                return false;
            });
        QCOMPARE(result, 0);
        QVERIFY(lockedOut);
        QVERIFY(offered);
        QVERIFY(refusedUnchanged);
        QStringList refusals;
        for (const auto& box : trip.boxes)
            refusals << box.text;
        QCOMPARE(refusals.size(), 2);
        QVERIFY2(refusals[0].contains("full path"_q), qPrintable(refusals[0]));
        QVERIFY2(refusals[1].contains("cannot be made"_q), qPrintable(refusals[1]));
        QVERIFY(!saved.enabled);
        QCOMPARE(saved.folder, other);
        QCOMPARE(saved.postTriggerSeconds, 3.5);
        QCOMPARE(saved.keep, 5);
        QCOMPARE(before.size(), 1);
        QCOMPARE(after, before + QStringList{"postmortem_20220101T000000.000Z.nxs"_q});
        QCOMPARE(afterRemoval, QStringList{"postmortem_20220101T000000.000Z.nxs"_q});
    }
};

QTEST_APPLESS_MAIN(TestPostMortem)
#include "tst_postmortem.moc"
