#pragma once

#include <QString>

#include <chrono>
#include <functional>
#include <limits>
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
// (written by it) runs within the outer script's time. The engine runs in a
// child process (see Options::engineProcess) that is killed shortly after
// the time limit when the interruption did not stop it.
//
// Starting an engine costs more than most pages' scripts, so scripts of a
// plain subset (declarations, loops and arithmetic over numbers, strings and
// arrays, document.write: see js::Interpreter) run without one, with the
// engine's results. The engine starts at the page's first script that needs
// more, runs the earlier scripts again with their output discarded to get
// the same globals, and runs that script and every later one.
//
// QJSEngine needs a QCoreApplication; without one no script runs.
class ScriptSandbox {
public:
    using Writer = std::function<void(const QString &text)>;
    enum class Outcome { Completed, Failed, Interrupted, NotRun };

    // The two short cuts; each gives the engine's result and is off only to
    // compare with the engine alone.
    struct Options {
        // Plain scripts run without the engine.
        bool withoutEngine = true;
        // In a script the engine runs, array literals of plain data on the
        // top level ("var data = [[1, 'a'], ...];") are built from JSON
        // instead of being compiled into code that builds them.
        bool literalsAsData = true;
        // Scripts the engine runs run in a child process (the program
        // chenglan-script-host, built with the client), which is killed when
        // it outlives its time or runs out of memory: some of the engine's
        // built-ins (a huge String.prototype.repeat, typed array, sort or
        // JSON.stringify) run to their end in one native call and never see
        // the interruption. Without the program the engine runs in process.
        bool engineProcess = true;
        // Address space the child process may take.
        qsizetype engineMemory = qsizetype(512) * 1024 * 1024;
    };

    explicit ScriptSandbox(Writer writer) : ScriptSandbox(std::move(writer), Options()) {}
    ScriptSandbox(Writer writer, Options options);
    ~ScriptSandbox();
    ScriptSandbox(const ScriptSandbox &) = delete;
    ScriptSandbox &operator=(const ScriptSandbox &) = delete;

    static bool available();

    // Runs one script. writeRoom is how much more the writer takes before it
    // caps the output and interrupts the script: a script run without the
    // engine that would write that much runs in the engine instead.
    Outcome run(const QString &source, std::chrono::milliseconds timeLimit,
                qsizetype writeRoom = std::numeric_limits<qsizetype>::max());
    // Stops the running script (from the writer, when the output is capped).
    void interrupt();
    // Why the engine was lost (its process killed at the time bound, out of
    // memory or crashed), after which no further script of the page runs;
    // empty while all is well.
    QString failure() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Old pages wrap their scripts in "<!--" and "-->" lines, which browsers read
// as comments and QJSEngine does not: such lines are turned into comments.
QString neutralizeHtmlComments(const QString &source);

} // namespace chenglan
