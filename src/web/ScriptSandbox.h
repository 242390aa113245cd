#pragma once

#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class QJSEngine;

namespace chenglan {

// The engine that runs the inline scripts of one page: a fresh QJSEngine with
// a minimal `document` and `window` and nothing else from the outside world
// (no module loading, no files, no network, no timers that fire later).
// document.write and writeln hand their text to the writer at once, so a page
// can tokenize it at the script's place before the script goes on.
//
// Errors of a script are swallowed. A watchdog thread interrupts a script
// that runs past its time limit; a script started from inside another one
// (written by it) runs within the outer script's time.
//
// QJSEngine needs a QCoreApplication; without one no script runs.
class ScriptSandbox {
public:
    using Writer = std::function<void(const QString &text)>;
    enum class Outcome { Completed, Failed, Interrupted, NotRun };

    explicit ScriptSandbox(Writer writer);
    ~ScriptSandbox();
    ScriptSandbox(const ScriptSandbox &) = delete;
    ScriptSandbox &operator=(const ScriptSandbox &) = delete;

    static bool available();

    Outcome run(const QString &source, std::chrono::milliseconds timeLimit);
    // Stops the running script (from the writer, when the output is capped).
    void interrupt();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Old pages wrap their scripts in "<!--" and "-->" lines, which browsers read
// as comments and QJSEngine does not: such lines are turned into comments.
QString neutralizeHtmlComments(const QString &source);

} // namespace chenglan
