#pragma once

#include "base/AnalysisState.h"
#include "app/AnalysisRecording.h"
#include "app/JobRunner.h"
#include "app/MainLayout.h"
#include "charts/ChartPictures.h"
#include "usecases/AnalysisSteps.h"
#include "usecases/ScheduleListing.h"
#include "sites/ServiceEndpoint.h"
#include "html/PageRenderer.h"
#include "net/SiteBases.h"

#include <QDate>
#include <QElapsedTimer>
#include <QMainWindow>

#include <algorithm>
#include <functional>
#include <optional>

class QAction;
class QMenu;
class QCalendarWidget;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace chenglan {

class GridView;
class PictureBox;

// What an analysis job works on: copies of the window's analysis state, of
// the schedule it was started from, of the pictures and of the similar-match
// grid, and the sentence for the status bar when it is done. The window
// takes all of them back at once.
struct AnalysisJobData {
    AnalysisState state;
    ScheduleState schedule;
    ChartPictures pictures;
    GridData similar;
    // The one Chinese sentence for the status bar, and the failures behind
    // it (the technical detail, for the status's tooltip and the log).
    QString status;
    StepLog log{};
    // Redraws what this job drew onto pictures of another size, from the
    // state the job drew from; empty when the job drew nothing.
    std::function<void(ChartPictures &)> redraw{};
    // The page the click was meant to analyse was not read: what is shown is
    // empty and the click can be tried again.
    bool failed = false;
    // Every exchange of the job's Webs, for a diagnostic record; for a list
    // click also the listing's, and which row of which listing it was.
    std::shared_ptr<KeptExchanges> exchanges{};
    std::shared_ptr<KeptExchanges> listingExchanges{};
    std::optional<RecordedClick> click{};
    // A list click's times on the window's session clock (nanoseconds):
    // the click, and the three pictures drawn; -1 for other jobs.
    qint64 clickedNs = -1;
    qint64 chartsDrawnNs = -1;
};
// Runs on the job's worker thread; may use the job's Web.
using AnalysisWork = std::function<void(AnalysisJobData &, JobContext &)>;

// The progress of an analysis run as the job's status, and the point where a
// newer command's cancel ends it between two steps.
std::function<void(AnalysisStep)> jobProgress(JobContext &job);

// What the window is built with: where its jobs get their network, the
// sites it reads and the clock that says what today is.
struct MainWindowSetup {
    WebFactory webs;
    SiteBases sites;
    std::function<QDate()> today = [] { return QDate::currentDate(); };
    PageRenderer::Limits renderLimits;
    // Where "保存诊断记录…" puts its recordings; empty for the user's data folder.
    QString recordingsRoot;
    // The game the first list shows (the current day or issue).
    ScheduleRequest::Game firstGame = ScheduleRequest::Game::Jingcai;
};

// The main window: the match list, the calendar, the picture boxes, the
// similar-match grid and the command strip, laid out in twips from the
// window's height. It shows state and starts jobs; the work happens in the
// core steps on the job runner's worker threads.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(MainWindowSetup setup, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Highlight of a chosen cell: red 255, green 193, blue 37.
    static constexpr int HighlightColor = 2474495;

    // Lists the site's current Jingcai day and sets up the calendar. Runs
    // once by itself as soon as the event loop starts.
    void loadFirstSchedule();
    // "胜平负竞彩": the current Jingcai day.
    void showJingcaiSchedule();
    // "北京单场": the current Beidan issue.
    void showBeidanSchedule();
    // "完场查询": shows or hides the calendar.
    void toggleCalendar();
    // "保存诊断记录…" (帮助 menu): stores the pages the shown list and
    // analysis were made from, as they were read, in a new folder under the
    // recordings folder, without reading anything again; a dialog names the
    // folder and can open it.
    void recordLastClick();
    // F5 or "重试" in the status bar: runs the command that failed again.
    void retry();
    // A day picked on the calendar: that day's Jingcai matches.
    void showCalendarDay(const QDate &day);
    // "实力趋势": the handicap detail of the match whose analysis is shown;
    // while a click is being analysed, of that match once it is shown.
    void showHandicapChanges();
    // A click on a cell of the match list (grid row 1 is the first match):
    // analysis, pictures and similar matches of that match.
    void analyzeListedMatch(int gridRow, int column);
    // A click on a line of the similar-match grid: that historic match's
    // analysis, its handicap comparison and its trend.
    void analyzeSimilarMatch(int gridRow, int column);
    // One of the server-slot options "服务器一" to "服务器三" (slot 0..2):
    // looks up the slot's address. The option stays marked pending and the
    // slot in use stays ticked until the lookup has set the new address; a
    // failed lookup keeps the slot in use and says so.
    void selectServerSlot(int slot);

    const MainLayout &layoutTwips() const { return m_layout; }
    const ScheduleState &schedule() const { return m_schedule; }
    const AnalysisState &state() const { return m_state; }
    const ChartPictures &pictures() const { return m_pictures; }
    const SiteBases &sites() const { return m_sites; }
    // The slot whose address queries go to (-1: the configured address), and
    // the slot being looked up (-1: none).
    // Addresses changed in the settings, from the next command on.
    void setSites(const SiteBases &sites) { m_sites = sites; }
    // The listing the list shows, or is loading; today by the window's clock.
    const ScheduleRequest &listedRequest() const { return m_listed; }
    QDate today() const { return m_today(); }
    int selectedServerSlot() const { return m_selectedSlot; }
    int pendingServerSlot() const { return m_pendingSlot; }
    // The command "重试" runs again; null when the last command did not fail.
    QAction *retryAction() const { return m_retryAction; }
    // Milliseconds from each list click of this session to its pictures and
    // similar matches shown, oldest first, and their median (0 when none).
    const QList<double> &clickTimesMs() const { return m_clickTimesMs; }
    double medianClickMs() const;
    QString statusText() const;
    // The technical detail behind the status sentence.
    QString statusDetail() const;
    JobRunner &jobs() { return m_jobs; }

    GridView *matchList() const { return m_matchList; }
    GridView *similarList() const { return m_similarList; }
    QCalendarWidget *calendar() const { return m_calendar; }
    PictureBox *strengthPanel() const { return m_strengthPanel; }
    PictureBox *trendBox(int index) const { return m_trendCharts[index == 0 ? 0 : 1]; }
    QString similarSummaryText() const;
    QRadioButton *serverSlotOption(int slot) const { return m_serverSlots[std::clamp(slot, 0, ServerSlotCount - 1)]; }

signals:
    // A schedule command's result is shown (a list, or an empty one and why).
    void scheduleShown();
    // An analysis job's state, pictures and similar-match list are shown.
    void analysisShown();
    // A server-slot command is done (the service address changed or not).
    void serverSlotShown();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    // A highlighted cell and the colour it had before.
    struct Highlight {
        int row = 0;
        int column = 0;
        std::optional<int> previous;
    };

    void buildControls();
    void layoutControls();
    void greyUnpickableDays();
    void fitPictures();
    void redrawPictures();
    void startSchedule(const ScheduleRequest &request);
    void applySchedule(const ScheduleListing &listing, const std::shared_ptr<KeptExchanges> &exchanges);
    void startListAnalysis(const Value &rowKey, qint64 clickedNs);
    void startSimilarAnalysis(const Value &rowKey);
    void startHandicapChanges();
    quint64 startAnalysis(const QString &title, AnalysisWork work);
    void clickEnded(quint64 job);
    void showServerSlotLooks();
    void applyAnalysis(const AnalysisJobData &data);
    void highlight(GridView *grid, std::optional<Highlight> &current, int row, int column);
    void showNewGrid(GridView *grid, const GridData &data, std::optional<Highlight> &current);
    void setStatus(const QString &sentence, const QString &detail = QString());
    void setRetry(std::function<void()> command);
    static QString details(const StepLog &log);

    SiteBases m_sites;
    PageRenderer m_renderer;
    std::function<QDate()> m_today;
    MainLayout m_layout;
    ScheduleState m_schedule;
    AnalysisState m_state;
    // The canvases the picture boxes show; drawing jobs draw on copies.
    ChartPictures m_pictures;
    int m_selectedSlot = -1;
    int m_pendingSlot = -1;
    // Runs from the window's start; clicks and their results are timed on it.
    QElapsedTimer m_session;
    QList<double> m_clickTimesMs;
    QString m_recordingsRoot;
    ScheduleRequest::Game m_firstGame = ScheduleRequest::Game::Jingcai;
    ScheduleRequest m_listed;                 // the listing the list shows or is loading
    std::optional<RecordedClick> m_lastClick; // the list click shown, for a diagnostic record
    // The exchanges the shown list and the shown analyses were read with.
    std::shared_ptr<KeptExchanges> m_listExchanges;
    QList<std::shared_ptr<KeptExchanges>> m_shownExchanges;
    // How the shown pictures are drawn again at another size: the list
    // match's, then the similar match's on top.
    std::function<void(ChartPictures &)> m_redrawList;
    std::function<void(ChartPictures &)> m_redrawSimilar;
    std::optional<Highlight> m_listHighlight;
    std::optional<Highlight> m_similarHighlight;
    quint64 m_clickJob = 0;          // the running click (list or similar), 0 when none
    bool m_handicapWaiting = false;  // "实力趋势" waits for the running click
    std::function<void()> m_retry;   // the command that failed, for "重试"
    std::function<void()> m_pendingRetry; // the running click again, should it fail
    RecordedClick m_clicked;         // the list click being analysed
    QString m_cancelNote;            // what was cancelled, until the next result
    QString m_statusDetail;
    QAction *m_jingcaiAction = nullptr;
    QAction *m_beidanAction = nullptr;
    QAction *m_calendarAction = nullptr;
    QAction *m_recordAction = nullptr;
    QAction *m_retryAction = nullptr;
    QMenu *m_helpMenu = nullptr;
    QPushButton *m_retryButton = nullptr;
    GridView *m_matchList = nullptr;
    GridView *m_similarList = nullptr;
    PictureBox *m_strengthPanel = nullptr;
    PictureBox *m_trendCharts[2] = {nullptr, nullptr};
    QGroupBox *m_commandStrip = nullptr;
    QPushButton *m_trendButton = nullptr;
    QRadioButton *m_serverSlots[ServerSlotCount] = {nullptr, nullptr, nullptr};
    QCalendarWidget *m_calendar = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_similarSummary = nullptr; // how the similar matches ended, in the command strip

    // Last, so that it is destroyed first: its destructor waits for the
    // workers while the window is still whole.
    JobRunner m_jobs;
};

} // namespace chenglan
