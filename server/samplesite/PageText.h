#pragma once

#include "World.h"

#include <QByteArray>
#include <QString>

namespace chenglan::sample {

// Names the invented sites go by on their pages.
inline const QString kOddsSiteName = QStringLiteral("晴川赔率");
inline const QString kAnalysisSiteName = QStringLiteral("晴川足球资料库");

QString htmlEscape(const QString &text);
// A JavaScript string literal in single quotes.
QString jsString(const QString &text);

// Pages declared as gb2312 are sent in GB18030, the superset every reader of
// gb2312 pages accepts.
QByteArray gbBytes(const QString &text);

QString monthDayTime(Minutes when); // "10-09 19:30"
QString fullDateTime(Minutes when); // "2022-10-09 19:30"

} // namespace chenglan::sample
