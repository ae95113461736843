#include "measure/windowpostmortem.h"

#include "control/dialoglogin.h"
#include "device/configstore.h"
#include "device/globals.h"
#include "device/userlevel.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

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
    : QDialog(parent), m_capture(capture)
{
    setObjectName(QStringLiteral("WindowPostMortem"));
    setWindowTitle(QStringLiteral("Post-Mortem"));
    m_table = new QTableWidget(0, 4, this);
    m_table->setObjectName(QStringLiteral("eventsTable"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("Time"), QStringLiteral("Cause"),
                                        QStringLiteral("Where"), QStringLiteral("File")});
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_plot = new QCustomPlot(this);
    m_plot->setObjectName(QStringLiteral("plot"));
    m_plot->setMinimumSize(600, 450);
    m_note = new QLabel(this);
    m_note->setObjectName(QStringLiteral("noteLabel"));
    m_captureNow = new QPushButton(QStringLiteral("Capture now"), this);
    m_captureNow->setObjectName(QStringLiteral("captureNowButton"));
    auto* openFolder = new QPushButton(QStringLiteral("Open folder"), this);
    openFolder->setObjectName(QStringLiteral("openFolderButton"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->addWidget(m_table);
    splitter->addWidget(m_plot);
    splitter->setStretchFactor(1, 2);
    splitter->setSizes({560, 690});
    auto* row = new QHBoxLayout;
    row->addWidget(m_captureNow);
    row->addWidget(openFolder);
    row->addWidget(m_note, 1);
    row->addWidget(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(splitter, 1);
    layout->addLayout(row);
    resize(1250, 700);
    setupPlot();

    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(openFolder, &QPushButton::clicked, this, &WindowPostMortem::openFolder);
    connect(m_table, &QTableWidget::currentCellChanged, this,
            [this](int current) { showEvent(current); });
    if (m_capture) {
        connect(m_captureNow, &QPushButton::clicked, m_capture, &PostMortemCapture::captureNow);
        connect(m_capture, &PostMortemCapture::captured, this, &WindowPostMortem::reloadEvents);
    }
    if (theLogin)
        connect(theLogin, &DialogLogin::userLevelChanged, this, &WindowPostMortem::checkUserLevel);
    checkUserLevel();
}

void WindowPostMortem::setupPlot()
{
    // Each strip has a legend of its own.
    m_plot->setAutoAddPlottableToLegend(false);
    m_plot->plotLayout()->clear();
    const char* labels[3] = {"position (µm)", "intensity (A)", "DAC output (V)"};
    for (int k = 0; k < 3; ++k) {
        m_rects[k] = new QCPAxisRect(m_plot);
        m_plot->plotLayout()->addElement(k, 0, m_rects[k]);
        m_rects[k]->axis(QCPAxis::atLeft)->setLabel(QString::fromUtf8(labels[k]));
        m_rects[k]->axis(QCPAxis::atBottom)->setLabel(QStringLiteral("time from the event (s)"));
        // Beside its strip, where it hides no data.
        auto* legend = new QCPLegend;
        m_plot->plotLayout()->addElement(k, 1, legend);
        legend->setLayer(QStringLiteral("legend"));
        legend->setFont(font());
        m_legends[k] = legend;
    }
    m_plot->plotLayout()->setColumnStretchFactor(1, 0.01);
}

void WindowPostMortem::showWindow()
{
    checkUserLevel();
    reloadEvents();
    show();
    raise();
    activateWindow();
}

void WindowPostMortem::checkUserLevel()
{
    m_captureNow->setEnabled(m_capture && userLevel >= zevo::LevelUser);
}

void WindowPostMortem::reloadEvents()
{
    m_events = m_capture ? m_capture->events() : std::vector<PostMortemEvent>();
    const QSignalBlocker quiet(m_table);
    m_table->setRowCount(int(m_events.size()));
    for (int i = 0; i < int(m_events.size()); ++i) {
        const PostMortemEvent& e = m_events[std::size_t(i)];
        const QString file =
            e.saved ? QFileInfo(e.path).fileName() : QStringLiteral("not saved: ") + e.reason;
        const QString cells[4] = {
            e.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), e.cause,
            e.location, file};
        for (int c = 0; c < 4; ++c)
            m_table->setItem(i, c, new QTableWidgetItem(cells[c]));
    }
    m_table->resizeColumnsToContents();
    if (!m_events.empty()) {
        m_table->setCurrentCell(0, 0);
        showEvent(0);
    }
    m_note->setText(m_events.empty() ? QStringLiteral("No trip captured yet.") : QString());
}

void WindowPostMortem::showEvent(int row)
{
    for (QCPAxisRect* rect : m_rects)
        for (QCPGraph* graph : rect->graphs())
            m_plot->removeGraph(graph);
    m_plot->clearItems();
    if (row < 0 || row >= int(m_events.size()))
        return m_plot->replot();
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
    m_note->setText(e.saved ? (s.valid ? QString() : QStringLiteral("The file cannot be read."))
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
                m_plot->addGraph(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
            g->setName(QString::fromLatin1(traces[k].name));
            g->setPen(QPen(traces[k].colour));
            g->setData(time, toVector(v), true);
            g->addToLegend(legend);
        }
        rect->axis(QCPAxis::atBottom)->rescale();
        rect->axis(QCPAxis::atLeft)->rescale();
        rect->axis(QCPAxis::atLeft)->scaleRange(1.1); // the traces off the frame
        // The event: a dashed line at 0.
        auto* zero = new QCPItemStraightLine(m_plot);
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
            auto* line = new QCPItemStraightLine(m_plot);
            line->setClipAxisRect(positions);
            for (QCPItemPosition* p : {line->point1, line->point2})
                p->setAxes(positions->axis(QCPAxis::atBottom), positions->axis(QCPAxis::atLeft));
            line->point1->setCoords(0, y);
            line->point2->setCoords(1, y);
            line->setPen(QPen(kPositions[k].colour, 1, Qt::DotLine));
            range.expand(1.1 * y);
        }
    }
    positions->axis(QCPAxis::atLeft)->setRange(range);
    m_plot->replot();
}

void WindowPostMortem::openFolder()
{
    const QString folder =
        theConfig ? theConfig->getPostMortem().folder : PostMortemSettings::defaultFolder();
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}
