#include "base/Step.h"
#include "html/PageRenderer.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

using namespace chenglan;
using namespace std::chrono_literals;

namespace {

QString render(const QString &html, PageRenderer::Limits limits = {}) {
    return PageRenderer(limits).visibleText(html);
}

QString fedInPieces(const QString &html, qsizetype pieceLength) {
    PageRenderer renderer;
    PageRenderer::TextStream stream(renderer);
    for (qsizetype at = 0; at < html.size(); at += pieceLength)
        stream.feed(QStringView(html).mid(at, pieceLength));
    return stream.finish();
}

TEST(VisibleText, TagsRemovedAndWhiteSpaceCollapsed) {
    EXPECT_EQ(render(u"<p>  Hello \n\t <b>big</b>   <i>world</i> </p>"_qs), u"Hello big world"_qs);
    EXPECT_EQ(render(u"a<br>b<br/><br>c"_qs), u"a\r\nb\r\n\r\nc"_qs);
    EXPECT_EQ(render(u"<div>one</div><div>two</div>three<p>four</p>"_qs), u"one\r\ntwo\r\nthree\r\nfour"_qs);
    EXPECT_EQ(render(u"x <span> </span> y"_qs), u"x y"_qs);
    EXPECT_EQ(render(u"<ul><li>a</li><li>b</li></ul>"_qs), u"a\r\nb"_qs);
    // A no-break space is text, not white space.
    EXPECT_EQ(render(u"a&nbsp;&nbsp;b"_qs), u"a\u00A0\u00A0b"_qs);
}

TEST(VisibleText, HiddenContentIsNotShown) {
    EXPECT_EQ(render(u"<head><title>T</title><style>p{color:red}</style></head>"
                     u"<body>A<noscript>no</noscript><textarea>t</textarea>"
                     u"<template><p>hidden</p><script>document.write('x')</script></template>B</body>"_qs),
              u"AB"_qs);
    EXPECT_EQ(render(u"a<!-- <tr><td>x</td></tr> -->b<!---->c<!-->d<?php e ?>f<!DOCTYPE html>g"_qs), u"abcdfg"_qs);
    EXPECT_EQ(render(u"<xmp><b>  kept</b></xmp>"_qs), u"<b>  kept</b>"_qs);
}

TEST(VisibleText, CharacterReferencesDecoded) {
    EXPECT_EQ(render(u"&lt;&gt;&amp;&quot;&apos;&copy;"_qs), u"<>&\"'©"_qs);
    EXPECT_EQ(render(u"&#65;&#x42;&#X43;&#x1F600;"_qs), u"ABC"_qs + QString::fromUcs4(U"\U0001F600", 1));
    // Out of range, zero and surrogates become U+FFFD; 0x80..0x9F read as windows-1252.
    EXPECT_EQ(render(u"&#3000000000;|&#x110000;|&#0;|&#xD800;|&#x80;&#150;"_qs),
              u"\uFFFD|\uFFFD|\uFFFD|\uFFFD|€–"_qs);
    // The longest known name wins; legacy names work without ";".
    EXPECT_EQ(render(u"&notit; &notin; &copy2020 &amp &ampx &unknown; & &# &#x; &"_qs),
              u"¬it; ∉ ©2020 & &x &unknown; & &# &#x; &"_qs);
    EXPECT_EQ(render(u"&NotEqualTilde;&fjlig;&CounterClockwiseContourIntegral;"_qs), u"≂̸fj∳"_qs);
    // References in attributes do not leak into the text.
    EXPECT_EQ(render(u"<a title=\"&lt;b&gt;\" href='?a=1&amp;b=2'>link</a>"_qs), u"link"_qs);
}

TEST(VisibleText, TableCellsInOrderRowsEndWithCrLf) {
    EXPECT_EQ(render(u"<table>\n<tr>\n <td> a </td>\n <td>b</td>\n</tr>\n<tr><th>c</th><td>d</td></tr>\n</table>"_qs),
              u"ab\r\ncd\r\n"_qs);
    // Nothing between cells, never a tab; blocks inside a cell stay in it.
    EXPECT_EQ(render(u"<table><tr><td><div>a</div></td><td><p>b</p>c</td></tr></table>"_qs), u"ab\r\nc\r\n"_qs);
    EXPECT_FALSE(render(u"<table><tr><td>a</td><td>b</td></tr></table>"_qs).contains(u'\t'));
    // Text before and after a table is on lines of its own.
    EXPECT_EQ(render(u"before<table><tr><td>x</td></tr></table>after"_qs), u"before\r\nx\r\nafter"_qs);
}

TEST(VisibleText, RowsClosedImplicitlyStillEndWithCrLf) {
    EXPECT_EQ(render(u"<table><tr><td>a<td>b<tr><td>c</table>d"_qs), u"ab\r\nc\r\nd"_qs);
    EXPECT_EQ(render(u"<table><tbody><tr><td>a</tbody><tbody><tr><td>b"_qs), u"a\r\nb\r\n"_qs);
    EXPECT_EQ(render(u"<table><tr><td>open at the end"_qs), u"open at the end\r\n"_qs);
    // Rows and cells outside any table still lay out as rows.
    EXPECT_EQ(render(u"<tr><td>a</td><td>b</td></tr><tr><td>c</td></tr>"_qs), u"ab\r\nc\r\n"_qs);
    // Every row ends with CR LF, an empty one too.
    EXPECT_EQ(render(u"<table><tr></tr><tr><td>x</td></tr></table>"_qs), u"\r\nx\r\n"_qs);
}

TEST(VisibleText, InsertedMarkersKeptWhereTheyStand) {
    // The schedule scraper's markup after its replacements: "," after every
    // cell's text, "‖" directly inside the row before its end.
    const QString row = u"<table><tr class=\"r\">\n  <td>1,</td>\n  <td style=\"\">#ff0000;\">英超,</td>\n"
                        u"  <td><a href=\"/x\">曼联</a>,</td>\n‖</tr>\n"
                        u"<tr><td>2,</td><td>b,</td>‖</tr></table>"_qs;
    EXPECT_EQ(render(row), u"1,#ff0000;\">英超,曼联,‖\r\n2,b,‖\r\n"_qs);
    // Markers before the first cell, between cells and between rows.
    EXPECT_EQ(render(u"<table>$<tr>|<td>a</td>,<td>b</td>|</tr>$<tr><td>c</td></tr></table>"_qs),
              u"$\r\n|a,b|\r\n$\r\nc\r\n"_qs);
    // The analysis extraction's separators in written text.
    EXPECT_EQ(render(u"<script>document.write('1,2|3,4|' + '$' + '$' + '$a,b')</script>"_qs), u"1,2|3,4|$$$a,b"_qs);
}

TEST(VisibleText, NestedTables) {
    EXPECT_EQ(render(u"<table><tr><td>a</td><td><table><tr><td>b</td></tr><tr><td>c</td></tr></table></td>"
                     u"<td>d</td></tr><tr><td>e</td></tr></table>"_qs),
              u"a\r\nb\r\nc\r\nd\r\ne\r\n"_qs);
    // End tags go to the innermost table: here the inner one takes "</tr>"
    // and "</table>", and the outer row ends with the page.
    EXPECT_EQ(render(u"<table><tr><td><table><tr><td>x</td></tr></td></tr></table>y"_qs), u"x\r\ny\r\n"_qs);
}

TEST(VisibleText, UnclosedAndBrokenTags) {
    EXPECT_EQ(render(u"<b>bold <i>both</b> italic"_qs), u"bold both italic"_qs);
    EXPECT_EQ(render(u"<p>one<p>two<div>three"_qs), u"one\r\ntwo\r\nthree"_qs);
    EXPECT_EQ(render(u"a < b, c <= d, e<3 </> f"_qs), u"a < b, c <= d, e<3 f"_qs);
    EXPECT_EQ(render(u"text <b"_qs), u"text"_qs);
    EXPECT_EQ(render(u"<div title=\"unterminated>lost"_qs), u""_qs);
    EXPECT_EQ(render(u"x</br>y"_qs), u"x\r\ny"_qs);
}

TEST(VisibleText, PreformattedTextKeepsItsSpaces) {
    EXPECT_EQ(render(u"<pre>\r\n a  b\r\n\tc\n</pre>d"_qs), u" a  b\r\n c\r\nd"_qs);
    EXPECT_EQ(render(u"x<pre>y</pre>z"_qs), u"x\r\ny\r\nz"_qs);
}

TEST(VisibleText, ScriptsRunInOrderAndWriteAtTheirPlace) {
    EXPECT_EQ(render(u"a<script>document.write('<b>b</b>')</script>c"_qs), u"abc"_qs);
    EXPECT_EQ(render(u"<script>var n = 2;</script>x<script>document.write(n * 21)</script>"_qs), u"x42"_qs);
    // Written markup continues the page: rows, and a tag cut across writes.
    EXPECT_EQ(render(u"<table><script>for (var i = 0; i < 3; ++i) document.write('<tr><td>' + i + ',</td>‖</tr>')"
                     u"</script></table>"_qs),
              u"0,‖\r\n1,‖\r\n2,‖\r\n"_qs);
    EXPECT_EQ(render(u"<script>document.write('a<b'); document.write('r>b')</script>"_qs), u"a\r\nb"_qs);
    EXPECT_EQ(render(u"<script>document.writeln('a'); document.write('b', 'c')</script>"_qs), u"a bc"_qs);
    // A script written by a script runs at once, before the writer goes on.
    EXPECT_EQ(render(u"<script>document.write('<script>var inner = 7;<\\/script>'); document.write(inner)</script>"_qs),
              u"7"_qs);
}

TEST(VisibleText, ScriptErrorsAreSwallowedAndThePageGoesOn) {
    EXPECT_EQ(render(u"a<script>document.write('b'); undefinedFunction(); document.write('x')</script>c"
                     u"<script>this is not javascript</script>d<script>throw 1</script>e"_qs),
              u"abcde"_qs);
    // The stand-ins for the browser's objects do not throw.
    EXPECT_EQ(render(u"<script>document.getElementById('odds').innerHTML = 'y'; window.alert('x');"
                     u"console.log(1); setTimeout(function(){document.write('late')}, 0);"
                     u"document.write(navigator.userAgent.length > 0, typeof window.document.write)</script>"_qs),
              u"truefunction"_qs);
}

TEST(VisibleText, ScriptsThatDoNotRun) {
    EXPECT_EQ(render(u"<script src=\"x.js\">document.write('a')</script>"
                     u"<script type=\"text/template\">document.write('b')</script>"
                     u"<script type=\"module\">document.write('c')</script>"
                     u"<script type=\" Text/JavaScript \">document.write('d')</script>"
                     u"<script language=\"javascript\">document.write('e')</script>"
                     u"<script language=\"vbscript\">document.write('f')</script>"
                     u"<script>document.write('unclosed')"_qs),
              u"de"_qs);
}

TEST(VisibleText, SandboxReachesNothingOutside) {
    EXPECT_EQ(render(u"<script>document.write(typeof XMLHttpRequest, ' ', typeof require, ' ', typeof Qt, ' ',"
                     u" typeof print, ' ', typeof importScripts)</script>"
                     u"<script>import('file:///etc/passwd').then(function () { document.write('loaded') })</script>"_qs),
              u"undefined undefined undefined undefined undefined"_qs);
}

TEST(VisibleText, HtmlCommentLinesInScriptsAreComments) {
    EXPECT_EQ(render(u"<script language=\"javascript\">\n<!--\ndocument.write('ok')\n//-->\n</script>"_qs), u"ok"_qs);
    EXPECT_EQ(render(u"<script>\n<!-- hide\ndocument.write('a')\n-->\n</script>"_qs), u"a"_qs);
    // In the escaped script states a "</script>" inside "<!-- <script> ... -->"
    // does not end the script.
    EXPECT_EQ(render(u"<script><!--\nvar s = \"<script>a</script>\";\ndocument.write(s.length)\n//--></script>X"_qs),
              u"18X"_qs);
}

TEST(VisibleText, RunawayScriptIsStoppedAndThePageGoesOn) {
    PageRenderer::Limits limits;
    limits.scriptTime = 100ms;
    EXPECT_EQ(render(u"a<script>document.write('b'); while (true) {}</script>c<script>document.write('d')</script>"_qs,
                     limits),
              u"abcd"_qs);
    // The page's scripts together are bounded too: the later ones are skipped.
    limits.pageScriptTime = 250ms;
    QString page;
    for (int i = 0; i < 20; ++i)
        page += u"<script>for (;;) {}</script>"_qs;
    EXPECT_EQ(render(page + u"end<script>document.write('skipped')</script>"_qs, limits), u"end"_qs);
}

TEST(VisibleText, WrittenOutputIsCapped) {
    PageRenderer::Limits limits;
    limits.writtenChars = 100;
    // The writer is stopped at the cap instead of running out its time.
    const QString written = render(u"<script>for (;;) document.write('xxxxxxxxxx')</script>after"_qs, limits);
    EXPECT_EQ(written, QString(100, u'x') + u"after"_qs);
}

TEST(VisibleText, SelfWritingScriptStopsAtTheNestingBound) {
    PageRenderer::Limits limits;
    limits.scriptNesting = 5;
    // Each script writes the next one: the page and four written levels run.
    const QString recursive = u"<script>function again() { return '<script>n = (typeof n == \"number\") ? n + 1 : 1;"
                              u" document.write(n + \" \"); document.write(again());<\\/script>'; }"
                              u"document.write(again());</script>end"_qs;
    EXPECT_EQ(render(recursive, limits), u"1 2 3 4 end"_qs);
}

TEST(VisibleText, AnalysisDumpPage) {
    // The local page the analysis extraction builds: the site's script with
    // its arrays, then the dump statements.
    const QString page = u"<script language=\"javascript\">var lang = 0; var h_data = [[1,'2024-01-02','英超',3],"
                         u"[2,'2023-12-30','英超',1]]; var a_data = []; var v_data = [['x']];"
                         u"var h2h_home = 19; var h2h_away = 25; var hometeam = '曼联'; var guestteam = '切尔西';"
                         u"var strTime = '2024-01-05 20:00';"
                         u"var len = h_data.length;for(var i=0;i<len;i++){document.write (h_data[i]+\"|\");}"
                         u"document.write (\"$\");"
                         u"var len = a_data.length;for(var i=0;i<len;i++){document.write (a_data[i]+\"|\");}"
                         u"document.write (\"$\");"
                         u"var len = v_data.length;for(var i=0;i<len;i++){document.write (v_data[i]+\"|\");}"
                         u"document.write (\"$\");"
                         u"document.write (h2h_home+\",\"+h2h_away+\",\"+hometeam+\",\"+guestteam+\",\"+strTime);"
                         u"</SCRIPT>\n"_qs;
    EXPECT_EQ(render(page), u"1,2024-01-02,英超,3|2,2023-12-30,英超,1|$$x|$19,25,曼联,切尔西,2024-01-05 20:00"_qs);
}

TEST(VisibleText, TenMegabytePage) {
    QString page = u"<html><body><table>"_qs;
    int rows = 0;
    while (page.size() < 10 * 1024 * 1024) {
        page += u"<tr><td>%1,</td><td>&nbsp;主队 &amp; 客队,</td><td>1.95,</td>‖</tr>\n"_qs.arg(rows);
        ++rows;
    }
    page += u"</table></body></html>"_qs;
    const QString text = render(page);
    EXPECT_EQ(text.count(u"\r\n"_qs), rows);
    EXPECT_EQ(text.count(u'‖'), rows);
    EXPECT_TRUE(text.startsWith(u"0,\u00A0主队 & 客队,1.95,‖\r\n1,"_qs));
    EXPECT_TRUE(text.endsWith(u"%1,\u00A0主队 & 客队,1.95,‖\r\n"_qs.arg(rows - 1)));
}

TEST(VisibleText, TooLargeAPageIsRefused) {
    PageRenderer::Limits limits;
    limits.pageChars = 11;
    EXPECT_THROW(render(u"<p>0123456789</p>"_qs, limits), StepFailure);
    EXPECT_THROW(PageRenderer(limits).bodyMarkup(u"<p>0123456789</p>"_qs), StepFailure);
    EXPECT_EQ(render(u"<p>0123</p>"_qs, limits), u"0123"_qs);
}

// Every cut through the page gives the same text as the whole page: the
// tokenizer keeps its place across pieces in every state.
TEST(VisibleText, WholeAndFedInPiecesAgree) {
    const QString page =
        u"<!DOCTYPE html><html><head><title>t &amp; t</title><meta charset=\"gb2312\">"
        u"<style>td { x: \"</td>\" }</style></head><body>\n"
        u"<p class=a id='b' data-x=c disabled>Text &notit; &#x4E2D;&#25991; &nbsp; &copy2020 &amp</p>\n"
        u"<!-- comment <b>with</b> -- markup --!>\n<!--->after<!---->\n"
        u"<table><tr><td>a,</td><td>&lt;b&gt;,</td>‖</tr><tr><td>c<td>d</table>\n"
        u"<script>var s = '<!--'; document.write('<i>w' + 'ritten</i> ' + s.length)</script>\n"
        u"<script><!-- <script>x</script> --></script>tail<pre>\r\n  p  re\r\n</pre>"
        u"<textarea>&lt;hidden</textarea><xmp><raw></xmp>end<br/>&#3000000000;&#x80"_qs;
    const QString whole = render(page);
    EXPECT_TRUE(whole.contains(u"written 4"_qs)) << whole.toStdString();
    for (qsizetype piece : {1, 2, 3, 5, 7, 16, 64})
        EXPECT_EQ(fedInPieces(page, piece), whole) << "pieces of " << piece;
    QRandomGenerator random(20240105);
    for (int round = 0; round < 20; ++round) {
        PageRenderer renderer;
        PageRenderer::TextStream stream(renderer);
        for (qsizetype at = 0; at < page.size();) {
            const qsizetype length = random.bounded(1, 12);
            stream.feed(QStringView(page).mid(at, length));
            at += length;
        }
        EXPECT_EQ(stream.finish(), whole) << "round " << round;
    }
}

TEST(BodyMarkup, ClosingScriptTagsWrittenUpperCase) {
    const QString page = u"<html><head><script>var inHead = 1;</script></head>\n<body bgcolor=\"#fff\">"
                         u"<div>x</div><script type=\"text/javascript\">\nfunction show_info(URL) {}\n"
                         u"var h_data = ['a</b>'];\n</script ><p>y</p><Script>var b = '<\\/script>';</sCrIpT>"
                         u"<script><!-- <script>z</script> --></script></body></html>\n"_qs;
    EXPECT_EQ(PageRenderer().bodyMarkup(page),
              u"<div>x</div><script type=\"text/javascript\">\nfunction show_info(URL) {}\nvar h_data = ['a</b>'];\n"
              u"</SCRIPT><p>y</p><Script>var b = '<\\/script>';</SCRIPT>"
              u"<script><!-- <script>z</script> --></SCRIPT>\n"_qs);
}

TEST(BodyMarkup, WhereTheBodyStarts) {
    const PageRenderer renderer;
    EXPECT_EQ(renderer.bodyMarkup(u"<head><title>t</title></head><p>a</p>"_qs), u"<p>a</p>"_qs);
    EXPECT_EQ(renderer.bodyMarkup(u"<p>fragment</p>"_qs), u"<p>fragment</p>"_qs);
    // A "<body>" inside a comment or a script is not the body tag.
    EXPECT_EQ(renderer.bodyMarkup(u"<!-- <body> --><script>'<body>'</script><body>b"_qs), u"b"_qs);
    // A script open at the end is closed.
    EXPECT_EQ(renderer.bodyMarkup(u"<body><script>var x = 1;"_qs), u"<script>var x = 1;</SCRIPT>"_qs);
}

TEST(BodyMarkup, AnalysisScriptCutsAtTheFirstUpperCaseEnd) {
    const QString page = u"<html><body><script language=javascript>\nvar lang = 0;\nvar h_data = [[1,2]];\n"
                         u"function show_info(URL) { window.open(URL); }\nvar a_data = [];\n</script>\n"
                         u"<script>other()</script></body></html>"_qs;
    const QString markup = PageRenderer().bodyMarkup(page);
    const qsizetype start = markup.indexOf(u"function show_info(URL)"_qs);
    ASSERT_GE(start, 0);
    const QString code = markup.mid(start, markup.indexOf(u"</SCRIPT>"_qs, start) - start).trimmed();
    EXPECT_EQ(code, u"function show_info(URL) { window.open(URL); }\nvar a_data = [];"_qs);
}

} // namespace
