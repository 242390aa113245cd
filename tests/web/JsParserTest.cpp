// The script parser that decides what runs without the engine: whatever it
// accepts must be a script the engine compiles, and plain-data literals come
// back as values.
#include "script/JsParser.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <QJSEngine>
#include <QRandomGenerator>

using namespace chenglan;
using namespace chenglan::js;

namespace {

// Compiles without running anything: the thrown 0 stops the script before
// its first statement.
bool engineCompiles(QJSEngine &engine, const QString &script) {
    const QJSValue result = engine.evaluate(u"throw 0;\n"_qs + script);
    return !(result.isError() && result.errorType() == QJSValue::SyntaxError);
}

bool parses(const QString &script, ParseFacts *factsOut = nullptr) {
    Ast ast;
    ParseFacts facts;
    const bool ok = parseScript(script, ast, facts);
    if (factsOut)
        *factsOut = facts;
    return ok;
}

// The initializer of the first declarator of the script's first statement.
const Node &firstInitializer(const Ast &ast) {
    const Node &var = ast.node(ast.child(ast.node(ast.program), 0));
    return ast.node(ast.node(ast.child(var, 0)).a);
}

QString constantJson(const QString &script) {
    Ast ast;
    ParseFacts facts;
    if (!parseScript(script, ast, facts))
        return QStringLiteral("(no parse)");
    const Node &init = firstInitializer(ast);
    if (init.kind != NodeKind::Constant)
        return QStringLiteral("(not a constant)");
    QString json;
    if (!appendJson(json, ast.constants[size_t(init.value)]))
        return QStringLiteral("(no JSON)");
    return json;
}

const QStringList validScripts = {
    // The sample site's own scripts.
    u"function $(id) { return document.getElementById(id); }\r\n"
    u"function setCookie(name, value) {\r\n"
    u"    var d = new Date(); d.setTime(d.getTime() + 30 * 24 * 3600 * 1000);\r\n"
    u"    document.cookie = name + \"=\" + escape(value) + \";expires=\" + d.toGMTString() + \";path=/\";\r\n"
    u"}\r\n"
    u"function showTab(n) {\r\n"
    u"    for (var i = 1; i <= 4; i++) { var t = $(\"tab\" + i); if (t) t.className = (i == n ? \"on\" : \"\"); }\r\n"
    u"}\r\n"_qs,
    u"function drawList(data, boxId, teamId, count) {\n var box = document.getElementById(boxId);\n if (!box) return;\n"
    u" var win = 0, draw = 0, lose = 0;\n for (var i = 0; i < data.length && i < count; i++) {\n  var r = data[i];\n"
    u"  var cells = [r[2], r[0], r[8] + \"-\" + r[9], r[21] || \"\"];\n"
    u"  for (var j = 0; j < cells.length; j++) tr.insertCell(-1).innerHTML = cells[j];\n"
    u"  if (r[12] == 1) win++; else if (r[12] == 0) draw++; else lose++;\n }\n"
    u" sum.innerHTML = \"近\" + Math.min(count, data.length) + \"场\";\n}\n"_qs,
    u"function addFavorite() {\n try { window.external.addFavorite(window.location.href, document.title); }\n"
    u" catch (e) { alert(\"x\"); }\n}\n"_qs,
    // Automatic semicolons, and where there are none.
    u"var a = 1\nvar b = a\n++b\nb\n--a"_qs,
    u"x = y\n(z)"_qs,
    u"do x++; while (x < 3)\ny = 1"_qs,
    u"for (;;) { if (a) break; else continue }"_qs,
    u"while (a) { switch (a) { case 1: break; default: a = 0 } }"_qs,
    u"function f() { return\n1 }"_qs,
    // Expressions.
    u"a = b ? c : d ? e : f; a = typeof typeof x; a = void 0; delete a.b; a.if = 1;"_qs,
    u"o = {if: 1, 'class': 2, 3: 4, get: 5, set: 6,}; a = o['class'] + o[3];"_qs,
    u"new a.b.C(1)(2); new D; new new E()(); (function () {})(); !function () {}();"_qs,
    u"x = function f() { return x }; i = j++ / 2; k = 1..toString(); a['b']['c'] = [,1,,]"_qs,
    u"s = s.replace(/-/g, ''); t = /[/]\\//i.test(s); u = a / b / c;"_qs,
    u"for (var k in o) {} for (k in o); for (var i = 0, n = a.length; i < n; ++i);"_qs,
    u"a <<= 1; a >>= 1; a >>>= 1; a &= 1; a |= 1; a ^= 1; a %= 2; b = a >>> 1 & 3 | 4 ^ ~5;"_qs,
    u"if (a in b && c instanceof d) throw new Error('x')"_qs,
    u"try { f() } finally { g() } try { f() } catch (e) { g(e) } finally { h() }"_qs,
    u"/* a\n comment */ a = 1 // another\n/* */b = 2"_qs,
    u"var data = [['22-10-03', '#009900', '日职', 25, -1, -0.5, 1.25e2, .5, 5., 0x1F, \"q\\\"q\", 'it\\'s'], []];"_qs,
    u"document.write ('\\x41\\u4e2d\\n\\t\\\\\\/\\0' + \"\\\r\nnext line\")"_qs,
};

} // namespace

TEST(JsParser, AcceptsThePlainEs5FormsPagesUseAndTheEngineCompilesThem) {
    QJSEngine engine;
    for (const QString &script : validScripts) {
        EXPECT_TRUE(parses(script)) << script.toStdString();
        EXPECT_TRUE(engineCompiles(engine, script)) << script.toStdString();
    }
}

TEST(JsParser, RefusesWhatItCannotBeSureOf) {
    const QStringList refused = {
        // Later syntax.
        u"let x = 1"_qs, u"const y = 2"_qs, u"f = x => x"_qs, u"s = `t`"_qs, u"a = b?.c"_qs, u"a = b ?? c"_qs,
        u"a = 2 ** 3"_qs, u"f(...a)"_qs, u"class A {}"_qs, u"a ||= b"_qs, u"n = 0o7"_qs, u"n = 0b1"_qs, u"n = 1_000"_qs,
        u"s = '\\u{41}'"_qs, u"r = /x/gg"_qs, u"r = /x/y"_qs, u"r = /x/s"_qs,
        // Forms with their own rules.
        u"l: for (;;) break l;"_qs, u"with (o) x"_qs, u"debugger;"_qs, u"o = {get x() { return 1 }}"_qs,
        u"o = {x}"_qs, u"if (a) function f() {}"_qs, u"{ function g() {} }"_qs,
        // Faults.
        u"return 1"_qs, u"break;"_qs, u"while (a) function f() { continue }"_qs, u"var 1a"_qs, u"1 = 2"_qs,
        u"f() = 1"_qs, u"a++ ++"_qs, u"throw\n1"_qs, u"for (var a = 1 in o);"_qs, u"function f(a, a) {}"_qs,
        u"var yield = 1"_qs, u"var let = 1"_qs, u"n = 0x"_qs, u"n = 1e"_qs, u"3in x"_qs, u"function () {}"_qs,
        u"{a: 1}.a"_qs, u"/* unclosed"_qs, u"s = 'unclosed"_qs, u"s = 'line\nbreak'"_qs, u"a = (1"_qs, u"a = [1"_qs,
        u"if (a) /x/.test(b)"_qs, u"do x++; while (x) y"_qs, u"/s/\r--e"_qs,
        // What the engine reads differently or not at all.
        u"n = 010"_qs, u"n = 08"_qs, u"s = '\\1'"_qs, u"s = '\\08'"_qs, u"var \\u0061 = 1"_qs, u"var 变量 = 1"_qs,
        u"a = 1 <!-- b"_qs, u"x --> 0"_qs, u"s = 'a\u2028b'"_qs, u"n = 1e400"_qs, u"a.function\nb"_qs,
        u"a.x.function\n++b"_qs,
    };
    for (const QString &script : refused)
        EXPECT_FALSE(parses(script)) << script.toStdString();
}

// Trees deeper than the walks over them may recurse are refused, also the
// chains the parser reads in a loop; the scripts go to the engine instead.
TEST(JsParser, RefusesTreesTooDeepToWalk) {
    const auto chain = [](const QString &head, const QString &link, int n) { return head + link.repeated(n); };
    EXPECT_TRUE(parses(chain(u"x = 1"_qs, u" + 1"_qs, 2000)));
    EXPECT_FALSE(parses(chain(u"x = 1"_qs, u" + 1"_qs, 100000)));
    EXPECT_FALSE(parses(chain(u"x = a"_qs, u".b"_qs, 100000)));
    EXPECT_FALSE(parses(chain(u"x = a"_qs, u"[0]"_qs, 100000)));
    EXPECT_FALSE(parses(chain(u"f"_qs, u"()"_qs, 100000)));
    // A sequence is one node with many children, not a chain.
    EXPECT_TRUE(parses(u"x = (1"_qs + u", 1"_qs.repeated(100000) + u")"_qs));
    // Nested a chain at a time: the depth counts across them.
    EXPECT_FALSE(parses(u"x = "_qs + u"(1 + 1 + 1 + 1 + 1 + 1 + 1 + 1 + 1 + 1 + "_qs.repeated(250) + u"1"_qs
                        + u")"_qs.repeated(250)));
}

// Changed at random, the scripts above still never parse where the engine
// would refuse them.
TEST(JsParser, WhateverItAcceptsTheEngineCompiles) {
    QJSEngine engine;
    QRandomGenerator random(20221009);
    static const QString pieces[] = {u"("_qs, u")"_qs, u"{"_qs, u"}"_qs, u"["_qs, u"]"_qs, u";"_qs, u","_qs,
                                     u"\n"_qs, u"/"_qs, u"'"_qs, u"="_qs, u"+"_qs, u"."_qs, u"var "_qs, u"x"_qs,
                                     u"function "_qs, u"return "_qs, u"1"_qs, u"?"_qs, u":"_qs, u"in "_qs,
                                     u"++"_qs, u"--"_qs, u"/*\n*/"_qs, u"\""_qs, u"."_qs, u"break "_qs, u"-"_qs};
    int accepted = 0;
    for (int round = 0; round < 3000; ++round) {
        QString script = validScripts[random.bounded(int(validScripts.size()))];
        for (int edits = 1 + random.bounded(3); edits > 0; --edits) {
            const qsizetype at = random.bounded(int(script.size()));
            if (random.bounded(2))
                script.remove(at, 1 + random.bounded(3));
            else
                script.insert(at, pieces[random.bounded(int(std::size(pieces)))]);
        }
        if (!parses(script))
            continue;
        ++accepted;
        ASSERT_TRUE(engineCompiles(engine, script)) << script.toStdString();
    }
    EXPECT_GT(accepted, 100); // the test exercised acceptance, not only refusal
}

TEST(JsParser, ReportsRegularExpressionsAndStrictMode) {
    ParseFacts facts;
    ASSERT_TRUE(parses(u"a = b / c / d; e = f++ / 2"_qs, &facts));
    EXPECT_FALSE(facts.regex);
    ASSERT_TRUE(parses(u"a = /x/g.test(s)"_qs, &facts));
    EXPECT_TRUE(facts.regex);
    ASSERT_TRUE(parses(u"'use strict'; a = 1"_qs, &facts));
    EXPECT_TRUE(facts.strict);
    ASSERT_TRUE(parses(u"a = 'use\\x20strict'"_qs, &facts));
    EXPECT_FALSE(facts.strict);
}

TEST(JsParser, PlainDataArrayLiteralsBecomeOneValue) {
    EXPECT_EQ(constantJson(u"var a = [1, -2.5, 'x', \"y\", true, false, null, [3, [4, []]], 0];"_qs),
              u"[1,-2.5,\"x\",\"y\",true,false,null,[3,[4,[]]],0]"_qs);
    // A constant still, but the engine's JSON.parse would read -0 as 0.
    EXPECT_EQ(constantJson(u"var a = [1, -0];"_qs), u"(no JSON)"_qs);
    EXPECT_EQ(constantJson(u"var a = ['\\x41\\u4e2d\\n', 'it\\'s', \"q\\\"q\", '\\\\', 'a]b', 'c,d', '\\u0001'];"_qs),
              u"[\"A中\\u000a\",\"it's\",\"q\\\"q\",\"\\\\\",\"a]b\",\"c,d\",\"\\u0001\"]"_qs);
    EXPECT_EQ(constantJson(u"var a = [1e21, 1.5e-7, .5, 5., 0x1F, 123456789012345678, -1e-7, 2E+3];"_qs),
              u"[1e+21,1.5e-7,0.5,5,31,123456789012345680,-1e-7,2000]"_qs);
    EXPECT_EQ(constantJson(u"var a = [ // comment\n  1 /* c */, - 2 ,\n[ ] ];"_qs), u"[1,-2,[]]"_qs);
    // Not plain data: holes, expressions, and what follows the literal.
    EXPECT_EQ(constantJson(u"var a = [1,,2];"_qs), u"(not a constant)"_qs);
    EXPECT_EQ(constantJson(u"var a = [1, 1 + 2];"_qs), u"(not a constant)"_qs);
    EXPECT_EQ(constantJson(u"var a = [x, -x];"_qs), u"(not a constant)"_qs);
    EXPECT_EQ(constantJson(u"var a = [1, 2][0];"_qs), u"(not a constant)"_qs);
    EXPECT_EQ(constantJson(u"var a = [1, 2]\n[0];"_qs), u"(not a constant)"_qs);
    EXPECT_EQ(constantJson(u"var a = [1, 2].length;"_qs), u"(not a constant)"_qs);
    EXPECT_EQ(constantJson(u"var a = [[1], [f()]];"_qs), u"(not a constant)"_qs);
}

TEST(JsParser, NodesCoverTheirSource) {
    const QString script = u"var x = 0; var data = [[1, 'a'],\r\n [2, 'b']]; x++;"_qs;
    Ast ast;
    ParseFacts facts;
    ASSERT_TRUE(parseScript(script, ast, facts));
    const Node &program = ast.node(ast.program);
    ASSERT_EQ(program.count, 3);
    const Node &var = ast.node(ast.child(program, 1));
    EXPECT_EQ(script.mid(var.begin, var.end - var.begin), u"var data = [[1, 'a'],\r\n [2, 'b']];"_qs);
    const Node &init = ast.node(ast.node(ast.child(var, 0)).a);
    EXPECT_EQ(script.mid(init.begin, init.end - init.begin), u"[[1, 'a'],\r\n [2, 'b']]"_qs);
}
