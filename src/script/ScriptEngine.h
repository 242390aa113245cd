#pragma once

#include "script/ScriptSandbox.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>

namespace chenglan {

namespace js {
struct Ast;
}

// Where a page's scripts run once they need the engine: a QJSEngine in this
// process (LocalScriptEngine) or in a child process (ScriptEngineProcess).
class ScriptEngineBackend {
public:
    virtual ~ScriptEngineBackend() = default;

    // Runs the scripts of replay again with their output discarded (they ran
    // without the engine before; only their globals matter), then code. The
    // outermost run is bounded by timeLimit; a nested run (a script written
    // by a running one) runs within the outer one's time. ast, when given, is
    // code's parse.
    virtual ScriptSandbox::Outcome run(const QString &code, const js::Ast *ast, const QStringList &replay,
                                       std::chrono::milliseconds timeLimit, bool outermost) = 0;
    // Stops the running script; from inside the writer only.
    virtual void interrupt() = 0;
    // Set once the engine was lost (killed at its bound, crashed, out of
    // memory): it runs nothing more and this says why.
    virtual QString failure() const { return {}; }
};

// One page's QJSEngine in this process, with the document and window
// stand-ins and a watchdog thread that interrupts a script past its time.
class LocalScriptEngine final : public ScriptEngineBackend {
public:
    LocalScriptEngine(ScriptSandbox::Writer writer, bool literalsAsData);
    ~LocalScriptEngine() override;

    bool ready() const;
    ScriptSandbox::Outcome run(const QString &code, const js::Ast *ast, const QStringList &replay,
                               std::chrono::milliseconds timeLimit, bool outermost) override;
    void interrupt() override;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace chenglan
