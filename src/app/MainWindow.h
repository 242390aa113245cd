#pragma once

#include "base/AnalysisState.h"
#include "app/JobRunner.h"
#include "app/MainLayout.h"
#include "charts/ChartPictures.h"
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
    QString status;
    // The failures behind the status, for its tooltip.
    StepLog log{};
    // A list click's times on the window's session clock (nanoseconds):
    // the click, and the three pictures drawn; -1 for other jobs.
    qint64 clickedNs = -1;
    qint64 chartsDrawnNs = -1;
};
// Runs on the job's worker thread; may use the job's Web.
using AnalysisWork = std::function<void(AnalysisJobData &, JobContext &)>;

// The progress of an analysis run as the job's status, and the point where a
// newer command's cancel ends it between two steps.
std::function<void(const QString &)> jobProgress(JobContext &job);

// A list click as the window remembers it for recording: the listing the
// list shows and the grid row clicked.
struct RecordedClick {
    ScheduleRequest request;
    int gridRow = 0;
};

// What the window is built with: where its jobs get their network, the
// sites it reads and the clock that says what today is.
struct MainWindowSetup {
    WebFactory webs;
    SiteBases sites;
    std::function<QDate()> today = [] { return QDate::currentDate(); };
    PageRenderer::Limits renderLimits;
    // Where "记录分析" puts its recordings; empty for the user's data folder.
    QString recordingsRoot;
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
    // "记录分析": runs the last list click again, storing every page it
    // reads in a new folder under the recordings folder, and says where.
    void recordLastClick();
    // A day picked on the calendar: that day's Jingcai matches.
    void showCalendarDay(const QDate &day);
    // "实力趋势": the handicap detail of the match chosen in the list.
    void showHandicapChanges();
    // A click on a cell of the match list (grid row 1 is the first match):
    // analysis, pictures and similar matches of that match.
    void analyzeListedMatch(int gridRow, int column);
    // A click on a line of the similar-match grid: that historic match's
    // analysis, its handicap comparison and its trend.
    void analyzeSimilarMatch(int gridRow, int column);
    // One of the server-slot options "服务器一" to "服务器三" (slot 0..2).
    void selectServerSlot(int slot);

    const MainLayout &layoutTwips() const { return m_layout; }
    const ScheduleState &schedule() const { return m_schedule; }
    const AnalysisState &state() const { return m_state; }
    const ChartPictures &pictures() const { return m_pictures; }
    const SiteBases &sites() const { return m_sites; }
    int selectedServerSlot() const { return m_selectedSlot; }
    // Milliseconds from each list click of this session to its pictures and
    // similar matches shown, oldest first, and their median (0 when none).
    const QList<double> &clickTimesMs() const { return m_clickTimesMs; }
    double medianClickMs() const;
    QString statusText() const;
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
    void buildControls();
    void layoutControls();
    void greyUnpickableDays();
    void fitPictures();
    void startSchedule(const ScheduleRequest &request);
    void applySchedule(const ScheduleListing &listing);
    void startListAnalysis(const Value &rowKey, qint64 clickedNs);
    void startSimilarAnalysis(const Value &rowKey);
    void startAnalysis(const QString &title, AnalysisWork work);
    void showServerSlotLooks();
    void applyAnalysis(const AnalysisJobData &data);
    void setStatus(const QString &sentence);
    void showDetails(const StepLog &log);

    SiteBases m_sites;
    PageRenderer m_renderer;
    std::function<QDate()> m_today;
    MainLayout m_layout;
    ScheduleState m_schedule;
    AnalysisState m_state;
    // The canvases the picture boxes show; drawing jobs draw on copies.
    ChartPictures m_pictures;
    int m_selectedSlot = -1;
    // Runs from the window's start; clicks and their results are timed on it.
    QElapsedTimer m_session;
    QList<double> m_clickTimesMs;
    QString m_recordingsRoot;
    ScheduleRequest m_listed;                 // the listing the list shows or is loading
    std::optional<RecordedClick> m_lastClick; // the last list click, for "记录分析"

    QAction *m_jingcaiAction = nullptr;
    QAction *m_beidanAction = nullptr;
    QAction *m_calendarAction = nullptr;
    QAction *m_recordAction = nullptr;
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
