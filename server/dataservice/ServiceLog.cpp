#include "ServiceLog.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace chenglan::dataservice {

namespace {

std::mutex g_logMutex;

const char *levelName(LogLevel level) {
    switch (level) {
    case LogLevel::Info:
        return "INFO ";
    case LogLevel::Warning:
        return "WARN ";
    case LogLevel::Error:
        return "ERROR";
    }
    return "?    ";
}

} // namespace

QString formatLogLine(LogLevel level, const QString &message) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    // Room for any int the fields could hold, so the stamp is never cut.
    char stamp[96];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, int(millis));
    // A message is one line: a line break in it (from an error text) would
    // start what looks like another entry.
    QString oneLine = message;
    oneLine.replace(u'\n', u' ').replace(u'\r', u' ');
    return QStringLiteral("%1 %2 %3").arg(QLatin1String(stamp), QLatin1String(levelName(level)), oneLine);
}

void logLine(LogLevel level, const QString &message) {
    const QByteArray line = formatLogLine(level, message).toUtf8() + '\n';
    std::lock_guard lock(g_logMutex);
    std::fwrite(line.constData(), 1, std::size_t(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace chenglan::dataservice
