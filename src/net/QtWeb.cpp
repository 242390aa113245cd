#include "net/QtWeb.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QThread>
#include <QUrl>

#include <memory>

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

// Whether the reply carries a whole HTTP answer, an error status included
// (404 and 500 pages are answers like any other).
bool isAnswer(const QNetworkReply &reply) {
    if (!reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
        return false;
    const int error = reply.error();
    return error == QNetworkReply::NoError || (error >= 201 && error < 300) || (error >= 401 && error < 500);
}

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
            return FetchOutcome::failed(Failure::BadUrl, QStringLiteral("\"%1\" is not a web address.").arg(m_request.url));

        QTimer deadline;
        deadline.setSingleShot(true);
        deadline.setTimerType(Qt::PreciseTimer);
        connect(&deadline, &QTimer::timeout, this, [this] {
            stop(Failure::Timeout, QStringLiteral("No complete answer from %1 within %2 s.")
                                       .arg(m_currentUrl.host())
                                       .arg(double(m_limits.deadline.count()) / 1000.0));
        });
        deadline.start(m_limits.deadline);

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
                QString why = QStringLiteral("Fetching %1 failed: %2.").arg(url.toDisplayString(), m_reply->errorString());
                // An answer that broke off says how far it came.
                const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
                if (m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid() && length.isValid()
                    && m_body.size() < length.toLongLong())
                    why = QStringLiteral("Fetching %1 failed: %2 after %3 of %4 bytes of the answer.")
                              .arg(url.toDisplayString(), m_reply->errorString())
                              .arg(m_body.size())
                              .arg(length.toLongLong());
                discardReply();
                return FetchOutcome::failed(Failure::Network, why);
            }
            if (!isRedirect(status) || location.isEmpty())
                break;
            const QUrl target = url.resolved(QUrl::fromEncoded(location));
            if (++redirects > m_limits.maxRedirects) {
                discardReply();
                return FetchOutcome::failed(Failure::Redirect, QStringLiteral("%1 redirected more than %2 times.")
                                                                   .arg(m_request.url)
                                                                   .arg(m_limits.maxRedirects));
            }
            if (target.scheme() != u"http" && target.scheme() != u"https") {
                discardReply();
                return FetchOutcome::failed(Failure::Redirect, QStringLiteral("%1 redirected to \"%2\", which is not a web address.")
                                                                   .arg(url.toDisplayString(), target.toDisplayString()));
            }
            if (url.scheme() == u"https" && target.scheme() == u"http") {
                discardReply();
                return FetchOutcome::failed(Failure::Redirect, QStringLiteral("%1 redirected from https to plain http (%2); not followed.")
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
        for (const auto &pair : m_reply->rawHeaderPairs())
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
        m_body.clear();
        QNetworkAccessManager &manager = threadManager();
        m_reply = method == HttpRequest::Method::Post ? manager.post(request, QByteArray()) : manager.get(request);
        // Qt reads no further ahead than this while we have not taken the data.
        m_reply->setReadBufferSize(256 * 1024);
        connect(m_reply, &QNetworkReply::metaDataChanged, this, [this] {
            const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
            if (length.isValid() && length.toLongLong() > m_limits.maxBody)
                tooLarge();
        });
        connect(m_reply, &QNetworkReply::readyRead, this, [this] { take(); });
        connect(m_reply, &QNetworkReply::finished, this, [this] {
            take();
            m_loop.quit();
        });
    }

    void take() {
        if (!m_reply || m_failure != Failure::None)
            return;
        const qint64 available = m_reply->bytesAvailable();
        if (m_body.size() + available > m_limits.maxBody) {
            tooLarge();
            return;
        }
        if (available > 0)
            m_body.append(m_reply->read(available));
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
    QByteArray m_body;
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
    FetchOutcome outcome = m_aborted ? FetchOutcome::failed(Failure::Aborted, QStringLiteral("The fetch was cancelled."))
                                     : exchange.run();
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
        QMetaObject::invokeMethod(exchange, [exchange] { exchange->abortNow(); }, Qt::QueuedConnection);
    }
}

} // namespace chenglan
