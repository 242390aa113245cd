#include "net/ReplayWeb.h"

#include "net/RecordingWeb.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace chenglan {

namespace {

QString methodName(HttpRequest::Method method) {
    return method == HttpRequest::Method::Post ? QStringLiteral("POST") : QStringLiteral("GET");
}

QString keyOf(const QString &method, const QString &url) { return method + u' ' + url; }

// A body file named by the index must be a plain file of the folder itself:
// a recording comes from someone else's bug report.
bool isPlainName(const QString &name) {
    return !name.isEmpty() && !name.startsWith(u'.') && !name.contains(u'/') && !name.contains(u'\\')
        && !name.contains(u':');
}

// Opens a file of the recording for reading, or says why not. Only a regular
// file: a symbolic link would lead outside the folder (zip and tar keep
// links), and a FIFO or a device would block or never end. lstat first, so
// that nothing else is ever opened; the open neither follows a link nor
// blocks, and fstat checks that the file opened is the one looked at.
QString openRegularFile(const QString &path, QFile &file, qint64 *size) {
    const QByteArray name = QFile::encodeName(path);
    struct stat seen {};
    if (::lstat(name.constData(), &seen) != 0)
        return QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    if (S_ISLNK(seen.st_mode))
        return QStringLiteral("%1 is a symbolic link, not a file of the recording").arg(path);
    if (!S_ISREG(seen.st_mode))
        return QStringLiteral("%1 is not a regular file").arg(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_dev != seen.st_dev
        || opened.st_ino != seen.st_ino) {
        ::close(fd);
        return QStringLiteral("%1 changed while it was opened").arg(path);
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    }
    *size = opened.st_size;
    return {};
}

} // namespace

Playback::Playback(QString dir) : m_dir(std::move(dir)) { read(); }

void Playback::read() {
    const QString indexPath = QDir(m_dir).filePath(QString::fromLatin1(kRecordingIndex));
    QFile index;
    qint64 indexSize = 0;
    if (const QString why = openRegularFile(indexPath, index, &indexSize); !why.isEmpty()) {
        m_error = QStringLiteral("no recording in %1 (%2)").arg(m_dir, why);
        return;
    }
    if (indexSize > kReplayIndexLimit) {
        m_error = QStringLiteral("%1 has %2 bytes, more than a recording's index may hold (%3)")
                      .arg(indexPath)
                      .arg(indexSize)
                      .arg(kReplayIndexLimit);
        return;
    }
    // The size can still grow after fstat: never read past the bound.
    const QByteArray text = index.read(kReplayIndexLimit + 1);
    if (text.size() > kReplayIndexLimit) {
        m_error = QStringLiteral("%1 is longer than a recording's index may be (%2 bytes)").arg(indexPath).arg(kReplayIndexLimit);
        return;
    }
    QHash<QString, QList<Exchange>> exchanges;
    int size = 0;
    int lineNumber = 0;
    qsizetype from = 0;
    while (from < text.size()) {
        qsizetype end = text.indexOf('\n', from);
        if (end < 0)
            end = text.size();
        ++lineNumber;
        const auto fail = [&](const QString &why) {
            m_error = QStringLiteral("%1 line %2: %3").arg(indexPath).arg(lineNumber).arg(why);
        };
        if (end - from > kReplayLineLimit)
            return fail(QStringLiteral("longer than %1 bytes").arg(kReplayLineLimit));
        const QByteArray line = text.mid(from, end - from).trimmed();
        from = end + 1;
        if (line.isEmpty())
            continue;
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
        if (!document.isObject())
            return fail(parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                                     : QStringLiteral("not an object"));
        const QJsonObject o = document.object();
        const QString method = o.value(QLatin1String("method")).toString();
        const QString url = o.value(QLatin1String("url")).toString();
        if ((method != QLatin1String("GET") && method != QLatin1String("POST")) || url.isEmpty())
            return fail(QStringLiteral("no method (GET or POST) and address"));

        Exchange exchange;
        if (o.contains(QLatin1String("failure"))) {
            const auto failure = failureFromName(o.value(QLatin1String("failure")).toString());
            if (!failure)
                return fail(QStringLiteral("unknown failure \"%1\"").arg(o.value(QLatin1String("failure")).toString()));
            exchange.outcome = FetchOutcome::failed(*failure, o.value(QLatin1String("error")).toString());
        } else {
            if (!o.value(QLatin1String("status")).isDouble())
                return fail(QStringLiteral("neither a status nor a failure"));
            exchange.bodyFile = o.value(QLatin1String("body")).toString();
            exchange.bytes = o.value(QLatin1String("bytes")).toInteger(-1);
            if (!isPlainName(exchange.bodyFile))
                return fail(QStringLiteral("the body \"%1\" is not a file of the folder").arg(exchange.bodyFile));
            if (exchange.bytes < 0 || exchange.bytes > kReplayBodyLimit)
                return fail(QStringLiteral("a body of %1 bytes").arg(exchange.bytes));
            HttpResponse r;
            r.status = o.value(QLatin1String("status")).toInt();
            r.finalUrl = o.value(QLatin1String("finalUrl")).toString();
            r.contentType = o.value(QLatin1String("contentType")).toString().toLatin1();
            for (const QJsonValue &pair : o.value(QLatin1String("headers")).toArray()) {
                const QJsonArray nameValue = pair.toArray();
                if (nameValue.size() != 2)
                    return fail(QStringLiteral("a header that is not a [name, value] pair"));
                r.headers.append({nameValue.at(0).toString().toLatin1(), nameValue.at(1).toString().toLatin1()});
            }
            exchange.outcome = FetchOutcome::success(std::move(r));
        }
        exchanges[keyOf(method, url)].append(std::move(exchange));
        ++size;
    }
    m_exchanges = std::move(exchanges);
    m_size = size;
}

FetchOutcome Playback::withBody(const Exchange &exchange) const {
    if (!exchange.outcome.ok())
        return exchange.outcome;
    const QString path = QDir(m_dir).filePath(exchange.bodyFile);
    QFile file;
    qint64 size = 0;
    if (const QString why = openRegularFile(path, file, &size); !why.isEmpty())
        return FetchOutcome::failed(FetchOutcome::Failure::Network, QStringLiteral("recorded body unusable: %1").arg(why));
    if (size != exchange.bytes)
        return FetchOutcome::failed(FetchOutcome::Failure::Network,
                                    QStringLiteral("recorded body %1 has %2 bytes, the index says %3")
                                        .arg(path)
                                        .arg(size)
                                        .arg(exchange.bytes));
    FetchOutcome outcome = exchange.outcome;
    // One byte more than the index says: a file that grew is not passed off either.
    outcome.response->body = file.read(exchange.bytes + 1);
    if (outcome.response->body.size() != exchange.bytes)
        return FetchOutcome::failed(FetchOutcome::Failure::Network,
                                    QStringLiteral("cannot read %1: it has not the %2 bytes the index says")
                                        .arg(path)
                                        .arg(exchange.bytes));
    return outcome;
}

FetchOutcome Playback::answer(const HttpRequest &request) {
    if (!m_error.isEmpty())
        return FetchOutcome::failed(FetchOutcome::Failure::Network,
                                    QStringLiteral("cannot replay %1: %2").arg(m_dir, m_error));
    const QString method = methodName(request.method);
    const QString key = keyOf(method, request.url);
    const std::lock_guard lock(m_mutex);
    const auto it = m_exchanges.constFind(key);
    if (it == m_exchanges.constEnd())
        return FetchOutcome::failed(FetchOutcome::Failure::Network,
                                    QStringLiteral("not in the recording: %1 %2").arg(method, request.url));
    qsizetype &turn = m_turn[key];
    const Exchange &exchange = it->at(std::min(turn, it->size() - 1));
    if (turn < it->size())
        ++turn;
    return withBody(exchange);
}

ReplayWeb::ReplayWeb(QString dir) : m_playback(std::make_shared<Playback>(std::move(dir))) {}

ReplayWeb::ReplayWeb(std::shared_ptr<Playback> playback) : m_playback(std::move(playback)) {}

FetchOutcome ReplayWeb::fetch(const HttpRequest &request) {
    if (m_aborted)
        return FetchOutcome::failed(FetchOutcome::Failure::Aborted, QStringLiteral("aborted"));
    return m_playback->answer(request);
}

} // namespace chenglan
