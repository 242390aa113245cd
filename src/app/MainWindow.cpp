#include "app/MainWindow.h"

#include "app/AnalysisRecording.h"
#include "app/GridView.h"
#include "app/PictureBox.h"
#include "app/WindowComforts.h"
#include "app/WindowFit.h"
#include "model/GridFormats.h"
#include "usecases/MatchClicks.h"
#include "usecases/SimilarMatches.h"
#include "sites/HandicapDetail.h"

#include <QCalendarWidget>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QMenu>
#include <QMessageBox>
#include <QScrollBar>
#include <QUrl>
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
// Failures the status's tooltip lists at most.
constexpr int MaxDetailLines = 5;

// The date text the Jingcai page expects: no leading zeros, 2022-3-5.
QString selectedDateText(const QDate &day) {
    return QStringLiteral("%1-%2-%3").arg(day.year()).arg(day.month()).arg(day.day());
}

// The status bar's sentence while a step of a click runs; the step's label
// stays out of it.
QString stepSentence(AnalysisStep step) { return QStringLiteral("分析中…%1").arg(stepPhrase(step)); }

// A job's title without the trailing ellipsis, for "已取消：…".
QString titleOf(const QString &what) {
    QString title = what;
    while (title.endsWith(u'…'))
        title.chop(1);
    return title;
}

} // namespace

// The progress of an analysis run as the job's status, and the point where a
// newer command's cancel ends it between two steps.
std::function<void(AnalysisStep)> jobProgress(JobContext &job) {
    return [&job](AnalysisStep step) {
        job.throwIfCancelled();
        job.progress(stepSentence(step));
    };
}

MainWindow::MainWindow(MainWindowSetup setup, QWidget *parent)
    : QMainWindow(parent), m_sites(std::move(setup.sites)), m_renderer(setup.renderLimits),
      m_today(std::move(setup.today)), m_pictures(ChartPictures::make(logicalDpiY())), m_jobs(std::move(setup.webs)) {
    setWindowTitle(QStringLiteral("澄岚竞彩"));
    m_recordingsRoot = setup.recordingsRoot.isEmpty() ? defaultRecordingsRoot() : setup.recordingsRoot;
    m_firstGame = setup.firstGame;
    m_session.start();
    buildControls();
    addWindowComforts(this);

    connect(&m_jobs, &JobRunner::status, this, [this](const QString &sentence) {
        setStatus(m_cancelNote.isEmpty() ? sentence : m_cancelNote + sentence);
    });
    connect(&m_jobs, &JobRunner::failed, this, [this](quint64 job, const QString &sentence, const QString &detail) {
        m_cancelNote.clear();
        setStatus(sentence, detail);
        if (job == m_clickJob)
            setRetry(m_pendingRetry);
        clickEnded(job);
    });
    connect(&m_jobs, &JobRunner::finished, this, &MainWindow::clickEnded);
    // Whatever was cancelled is said, until the next result replaces it.
    connect(&m_jobs, &JobRunner::cancelled, this, [this](quint64, const QString &what) {
        m_cancelNote = QStringLiteral("已取消：%1。").arg(titleOf(what));
        setStatus(m_cancelNote);
    });

    // The design's outer height leaves the match list 900 twips short of
    // it; the status bar comes on top of that.
    const double dpiX = logicalDpiX();
    const double dpiY = logicalDpiY();
    const int statusHeight = statusBar()->sizeHint().height();
    resize(twipsToPixels(m_layout.designWidth() + 60, dpiX), twipsToPixels(10800, dpiY) + statusHeight);
    fitWindowToScreen(this);
    layoutControls();

    QMetaObject::invokeMethod(this, &MainWindow::loadFirstSchedule, Qt::QueuedConnection);
}

MainWindow::~MainWindow() = default;

void MainWindow::buildControls() {
    m_jingcaiAction = menuBar()->addAction(QStringLiteral("胜平负竞彩"), this, &MainWindow::showJingcaiSchedule);
    m_jingcaiAction->setObjectName(QStringLiteral("jingcaiSchedule"));
    m_beidanAction = menuBar()->addAction(QStringLiteral("北京单场"), this, &MainWindow::showBeidanSchedule);
    m_beidanAction->setObjectName(QStringLiteral("beidanSchedule"));
    m_calendarAction = menuBar()->addAction(QStringLiteral("完场查询"), this, &MainWindow::toggleCalendar);
    m_calendarAction->setObjectName(QStringLiteral("finishedMatches"));
    m_helpMenu = menuBar()->findChild<QMenu *>(QStringLiteral("helpMenu"));
    if (!m_helpMenu) {
        m_helpMenu = menuBar()->addMenu(QStringLiteral("帮助"));
        m_helpMenu->setObjectName(QStringLiteral("helpMenu"));
    }
    m_recordAction = m_helpMenu->addAction(QStringLiteral("保存诊断记录…"), this, &MainWindow::recordLastClick);
    m_recordAction->setObjectName(QStringLiteral("saveDiagnostics"));
    m_retryAction = new QAction(QStringLiteral("重试"), this);
    m_retryAction->setObjectName(QStringLiteral("retry"));
    m_retryAction->setShortcut(QKeySequence(Qt::Key_F5));
    m_retryAction->setEnabled(false);
    connect(m_retryAction, &QAction::triggered, this, &MainWindow::retry);
    addAction(m_retryAction);

    auto *area = new QWidget(this);
    area->setObjectName(QStringLiteral("controls"));
    setCentralWidget(area);

    m_matchList = new GridView(1, MatchListKeyColumn, area);
    m_matchList->setObjectName(QStringLiteral("matchList"));
    m_matchList->setGrid(newMatchListGrid());
    connect(m_matchList, &GridView::cellClicked, this, &MainWindow::analyzeListedMatch);

    m_strengthPanel = new PictureBox(area);
    m_strengthPanel->setObjectName(QStringLiteral("strengthPanel"));
    for (int i = 0; i < 2; ++i) {
        m_trendCharts[i] = new PictureBox(area);
        m_trendCharts[i]->setObjectName(QStringLiteral("trendChart%1").arg(i));
    }

    m_commandStrip = new QGroupBox(area);
    m_commandStrip->setObjectName(QStringLiteral("commandStrip"));
    m_trendButton = new QPushButton(QStringLiteral("实力趋势"), m_commandStrip);
    m_trendButton->setObjectName(QStringLiteral("trendButton"));
    connect(m_trendButton, &QPushButton::clicked, this, &MainWindow::showHandicapChanges);
    for (int slot = 0; slot < ServerSlotCount; ++slot) {
        m_serverSlots[slot] = new QRadioButton(serverSlotCaption(slot), m_commandStrip);
        m_serverSlots[slot]->setObjectName(QStringLiteral("ServerSlot%1").arg(slot));
        connect(m_serverSlots[slot], &QRadioButton::clicked, this, [this, slot] { selectServerSlot(slot); });
    }
    m_similarSummary = new QLabel(m_commandStrip);
    m_similarSummary->setObjectName(QStringLiteral("SimilarSummary"));

    m_similarList = new GridView(1, SimilarListKeyColumn, area);
    m_similarList->setObjectName(QStringLiteral("similarList"));
    m_similarList->setGrid(newSimilarListGrid());
    connect(m_similarList, &GridView::cellClicked, this, &MainWindow::analyzeSimilarMatch);

    // The calendar lies over the match list, at its design size: week
    // numbers off and one-character day names so
    // that a whole month fits.
    m_calendar = new QCalendarWidget(area);
    m_calendar->setObjectName(QStringLiteral("calendar"));
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
    m_retryButton = new QPushButton(QStringLiteral("重试"), this);
    m_retryButton->setObjectName(QStringLiteral("retryButton"));
    m_retryButton->setToolTip(QStringLiteral("再试一次（F5）"));
    m_retryButton->setFlat(true);
    m_retryButton->hide();
    connect(m_retryButton, &QPushButton::clicked, this, &MainWindow::retry);
    statusBar()->addPermanentWidget(m_retryButton);
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
    fitLayoutToWidth(m_layout, pixelsToTwips(width(), dpiX));

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

// The pictures follow their boxes: at another size they are drawn again
// from the state they show, as a click at that size would draw them.
void MainWindow::fitPictures() {
    bool fits = true;
    for (int i = 0; i < 2; ++i)
        fits = fits && std::abs(m_pictures.trendCharts[i].image().height() - m_trendCharts[i]->height()) <= 1;
    if (!fits)
        redrawPictures();
    m_strengthPanel->setImage(m_pictures.strengthPanel.image());
    for (int i = 0; i < 2; ++i)
        m_trendCharts[i]->setImage(m_pictures.trendCharts[i].image());
}

void MainWindow::redrawPictures() {
    m_pictures = ChartPictures::make(logicalDpiY(), m_layout.trendCharts[0].height);
    if (m_redrawList)
        m_redrawList(m_pictures);
    if (m_redrawSimilar)
        m_redrawSimilar(m_pictures);
}

void MainWindow::loadFirstSchedule() {
    startSchedule({m_firstGame, m_state.selectedDate.text()});
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
    if (!m_lastClick || m_shownExchanges.isEmpty()) {
        setStatus(QStringLiteral("没有可保存的诊断记录：请先在列表中点一场比赛。"));
        return;
    }
    // The listing the click was made from first, so that a replay of the
    // click finds its schedule.
    QList<KeptExchanges::Exchange> exchanges;
    for (const auto &kept : std::as_const(m_shownExchanges))
        if (kept)
            exchanges += kept->all();
    const QString dir = newRecordingDir(m_recordingsRoot, QDateTime::currentDateTime());
    QString why;
    const int stored = storeRecording(dir, exchanges, &why);
    const QString shown = QDir::toNativeSeparators(dir);
    if (!why.isEmpty()) {
        setStatus(QStringLiteral("诊断记录没有保存完整。"), why);
        return;
    }
    const QString replay = replayCommandLine(*m_lastClick, dir);
    setStatus(QStringLiteral("诊断记录已保存。"),
              QStringLiteral("%1 exchanges in %2; replay: %3").arg(stored).arg(shown, replay));
    qInfo().noquote() << "diagnostic record:" << stored << "exchanges in" << shown << "replay:" << replay;

    // Not modal: the window stays usable while the note is open.
    auto *box =
        new QMessageBox(QMessageBox::Information, QStringLiteral("保存诊断记录"),
                        QStringLiteral("诊断记录已保存在文件夹：\n%1\n\n可把这个文件夹打包附在问题报告中。").arg(shown),
                        QMessageBox::Close, this);
    box->setObjectName(QStringLiteral("diagnosticsSaved"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPushButton *open = box->addButton(QStringLiteral("打开文件夹"), QMessageBox::ActionRole);
    open->setObjectName(QStringLiteral("openFolder"));
    // An action-role button would close the box; the folder opens and the box stays.
    open->disconnect();
    connect(open, &QPushButton::clicked, box, [dir] { QDesktopServices::openUrl(QUrl::fromLocalFile(dir)); });
    box->setModal(false);
    box->show();
}

void MainWindow::retry() {
    if (!m_retry)
        return;
    const std::function<void()> command = std::exchange(m_retry, {});
    setRetry({});
    command();
}

void MainWindow::setRetry(std::function<void()> command) {
    m_retry = std::move(command);
    m_retryAction->setEnabled(bool(m_retry));
    m_retryButton->setVisible(bool(m_retry));
}

void MainWindow::showCalendarDay(const QDate &day) {
    m_state.selectedDate = Value(selectedDateText(day));
    startSchedule({ScheduleRequest::Game::Jingcai, m_state.selectedDate.text()});
    m_calendar->hide();
}

void MainWindow::showHandicapChanges() {
    // A click being analysed is the match to read: the command waits for it.
    if (m_clickJob != 0) {
        m_handicapWaiting = true;
        setStatus(QStringLiteral("实力趋势：等本场分析完成后读取盘口变化…"));
        return;
    }
    startHandicapChanges();
}

void MainWindow::startHandicapChanges() {
    m_handicapWaiting = false;
    if (m_state.listMatchId.isEmpty()) {
        setStatus(QStringLiteral("请先在左边的列表中点选一场比赛。"));
        return;
    }
    const SiteBases sites = m_sites;
    const PageRenderer renderer = m_renderer;
    const QString title = QStringLiteral("正在读取本场的盘口变化……");
    m_clickJob = startAnalysis(title, [sites, renderer](AnalysisJobData &d, JobContext &job) {
        KeepingWeb web(job.web(), d.exchanges);
        const HandicapRun run = listMatchHandicapDetail(d.state, web, sites, renderer, &d.log);
        d.status = run.status;
        d.failed = !run.pageRead;
    });
    MainWindow *window = this;
    m_pendingRetry = [window] { window->startHandicapChanges(); };
}

// A click (or the handicap command) is over: shown, failed or replaced.
void MainWindow::clickEnded(quint64 job) {
    if (job == 0 || job != m_clickJob)
        return;
    m_clickJob = 0;
    if (m_handicapWaiting)
        startHandicapChanges();
}

void MainWindow::analyzeListedMatch(int gridRow, int column) {
    const qint64 clicked = m_session.nsecsElapsed();
    const GridData &grid = m_matchList->grid();
    if (gridRow < 1 || gridRow >= grid.rows())
        return;
    highlight(m_matchList, m_listHighlight, gridRow, column == 3 ? 3 : 2);
    m_clicked = RecordedClick{m_listed, gridRow};
    startListAnalysis(Value(grid.text(gridRow, MatchListKeyColumn)), clicked);
}

void MainWindow::analyzeSimilarMatch(int gridRow, int column) {
    Q_UNUSED(column);
    const GridData &grid = m_similarList->grid();
    if (gridRow < 1 || gridRow >= grid.rows())
        return;
    highlight(m_similarList, m_similarHighlight, gridRow, 2);
    startSimilarAnalysis(Value(grid.text(gridRow, SimilarListKeyColumn)));
}

// One current match per list: the cell highlighted before gets its own
// colour back.
void MainWindow::highlight(GridView *grid, std::optional<Highlight> &current, int row, int column) {
    if (current && current->row < grid->grid().rows())
        grid->restoreCellBackColor(current->row, current->column, current->previous);
    current = Highlight{row, column, grid->grid().cell(row, column).backColor};
    grid->setCellBackColor(row, column, HighlightColor);
}

// A new list shows no current match and starts at its top-left corner.
void MainWindow::showNewGrid(GridView *grid, const GridData &data, std::optional<Highlight> &current) {
    current.reset();
    grid->setGrid(data);
    grid->scrollToTop();
    grid->horizontalScrollBar()->setValue(0);
}

// The list click after the highlight, as one job: the analysis, the three
// pictures, the similar-match query and its grid, applied together.
void MainWindow::startListAnalysis(const Value &rowKey, qint64 clicked) {
    QString match;
    attempt([&] {
        match = QStringLiteral("%1 对 %2")
                    .arg(m_schedule.matchTable.at(matchtable::HomeTeamField, rowKey.toInt16()).text().trimmed(),
                         m_schedule.matchTable.at(matchtable::AwayTeamField, rowKey.toInt16()).text().trimmed());
    });
    const SiteBases sites = m_sites;
    const PageRenderer renderer = m_renderer;
    const QElapsedTimer session = m_session;
    MainWindow *window = this;
    const auto again = [window, rowKey] { window->startListAnalysis(rowKey, window->m_session.nsecsElapsed()); };
    m_clickJob =
        startAnalysis(QStringLiteral("分析中…%1").arg(match),
                      [rowKey, sites, renderer, session, clicked, click = m_clicked,
                       listing = m_listExchanges](AnalysisJobData &d, JobContext &job) {
                          d.clickedNs = clicked;
                          d.click = click;
                          d.listingExchanges = listing;
                          KeepingWeb web(job.web(), d.exchanges);
                          KeepingWeb second(job.anotherWeb(), d.exchanges);
                          const AnalysisContext context{web, sites, renderer, &second, jobProgress(job)};
                          const ListClickRun run =
                              listClick(d.state, d.schedule, rowKey, context, d.pictures, d.similar,
                                        [&] { d.chartsDrawnNs = session.nsecsElapsed(); });
                          job.throwIfCancelled();
                          d.status = run.status;
                          d.failed = !run.analysis.pageRead;
                          d.log.entries = run.analysis.log.entries + run.queryLog.entries + run.drawLog.entries;
                          const bool drawable = run.analysis.pageRead && run.analysis.trendFitted;
                          d.redraw = [state = d.state, drawable, why = run.analysis.status](ChartPictures &pictures) {
                              AnalysisState s = state;
                              if (drawable)
                                  drawListMatchCharts(s, pictures);
                              else
                                  drawNoTrend(pictures, why);
                          };
                      });
    m_pendingRetry = again;
}

// The similar click as one job: the historic match's analysis and handicap
// details, the comparison panel and its trend chart.
void MainWindow::startSimilarAnalysis(const Value &rowKey) {
    const SiteBases sites = m_sites;
    const PageRenderer renderer = m_renderer;
    MainWindow *window = this;
    const QString title = QStringLiteral("分析中…相似比赛");
    m_clickJob = startAnalysis(title, [rowKey, sites, renderer](AnalysisJobData &d, JobContext &job) {
        KeepingWeb web(job.web(), d.exchanges);
        KeepingWeb second(job.anotherWeb(), d.exchanges);
        const AnalysisContext context{web, sites, renderer, &second, jobProgress(job)};
        const SimilarClickRun run = similarClick(d.state, rowKey, context, d.pictures);
        job.throwIfCancelled();
        d.status = run.analysis.status;
        d.failed = run.analysis.rowFound && !run.analysis.pageRead;
        d.log.entries = run.analysis.log.entries + run.drawLog.entries;
        if (!run.analysis.rowFound)
            return;
        const bool drawable = run.analysis.pageRead && run.analysis.trendFitted;
        d.redraw = [state = d.state, drawable, why = run.analysis.status](ChartPictures &pictures) {
            AnalysisState s = state;
            if (drawable)
                drawSimilarMatchCharts(s, pictures);
            else
                drawSimilarMatchNoTrend(s, pictures, why);
        };
    });
    m_pendingRetry = [window, rowKey] { window->startSimilarAnalysis(rowKey); };
}

quint64 MainWindow::startAnalysis(const QString &title, AnalysisWork work) {
    AnalysisJobData data{m_state, m_schedule, m_pictures, m_similarList->grid(), QString()};
    data.exchanges = std::make_shared<KeptExchanges>();
    MainWindow *window = this;
    auto job = [data = std::move(data), work = std::move(work), window](JobContext &context) mutable -> JobApply {
        work(data, context);
        return [window, data = std::move(data)] { window->applyAnalysis(data); };
    };
    return m_jobs.start(title, std::move(job), Lane::Click);
}

void MainWindow::applyAnalysis(const AnalysisJobData &data) {
    // The day the list was asked for belongs to the list's commands, which
    // may have changed it while this job ran.
    const Value selectedDate = m_state.selectedDate;
    m_state = data.state;
    m_state.selectedDate = selectedDate;
    const bool listClick = data.clickedNs >= 0;
    if (listClick) {
        m_redrawList = data.redraw;
        m_redrawSimilar = {};
        m_shownExchanges = {data.listingExchanges, data.exchanges};
        m_lastClick = data.click;
    } else if (data.redraw) {
        m_redrawSimilar = data.redraw;
        m_shownExchanges.append(data.exchanges);
    }
    m_pictures = data.pictures;
    fitPictures();
    if (!(data.similar == m_similarList->grid()))
        showNewGrid(m_similarList, data.similar, m_similarHighlight);
    // A list click replaces the similar set; a similar click leaves it.
    if (m_state.analysisMode != AnalysisMode::SimilarMatch)
        m_similarSummary->setText(summarizeSimilarSet(m_state).text());
    QString detail = details(data.log);
    if (listClick) {
        const double ms = double(m_session.nsecsElapsed() - data.clickedNs) / 1e6;
        m_clickTimesMs.append(ms);
        const QString time = QStringLiteral("click to result: %1 ms").arg(ms, 0, 'f', 0);
        detail = detail.isEmpty() ? time : time + u'\n' + detail;
    }
    m_cancelNote.clear();
    setStatus(data.status, detail);
    setRetry(data.failed ? m_pendingRetry : std::function<void()>());
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

// The slot in use bold in red and ticked, a slot being looked up marked
// pending, the others as every button is.
void MainWindow::showServerSlotLooks() {
    for (int option = 0; option < ServerSlotCount; ++option) {
        QRadioButton *button = m_serverSlots[option];
        const ServerSlotLook look = serverSlotLook(option, m_selectedSlot);
        QFont font = button->font();
        font.setBold(look.bold);
        font.setItalic(option == m_pendingSlot);
        button->setFont(font);
        QPalette palette = m_commandStrip->palette();
        if (look.color) {
            palette.setColor(QPalette::ButtonText, colorFromValue(*look.color));
            palette.setColor(QPalette::WindowText, colorFromValue(*look.color));
        }
        button->setPalette(palette);
        button->setText(option == m_pendingSlot ? serverSlotCaption(option) + QStringLiteral("…")
                                                : serverSlotCaption(option));
        // A click ticks an option at once; only the slot in use stays ticked.
        button->setAutoExclusive(false);
        button->setChecked(option == m_selectedSlot);
        button->setAutoExclusive(true);
    }
}

void MainWindow::selectServerSlot(int slot) {
    if (slot < 0 || slot >= ServerSlotCount)
        return;
    m_pendingSlot = slot;
    showServerSlotLooks();
    SiteBases sites = m_sites;
    MainWindow *window = this;
    m_jobs.start(
        QStringLiteral("正在读取%1的地址……").arg(serverSlotCaption(slot)),
        [sites, slot, window](JobContext &job) mutable -> JobApply {
            StepLog log;
            const ServerSlotChoice choice = SelectServerSlot(sites, slot, job.web(), &log);
            return [window, choice, slot, service = sites.service, detail = details(log)] {
                window->m_pendingSlot = -1;
                if (choice.changed) {
                    window->m_sites.service = service;
                    window->m_selectedSlot = slot;
                }
                window->showServerSlotLooks();
                window->setStatus(choice.status, detail);
                emit window->serverSlotShown();
            };
        },
        Lane::ServerSlot);
}

void MainWindow::startSchedule(const ScheduleRequest &request) {
    m_listed = request;
    const SiteBases sites = m_sites;
    const PageRenderer renderer = m_renderer;
    MainWindow *window = this;
    m_jobs.start(
        QStringLiteral("正在读取%1……").arg(request.title()),
        [request, sites, renderer, window](JobContext &job) -> JobApply {
            auto exchanges = std::make_shared<KeptExchanges>();
            KeepingWeb web(job.web(), exchanges);
            ScheduleListing listing = listSchedule(request, web, sites, renderer);
            return [window, request, exchanges, listing = std::move(listing)] {
                window->applySchedule(listing, exchanges);
                const bool failed =
                    listing.outcome == ScheduleOutcome::NetworkFailed || listing.outcome == ScheduleOutcome::SiteError;
                window->setRetry(failed ? std::function<void()>([window, request] { window->startSchedule(request); })
                                        : std::function<void()>());
            };
        },
        Lane::List);
}

void MainWindow::applySchedule(const ScheduleListing &listing, const std::shared_ptr<KeptExchanges> &exchanges) {
    m_schedule = listing.state;
    m_listExchanges = exchanges;
    showNewGrid(m_matchList, listing.grid, m_listHighlight);
    m_cancelNote.clear();
    setStatus(listing.status, details(listing.log));
    emit scheduleShown();
}

// The technical side of what went wrong, for the status's tooltip and the log.
QString MainWindow::details(const StepLog &log) {
    QStringList details;
    for (const StepLog::Entry &e : log.entries)
        if (details.size() < MaxDetailLines && !details.contains(e.message))
            details << e.message;
    return details.join(u'\n');
}

QString MainWindow::statusText() const { return m_status->text(); }

QString MainWindow::statusDetail() const { return m_statusDetail; }

QString MainWindow::similarSummaryText() const { return m_similarSummary->text(); }

void MainWindow::setStatus(const QString &sentence, const QString &detail) {
    m_status->setText(sentence);
    m_statusDetail = detail;
    m_status->setToolTip(detail);
    if (!detail.isEmpty())
        qInfo().noquote() << sentence << "|" << QString(detail).replace(u'\n', QStringLiteral(" | "));
}

} // namespace chenglan
