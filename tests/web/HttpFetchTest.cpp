#include "base/Step.h"
#include "support/FakeWeb.h"
#include "net/HttpFetch.h"

#include <gtest/gtest.h>

using namespace chenglan;
using chenglan::testing::FakeWeb;

namespace {

FailureKind failureOf(const std::function<void()> &call) {
    try {
        call();
    } catch (const StepFailure &failure) {
        return failure.kind();
    }
    ADD_FAILURE() << "no StepFailure";
    return FailureKind::Data;
}

TEST(BytesToText, DecodesGbFamilyAsGb18030AndUtf8) {
    EXPECT_EQ(BytesToText(QByteArray("\xD6\xD0\xCE\xC4"), Charset::Gb18030), QStringLiteral("中文"));
    EXPECT_EQ(BytesToText(QByteArray("\xE9\x46"), Charset::Gb18030), QStringLiteral("镕")); // GBK, not GB2312
    EXPECT_EQ(BytesToText(QByteArray("\x81\x30\x81\x30"), Charset::Gb18030), QStringLiteral("\u0080"));
    EXPECT_EQ(BytesToText(QByteArray("\xE6\x9B\xBC\xE8\x81\x94"), Charset::Utf8), QStringLiteral("曼联"));
    EXPECT_EQ(BytesToText(QByteArray("\xEF\xBB\xBF" "a"), Charset::Utf8), QStringLiteral("a"));
    EXPECT_TRUE(BytesToText(QByteArray(), Charset::Gb18030).isEmpty());
    EXPECT_TRUE(BytesToText(QByteArray(), Charset::Utf8).isEmpty());
}

TEST(BytesToText, BrokenBytesFailAsABrokenPage) {
    EXPECT_EQ(failureOf([] { BytesToText(QByteArray("ab\xE4\xB8"), Charset::Utf8); }), FailureKind::Layout);
    EXPECT_EQ(failureOf([] { BytesToText(QByteArray("ab\xD6"), Charset::Gb18030); }), FailureKind::Layout);
    EXPECT_EQ(failureOf([] { BytesToText(QByteArray("a\xFF" "b"), Charset::Utf8); }), FailureKind::Layout);
    EXPECT_EQ(failureOf([] { BytesToText(QByteArray("a\x80\xFF" "b"), Charset::Gb18030); }), FailureKind::Layout);
    EXPECT_EQ(failureOf([] { BytesToText(QByteArray("a"), Charset::FromPage); }), FailureKind::Data);
}

// A character cut off at the end and bytes that are no text anywhere are
// told apart, wherever the bad bytes stand.
TEST(BytesToText, SaysWhetherThePageWasCutOffOrHoldsBadBytes) {
    const auto says = [](const QByteArray &bytes, Charset charset) {
        try {
            BytesToText(bytes, charset);
        } catch (const StepFailure &failure) {
            return failure.message().contains(u"cut off") ? QStringLiteral("cut off") : QStringLiteral("bad bytes");
        }
        return QStringLiteral("text");
    };
    const struct {
        QByteArray bytes;
        Charset charset;
        const char *said;
    } cases[] = {
        {"ab\xE4\xB8", Charset::Utf8, "cut off"},
        {"\xE4\xB8\xAD\xE4", Charset::Utf8, "cut off"},
        {"ab\xD6", Charset::Gb18030, "cut off"},
        {"ab\x81\x30\x81", Charset::Gb18030, "cut off"},
        {"a\xFF" "b", Charset::Utf8, "bad bytes"},
        {"ab\xFF", Charset::Utf8, "bad bytes"},
        {"ab\xFF\xFF" "cd\xE4\xB8\xAD", Charset::Utf8, "bad bytes"},
        {"\xD6\xD0\xFF\xFF\xCE\xC4", Charset::Gb18030, "bad bytes"},
        {"ab\xFF", Charset::Gb18030, "bad bytes"},
        {"\xD6\xD0", Charset::Utf8, "bad bytes"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(says(c.bytes, c.charset), QLatin1String(c.said)) << c.bytes.toHex().toStdString() << " charset " << int(c.charset);
}

TEST(HttpFetchText, FailuresBecomeStepFailuresOfTheirKind) {
    FakeWeb web;
    web.fail(QStringLiteral("http://site/down"), QStringLiteral("refused"));
    EXPECT_EQ(failureOf([&] { HttpFetchText(web, QStringLiteral("http://site/down"), Charset::Gb18030); }), FailureKind::Network);
    web.abort();
    EXPECT_EQ(failureOf([&] { HttpFetchText(web, QStringLiteral("http://site/down"), Charset::Gb18030); }), FailureKind::Cancelled);
    EXPECT_EQ(web.methods.first(), HttpRequest::Method::Post);
}

TEST(FetchPage, GetsAndDecodesByHeaderBomMetaOrGb18030) {
    FakeWeb web;
    const QByteArray gbBody = "<html><body>\xD6\xD0\xCE\xC4</body></html>";
    const QByteArray utf8Body = "<html><body>\xE4\xB8\xAD\xE6\x96\x87</body></html>";
    web.add(QStringLiteral("http://s/header"), utf8Body, 200, "text/html; charset=UTF-8");
    web.add(QStringLiteral("http://s/quoted"), utf8Body, 200, "text/html; charset=\"utf-8\"");
    web.add(QStringLiteral("http://s/bom"), "\xEF\xBB\xBF" + utf8Body, 200, "text/html; charset=gb2312");
    web.add(QStringLiteral("http://s/meta"),
            "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"></head>" + utf8Body);
    web.add(QStringLiteral("http://s/meta5"), "<meta charset='gb2312'>" + gbBody, 200, "text/html");
    web.add(QStringLiteral("http://s/plain"), gbBody, 200, "text/html");
    web.add(QStringLiteral("http://s/missing"), "<p>\xB2\xBB</p>", 404, "text/html");

    const QString expected = QStringLiteral("<html><body>中文</body></html>");
    EXPECT_EQ(fetchPage(web, QStringLiteral("http://s/header")), expected);
    EXPECT_EQ(fetchPage(web, QStringLiteral("http://s/quoted")), expected);
    EXPECT_EQ(fetchPage(web, QStringLiteral("http://s/bom")), expected);
    EXPECT_TRUE(fetchPage(web, QStringLiteral("http://s/meta")).endsWith(expected));
    EXPECT_TRUE(fetchPage(web, QStringLiteral("http://s/meta5")).endsWith(expected));
    EXPECT_EQ(fetchPage(web, QStringLiteral("http://s/plain")), expected);
    EXPECT_EQ(fetchPage(web, QStringLiteral("http://s/missing")), QStringLiteral("<p>不</p>"));
    for (HttpRequest::Method method : web.methods)
        EXPECT_EQ(method, HttpRequest::Method::Get);
    EXPECT_EQ(failureOf([&] { fetchPage(web, QStringLiteral("http://s/unknown")); }), FailureKind::Network);
}

TEST(DecodePage, MetaBeyondTheFirstKilobyteIsNotSeen) {
    const QByteArray late = QByteArray(1100, ' ') + "<meta charset=\"utf-8\">\xE4\xB8\xAD";
    EXPECT_EQ(failureOf([&] { decodePage(late); }), FailureKind::Layout); // read as GB18030: cut off
    EXPECT_EQ(decodePage("<meta charset=\"utf-8\">\xE4\xB8\xAD").right(1), QStringLiteral("中"));
}

// Labels as the WHATWG Encoding Standard maps them; any other label, and
// those of encodings this client does not read, fail the page naming the
// label instead of decoding it to garbage.
TEST(DecodePage, CharsetLabelsOfTheEncodingStandardOnly) {
    EXPECT_EQ(decodePage("caf\xE9", "text/html; charset=ISO-8859-1"), QStringLiteral("café"));
    EXPECT_EQ(decodePage("\x80", "text/html; charset=latin1"), QStringLiteral("€")); // read as windows-1252
    EXPECT_EQ(decodePage("\x80", "text/html; charset=us-ascii"), QStringLiteral("€"));
    EXPECT_EQ(decodePage("\xD6\xD0", "text/html; charset=x-gbk"), QStringLiteral("中"));
    EXPECT_EQ(decodePage("\xD6\xD0", "text/html; charset=csGB2312"), QStringLiteral("中"));
    EXPECT_EQ(pageEncoding("<meta charset=gb_2312-80>"), "GB18030");
    EXPECT_EQ(pageEncoding("<meta charset=utf-16le>x"), "UTF-8"); // no page declares UTF-16 from inside
    EXPECT_EQ(pageEncoding("x", "text/html; charset=utf-16"), "UTF-16LE");
    for (const char *label : {"utf-7", "utf-32", "hz-gb-2312", "iso-2022-jp", "iso-2022-kr", "x-user-defined",
                              "klingon", "cp936", "unicode-1-1-utf-7"}) {
        SCOPED_TRACE(label);
        for (const QByteArray &page : {QByteArray("<meta charset=") + label + "><p>+ZeVnLIqe-</p>",
                                       QByteArray("<meta http-equiv=content-type content='text/html; charset=") + label
                                           + "'>x"}) {
            try {
                decodePage(page);
                ADD_FAILURE() << "decoded " << page.toStdString();
            } catch (const StepFailure &failure) {
                EXPECT_EQ(failure.kind(), FailureKind::Layout);
                EXPECT_TRUE(failure.message().contains(QStringLiteral("\"%1\"").arg(QLatin1String(label))))
                    << failure.message().toStdString();
            }
        }
        EXPECT_EQ(failureOf([&] { decodePage("abc", QByteArray("text/html; charset=") + label); }), FailureKind::Layout);
    }
}

} // namespace

namespace {
// A page that declares gb2312 in the content attribute of an http-equiv meta
// and uses a GBK-only character (繁體): "charset" inside the content value
// was once read as an attribute of its own, label "gb2312\"", which picked a
// strict GB2312 decoder that fails on the GBK character.
TEST(DecodePage, HttpEquivCharsetInsideTheContentValue) {
    const QByteArray page = "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" />"
                            "\xB7\xB1\xF3\x77";
    EXPECT_TRUE(decodePage(page).endsWith(QStringLiteral("繁體")));
    EXPECT_TRUE(decodePage("<meta content='text/html; charset=utf-8' http-equiv='content-type'>\xE4\xB8\xAD")
                    .endsWith(QStringLiteral("中")));
}
} // namespace
