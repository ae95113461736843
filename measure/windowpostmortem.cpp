#include "measure/windowpostmortem.h"
#include "ui_windowpostmortem.h"

#include "control/dialoglogin.h"
#include "device/configstore.h"
#include "device/globals.h"
#include "device/userlevel.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QUrl>

#include <qcustomplot.h>

namespace
{
// The fields plotted in each of the three strips, with their legend names.
struct Trace {
    const char* field;
    const char* name;
    QColor colour;
};
const Trace kPositions[4] = {{"bpm1_pos_x", "BPM1 X", Qt::blue},
                             {"bpm1_pos_y", "BPM1 Y", Qt::red},
                             {"bpm2_pos_x", "BPM2 X", Qt::darkCyan},
                             {"bpm2_pos_y", "BPM2 Y", Qt::darkMagenta}};
const Trace kIntensities[2] = {{"bpm1_i0", "BPM1 I0", Qt::darkGreen},
                               {"bpm2_i0", "BPM2 I0", Qt::darkYellow}};
const Trace kDacs[3] = {{"ostrel_ch1", "DAC 1", Qt::blue},
                        {"ostrel_ch2", "DAC 2", Qt::red},
                        {"ostrel_ch3", "DAC 3", Qt::darkGreen}};

QVector<double> toVector(const std::vector<double>& v)
{
    return QVector<double>(v.begin(), v.end());
}
} // namespace

WindowPostMortem::WindowPostMortem(PostMortemCapture* capture, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::WindowPostMortem>()), m_capture(capture)
{
    ui->setupUi(this);
    ui->splitter->setSizes({560, 690});
    ui->postTriggerSpinBox->setMaximum(PostMortemSettings::kMaxPostTriggerSeconds);
    setupPlot();

    connect(ui->openFolderButton, &QPushButton::clicked, this, &WindowPostMortem::openFolder);
    connect(ui->chooseFolderButton, &QPushButton::clicked, this, &WindowPostMortem::chooseFolder);
    connect(ui->applySettingsButton, &QPushButton::clicked, this, &WindowPostMortem::applySettings);
    connect(ui->eventsTable, &QTableWidget::currentCellChanged, this,
            [this](int current) { showEvent(current); });
    if (m_capture) {
        connect(ui->captureNowButton, &QPushButton::clicked, m_capture,
                &PostMortemCapture::captureNow);
        connect(m_capture, &PostMortemCapture::captured, this, &WindowPostMortem::reloadEvents);
    }
    if (theLogin)
        connect(theLogin, &DialogLogin::userLevelChanged, this, &WindowPostMortem::checkUserLevel);
    loadSettings();
    checkUserLevel();
}

WindowPostMortem::~WindowPostMortem() = default;

void WindowPostMortem::setupPlot()
{
    // Each strip has a legend of its own.
    ui->plot->setAutoAddPlottableToLegend(false);
    ui->plot->plotLayout()->clear();
    const char* labels[3] = {"position (µm)", "intensity (A)", "DAC output (V)"};
    for (int k = 0; k < 3; ++k) {
        m_rects[k] = new QCPAxisRect(ui->plot);
        ui->plot->plotLayout()->addElement(k, 0, m_rects[k]);
        m_rects[k]->axis(QCPAxis::atLeft)->setLabel(QString::fromUtf8(labels[k]));
        m_rects[k]->axis(QCPAxis::atBottom)->setLabel(QStringLiteral("time from the event (s)"));
        // Beside its strip, where it hides no data.
        auto* legend = new QCPLegend;
        ui->plot->plotLayout()->addElement(k, 1, legend);
        legend->setLayer(QStringLiteral("legend"));
        legend->setFont(font());
        m_legends[k] = legend;
    }
    ui->plot->plotLayout()->setColumnStretchFactor(1, 0.01);
}

void WindowPostMortem::showWindow()
{
    loadSettings();
    checkUserLevel();
    reloadEvents();
    show();
    raise();
    activateWindow();
    ui->eventsTable->setFocus();
}

void WindowPostMortem::checkUserLevel()
{
    ui->captureNowButton->setEnabled(m_capture && userLevel >= zevo::LevelUser);
    ui->settingsGroupBox->setEnabled(userLevel == zevo::LevelAdmin);
}

void WindowPostMortem::loadSettings()
{
    const PostMortemSettings s = PostMortemCapture::settingsInForce();
    ui->enabledCheckBox->setChecked(s.enabled);
    ui->folderLineEdit->setText(QDir::toNativeSeparators(s.folder));
    ui->postTriggerSpinBox->setValue(s.postTriggerSeconds);
    ui->keepSpinBox->setValue(s.keep);
}

bool WindowPostMortem::applySettings()
{
    if (userLevel != zevo::LevelAdmin || !theConfig)
        return false;
    PostMortemSettings edited;
    edited.enabled = ui->enabledCheckBox->isChecked();
    edited.folder =
        QDir::cleanPath(QDir::fromNativeSeparators(ui->folderLineEdit->text().trimmed()));
    edited.postTriggerSeconds = ui->postTriggerSpinBox->value();
    edited.keep = ui->keepSpinBox->value();
    // The folder is checked now, while an administrator is at the window,
    // rather than found unusable at the next trip.
    QString problem;
    if (edited.folder.isEmpty() || !QDir::isAbsolutePath(edited.folder))
        problem = QStringLiteral("The folder must be given as a full path, such as %1.")
                      .arg(QDir::toNativeSeparators(PostMortemSettings::defaultFolder()));
    else if (!QDir().mkpath(edited.folder))
        problem = QStringLiteral("The folder %1 cannot be made.")
                      .arg(QDir::toNativeSeparators(edited.folder));
    else if (!QFileInfo(edited.folder).isWritable())
        problem = QStringLiteral("The folder %1 cannot be written.")
                      .arg(QDir::toNativeSeparators(edited.folder));
    if (!problem.isEmpty()) {
        QMessageBox::warning(nullptr, windowTitle(), problem);
        return false;
    }
    if (!theConfig->setPostMortem(edited)) {
        QMessageBox::warning(nullptr, windowTitle(),
                             QStringLiteral("The settings could not be saved in %1.")
                                 .arg(QDir::toNativeSeparators(theConfig->filePath())));
        return false;
    }
    loadSettings();
    reloadEvents(); // the files of the folder now in use
    return true;
}

void WindowPostMortem::chooseFolder()
{
    const QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Folder of the post-mortem files"), ui->folderLineEdit->text());
    if (!folder.isEmpty())
        ui->folderLineEdit->setText(QDir::toNativeSeparators(folder));
}

void WindowPostMortem::reloadEvents()
{
    m_events = m_capture ? m_capture->events() : std::vector<PostMortemEvent>();
    const QSignalBlocker quiet(ui->eventsTable);
    ui->eventsTable->setRowCount(int(m_events.size()));
    for (int i = 0; i < int(m_events.size()); ++i) {
        const PostMortemEvent& e = m_events[std::size_t(i)];
        const QString file =
            e.saved ? QFileInfo(e.path).fileName() : QStringLiteral("not saved: ") + e.reason;
        const QString cells[4] = {
            e.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), e.cause,
            e.location, file};
        for (int c = 0; c < 4; ++c)
            ui->eventsTable->setItem(i, c, new QTableWidgetItem(cells[c]));
    }
    ui->eventsTable->resizeColumnsToContents();
    if (!m_events.empty()) {
        ui->eventsTable->setCurrentCell(0, 0);
        showEvent(0);
    }
    ui->noteLabel->setText(m_events.empty() ? QStringLiteral("No trip captured yet.") : QString());
}

void WindowPostMortem::showEvent(int row)
{
    for (QCPAxisRect* rect : m_rects)
        for (QCPGraph* graph : rect->graphs())
            ui->plot->removeGraph(graph);
    ui->plot->clearItems();
    if (row < 0 || row >= int(m_events.size()))
        return ui->plot->replot();
    const PostMortemEvent& e = m_events[std::size_t(row)];
    QStringList fields;
    for (const Trace& t : kPositions)
        fields << QString::fromLatin1(t.field);
    for (const Trace& t : kIntensities)
        fields << QString::fromLatin1(t.field);
    for (const Trace& t : kDacs)
        fields << QString::fromLatin1(t.field);
    const PostMortemSeries s =
        e.saved ? postmortemfile::readSeries(e.path, fields) : PostMortemSeries();
    ui->noteLabel->setText(e.saved
                               ? (s.valid ? QString() : QStringLiteral("The file cannot be read."))
                               : QStringLiteral("Not saved: ") + e.reason);
    const QVector<double> time = toVector(s.time);
    int field = 0;
    auto plotTraces = [&](QCPAxisRect* rect, const Trace* traces, int count) {
        QCPLegend* legend = m_legends[rect == m_rects[0] ? 0 : rect == m_rects[1] ? 1 : 2];
        legend->clearItems();
        for (int k = 0; k < count; ++k, ++field) {
            const std::vector<double>& v =
                s.values.empty() ? std::vector<double>() : s.values[std::size_t(field)];
            if (v.empty())
                continue;
            QCPGraph* g =
                ui->plot->addGraph(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
            g->setName(QString::fromLatin1(traces[k].name));
            g->setPen(QPen(traces[k].colour));
            g->setData(time, toVector(v), true);
            g->addToLegend(legend);
        }
        rect->axis(QCPAxis::atBottom)->rescale();
        rect->axis(QCPAxis::atLeft)->rescale();
        rect->axis(QCPAxis::atLeft)->scaleRange(1.1); // the traces off the frame
        // The event: a dashed line at 0.
        auto* zero = new QCPItemStraightLine(ui->plot);
        zero->setClipAxisRect(rect);
        for (QCPItemPosition* p : {zero->point1, zero->point2})
            p->setAxes(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
        zero->point1->setCoords(0, 0);
        zero->point2->setCoords(0, 1);
        zero->setPen(QPen(Qt::black, 1, Qt::DashLine));
    };
    plotTraces(m_rects[0], kPositions, 4);
    plotTraces(m_rects[1], kIntensities, 2);
    plotTraces(m_rects[2], kDacs, 3);
    // The regions of control, either side of 0, in the colour of their BPM's X.
    QCPAxisRect* positions = m_rects[0];
    QCPRange range = positions->axis(QCPAxis::atLeft)->range();
    for (int k = 0; k < 4; ++k) {
        const double limit = s.rocLimitUm[std::size_t(k)];
        if (!(limit > 0) || s.values.empty() || s.values[std::size_t(k)].empty())
            continue;
        for (double y : {limit, -limit}) {
            auto* line = new QCPItemStraightLine(ui->plot);
            line->setClipAxisRect(positions);
            for (QCPItemPosition* p : {line->point1, line->point2})
                p->setAxes(positions->axis(QCPAxis::atBottom), positions->axis(QCPAxis::atLeft));
            line->point1->setCoords(0, y);
            line->point2->setCoords(1, y);
            line->setPen(QPen(kPositions[k].colour, 1, Qt::DotLine));
            range.expand(y);
        }
    }
    // The limits, where they widen the strip, clear of its frame too.
    if (range != positions->axis(QCPAxis::atLeft)->range()) {
        const double margin = 0.05 * range.size();
        range = QCPRange(range.lower - margin, range.upper + margin);
    }
    positions->axis(QCPAxis::atLeft)->setRange(range);
    ui->plot->replot();
}

void WindowPostMortem::openFolder()
{
    const QString folder = PostMortemCapture::settingsInForce().folder;
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}
