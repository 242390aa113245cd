#include "net/PoliteWeb.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QTimeZone>
#include <QUrl>

#include <algorithm>

namespace chenglan {

namespace {
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
} // namespace

void StopSignal::raise() {
    {
        const std::lock_guard lock(m_mutex);
        m_flag = true;
    }
    m_raised.notify_all();
}

bool StopSignal::raised() const {
    const std::lock_guard lock(m_mutex);
    return m_flag;
}

bool StopSignal::waitUntil(std::optional<Clock::time_point> until) {
    std::unique_lock lock(m_mutex);
    if (!until) {
        m_raised.wait(lock, [this] { return m_flag; });
        return false;
    }
    return !m_raised.wait_until(lock, *until, [this] { return m_flag; });
}

PoliteClock::TimePoint SystemPoliteClock::now() const { return Clock::now(); }

QDateTime SystemPoliteClock::utcNow() const { return QDateTime::currentDateTimeUtc(); }

bool SystemPoliteClock::sleepUntil(TimePoint until, StopSignal &stop) { return stop.waitUntil(until); }

HostSchedule::HostSchedule(HostSpacing spacing, std::shared_ptr<PoliteClock> clock)
    : m_spacing(spacing), m_clock(clock ? std::move(clock) : std::make_shared<SystemPoliteClock>()) {}

milliseconds HostSchedule::gapFor(const QString &host) const {
    return isLoopbackHost(host) ? m_spacing.loopbackGap : m_spacing.gap;
}

std::optional<PoliteClock::TimePoint> HostSchedule::reserve(const QString &host, PoliteClock::TimePoint latest,
                                                            PoliteClock::TimePoint *wouldBe) {
    const std::lock_guard lock(m_mutex);
    const auto now = m_clock->now();
    const auto slot = std::max(now, m_next.value(host, now));
    if (wouldBe)
        *wouldBe = slot;
    if (slot > latest)
        return std::nullopt;
    m_next.insert(host, slot + gapFor(host));
    return slot;
}

void HostSchedule::holdUntil(const QString &host, PoliteClock::TimePoint until) {
    const std::lock_guard lock(m_mutex);
    m_next.insert(host, std::max(m_next.value(host, until), until));
}

bool isLoopbackHost(const QString &host) {
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

namespace {

std::optional<QDateTime> parseHttpDate(const QString &text) {
    static const QStringList months = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    // The preferred form, the obsolete RFC 850 form and asctime's form.
    static const QRegularExpression fixdate(
        QStringLiteral(R"(^[A-Za-z]{3}, (\d{2}) ([A-Za-z]{3}) (\d{4}) (\d{2}):(\d{2}):(\d{2}) GMT$)"));
    static const QRegularExpression rfc850(
        QStringLiteral(R"(^[A-Za-z]+, (\d{2})-([A-Za-z]{3})-(\d{2}) (\d{2}):(\d{2}):(\d{2}) GMT$)"));
    static const QRegularExpression asctime(
        QStringLiteral(R"(^[A-Za-z]{3} ([A-Za-z]{3}) +(\d{1,2}) (\d{2}):(\d{2}):(\d{2}) (\d{4})$)"));

    int day = 0, year = 0, hour = 0, minute = 0, second = 0;
    QString month;
    if (const auto m = fixdate.match(text); m.hasMatch()) {
        day = m.captured(1).toInt(), month = m.captured(2), year = m.captured(3).toInt();
        hour = m.captured(4).toInt(), minute = m.captured(5).toInt(), second = m.captured(6).toInt();
    } else if (const auto m = rfc850.match(text); m.hasMatch()) {
        day = m.captured(1).toInt(), month = m.captured(2), year = m.captured(3).toInt();
        year += year < 70 ? 2000 : 1900;
        hour = m.captured(4).toInt(), minute = m.captured(5).toInt(), second = m.captured(6).toInt();
    } else if (const auto m = asctime.match(text); m.hasMatch()) {
        month = m.captured(1), day = m.captured(2).toInt();
        hour = m.captured(3).toInt(), minute = m.captured(4).toInt(), second = m.captured(5).toInt();
        year = m.captured(6).toInt();
    } else {
        return std::nullopt;
    }
    const int monthNumber = int(months.indexOf(month)) + 1;
    const QDate date(year, monthNumber, day);
    const QTime time(hour, minute, second);
    if (monthNumber == 0 || !date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, QTimeZone::utc());
}

QByteArray headerValue(const HttpResponse &response, const QByteArray &name) {
    for (const auto &[key, value] : response.headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

// The delay a 429 or 503 answer asks for, if it asks for one.
std::optional<milliseconds> retryDelay(const FetchOutcome &outcome, const PoliteClock &clock) {
    if (!outcome.ok() || (outcome.response->status != 429 && outcome.response->status != 503))
        return std::nullopt;
    const QByteArray value = headerValue(*outcome.response, "Retry-After");
    if (value.isEmpty())
        return std::nullopt;
    const auto serverNow = parseHttpDate(QString::fromLatin1(headerValue(*outcome.response, "Date").trimmed()));
    return parseRetryAfter(value, serverNow ? *serverNow : clock.utcNow());
}

FetchOutcome aborted() { return FetchOutcome::failed(FetchOutcome::Failure::Aborted, QStringLiteral("aborted")); }

} // namespace

std::optional<milliseconds> parseRetryAfter(const QByteArray &value, const QDateTime &now) {
    const QByteArray text = value.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    if (std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        // More than nine digits is more than thirty years: beyond any bound.
        const qint64 seconds = text.size() > 9 ? 999'999'999 : text.toLongLong();
        return milliseconds(seconds * 1000);
    }
    const auto date = parseHttpDate(QString::fromLatin1(text));
    if (!date)
        return std::nullopt;
    return milliseconds(std::max<qint64>(0, now.msecsTo(*date)));
}

QString HostWait::text() const {
    const QString base = QStringLiteral("waiting on host %1 for %2 ms").arg(host).arg(duration.count());
    return retryAfter ? base + QStringLiteral(" (it asked to retry later)") : base;
}

PoliteWeb::PoliteWeb(Web &inner, std::shared_ptr<HostSchedule> schedule)
    : m_inner(inner), m_schedule(std::move(schedule)) {}

PoliteWeb::PoliteWeb(std::unique_ptr<Web> inner, std::shared_ptr<HostSchedule> schedule)
    : m_owned(std::move(inner)), m_inner(*m_owned), m_schedule(std::move(schedule)) {}

void PoliteWeb::abort() {
    m_stop.raise();
    m_inner.abort();
}

PoliteWeb::Turn PoliteWeb::waitTurn(const QString &host, PoliteClock::TimePoint deadline, bool retryAfter,
                                    PoliteClock::TimePoint *wouldBe) {
    const auto slot = m_schedule->reserve(host, deadline, wouldBe);
    if (!slot)
        return Turn::TooLate;
    PoliteClock &clock = m_schedule->clock();
    const auto wait = std::chrono::ceil<milliseconds>(*slot - clock.now());
    if (wait > milliseconds(0)) {
        if (m_hook)
            m_hook(HostWait{host, wait, retryAfter});
        if (!clock.sleepUntil(*slot, m_stop))
            return Turn::Stopped;
    }
    return m_stop.raised() ? Turn::Stopped : Turn::Go;
}

FetchOutcome PoliteWeb::fetch(const HttpRequest &request) {
    if (m_stop.raised())
        return aborted();
    PoliteClock &clock = m_schedule->clock();
    const auto started = clock.now();
    const auto deadline = started + m_bound;
    // Each exchange is told how much of the bound is gone, so that the
    // client's own deadline ends the whole fetch, not each exchange, in time.
    HttpRequest timed = request;
    const auto sendTimed = [&] {
        timed.spent = request.spent + std::chrono::ceil<milliseconds>(clock.now() - started);
        return m_inner.fetch(timed);
    };
    const QString host = QUrl(request.url).host().toLower();
    if (host.isEmpty())
        return m_inner.fetch(request); // not a web address: the client says why

    PoliteClock::TimePoint wouldBe;
    switch (waitTurn(host, deadline, false, &wouldBe)) {
    case Turn::Stopped:
        return aborted();
    case Turn::TooLate:
        return FetchOutcome::failed(
            FetchOutcome::Failure::Timeout,
            QStringLiteral("host %1 cannot be asked within the fetch's time bound of %2 ms (next turn in %3 ms)")
                .arg(host)
                .arg(m_bound.count())
                .arg(std::chrono::ceil<milliseconds>(wouldBe - clock.now()).count()));
    case Turn::Go:
        break;
    }

    FetchOutcome first = sendTimed();
    const auto delay = retryDelay(first, clock);
    if (!delay)
        return first;
    // Only once, and only when the repeat can start within the bound; a site
    // that asks for longer gets its answer passed on, and other requests to it
    // are not held either.
    const auto until = clock.now() + *delay;
    if (until > deadline || m_stop.raised())
        return m_stop.raised() ? aborted() : first;
    m_schedule->holdUntil(host, until);
    switch (waitTurn(host, deadline, true, &wouldBe)) {
    case Turn::Stopped:
        return aborted();
    case Turn::TooLate:
        return first;
    case Turn::Go:
        break;
    }
    return sendTimed();
}

} // namespace chenglan
