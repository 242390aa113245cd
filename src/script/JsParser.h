#pragma once

#include "script/JsLexer.h"
#include "script/JsValue.h"

#include <QStringView>

#include <vector>

namespace chenglan::js {

enum class NodeKind : quint8 {
    // Statements.
    Var,          // list: Declarator nodes
    Declarator,   // name, a: initializer or -1
    Function,     // a declaration: name, list: parameters as Identifier nodes, b: body (Block)
    ExpressionStatement, // a
    If,           // a: test, b: then, c: else or -1
    For,          // a: init (Var or expression) or -1, b: test or -1, c: update or -1, d: body
    ForIn,        // a: Var with one declarator or a target, b: object, d: body
    While,        // a: test, d: body
    DoWhile,      // a: test, d: body
    Block,        // list: statements
    Empty,
    Return,       // a: value or -1
    Break,
    Continue,
    Throw,        // a
    Try,          // a: block, name: catch parameter, b: catch block or -1, c: finally block or -1
    Switch,       // a: discriminant, list: Case nodes
    Case,         // a: test or -1 for default, list: statements
    // Expressions.
    Constant,     // value: a number, a string, true, false, null or a plain-data array literal
    Identifier,   // name
    This,
    ArrayLiteral, // list: elements, -1 for a hole
    ObjectLiteral,// list: values, one per property
    FunctionExpression, // as Function, the name may be empty
    Regex,
    Member,       // a: object, name
    Index,        // a: object, b: key
    Call,         // a: callee, list: arguments
    New,          // a: callee, list: arguments
    Unary,        // op (Plus, Minus, Not, Tilde) or name ("typeof", "void", "delete"), a
    Update,       // op (PlusPlus, MinusMinus), prefix, a
    Binary,       // op, a, b; also "in" and "instanceof" by name
    Logical,      // op (And, Or), a, b
    Conditional,  // a ? b : c
    Assign,       // op (Assign or a compound), a: target, b: value
    Sequence,     // list
};

struct Node {
    NodeKind kind = NodeKind::Empty;
    Punct op = Punct::None;
    bool prefix = false;
    int a = -1;
    int b = -1;
    int c = -1;
    int d = -1;
    int list = 0;   // first index into Ast::lists
    int count = 0;  // number of entries there
    int value = -1; // index into Ast::constants
    QStringView name{};
    qsizetype begin = 0; // source range
    qsizetype end = 0;
};

struct Ast {
    std::vector<Node> nodes;
    std::vector<int> lists;
    std::vector<Value> constants;
    int program = -1; // a Block of the script's statements

    const Node &node(int index) const { return nodes[size_t(index)]; }
    int child(const Node &n, int i) const { return lists[size_t(n.list + i)]; }
};

// What a parse found besides the tree.
struct ParseFacts {
    bool regex = false;       // a regular expression literal somewhere
    bool strict = false;      // a "use strict" directive somewhere
};

// Parses a whole script of the plain ES5 grammar, strictly: anything it does
// not know for certain to be valid (later syntax, labels, "with", accessors
// in object literals, function declarations inside blocks, an assignment to
// something that is no variable or property, a "return" outside a function,
// a reserved word as a name, a "break" or "continue" outside a loop) fails
// the parse, and the caller leaves the script to the engine. A script it
// accepts is one the engine compiles.
//
// Array literals of plain data (numbers, negated numbers, strings, true,
// false, null and such arrays, without holes) come back as one Constant.
bool parseScript(QStringView source, Ast &ast, ParseFacts &facts);

} // namespace chenglan::js
