#pragma once

#include "export/displaycsv.h"

#include <QDialog>

#include <array>
#include <memory>
#include <vector>

namespace Ui
{
class WindowSaveData;
}

class QAbstractButton;
class QCheckBox;

// "Save data": writes a fresh snapshot of the display buffer, read straight
// from the display node when "Save" is pressed, to a CSV file. The operator
// ticks the channels, types a comment, picks the file and the number of
// samples; an existing file is overwritten or appended to on request. The
// status line tells what the last save did. A path ending in ".nxs" gets
// the same save as an entry of a NeXus file instead. Created anew by the main window
// on each opening; several may be open at once.
class WindowSaveData : public QDialog
{
    Q_OBJECT

public:
    explicit WindowSaveData(QWidget* parent = nullptr);
    ~WindowSaveData() override;

    // The channel selection of the last save (the defaults before one).
    const displaycsv::Selection& selection() const { return m_selection; }

public slots:
    // Asks for the file with a proposed name carrying the date and time;
    // the answer (empty when cancelled) replaces the path field.
    void getPath();
    // Saves when the clicked button is "Save"; any other button never writes.
    void saveData(QAbstractButton* button);

private:
    void save();
    // Reads the display node into `records`; false with `error` when the node
    // cannot be opened or delivers fewer records than `needed`.
    bool readSnapshot(std::vector<zevo::DisplayRecord>& records, int needed, QString& error);
    void captureSelection();
    void showNotSaved(const QString& title, const QString& text, const QString& status);

    std::unique_ptr<Ui::WindowSaveData> ui;
    // The check box behind each optional column, in column order.
    std::array<QCheckBox*, displaycsv::ColumnCount> m_boxes{};
    displaycsv::Selection m_selection = displaycsv::defaultSelection();
    bool m_saving = false;
};
