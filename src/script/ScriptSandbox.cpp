#include "script/ScriptSandbox.h"

#include "script/JsInterpreter.h"
#include "script/JsParser.h"
#include "script/ScriptEngine.h"
#include "script/ScriptEngineProcess.h"

#include <QCoreApplication>

#include <utility>

namespace chenglan {

struct ScriptSandbox::Private {
    Private(Writer w, Options o) : writer(std::move(w)), options(o) {}

    void write(const QString &text) {
        try {
            writer(text);
        } catch (...) {
        }
    }
    // The engine of the page, started on first use: in a child process where
    // that is asked for and its program is found, else in this process.
    ScriptEngineBackend *backend();

    Writer writer;
    Options options;
    js::Interpreter interpreter;
    QStringList replay; // the scripts run without the engine, in order
    std::unique_ptr<ScriptEngineBackend> engine;
    bool engineFailed = false; // the engine could not start
    int depth = 0;
    QString failure;
};

ScriptEngineBackend *ScriptSandbox::Private::backend() {
    if (engine || engineFailed)
        return engine.get();
    const auto writeHere = [this](const QString &text) { write(text); };
    if (options.engineProcess) {
        const QString program = ScriptEngineProcess::program();
        if (!program.isEmpty()) {
            engine = std::make_unique<ScriptEngineProcess>(program, writeHere, options);
            return engine.get();
        }
    }
    auto local = std::make_unique<LocalScriptEngine>(writeHere, options.literalsAsData);
    if (local->ready())
        engine = std::move(local);
    else
        engineFailed = true;
    return engine.get();
}

ScriptSandbox::ScriptSandbox(Writer writer, Options options) {
    if (!available())
        return;
    d = std::make_unique<Private>(std::move(writer), options);
    if (options.engineProcess) {
        const QString program = ScriptEngineProcess::program();
        if (!program.isEmpty())
            ScriptEngineProcess::prestart(program, options);
    }
}

ScriptSandbox::~ScriptSandbox() = default;

bool ScriptSandbox::available() { return QCoreApplication::instance() != nullptr; }

ScriptSandbox::Outcome ScriptSandbox::run(const QString &source, std::chrono::milliseconds timeLimit,
                                          qsizetype writeRoom) {
    using namespace std::chrono;
    if (!d)
        return Outcome::NotRun;
    const bool outermost = d->depth == 0;
    if (outermost && timeLimit.count() <= 0)
        return Outcome::NotRun;
    const QString code = neutralizeHtmlComments(source);
    js::Ast ast;
    js::ParseFacts facts;
    const bool parsed = (d->options.withoutEngine || d->options.literalsAsData) && js::parseScript(code, ast, facts);

    if (!d->engine && outermost && parsed && d->options.withoutEngine && js::Interpreter::accepts(ast, facts)) {
        // Half the time is the plain run's; should it not finish, the engine
        // has the rest.
        const auto started = steady_clock::now();
        QString written;
        const auto result = d->interpreter.run(ast, written, writeRoom, started + timeLimit / 2);
        if (result != js::Interpreter::Result::Unsupported) {
            d->replay.append(code);
            ++d->depth;
            if (!written.isEmpty())
                d->write(written);
            --d->depth;
            return result == js::Interpreter::Result::Completed ? Outcome::Completed : Outcome::Failed;
        }
        timeLimit -= duration_cast<milliseconds>(steady_clock::now() - started);
        if (timeLimit.count() <= 0)
            return Outcome::Interrupted;
    }

    ScriptEngineBackend *engine = d->backend();
    if (!engine)
        return Outcome::NotRun;
    ++d->depth;
    const Outcome outcome = engine->run(code, parsed ? &ast : nullptr, std::exchange(d->replay, {}), timeLimit,
                                        outermost);
    --d->depth;
    if (d->failure.isEmpty())
        d->failure = engine->failure();
    return outcome;
}

void ScriptSandbox::interrupt() {
    if (d && d->engine)
        d->engine->interrupt();
}

QString ScriptSandbox::failure() const { return d ? d->failure : QString(); }

QString neutralizeHtmlComments(const QString &source) {
    const auto marks = [&] {
        const qsizetype size = source.size();
        for (qsizetype i = 0; i + 2 < size; ++i) {
            const QChar c = source[i];
            if ((c == u'<' && i + 3 < size && source[i + 1] == u'!' && source[i + 2] == u'-' && source[i + 3] == u'-')
                || (c == u'-' && source[i + 1] == u'-' && source[i + 2] == u'>'))
                return true;
        }
        return false;
    };
    if (!marks())
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

