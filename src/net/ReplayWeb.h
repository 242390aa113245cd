#pragma once

#include "net/Web.h"

#include <QHash>
#include <QList>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>

namespace chenglan {

// Largest body a replay reads, the same limit the client puts on an answer.
inline constexpr qint64 kReplayBodyLimit = 16 * 1024 * 1024;
// Largest index a replay reads, and its longest line. A line holds one
// exchange: its address, and headers that the client bounds far below this.
inline constexpr qint64 kReplayIndexLimit = 16 * 1024 * 1024;
inline constexpr qint64 kReplayLineLimit = 1024 * 1024;

// The answers of one recording folder, read once and shared by every Web that
// replays it, so that an address fetched again by a later job gets the
// answer the recording holds for that turn. Thread-safe. A recording comes
// from someone else's bug report: only regular files directly inside the
// folder are read (never through a symbolic link, never a FIFO or device).
class Playback {
public:
    explicit Playback(QString dir);

    const QString &dir() const { return m_dir; }
    // Why the folder cannot be replayed (no index, a malformed line); empty
    // when it was read.
    const QString &error() const { return m_error; }
    int size() const { return m_size; }

    // The next recorded answer to this method and address: in recorded order,
    // then the last one again. An unrecorded address fails with Network.
    FetchOutcome answer(const HttpRequest &request);

private:
    struct Exchange {
        FetchOutcome outcome; // the answer without its body, or the failure
        QString bodyFile;
        qint64 bytes = 0;
    };
    void read();
    FetchOutcome withBody(const Exchange &exchange) const;

    QString m_dir;
    QString m_error;
    int m_size = 0;
    std::mutex m_mutex;
    QHash<QString, QList<Exchange>> m_exchanges; // by method and address
    QHash<QString, qsizetype> m_turn;
};

// Answers from a recording folder without touching the network.
class ReplayWeb : public Web {
public:
    explicit ReplayWeb(QString dir);
    explicit ReplayWeb(std::shared_ptr<Playback> playback);

    const std::shared_ptr<Playback> &playback() const { return m_playback; }

    FetchOutcome fetch(const HttpRequest &request) override;
    void abort() override { m_aborted = true; }

private:
    std::shared_ptr<Playback> m_playback;
    std::atomic<bool> m_aborted = false;
};

} // namespace chenglan
