#include "net/QtWeb.h"

#include "net/ContentDecoding.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <memory>
#include <optional>

namespace chenglan {

namespace {

// One network manager per thread, reused by every fetch of that thread: a
// manager costs more to make than a fetch on loopback takes. Its connections
// are kept only within one QtWeb (one job): a new job starts on fresh ones, so
// a connection a server has dropped since never stands in for a new answer.
thread_local std::unique_ptr<QNetworkAccessManager> t_manager;

void dropMainThreadManager() { t_manager.reset(); }

QNetworkAccessManager &threadManager() {
    if (!t_manager) {
        t_manager = std::make_unique<QNetworkAccessManager>();
        // The main thread's thread-locals end after the application object;
        // its manager goes with the application instead.
        const QCoreApplication *app = QCoreApplication::instance();
        if (app && app->thread() == QThread::currentThread())
            qAddPostRoutine(dropMainThreadManager);
    }
    return *t_manager;
}

using Failure = FetchOutcome::Failure;

bool isRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Statuses a final answer can have. 1xx are interim: a server that sends
// nothing after one has not answered.
constexpr int kLowestFinalStatus = 200;
constexpr int kHighestStatus = 599;

// The errors Qt sets for an error status; the reply still holds the whole
// answer (404 and 500 pages are answers like any other). Any other error is
// a transfer that failed, whatever status came before it.
bool isStatusError(QNetworkReply::NetworkError error) {
    switch (error) {
    case QNetworkReply::ContentAccessDenied:
    case QNetworkReply::ContentOperationNotPermittedError:
    case QNetworkReply::ContentNotFoundError:
    case QNetworkReply::AuthenticationRequiredError:
    case QNetworkReply::ContentConflictError:
    case QNetworkReply::ContentGoneError:
    case QNetworkReply::UnknownContentError:
    case QNetworkReply::ProtocolInvalidOperationError: // 400 and 418
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::InternalServerError:
    case QNetworkReply::OperationNotImplementedError:
    case QNetworkReply::ServiceUnavailableError:
    case QNetworkReply::UnknownServerError:
        return true;
    default:
        return false;
    }
}

// Whether the reply carries a whole HTTP answer, an error status included.
bool isAnswer(const QNetworkReply &reply) {
    if (!reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
        return false;
    const QNetworkReply::NetworkError error = reply.error();
    return error == QNetworkReply::NoError
           || (isStatusError(error) && reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() >= 400);
}

// A header value shown in a sentence: Latin-1, control characters dropped, cut short.
QString shownHeader(const QByteArray &value) {
    constexpr qsizetype kShown = 120;
    QString text;
    for (const char c : value.left(kShown))
        text.append(uchar(c) < 0x20 || uchar(c) == 0x7f ? QChar(u'?') : QChar::fromLatin1(c));
    return value.size() > kShown ? text + QStringLiteral("…") : text;
}

// The body length a Content-Length value gives: digits only; a list (two
// headers joined) only when every entry is the same number. None otherwise.
std::optional<qint64> contentLength(const QByteArray &value) {
    std::optional<qint64> length;
    for (const QByteArray &part : value.split(',')) {
        const QByteArray digits = part.trimmed();
        if (digits.isEmpty() || digits.size() > 18
            || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
        const qint64 n = digits.toLongLong();
        if (length && *length != n)
            return std::nullopt;
        length = n;
    }
    return length;
}

// Whether an answer of this status carries a body at all.
bool hasBody(int status) { return status >= kLowestFinalStatus && status != 204 && status != 304; }

QString megabytes(qint64 bytes) {
    if (bytes % (1024 * 1024) == 0)
        return QStringLiteral("%1 MiB").arg(bytes / (1024 * 1024));
    return QStringLiteral("%1 bytes").arg(bytes);
}

// One exchange with its redirects, driven by a local event loop. Lives in
// the fetching thread; abortNow() reaches it there through a queued call.
class Exchange : public QObject {
public:
    Exchange(const HttpRequest &request, const FetchLimits &limits) : m_request(request), m_limits(limits) {}

    FetchOutcome run() {
        QUrl url(m_request.url);
        if (!url.isValid() || (url.scheme() != u"http" && url.scheme() != u"https") || url.host().isEmpty())
            return FetchOutcome::failed(Failure::BadUrl,
                                        QStringLiteral("\"%1\" is not a web address.").arg(m_request.url));

        QTimer deadline;
        deadline.setSingleShot(true);
        deadline.setTimerType(Qt::PreciseTimer);
        // Time the fetch spent before this exchange counts against the same bound.
        const auto spent = std::max(std::chrono::milliseconds(0), m_request.spent);
        connect(&deadline, &QTimer::timeout, this, [this, spent] {
            QString why = QStringLiteral("No complete answer from %1 within %2 s")
                              .arg(m_currentUrl.host())
                              .arg(double(m_limits.deadline.count()) / 1000.0);
            if (spent.count() > 0)
                why += QStringLiteral(" (%1 s of them spent before this request)").arg(double(spent.count()) / 1000.0);
            stop(Failure::Timeout, why + u'.');
        });
        deadline.start(std::max(std::chrono::milliseconds(0), m_limits.deadline - spent));

        HttpRequest::Method method = m_request.method;
        int redirects = 0;
        for (;;) {
            m_currentUrl = url;
            send(url, method);
            m_loop.exec();
            if (m_failure != Failure::None) {
                discardReply();
                return FetchOutcome::failed(m_failure, m_error);
            }
            const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            const QByteArray location = m_reply->rawHeader("Location");
            if (!isAnswer(*m_reply)) {
                QString why =
                    QStringLiteral("Fetching %1 failed: %2.").arg(url.toDisplayString(), m_reply->errorString());
                // An answer that broke off says how far it came.
                if (m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid() && m_length
                    && m_rawBytes < *m_length)
                    why = QStringLiteral("Fetching %1 failed: %2 after %3 of %4 bytes of the answer.")
                              .arg(url.toDisplayString(), m_reply->errorString())
                              .arg(m_rawBytes)
                              .arg(*m_length);
                discardReply();
                return FetchOutcome::failed(Failure::Network, why);
            }
            if (const QString why = incomplete(url); !why.isEmpty()) {
                discardReply();
                return FetchOutcome::failed(Failure::Network, why);
            }
            if (!isRedirect(status))
                break;
            if (location.trimmed().isEmpty()) {
                discardReply();
                return FetchOutcome::failed(Failure::Redirect,
                                            QStringLiteral("Fetching %1 failed: it answered %2, a redirect, without"
                                                           " saying where to (no Location).")
                                                .arg(url.toDisplayString())
                                                .arg(status));
            }
            const QUrl given = QUrl::fromEncoded(location.trimmed(), QUrl::StrictMode);
            const QUrl target = given.isValid() ? url.resolved(given) : QUrl();
            if (!target.isValid() || target.host().isEmpty()) {
                discardReply();
                return FetchOutcome::failed(Failure::Redirect,
                                            QStringLiteral("Fetching %1 failed: it redirected to \"%2\", which is not"
                                                           " a valid address.")
                                                .arg(url.toDisplayString(), shownHeader(location)));
            }
            if (++redirects > m_limits.maxRedirects) {
                discardReply();
                return FetchOutcome::failed(Failure::Redirect, QStringLiteral("%1 redirected more than %2 times.")
                                                                   .arg(m_request.url)
                                                                   .arg(m_limits.maxRedirects));
            }
            if (target.scheme() != u"http" && target.scheme() != u"https") {
                discardReply();
                return FetchOutcome::failed(Failure::Redirect,
                                            QStringLiteral("%1 redirected to \"%2\", which is not a web address.")
                                                .arg(url.toDisplayString(), target.toDisplayString()));
            }
            if (url.scheme() == u"https" && target.scheme() == u"http") {
                discardReply();
                return FetchOutcome::failed(Failure::Redirect,
                                            QStringLiteral("%1 redirected from https to plain http (%2); not followed.")
                                                .arg(url.toDisplayString(), target.toDisplayString()));
            }
            // As browsers do: 303, and 301/302 after a POST, go on with a GET.
            if (status == 303 || ((status == 301 || status == 302) && method == HttpRequest::Method::Post))
                method = HttpRequest::Method::Get;
            discardReply();
            url = target;
        }

        HttpResponse response;
        response.status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        response.body = std::move(m_body);
        response.contentType = m_reply->rawHeader("Content-Type");
        // The body is the decoded one: the headers that described the
        // encoded bytes would no longer be true of it.
        const bool decoded = m_decoder && m_decoder->coding() != ContentDecoder::Coding::Identity;
        for (const auto &pair : m_reply->rawHeaderPairs())
            if (!decoded
                || (pair.first.compare("Content-Encoding", Qt::CaseInsensitive) != 0
                    && pair.first.compare("Content-Length", Qt::CaseInsensitive) != 0))
                response.headers.append({pair.first, pair.second});
        response.finalUrl = url.toString();
        discardReply();
        return FetchOutcome::success(std::move(response));
    }

    void abortNow() { stop(Failure::Aborted, QStringLiteral("The fetch was cancelled.")); }

private:
    void send(const QUrl &url, HttpRequest::Method method) {
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        // A POST turned into a GET by a redirect leaves its body headers behind.
        const bool bodyDropped = method != m_request.method;
        for (const auto &header : m_request.headers)
            if (!(bodyDropped && header.first.compare("content-type", Qt::CaseInsensitive) == 0))
                request.setRawHeader(header.first, header.second);
        // Asking ourselves turns off Qt's own decompression, which has no
        // bound on what a body inflates to and reports its faults as
        // answers: the body arrives as sent and is decoded in take().
        if (!request.hasRawHeader("Accept-Encoding"))
            request.setRawHeader("Accept-Encoding", kAcceptedEncodings);
        m_body.clear();
        m_rawBytes = 0;
        m_length.reset();
        m_decoder.reset();
        m_checked = false;
        QNetworkAccessManager &manager = threadManager();
        m_reply = method == HttpRequest::Method::Post ? manager.post(request, QByteArray()) : manager.get(request);
        // Qt reads no further ahead than this while we have not taken the data.
        m_reply->setReadBufferSize(256 * 1024);
        connect(m_reply, &QNetworkReply::metaDataChanged, this, [this] { checkHead(); });
        connect(m_reply, &QNetworkReply::readyRead, this, [this] { take(); });
        connect(m_reply, &QNetworkReply::finished, this, [this] {
            take();
            m_loop.quit();
        });
    }

    // The head of an answer, as soon as it is in: a status that is none, a
    // length that is not one number, a coding not asked for, or a declared
    // body past the bound end the exchange at once.
    void checkHead() {
        if (!m_reply || m_failure != Failure::None || m_checked)
            return;
        const QVariant statusAttribute = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (!statusAttribute.isValid())
            return;
        m_checked = true;
        const QString where = m_currentUrl.toDisplayString();
        const int status = statusAttribute.toInt();
        if (status < 100 || status > kHighestStatus)
            return stop(Failure::Network, QStringLiteral("Fetching %1 failed: the server answered with status %2,"
                                                         " which is not an HTTP status.")
                                              .arg(where)
                                              .arg(status));
        if (status < kLowestFinalStatus)
            return stop(Failure::Network, QStringLiteral("Fetching %1 failed: the server sent the interim status %2"
                                                         " and no answer after it.")
                                              .arg(where)
                                              .arg(status));
        // With Transfer-Encoding the chunks give the length (Qt reads them so).
        if (m_reply->hasRawHeader("Content-Length") && !m_reply->hasRawHeader("Transfer-Encoding")) {
            const QByteArray value = m_reply->rawHeader("Content-Length");
            m_length = contentLength(value);
            if (!m_length)
                return stop(Failure::Network, QStringLiteral("Fetching %1 failed: the answer's length is not one"
                                                             " number (Content-Length: %2).")
                                                  .arg(where, shownHeader(value)));
            if (*m_length > m_limits.maxBody)
                return tooLarge();
        }
        // A redirect's body is never read: its coding does not matter.
        if (isRedirect(status) && !m_reply->rawHeader("Location").trimmed().isEmpty())
            return;
        const QByteArray encoding = m_reply->rawHeader("Content-Encoding");
        const auto coding = ContentDecoder::codingFor(encoding);
        if (!coding)
            return stop(Failure::Network, QStringLiteral("Fetching %1 failed: the answer is encoded as \"%2\", which"
                                                         " this client did not ask for.")
                                              .arg(where, shownHeader(encoding)));
        m_decoder = std::make_unique<ContentDecoder>(*coding, m_limits.maxBody);
    }

    void take() {
        if (!m_reply || m_failure != Failure::None)
            return;
        checkHead();
        if (m_failure != Failure::None)
            return;
        const qint64 available = m_reply->bytesAvailable();
        if (available <= 0)
            return;
        // The bytes as sent are bounded like a plain body, and so is what
        // they decode to.
        if (m_rawBytes + available > m_limits.maxBody)
            return tooLarge();
        const QByteArray raw = m_reply->read(available);
        m_rawBytes += raw.size();
        if (!m_decoder) {
            m_body.append(raw);
            return;
        }
        switch (m_decoder->feed(raw, &m_body)) {
        case ContentDecoder::State::Ok:
            break;
        case ContentDecoder::State::TooLarge:
            return tooLarge();
        case ContentDecoder::State::Broken:
            return stop(Failure::Network, QStringLiteral("Fetching %1 failed: %2.")
                                              .arg(m_currentUrl.toDisplayString(), m_decoder->error()));
        }
    }

    // Why a reply Qt calls complete is not: its bytes fall short of or go
    // past the length it gave, or its coded body did not end. Empty when whole.
    QString incomplete(const QUrl &url) {
        const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (m_length && hasBody(status) && m_rawBytes != *m_length)
            return QStringLiteral("Fetching %1 failed: the answer has %2 bytes, not the %3 it announced.")
                .arg(url.toDisplayString())
                .arg(m_rawBytes)
                .arg(*m_length);
        if (m_decoder && m_decoder->finish() == ContentDecoder::State::Broken)
            return QStringLiteral("Fetching %1 failed: %2.").arg(url.toDisplayString(), m_decoder->error());
        return {};
    }

    void tooLarge() {
        stop(Failure::TooLarge, QStringLiteral("The answer from %1 is larger than %2; reading stopped.")
                                    .arg(m_currentUrl.host(), megabytes(m_limits.maxBody)));
    }

    void stop(Failure failure, const QString &why) {
        if (m_failure != Failure::None)
            return;
        m_failure = failure;
        m_error = why;
        if (m_reply)
            m_reply->abort();
        m_loop.quit();
    }

    void discardReply() {
        if (m_reply) {
            m_reply->disconnect(this);
            m_reply->deleteLater();
            m_reply = nullptr;
        }
    }

    const HttpRequest &m_request;
    const FetchLimits &m_limits;
    QEventLoop m_loop;
    QPointer<QNetworkReply> m_reply;
    QUrl m_currentUrl;
    QByteArray m_body;              // decoded
    qint64 m_rawBytes = 0;          // as sent
    std::optional<qint64> m_length; // Content-Length
    std::unique_ptr<ContentDecoder> m_decoder;
    bool m_checked = false; // checkHead() has seen this reply's head
    Failure m_failure = Failure::None;
    QString m_error;
};

} // namespace

QtWeb::QtWeb(FetchLimits limits) : m_limits(limits) {}

QtWeb::~QtWeb() = default;

FetchOutcome QtWeb::fetch(const HttpRequest &request) {
    if (!m_started) {
        m_started = true;
        threadManager().clearConnectionCache();
    }
    Exchange exchange(request, m_limits);
    {
        std::lock_guard lock(m_mutex);
        m_running = &exchange;
    }
    FetchOutcome outcome =
        m_aborted ? FetchOutcome::failed(Failure::Aborted, QStringLiteral("The fetch was cancelled.")) : exchange.run();
    {
        std::lock_guard lock(m_mutex);
        m_running = nullptr;
    }
    // A cancellation that came while the answer was already complete still
    // counts: the job that asked is being dropped.
    if (m_aborted && outcome.failure != Failure::Aborted)
        return FetchOutcome::failed(Failure::Aborted, QStringLiteral("The fetch was cancelled."));
    return outcome;
}

void QtWeb::abort() {
    m_aborted = true;
    std::lock_guard lock(m_mutex);
    if (m_running) {
        auto *exchange = static_cast<Exchange *>(m_running);
        QMetaObject::invokeMethod(
            exchange, [exchange] { exchange->abortNow(); }, Qt::QueuedConnection);
    }
}

} // namespace chenglan
