// libFuzzer target for the scripts run without the engine: whatever the
// parser accepts the engine must compile, and a script run to its end
// without the engine must write what the engine writes and complete or fail
// as it does. Run by scripts/fuzz.
#include "script/JsInterpreter.h"
#include "script/JsParser.h"
#include "script/ScriptSandbox.h"

#include <QCoreApplication>
#include <QJSEngine>

#include <cstdint>
#include <cstdlib>
#include <limits>

using namespace chenglan;
using namespace std::chrono_literals;

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    // The script engine needs an application object.
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QString script = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    js::Ast ast;
    js::ParseFacts facts;
    if (!js::parseScript(script, ast, facts))
        return 0;
    {
        // Compiled, not run: the thrown 0 comes first.
        QJSEngine compiler;
        const QJSValue result = compiler.evaluate(u"throw 0;\n"_qs + script);
        if (result.isError() && result.errorType() == QJSValue::SyntaxError)
            std::abort();
    }
    if (!js::Interpreter::accepts(ast, facts))
        return 0;
    js::Interpreter interpreter;
    QString plain;
    const auto result = interpreter.run(ast, plain, std::numeric_limits<qsizetype>::max(),
                                        std::chrono::steady_clock::now() + 20ms);
    if (result == js::Interpreter::Result::Unsupported) {
        if (!plain.isEmpty())
            std::abort(); // left to the engine, but not without a trace
        return 0;
    }
    QString engine;
    ScriptSandbox::Options engineOnly;
    engineOnly.withoutEngine = false;
    engineOnly.literalsAsData = false;
    engineOnly.engineProcess = false; // the same engine, without a process per input
    ScriptSandbox sandbox([&](const QString &text) { engine += text; }, engineOnly);
    const auto outcome = sandbox.run(script, 2s);
    if (outcome == ScriptSandbox::Outcome::Interrupted)
        return 0; // slower in the engine than the plain run's time
    if (engine != plain || (outcome == ScriptSandbox::Outcome::Completed) != (result == js::Interpreter::Result::Completed))
        std::abort();
    return 0;
}
