#include "net/HttpFetch.h"

#include <cctype>

#include "base/Step.h"

#include <QStringDecoder>

namespace chenglan {

namespace {

const char gb18030[] = "GB18030";

// Decodes without guessing: bytes that are not text in the encoding, or a
// multi-byte character cut off at the end (which a stateful decoder would
// hold back silently), fail as a broken page.
QString decodeStrictly(QByteArrayView bytes, const char *encoding) {
    if (qstrcmp(encoding, gb18030) == 0) {
        static const bool available = QStringDecoder(gb18030).isValid();
        if (!available)
            throw StepFailure(QStringLiteral("This build of Qt cannot decode GB18030 (no ICU)."), FailureKind::Data);
    }
    QStringDecoder decoder(encoding, QStringDecoder::Flag::Stateless);
    if (!decoder.isValid())
        throw StepFailure(QStringLiteral("Unknown character set \"%1\".").arg(QString::fromLatin1(encoding)), FailureKind::Data);
    QString text = decoder.decode(bytes);
    if (!decoder.hasError())
        return text;
    // Cut off: the bytes before the last one to three are text, and a
    // stateful decoder holds those last ones back as the start of a
    // character instead of replacing them. (Its error flag cannot tell: it
    // is not set for bytes it replaces in the middle.)
    QStringDecoder holding(encoding);
    const QString held = holding.decode(bytes);
    bool cutOff = false;
    for (qsizetype k = 1; k <= 3 && k < bytes.size() && !cutOff; ++k) {
        QStringDecoder head(encoding, QStringDecoder::Flag::Stateless);
        const QString start = head.decode(bytes.first(bytes.size() - k));
        cutOff = !head.hasError() && start == held;
    }
    if (cutOff)
        throw StepFailure(QStringLiteral("The page ends inside a multi-byte %1 character: it was cut off.")
                              .arg(QString::fromLatin1(encoding)),
                          FailureKind::Layout);
    throw StepFailure(QStringLiteral("The page holds bytes that are not %1 text.").arg(QString::fromLatin1(encoding)),
                      FailureKind::Layout);
}

[[noreturn]] void fail(const FetchOutcome &outcome) {
    throw StepFailure(outcome.error, outcome.failure == FetchOutcome::Failure::Aborted ? FailureKind::Cancelled
                                                                                       : FailureKind::Network);
}

// The encoding a charset label stands for, as browsers map labels.
QByteArray encodingForLabel(QByteArray label) {
    label = label.trimmed().toLower();
    if (label.size() >= 2 && (label.front() == '"' || label.front() == '\'') && label.back() == label.front())
        label = label.mid(1, label.size() - 2).trimmed();
    if (label.isEmpty())
        return {};
    for (const char c : label)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == ':' || c == '.'))
            return {};
    static const char *const gbLabels[] = {"gb2312", "gbk", "gb18030", "x-gbk", "chinese", "csgb2312",
                                           "csiso58gb231280", "gb_2312", "gb_2312-80", "iso-ir-58", "cp936", "ms936",
                                           "windows-936", "euc-cn"};
    for (const char *gb : gbLabels)
        if (label == gb)
            return gb18030;
    if (label == "utf-8" || label == "utf8" || label == "unicode-1-1-utf-8")
        return "UTF-8";
    // A page cannot declare itself UTF-16 from inside; browsers read it as UTF-8.
    if (label.startsWith("utf-16") || label == "unicode")
        return "UTF-8";
    if (label == "iso-8859-1" || label == "latin1" || label == "us-ascii" || label == "ascii" || label == "l1")
        return "windows-1252";
    if (QStringDecoder(label.constData()).isValid())
        return label;
    return {};
}

QByteArray charsetParameter(QByteArrayView value) {
    const QByteArray lower = value.toByteArray().toLower();
    qsizetype at = lower.indexOf("charset");
    while (at >= 0) {
        qsizetype i = at + 7;
        while (i < lower.size() && (lower[i] == ' ' || lower[i] == '\t'))
            ++i;
        if (i < lower.size() && lower[i] == '=') {
            ++i;
            while (i < lower.size() && (lower[i] == ' ' || lower[i] == '\t'))
                ++i;
            qsizetype end = i;
            if (end < lower.size() && (lower[end] == '"' || lower[end] == '\'')) {
                const char quote = lower[end];
                const qsizetype close = lower.indexOf(quote, end + 1);
                return lower.mid(end + 1, (close < 0 ? lower.size() : close) - end - 1);
            }
            while (end < lower.size() && lower[end] != ';' && lower[end] != ' ' && lower[end] != '\t')
                ++end;
            return lower.mid(i, end - i);
        }
        at = lower.indexOf("charset", at + 7);
    }
    return {};
}

// The value of attribute name in the tag text (lower case), or null. Walks
// the attributes one by one, so a name inside another attribute's quoted
// value (content="text/html; charset=gb2312") is not taken for an attribute.
QByteArray attributeValue(const QByteArray &tag, QByteArrayView name) {
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; };
    qsizetype i = 0;
    const qsizetype n = tag.size();
    while (i < n) {
        while (i < n && (isSpace(tag[i]) || tag[i] == '/'))
            ++i;
        const qsizetype nameStart = i;
        while (i < n && !isSpace(tag[i]) && tag[i] != '=' && tag[i] != '/')
            ++i;
        const QByteArrayView attribute(tag.constData() + nameStart, i - nameStart);
        while (i < n && isSpace(tag[i]))
            ++i;
        QByteArray value;
        bool hasValue = false;
        if (i < n && tag[i] == '=') {
            hasValue = true;
            ++i;
            while (i < n && isSpace(tag[i]))
                ++i;
            if (i < n && (tag[i] == '"' || tag[i] == '\'')) {
                const char quote = tag[i];
                const qsizetype close = tag.indexOf(quote, i + 1);
                const qsizetype stop = close < 0 ? n : close;
                value = tag.mid(i + 1, stop - i - 1);
                i = close < 0 ? n : close + 1;
            } else {
                const qsizetype valueStart = i;
                while (i < n && !isSpace(tag[i]) && tag[i] != '>')
                    ++i;
                value = tag.mid(valueStart, i - valueStart);
            }
        }
        if (attribute == name)
            return hasValue ? (value.isNull() ? QByteArray("") : value) : QByteArray("");
        if (attribute.isEmpty() && !hasValue)
            ++i; // a stray character: step over it
    }
    return {};
}

// <meta charset=...> or <meta http-equiv="Content-Type" content="...; charset=...">
// in the first 1024 bytes.
QByteArray metaCharset(const QByteArray &body) {
    const QByteArray head = body.first(std::min<qsizetype>(body.size(), 1024)).toLower();
    qsizetype at = 0;
    while ((at = head.indexOf("<meta", at)) >= 0) {
        const qsizetype close = head.indexOf('>', at);
        const QByteArray tag = head.mid(at + 5, (close < 0 ? head.size() : close) - at - 5);
        at += 5;
        const QByteArray charset = attributeValue(tag, "charset");
        if (!charset.isNull()) {
            if (const QByteArray encoding = encodingForLabel(charset); !encoding.isEmpty())
                return encoding;
            continue;
        }
        if (attributeValue(tag, "http-equiv").trimmed() == "content-type") {
            if (const QByteArray encoding = encodingForLabel(charsetParameter(attributeValue(tag, "content")));
                !encoding.isEmpty())
                return encoding;
        }
    }
    return {};
}

} // namespace

QString BytesToText(const QByteArray &body, int mode) {
    switch (mode) {
    case 0:
        return decodeStrictly(body, gb18030);
    case 1:
        return decodeStrictly(body, "UTF-8");
    default:
        throw StepFailure(QStringLiteral("Unknown character set mode %1 (0 is gb2312, 1 is utf-8).").arg(mode));
    }
}

HttpRequest formPost(const QString &url) {
    HttpRequest request;
    request.method = HttpRequest::Method::Post;
    request.url = url;
    request.headers.append(qMakePair(QByteArray("CONTENT-TYPE"), QByteArray("application/x-www-form-urlencoded")));
    return request;
}

HttpRequest pageGet(const QString &url) {
    HttpRequest request;
    request.method = HttpRequest::Method::Get;
    request.url = url;
    return request;
}

SiteAnswer readSiteAnswer(Web &web, const HttpRequest &request, int mode, const QString &where, bool emptyIsAnswer) {
    const FetchOutcome outcome = web.fetch(request);
    if (!outcome.ok())
        fail(outcome);
    const HttpResponse &response = *outcome.response;
    SiteAnswer answer;
    answer.status = response.status;
    if (response.body.isEmpty() && !emptyIsAnswer)
        throw StepFailure(QStringLiteral("%1: the answer is empty (HTTP %2)").arg(where).arg(response.status),
                          FailureKind::SiteError);
    try {
        answer.text = mode < 0 ? decodePage(response.body, response.contentType) : BytesToText(response.body, mode);
    } catch (const StepFailure &failure) {
        if (failure.kind() != FailureKind::Layout)
            throw;
        // Bytes that are not text are the site's fault, not a new layout.
        throw StepFailure(response.status >= 400
                              ? QStringLiteral("%1: HTTP %2 (%3)").arg(where).arg(response.status).arg(failure.message())
                              : QStringLiteral("%1: %2").arg(where, failure.message()),
                          FailureKind::SiteError);
    }
    return answer;
}

QString HttpFetchText(Web &web, const QString &url, int mode) {
    const FetchOutcome outcome = web.fetch(formPost(url));
    if (!outcome.ok())
        fail(outcome);
    return BytesToText(outcome.response->body, mode);
}

std::optional<QString> tryHttpFetchText(Web &web, const QString &url, int mode, QString *why) {
    try {
        return HttpFetchText(web, url, mode);
    } catch (const StepFailure &failure) {
        if (failure.kind() == FailureKind::Cancelled)
            throw;
        if (why)
            *why = failure.message();
        return std::nullopt;
    }
}

QString fetchPage(Web &web, const QString &url) {
    const FetchOutcome outcome = web.fetch(pageGet(url));
    if (!outcome.ok())
        fail(outcome);
    return decodePage(outcome.response->body, outcome.response->contentType);
}

QByteArray pageEncoding(const QByteArray &body, const QByteArray &contentType) {
    if (body.startsWith("\xEF\xBB\xBF"))
        return "UTF-8";
    if (body.startsWith("\xFF\xFE"))
        return "UTF-16LE";
    if (body.startsWith("\xFE\xFF"))
        return "UTF-16BE";
    QByteArray encoding = encodingForLabel(charsetParameter(contentType));
    if (encoding.isEmpty())
        encoding = metaCharset(body);
    if (encoding.isEmpty())
        encoding = gb18030;
    return encoding;
}

QString decodePage(const QByteArray &body, const QByteArray &contentType) {
    const QByteArray encoding = pageEncoding(body, contentType);
    qsizetype bom = 0;
    if (body.startsWith("\xEF\xBB\xBF"))
        bom = 3;
    else if (body.startsWith("\xFF\xFE") || body.startsWith("\xFE\xFF"))
        bom = 2;
    return decodeStrictly(QByteArrayView(body).sliced(bom), encoding.constData());
}

} // namespace chenglan
