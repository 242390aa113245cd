#include "net/RecordingWeb.h"

#include "net/ReplayWeb.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace chenglan {

namespace {

const struct {
    FetchOutcome::Failure failure;
    const char *name;
} failureNames[] = {
    {FetchOutcome::Failure::None, "None"},         {FetchOutcome::Failure::Network, "Network"},
    {FetchOutcome::Failure::Timeout, "Timeout"},   {FetchOutcome::Failure::TooLarge, "TooLarge"},
    {FetchOutcome::Failure::Redirect, "Redirect"}, {FetchOutcome::Failure::Aborted, "Aborted"},
    {FetchOutcome::Failure::BadUrl, "BadUrl"},
};

// One JSON value in compact form. Lines are assembled key by key so that
// every line of the index reads in the same order.
QByteArray compact(const QJsonValue &value) {
    const QByteArray text = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return text.mid(1, text.size() - 2);
}

class Line {
public:
    Line &add(const char *key, const QJsonValue &value) {
        m_text += (m_text.isEmpty() ? "{\"" : ",\"") + QByteArray(key) + "\":" + compact(value);
        return *this;
    }
    QByteArray text() const { return m_text + "}\n"; }

private:
    QByteArray m_text;
};

QJsonArray headerPairs(const QList<QPair<QByteArray, QByteArray>> &headers) {
    QJsonArray pairs;
    for (const auto &[name, value] : headers)
        pairs.append(QJsonArray{QString::fromLatin1(name), QString::fromLatin1(value)});
    return pairs;
}

} // namespace

QString failureName(FetchOutcome::Failure failure) {
    for (const auto &f : failureNames)
        if (f.failure == failure)
            return QString::fromLatin1(f.name);
    return QStringLiteral("Network");
}

std::optional<FetchOutcome::Failure> failureFromName(const QString &name) {
    for (const auto &f : failureNames)
        if (name == QLatin1String(f.name) && f.failure != FetchOutcome::Failure::None)
            return f.failure;
    return std::nullopt;
}

Recording::Recording(QString dir) : m_dir(std::move(dir)) {
    QDir folder(m_dir);
    if (!folder.mkpath(QStringLiteral(".")))
        m_error = QStringLiteral("cannot create the recording folder %1").arg(m_dir);
    else if (!folder.isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
        m_error = QStringLiteral("the recording folder %1 is not empty").arg(m_dir);
    else
        m_usable = true;
}

QString Recording::error() const {
    const std::lock_guard lock(m_mutex);
    return m_error;
}

int Recording::count() const {
    const std::lock_guard lock(m_mutex);
    return m_count;
}

void Recording::setErrorHook(std::function<void(const QString &)> hook) {
    const std::lock_guard lock(m_mutex);
    m_errorHook = std::move(hook);
}

void Recording::failWith(const QString &why) {
    if (!m_error.isEmpty())
        return;
    m_error = why;
    if (m_errorHook)
        m_errorHook(why);
}

void Recording::add(const HttpRequest &request, const QDateTime &started, std::chrono::milliseconds took,
                    const FetchOutcome &outcome) {
    const std::lock_guard lock(m_mutex);
    if (!m_usable)
        return;
    const int seq = ++m_seq; // never reused, even when an exchange could not be stored
    Line line;
    line.add("seq", seq)
        .add("time", started.toUTC().toString(Qt::ISODateWithMs))
        .add("ms", qint64(took.count()))
        .add("method", request.method == HttpRequest::Method::Post ? QStringLiteral("POST") : QStringLiteral("GET"))
        .add("url", request.url);
    if (outcome.ok()) {
        const HttpResponse &r = *outcome.response;
        const QString bodyName = QStringLiteral("%1.body").arg(seq, 4, 10, QLatin1Char('0'));
        QFile body(QDir(m_dir).filePath(bodyName));
        if (!body.open(QIODevice::WriteOnly | QIODevice::NewOnly) || body.write(r.body) != r.body.size()
            || !body.flush()) {
            failWith(QStringLiteral("cannot store %1 in %2: %3").arg(request.url, body.fileName(), body.errorString()));
            return;
        }
        line.add("status", r.status)
            .add("finalUrl", r.finalUrl)
            .add("contentType", QString::fromLatin1(r.contentType))
            .add("headers", headerPairs(r.headers))
            .add("body", bodyName)
            .add("bytes", qint64(r.body.size()));
        // A page the cache served is recorded like a fetched one, so that a
        // replay needs no cache; the mark says the site was not asked.
        if (r.fromCache)
            line.add("cached", true);
    } else {
        line.add("failure", failureName(outcome.failure)).add("error", outcome.error);
    }
    QFile index(QDir(m_dir).filePath(QString::fromLatin1(kRecordingIndex)));
    const QByteArray text = line.text();
    // A line a replay would refuse is not written: the folder stays replayable.
    if (text.size() > kReplayLineLimit) {
        failWith(QStringLiteral("cannot store %1: its index line would be longer than %2 bytes")
                     .arg(request.url)
                     .arg(kReplayLineLimit));
        return;
    }
    if (!index.open(QIODevice::WriteOnly | QIODevice::Append) || index.write(text) != text.size() || !index.flush()) {
        failWith(QStringLiteral("cannot write %1: %2").arg(index.fileName(), index.errorString()));
        return;
    }
    ++m_count;
}

RecordingWeb::RecordingWeb(Web &inner, QString dir)
    : m_inner(inner), m_recording(std::make_shared<Recording>(std::move(dir))) {}

RecordingWeb::RecordingWeb(Web &inner, std::shared_ptr<Recording> recording)
    : m_inner(inner), m_recording(std::move(recording)) {}

RecordingWeb::RecordingWeb(std::unique_ptr<Web> inner, std::shared_ptr<Recording> recording)
    : m_owned(std::move(inner)), m_inner(*m_owned), m_recording(std::move(recording)) {}

FetchOutcome RecordingWeb::fetch(const HttpRequest &request) {
    const QDateTime started = QDateTime::currentDateTimeUtc();
    QElapsedTimer timer;
    timer.start();
    FetchOutcome outcome = m_inner.fetch(request);
    m_recording->add(request, started, std::chrono::milliseconds(timer.elapsed()), outcome);
    return outcome;
}

} // namespace chenglan
