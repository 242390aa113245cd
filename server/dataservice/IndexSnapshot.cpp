#include "IndexSnapshot.h"

#include "AnswerFormat.h"
#include "MatchStore.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

namespace chenglan::dataservice {

namespace {

// Raise when the layout below changes.
constexpr std::uint32_t kFormat = 1;
constexpr char kMagic[8] = {'C', 'L', 'N', 'I', 'D', 'X', '\r', '\n'};
// Written and read in pieces of this size, so a read bounded by the file's
// size never asks the kernel for more than it has.
constexpr std::size_t kIoChunk = 8 * 1024 * 1024;
// A group key is two pattern codes and a comma.
constexpr std::uint32_t kMaxKeyBytes = 64;

struct FileHeader {
    char magic[8];
    std::uint32_t format;
    std::uint32_t groupCount;
    std::int64_t revision;
    std::int64_t matchCount;
    std::int64_t profileCount;
    std::uint64_t entries;
    std::uint64_t payloadBytes;
    std::uint64_t recordFingerprint;
    std::uint64_t checksum;
};

struct GroupHeader {
    std::uint64_t rows;
    std::uint64_t recordBytes;
    std::uint32_t keyBytes;
    std::uint32_t reserved;
};

// A fast 64-bit checksum over whole sections, eight bytes a step. It guards
// against a damaged or truncated file, not against tampering.
class Checksum {
public:
    void add(const void *data, std::size_t size) {
        constexpr std::uint64_t k1 = 0x9E3779B97F4A7C15ull, k2 = 0xC2B2AE3D27D4EB4Full;
        const auto *p = static_cast<const unsigned char *>(data);
        std::uint64_t h = m_state;
        for (; size >= 8; size -= 8, p += 8) {
            std::uint64_t w;
            std::memcpy(&w, p, 8);
            h = std::rotl(h ^ (w * k1), 31) * k2;
        }
        std::uint64_t tail = 0;
        std::memcpy(&tail, p, size);
        h = std::rotl(h ^ ((tail ^ (std::uint64_t(size) << 56)) * k1), 31) * k2;
        m_state = h;
    }
    std::uint64_t value() const { return m_state ^ (m_state >> 29); }

private:
    std::uint64_t m_state = 0x243F6A8885A308D3ull;
};

// The record bytes of a fixed match: a different value means the record
// encoding changed since the file was written, and its records are stale.
std::uint64_t recordFingerprint() {
    AnswerRow row;
    row.facts.matchId = 1234567;
    row.facts.league = QStringLiteral("英格兰超级联赛");
    row.facts.leagueShort = QStringLiteral("英超");
    row.facts.leagueColour = QStringLiteral("#ff3300");
    row.facts.homeTeam = QStringLiteral("主队,甲");
    row.facts.awayTeam = QStringLiteral("客队|乙");
    row.facts.kickoff = QStringLiteral("2021-03-04 19:45");
    row.facts.halfTimeHome = 1;
    row.facts.halfTimeAway = 0;
    row.facts.fullTimeHome = 2;
    row.facts.fullTimeAway = 2;
    row.facts.handicap = QStringLiteral("半球");
    row.facts.handicapLine = -0.75;
    row.facts.homeOdds = 0.95;
    row.facts.awayOdds = 0.89;
    row.profile.matchId = row.facts.matchId;
    row.profile.strengths = {105, -230, 7, -1, 0, 99999, -5, 12};
    row.profile.code20 = QStringLiteral("A31");
    row.profile.code10 = QStringLiteral("D10");
    row.kickoffMinutes = kickoffMinutes(row.facts.kickoff).value_or(0);
    const std::string record = storedRecord(row);
    Checksum sum;
    sum.add(record.data(), record.size());
    return sum.value();
}

bool writeAll(int fd, const void *data, std::size_t size) {
    const auto *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, std::min(size, kIoChunk));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= std::size_t(n);
    }
    return true;
}

// Reads exactly `size` bytes, counting them against what the header said the
// file holds, and adds them to the checksum.
class Reader {
public:
    Reader(int fd, std::uint64_t budget) : m_fd(fd), m_budget(budget) {}

    bool read(void *data, std::size_t size) {
        if (size > m_budget)
            return false;
        auto *p = static_cast<char *>(data);
        std::size_t left = size;
        while (left > 0) {
            const ssize_t n = ::read(m_fd, p, std::min(left, kIoChunk));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            p += n;
            left -= std::size_t(n);
        }
        m_budget -= size;
        m_sum.add(data, size);
        return true;
    }
    std::uint64_t left() const { return m_budget; }
    std::uint64_t checksum() const { return m_sum.value(); }

private:
    int m_fd;
    std::uint64_t m_budget;
    Checksum m_sum;
};

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

template<typename T> bool readVector(Reader &in, std::vector<T> &v, std::uint64_t rows) {
    if (rows > in.left() / sizeof(T))
        return false;
    v.resize(rows);
    return in.read(v.data(), rows * sizeof(T));
}

std::optional<std::shared_ptr<const detail::PatternGroup>> readGroup(Reader &in, std::string &key) {
    GroupHeader gh{};
    if (!in.read(&gh, sizeof gh) || gh.keyBytes == 0 || gh.keyBytes > kMaxKeyBytes || gh.rows == 0
        || gh.recordBytes > in.left() || gh.recordBytes > std::numeric_limits<std::uint32_t>::max())
        return std::nullopt;
    key.resize(gh.keyBytes);
    if (!in.read(key.data(), key.size()))
        return std::nullopt;
    auto group = std::make_shared<detail::PatternGroup>();
    if (!readVector(in, group->strengths, gh.rows) || !readVector(in, group->ids, gh.rows)
        || !readVector(in, group->kickoffs, gh.rows) || !readVector(in, group->recordEnds, gh.rows))
        return std::nullopt;
    group->records.resize(gh.recordBytes);
    if (!in.read(group->records.data(), group->records.size()) || !in.read(&group->low, sizeof group->low)
        || !in.read(&group->high, sizeof group->high))
        return std::nullopt;
    // Record ends must rise to the end of the record bytes, or record(i)
    // would read outside them.
    std::uint32_t previous = 0;
    for (std::uint32_t end : group->recordEnds) {
        if (end < previous)
            return std::nullopt;
        previous = end;
    }
    if (previous != gh.recordBytes)
        return std::nullopt;
    return group;
}

} // namespace

std::optional<StoreStamp> readStoreStamp(MatchStore &store) {
    StoreStamp stamp;
    stamp.revision = store.revision();
    stamp.matchCount = store.matchCount();
    stamp.profileCount = store.profileCount();
    // Every write takes a new revision, so an unchanged revision means the
    // counts belong to it.
    if (store.revision() != stamp.revision)
        return std::nullopt;
    return stamp;
}

QString snapshotPathFor(const QString &databasePath) { return databasePath + QStringLiteral(".index"); }

QString writeIndexSnapshot(const QString &path, const StoreStamp &stamp, const SimilarityIndex::Groups &groups) {
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = target + ".tmp-" + QByteArray::number(::getpid());
    Fd fd(::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.get() < 0)
        return QStringLiteral("cannot create %1: %2").arg(QFile::decodeName(temporary), QString::fromLocal8Bit(std::strerror(errno)));

    FileHeader header{};
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.format = kFormat;
    header.groupCount = std::uint32_t(groups.size());
    header.revision = stamp.revision;
    header.matchCount = stamp.matchCount;
    header.profileCount = stamp.profileCount;
    header.recordFingerprint = recordFingerprint();
    Checksum sum;
    bool ok = writeAll(fd.get(), &header, sizeof header); // rewritten once the sums are known
    const auto put = [&](const void *data, std::size_t size) {
        if (!ok)
            return;
        sum.add(data, size);
        header.payloadBytes += size;
        ok = writeAll(fd.get(), data, size);
    };
    for (const auto &[key, group] : groups) {
        const GroupHeader gh{group->ids.size(), group->records.size(), std::uint32_t(key.size()), 0};
        put(&gh, sizeof gh);
        put(key.data(), key.size());
        put(group->strengths.data(), group->strengths.size() * sizeof(Strengths));
        put(group->ids.data(), group->ids.size() * sizeof(qint64));
        put(group->kickoffs.data(), group->kickoffs.size() * sizeof(std::int64_t));
        put(group->recordEnds.data(), group->recordEnds.size() * sizeof(std::uint32_t));
        put(group->records.data(), group->records.size());
        put(&group->low, sizeof group->low);
        put(&group->high, sizeof group->high);
        header.entries += group->ids.size();
    }
    header.checksum = sum.value();
    ok = ok && ::pwrite(fd.get(), &header, sizeof header, 0) == ssize_t(sizeof header);
    // On disk before the rename, so that a crash leaves the old file or this
    // whole one (a damaged one would fail its checksum and be rebuilt).
    ok = ok && ::fdatasync(fd.get()) == 0;
    const int error = errno;
    ok = ::close(fd.release()) == 0 && ok;
    if (!ok || ::rename(temporary.constData(), target.constData()) != 0) {
        const QString why = QString::fromLocal8Bit(std::strerror(ok ? errno : error));
        ::unlink(temporary.constData());
        return QStringLiteral("cannot write %1: %2").arg(path, why);
    }
    return {};
}

SnapshotRead readIndexSnapshot(const QString &path, const StoreStamp &expected) {
    Fd fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return {std::nullopt, QStringLiteral("no index file %1").arg(path)};
    struct stat info {};
    FileHeader header{};
    if (::fstat(fd.get(), &info) != 0 || std::size_t(info.st_size) < sizeof header
        || ::read(fd.get(), &header, sizeof header) != ssize_t(sizeof header)
        || std::memcmp(header.magic, kMagic, sizeof kMagic) != 0)
        return {std::nullopt, QStringLiteral("%1 is not an index file").arg(path)};
    if (header.format != kFormat)
        return {std::nullopt, QStringLiteral("%1 has layout %2, this program writes %3")
                                  .arg(path).arg(header.format).arg(kFormat)};
    if (header.recordFingerprint != recordFingerprint())
        return {std::nullopt, QStringLiteral("%1 was written with another record encoding").arg(path)};
    const StoreStamp stamp{header.revision, header.matchCount, header.profileCount};
    if (stamp != expected)
        return {std::nullopt,
                QStringLiteral("%1 is of revision %2 (%3 matches, %4 profiles), the database is at %5 (%6, %7)")
                    .arg(path)
                    .arg(stamp.revision)
                    .arg(stamp.matchCount)
                    .arg(stamp.profileCount)
                    .arg(expected.revision)
                    .arg(expected.matchCount)
                    .arg(expected.profileCount)};
    if (std::uint64_t(info.st_size) != sizeof header + header.payloadBytes)
        return {std::nullopt, QStringLiteral("%1 is cut short or too long").arg(path)};

    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    Reader in(fd.get(), header.payloadBytes);
    SimilarityIndex::Groups groups;
    std::uint64_t entries = 0;
    for (std::uint32_t i = 0; i < header.groupCount; ++i) {
        std::string key;
        auto group = readGroup(in, key);
        if (!group || !groups.emplace(std::move(key), *group).second)
            return {std::nullopt, QStringLiteral("%1 is damaged (group %2)").arg(path).arg(i)};
        entries += (*group)->ids.size();
    }
    if (in.left() != 0 || entries != header.entries || in.checksum() != header.checksum)
        return {std::nullopt, QStringLiteral("%1 is damaged (checksum)").arg(path)};
    return {std::move(groups), {}};
}

} // namespace chenglan::dataservice
