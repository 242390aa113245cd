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
// Cancellation still throws: it ends the whole job.
std::optional<QString> tryHttpFetchText(Web &web, const QString &url, int mode, QString *why = nullptr);

// The plain GET of a page, as a browser navigates to it, decoded with
// decodePage. Fails like HttpFetchText.
QString fetchPage(Web &web, const QString &url);

// Decodes a page the way a browser picks its encoding: a byte-order mark
// first (it cannot be wrong), else the charset of the Content-Type header,
// else a meta charset in the first 1024 bytes, else GB18030. Labels of the
// GB family all read as GB18030. Fails like BytesToText.
QString decodePage(const QByteArray &body, const QByteArray &contentType = {});

// The encoding decodePage reads a page in ("UTF-8", "GB18030", ...).
QByteArray pageEncoding(const QByteArray &body, const QByteArray &contentType = {});

} // namespace chenglan
