// Pages whose scripts attack the client: each is stopped within its bound,
// the page's own text before and after the script is kept, and the script
// reaches nothing but the language's built-ins and the document stand-ins.
#include "base/Step.h"
#include "script/JsInterpreter.h"
#include "script/JsParser.h"
#include "html/PageRenderer.h"
#include "script/ScriptEngineProcess.h"
#include "script/ScriptSandbox.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryFile>

#include <future>

#include <unistd.h>

using namespace chenglan;
using namespace std::chrono_literals;

namespace {

// Where a page's scripts run.
enum class Path {
    Plain,     // the plain interpreter first, the engine (in its process) for the rest
    Engine,    // the engine alone, in its child process
    InProcess, // the engine alone, in this process
};

const char *pathName(Path path) {
    switch (path) {
    case Path::Plain:
        return "plain";
    case Path::Engine:
        return "engine process";
    case Path::InProcess:
        return "engine in process";
    }
    return "";
}

ScriptSandbox::Options optionsFor(Path path) {
    ScriptSandbox::Options options;
    options.withoutEngine = path == Path::Plain;
    options.engineProcess = path != Path::InProcess;
    return options;
}

PageRenderer::Limits shortLimits() {
    PageRenderer::Limits limits;
    limits.scriptTime = 150ms;
    limits.pageScriptTime = 3000ms;
    limits.writtenChars = 100000;
    return limits;
}

struct Rendered {
    QString text;
    qint64 ms = 0;
    StepLog log;
};

Rendered render(const QString &html, Path path, PageRenderer::Limits limits = shortLimits()) {
    Rendered r;
    QElapsedTimer timer;
    timer.start();
    r.text = PageRenderer(limits, optionsFor(path)).visibleText(html, &r.log);
    r.ms = timer.elapsed();
    return r;
}

// How long a page with one hostile script may take: starting the engine's
// process and then the script are each bounded by the script's time and the
// grace before the process is killed; and room for a loaded machine.
qint64 boundMs(const PageRenderer::Limits &limits) {
    return 2 * (limits.scriptTime + ScriptEngineProcess::killGrace).count() + 1000;
}

struct Hostile {
    const char *name;
    QString script;
    // Runs within its bound in this process too; the others are stopped only
    // by killing the engine's process.
    bool boundedInProcess = true;
    // Reaches the cap on written output, after which nothing more is written.
    bool capsOutput = false;
};

// Each runs between two pieces of the page's own text.
const QList<Hostile> &hostileScripts() {
    static const QList<Hostile> scripts = {
        {"endless loop", u"while (true) {}"_qs},
        {"endless plain loop", u"var n = 0; for (var i = 0; ; i++) { n = n + i; }"_qs},
        {"endless loop after writing", u"document.write('w'); for (;;) {}"_qs},
        {"deep recursion", u"function f(n) { return f(n + 1) + 1; } f(0);"_qs},
        // The engine makes an error for every overflow and never looks at
        // the interruption.
        {"recursion that catches its overflow", u"function f() { try { f(); } catch (e) { f(); } } f();"_qs, false},
        {"catastrophic regular expression",
         u"var s = ''; for (var i = 0; i < 40; i++) s += 'a'; document.write(/^(a+)+$/.test(s + 'b'));"_qs},
        {"catastrophic regular expressions in a loop",
         u"var s = new Array(5000).join('a') + 'b'; for (;;) /(a|aa)*c/.test(s);"_qs},
        {"long string against a backtracking expression",
         u"var s = new Array(100000).join('a'); /(a+)+b/.test(s); /(.*){1,32000}[bc]/.test(s);"_qs},
        {"string doubling", u"var s = 'x'; for (;;) s += s;"_qs},
        {"string doubling read", u"var s = 'x'; for (var i = 0; i < 40; i++) { s += s; s.indexOf('y'); }"_qs},
        {"huge array joined", u"document.write(new Array(1e9).join('x').length);"_qs},
        {"array pushed without end", u"var a = []; for (;;) a.push('xxxxxxxxxxxxxxxx' + a.length);"_qs},
        {"huge repeat in one call", u"document.write('x'.repeat(1e9).length);"_qs, false},
        {"huge typed array", u"document.write(new Uint8Array(2e9).length);"_qs, false},
        {"big typed array", u"document.write(new Float64Array(1e8).length);"_qs, false},
        {"huge JSON text", u"document.write(JSON.stringify(new Array(1e8)).length);"_qs, false},
        {"long replace in one call", u"document.write('a'.repeat(3e7).replace(/a/g, 'bb').length);"_qs, false},
        {"long fill and join in one call", u"document.write(new Array(2e7).fill('ab').join('').length);"_qs, false},
        {"long sort in one call", u"var a = []; for (var i = 0; i < 3e6; i++) a.push(Math.random()); a.sort();"_qs,
         false},
        {"write flood", u"for (;;) document.write('<b>flood</b> ');"_qs, true, true},
        {"one huge write", u"document.write(new Array(1e7).join('x'));"_qs, true, true},
        {"writes that write scripts",
         u"function w() { document.write('<script>w()<\\/script>'); w(); } w();"_qs, true, true},
        {"document and window replaced", u"document = null; window = 5; top = 1; location = 'x';"_qs},
        {"built-ins polluted",
         u"Object.prototype.get = function () { throw 1; }; Object.prototype.value = 9;"
         u" String = function () { throw 2; }; Array.prototype.join = null; JSON.parse = null;"_qs},
    };
    return scripts;
}

class HostileScript : public ::testing::TestWithParam<Path> {};

TEST_P(HostileScript, IsStoppedWithinItsBoundAndThePageKeepsItsText) {
    const Path path = GetParam();
    const PageRenderer::Limits limits = shortLimits();
    for (const Hostile &hostile : hostileScripts()) {
        if (path == Path::InProcess && !hostile.boundedInProcess)
            continue;
        // The plain path differs from the engine's only for plain scripts.
        js::Ast ast;
        js::ParseFacts facts;
        if (path == Path::Plain
            && !(js::parseScript(hostile.script, ast, facts) && js::Interpreter::accepts(ast, facts)))
            continue;
        SCOPED_TRACE(std::string(pathName(path)) + ": " + hostile.name);
        const QString page = u"<p>before</p><script>"_qs + hostile.script + u"</script><p>after</p>"_qs
            + u"<script>document.write('later')</script>"_qs;
        const Rendered r = render(page, path, limits);
        EXPECT_TRUE(r.text.startsWith(u"before\r\n"_qs)) << r.text.left(200).toStdString();
        EXPECT_TRUE(r.text.contains(u"after"_qs)) << r.text.left(200).toStdString();
        EXPECT_LT(r.ms, boundMs(limits));
        // A later script runs, unless the engine had to be killed (the log
        // says so) or the output is capped.
        if (!r.log.entries.isEmpty()) {
            EXPECT_NE(path, Path::InProcess);
        } else if (!hostile.capsOutput) {
            EXPECT_TRUE(r.text.endsWith(u"later"_qs)) << r.text.right(200).toStdString() << " in " << r.ms << " ms";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryPath, HostileScript, ::testing::Values(Path::Plain, Path::Engine, Path::InProcess),
                         [](const auto &info) {
                             switch (info.param) {
                             case Path::Plain:
                                 return std::string("Plain");
                             case Path::Engine:
                                 return std::string("EngineProcess");
                             case Path::InProcess:
                                 return std::string("EngineInProcess");
                             }
                             return std::string();
                         });

TEST(HostilePage, AKilledEngineIsNotedAndTheRestOfThePageStays) {
    const Rendered r = render(u"<p>before</p><script>var kept = 'k'</script><script>Math.abs(1); document.write("
                              u"'x'.repeat(1e9).length)</script><table><tr><td>after</td></tr></table>"
                              u"<script>document.write(kept)</script>end"_qs,
                              Path::Plain);
    EXPECT_EQ(r.text, u"before\r\nafter\r\nend"_qs);
    ASSERT_EQ(r.log.entries.size(), 1);
    EXPECT_TRUE(r.log.entries[0].message.contains(u"engine process"_qs)) << r.log.entries[0].message.toStdString();

    // One that runs past its time without ever seeing the interruption is killed.
    PageRenderer::Limits limits = shortLimits();
    ScriptSandbox::Options options;
    options.engineMemory = qsizetype(4) * 1024 * 1024 * 1024;
    QElapsedTimer timer;
    timer.start();
    StepLog log;
    const QString text = PageRenderer(limits, options)
                             .visibleText(u"a<script>document.write(new Array(2e7).fill('ab').join('').length)"
                                          u"</script>b"_qs,
                                          &log);
    EXPECT_LT(timer.elapsed(), boundMs(limits));
    EXPECT_EQ(text, u"ab"_qs);
    ASSERT_EQ(log.entries.size(), 1);
    EXPECT_TRUE(log.entries[0].message.contains(u"killed"_qs)) << log.entries[0].message.toStdString();
}

// The window renders on worker threads: a page whose engine is killed there
// gives its text, and the threads go on rendering.
TEST(HostilePage, WorkerThreadsSurviveKilledEngines) {
    const QString hostile = u"a<script>document.write('x'.repeat(1e9).length)</script>b"_qs;
    const QString friendly = u"c<script>document.write(Math.max(1, 2))</script>d"_qs;
    std::vector<std::future<QString>> results;
    for (int i = 0; i < 4; ++i)
        results.push_back(std::async(std::launch::async, [&, i] {
            return render(i % 2 ? friendly : hostile, Path::Engine).text + render(friendly, Path::Engine).text;
        }));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(results[size_t(i)].get(), (i % 2 ? u"c2d"_qs : u"ab"_qs) + u"c2d"_qs);
}

TEST(HostilePage, DocumentAndWindowCannotBeReplacedNorTheWriterBroken) {
    for (Path path : {Path::Plain, Path::Engine, Path::InProcess}) {
        SCOPED_TRACE(pathName(path));
        EXPECT_EQ(render(u"<script>document = null; window = 1; var document = 2; top = 3; location = 4;</script>"
                         u"<script>document.write(typeof document, typeof window.document, window === this,"
                         u" top === this, typeof location)</script>"_qs,
                         path)
                      .text,
                  u"objectobjecttruetrueobject"_qs);
        EXPECT_EQ(render(u"<script>String = function () { throw 1; }; Object.prototype.toString = null;</script>"
                         u"<script>document.write('a', 1, [2, 3])</script>"_qs,
                         path)
                      .text,
                  u"a12,3"_qs);
        // Polluting the built-ins reaches the page's later scripts, as in a
        // browser, but never the next page.
        const PageRenderer renderer(shortLimits(), optionsFor(path));
        EXPECT_EQ(renderer.visibleText(u"<script>Object.prototype.polluted = 1; Math.abs = null</script>"
                                       u"<script>document.write({}.polluted, typeof Math.abs)</script>"_qs),
                  u"1object"_qs);
        EXPECT_EQ(renderer.visibleText(u"<script>document.write({}.polluted, typeof Math.abs)</script>"_qs),
                  u"undefinedfunction"_qs);
    }
}

// Everything a script sees on the global object: the language's built-ins
// and the stand-ins, nothing of the application, files, network or modules.
TEST(HostilePage, TheEngineOffersOnlyTheBuiltInsAndTheStandIns) {
    const QString names = u"<script>document.write(Object.getOwnPropertyNames(this).sort().join(' '))</script>"_qs;
    const QString builtIns =
        u"Array ArrayBuffer Atomics Boolean DataView Date Error EvalError Float32Array Float64Array Function"
        u" Infinity Int16Array Int32Array Int8Array JSON Map Math NaN Number Object Promise Proxy RangeError"
        u" ReferenceError Reflect RegExp Set SharedArrayBuffer String Symbol SyntaxError TypeError URIError"
        u" URL URLSearchParams Uint16Array Uint32Array Uint8Array Uint8ClampedArray WeakMap WeakSet decodeURI decodeURIComponent"
        u" encodeURI encodeURIComponent escape eval isFinite isNaN parseFloat parseInt undefined"
        u" unescape"_qs;
    const QString standIns =
        u"addEventListener alert attachEvent blur clearInterval clearTimeout close confirm console detachEvent"
        u" document focus frames history location navigator open parent prompt removeEventListener screen"
        u" scrollTo self setInterval setTimeout top window"_qs
        + u" __chenglan_mul"_qs; // the products that keep the sign of a zero
    QStringList expected = (builtIns + u' ' + standIns).split(u' ');
    expected.sort();
    for (Path path : {Path::Engine, Path::InProcess}) {
        SCOPED_TRACE(pathName(path));
        EXPECT_EQ(render(names, path).text.toStdString(), expected.join(u' ').toStdString());
        EXPECT_EQ(render(u"<script>document.write([typeof Qt, typeof qsTr, typeof QT_TR_NOOP, typeof XMLHttpRequest,"
                         u" typeof fetch, typeof require, typeof print, typeof gc, typeof load, typeof importScripts,"
                         u" typeof process, typeof module, typeof exports, typeof WebSocket, typeof Worker,"
                         u" typeof setTimeout(function () { document.write('fired') }, 0)].join())</script>"_qs,
                         path)
                      .text,
                  u"undefined,undefined,undefined,undefined,undefined,undefined,undefined,undefined,undefined,"
                  u"undefined,undefined,undefined,undefined,undefined,undefined,number"_qs);
    }
}

// What reaches our own output: nothing a script prints or logs, no module
// or file it loads.
TEST(HostilePage, ScriptsReachNoFileModuleOrOutput) {
    // A module that would write if it were ever run.
    QTemporaryFile secret(QDir::tempPath() + u"/hostile-XXXXXX.mjs"_qs);
    ASSERT_TRUE(secret.open());
    secret.write("document.write('module ran'); export default 1;");
    secret.flush();
    const QString url = u"file://"_qs + secret.fileName();
    const QString page =
        u"<script>console.log('leak'); console.error('leak'); try { print('leak') } catch (e) {}</script>"
        u"<script>import('%1').then(function (m) { document.write('module') }, function () {});</script>"
        u"<script>try { require('fs') } catch (e) {} document.write('done')</script>"
        u"<script type=\"module\">import x from '%1'; document.write('static import')</script>"
        u"<script>try { var r = new XMLHttpRequest(); r.open('GET', '%1', false); r.send();"
        u" document.write(r.responseText) } catch (e) {}</script>"_qs.arg(url);
    for (Path path : {Path::Plain, Path::Engine, Path::InProcess}) {
        SCOPED_TRACE(pathName(path));
        // Our stdout and stderr go to a file while the page renders.
        QTemporaryFile captured;
        ASSERT_TRUE(captured.open());
        fflush(stdout);
        fflush(stderr);
        const int savedOut = dup(1), savedErr = dup(2);
        dup2(captured.handle(), 1);
        dup2(captured.handle(), 2);
        const QString text = render(page, path).text;
        fflush(stdout);
        fflush(stderr);
        dup2(savedOut, 1);
        dup2(savedErr, 2);
        close(savedOut);
        close(savedErr);
        EXPECT_EQ(text, u"done"_qs);
        captured.seek(0);
        EXPECT_EQ(captured.readAll(), QByteArray());
    }
}

// The bounds hold for the page's scripts together, in the engine's process
// as in this one.
TEST(HostilePage, ThePageScriptTimeBoundsManyRunawayScripts) {
    for (Path path : {Path::Plain, Path::Engine}) {
        SCOPED_TRACE(pathName(path));
        PageRenderer::Limits limits = shortLimits();
        limits.scriptTime = 200ms;
        limits.pageScriptTime = 500ms;
        QString page = u"<script>Math.abs(1)</script>"_qs;
        for (int i = 0; i < 20; ++i)
            page += u"%1<script>for (;;) {}</script>"_qs.arg(i % 10);
        const Rendered r = render(page, path, limits);
        EXPECT_EQ(r.text, u"01234567890123456789"_qs);
        EXPECT_LT(r.ms, limits.pageScriptTime.count() + ScriptEngineProcess::killGrace.count() + 1500);
    }
}

} // namespace
