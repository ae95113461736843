#pragma once

#include "acquisition/postmortemcapture.h"

#include <QDialog>

#include <memory>
#include <vector>

namespace Ui
{
class WindowPostMortem;
}

class QCPAxisRect;
class QCPLegend;

// "Post-Mortem": the trips of the feedback captured so far (this run's and
// those whose files are in the [PostMortem] folder), newest first. Choosing
// one plots X, Y and I0 of both BPMs and the DAC outputs against time, the
// event at 0 and the regions of control drawn. "Capture now" (level 1 and
// up) takes a capture as a trip would; "Open folder" shows the files. An
// administrator sets whether trips are captured, the folder, the delay of
// the second read and how many files are kept; they apply from the next
// capture on.
class WindowPostMortem : public QDialog
{
    Q_OBJECT

public:
    explicit WindowPostMortem(PostMortemCapture* capture, QWidget* parent = nullptr);
    ~WindowPostMortem() override;

    void showWindow();
    // Plots the event in row `row` of the list.
    void showEvent(int row);
    const std::vector<PostMortemEvent>& listed() const { return m_events; }

    // Saves the settings as edited in the window; a folder that is not a
    // full path or cannot be made or written is refused with a message box
    // and nothing changes. False when nothing was saved.
    bool applySettings();

public slots:
    void checkUserLevel();
    void reloadEvents();

private:
    void setupPlot();
    void loadSettings();
    void chooseFolder();
    void openFolder();

    std::unique_ptr<Ui::WindowPostMortem> ui;
    PostMortemCapture* m_capture;
    std::vector<PostMortemEvent> m_events;
    QCPAxisRect* m_rects[3] = {}; // positions, intensities, DAC outputs
    QCPLegend* m_legends[3] = {};
};
