#include "net/PageCache.h"

#include "net/HttpFetch.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>
#include <QtEndian>

#include <exception>

namespace chenglan {

namespace {

using Clock = std::chrono::steady_clock;

// The first line of every entry; a new layout gets a new number.
const QByteArray kMagic = QByteArrayLiteral("CLPAGE1\n");
constexpr qsizetype kLengthBytes = 4;
constexpr qsizetype kChecksumBytes = 32; // SHA-256
// The answer's description is a few kilobytes; more is not one of ours.
constexpr qint64 kMaxMetaBytes = 1024 * 1024;
const QString kSuffix = QStringLiteral(".page");
// A half-written entry of a process that died is removed once this old
// (QSaveFile writes beside the entry and renames).
constexpr qint64 kStrayAgeMs = 60LL * 60 * 1000;

QString requestKey(const HttpRequest &request) {
    return (request.method == HttpRequest::Method::Post ? QStringLiteral("POST ") : QStringLiteral("GET "))
           + request.url;
}

QString fileName(const QString &key) {
    return QString::fromLatin1(QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex()) + kSuffix;
}

QJsonArray headerPairs(const QList<QPair<QByteArray, QByteArray>> &headers) {
    QJsonArray pairs;
    for (const auto &[name, value] : headers)
        pairs.append(QJsonArray{QString::fromLatin1(name), QString::fromLatin1(value)});
    return pairs;
}

QByteArray encode(const QString &key, const HttpResponse &response) {
    const QJsonObject meta{
        {QStringLiteral("key"), key},
        {QStringLiteral("status"), response.status},
        {QStringLiteral("contentType"), QString::fromLatin1(response.contentType)},
        {QStringLiteral("headers"), headerPairs(response.headers)},
        {QStringLiteral("finalUrl"), response.finalUrl},
        {QStringLiteral("bytes"), qint64(response.body.size())},
        {QStringLiteral("stored"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
    };
    const QByteArray metaBytes = QJsonDocument(meta).toJson(QJsonDocument::Compact);
    QByteArray length(kLengthBytes, '\0');
    qToBigEndian(quint32(metaBytes.size()), length.data());
    QByteArray entry = kMagic + length + metaBytes + response.body;
    entry += QCryptographicHash::hash(entry, QCryptographicHash::Sha256);
    return entry;
}

// The answer an entry holds, when every check passes.
std::optional<HttpResponse> decode(const QByteArray &entry, const QString &key) {
    const qsizetype head = kMagic.size() + kLengthBytes;
    if (entry.size() < head + kChecksumBytes || !entry.startsWith(kMagic))
        return std::nullopt;
    const QByteArray content = entry.left(entry.size() - kChecksumBytes);
    if (QCryptographicHash::hash(content, QCryptographicHash::Sha256) != entry.right(kChecksumBytes))
        return std::nullopt;
    const qint64 metaLength = qFromBigEndian<quint32>(entry.constData() + kMagic.size());
    if (metaLength > kMaxMetaBytes || head + metaLength > content.size())
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(content.mid(head, metaLength), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject meta = doc.object();
    const QByteArray body = content.mid(head + metaLength);
    if (meta.value(QStringLiteral("key")).toString() != key
        || meta.value(QStringLiteral("bytes")).toInteger(-1) != body.size())
        return std::nullopt;
    HttpResponse response;
    response.status = meta.value(QStringLiteral("status")).toInt();
    response.contentType = meta.value(QStringLiteral("contentType")).toString().toLatin1();
    for (const QJsonValue &pair : meta.value(QStringLiteral("headers")).toArray()) {
        const QJsonArray p = pair.toArray();
        response.headers.append({p.at(0).toString().toLatin1(), p.at(1).toString().toLatin1()});
    }
    response.finalUrl = meta.value(QStringLiteral("finalUrl")).toString();
    response.body = body;
    return response;
}

// Only a whole page is worth keeping for good: an error page, an empty
// answer or bytes that are not text would be served for ever.
bool worthKeeping(const HttpResponse &response) {
    if (response.status != 200 || response.body.isEmpty())
        return false;
    try {
        decodePage(response.body, response.contentType);
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

qint64 nowMs() { return QDateTime::currentMSecsSinceEpoch(); }

} // namespace

QString defaultPageCacheDir() {
    // The window's cache location (its application name is "chenglan"),
    // spelled out so that the command line, named otherwise, shares it.
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation))
        .filePath(QStringLiteral("chenglan/pages"));
}

PageCache::PageCache(QString dir, qint64 maxBytes) : m_dir(std::move(dir)), m_maxBytes(maxBytes) {}

QString PageCache::error() const {
    const std::lock_guard lock(m_mutex);
    return m_error;
}

// The folder is read on first use, not when the cache is made: a command
// that never asks for a final page never touches it.
void PageCache::openLocked() {
    if (m_opened)
        return;
    m_opened = true;
    QDir folder(m_dir);
    if (m_dir.isEmpty() || !folder.mkpath(QStringLiteral("."))) {
        m_error = QStringLiteral("cannot create the page cache folder \"%1\"").arg(m_dir);
        return;
    }
    const qint64 now = nowMs();
    const QFileInfoList files = folder.entryInfoList(QDir::Files | QDir::Hidden);
    for (const QFileInfo &file : files) {
        const qint64 modified = file.lastModified().toMSecsSinceEpoch();
        if (!file.fileName().endsWith(kSuffix)) {
            if (file.fileName().contains(kSuffix) && now - modified > kStrayAgeMs)
                QFile::remove(file.filePath());
            continue;
        }
        m_entries.insert(file.fileName(), Entry{file.size(), modified});
        m_bytes += file.size();
    }
    evictLocked();
}

void PageCache::dropLocked(QString name) {
    const auto it = m_entries.find(name);
    if (it != m_entries.end()) {
        m_bytes -= it->size;
        m_entries.erase(it);
    }
    QFile::remove(QDir(m_dir).filePath(name));
}

void PageCache::evictLocked() {
    while (m_bytes > m_maxBytes && !m_entries.isEmpty()) {
        auto oldest = m_entries.cbegin();
        for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it)
            if (it->lastUse < oldest->lastUse)
                oldest = it;
        dropLocked(oldest.key());
    }
}

std::optional<HttpResponse> PageCache::find(const HttpRequest &request) {
    const std::lock_guard lock(m_mutex);
    openLocked();
    if (!m_error.isEmpty())
        return std::nullopt;
    const QString key = requestKey(request);
    const QString name = fileName(key);
    QFile file(QDir(m_dir).filePath(name));
    if (!file.open(QIODevice::ReadOnly)) {
        // Never stored, or removed by another process sharing the folder.
        if (m_entries.contains(name))
            dropLocked(name);
        return std::nullopt;
    }
    if (file.size() > m_maxBytes + kMaxMetaBytes) {
        file.close();
        ++m_counts.damaged;
        dropLocked(name);
        return std::nullopt;
    }
    const QByteArray entry = file.readAll();
    file.close();
    std::optional<HttpResponse> response = decode(entry, key);
    if (!response) {
        ++m_counts.damaged;
        dropLocked(name);
        return std::nullopt;
    }
    // The file's time is its last use, so the order survives a restart.
    const qint64 now = nowMs();
    if (file.open(QIODevice::ReadWrite))
        file.setFileTime(QDateTime::fromMSecsSinceEpoch(now), QFileDevice::FileModificationTime);
    Entry &e = m_entries[name];
    if (e.size == 0) {
        e.size = entry.size();
        m_bytes += e.size;
    }
    e.lastUse = now;
    ++m_counts.hits;
    return response;
}

void PageCache::store(const HttpRequest &request, const HttpResponse &response) {
    if (!worthKeeping(response))
        return;
    const QString key = requestKey(request);
    const QByteArray entry = encode(key, response);
    const std::lock_guard lock(m_mutex);
    openLocked();
    if (!m_error.isEmpty() || entry.size() > m_maxBytes)
        return;
    const QString name = fileName(key);
    QSaveFile file(QDir(m_dir).filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(entry) != entry.size() || !file.commit())
        return; // a full disk only costs the next fetch
    const auto it = m_entries.find(name);
    if (it != m_entries.end())
        m_bytes -= it->size;
    m_entries.insert(name, Entry{entry.size(), nowMs()});
    m_bytes += entry.size();
    ++m_counts.stored;
    evictLocked();
}

void PageCache::holdAhead(const HttpRequest &request, const HttpResponse &response) {
    if (response.status != 200 || response.body.size() > kAheadBytes)
        return;
    const std::lock_guard lock(m_mutex);
    const QString key = requestKey(request);
    if (const auto it = m_ahead.constFind(key); it != m_ahead.constEnd())
        m_aheadBytes -= it->response.body.size();
    m_ahead.insert(key, Held{response, Clock::now()});
    m_aheadBytes += response.body.size();
    while (m_aheadBytes > kAheadBytes && !m_ahead.isEmpty()) {
        auto oldest = m_ahead.cbegin();
        for (auto it = m_ahead.cbegin(); it != m_ahead.cend(); ++it)
            if (it->fetched < oldest->fetched)
                oldest = it;
        m_aheadBytes -= oldest->response.body.size();
        m_ahead.erase(oldest);
    }
}

std::optional<HttpResponse> PageCache::takeAhead(const HttpRequest &request) {
    const std::lock_guard lock(m_mutex);
    const auto it = m_ahead.find(requestKey(request));
    if (it == m_ahead.end())
        return std::nullopt;
    Held held = std::move(*it);
    m_aheadBytes -= held.response.body.size();
    m_ahead.erase(it);
    if (Clock::now() - held.fetched > kAheadFreshness)
        return std::nullopt;
    ++m_counts.aheadTaken;
    return std::move(held.response);
}

std::optional<HttpResponse> PageCache::peekAhead(const HttpRequest &request) {
    const std::lock_guard lock(m_mutex);
    const auto it = m_ahead.constFind(requestKey(request));
    if (it == m_ahead.constEnd() || Clock::now() - it->fetched > kAheadFreshness)
        return std::nullopt;
    return it->response;
}

PageCacheCounts PageCache::counts() const {
    const std::lock_guard lock(m_mutex);
    return m_counts;
}

qint64 PageCache::bytes() const {
    const std::lock_guard lock(m_mutex);
    return m_bytes;
}

int PageCache::entries() const {
    const std::lock_guard lock(m_mutex);
    return int(m_entries.size());
}

CachingWeb::CachingWeb(Web &inner, std::shared_ptr<PageCache> cache) : m_inner(inner), m_cache(std::move(cache)) {}

CachingWeb::CachingWeb(std::unique_ptr<Web> inner, std::shared_ptr<PageCache> cache)
    : m_owned(std::move(inner)), m_inner(*m_owned), m_cache(std::move(cache)) {}

void CachingWeb::abort() {
    m_aborted = true;
    m_inner.abort();
}

FetchOutcome CachingWeb::fetch(const HttpRequest &request) {
    if (m_aborted)
        return FetchOutcome::failed(FetchOutcome::Failure::Aborted, QStringLiteral("The fetch was cancelled."));
    const bool final = request.lifetime == HttpRequest::Lifetime::Final;
    std::optional<HttpResponse> kept;
    if (final)
        kept = m_cache->find(request);
    else if (request.ahead)
        kept = m_cache->peekAhead(request);
    else
        kept = m_cache->takeAhead(request);
    if (kept) {
        kept->fromCache = true;
        return FetchOutcome::success(std::move(*kept));
    }
    FetchOutcome outcome = m_inner.fetch(request);
    if (outcome.ok()) {
        if (final)
            m_cache->store(request, *outcome.response);
        else if (request.ahead)
            m_cache->holdAhead(request, *outcome.response);
    }
    return outcome;
}

FetchOutcome MarkingWeb::fetch(const HttpRequest &request) {
    HttpRequest marked = request;
    if (m_mark == Mark::Final)
        marked.lifetime = HttpRequest::Lifetime::Final;
    else
        marked.ahead = true;
    return m_inner.fetch(marked);
}

} // namespace chenglan
