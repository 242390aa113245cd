#pragma once

#include "web/Web.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace chenglan {

// Decodes a response body: mode 0 as GB18030 (reads gb2312 and GBK pages),
// mode 1 as UTF-8. No byte-order mark in the result. A multi-byte character
// cut off at the end of the body, or bytes that are not text in that
// encoding, make it fail with StepFailure (kind Layout: the page is broken).
QString BytesToText(const QByteArray &body, int mode);

// One POST with the header CONTENT-TYPE: application/x-www-form-urlencoded
// and no body, decoded with BytesToText. The status code is not examined: an
// error page's body is returned like any other. Fails with StepFailure
// (kind Network, or Cancelled when the job was aborted) saying why.
QString HttpFetchText(Web &web, const QString &url, int mode);

// The variant that gives no value instead of failing, with the reason.
std::optional<QString> tryHttpFetchText(Web &web, const QString &url, int mode, QString *why = nullptr);

// The plain GET of a page, as a browser navigates to it: decoded by the
// charset of the Content-Type header, else a byte-order mark, else a meta
// charset near the top, else GB18030. Fails like HttpFetchText.
QString fetchPage(Web &web, const QString &url);

} // namespace chenglan
