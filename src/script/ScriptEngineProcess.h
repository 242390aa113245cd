#pragma once

#include "script/ScriptEngine.h"

#include <QString>

#include <chrono>
#include <memory>

namespace chenglan {

// The page's engine in a child process (the program chenglan-script-host),
// started at the page's first script that needs the engine and ended with
// the page. The child limits its own address space to
// Options::engineMemory and interrupts a script at its time limit as the
// engine in process does; a child that has not answered killGrace after the
// limit is killed. A killed or crashed child runs nothing more: its scripts
// are Interrupted or Failed and failure() says what happened.
//
// The two talk over a socket in frames; document.write text comes to this
// side as it is written and the child waits for it to be laid out, so a
// written script runs (in the child) before the writing one goes on.
class ScriptEngineProcess final : public ScriptEngineBackend {
public:
    static constexpr std::chrono::milliseconds killGrace{250};

    // The program: $CHENGLAN_SCRIPT_HOST, else chenglan-script-host next to
    // the running program, else the installed one (../libexec/chenglan/ from
    // the running program's folder), else the one in the build tree; empty
    // when none of them exists.
    static QString program();
    // Starts a child for a later page in the background, unless one waits
    // already: a page's first engine script then does not wait for the
    // program to start.
    static void prestart(const QString &program, const ScriptSandbox::Options &options);

    ScriptEngineProcess(const QString &program, ScriptSandbox::Writer writer, const ScriptSandbox::Options &options);
    ~ScriptEngineProcess() override;

    ScriptSandbox::Outcome run(const QString &code, const js::Ast *ast, const QStringList &replay,
                               std::chrono::milliseconds timeLimit, bool outermost) override;
    void interrupt() override;
    QString failure() const override;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// The child's side, the whole of chenglan-script-host's main: limits the
// address space, then runs the scripts its parent sends over file
// descriptor 3 until the parent closes it.
int serveScriptEngine(int argc, char **argv);

} // namespace chenglan
