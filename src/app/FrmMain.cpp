#include "app/FrmMain.h"

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

FrmMain::FrmMain(FrmMainSetup setup, QWidget *parent)
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

    connect(&m_jobs, &JobRunner::status, this, &FrmMain::setStatus);
    connect(&m_jobs, &JobRunner::failed, this, [this](quint64, const QString &sentence) { setStatus(sentence); });

    // The design's outer height leaves the match list 900 twips short of
    // it; the status bar comes on top of that.
    const double dpiX = logicalDpiX();
    const double dpiY = logicalDpiY();
    const int statusHeight = statusBar()->sizeHint().height();
    resize(twipsToPixels(m_layout.designWidth() + 60, dpiX), twipsToPixels(10800, dpiY) + statusHeight);
    layoutControls();

    QMetaObject::invokeMethod(this, &FrmMain::Load, Qt::QueuedConnection);
}

FrmMain::~FrmMain() = default;

void FrmMain::buildControls() {
    munJC = menuBar()->addAction(QStringLiteral("胜平负竞彩"), this, &FrmMain::munJC_Click);
    munJC->setObjectName(QStringLiteral("munJC"));
    munBD = menuBar()->addAction(QStringLiteral("北京单场"), this, &FrmMain::munBD_Click);
    munBD->setObjectName(QStringLiteral("munBD"));
    munOver = menuBar()->addAction(QStringLiteral("完场查询"), this, &FrmMain::munOver_Click);
    munOver->setObjectName(QStringLiteral("munOver"));
    munRecord = menuBar()->addAction(QStringLiteral("记录分析"), this, &FrmMain::munRecord_Click);
    munRecord->setObjectName(QStringLiteral("munRecord"));

    auto *area = new QWidget(this);
    area->setObjectName(QStringLiteral("controls"));
    setCentralWidget(area);

    MFG_BFS = new GridView(1, MatchListKeyColumn, area);
    MFG_BFS->setObjectName(QStringLiteral("MFG_BFS"));
    MFG_BFS->setGrid(newMatchListGrid());
    connect(MFG_BFS, &GridView::cellClicked, this, &FrmMain::MFG_BFS_Click);

    PIC_SR = new PictureBox(area);
    PIC_SR->setObjectName(QStringLiteral("PIC_SR"));
    for (int i = 0; i < 2; ++i) {
        PIC_TD[i] = new PictureBox(area);
        PIC_TD[i]->setObjectName(QStringLiteral("PIC_TD%1").arg(i));
    }

    FRM_COM = new QGroupBox(area);
    FRM_COM->setObjectName(QStringLiteral("FRM_COM"));
    CMD_SQL = new QPushButton(QStringLiteral("实力趋势"), FRM_COM);
    CMD_SQL->setObjectName(QStringLiteral("CMD_SQL"));
    connect(CMD_SQL, &QPushButton::clicked, this, &FrmMain::CMD_SQL_Click);
    for (int slot = 0; slot < ServerSlotCount; ++slot) {
        m_serverSlots[slot] = new QRadioButton(serverSlotCaption(slot), FRM_COM);
        m_serverSlots[slot]->setObjectName(QStringLiteral("ServerSlot%1").arg(slot));
        connect(m_serverSlots[slot], &QRadioButton::clicked, this, [this, slot] { ServerSlot_Click(slot); });
    }
    m_similarSummary = new QLabel(FRM_COM);
    m_similarSummary->setObjectName(QStringLiteral("SimilarSummary"));

    MFG_JBM = new GridView(1, SimilarListKeyColumn, area);
    MFG_JBM->setObjectName(QStringLiteral("MFG_JBM"));
    MFG_JBM->setGrid(newSimilarListGrid());
    connect(MFG_JBM, &GridView::cellClicked, this, &FrmMain::MFG_JBM_Click);

    // The calendar lies over the match list, at the design size of the
    // original month view: week numbers off and one-character day names so
    // that a whole month fits.
    MonthView1 = new QCalendarWidget(area);
    MonthView1->setObjectName(QStringLiteral("MonthView1"));
    MonthView1->setLocale(QLocale(QLocale::Chinese, QLocale::China));
    MonthView1->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    MonthView1->setHorizontalHeaderFormat(QCalendarWidget::SingleLetterDayNames);
    MonthView1->setGridVisible(false);
    MonthView1->setAutoFillBackground(true);
    QFont small = MonthView1->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    MonthView1->setFont(small);
    MonthView1->hide();
    connect(MonthView1, &QCalendarWidget::clicked, this, &FrmMain::MonthView1_DateClick);
    connect(MonthView1, &QCalendarWidget::currentPageChanged, this, &FrmMain::greyUnpickableDays);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusBar()->addWidget(m_status, 1);
    statusBar()->setSizeGripEnabled(false);
}

void FrmMain::resizeEvent(QResizeEvent *event) {
    QMainWindow::resizeEvent(event);
    layoutControls();
}

void FrmMain::layoutControls() {
    const double dpiX = logicalDpiX();
    const double dpiY = logicalDpiY();

    // The status bar is not part of the design's outer height, and the list
    // never reaches under it, whatever the window frame takes.
    const int statusHeight = statusBar()->isVisible() ? statusBar()->height() : 0;
    int outer = frameGeometry().height() - statusHeight;
    if (isVisible())
        outer = std::min(outer, centralWidget()->height() + twipsToPixels(LayoutReserveTwips, dpiY));
    applyLayoutRule(m_layout, pixelsToTwips(outer, dpiY));

    GridData list = MFG_BFS->grid();
    formatMatchListGrid(list);
    if (!(list == MFG_BFS->grid()))
        MFG_BFS->setGrid(list);
    GridData similar = MFG_JBM->grid();
    formatSimilarListGrid(similar);
    if (!(similar == MFG_JBM->grid()))
        MFG_JBM->setGrid(similar);

    MFG_BFS->setGeometry(toPixels(m_layout.MFG_BFS, dpiX, dpiY));
    PIC_SR->setGeometry(toPixels(m_layout.PIC_SR, dpiX, dpiY));
    for (int i = 0; i < 2; ++i)
        PIC_TD[i]->setGeometry(toPixels(m_layout.PIC_TD[i], dpiX, dpiY));
    FRM_COM->setGeometry(toPixels(m_layout.FRM_COM, dpiX, dpiY));
    CMD_SQL->setGeometry(toPixels(m_layout.CMD_SQL, dpiX, dpiY));
    for (int slot = 0; slot < ServerSlotCount; ++slot)
        m_serverSlots[slot]->setGeometry(toPixels(m_layout.ServerSlot[slot], dpiX, dpiY));
    m_similarSummary->setGeometry(toPixels(m_layout.SimilarSummary, dpiX, dpiY));
    MFG_JBM->setGeometry(toPixels(m_layout.MFG_JBM, dpiX, dpiY));
    MonthView1->setGeometry(toPixels(m_layout.MonthView1, dpiX, dpiY));
    MonthView1->raise();
    fitPictures();
}

// The trend canvases follow their boxes' heights; what was drawn stays.
void FrmMain::fitPictures() {
    PIC_SR->setImage(m_pictures.PIC_SR.image());
    for (int i = 0; i < 2; ++i) {
        Canvas &canvas = m_pictures.PIC_TD[i];
        if (std::abs(canvas.image().height() - PIC_TD[i]->height()) > 1)
            canvas.resize(m_layout.PIC_TD[i].width, m_layout.PIC_TD[i].height);
        PIC_TD[i]->setImage(canvas.image());
    }
}

void FrmMain::Load() {
    startSchedule({ScheduleRequest::Game::Jingcai, m_state.SelectedDate.text()});
    const QDate today = m_today();
    MonthView1->setSelectedDate(today);
    MonthView1->setMaximumDate(today);
    // Before 2022 the range would be empty; today alone stays pickable.
    MonthView1->setMinimumDate(today < EarliestPick ? today : EarliestPick);
    greyUnpickableDays();
}

// Days after the latest pickable one look like the days of other months, so
// that nobody tries to pick a day that has not been played yet.
void FrmMain::greyUnpickableDays() {
    const QDate first(MonthView1->yearShown(), MonthView1->monthShown(), 1);
    QTextCharFormat grey;
    grey.setForeground(palette().brush(QPalette::Disabled, QPalette::Text));
    for (QDate d = first.addDays(-7); d < first.addMonths(1).addDays(14); d = d.addDays(1))
        MonthView1->setDateTextFormat(d, d > MonthView1->maximumDate() || d < MonthView1->minimumDate()
                                                ? grey
                                                : QTextCharFormat());
}

void FrmMain::munJC_Click() {
    m_state.SelectedDate = Value(QString());
    startSchedule({ScheduleRequest::Game::Jingcai, QString()});
}

void FrmMain::munBD_Click() { startSchedule({ScheduleRequest::Game::Beidan, QString()}); }

void FrmMain::munOver_Click() { MonthView1->setVisible(!MonthView1->isVisible()); }

void FrmMain::munRecord_Click() {
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

void FrmMain::MonthView1_DateClick(const QDate &day) {
    m_state.SelectedDate = Value(selectedDateText(day));
    startSchedule({ScheduleRequest::Game::Jingcai, m_state.SelectedDate.text()});
    MonthView1->hide();
}

void FrmMain::CMD_SQL_Click() {
    if (m_state.ListMatchId.isEmpty()) {
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

void FrmMain::MFG_BFS_Click(int gridRow, int column) {
    const qint64 clicked = m_session.nsecsElapsed();
    const GridData &grid = MFG_BFS->grid();
    if (gridRow < 1 || gridRow >= grid.rows())
        return;
    MFG_BFS->setCellBackColor(gridRow, column == 3 ? 3 : 2, HighlightColor);
    m_lastClick = RecordedClick{m_listed, gridRow};
    startListAnalysis(Value(grid.text(gridRow, MatchListKeyColumn)), clicked);
}

void FrmMain::MFG_JBM_Click(int gridRow, int column) {
    Q_UNUSED(column);
    const GridData &grid = MFG_JBM->grid();
    if (gridRow < 1 || gridRow >= grid.rows())
        return;
    MFG_JBM->setCellBackColor(gridRow, 2, HighlightColor);
    startSimilarAnalysis(Value(grid.text(gridRow, SimilarListKeyColumn)));
}

// The list click after the highlight, as one job: the analysis, the three
// pictures, the similar-match query and its grid, applied together.
void FrmMain::startListAnalysis(const Value &rowKey, qint64 clicked) {
    QString match;
    attempt([&] {
        match = QStringLiteral("%1 对 %2").arg(m_schedule.MatchTable.at(5, rowKey.toInt16()).text().trimmed(),
                                                m_schedule.MatchTable.at(7, rowKey.toInt16()).text().trimmed());
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
void FrmMain::startSimilarAnalysis(const Value &rowKey) {
    const SiteBases sites = m_sites;
    const PageRenderer renderer = m_renderer;
    startAnalysis(QStringLiteral("分析中…相似比赛"), [rowKey, sites, renderer](AnalysisJobData &d, JobContext &job) {
        const AnalysisContext context{job.web(), sites, renderer, nullptr, jobProgress(job)};
        const SimilarClickRun run = similarClick(d.state, rowKey, context, d.pictures);
        job.throwIfCancelled();
        d.status = run.analysis.status;
        d.log.entries = run.analysis.log.entries + run.drawLog.entries;
    });
}

void FrmMain::startAnalysis(const QString &title, AnalysisWork work) {
    AnalysisJobData data{m_state, m_schedule, m_pictures, MFG_JBM->grid(), QString()};
    FrmMain *window = this;
    m_jobs.start(title, [data = std::move(data), work = std::move(work), window](JobContext &job) mutable -> JobApply {
        work(data, job);
        return [window, data = std::move(data)] { window->applyAnalysis(data); };
    });
}

void FrmMain::applyAnalysis(const AnalysisJobData &data) {
    m_state = data.state;
    m_pictures = data.pictures;
    fitPictures();
    if (!(data.similar == MFG_JBM->grid()))
        MFG_JBM->setGrid(data.similar);
    // A list click replaces the similar set; a similar click leaves it.
    if (!m_state.AnalysisMode.equals(1))
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

double FrmMain::medianClickMs() const {
    if (m_clickTimesMs.isEmpty())
        return 0;
    QList<double> sorted = m_clickTimesMs;
    std::sort(sorted.begin(), sorted.end());
    const qsizetype n = sorted.size();
    return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
}

// The chosen option bold in red, the others as every button is.
void FrmMain::showServerSlotLooks() {
    for (int option = 0; option < ServerSlotCount; ++option) {
        QRadioButton *button = m_serverSlots[option];
        const ServerSlotLook look = serverSlotLook(option, m_selectedSlot);
        QFont font = button->font();
        font.setBold(look.bold);
        button->setFont(font);
        QPalette palette = FRM_COM->palette();
        if (look.color) {
            palette.setColor(QPalette::ButtonText, colorFromValue(*look.color));
            palette.setColor(QPalette::WindowText, colorFromValue(*look.color));
        }
        button->setPalette(palette);
    }
    if (m_selectedSlot >= 0)
        m_serverSlots[m_selectedSlot]->setChecked(true);
}

void FrmMain::ServerSlot_Click(int slot) {
    if (slot < 0 || slot >= ServerSlotCount)
        return;
    m_selectedSlot = slot;
    showServerSlotLooks();
    SiteBases sites = m_sites;
    FrmMain *window = this;
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

void FrmMain::startSchedule(const ScheduleRequest &request) {
    m_listed = request;
    const SiteBases sites = m_sites;
    const PageRenderer renderer = m_renderer;
    FrmMain *window = this;
    m_jobs.start(QStringLiteral("正在读取%1……").arg(request.title()),
                 [request, sites, renderer, window](JobContext &job) -> JobApply {
                     ScheduleListing listing = listSchedule(request, job.web(), sites, renderer);
                     return [window, listing = std::move(listing)] { window->applySchedule(listing); };
                 });
}

void FrmMain::applySchedule(const ScheduleListing &listing) {
    m_schedule = listing.state;
    MFG_BFS->setGrid(listing.grid);
    setStatus(listing.status);
    showDetails(listing.log);
    emit scheduleShown();
}

// The technical side of what went wrong, for whoever hovers over the status.
void FrmMain::showDetails(const StepLog &log) {
    QStringList details;
    for (const StepLog::Entry &e : log.entries)
        if (details.size() < 5 && !details.contains(e.message))
            details << e.message;
    m_status->setToolTip(details.join(u'\n'));
}

QString FrmMain::statusText() const { return m_status->text(); }

QString FrmMain::similarSummaryText() const { return m_similarSummary->text(); }

void FrmMain::setStatus(const QString &sentence) {
    m_status->setText(sentence);
    m_status->setToolTip(QString());
}

} // namespace chenglan
