#pragma once

#include "net/Web.h"

#include <QDateTime>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace chenglan {

// A recording folder holds one line of JSON per exchange in this file, and
// the raw body of each answer in its own file ("0001.body", ...).
inline constexpr char kRecordingIndex[] = "index.jsonl";

// The name of a failure in a recording ("Network", "Timeout", ...), and back.
QString failureName(FetchOutcome::Failure failure);
std::optional<FetchOutcome::Failure> failureFromName(const QString &name);

// The writer of one recording folder, shared by every Web that records into
// it (the analysis fetches on two threads at once). Thread-safe.
class Recording {
public:
    // Creates the folder when needed. A folder that already holds files is
    // refused, so that two runs never mix in one recording.
    explicit Recording(QString dir);

    const QString &dir() const { return m_dir; }
    // Why the folder cannot record or an exchange was not stored; empty
    // while every exchange has been stored.
    QString error() const;
    int count() const;
    // Called once, with the sentence error() gives, when the first exchange
    // cannot be stored; on the fetching thread, under the recording's lock.
    void setErrorHook(std::function<void(const QString &)> hook);

    // Stores one exchange: the answer's status, headers and body, or the
    // failure and its reason.
    void add(const HttpRequest &request, const QDateTime &started, std::chrono::milliseconds took,
             const FetchOutcome &outcome);

private:
    void failWith(const QString &why);

    QString m_dir;
    mutable std::mutex m_mutex;
    QString m_error;
    std::function<void(const QString &)> m_errorHook;
    bool m_usable = false;
    int m_seq = 0;
    int m_count = 0;
};

// Passes every fetch to the Web it wraps and stores the exchange in a
// recording. A failure to store is kept in the recording's error() and never
// changes the answer.
class RecordingWeb : public Web {
public:
    RecordingWeb(Web &inner, QString dir);
    RecordingWeb(Web &inner, std::shared_ptr<Recording> recording);
    RecordingWeb(std::unique_ptr<Web> inner, std::shared_ptr<Recording> recording);

    const std::shared_ptr<Recording> &recording() const { return m_recording; }

    FetchOutcome fetch(const HttpRequest &request) override;
    void abort() override { m_inner.abort(); }

private:
    std::unique_ptr<Web> m_owned;
    Web &m_inner;
    std::shared_ptr<Recording> m_recording;
};

} // namespace chenglan
