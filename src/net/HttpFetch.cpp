#include "net/HttpFetch.h"

#include <cctype>

#include "base/Step.h"

#include <QHash>
#include <QStringDecoder>

#include <initializer_list>

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

// The labels of the encodings browsers read, each with the encoding it
// names, as the WHATWG Encoding Standard lists them. Names are those the
// decoder knows; the GB family reads as GB18030, a superset.
struct LabelledEncoding {
    const char *encoding;
    std::initializer_list<const char *> labels;
};
const LabelledEncoding labelledEncodings[] = {
    {"UTF-8", {"unicode-1-1-utf-8", "unicode11utf8", "unicode20utf8", "utf-8", "utf8", "x-unicode20utf8"}},
    {"GB18030", {"chinese", "csgb2312", "csiso58gb231280", "gb2312", "gb_2312", "gb_2312-80", "gbk", "iso-ir-58",
                 "x-gbk", "gb18030"}},
    {"Big5", {"big5", "big5-hkscs", "cn-big5", "csbig5", "x-x-big5"}},
    {"windows-1252", {"ansi_x3.4-1968", "ascii", "cp1252", "cp819", "csisolatin1", "ibm819", "iso-8859-1", "iso-ir-100",
                      "iso8859-1", "iso88591", "iso_8859-1", "iso_8859-1:1987", "l1", "latin1", "us-ascii",
                      "windows-1252", "x-cp1252"}},
    {"IBM866", {"866", "cp866", "csibm866", "ibm866"}},
    {"ISO-8859-2", {"csisolatin2", "iso-8859-2", "iso-ir-101", "iso8859-2", "iso88592", "iso_8859-2",
                    "iso_8859-2:1987", "l2", "latin2"}},
    {"ISO-8859-3", {"csisolatin3", "iso-8859-3", "iso-ir-109", "iso8859-3", "iso88593", "iso_8859-3",
                    "iso_8859-3:1988", "l3", "latin3"}},
    {"ISO-8859-4", {"csisolatin4", "iso-8859-4", "iso-ir-110", "iso8859-4", "iso88594", "iso_8859-4",
                    "iso_8859-4:1988", "l4", "latin4"}},
    {"ISO-8859-5", {"csisolatincyrillic", "cyrillic", "iso-8859-5", "iso-ir-144", "iso8859-5", "iso88595",
                    "iso_8859-5", "iso_8859-5:1988"}},
    {"ISO-8859-6", {"arabic", "asmo-708", "csiso88596e", "csiso88596i", "csisolatinarabic", "ecma-114", "iso-8859-6",
                    "iso-8859-6-e", "iso-8859-6-i", "iso-ir-127", "iso8859-6", "iso88596", "iso_8859-6",
                    "iso_8859-6:1987"}},
    {"ISO-8859-7", {"csisolatingreek", "ecma-118", "elot_928", "greek", "greek8", "iso-8859-7", "iso-ir-126",
                    "iso8859-7", "iso88597", "iso_8859-7", "iso_8859-7:1987", "sun_eu_greek"}},
    {"ISO-8859-8", {"csiso88598e", "csisolatinhebrew", "hebrew", "iso-8859-8", "iso-8859-8-e", "iso-ir-138",
                    "iso8859-8", "iso88598", "iso_8859-8", "iso_8859-8:1988", "visual"}},
    {"ISO-8859-8-I", {"csiso88598i", "iso-8859-8-i", "logical"}},
    {"ISO-8859-10", {"csisolatin6", "iso-8859-10", "iso-ir-157", "iso8859-10", "iso885910", "l6", "latin6"}},
    {"ISO-8859-13", {"iso-8859-13", "iso8859-13", "iso885913"}},
    {"ISO-8859-14", {"iso-8859-14", "iso8859-14", "iso885914"}},
    {"ISO-8859-15", {"csisolatin9", "iso-8859-15", "iso8859-15", "iso885915", "iso_8859-15", "l9"}},
    {"ISO-8859-16", {"iso-8859-16"}},
    {"KOI8-R", {"cskoi8r", "koi", "koi8", "koi8-r", "koi8_r"}},
    {"KOI8-U", {"koi8-ru", "koi8-u"}},
    {"macintosh", {"csmacintosh", "mac", "macintosh", "x-mac-roman"}},
    {"windows-874", {"dos-874", "iso-8859-11", "iso8859-11", "iso885911", "tis-620", "windows-874"}},
    {"windows-1250", {"cp1250", "windows-1250", "x-cp1250"}},
    {"windows-1251", {"cp1251", "windows-1251", "x-cp1251"}},
    {"windows-1253", {"cp1253", "windows-1253", "x-cp1253"}},
    {"windows-1254", {"cp1254", "csisolatin5", "iso-8859-9", "iso-ir-148", "iso8859-9", "iso88599", "iso_8859-9",
                      "iso_8859-9:1989", "l5", "latin5", "windows-1254", "x-cp1254"}},
    {"windows-1255", {"cp1255", "windows-1255", "x-cp1255"}},
    {"windows-1256", {"cp1256", "windows-1256", "x-cp1256"}},
    {"windows-1257", {"cp1257", "windows-1257", "x-cp1257"}},
    {"windows-1258", {"cp1258", "windows-1258", "x-cp1258"}},
    {"x-mac-cyrillic", {"x-mac-cyrillic", "x-mac-ukrainian"}},
    {"EUC-JP", {"cseucpkdfmtjapanese", "euc-jp", "x-euc-jp"}},
    {"Shift_JIS", {"csshiftjis", "ms932", "ms_kanji", "shift-jis", "shift_jis", "sjis", "windows-31j", "x-sjis"}},
    {"EUC-KR", {"cseuckr", "csksc56011987", "euc-kr", "iso-ir-149", "korean", "ks_c_5601-1987", "ks_c_5601-1989",
                "ksc5601", "ksc_5601", "windows-949"}},
    {"UTF-16BE", {"unicodefffe", "utf-16be"}},
    {"UTF-16LE", {"csunicode", "iso-10646-ucs-2", "ucs-2", "unicode", "unicodefeff", "utf-16", "utf-16le"}},
    // Listed, but never read: the escapes of ISO-2022-JP can hide markup,
    // browsers replace the "replacement" ones with one U+FFFD, and
    // x-user-defined is no text.
    {"ISO-2022-JP", {"csiso2022jp", "iso-2022-jp"}},
    {"replacement", {"csiso2022kr", "hz-gb-2312", "iso-2022-cn", "iso-2022-cn-ext", "iso-2022-kr", "replacement"}},
    {"x-user-defined", {"x-user-defined"}},
};

bool isNeverRead(QByteArrayView encoding) {
    return encoding == "ISO-2022-JP" || encoding == "replacement" || encoding == "x-user-defined";
}

// What a charset label means: the encoding to read (empty for no label), or
// a refusal naming the label. A page cannot declare itself UTF-16 from
// inside (its meta is read as ASCII), so there the label reads as UTF-8.
struct LabelMeaning {
    QByteArray encoding;
    QString refused;
};

LabelMeaning encodingForLabel(QByteArray label, bool inMeta) {
    label = label.trimmed().toLower();
    if (label.size() >= 2 && (label.front() == '"' || label.front() == '\'') && label.back() == label.front())
        label = label.mid(1, label.size() - 2).trimmed();
    if (label.isEmpty())
        return {};
    static const QHash<QByteArray, QByteArray> byLabel = [] {
        QHash<QByteArray, QByteArray> map;
        for (const LabelledEncoding &entry : labelledEncodings)
            for (const char *name : entry.labels)
                map.insert(name, entry.encoding);
        return map;
    }();
    QString shown = QString::fromLatin1(label.left(40));
    for (QChar &c : shown)
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            c = u'?';
    const auto it = byLabel.constFind(label);
    if (it == byLabel.constEnd())
        return {{}, QStringLiteral("The page declares the character set \"%1\", which is no character set a browser reads.")
                        .arg(shown)};
    QByteArray encoding = *it;
    if (inMeta && encoding.startsWith("UTF-16"))
        encoding = "UTF-8";
    if (isNeverRead(encoding) || !QStringDecoder(encoding.constData()).isValid())
        return {{}, QStringLiteral("The page declares the character set \"%1\" (%2), which this client does not read.")
                        .arg(shown, QString::fromLatin1(encoding))};
    return {encoding, {}};
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
// in the first 1024 bytes: the first one that names a label.
LabelMeaning metaCharset(const QByteArray &body) {
    const QByteArray head = body.first(std::min<qsizetype>(body.size(), 1024)).toLower();
    qsizetype at = 0;
    while ((at = head.indexOf("<meta", at)) >= 0) {
        const qsizetype close = head.indexOf('>', at);
        const QByteArray tag = head.mid(at + 5, (close < 0 ? head.size() : close) - at - 5);
        at += 5;
        QByteArray label = attributeValue(tag, "charset");
        if (label.isNull() && attributeValue(tag, "http-equiv").trimmed() == "content-type")
            label = charsetParameter(attributeValue(tag, "content"));
        if (LabelMeaning meaning = encodingForLabel(label, true); !meaning.encoding.isEmpty() || !meaning.refused.isEmpty())
            return meaning;
    }
    return {};
}

} // namespace

QString BytesToText(const QByteArray &body, Charset charset) {
    switch (charset) {
    case Charset::Gb18030:
        return decodeStrictly(body, gb18030);
    case Charset::Utf8:
        return decodeStrictly(body, "UTF-8");
    case Charset::FromPage:
        break;
    }
    throw StepFailure(QStringLiteral("a body is decoded as gb2312 or utf-8 here, not by the page's own character set"));
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

SiteAnswer readSiteAnswer(Web &web, const HttpRequest &request, Charset charset, const QString &where, bool emptyIsAnswer) {
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
        answer.text = charset == Charset::FromPage ? decodePage(response.body, response.contentType)
                                                     : BytesToText(response.body, charset);
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

QString HttpFetchText(Web &web, const QString &url, Charset charset) {
    const FetchOutcome outcome = web.fetch(formPost(url));
    if (!outcome.ok())
        fail(outcome);
    return BytesToText(outcome.response->body, charset);
}

std::optional<QString> tryHttpFetchText(Web &web, const QString &url, Charset charset, QString *why) {
    try {
        return HttpFetchText(web, url, charset);
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

namespace {

QByteArray bomEncoding(const QByteArray &body) {
    if (body.startsWith("\xEF\xBB\xBF"))
        return "UTF-8";
    if (body.startsWith("\xFF\xFE"))
        return "UTF-16LE";
    if (body.startsWith("\xFE\xFF"))
        return "UTF-16BE";
    return {};
}

QString decodeWithoutBom(const QByteArray &body, const QByteArray &encoding) {
    qsizetype bom = 0;
    if (body.startsWith("\xEF\xBB\xBF"))
        bom = 3;
    else if (body.startsWith("\xFF\xFE") || body.startsWith("\xFE\xFF"))
        bom = 2;
    return decodeStrictly(QByteArrayView(body).sliced(bom), encoding.constData());
}

} // namespace

QByteArray pageEncoding(const QByteArray &body, const QByteArray &contentType) {
    if (const QByteArray bom = bomEncoding(body); !bom.isEmpty())
        return bom;
    LabelMeaning meaning = encodingForLabel(charsetParameter(contentType), false);
    if (meaning.encoding.isEmpty() && meaning.refused.isEmpty())
        meaning = metaCharset(body);
    if (!meaning.refused.isEmpty())
        throw StepFailure(meaning.refused, FailureKind::Layout);
    return meaning.encoding.isEmpty() ? QByteArray(gb18030) : meaning.encoding;
}

QString decodePage(const QByteArray &body, const QByteArray &contentType) {
    return decodeWithoutBom(body, pageEncoding(body, contentType));
}

QByteArray fileEncoding(const QByteArray &body) {
    if (const QByteArray bom = bomEncoding(body); !bom.isEmpty())
        return bom;
    const LabelMeaning meaning = metaCharset(body);
    if (!meaning.refused.isEmpty())
        throw StepFailure(meaning.refused, FailureKind::Layout);
    if (!meaning.encoding.isEmpty())
        return meaning.encoding;
    return QByteArrayView(body).isValidUtf8() ? QByteArray("UTF-8") : QByteArray(gb18030);
}

QString decodeFile(const QByteArray &body) { return decodeWithoutBom(body, fileEncoding(body)); }

} // namespace chenglan
