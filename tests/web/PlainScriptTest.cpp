// Scripts run without the engine against the same scripts run in it: the
// text written and whether the script completed must be the same, and what
// the plain run cannot do it must leave to the engine without a trace.
#include "script/JsInterpreter.h"
#include "html/PageRenderer.h"
#include "script/ScriptSandbox.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

#include <cmath>
#include <cstring>
#include <limits>

using namespace chenglan;
using namespace std::chrono_literals;

namespace {

struct Ran {
    QString written;
    bool completed = false;
    bool plain = true; // false: the plain run left the script to the engine
};

Ran inEngine(const QString &script) {
    Ran ran;
    ScriptSandbox::Options engineOnly;
    engineOnly.withoutEngine = false;
    engineOnly.literalsAsData = false;
    ScriptSandbox sandbox([&](const QString &text) { ran.written += text; }, engineOnly);
    ran.completed = sandbox.run(script, 10s) == ScriptSandbox::Outcome::Completed;
    ran.plain = false;
    return ran;
}

Ran withoutEngine(const QString &script) {
    Ran ran;
    js::Ast ast;
    js::ParseFacts facts;
    if (!js::parseScript(script, ast, facts) || !js::Interpreter::accepts(ast, facts)) {
        ran.plain = false;
        return ran;
    }
    js::Interpreter interpreter;
    const auto result = interpreter.run(ast, ran.written, std::numeric_limits<qsizetype>::max(),
                                        std::chrono::steady_clock::now() + 10s);
    ran.plain = result != js::Interpreter::Result::Unsupported;
    ran.completed = result == js::Interpreter::Result::Completed;
    return ran;
}

void expectSameWithoutEngine(const QString &script) {
    const Ran plain = withoutEngine(script);
    const Ran engine = inEngine(script);
    ASSERT_TRUE(plain.plain) << "left to the engine: " << script.toStdString();
    EXPECT_EQ(plain.written, engine.written) << script.toStdString();
    EXPECT_EQ(plain.completed, engine.completed) << script.toStdString();
}

QString render(const QString &html, bool withoutEngine, bool literalsAsData,
               PageRenderer::Limits limits = PageRenderer::Limits()) {
    ScriptSandbox::Options options;
    options.withoutEngine = withoutEngine;
    options.literalsAsData = literalsAsData;
    return PageRenderer(limits, options).visibleText(html);
}

// The page renders the same with each short cut and with none.
void expectSameEveryWay(const QString &html, PageRenderer::Limits limits = PageRenderer::Limits()) {
    const QString engine = render(html, false, false, limits);
    EXPECT_EQ(render(html, true, false, limits), engine) << html.toStdString();
    EXPECT_EQ(render(html, false, true, limits), engine) << html.toStdString();
    EXPECT_EQ(render(html, true, true, limits), engine) << html.toStdString();
}

} // namespace

TEST(PlainScript, WritesNumbersAsTheEngineDoes) {
    QString script;
    for (const char *literal : {"0", "-0", "1", "-1", "0.1", "0.1 + 0.2", "1 / 3", "-2 / 3", "100", "1e21", "1e20",
                                "123456789012345678901", "1e-6", "1e-7", "1.5e-7", "0.000001234", "5e-324",
                                "1.7976931348623157e308", "1e308 * 10", "-1e308 * 10", "0 / 0", "4294967296 * 4294967296",
                                "9007199254740993", "0.5", "25.75", "1234.5678", "1 / 7 * 1e25", "-1e-300"}) {
        script += QStringLiteral("document.write(%1, ' ');").arg(QLatin1String(literal));
    }
    expectSameWithoutEngine(script);

    // Doubles of every size, written with 17 digits so they read back exactly.
    QRandomGenerator random(7);
    for (int batch = 0; batch < 20; ++batch) {
        QString numbers;
        for (int i = 0; i < 100; ++i) {
            double value;
            do {
                const quint64 bits = random.generate64();
                std::memcpy(&value, &bits, sizeof value);
            } while (!std::isnormal(value));
            if (i % 3 == 0)
                value = double(random.bounded(-100000, 100000)) / 100; // the records' kind of numbers
            numbers += QStringLiteral("document.write(%1, ' ');").arg(QString::number(value, 'g', 17));
        }
        expectSameWithoutEngine(numbers);
    }
}

TEST(PlainScript, OperatorsAsTheEngineDoesThem) {
    const QStringList scripts = {
        u"document.write(1 + '2', '2' + 1, [1, 2] + 3, 3 + [1, [2, 3]], [] + [], [null, undefined, 1] + '',"
        u" true + 1, null + 1, undefined + 1, 'a' + null, 'a' + undefined, 'a' + true, [[]] + [[], []])"_qs,
        u"document.write(7 % 3, -7 % 3, 7 % -3, 5.5 % 2, 1 / 0, -1 / 0, 0 / 0, -0 + '', 2 * 3, 10 - 2.5, 1 % 0,"
        u" -0 % 5, 1 / (-0 % 5), 3 - null, 3 * true, 1 / undefined)"_qs,
        u"document.write(1 < 2, 'a' < 'b', 'B' < 'a', 'abc' < 'ab', [2] > [10], null >= 0, undefined < 1,"
        u" NaN < 1, NaN >= NaN, 'z' >= 'z', 2 <= 2, [1, 2] < [1, 3], '中' > 'a')"_qs,
        u"document.write(1 == 1, 'a' == 'a', null == undefined, null == 0, undefined == 0, [1] == [1],"
        u" 1 === 1, '1' === 1, null === undefined, NaN == NaN, 0 === -0, true == 1, false == 0, [1] == '1',"
        u" null == false, true != 2, 'a' !== 'a', [] == '', undefined === undefined)"_qs,
        u"var a = [1]; var b = a; document.write(a == b, a === b, a === [1], a != b)"_qs,
        u"document.write(5 & 3, 5 | 3, 5 ^ 3, ~5, 1 << 31, -1 >>> 0, -16 >> 2, 2147483648 | 0, 4294967296.5 | 0,"
        u" -2147483649 | 0, 1e21 | 0, NaN | 0, 1 << 33, -1 >>> 31, ~-1.5, 2147483647 + 1 | 0)"_qs,
        u"document.write(!0, !'', !'a', ![], !null, -true, +null, +undefined, void 7, -(-0) + '', !!NaN)"_qs,
        u"function f() {} var n = null; document.write(typeof 1, typeof 'a', typeof [], typeof n, typeof undefined,"
        u" typeof nothing, typeof document, typeof f, typeof typeof 1, typeof NaN)"_qs,
        u"document.write(0 || 'a', 1 && 'b', null || undefined, '' && x, 1 || x, (1, 2, 3), 0 ? 'y' : 'n',"
        u" [] ? 'y' : 'n', '' || 0 || null)"_qs,
        u"var a = 1; a += 2; a -= 0.5; a *= 4; a /= 2; a %= 4; a <<= 3; a >>= 1; a >>>= 1; a &= 7; a |= 8; a ^= 3;"
        u" document.write(a); var s = 'x'; s += 1; s += [2, 3]; s += null; document.write(s)"_qs,
        u"var i = 0; document.write(i++, ++i, i--, --i, i); var u; u++; document.write(u);"
        u" var n = null; n++; document.write(n); var t = true; t += 1; document.write(t)"_qs,
        u"var a = [1, [2, 3], 'x']; document.write(a.length, a[1][0], a[5], a[-1], a[1.5], 'abc'.length, 'abc'[1],"
        u" 'abc'[9], a[NaN], a[1].length, a[2][0], ''.length, a[1e21])"_qs,
        u"document.write('\\x41\\u4e2d\\n\\t\\\\', \"q\\\"q\", 'it\\'s', '<b>', '&amp;'); document.writeln('a');"
        u" document.writeln(); document.write('b', 'c')"_qs,
    };
    for (const QString &script : scripts)
        expectSameWithoutEngine(script);
}

TEST(PlainScript, TheEngineKeepsTheSignOfAZeroProduct) {
    // The engine multiplies integers as integers, which drops the sign of a
    // zero product; the language keeps it, and so does our interpreter.
    expectSameWithoutEngine(u"var z = 0, m = -1; document.write(1 / (z * m), 1 / (m * z), 1 / (z * -1), 1 / (z * z),"
                            u" 1 / (-1 * z * 3), 1 / ((m) /* * */ * (z)), 1 / (-0 * -1));"
                            u" var q = 0; q *= -3; document.write(1 / q, ' ', 2 * 3 * 7)"_qs);
    // What sends a page to the engine (an object) changes nothing; nor does a
    // property as the target of "*=".
    const QString page = u"<script>var o = {}; var z = 0, m = -1; var a = [0]; a[0] *= -2;"
                         u" document.write(1 / (z * m), ' ', 1 / a[0], ' ', 1 / ('-1' * 0), ' ', 'a' * 2);</script>"_qs;
    EXPECT_EQ(render(page, false, false), QStringLiteral("-Infinity -Infinity -Infinity NaN"));
    expectSameEveryWay(page);
}

TEST(PlainScript, StatementsHoistingAndLoops) {
    const QStringList scripts = {
        u"for (var i = 0; i < 5; i++) { if (i == 1) continue; if (i == 4) break; document.write(i) }"_qs,
        u"var n = 3; while (n) { document.write(n--); } do { document.write('d') } while (false)"_qs,
        u"for (var i = 0; i < 3; ++i) for (var j = 0; j < 3; ++j) { if (j > i) break; document.write(i, j, ' ') }"_qs,
        u"var k = 0; for (;;) { if (++k > 4) break } document.write(k); for (; k < 6;) k++; document.write(k)"_qs,
        u"document.write(typeof v, v); var v = 1; document.write(v); { var w = 2 } document.write(w)"_qs,
        u"document.write(typeof g); function g() {} var h2 = 1; function h2() {} document.write(typeof h2)"_qs,
        u"function h() {} var h; document.write(typeof h); if (false) { var never = 1 } document.write(never)"_qs,
        u"y = 5; document.write(y); y += 1; document.write(y)"_qs,
        u"var len = 2; var data = [[1, 'a'], [2, 'b']];"
        u"for (var i = 0; i < len; i++) { document.write (data[i] + \"|\"); } document.write (\"$\");"_qs,
        // Script errors end the script where the engine's ends.
        u"document.write('a'); nothing; document.write('b')"_qs,
        u"document.write('a', nothing); document.write('b')"_qs,
        u"var x; document.write('a'); document.write(x.length); document.write('b')"_qs,
        u"var n = null; document.write(n[0])"_qs,
        u"document.write(undefined.x)"_qs,
        u"q += 1"_qs,
        u"q++"_qs,
    };
    for (const QString &script : scripts)
        expectSameWithoutEngine(script);
}

TEST(PlainScript, LeavesToTheEngineWhatItCannotDo) {
    const QStringList scripts = {
        u"document.write(Math.max(1, 2))"_qs,
        u"document.write('5' * 2)"_qs,
        u"document.write([1] == 1)"_qs,
        u"var o = {a: 1}; document.write(o.a)"_qs,
        u"document.write(/a/.test('a'))"_qs,
        u"function f() { return 1 } document.write(f())"_qs,
        u"document.write(this === window)"_qs,
        u"document.write(new Array(3).length)"_qs,
        u"var a = [1,, 2]; document.write(a)"_qs,
        u"for (var k in [1, 2]) document.write(k)"_qs,
        u"switch (1) { case 1: document.write('one') }"_qs,
        u"try { x } catch (e) { document.write('caught') }"_qs,
        u"'use strict'; document.write(1)"_qs,
        u"document.write(typeof window)"_qs,
        u"var document = 1;"_qs,
        u"document.title = 'x'; document.write(document.title)"_qs,
        u"document.write([1, 2].join('-'))"_qs,
        u"var f = function () {}; document.write(f + '')"_qs,
        u"var a = [function () {}]"_qs,
        u"function f() {} document.write(f == f, f + 1)"_qs,
        u"document.write('x'); Math.abs(1); document.write('y')"_qs,
        u"var s = '1'; s++; document.write(s)"_qs,
        u"document.write(-'2', +[], 'a' < 1)"_qs,
        u"var toString = 1"_qs,
        u"name = 1; document.write(name, typeof escape)"_qs,
        u"document.write(arguments)"_qs,
    };
    for (const QString &script : scripts) {
        const Ran plain = withoutEngine(script);
        EXPECT_FALSE(plain.plain) << script.toStdString();
        EXPECT_TRUE(plain.written.isEmpty()) << script.toStdString(); // no trace
        expectSameEveryWay(u"<script>"_qs + script + u"</script>"_qs);
    }
}

TEST(PlainScript, KnowsEveryGlobalOfTheEngine) {
    // Every name the sandbox's engine defines must be known as the engine's,
    // or a plain run would call it undeclared.
    const QString names = render(u"<script>var names = [];"
                                 u" for (var o = this; o; o = Object.getPrototypeOf(o))"
                                 u"   names = names.concat(Object.getOwnPropertyNames(o));"
                                 u" document.write(names.join(' '))</script>"_qs,
                                 false, false);
    const QStringList list = names.split(u' ', Qt::SkipEmptyParts);
    ASSERT_GT(list.size(), 50);
    for (const QString &name : list) {
        if (name != u"names" && name != u"o") {
            EXPECT_TRUE(js::isEngineGlobal(name)) << name.toStdString();
        }
    }
}

TEST(PlainScript, AnEngineScriptAfterPlainOnesSeesTheirGlobalsAndTheirTextStaysOnce) {
    expectSameEveryWay(u"<script>var a = [[1, 'x'], [2, 'y']]; var n = a.length; document.write(n)</script>-"
                       u"<script>document.write(Math.max(n, 1), a[1][1], typeof leaked)</script>-"
                       u"<script>leaked = n + 1; document.write(leaked)</script>"_qs);
    EXPECT_EQ(render(u"<script>var a = [[1, 'x'], [2, 'y']]; var n = a.length; document.write(n)</script>-"
                     u"<script>document.write(Math.max(n, 1), a[1][1])</script>-<script>document.write(n + 1)</script>"_qs,
                     true, true),
              u"2-2y-3"_qs);
    // A plain script that stopped at an error leaves the same globals.
    expectSameEveryWay(u"<script>var b = 1; document.write('p'); missing(); b = 2</script>"
                       u"<script>document.write(Math.abs(b), typeof missing)</script>"_qs);
    // An engine script in the middle, then plain ones again.
    expectSameEveryWay(u"<script>var c = 1;</script><script>c = Math.floor(c * 2.5)</script>"
                       u"<script>document.write(c); var d = c + 1;</script><script>document.write(d)</script>"_qs);
}

TEST(PlainScript, PagesDoNotSeeEachOthersGlobals) {
    for (const bool withoutEngine : {true, false}) {
        const PageRenderer renderer(PageRenderer::Limits(), {withoutEngine, true});
        EXPECT_EQ(renderer.visibleText(u"<script>var leaked = 1; implicit = 2; function f() {}</script>"_qs), u""_qs);
        EXPECT_EQ(renderer.visibleText(u"<script>document.write(typeof leaked, typeof implicit, typeof f)</script>"_qs),
                  u"undefinedundefinedundefined"_qs);
        EXPECT_EQ(renderer.visibleText(u"<script>document.write(typeof leaked, typeof Math)</script>"_qs),
                  u"undefinedobject"_qs);
    }
}

TEST(PlainScript, WrittenScriptsRunInTheEngineAtOnce) {
    expectSameEveryWay(u"<script>document.write('<script>var inner = 7;<\\/script>'); document.write(inner)</script>"_qs);
    expectSameEveryWay(u"<script>document.write('<scr' + 'ipt>document.write(1)</scr' + 'ipt>', 2)</script>"_qs);
    expectSameEveryWay(u"<script>document.write('<SCRIPT>'); document.write('var late = 3</SCRIPT>');"
                       u" document.write(typeof late)</script>"_qs);
    expectSameEveryWay(u"<table><script>for (var i = 0; i < 3; ++i) document.write('<tr><td>' + i + ',</td>‖</tr>')"
                       u"</script></table>"_qs);
}

TEST(PlainScript, BoundsHoldWithoutTheEngine) {
    PageRenderer::Limits limits;
    limits.scriptTime = 100ms;
    // A runaway plain script is handed to the engine, whose watchdog stops it.
    EXPECT_EQ(render(u"a<script>document.write('b'); for (var i = 0; ; i++) {}</script>c<script>document.write('d')"
                     u"</script>"_qs,
                     true, true, limits),
              u"abcd"_qs);
    // The output cap: the same text as the engine's, cut at the same place.
    limits = PageRenderer::Limits();
    limits.writtenChars = 1000;
    expectSameEveryWay(u"<script>for (var i = 0; i < 500; i++) document.write('x' + i)</script>"
                       u"<script>document.write('after')</script>tail"_qs,
                       limits);
    expectSameEveryWay(u"<script>document.write('12345')</script><script>for (;;) document.write('xxxxxxxxxx')</script>"
                       u"<script>document.write('dropped'); var still = 1</script>end"_qs,
                       limits);
}

// Big data literals in scripts the engine runs are made from JSON: the same
// values, the same order of running.
TEST(PlainScript, LiteralsAsDataGiveTheEngineTheSameValues) {
    const QString padding = u"'padding to make the literal long enough to be worth it'"_qs;
    const QStringList scripts = {
        u"var a = ['\\x41\\u4e2d\\n', \"q\\\"q\", 'it\\'s', '\\\\', '\\/', '\\0', '\\b\\f\\v\\r\\t', 'a]b', 'c,d',"
        u" '[', ']]', '😀', '\\ud800', %1]; document.write(JSON.stringify(a), a[12].length)"_qs,
        u"var n = [-1, -0, 1e21, 1.5e-7, 0.1, 123456789012345678, 1.7976931348623157e308, -2.5E+3, .5, 5., 0x1F,"
        u" %1]; document.write(JSON.stringify(n), 1 / n[1])"_qs,
        u"var nested = [[1, [2, [3, []]]], [true, false, null], %1]; document.write(JSON.stringify(nested),"
        u" nested[0][1][1][1].length)"_qs,
        // A literal followed by code on the same line, several in one statement.
        u"var a = [1, 2, 3, %1], b = 2, c = [[4], %1]; document.write(a.length + Math.abs(-b) + c[0][0])"_qs,
        // Each literal is its own array, made when its statement runs.
        u"var before = typeof a; var a = [1, %1]; var b = [1, %1]; a.push(9);"
        u" document.write(before, a === b, a.length, b.length, Math.max(a.length, 0))"_qs,
        // Holes, literals inside functions and loops stay code.
        u"var h = [1,, 3, %1]; document.write(h.length, 1 in h, Math.abs(-1))"_qs,
        u"function f() { var x = [1, 2, %1]; x.push(1); return x.length } document.write(f(), f(), Math.abs(-1))"_qs,
        u"for (var i = 0; i < 2; i++) { var x = [i, %1]; x.push(i); document.write(x.length) } Math.abs(1)"_qs,
        // A script that names the hidden global runs as it stands.
        u"var __chenglan_literals0 = 5; var z = [1, %1]; document.write(__chenglan_literals0, z.length, Math.abs(-1))"_qs,
        // Line breaks in a literal.
        u"var m = [\r\n  [1, 'a'],\r\n  [2, 'b'],\r\n  %1\r\n];\r\ndocument.write(m.length, Math.abs(-2))"_qs,
    };
    for (const QString &script : scripts)
        expectSameEveryWay(u"<script>"_qs + script.arg(padding) + u"</script>"_qs);
}

TEST(ScriptSandbox, TheEngineSeesTheDocumentAndWindowStandIns) {
    // Every element look-up makes its own stand-in, whose properties hold
    // what was set on them.
    EXPECT_EQ(render(u"<script>var a = document.getElementById('a'), b = document.getElementById('a');"
                     u" a.style.color = 'red'; a.innerHTML = 'x'; var row = a.insertRow(-1);"
                     u" document.write(a === b, b.style.color === undefined, a.innerHTML, typeof row.insertCell,"
                     u" a.appendChild(5), a.getAttribute('x'), a.hasAttribute('x'), a.cloneNode(true).id === '',"
                     u" document.body.childNodes.length, document.createTextNode(3).data)</script>"_qs,
                     true, true),
              u"falsetruexfunction5nullfalsetrue03"_qs);
    EXPECT_EQ(render(u"<script>document.write(window === self, top === window, window.document === document,"
                     u" String(location), location.href, setTimeout(function () {}, 1), confirm('?'), prompt('?'),"
                     u" navigator.userAgent, screen.width, history.length, typeof console.log, open('x'),"
                     u" document.charset, frames.length)</script>"_qs,
                     true, true),
              u"truetruetrueabout:blankabout:blank0falsenullMozilla/5.010240functionnullgb23120"_qs);
}
