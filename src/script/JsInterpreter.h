#pragma once

#include "script/JsParser.h"
#include "script/JsValue.h"

#include <QHash>
#include <QString>

#include <chrono>
#include <vector>

namespace chenglan::js {

// Runs the plain part of page scripts without an engine: global code made
// of var and function declarations, expression statements, if, for, while,
// do-while, blocks, break and continue, over numbers, strings, booleans,
// null, undefined and arrays, with the operators on them, reading an
// array's or a string's length and items, and document.write/writeln. The
// bodies of declared functions are parsed but never run.
//
// Everything it does is what the engine does with the same scripts, in the
// same order: a script error (reading an undeclared name, a property of
// undefined) ends the script where the engine's would. Where a script needs
// more (calling a page function, an object literal, a built-in such as Math,
// a number read from a string, a write that reaches the output cap, running
// past the time allowed), the run stops with Unsupported and leaves no
// trace: the globals are as before and nothing was written, so the script
// can be run in the engine instead.
class Interpreter {
public:
    enum class Result { Completed, Failed, Unsupported };

    // Whether the script is of the plain subset at all, before running it.
    static bool accepts(const Ast &ast, const ParseFacts &facts);

    // Runs a script that accepts() passed; its document.write text is
    // appended to written. A run whose text reaches writeRoom characters or
    // which is still running at the deadline is Unsupported.
    Result run(const Ast &ast, QString &written, qsizetype writeRoom,
               std::chrono::steady_clock::time_point deadline);

private:
    class Run;

    std::vector<Value> m_slots;   // global variables
    QHash<QString, int> m_slotOf; // by name
};

// Whether a name is a global of the engine a page's scripts run in (the
// language's built-ins, the members of Object.prototype, and the window,
// document, navigator and the rest that the sandbox provides).
bool isEngineGlobal(QStringView name);

} // namespace chenglan::js
