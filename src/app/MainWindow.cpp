#include "app/MainWindow.h"

#include "app/AnalysisRecording.h"
#include "app/GridView.h"
#include "app/PictureBox.h"
#include "model/GridFormats.h"
#include "usecases/MatchClicks.h"
#include "usecases/SimilarMatches.h"
#include "sites/HandicapDetail.h"

#include <QCalendarWidget>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTextCharFormat>

#include <algorithm>

namespace chenglan {

namespace {

const QDate EarliestPick(2022, 1, 1);

// The date text the Jingcai page expects: no leading zeros, 2022-3-5.
QString selectedDateText(const QDate &day) {
    return QStringLiteral("%1-%2-%3").arg(day.year()).arg(day.month()).arg(day.day());
}

// What the status bar says while a step of a click runs.
QString stepSentence(const QString &step) {
    static const QHash<QString, QString> names{
        {QStringLiteral("SJBM"), QStringLiteral("读取分析页面")},
        {QStringLiteral("info"), QStringLiteral("读取比赛信息")},
        {QStringLiteral("SSSS"), QStringLiteral("解析两队历史")},
        {QStringLiteral("SJBM extensions"), QStringLiteral("读取两队更早的历史")},
        {QStringLiteral("SJBM home"), QStringLiteral("读取主队更早的历史")},
        {QStringLiteral("SJBM away"), QStringLiteral("读取客队更早的历史")},
        {QStringLiteral("SJBM SSZD"), QStringLiteral("读取主队更早的历史")},
        {QStringLiteral("SJBM SSKD"), QStringLiteral("读取客队更早的历史")},
        {QStringLiteral("SSZD"), QStringLiteral("扩展主队历史")},
        {QStringLiteral("SSKD"), QStringLiteral("扩展客队历史")},
        {QStringLiteral("SRMA"), QStringLiteral("计算实力趋势")},
        {QStringLiteral("LXYC"), QStringLiteral("推算走势代码")},
        {QStringLiteral("caption"), QStringLiteral("写标题")},
        {QStringLiteral("DRAW"), QStringLiteral("绘图")},
        {QStringLiteral("AITJ"), QStringLiteral("查询相似比赛")},
        {QStringLiteral("SBSJ list"), QStringLiteral("读取本场的盘口变化")},
        {QStringLiteral("SBSJ"), QStringLiteral("读取历史比赛的盘口变化")},
        {QStringLiteral("SBSJ again"), QStringLiteral("再次读取历史比赛的盘口变化")},
    };
    const QString name = step.section(u' ', 0, 0);
    return QStringLiteral("分析中…%1（%2）").arg(names.value(step, step), name);
}

} // namespace

// The progress of an analysis run as the job's status, and the point where a
// newer command's cancel ends it between two steps.
std::function<void(const QString &)> jobProgress(JobContext &job) {
    return [&job](const QString &step) {
        job.throwIfCancelled();
        job.progress(stepSentence(step));
    };
}

MainWindow::MainWindow(MainWindowSetup setup, QWidget *parent)
    : QMainWindow(parent),
      m_sites(std::move(setup.sites)),
      m_renderer(setup.renderLimits),
      m_today(std::move(setup.today)),
      m_pictures(ChartPictures::make(logicalDpiY())),
      m_jobs(std::move(setup.webs)) {
    setWindowTitle(QStringLiteral("澄岚竞彩"));
    m_recordingsRoot = setup.recordingsRoot.isEmpty() ? defaultRecordingsRoot() : setup.recordingsRoot;
    m_session.start();
    buildControls();

    connect(&m_jobs, &JobRunner::status, this, &MainWindow::setStatus);
    connect(&m_jobs, &JobRunner::failed, this, [this](quint64, const QString &sentence) { setStatus(sentence); });

    // The design's outer height leaves the match list 900 twips short of
    // it; the status bar comes on top of that.
    const double dpiX = logicalDpiX();
    const double dpiY = logicalDpiY();
    const int statusHeight = statusBar()->sizeHint().height();
    resize(twipsToPixels(m_layout.designWidth() + 60, dpiX), twipsToPixels(10800, dpiY) + statusHeight);
    layoutControls();

    QMetaObject::invokeMethod(this, &MainWindow::loadFirstSchedule, Qt::QueuedConnection);
}

MainWindow::~MainWindow() = default;

void MainWindow::buildControls() {
    m_jingcaiAction = menuBar()->addAction(QStringLiteral("胜平负竞彩"), this, &MainWindow::showJingcaiSchedule);
    m_jingcaiAction->setObjectName(QStringLiteral("munJC"));
    m_beidanAction = menuBar()->addAction(QStringLiteral("北京单场"), this, &MainWindow::showBeidanSchedule);
    m_beidanAction->setObjectName(QStringLiteral("munBD"));
    m_calendarAction = menuBar()->addAction(QStringLiteral("完场查询"), this, &MainWindow::toggleCalendar);
    m_calendarAction->setObjectName(QStringLiteral("munOver"));
    m_recordAction = menuBar()->addAction(QStringLiteral("记录分析"), this, &MainWindow::recordLastClick);
    m_recordAction->setObjectName(QStringLiteral("munRecord"));

    auto *area = new QWidget(this);
    area->setObjectName(QStringLiteral("controls"));
    setCentralWidget(area);

    m_matchList = new GridView(1, MatchListKeyColumn, area);
    m_matchList->setObjectName(QStringLiteral("MFG_BFS"));
    m_matchList->setGrid(newMatchListGrid());
    connect(m_matchList, &GridView::cellClicked, this, &MainWindow::analyzeListedMatch);

    m_strengthPanel = new PictureBox(area);
    m_strengthPanel->setObjectName(QStringLiteral("PIC_SR"));
    for (int i = 0; i < 2; ++i) {
        m_trendCharts[i] = new PictureBox(area);
        m_trendCharts[i]->setObjectName(QStringLiteral("PIC_TD%1").arg(i));
    }

    m_commandStrip = new QGroupBox(area);
    m_commandStrip->setObjectName(QStringLiteral("FRM_COM"));
    m_trendButton = new QPushButton(QStringLiteral("实力趋势"), m_commandStrip);
    m_trendButton->setObjectName(QStringLiteral("CMD_SQL"));
    connect(m_trendButton, &QPushButton::clicked, this, &MainWindow::showHandicapChanges);
    for (int slot = 0; slot < ServerSlotCount; ++slot) {
        m_serverSlots[slot] = new QRadioButton(serverSlotCaption(slot), m_commandStrip);
        m_serverSlots[slot]->setObjectName(QStringLiteral("ServerSlot%1").arg(slot));
        connect(m_serverSlots[slot], &QRadioButton::clicked, this, [this, slot] { selectServerSlot(slot); });
    }
    m_similarSummary = new QLabel(m_commandStrip);
    m_similarSummary->setObjectName(QStringLiteral("SimilarSummary"));

    m_similarList = new GridView(1, SimilarListKeyColumn, area);
    m_similarList->setObjectName(QStringLiteral("MFG_JBM"));
    m_similarList->setGrid(newSimilarListGrid());
    connect(m_similarList, &GridView::cellClicked, this, &MainWindow::analyzeSimilarMatch);

    // The calendar lies over the match list, at its design size: week
    // numbers off and one-character day names so
    // that a whole month fits.
    m_calendar = new QCalendarWidget(area);
    m_calendar->setObjectName(QStringLiteral("MonthView1"));
    m_calendar->setLocale(QLocale(QLocale::Chinese, QLocale::China));
    m_calendar->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    m_calendar->setHorizontalHeaderFormat(QCalendarWidget::SingleLetterDayNames);
    m_calendar->setGridVisible(false);
    m_calendar->setAutoFillBackground(true);
    QFont small = m_calendar->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    m_calendar->setFont(small);
    m_calendar->hide();
    connect(m_calendar, &QCalendarWidget::clicked, this, &MainWindow::showCalendarDay);
    connect(m_calendar, &QCalendarWidget::currentPageChanged, this, &MainWindow::greyUnpickableDays);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusBar()->addWidget(m_status, 1);
    statusBar()->setSizeGripEnabled(false);
}

void MainWindow::resizeEvent(QResizeEvent *event) {
    QMainWindow::resizeEvent(event);
    layoutControls();
}

void MainWindow::layoutControls() {
    const double dpiX = logicalDpiX();
    const double dpiY = logicalDpiY();

    // The status bar is not part of the design's outer height, and the list
    // never reaches under it, whatever the window frame takes.
    const int statusHeight = statusBar()->isVisible() ? statusBar()->height() : 0;
    int outer = frameGeometry().height() - statusHeight;
    if (isVisible())
        outer = std::min(outer, centralWidget()->height() + twipsToPixels(LayoutReserveTwips, dpiY));
    applyLayoutRule(m_layout, pixelsToTwips(outer, dpiY));

    GridData list = m_matchList->grid();
    formatMatchListGrid(list);
    if (!(list == m_matchList->grid()))
        m_matchList->setGrid(list);
    GridData similar = m_similarList->grid();
    formatSimilarListGrid(similar);
    if (!(similar == m_similarList->grid()))
        m_similarList->setGrid(similar);

    m_matchList->setGeometry(toPixels(m_layout.matchList, dpiX, dpiY));
    m_strengthPanel->setGeometry(toPixels(m_layout.strengthPanel, dpiX, dpiY));
    for (int i = 0; i < 2; ++i)
        m_trendCharts[i]->setGeometry(toPixels(m_layout.trendCharts[i], dpiX, dpiY));
    m_commandStrip->setGeometry(toPixels(m_layout.commandStrip, dpiX, dpiY));
    m_trendButton->setGeometry(toPixels(m_layout.trendButton, dpiX, dpiY));
    for (int slot = 0; slot < ServerSlotCount; ++slot)
        m_serverSlots[slot]->setGeometry(toPixels(m_layout.ServerSlot[slot], dpiX, dpiY));
    m_similarSummary->setGeometry(toPixels(m_layout.SimilarSummary, dpiX, dpiY));
    m_similarList->setGeometry(toPixels(m_layout.similarList, dpiX, dpiY));
    m_calendar->setGeometry(toPixels(m_layout.calendar, dpiX, dpiY));
    m_calendar->raise();
    fitPictures();
}

// The trend canvases follow their boxes' heights; what was drawn stays.
void MainWindow::fitPictures() {
    m_strengthPanel->setImage(m_pictures.strengthPanel.image());
    for (int i = 0; i < 2; ++i) {
        Canvas &canvas = m_pictures.trendCharts[i];
        if (std::abs(canvas.image().height() - m_trendCharts[i]->height()) > 1)
            canvas.resize(m_layout.trendCharts[i].width, m_layout.trendCharts[i].height);
        m_trendCharts[i]->setImage(canvas.image());
    }
}

void MainWindow::loadFirstSchedule() {
    startSchedule({ScheduleRequest::Game::Jingcai, m_state.selectedDate.text()});
    const QDate today = m_today();
    m_calendar->setSelectedDate(today);
    m_calendar->setMaximumDate(today);
    // Before 2022 the range would be empty; today alone stays pickable.
    m_calendar->setMinimumDate(today < EarliestPick ? today : EarliestPick);
    greyUnpickableDays();
}

// Days after the latest pickable one look like the days of other months, so
// that nobody tries to pick a day that has not been played yet.
void MainWindow::greyUnpickableDays() {
    const QDate first(m_calendar->yearShown(), m_calendar->monthShown(), 1);
    QTextCharFormat grey;
    grey.setForeground(palette().brush(QPalette::Disabled, QPalette::Text));
    for (QDate d = first.addDays(-7); d < first.addMonths(1).addDays(14); d = d.addDays(1))
        m_calendar->setDateTextFormat(d, d > m_calendar->maximumDate() || d < m_calendar->minimumDate()
                                                ? grey
                                                : QTextCharFormat());
}

void MainWindow::showJingcaiSchedule() {
    m_state.selectedDate = Value(QString());
    startSchedule({ScheduleRequest::Game::Jingcai, QString()});
}

void MainWindow::showBeidanSchedule() { startSchedule({ScheduleRequest::Game::Beidan, QString()}); }

void MainWindow::toggleCalendar() { m_calendar->setVisible(!m_calendar->isVisible()); }

void MainWindow::recordLastClick() {
    if (!m_lastClick) {
        setStatus(QStringLiteral("没有可记录的分析：请先在列表中点一场比赛。"));
        return;
    }
    const QString dir = newRecordingDir(m_recordingsRoot, QDateTime::currentDateTime());
    auto recording = std::make_shared<Recording>(dir);
    if (!recording->error().isEmpty()) {
        setStatus(QStringLiteral("无法记录分析：%1").arg(recording->error()));
        return;
    }
    const RecordedClick click = *m_lastClick;
    const SiteBases sites = m_sites;
    const PageRenderer renderer = m_renderer;
    startAnalysis(QStringLiteral("正在记录分析……"),
                  [click, recording, sites, renderer](AnalysisJobData &d, JobContext &job) {
                      recordListClick(d, job, click, recording, sites, renderer);
                  });
}

void MainWindow::showCalendarDay(const QDate &day) {
    m_state.selectedDate = Value(selectedDateText(day));
    startSchedule({ScheduleRequest::Game::Jingcai, m_state.selectedDate.text()});
    m_calendar->hide();
}

void MainWindow::showHandicapChanges() {
    if (m_state.listMatchId.isEmpty()) {
        setStatus(QStringLiteral("请先在左边的列表中点选一场比赛。"));
        return;
    }
    const SiteBases sites = m_sites;
    const PageRenderer renderer = m_renderer;
    startAnalysis(QStringLiteral("正在读取本场的盘口变化……"), [sites, renderer](AnalysisJobData &d, JobContext &job) {
        const HandicapRun run = listMatchHandicapDetail(d.state, job.web(), sites, renderer, &d.log);
        d.status = run.status;
    });
}

void MainWindow::analyzeListedMatch(int gridRow, int column) {
    const qint64 clicked = m_session.nsecsElapsed();
    const GridData &grid = m_matchList->grid();
    if (gridRow < 1 || gridRow >= grid.rows())
        return;
    m_matchList->setCellBackColor(gridRow, column == 3 ? 3 : 2, HighlightColor);
    m_lastClick = RecordedClick{m_listed, gridRow};
    startListAnalysis(Value(grid.text(gridRow, MatchListKeyColumn)), clicked);
}

void MainWindow::analyzeSimilarMatch(int gridRow, int column) {
    Q_UNUSED(column);
    const GridData &grid = m_similarList->grid();
    if (gridRow < 1 || gridRow >= grid.rows())
        return;
    m_similarList->setCellBackColor(gridRow, 2, HighlightColor);
    startSimilarAnalysis(Value(grid.text(gridRow, SimilarListKeyColumn)));
}

// The list click after the highlight, as one job: the analysis, the three
// pictures, the similar-match query and its grid, applied together.
void MainWindow::startListAnalysis(const Value &rowKey, qint64 clicked) {
    QString match;
    attempt([&] {
        match = QStringLiteral("%1 对 %2").arg(m_schedule.matchTable.at(5, rowKey.toInt16()).text().trimmed(),
                                                m_schedule.matchTable.at(7, rowKey.toInt16()).text().trimmed());
    });
    const SiteBases sites = m_sites;
    const PageRenderer renderer = m_renderer;
    const QElapsedTimer session = m_session;
    startAnalysis(QStringLiteral("分析中…%1").arg(match),
                  [rowKey, sites, renderer, session, clicked](AnalysisJobData &d, JobContext &job) {
                      d.clickedNs = clicked;
                      const AnalysisContext context{job.web(), sites, renderer, &job.anotherWeb(), jobProgress(job)};
                      const ListClickRun run = listClick(d.state, d.schedule, rowKey, context, d.pictures, d.similar,
                                                         [&] { d.chartsDrawnNs = session.nsecsElapsed(); });
                      job.throwIfCancelled();
                      d.status = run.status;
                      d.log.entries = run.analysis.log.entries + run.queryLog.entries + run.drawLog.entries;
                  });
}

// The similar click as one job: the historic match's analysis and handicap
// details, the comparison panel and its trend chart.
void MainWindow::startSimilarAnalysis(const Value &rowKey) {
    const SiteBases sites = m_sites;
    const PageRenderer renderer = m_renderer;
    startAnalysis(QStringLiteral("分析中…相似比赛"), [rowKey, sites, renderer](AnalysisJobData &d, JobContext &job) {
        const AnalysisContext context{job.web(), sites, renderer, &job.anotherWeb(), jobProgress(job)};
        const SimilarClickRun run = similarClick(d.state, rowKey, context, d.pictures);
        job.throwIfCancelled();
        d.status = run.analysis.status;
        d.log.entries = run.analysis.log.entries + run.drawLog.entries;
    });
}

void MainWindow::startAnalysis(const QString &title, AnalysisWork work) {
    AnalysisJobData data{m_state, m_schedule, m_pictures, m_similarList->grid(), QString()};
    MainWindow *window = this;
    m_jobs.start(title, [data = std::move(data), work = std::move(work), window](JobContext &job) mutable -> JobApply {
        work(data, job);
        return [window, data = std::move(data)] { window->applyAnalysis(data); };
    });
}

void MainWindow::applyAnalysis(const AnalysisJobData &data) {
    m_state = data.state;
    m_pictures = data.pictures;
    fitPictures();
    if (!(data.similar == m_similarList->grid()))
        m_similarList->setGrid(data.similar);
    // A list click replaces the similar set; a similar click leaves it.
    if (!m_state.analysisMode.equals(1))
        m_similarSummary->setText(summarizeSimilarSet(m_state).text());
    QString status = data.status;
    if (data.clickedNs >= 0) {
        const double ms = double(m_session.nsecsElapsed() - data.clickedNs) / 1e6;
        m_clickTimesMs.append(ms);
        status += QStringLiteral("；用时 %1 ms").arg(ms, 0, 'f', 0);
    }
    setStatus(status);
    showDetails(data.log);
    emit analysisShown();
}

double MainWindow::medianClickMs() const {
    if (m_clickTimesMs.isEmpty())
        return 0;
    QList<double> sorted = m_clickTimesMs;
    std::sort(sorted.begin(), sorted.end());
    const qsizetype n = sorted.size();
    return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
}

// The chosen option bold in red, the others as every button is.
void MainWindow::showServerSlotLooks() {
    for (int option = 0; option < ServerSlotCount; ++option) {
        QRadioButton *button = m_serverSlots[option];
        const ServerSlotLook look = serverSlotLook(option, m_selectedSlot);
        QFont font = button->font();
        font.setBold(look.bold);
        button->setFont(font);
        QPalette palette = m_commandStrip->palette();
        if (look.color) {
            palette.setColor(QPalette::ButtonText, colorFromValue(*look.color));
            palette.setColor(QPalette::WindowText, colorFromValue(*look.color));
        }
        button->setPalette(palette);
    }
    if (m_selectedSlot >= 0)
        m_serverSlots[m_selectedSlot]->setChecked(true);
}

void MainWindow::selectServerSlot(int slot) {
    if (slot < 0 || slot >= ServerSlotCount)
        return;
    m_selectedSlot = slot;
    showServerSlotLooks();
    SiteBases sites = m_sites;
    MainWindow *window = this;
    m_jobs.start(QStringLiteral("正在读取%1的地址……").arg(serverSlotCaption(slot)),
                 [sites, slot, window](JobContext &job) mutable -> JobApply {
                     const ServerSlotChoice choice = SelectServerSlot(sites, slot, job.web());
                     return [window, choice, service = sites.service] {
                         if (choice.changed)
                             window->m_sites.service = service;
                         window->setStatus(choice.status);
                         emit window->serverSlotShown();
                     };
                 });
}

void MainWindow::startSchedule(const ScheduleRequest &request) {
    m_listed = request;
    const SiteBases sites = m_sites;
    const PageRenderer renderer = m_renderer;
    MainWindow *window = this;
    m_jobs.start(QStringLiteral("正在读取%1……").arg(request.title()),
                 [request, sites, renderer, window](JobContext &job) -> JobApply {
                     ScheduleListing listing = listSchedule(request, job.web(), sites, renderer);
                     return [window, listing = std::move(listing)] { window->applySchedule(listing); };
                 });
}

void MainWindow::applySchedule(const ScheduleListing &listing) {
    m_schedule = listing.state;
    m_matchList->setGrid(listing.grid);
    setStatus(listing.status);
    showDetails(listing.log);
    emit scheduleShown();
}

// The technical side of what went wrong, for whoever hovers over the status.
void MainWindow::showDetails(const StepLog &log) {
    QStringList details;
    for (const StepLog::Entry &e : log.entries)
        if (details.size() < 5 && !details.contains(e.message))
            details << e.message;
    m_status->setToolTip(details.join(u'\n'));
}

QString MainWindow::statusText() const { return m_status->text(); }

QString MainWindow::similarSummaryText() const { return m_similarSummary->text(); }

void MainWindow::setStatus(const QString &sentence) {
    m_status->setText(sentence);
    m_status->setToolTip(QString());
}

} // namespace chenglan
