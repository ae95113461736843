#pragma once

#include "acquisition/postmortemcapture.h"

#include <QDialog>

#include <vector>

class QCPAxisRect;
class QCPLegend;
class QCustomPlot;
class QLabel;
class QPushButton;
class QTableWidget;

// "Post-Mortem": the trips of the feedback captured so far (this run's and
// those whose files are in the [PostMortem] folder), newest first. Choosing
// one plots X, Y and I0 of both BPMs and the DAC outputs against time, the
// event at 0 and the regions of control drawn. "Capture now" (level 1 and
// up) takes a capture as a trip would; "Open folder" shows the files.
class WindowPostMortem : public QDialog
{
    Q_OBJECT

public:
    explicit WindowPostMortem(PostMortemCapture* capture, QWidget* parent = nullptr);

    void showWindow();
    // Plots the event in row `row` of the list.
    void showEvent(int row);
    const std::vector<PostMortemEvent>& listed() const { return m_events; }

public slots:
    void checkUserLevel();
    void reloadEvents();

private:
    void setupPlot();
    void openFolder();

    PostMortemCapture* m_capture;
    std::vector<PostMortemEvent> m_events;
    QTableWidget* m_table;
    QCustomPlot* m_plot;
    QCPAxisRect* m_rects[3] = {}; // positions, intensities, DAC outputs
    QCPLegend* m_legends[3] = {};
    QLabel* m_note;
    QPushButton* m_captureNow;
};
