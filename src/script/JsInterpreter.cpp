#include "script/JsInterpreter.h"

#include <QVarLengthArray>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>

namespace chenglan::js {

namespace {

// Longest string a plain run builds; longer ones are left to the engine.
constexpr qsizetype MaxStringLength = qsizetype(1) << 24;
// Deepest array a plain run builds: its text and its release recurse.
constexpr int MaxArrayDepth = 512;

struct Unsupported {};
struct ScriptError {};

enum class Completion { Normal, Break, Continue };

bool isStatementOfSubset(NodeKind kind) {
    switch (kind) {
    case NodeKind::Var: case NodeKind::Function: case NodeKind::ExpressionStatement: case NodeKind::If:
    case NodeKind::For: case NodeKind::While: case NodeKind::DoWhile: case NodeKind::Block:
    case NodeKind::Empty: case NodeKind::Break: case NodeKind::Continue:
        return true;
    default:
        return false;
    }
}

bool isExpressionOfSubset(NodeKind kind) {
    switch (kind) {
    case NodeKind::Constant: case NodeKind::Identifier: case NodeKind::ArrayLiteral: case NodeKind::Member:
    case NodeKind::Index: case NodeKind::Call: case NodeKind::Unary: case NodeKind::Update:
    case NodeKind::Binary: case NodeKind::Logical: case NodeKind::Conditional: case NodeKind::Assign:
    case NodeKind::Sequence:
        return true;
    default:
        return false;
    }
}

// Walks the global code of a script (not the bodies of its functions).
template <typename Visit>
void forGlobalCode(const Ast &ast, int index, Visit &&visit) {
    if (index < 0)
        return;
    const Node &n = ast.node(index);
    if (!visit(n))
        return;
    if (n.kind == NodeKind::Function || n.kind == NodeKind::FunctionExpression)
        return;
    for (int child : {n.a, n.b, n.c, n.d})
        forGlobalCode(ast, child, visit);
    for (int i = 0; i < n.count; ++i)
        forGlobalCode(ast, ast.child(n, i), visit);
}

std::int32_t toInt32(double x) {
    if (!std::isfinite(x))
        return 0;
    double m = std::fmod(std::trunc(x), 4294967296.0);
    if (m < 0)
        m += 4294967296.0;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(m));
}

std::uint32_t toUint32(double x) { return static_cast<std::uint32_t>(toInt32(x)); }

} // namespace

bool isEngineGlobal(QStringView name) {
    static const QStringView names[] = {
        u"Array", u"ArrayBuffer", u"Atomics", u"Boolean", u"DataView", u"Date", u"Error", u"EvalError",
        u"Float32Array", u"Float64Array", u"Function", u"Infinity", u"Int16Array", u"Int32Array",
        u"Int8Array", u"JSON", u"Map", u"Math", u"NaN", u"Number", u"Object", u"Promise", u"Proxy",
        u"Qt", u"RangeError", u"ReferenceError", u"Reflect", u"RegExp", u"Set", u"SharedArrayBuffer",
        u"String", u"Symbol", u"SyntaxError", u"TypeError", u"URIError", u"URL", u"URLSearchParams",
        u"Uint16Array", u"Uint32Array", u"Uint8Array", u"Uint8ClampedArray", u"WeakMap", u"WeakSet",
        u"XMLHttpRequest", u"__chenglan_mul", u"__defineGetter__", u"__defineSetter__", u"__lookupGetter__",
        u"__lookupSetter__", u"__proto__", u"addEventListener", u"alert", u"arguments", u"attachEvent",
        u"blur", u"clearInterval", u"clearTimeout", u"close", u"confirm", u"console", u"constructor",
        u"decodeURI", u"decodeURIComponent", u"detachEvent", u"document", u"encodeURI",
        u"encodeURIComponent", u"escape", u"eval", u"focus", u"frames", u"gc", u"globalThis",
        u"hasOwnProperty", u"history", u"isFinite", u"isNaN", u"isPrototypeOf", u"location", u"navigator",
        u"open", u"parent", u"parseFloat", u"parseInt", u"print", u"prompt", u"propertyIsEnumerable",
        u"qsTr", u"removeEventListener", u"screen", u"scrollTo", u"self", u"setInterval", u"setTimeout",
        u"toLocaleString", u"toString", u"top", u"undefined", u"unescape", u"valueOf", u"window",
    };
    return std::any_of(std::begin(names), std::end(names), [&](QStringView n) { return sameText(n, name); });
}

bool Interpreter::accepts(const Ast &ast, const ParseFacts &facts) {
    if (facts.regex || facts.strict)
        return false;
    bool ok = true;
    forGlobalCode(ast, ast.program, [&](const Node &n) {
        if (!ok)
            return false;
        switch (n.kind) {
        case NodeKind::Declarator:
        case NodeKind::Function:
            ok = !isEngineGlobal(n.name);
            return ok;
        case NodeKind::Call: {
            const Node &callee = ast.node(n.a);
            ok = callee.kind == NodeKind::Member
                && (sameText(callee.name, u"write") || sameText(callee.name, u"writeln"));
            return ok;
        }
        case NodeKind::Unary:
            ok = !sameText(n.name, u"delete");
            return ok;
        case NodeKind::Binary:
            ok = n.name.isEmpty(); // not "in" or "instanceof"
            return ok;
        default:
            ok = isStatementOfSubset(n.kind) || isExpressionOfSubset(n.kind);
            return ok;
        }
    });
    return ok;
}

// One script's run over the interpreter's globals.
class Interpreter::Run {
public:
    Run(Interpreter &globals, const Ast &ast, QString &written, qsizetype writeRoom,
        std::chrono::steady_clock::time_point deadline)
        : m_globals(globals), m_ast(ast), m_written(written), m_writeRoom(writeRoom), m_deadline(deadline),
          m_resolved(ast.nodes.size(), Unresolved) {}

    Result run() {
        declare();
        try {
            execute(m_ast.program);
        } catch (const ScriptError &) {
            return Result::Failed;
        }
        return Result::Completed;
    }

private:
    static constexpr int Unresolved = -2;
    static constexpr int Unbound = -1;

    // Hoisting: functions get their (opaque) values, vars are created
    // undefined unless they exist, before the first statement runs.
    void declare() {
        forGlobalCode(m_ast, m_ast.program, [&](const Node &n) {
            if (n.kind == NodeKind::Function)
                m_globals.m_slots[size_t(slotFor(n.name))] = Value::function();
            else if (n.kind == NodeKind::Declarator)
                slotFor(n.name);
            return true;
        });
    }

    int slotFor(QStringView name) {
        const QString key = name.toString();
        const auto it = m_globals.m_slotOf.constFind(key);
        if (it != m_globals.m_slotOf.cend())
            return *it;
        const int slot = int(m_globals.m_slots.size());
        m_globals.m_slots.emplace_back();
        m_globals.m_slotOf.insert(key, slot);
        return slot;
    }

    int slotOf(int index) {
        int &slot = m_resolved[size_t(index)];
        if (slot < 0) {
            const auto it = m_globals.m_slotOf.constFind(m_ast.node(index).name.toString());
            slot = it == m_globals.m_slotOf.cend() ? Unbound : *it;
        }
        return slot;
    }

    void tick() {
        if (++m_ticks % 1024 == 0 && std::chrono::steady_clock::now() > m_deadline)
            throw Unsupported{};
    }

    // --- statements ----------------------------------------------------------

    Completion execute(int index) {
        const Node &n = m_ast.node(index);
        switch (n.kind) {
        case NodeKind::Var:
            for (int i = 0; i < n.count; ++i) {
                const Node &d = m_ast.node(m_ast.child(n, i));
                if (d.a >= 0) {
                    Value v = evaluate(d.a);
                    m_globals.m_slots[size_t(slotFor(d.name))] = std::move(v);
                }
            }
            return Completion::Normal;
        case NodeKind::Function:
        case NodeKind::Empty:
            return Completion::Normal;
        case NodeKind::ExpressionStatement:
            evaluate(n.a);
            return Completion::Normal;
        case NodeKind::If:
            if (evaluate(n.a).truthy())
                return execute(n.b);
            return n.c >= 0 ? execute(n.c) : Completion::Normal;
        case NodeKind::Block:
            for (int i = 0; i < n.count; ++i) {
                const Completion c = execute(m_ast.child(n, i));
                if (c != Completion::Normal)
                    return c;
            }
            return Completion::Normal;
        case NodeKind::Break:
            return Completion::Break;
        case NodeKind::Continue:
            return Completion::Continue;
        case NodeKind::For:
            if (n.a >= 0) {
                if (m_ast.node(n.a).kind == NodeKind::Var)
                    execute(n.a);
                else
                    evaluate(n.a);
            }
            while (true) {
                tick();
                if (n.b >= 0 && !evaluate(n.b).truthy())
                    break;
                if (execute(n.d) == Completion::Break)
                    break;
                if (n.c >= 0)
                    evaluate(n.c);
            }
            return Completion::Normal;
        case NodeKind::While:
            while (true) {
                tick();
                if (!evaluate(n.a).truthy() || execute(n.d) == Completion::Break)
                    break;
            }
            return Completion::Normal;
        case NodeKind::DoWhile:
            while (true) {
                tick();
                if (execute(n.d) == Completion::Break || !evaluate(n.a).truthy())
                    break;
            }
            return Completion::Normal;
        default:
            throw Unsupported{};
        }
    }

    // --- expressions ---------------------------------------------------------

    Value read(int index) {
        const int slot = slotOf(index);
        if (slot >= 0)
            return m_globals.m_slots[size_t(slot)];
        const QStringView name = m_ast.node(index).name;
        if (sameText(name, u"undefined"))
            return Value();
        if (sameText(name, u"NaN"))
            return Value::number(std::numeric_limits<double>::quiet_NaN());
        if (sameText(name, u"Infinity"))
            return Value::number(std::numeric_limits<double>::infinity());
        if (sameText(name, u"document"))
            return Value::document();
        if (isEngineGlobal(name))
            throw Unsupported{};
        throw ScriptError{}; // ReferenceError
    }

    void write(int index, Value value) {
        int slot = slotOf(index);
        if (slot < 0) {
            // An undeclared name becomes a global, unless the engine has it.
            if (isEngineGlobal(m_ast.node(index).name))
                throw Unsupported{};
            slot = slotFor(m_ast.node(index).name);
            m_resolved[size_t(index)] = slot;
        }
        m_globals.m_slots[size_t(slot)] = std::move(value);
    }

    static Value checkedString(QString s) {
        if (s.size() > MaxStringLength)
            throw Unsupported{};
        return Value::string(std::move(s));
    }

    static QString toString(const Value &v) {
        QString s;
        if (!appendString(s, v))
            throw Unsupported{};
        return s;
    }

    // ToPrimitive: arrays become their text; the opaque kinds need the engine.
    static Value toPrimitive(const Value &v) {
        if (v.isArray())
            return checkedString(toString(v));
        if (v.type() == Value::Type::Function || v.type() == Value::Type::Document)
            throw Unsupported{};
        return v;
    }

    // ToNumber of a primitive; reading a number from a string is the engine's.
    static double toNumber(const Value &v) {
        switch (v.type()) {
        case Value::Type::Undefined:
            return std::numeric_limits<double>::quiet_NaN();
        case Value::Type::Null:
            return 0;
        case Value::Type::Boolean:
            return v.booleanValue() ? 1 : 0;
        case Value::Type::Number:
            return v.numberValue();
        default:
            throw Unsupported{};
        }
    }

    static Value add(const Value &left, const Value &right) {
        // An array's primitive is its text, so with an array or a string on
        // either side the texts are joined.
        if (left.isString() || left.isArray() || right.isString() || right.isArray()) {
            QString s;
            if (left.isString())
                s = left.stringValue();
            if ((!left.isString() && !appendString(s, left)) || !appendString(s, right))
                throw Unsupported{};
            return checkedString(std::move(s));
        }
        const Value l = toPrimitive(left);
        const Value r = toPrimitive(right);
        return Value::number(toNumber(l) + toNumber(r));
    }

    static Value arithmetic(Punct op, const Value &left, const Value &right) {
        if (op == Punct::Plus || op == Punct::PlusAssign)
            return add(left, right);
        const double l = toNumber(toPrimitive(left));
        const double r = toNumber(toPrimitive(right));
        switch (op) {
        case Punct::Minus: case Punct::MinusAssign: return Value::number(l - r);
        case Punct::Star: case Punct::StarAssign: return Value::number(l * r);
        case Punct::Slash: case Punct::SlashAssign: return Value::number(l / r);
        case Punct::Percent: case Punct::PercentAssign: return Value::number(std::fmod(l, r));
        case Punct::BitAnd: case Punct::AndAssign: return Value::number(toInt32(l) & toInt32(r));
        case Punct::BitOr: case Punct::OrAssign: return Value::number(toInt32(l) | toInt32(r));
        case Punct::BitXor: case Punct::XorAssign: return Value::number(toInt32(l) ^ toInt32(r));
        case Punct::Shl: case Punct::ShlAssign:
            return Value::number(std::int32_t(toUint32(l) << (toUint32(r) & 31)));
        case Punct::Shr: case Punct::ShrAssign:
            return Value::number(toInt32(l) >> (toUint32(r) & 31));
        case Punct::UShr: case Punct::UShrAssign:
            return Value::number(double(toUint32(l) >> (toUint32(r) & 31)));
        default:
            throw Unsupported{};
        }
    }

    static bool strictEquals(const Value &l, const Value &r) {
        if (l.type() != r.type())
            return false;
        switch (l.type()) {
        case Value::Type::Undefined: case Value::Type::Null: case Value::Type::Document: return true;
        case Value::Type::Boolean: return l.booleanValue() == r.booleanValue();
        case Value::Type::Number: return l.numberValue() == r.numberValue();
        case Value::Type::String: return l.stringValue() == r.stringValue();
        case Value::Type::Array: return l.sameArray(r);
        case Value::Type::Function: break;
        }
        throw Unsupported{}; // functions are compared by identity, which is kept only in the engine
    }

    static bool looseEquals(const Value &l, const Value &r) {
        if (l.type() == r.type())
            return strictEquals(l, r);
        if (l.isNullish() || r.isNullish())
            return l.isNullish() && r.isNullish();
        const bool lObject = l.isArray() || l.type() == Value::Type::Function || l.type() == Value::Type::Document;
        const bool rObject = r.isArray() || r.type() == Value::Type::Function || r.type() == Value::Type::Document;
        if (lObject || rObject)
            return looseEquals(lObject ? toPrimitive(l) : l, rObject ? toPrimitive(r) : r);
        if (l.isString() || r.isString())
            throw Unsupported{}; // a string read as a number
        return toNumber(l) == toNumber(r);
    }

    static bool compare(Punct op, const Value &left, const Value &right) {
        const Value l = toPrimitive(left);
        const Value r = toPrimitive(right);
        if (l.isString() && r.isString()) {
            const int c = QStringView(l.stringValue()).compare(r.stringValue());
            switch (op) {
            case Punct::Less: return c < 0;
            case Punct::Greater: return c > 0;
            case Punct::LessEq: return c <= 0;
            default: return c >= 0;
            }
        }
        const double a = toNumber(l);
        const double b = toNumber(r);
        switch (op) { // NaN compares false every way
        case Punct::Less: return a < b;
        case Punct::Greater: return a > b;
        case Punct::LessEq: return a <= b;
        default: return a >= b;
        }
    }

    Value binary(const Node &n) {
        const Value l = evaluate(n.a);
        const Value r = evaluate(n.b);
        switch (n.op) {
        case Punct::Eq: return Value::boolean(looseEquals(l, r));
        case Punct::NotEq: return Value::boolean(!looseEquals(l, r));
        case Punct::StrictEq: return Value::boolean(strictEquals(l, r));
        case Punct::StrictNotEq: return Value::boolean(!strictEquals(l, r));
        case Punct::Less: case Punct::Greater: case Punct::LessEq: case Punct::GreaterEq:
            return Value::boolean(compare(n.op, l, r));
        default:
            return arithmetic(n.op, l, r);
        }
    }

    Value unary(const Node &n) {
        if (sameText(n.name, u"typeof")) {
            const Node &operand = m_ast.node(n.a);
            if (operand.kind == NodeKind::Identifier && slotOf(n.a) < 0 && !isEngineGlobal(operand.name))
                return Value::string(QStringLiteral("undefined"));
            static const QString names[] = {
                QStringLiteral("undefined"), QStringLiteral("object"), QStringLiteral("boolean"),
                QStringLiteral("number"), QStringLiteral("string"), QStringLiteral("object"),
                QStringLiteral("function"), QStringLiteral("object"),
            };
            return Value::string(names[int(evaluate(n.a).type())]);
        }
        const Value v = evaluate(n.a);
        if (sameText(n.name, u"void"))
            return Value();
        switch (n.op) {
        case Punct::Not: return Value::boolean(!v.truthy());
        case Punct::Minus: return Value::number(-toNumber(toPrimitive(v)));
        case Punct::Plus: return Value::number(toNumber(toPrimitive(v)));
        case Punct::Tilde: return Value::number(~toInt32(toNumber(toPrimitive(v))));
        default: throw Unsupported{};
        }
    }

    Value update(const Node &n) {
        if (m_ast.node(n.a).kind != NodeKind::Identifier)
            throw Unsupported{};
        const double old = toNumber(toPrimitive(read(n.a)));
        const double now = n.op == Punct::PlusPlus ? old + 1 : old - 1;
        write(n.a, Value::number(now));
        return Value::number(n.prefix ? now : old);
    }

    Value assign(const Node &n) {
        if (m_ast.node(n.a).kind != NodeKind::Identifier)
            throw Unsupported{};
        if (n.op == Punct::Assign) {
            Value v = evaluate(n.b);
            write(n.a, v);
            return v;
        }
        const Value old = read(n.a);
        Value v = arithmetic(n.op, old, evaluate(n.b));
        write(n.a, v);
        return v;
    }

    Value member(const Node &n) {
        const Value object = evaluate(n.a);
        if (object.isNullish())
            throw ScriptError{}; // TypeError
        if (sameText(n.name, u"length")) {
            if (object.isArray())
                return Value::number(double(object.items().size()));
            if (object.isString())
                return Value::number(double(object.stringValue().size()));
        }
        throw Unsupported{};
    }

    Value indexed(const Node &n) {
        const Value object = evaluate(n.a);
        const Value key = evaluate(n.b);
        if (object.isNullish())
            throw ScriptError{}; // TypeError
        if (!key.isNumber() || (!object.isArray() && !object.isString()))
            throw Unsupported{};
        const double k = key.numberValue();
        const qsizetype size = object.isArray() ? object.items().size() : object.stringValue().size();
        // Anything but an index in range names no property of a plain array
        // or string ("-1", "1.5", "NaN"): undefined.
        if (!(k >= 0 && k < double(size) && k == std::floor(k)))
            return Value();
        const auto i = qsizetype(k);
        return object.isArray() ? object.items()[i] : Value::string(QString(object.stringValue()[i]));
    }

    Value call(const Node &n) {
        const Node &callee = m_ast.node(n.a);
        const Value object = evaluate(callee.a);
        if (object.isNullish())
            throw ScriptError{}; // TypeError
        if (object.type() != Value::Type::Document)
            throw Unsupported{};
        // Every argument is evaluated before any is written.
        QVarLengthArray<Value, 4> args;
        for (int i = 0; i < n.count; ++i)
            args.append(evaluate(m_ast.child(n, i)));
        const qsizetype before = m_written.size();
        for (const Value &arg : args)
            if (!appendString(m_written, arg))
                throw Unsupported{};
        if (sameText(callee.name, u"writeln"))
            m_written += u'\n';
        if (m_written.size() >= m_writeRoom)
            throw Unsupported{};
        // Written markup holding a script runs that script at once, inside this
        // one: only the engine can do that.
        // (A script runs at its end tag; a start tag alone is refused as well.)
        const QStringView added = QStringView(m_written).sliced(std::max<qsizetype>(before - 8, 0));
        if (added.contains(u'<')
            && (added.contains(u"<script", Qt::CaseInsensitive) || added.contains(u"</script", Qt::CaseInsensitive)))
            throw Unsupported{};
        return Value();
    }

    Value evaluate(int index) {
        const Node &n = m_ast.node(index);
        switch (n.kind) {
        case NodeKind::Constant: {
            const Value &v = m_ast.constants[size_t(n.value)];
            return v.isArray() ? v.freshArray() : v;
        }
        case NodeKind::Identifier:
            return read(index);
        case NodeKind::ArrayLiteral: {
            Array items;
            items.reserve(n.count);
            for (int i = 0; i < n.count; ++i) {
                const int element = m_ast.child(n, i);
                if (element < 0)
                    throw Unsupported{}; // a hole
                items.append(evaluate(element));
            }
            Value array = Value::array(std::move(items));
            if (array.arrayDepth() > MaxArrayDepth)
                throw Unsupported{};
            return array;
        }
        case NodeKind::Member:
            return member(n);
        case NodeKind::Index:
            return indexed(n);
        case NodeKind::Call:
            return call(n);
        case NodeKind::Unary:
            return unary(n);
        case NodeKind::Update:
            return update(n);
        case NodeKind::Binary:
            return binary(n);
        case NodeKind::Logical: {
            Value l = evaluate(n.a);
            if ((n.op == Punct::And) != l.truthy())
                return l;
            return evaluate(n.b);
        }
        case NodeKind::Conditional:
            return evaluate(evaluate(n.a).truthy() ? n.b : n.c);
        case NodeKind::Assign:
            return assign(n);
        case NodeKind::Sequence: {
            Value last;
            for (int i = 0; i < n.count; ++i)
                last = evaluate(m_ast.child(n, i));
            return last;
        }
        default:
            throw Unsupported{};
        }
    }

    Interpreter &m_globals;
    const Ast &m_ast;
    QString &m_written;
    const qsizetype m_writeRoom;
    const std::chrono::steady_clock::time_point m_deadline;
    std::vector<int> m_resolved; // node index -> slot
    unsigned m_ticks = 0;
};

Interpreter::Result Interpreter::run(const Ast &ast, QString &written, qsizetype writeRoom,
                                     std::chrono::steady_clock::time_point deadline) {
    const std::vector<Value> savedSlots = m_slots;
    const QHash<QString, int> savedSlotOf = m_slotOf;
    const qsizetype writtenBefore = written.size();
    try {
        Run script(*this, ast, written, writeRoom, deadline);
        return script.run();
    } catch (const Unsupported &) {
        m_slots = savedSlots;
        m_slotOf = savedSlotOf;
        written.truncate(writtenBefore);
        return Result::Unsupported;
    }
}

} // namespace chenglan::js
