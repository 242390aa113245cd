#pragma once

#include <QString>

// The service's log: one line each on stderr, with a UTC timestamp and a
// level, so that an operator's journal or log collector can sort and filter it.
//   2026-12-08T15:32:33.123Z WARN  GET /shili/deep_jc.asp from 10.0.0.7: 400
namespace chenglan::dataservice {

enum class LogLevel { Info, Warning, Error };

void logLine(LogLevel level, const QString &message);

// The line as logLine writes it, without the line break (for the tests).
QString formatLogLine(LogLevel level, const QString &message);

} // namespace chenglan::dataservice
