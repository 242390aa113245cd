#include "script/ScriptEngine.h"

#include "script/JsParser.h"

#include <QJSEngine>
#include <QObject>

#include <algorithm>
#include <condition_variable>
#include <initializer_list>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace chenglan {

namespace {

// The document and window a page script sees. Element look-ups return a
// harmless stand-in whose properties can be set and read; timers never fire;
// nothing reaches outside the engine except document.write.
//
// Only the functions are script; the objects holding them are built through
// the engine's API (installWindow), which costs far less than compiling them
// as object literals for every page.
const char helpers[] = R"JS(
(function (host) {
    function noop() {}
    function none() { return []; }
    function nothing() { return null; }
    function no() { return false; }
    function zero() { return 0; }
    function same(c) { return c; }
    // Taken now: a page that replaces String still writes.
    var text = String, define = Object.defineProperty;
    function joined(args) {
        var s = '';
        for (var i = 0; i < args.length; ++i)
            s += text(args[i]);
        return s;
    }
    function element() {
        return {
            style: {}, innerHTML: '', innerText: '', textContent: '', outerHTML: '', value: '',
            className: '', id: '', title: '', href: '', src: '', checked: false, disabled: false,
            childNodes: [], children: [], options: [], rows: [], cells: [], attributes: [],
            parentNode: null, firstChild: null, lastChild: null, nextSibling: null,
            appendChild: same, removeChild: same, insertBefore: same, replaceChild: same,
            cloneNode: element,
            setAttribute: noop, getAttribute: nothing, removeAttribute: noop, hasAttribute: no,
            addEventListener: noop, removeEventListener: noop, attachEvent: noop, detachEvent: noop,
            getElementsByTagName: none, getElementsByClassName: none, getElementsByName: none,
            querySelector: nothing, querySelectorAll: none,
            insertRow: element, insertCell: element,
            focus: noop, blur: noop, click: noop, submit: noop, reset: noop
        };
    }
    return {
        noop: noop, none: none, nothing: nothing, no: no, zero: zero, element: element,
        write: function () { host.write(joined(arguments)); },
        writeln: function () { host.write(joined(arguments) + '\n'); },
        textNode: function (t) { return { nodeValue: String(t), data: String(t) }; },
        href: function () { return this.href; },
        // As in a browser, assigning to these is ignored.
        unforgeable: function (o, names) {
            for (var i = 0; i < names.length; ++i)
                define(o, names[i], { writable: false, configurable: false });
        }
    };
})
)JS";

using Properties = std::initializer_list<std::pair<const char *, QJSValue>>;

QJSValue newObject(QJSEngine &engine, Properties properties) {
    QJSValue object = engine.newObject();
    for (const auto &[name, value] : properties)
        object.setProperty(QLatin1String(name), value);
    return object;
}

// Sets up document, window and the rest on the global object from the
// helper functions.
void installWindow(QJSEngine &engine, const QJSValue &helper) {
    const auto fn = [&](const char *name) { return helper.property(QLatin1String(name)); };
    const QJSValue noop = fn("noop"), none = fn("none"), nothing = fn("nothing"), element = fn("element");
    const QJSValue blank{QString()};
    QJSValue global = engine.globalObject();
    global.setProperty(QStringLiteral("document"),
                       newObject(engine, {
                           {"write", fn("write")}, {"writeln", fn("writeln")}, {"open", noop}, {"close", noop},
                           {"getElementById", element}, {"getElementsByTagName", none},
                           {"getElementsByName", none}, {"getElementsByClassName", none},
                           {"querySelector", nothing}, {"querySelectorAll", none}, {"createElement", element},
                           {"createTextNode", fn("textNode")}, {"addEventListener", noop},
                           {"removeEventListener", noop}, {"attachEvent", noop}, {"detachEvent", noop},
                           {"cookie", blank}, {"title", blank}, {"referrer", blank}, {"domain", blank},
                           {"URL", QJSValue(QStringLiteral("about:blank"))},
                           {"charset", QJSValue(QStringLiteral("gb2312"))},
                           {"readyState", QJSValue(QStringLiteral("loading"))},
                           {"compatMode", QJSValue(QStringLiteral("CSS1Compat"))},
                           {"body", element.call()}, {"documentElement", element.call()}, {"head", element.call()},
                           {"forms", engine.newArray()}, {"images", engine.newArray()}, {"links", engine.newArray()},
                           {"anchors", engine.newArray()}, {"scripts", engine.newArray()}, {"all", engine.newArray()},
                       }));
    for (const char *name : {"window", "self", "top", "parent"})
        global.setProperty(QLatin1String(name), global);
    global.setProperty(QStringLiteral("frames"), engine.newArray());
    global.setProperty(QStringLiteral("navigator"),
                       newObject(engine, {
                           {"userAgent", QJSValue(QStringLiteral("Mozilla/5.0"))},
                           {"appName", QJSValue(QStringLiteral("Netscape"))},
                           {"appVersion", QJSValue(QStringLiteral("5.0"))},
                           {"language", QJSValue(QStringLiteral("zh-CN"))},
                           {"userLanguage", QJSValue(QStringLiteral("zh-CN"))},
                           {"platform", QJSValue(QStringLiteral("Win32"))},
                           {"cookieEnabled", QJSValue(false)}, {"plugins", engine.newArray()},
                           {"mimeTypes", engine.newArray()},
                       }));
    global.setProperty(QStringLiteral("location"),
                       newObject(engine, {
                           {"href", QJSValue(QStringLiteral("about:blank"))},
                           {"protocol", QJSValue(QStringLiteral("about:"))}, {"host", blank}, {"hostname", blank},
                           {"port", blank}, {"pathname", QJSValue(QStringLiteral("blank"))}, {"search", blank},
                           {"hash", blank}, {"origin", QJSValue(QStringLiteral("null"))}, {"reload", noop},
                           {"replace", noop}, {"assign", noop}, {"toString", fn("href")},
                       }));
    global.setProperty(QStringLiteral("history"),
                       newObject(engine, {{"length", QJSValue(0)}, {"back", noop}, {"forward", noop}, {"go", noop}}));
    global.setProperty(QStringLiteral("screen"),
                       newObject(engine, {{"width", QJSValue(1024)}, {"height", QJSValue(768)},
                                          {"availWidth", QJSValue(1024)}, {"availHeight", QJSValue(768)},
                                          {"colorDepth", QJSValue(24)}}));
    const std::pair<const char *, QJSValue> functions[] = {
        {"alert", noop}, {"confirm", fn("no")}, {"prompt", nothing}, {"setTimeout", fn("zero")},
        {"setInterval", fn("zero")}, {"clearTimeout", noop}, {"clearInterval", noop}, {"open", nothing},
        {"close", noop}, {"focus", noop}, {"blur", noop}, {"scrollTo", noop}, {"addEventListener", noop},
        {"removeEventListener", noop}, {"attachEvent", noop}, {"detachEvent", noop},
    };
    for (const auto &[name, value] : functions)
        global.setProperty(QLatin1String(name), value);
    global.setProperty(QStringLiteral("console"),
                       newObject(engine, {{"log", noop}, {"info", noop}, {"warn", noop}, {"error", noop},
                                          {"debug", noop}}));
    QJSValue names = engine.newArray();
    int count = 0;
    for (const char *name : {"document", "window", "top", "location"})
        names.setProperty(count++, QLatin1String(name));
    fn("unforgeable").call({global, names});
}

// Receives document.write in the engine's thread.
class ScriptHost : public QObject {
    Q_OBJECT
public:
    explicit ScriptHost(const ScriptSandbox::Writer &writer) : m_writer(writer) {}
    Q_INVOKABLE void write(const QString &text) {
        if (muted)
            return;
        // Nothing may unwind through the engine's frames.
        try {
            m_writer(text);
        } catch (...) {
        }
    }

    bool muted = false; // while scripts run again only for their globals

private:
    const ScriptSandbox::Writer &m_writer;
};

// Interrupts the engine when an armed deadline passes.
class Watchdog {
public:
    explicit Watchdog(QJSEngine &engine) : m_engine(engine), m_thread([this] { watch(); }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }

    void arm(std::chrono::milliseconds limit) {
        {
            std::lock_guard lock(m_mutex);
            m_engine.setInterrupted(false);
            m_deadline = std::chrono::steady_clock::now() + limit;
            m_armed = true;
        }
        m_wake.notify_one();
    }
    // After this returns the watchdog no longer touches the engine.
    void disarm() {
        std::lock_guard lock(m_mutex);
        m_armed = false;
    }
    void interruptNow() {
        std::lock_guard lock(m_mutex);
        m_engine.setInterrupted(true);
    }

private:
    void watch() {
        std::unique_lock lock(m_mutex);
        while (!m_stop) {
            if (!m_armed) {
                m_wake.wait(lock);
                continue;
            }
            m_wake.wait_until(lock, m_deadline);
            if (m_armed && std::chrono::steady_clock::now() >= m_deadline) {
                m_engine.setInterrupted(true);
                m_armed = false;
            }
        }
    }

    QJSEngine &m_engine;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::chrono::steady_clock::time_point m_deadline;
    bool m_armed = false;
    bool m_stop = false;
    std::thread m_thread; // last: starts once the members above exist
};

// The engine multiplies two integers as integers and so drops the sign of
// a zero product (0 * -1 is 0 there, -0 in the language). Every "a * b"
// becomes a call of this function, and "x *= b" becomes "x = f(x, b)" where
// x is a name or a pure property; operands are evaluated in the same order.
const QString SignedMulName = QStringLiteral("__chenglan_mul");
const char signedMulSource[] = R"JS(
(function (a, b) {
    var r = a * b;
    if (r !== 0 || typeof a !== 'number' || typeof b !== 'number')
        return r;
    return (a < 0 || 1 / a < 0) !== (b < 0 || 1 / b < 0) ? -0 : 0;
})
)JS";

// The engine with the page's document and window, started on demand.
struct Engine {
    explicit Engine(const ScriptSandbox::Writer &writer) : host(writer), watchdog(engine) {
        QJSEngine::setObjectOwnership(&host, QJSEngine::CppOwnership);
        const QJSValue global = engine.globalObject();
        // Taken before any page script can replace them.
        jsonParse = global.property(QStringLiteral("JSON")).property(QStringLiteral("parse"));
        defineProperty = global.property(QStringLiteral("Object")).property(QStringLiteral("defineProperty"));
        const QJSValue make = engine.evaluate(QString::fromUtf8(helpers));
        const QJSValue helper = make.call({engine.newQObject(&host)});
        ready = make.isCallable() && helper.isObject() && jsonParse.isCallable() && defineProperty.isCallable();
        if (ready)
            installWindow(engine, helper);
        // Neither writable nor configurable: a page cannot replace it.
        QJSValue descriptor = engine.newObject();
        descriptor.setProperty(QStringLiteral("value"), engine.evaluate(QString::fromUtf8(signedMulSource)));
        signedMul = ready && descriptor.property(QStringLiteral("value")).isCallable()
            && !defineProperty.call({global, SignedMulName, descriptor}).isError();
    }

    QJSEngine engine;
    ScriptHost host;
    Watchdog watchdog;
    QJSValue jsonParse;
    QJSValue defineProperty;
    bool ready = false;
    bool signedMul = false; // products keep the sign of a zero
};

// Literals shorter than this are compiled as they stand: building them from
// JSON saves less than it costs.
constexpr qsizetype MinLiteralLength = 64;

// The global that holds the prebuilt literals while their script runs (the
// script nesting depth appended; not enumerable; deleted afterwards). A
// script that mentions the name runs unchanged.
const QString LiteralsName = QStringLiteral("__chenglan_literals");

} // namespace

struct LocalScriptEngine::Private {
    Private(ScriptSandbox::Writer w, bool literals) : writer(std::move(w)), literalsAsData(literals), engine(writer) {}
    QJSValue evaluate(const QString &code, const js::Ast *ast);

    ScriptSandbox::Writer writer;
    bool literalsAsData;
    Engine engine;
    int depth = 0;
};

namespace {

// One change to a script's text: `removed` characters at `at` replaced by
// `text`. Where two changes meet at one place, a closing one comes first.
struct Edit {
    qsizetype at;
    qsizetype removed;
    QString text;
    int order; // 0 closes, 1 replaces, 2 opens
};

QString applyEdits(const QString &code, std::vector<Edit> &edits) {
    std::stable_sort(edits.begin(), edits.end(),
                     [](const Edit &x, const Edit &y) { return x.at != y.at ? x.at < y.at : x.order < y.order; });
    QString out;
    out.reserve(code.size() + qsizetype(edits.size()) * 8);
    qsizetype from = 0;
    for (const Edit &edit : edits) {
        out.append(QStringView(code).sliced(from, edit.at - from));
        out += edit.text;
        from = edit.at + edit.removed;
    }
    out.append(QStringView(code).sliced(from));
    return out;
}

// Where the operator that follows the left operand begins: past closing
// parentheses, white space and comments (which may hold a "*"). -1 if the
// text is not as expected.
qsizetype operatorAt(const QString &code, qsizetype from, qsizetype to, QStringView op) {
    qsizetype i = from;
    while (i < to) {
        const QChar c = code[i];
        if (c == u')' || c.isSpace() || c == QChar(0xFEFF)) {
            ++i;
        } else if (c == u'/' && i + 1 < to && code[i + 1] == u'*') {
            const qsizetype close = code.indexOf(QStringLiteral("*/"), i + 2);
            if (close < 0)
                return -1;
            i = close + 2;
        } else if (c == u'/' && i + 1 < to && code[i + 1] == u'/') {
            while (i < to && code[i] != u'\n' && code[i] != u'\r' && code[i] != QChar(0x2028) && code[i] != QChar(0x2029))
                ++i;
        } else {
            return QStringView(code).sliced(i).startsWith(op) ? i : -1;
        }
    }
    return -1;
}

// An expression that reads the same value however often it is evaluated
// and changes nothing: a name, this, a number or string, or a property of
// such a one by name or by such a key.
bool isPure(const js::Ast &ast, int index) {
    const js::Node &n = ast.node(index);
    switch (n.kind) {
    case js::NodeKind::Identifier:
    case js::NodeKind::This:
        return true;
    case js::NodeKind::Constant:
        return !ast.constants[size_t(n.value)].isArray();
    case js::NodeKind::Member:
        return isPure(ast, n.a);
    case js::NodeKind::Index:
        return isPure(ast, n.a) && isPure(ast, n.b);
    default:
        return false;
    }
}

void signedZeroEdits(const QString &code, const js::Ast &ast, std::vector<Edit> &edits) {
    std::vector<int> pending{ast.program};
    std::vector<Edit> found;
    while (!pending.empty()) {
        const int index = pending.back();
        pending.pop_back();
        if (index < 0)
            continue;
        const js::Node &n = ast.node(index);
        for (const int child : {n.a, n.b, n.c, n.d})
            pending.push_back(child);
        for (int i = 0; i < n.count; ++i)
            pending.push_back(ast.child(n, i));
        if (n.kind == js::NodeKind::Binary && n.op == js::Punct::Star) {
            const qsizetype op = operatorAt(code, ast.node(n.a).end, ast.node(n.b).begin, u"*");
            if (op < 0)
                return; // not as parsed: leave the whole script alone
            found.push_back({n.begin, 0, SignedMulName + u'(', 2});
            found.push_back({op, 1, QStringLiteral(","), 1});
            found.push_back({n.end, 0, QStringLiteral(")"), 0});
        } else if (n.kind == js::NodeKind::Assign && n.op == js::Punct::StarAssign && isPure(ast, n.a)) {
            const js::Node &target = ast.node(n.a);
            const qsizetype op = operatorAt(code, target.end, ast.node(n.b).begin, u"*=");
            if (op < 0)
                return;
            const QString targetText = code.sliced(target.begin, target.end - target.begin);
            found.push_back({op, 2, QStringLiteral("= ") + SignedMulName + u'(' + targetText + u',', 1});
            found.push_back({n.end, 0, QStringLiteral(")"), 0});
        }
    }
    edits.insert(edits.end(), found.begin(), found.end());
}

} // namespace

// Evaluates a script in the engine, changed where it parsed: products go
// through the signed multiplication above, and, where literalsAsData is on,
// each large plain-data array literal of a top-level var statement is made
// beforehand with JSON.parse and the statement reads it from a hidden global
// instead ("var h_data = __chenglan_literals1[0];"), which keeps the
// statement's place in the order the script runs. No change adds a line.
QJSValue LocalScriptEngine::Private::evaluate(const QString &code, const js::Ast *ast) {
    QJSEngine &js = engine.engine;
    if (!ast)
        return js.evaluate(code);
    std::vector<Edit> edits;
    if (engine.signedMul && !code.contains(SignedMulName))
        signedZeroEdits(code, *ast, edits);

    struct Range {
        qsizetype begin;
        qsizetype end;
    };
    std::vector<Range> ranges;
    QString json(u'[');
    if (literalsAsData && !code.contains(LiteralsName)) {
        const js::Node &program = ast->node(ast->program);
        for (int i = 0; i < program.count; ++i) {
            const js::Node &statement = ast->node(ast->child(program, i));
            if (statement.kind != js::NodeKind::Var)
                continue;
            for (int j = 0; j < statement.count; ++j) {
                const js::Node &declarator = ast->node(ast->child(statement, j));
                if (declarator.a < 0)
                    continue;
                const js::Node &init = ast->node(declarator.a);
                if (init.kind != js::NodeKind::Constant || init.end - init.begin < MinLiteralLength
                    || !ast->constants[size_t(init.value)].isArray())
                    continue;
                const qsizetype mark = json.size();
                if (!ranges.empty())
                    json += u',';
                if (js::appendJson(json, ast->constants[size_t(init.value)]))
                    ranges.push_back({init.begin, init.end});
                else
                    json.truncate(mark);
            }
        }
    }
    QJSValue global = js.globalObject();
    QString name;
    if (!ranges.empty()) {
        json += u']';
        const QJSValue values = engine.jsonParse.call({QJSValue(json)});
        name = LiteralsName + QString::number(depth);
        QJSValue descriptor = js.newObject();
        descriptor.setProperty(QStringLiteral("value"), values);
        descriptor.setProperty(QStringLiteral("configurable"), true);
        if (values.isError() || engine.defineProperty.call({global, name, descriptor}).isError()) {
            name.clear();
        } else {
            for (size_t k = 0; k < ranges.size(); ++k) {
                QString text = name + u'[' + QString::number(k) + u']';
                // Line breaks inside the literal stay, so that lines keep their numbers.
                for (qsizetype i = ranges[k].begin; i < ranges[k].end; ++i) {
                    const QChar c = code[i];
                    if (c == u'\n' || c == u'\r' || c == QChar(0x2028) || c == QChar(0x2029))
                        text += c;
                }
                edits.push_back({ranges[k].begin, ranges[k].end - ranges[k].begin, std::move(text), 1});
            }
        }
    }
    if (edits.empty())
        return js.evaluate(code);
    const QJSValue result = js.evaluate(applyEdits(code, edits));
    if (!name.isEmpty())
        global.deleteProperty(name);
    return result;
}

LocalScriptEngine::LocalScriptEngine(ScriptSandbox::Writer writer, bool literalsAsData)
    : d(std::make_unique<Private>(std::move(writer), literalsAsData)) {}

LocalScriptEngine::~LocalScriptEngine() = default;

bool LocalScriptEngine::ready() const { return d->engine.ready; }

ScriptSandbox::Outcome LocalScriptEngine::run(const QString &code, const js::Ast *ast, const QStringList &replay,
                                              std::chrono::milliseconds timeLimit, bool outermost) {
    using Outcome = ScriptSandbox::Outcome;
    Engine &engine = d->engine;
    if (!engine.ready)
        return Outcome::NotRun;
    if (outermost)
        engine.watchdog.arm(timeLimit);
    ++d->depth;
    if (!replay.isEmpty()) {
        engine.host.muted = true;
        for (const QString &earlier : replay) {
            js::Ast earlierAst;
            js::ParseFacts earlierFacts;
            const bool earlierParsed = js::parseScript(earlier, earlierAst, earlierFacts);
            d->evaluate(earlier, earlierParsed ? &earlierAst : nullptr);
            if (engine.engine.isInterrupted())
                break;
        }
        engine.host.muted = false;
    }
    QJSValue result;
    if (!engine.engine.isInterrupted()) {
        if (ast) {
            result = d->evaluate(code, ast);
        } else {
            js::Ast parsed;
            js::ParseFacts facts;
            const bool ok = js::parseScript(code, parsed, facts);
            result = d->evaluate(code, ok ? &parsed : nullptr);
        }
    }
    --d->depth;
    const bool interrupted = engine.engine.isInterrupted();
    if (outermost)
        engine.watchdog.disarm();
    if (interrupted)
        return Outcome::Interrupted;
    return result.isError() ? Outcome::Failed : Outcome::Completed;
}

void LocalScriptEngine::interrupt() { d->engine.watchdog.interruptNow(); }

} // namespace chenglan

#include "ScriptEngine.moc"
