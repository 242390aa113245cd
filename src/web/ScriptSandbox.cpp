#include "web/ScriptSandbox.h"

#include <QCoreApplication>
#include <QJSEngine>
#include <QObject>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace chenglan {

namespace {

// The document and window a page script sees. Element look-ups return a
// harmless stand-in whose properties can be set and read; timers never fire;
// nothing reaches outside the engine except document.write.
const char bootstrap[] = R"JS(
(function (host, global) {
    function noop() {}
    function joined(args) {
        var s = '';
        for (var i = 0; i < args.length; ++i)
            s += String(args[i]);
        return s;
    }
    function none() { return []; }
    function element() {
        return {
            style: {}, innerHTML: '', innerText: '', textContent: '', outerHTML: '', value: '',
            className: '', id: '', title: '', href: '', src: '', checked: false, disabled: false,
            childNodes: [], children: [], options: [], rows: [], cells: [], attributes: [],
            parentNode: null, firstChild: null, lastChild: null, nextSibling: null,
            appendChild: function (c) { return c; }, removeChild: function (c) { return c; },
            insertBefore: function (c) { return c; }, replaceChild: function (c) { return c; },
            cloneNode: function () { return element(); },
            setAttribute: noop, getAttribute: function () { return null; }, removeAttribute: noop,
            hasAttribute: function () { return false; },
            addEventListener: noop, removeEventListener: noop, attachEvent: noop, detachEvent: noop,
            getElementsByTagName: none, getElementsByClassName: none, getElementsByName: none,
            querySelector: function () { return null; }, querySelectorAll: none,
            insertRow: function () { return element(); }, insertCell: function () { return element(); },
            focus: noop, blur: noop, click: noop, submit: noop, reset: noop
        };
    }
    var document = {
        write: function () { host.write(joined(arguments)); },
        writeln: function () { host.write(joined(arguments) + '\n'); },
        open: noop, close: noop,
        getElementById: function () { return element(); },
        getElementsByTagName: none, getElementsByName: none, getElementsByClassName: none,
        querySelector: function () { return null; }, querySelectorAll: none,
        createElement: function () { return element(); },
        createTextNode: function (t) { return { nodeValue: String(t), data: String(t) }; },
        addEventListener: noop, removeEventListener: noop, attachEvent: noop, detachEvent: noop,
        cookie: '', title: '', referrer: '', domain: '', URL: 'about:blank', charset: 'gb2312',
        readyState: 'loading', compatMode: 'CSS1Compat',
        body: element(), documentElement: element(), head: element(),
        forms: [], images: [], links: [], anchors: [], scripts: [], all: []
    };
    global.document = document;
    global.window = global;
    global.self = global;
    global.top = global;
    global.parent = global;
    global.frames = [];
    global.navigator = { userAgent: 'Mozilla/5.0', appName: 'Netscape', appVersion: '5.0',
                         language: 'zh-CN', userLanguage: 'zh-CN', platform: 'Win32',
                         cookieEnabled: false, plugins: [], mimeTypes: [] };
    global.location = { href: 'about:blank', protocol: 'about:', host: '', hostname: '', port: '',
                        pathname: 'blank', search: '', hash: '', origin: 'null',
                        reload: noop, replace: noop, assign: noop,
                        toString: function () { return this.href; } };
    global.history = { length: 0, back: noop, forward: noop, go: noop };
    global.screen = { width: 1024, height: 768, availWidth: 1024, availHeight: 768, colorDepth: 24 };
    global.alert = noop;
    global.confirm = function () { return false; };
    global.prompt = function () { return null; };
    global.setTimeout = function () { return 0; };
    global.setInterval = function () { return 0; };
    global.clearTimeout = noop;
    global.clearInterval = noop;
    global.open = function () { return null; };
    global.close = noop;
    global.focus = noop;
    global.blur = noop;
    global.scrollTo = noop;
    global.addEventListener = noop;
    global.removeEventListener = noop;
    global.attachEvent = noop;
    global.detachEvent = noop;
    global.console = { log: noop, info: noop, warn: noop, error: noop, debug: noop };
})
)JS";

// Receives document.write in the engine's thread.
class ScriptHost : public QObject {
    Q_OBJECT
public:
    explicit ScriptHost(ScriptSandbox::Writer writer) : m_writer(std::move(writer)) {}
    Q_INVOKABLE void write(const QString &text) {
        // Nothing may unwind through the engine's frames.
        try {
            m_writer(text);
        } catch (...) {
        }
    }

private:
    ScriptSandbox::Writer m_writer;
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

} // namespace

struct ScriptSandbox::Private {
    explicit Private(Writer writer) : host(std::move(writer)), watchdog(engine) {}
    QJSEngine engine;
    ScriptHost host;
    Watchdog watchdog;
    int depth = 0;
    bool ready = false;
};

ScriptSandbox::ScriptSandbox(Writer writer) {
    if (!available())
        return;
    d = std::make_unique<Private>(std::move(writer));
    QJSEngine::setObjectOwnership(&d->host, QJSEngine::CppOwnership);
    QJSValue install = d->engine.evaluate(QString::fromUtf8(bootstrap));
    QJSValue result = install.call({d->engine.newQObject(&d->host), d->engine.globalObject()});
    d->ready = !install.isError() && !result.isError();
}

ScriptSandbox::~ScriptSandbox() = default;

bool ScriptSandbox::available() { return QCoreApplication::instance() != nullptr; }

ScriptSandbox::Outcome ScriptSandbox::run(const QString &source, std::chrono::milliseconds timeLimit) {
    if (!d || !d->ready)
        return Outcome::NotRun;
    const bool outermost = d->depth == 0;
    if (outermost) {
        if (timeLimit.count() <= 0)
            return Outcome::NotRun;
        d->watchdog.arm(timeLimit);
    }
    ++d->depth;
    const QJSValue result = d->engine.evaluate(neutralizeHtmlComments(source));
    --d->depth;
    const bool interrupted = d->engine.isInterrupted();
    if (outermost)
        d->watchdog.disarm();
    if (interrupted)
        return Outcome::Interrupted;
    return result.isError() ? Outcome::Failed : Outcome::Completed;
}

void ScriptSandbox::interrupt() {
    if (d)
        d->watchdog.interruptNow();
}

QString neutralizeHtmlComments(const QString &source) {
    if (!source.contains(u"<!--") && !source.contains(u"-->"))
        return source;
    QString out;
    out.reserve(source.size() + 16);
    qsizetype lineStart = 0;
    while (lineStart <= source.size()) {
        qsizetype lineEnd = source.indexOf(u'\n', lineStart);
        if (lineEnd < 0)
            lineEnd = source.size();
        const QStringView line = QStringView(source).sliced(lineStart, lineEnd - lineStart);
        const QStringView trimmed = line.trimmed();
        if (trimmed.startsWith(u"<!--") || trimmed.startsWith(u"-->"))
            out.append(u"//");
        out.append(line);
        if (lineEnd < source.size())
            out.append(u'\n');
        lineStart = lineEnd + 1;
    }
    return out;
}

} // namespace chenglan

#include "ScriptSandbox.moc"
