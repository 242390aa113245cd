#include "Ingest.h"

#include "base/TextRules.h"
#include "html/PageRenderer.h"
#include "sites/ScheduleScraper.h"

#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace chenglan::dataservice {

namespace {

// MatchTable fields the ingest reads.
constexpr int IdField = 0;
constexpr int ColourField = 1;
constexpr int LeagueField = 2;
constexpr int ScoreField = 6;
constexpr int HomeOddsField = 8;
constexpr int HandicapField = 9;
constexpr int AwayOddsField = 10;

// Longest team or league name stored; the import draws the same line.
constexpr int kMaxNameLength = 64;

// A degree-6 fit needs seven points. With fewer the fits fail and the
// strengths stay at zero (or at whatever a near-singular fit gives), which
// is no profile of the match: storing it would make every such match the
// nearest neighbour of every other.
constexpr int kTrendPoints = 7;

QString field(const Table &t, int column, int row) {
    QString text;
    attempt([&] { text = t.at(column, row).text().trimmed(); });
    return text;
}

std::optional<double> oddsFrom(const QString &text) {
    const auto n = text::strictNumber(text);
    if (!n || !std::isfinite(*n) || *n <= 0 || *n > 1000)
        return std::nullopt;
    return n;
}

template <class T> void fill(std::optional<T> &target, const std::optional<T> &value) {
    if (!target)
        target = value;
}

void fill(QString &target, const QString &value) {
    if (target.isEmpty())
        target = value;
}

// Names as the answer can carry them: trimmed, no control characters, not
// too long. Empty when the name cannot be used.
QString cleanName(const QString &name) {
    QString text = name.simplified();
    for (const QChar c : std::as_const(text))
        if (c.category() == QChar::Other_Control)
            return {};
    return text.size() > kMaxNameLength ? QString() : text;
}

// The failure of a page the run could not read; Data failures (a value of a
// record that does not convert) belong to the analysis itself.
QString pageFailure(const StepLog &log) {
    for (const StepLog::Entry &e : log.entries)
        if (e.kind != FailureKind::Data)
            return e.message;
    return {};
}

} // namespace

std::optional<double> handicapLineFromText(QStringView text) {
    static const char16_t *const names[] = {u"平手", u"平手/半球", u"半球", u"半球/一球", u"一球", u"一球/球半",
                                            u"球半", u"球半/两球", u"两球", u"两球/两球半", u"两球半",
                                            u"两球半/三球", u"三球", u"三球/三球半", u"三球半", u"三球半/四球",
                                            u"四球"};
    QStringView name = text.trimmed();
    double sign = 1;
    if (name.startsWith(u"受让")) {
        name = name.mid(2);
        sign = -1;
    } else if (name.startsWith(u"受")) {
        name = name.mid(1);
        sign = -1;
    }
    for (size_t i = 0; i < std::size(names); ++i)
        if (name == QStringView(names[i]))
            return i == 0 ? 0.0 : sign * double(i) / 4.0;
    return std::nullopt;
}

std::optional<MatchFacts> finishedMatchFromRow(const Table &matchTable, int row) {
    static const QRegularExpression score(QStringLiteral("^(\\d{1,2})\\s*-\\s*(\\d{1,2})$"));
    static const QRegularExpression colour(QStringLiteral("^#[0-9a-fA-F]{6}$"));
    MatchFacts facts;
    const auto id = text::strictNumber(field(matchTable, IdField, row));
    if (!id || *id < 1 || *id > 9e15 || *id != std::floor(*id))
        return std::nullopt;
    facts.matchId = qint64(*id);
    const auto goals = score.match(field(matchTable, ScoreField, row));
    if (!goals.hasMatch())
        return std::nullopt;
    facts.fullTimeHome = goals.captured(1).toInt();
    facts.fullTimeAway = goals.captured(2).toInt();
    facts.league = cleanName(field(matchTable, LeagueField, row));
    const QString colourText = field(matchTable, ColourField, row);
    if (colour.match(colourText).hasMatch())
        facts.leagueColour = colourText.toLower();
    const QString handicap = field(matchTable, HandicapField, row);
    facts.handicapLine = handicapLineFromText(handicap);
    if (facts.handicapLine)
        facts.handicap = handicap;
    facts.homeOdds = oddsFrom(field(matchTable, HomeOddsField, row));
    facts.awayOdds = oddsFrom(field(matchTable, AwayOddsField, row));
    return facts;
}

MatchFacts mergeFacts(const std::optional<MatchFacts> &stored, const MatchFacts &fresh) {
    if (!stored)
        return fresh;
    MatchFacts m = *stored;
    fill(m.league, fresh.league);
    fill(m.leagueShort, fresh.leagueShort);
    fill(m.leagueColour, fresh.leagueColour);
    fill(m.homeTeam, fresh.homeTeam);
    fill(m.awayTeam, fresh.awayTeam);
    fill(m.kickoff, fresh.kickoff);
    // Goal counts come in pairs: a half pair is never made up from two sources.
    if (!m.halfTimeHome || !m.halfTimeAway) {
        m.halfTimeHome = fresh.halfTimeHome;
        m.halfTimeAway = fresh.halfTimeAway;
    }
    if (!m.finished()) {
        m.fullTimeHome = fresh.fullTimeHome;
        m.fullTimeAway = fresh.fullTimeAway;
    }
    if (m.handicap.isEmpty() && !m.handicapLine) {
        m.handicap = fresh.handicap;
        m.handicapLine = fresh.handicapLine;
    }
    if (!m.homeOdds || !m.awayOdds) {
        m.homeOdds = fresh.homeOdds;
        m.awayOdds = fresh.awayOdds;
    }
    return m;
}

IngestedMatch analyseForIngest(const MatchFacts &listed, const AnalysisContext &context) {
    IngestedMatch result;
    result.facts = listed;
    try {
        AnalysisState s;
        const AnalysisRun run = analyzeMatchId(s, Value(double(listed.matchId)), context);
        if (const QString page = pageFailure(run.log); !page.isEmpty()) {
            result.failure = page;
            return result;
        }
        if (!run.ok) {
            result.failure = run.status;
            return result;
        }
        if (s.trendSeries.rows() < kTrendPoints) {
            result.failure = QStringLiteral("the trend has only %1 of the %2 points a profile needs")
                                 .arg(s.trendSeries.rows())
                                 .arg(kTrendPoints);
            return result;
        }
        result.facts.homeTeam = cleanName(s.homeTeamName.text());
        result.facts.awayTeam = cleanName(s.awayTeamName.text());
        if (result.facts.homeTeam.isEmpty() || result.facts.awayTeam.isEmpty()) {
            result.failure = QStringLiteral("the analysis page names no usable teams");
            return result;
        }
        if (!s.listMatchTime.isDate()) {
            result.failure = QStringLiteral("the analysis page gives no kick-off time");
            return result;
        }
        result.facts.kickoff = s.listMatchTime.asDate()->toString(QStringLiteral("yyyy-MM-dd HH:mm"));

        const std::optional<HundredthsProfile> hundredths = hundredthsProfile(s.profile, &result.failure);
        if (!hundredths)
            return result;
        MatchProfile profile;
        static_cast<HundredthsProfile &>(profile) = *hundredths;
        profile.matchId = listed.matchId;
        result.profile = profile;
    } catch (const StepFailure &failure) {
        result.failure = failure.message();
    } catch (const std::exception &e) {
        result.failure = QString::fromLocal8Bit(e.what());
    }
    return result;
}

namespace {

// The finished matches of the schedule pages, each once.
std::vector<MatchFacts> listFinishedMatches(const IngestOptions &options, Web &web, IngestReport &report,
                                            const std::function<void(const QString &)> &say) {
    std::vector<MatchFacts> matches;
    QSet<qint64> seen;
    const PageRenderer renderer;
    for (QDate day = options.from; day <= options.to; day = day.addDays(1)) {
        ++report.days;
        const QString dayText = day.toString(QStringLiteral("yyyy-M-d"));
        ScheduleState schedule;
        StepLog log;
        scrapeJingcaiSchedule(schedule, dayText, web, options.sites, renderer, &log);
        const ScheduleOutcome outcome = scheduleOutcome(schedule, log);
        if (outcome != ScheduleOutcome::Listed && outcome != ScheduleOutcome::NoMatch) {
            ++report.daysFailed;
            say(QStringLiteral("ingest: %1: %2 (%3)")
                    .arg(day.toString(Qt::ISODate),
                         scheduleStatusText(dayText + QStringLiteral(" 竞彩"), schedule, log),
                         log.first(FailureKind::Network)));
            continue;
        }
        int finished = 0;
        int unfinished = 0;
        for (int row = 0; row < schedule.matchTable.rows(); ++row) {
            bool listed = false;
            attempt([&] { listed = schedule.matchRowFlags.at(row).equals(1); });
            if (!listed)
                continue;
            const auto facts = finishedMatchFromRow(schedule.matchTable, row);
            if (!facts) {
                ++unfinished;
                continue;
            }
            if (seen.contains(facts->matchId))
                continue;
            seen.insert(facts->matchId);
            matches.push_back(*facts);
            ++finished;
        }
        report.finished += finished;
        report.unfinished += unfinished;
        say(QStringLiteral("ingest: %1: %2 finished matches%3")
                .arg(day.toString(Qt::ISODate))
                .arg(finished)
                .arg(unfinished ? QStringLiteral(", %1 not finished").arg(unfinished) : QString()));
    }
    return matches;
}

// Results handed from the workers to the thread that writes.
class ResultQueue {
public:
    explicit ResultQueue(int producers) : m_producers(producers) {}

    void push(IngestedMatch match) {
        {
            std::lock_guard lock(m_mutex);
            m_items.push_back(std::move(match));
        }
        m_changed.notify_one();
    }
    void producerDone() {
        {
            std::lock_guard lock(m_mutex);
            --m_producers;
        }
        m_changed.notify_one();
    }
    // Waits for `wanted` results or the end of the producers; empty at the end.
    std::vector<IngestedMatch> take(size_t wanted) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_items.size() >= wanted || m_producers == 0; });
        std::vector<IngestedMatch> batch;
        while (!m_items.empty() && batch.size() < wanted) {
            batch.push_back(std::move(m_items.front()));
            m_items.pop_front();
        }
        return batch;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<IngestedMatch> m_items;
    int m_producers;
};

void storeBatch(MatchStore &store, const std::vector<IngestedMatch> &batch, IngestReport &report,
                const std::function<void(const QString &)> &say) {
    store.beginBatch();
    try {
        for (const IngestedMatch &m : batch) {
            if (!m.profile) {
                ++report.skipped;
                say(QStringLiteral("ingest: match %1 skipped: %2").arg(m.facts.matchId).arg(m.failure));
                continue;
            }
            store.upsertMatch(mergeFacts(store.match(m.facts.matchId), m.facts));
            switch (store.upsertProfile(*m.profile)) {
            case UpsertResult::Inserted: ++report.inserted; break;
            case UpsertResult::Updated: ++report.updated; break;
            case UpsertResult::Unchanged: ++report.unchanged; break;
            }
        }
        store.commitBatch();
    } catch (...) {
        store.rollbackBatch();
        throw;
    }
    ++report.batches;
}

} // namespace

IngestReport ingest(MatchStore &store, const IngestOptions &options, const IngestWebFactory &makeWeb,
                    const std::function<void(const QString &)> &report) {
    IngestReport result;
    const auto say = [&](const QString &line) {
        if (report)
            report(line);
    };
    if (!options.from.isValid() || !options.to.isValid() || options.from > options.to) {
        say(QStringLiteral("ingest: no days to read"));
        return result;
    }
    std::vector<MatchFacts> matches;
    {
        const std::unique_ptr<Web> web = makeWeb();
        matches = listFinishedMatches(options, *web, result, say);
    }
    if (options.onlyNew) {
        std::erase_if(matches, [&](const MatchFacts &m) {
            const auto facts = store.match(m.matchId);
            const bool done = facts && facts->finished() && store.profile(m.matchId);
            result.alreadyStored += done ? 1 : 0;
            return done;
        });
    }
    const size_t total = matches.size();
    say(QStringLiteral("ingest: analysing %1 matches%2")
            .arg(total)
            .arg(result.alreadyStored ? QStringLiteral(" (%1 stored already)").arg(result.alreadyStored) : QString()));

    const int workers = std::clamp(options.workers, 1, 2);
    const size_t batchSize = size_t(std::max(options.batchSize, 1));
    std::atomic<size_t> next{0};
    ResultQueue queue(workers);
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&] {
            // Each worker has its own Web and renderer; the Web is made and used here.
            std::unique_ptr<Web> web;
            try {
                web = makeWeb();
            } catch (...) {
            }
            const PageRenderer renderer;
            for (size_t i; (i = next++) < total;) {
                if (!web) {
                    queue.push({matches[i], std::nullopt, QStringLiteral("no network client")});
                    continue;
                }
                const AnalysisContext context{*web, options.sites, renderer, nullptr, {}};
                queue.push(analyseForIngest(matches[i], context));
            }
            queue.producerDone();
        });
    }

    const auto stopWorkers = [&] {
        next = total;
        for (std::thread &t : threads)
            t.join();
    };
    try {
        size_t done = 0;
        for (;;) {
            const std::vector<IngestedMatch> batch = queue.take(batchSize);
            if (batch.empty())
                break;
            storeBatch(store, batch, result, say);
            done += batch.size();
            say(QStringLiteral("ingest: %1/%2 done, %3 stored, %4 skipped")
                    .arg(done)
                    .arg(total)
                    .arg(result.analysed())
                    .arg(result.skipped));
        }
    } catch (...) {
        stopWorkers();
        throw;
    }
    stopWorkers();
    return result;
}

} // namespace chenglan::dataservice
