#pragma once

#include "net/Web.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace chenglan {

// The character set a reader decodes a site's answer in.
enum class Charset {
    Gb18030,  // gb2312 and GBK pages read as GB18030
    Utf8,
    FromPage, // as a browser picks it (decodePage); readSiteAnswer only
};

// Decodes a response body in Charset::Gb18030 or Charset::Utf8. No
// byte-order mark in the result. A multi-byte character cut off at the end of
// the body, or bytes that are not text in that encoding, make it fail with
// StepFailure (kind Layout: the page is broken); Charset::FromPage fails as
// Data.
QString BytesToText(const QByteArray &body, Charset charset);

// One POST with the header CONTENT-TYPE: application/x-www-form-urlencoded
// and no body, decoded with BytesToText. The status code is not examined: an
// error page's body is returned like any other. Fails with StepFailure
// (kind Network, or Cancelled when the job was aborted) saying why.
QString HttpFetchText(Web &web, const QString &url, Charset charset);

// The variant that gives no value instead of failing, with the reason.
// Cancellation still throws: it ends the whole job.
std::optional<QString> tryHttpFetchText(Web &web, const QString &url, Charset charset, QString *why = nullptr);

// The plain GET of a page, as a browser navigates to it, decoded with
// decodePage. Fails like HttpFetchText.
QString fetchPage(Web &web, const QString &url);

// The two requests the readers send: the form POST of HttpFetchText and the
// plain GET of fetchPage.
HttpRequest formPost(const QString &url);
HttpRequest pageGet(const QString &url);

// An answer of a site as a reader takes it: its HTTP status and its text.
struct SiteAnswer {
    int status = 0;
    QString text;
};

// Fetches and decodes an answer for a reader that names the page in `where`
// ("analysis site, analysis page of match 7"): Gb18030 or Utf8 as
// BytesToText, FromPage as decodePage by the answer's Content-Type. No answer fails as Network
// (Cancelled when aborted). An answer that is not a page fails as SiteError
// naming `where`: bytes that are not text in its encoding, or an empty body
// unless emptyIsAnswer. An error status is returned for the caller to judge,
// unless its page is not text either: then it fails as that status.
SiteAnswer readSiteAnswer(Web &web, const HttpRequest &request, Charset charset, const QString &where,
                          bool emptyIsAnswer = false);

// Decodes a page the way a browser picks its encoding: a byte-order mark
// first (it cannot be wrong), else the charset of the Content-Type header,
// else a meta charset in the first 1024 bytes, else GB18030. Labels are
// those of the WHATWG Encoding Standard, mapped as it says (the GB family
// reads as GB18030, latin1 and ascii as windows-1252); a label it does not
// list, or one of an encoding this client does not read (ISO-2022-JP,
// hz-gb-2312 and the other "replacement" labels, x-user-defined), fails with
// StepFailure (kind Layout) naming it. Otherwise fails like BytesToText.
QString decodePage(const QByteArray &body, const QByteArray &contentType = {});

// The encoding decodePage reads a page in ("UTF-8", "GB18030", ...). Fails
// like decodePage for a refused label.
QByteArray pageEncoding(const QByteArray &body, const QByteArray &contentType = {});

// Decodes a page read from a file, as browsers sniff local files: a
// byte-order mark, else a meta charset in the first 1024 bytes, else UTF-8
// when the bytes are valid UTF-8, else GB18030. Fails like decodePage.
QString decodeFile(const QByteArray &body);
QByteArray fileEncoding(const QByteArray &body);

} // namespace chenglan
