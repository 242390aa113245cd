#include "app/FrmMain.h"

#include "app/GridView.h"
#include "app/PictureBox.h"
#include "model/GridFormats.h"

#include <QCalendarWidget>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTextCharFormat>

namespace chenglan {

namespace {

const QDate EarliestPick(2022, 1, 1);

// The date text the Jingcai page expects: no leading zeros, 2022-3-5.
QString selectedDateText(const QDate &day) {
    return QStringLiteral("%1-%2-%3").arg(day.year()).arg(day.month()).arg(day.day());
}

} // namespace

FrmMain::FrmMain(FrmMainSetup setup, QWidget *parent)
    : QMainWindow(parent),
      m_sites(std::move(setup.sites)),
      m_renderer(setup.renderLimits),
      m_today(std::move(setup.today)),
      m_pictures(ChartPictures::make(logicalDpiY())),
      m_jobs(std::move(setup.webs)) {
    setWindowTitle(QStringLiteral("澄岚竞彩"));
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

    MFG_JBM = new GridView(1, SimilarListKeyColumn, area);
    MFG_JBM->setObjectName(QStringLiteral("MFG_JBM"));
    MFG_JBM->setGrid(newSimilarListGrid());

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

void FrmMain::MonthView1_DateClick(const QDate &day) {
    m_state.SelectedDate = Value(selectedDateText(day));
    startSchedule({ScheduleRequest::Game::Jingcai, m_state.SelectedDate.text()});
    MonthView1->hide();
}

void FrmMain::CMD_SQL_Click() {
    m_state.CurrentMatchId = m_state.ListMatchId;
    m_state.MatchDate = m_state.ListMatchTime;
    if (m_state.ListMatchId.isEmpty())
        setStatus(QStringLiteral("请先在左边的列表中点选一场比赛。"));
}

void FrmMain::MFG_BFS_Click(int gridRow, int column) {
    const GridData &grid = MFG_BFS->grid();
    if (gridRow < 1 || gridRow >= grid.rows())
        return;
    MFG_BFS->setCellBackColor(gridRow, column == 3 ? 3 : 2, HighlightColor);
    startListAnalysis(Value(grid.text(gridRow, MatchListKeyColumn)));
}

// The list match's analysis, as a job. For now it sets the match's inputs
// from its schedule row; the page, histories, strength model and drawings
// join here, on the job's copies.
void FrmMain::startListAnalysis(const Value &rowKey) {
    QString match;
    attempt([&] {
        match = QStringLiteral("%1 对 %2").arg(m_schedule.MatchTable.at(5, rowKey.toInt16()).text().trimmed(),
                                                m_schedule.MatchTable.at(7, rowKey.toInt16()).text().trimmed());
    });
    startAnalysis(QStringLiteral("正在分析 %1……").arg(match), [rowKey, match](AnalysisJobData &d, JobContext &) {
        d.state.ListRowKey = rowKey;
        d.state.ListMatchId = Value();
        attempt([&] { d.state.ListMatchId = d.schedule.MatchTable.at(0, rowKey.toInt16()); });
        d.state.CurrentMatchId = d.state.ListMatchId;
        d.status = d.state.ListMatchId.isEmpty() ? QStringLiteral("这一行没有比赛。")
                                                 : QStringLiteral("已选中：%1。").arg(match);
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
    setStatus(data.status);
    emit analysisShown();
}

void FrmMain::startSchedule(const ScheduleRequest &request) {
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
    // The technical side of what went wrong, for whoever hovers over it.
    QStringList details;
    for (const StepLog::Entry &e : listing.log.entries)
        if (details.size() < 5)
            details << e.message;
    m_status->setToolTip(details.join(u'\n'));
    emit scheduleShown();
}

QString FrmMain::statusText() const { return m_status->text(); }

void FrmMain::setStatus(const QString &sentence) {
    m_status->setText(sentence);
    m_status->setToolTip(QString());
}

} // namespace chenglan
