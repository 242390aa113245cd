#pragma once

#include "usecases/ScheduleListing.h"
#include "net/RecordingWeb.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <chrono>
#include <memory>
#include <mutex>

namespace chenglan {

// A list click as the window remembers it for a diagnostic record: the
// listing the list shows and the grid row clicked.
struct RecordedClick {
    ScheduleRequest request;
    int gridRow = 0;
};

// The exchanges of a job kept in memory, so that the pages of what is shown
// can be stored as a recording later without reading them again. Shared by
// the job's Webs, which may fetch on two threads.
class KeptExchanges {
public:
    struct Exchange {
        HttpRequest request;
        QDateTime started;
        std::chrono::milliseconds took{0};
        FetchOutcome outcome;
    };
    void add(Exchange exchange);
    QList<Exchange> all() const;

private:
    mutable std::mutex m_mutex;
    QList<Exchange> m_exchanges;
};

// A Web that keeps every exchange of the Web it wraps.
class KeepingWeb : public Web {
public:
    KeepingWeb(Web &inner, std::shared_ptr<KeptExchanges> kept) : m_inner(inner), m_kept(std::move(kept)) {}
    FetchOutcome fetch(const HttpRequest &request) override;
    void abort() override { m_inner.abort(); }

private:
    Web &m_inner;
    std::shared_ptr<KeptExchanges> m_kept;
};

// The folder under which the window keeps its recordings: the user's
// application data folder + "/recordings".
QString defaultRecordingsRoot();

// A new, not yet existing folder under root named after the time
// ("20221009-153000", with "-2", "-3", ... when taken).
QString newRecordingDir(const QString &root, const QDateTime &now);

// The command line that replays the recording.
QString replayCommandLine(const RecordedClick &click, const QString &dir);

// Stores the kept exchanges, in order, as a recording in dir (a new folder).
// Returns the number stored; why tells what went wrong when not all were.
int storeRecording(const QString &dir, const QList<KeptExchanges::Exchange> &exchanges, QString *why);

} // namespace chenglan
