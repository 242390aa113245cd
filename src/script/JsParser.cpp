#include "script/JsParser.h"

#include <algorithm>

namespace chenglan::js {

namespace {

struct ParseError {};

constexpr int MaxNesting = 256;
// Deepest tree accepted. Chains the parser reads in a loop ("1 + 1 + ...",
// "a.b.c...") nest their nodes without nesting its calls; the interpreter
// and the other walks over the tree recurse once per level.
constexpr int MaxTreeDepth = 2048;

int binaryPrecedence(const Token &t, bool noIn) {
    if (t.kind == TokenKind::Identifier) {
        if (sameText(t.name, u"instanceof") || (sameText(t.name, u"in") && !noIn))
            return 7;
        return 0;
    }
    if (t.kind != TokenKind::Punctuator)
        return 0;
    switch (t.punct) {
    case Punct::Or: return 1;
    case Punct::And: return 2;
    case Punct::BitOr: return 3;
    case Punct::BitXor: return 4;
    case Punct::BitAnd: return 5;
    case Punct::Eq: case Punct::NotEq: case Punct::StrictEq: case Punct::StrictNotEq: return 6;
    case Punct::Less: case Punct::Greater: case Punct::LessEq: case Punct::GreaterEq: return 7;
    case Punct::Shl: case Punct::Shr: case Punct::UShr: return 8;
    case Punct::Plus: case Punct::Minus: return 9;
    case Punct::Star: case Punct::Slash: case Punct::Percent: return 10;
    default: return 0;
    }
}

// The reserved words an expression statement may start with.
bool startsExpression(QStringView word) {
    for (const QStringView w : {u"this", u"null", u"true", u"false", u"new", u"typeof", u"void", u"delete"})
        if (sameText(word, w))
            return true;
    return false;
}

bool isAssignmentOperator(const Token &t) {
    if (t.kind != TokenKind::Punctuator)
        return false;
    switch (t.punct) {
    case Punct::Assign: case Punct::PlusAssign: case Punct::MinusAssign: case Punct::StarAssign:
    case Punct::SlashAssign: case Punct::PercentAssign: case Punct::ShlAssign: case Punct::ShrAssign:
    case Punct::UShrAssign: case Punct::AndAssign: case Punct::OrAssign: case Punct::XorAssign:
        return true;
    default:
        return false;
    }
}

class Parser {
public:
    Parser(QStringView source, Ast &ast, ParseFacts &facts)
        : m_source(source), m_lexer(source), m_ast(ast), m_facts(facts) {
        advance();
    }

    int program() {
        const qsizetype begin = m_tok.begin;
        std::vector<int> statements;
        while (m_tok.kind != TokenKind::End)
            statements.push_back(statement(true));
        Node n{NodeKind::Block};
        n.begin = begin;
        n.end = m_lastEnd;
        return add(n, statements);
    }

private:
    [[noreturn]] static void fail() { throw ParseError{}; }

    void advance() {
        m_lastEnd = m_tok.end;
        m_tok = m_lexer.next();
        if (m_tok.kind == TokenKind::Invalid)
            fail();
        if (m_tok.kind == TokenKind::Regex)
            m_facts.regex = true;
        else if (m_tok.kind == TokenKind::String && !m_tok.escaped && sameText(m_tok.text, u"use strict"))
            m_facts.strict = true;
    }
    void expect(Punct p) {
        if (!m_tok.is(p))
            fail();
        advance();
    }
    bool isKeyword(QStringView word) const { return m_tok.isName(word); }
    // Whether a line break stands before the current token. The standard
    // counts one inside a /* */ comment as well and the engine does not:
    // where that decides, the script is refused.
    bool lineBreakBefore() const {
        if (m_tok.newlineInComment && !m_tok.newlineBefore)
            fail();
        return m_tok.newlineBefore;
    }
    void consumeSemicolon() {
        if (m_tok.is(Punct::Semicolon))
            advance();
        else if (!m_tok.is(Punct::RBrace) && m_tok.kind != TokenKind::End && !lineBreakBefore())
            fail();
    }

    int add(Node n, const std::vector<int> &children = {}) {
        int depth = 0;
        for (int child : {n.a, n.b, n.c, n.d})
            if (child >= 0)
                depth = std::max(depth, m_depths[size_t(child)]);
        for (int child : children)
            if (child >= 0)
                depth = std::max(depth, m_depths[size_t(child)]);
        if (++depth > MaxTreeDepth)
            fail();
        m_depths.push_back(depth);
        n.list = int(m_ast.lists.size());
        n.count = int(children.size());
        m_ast.lists.insert(m_ast.lists.end(), children.begin(), children.end());
        m_ast.nodes.push_back(n);
        return int(m_ast.nodes.size()) - 1;
    }
    Node start(NodeKind kind) const {
        Node n{kind};
        n.begin = m_tok.begin;
        return n;
    }
    int finish(Node n, const std::vector<int> &children = {}) {
        n.end = m_lastEnd;
        return add(n, children);
    }
    int constant(Value value, qsizetype begin) {
        Node n{NodeKind::Constant};
        n.begin = begin;
        n.value = int(m_ast.constants.size());
        m_ast.constants.push_back(std::move(value));
        return finish(n);
    }

    QStringView bindingName() {
        if (m_tok.kind != TokenKind::Identifier || isReservedWord(m_tok.name))
            fail();
        const QStringView name = m_tok.name;
        advance();
        return name;
    }

    struct Nest {
        explicit Nest(int &depth) : m_depth(depth) {
            if (++m_depth > MaxNesting)
                fail();
        }
        ~Nest() { --m_depth; }
        int &m_depth;
    };

    // --- statements ----------------------------------------------------------

    int statement(bool declarationAllowed) {
        Nest nest(m_nesting);
        m_statementStart = m_tok.begin;
        if (m_tok.kind == TokenKind::Punctuator) {
            if (m_tok.is(Punct::LBrace))
                return block();
            if (m_tok.is(Punct::Semicolon)) {
                Node n = start(NodeKind::Empty);
                advance();
                return finish(n);
            }
        } else if (m_tok.kind == TokenKind::Identifier && isReservedWord(m_tok.name)) {
            const QStringView word = m_tok.name;
            if (sameText(word, u"var")) {
                const int n = varDeclarations(false);
                consumeSemicolon();
                m_ast.nodes[size_t(n)].end = m_lastEnd;
                return n;
            }
            if (sameText(word, u"function")) {
                if (!declarationAllowed)
                    fail();
                return function(true);
            }
            if (sameText(word, u"if"))
                return ifStatement();
            if (sameText(word, u"for"))
                return forStatement();
            if (sameText(word, u"while") || sameText(word, u"do"))
                return whileStatement(sameText(word, u"do"));
            if (sameText(word, u"break") || sameText(word, u"continue"))
                return jump(sameText(word, u"break"));
            if (sameText(word, u"return"))
                return returnStatement();
            if (sameText(word, u"throw"))
                return throwStatement();
            if (sameText(word, u"try"))
                return tryStatement();
            if (sameText(word, u"switch"))
                return switchStatement();
            if (!startsExpression(word))
                fail(); // with, debugger, class, const, let, import, export, ...
        }
        Node n = start(NodeKind::ExpressionStatement);
        n.a = expression(false);
        if (m_tok.is(Punct::Colon))
            fail(); // a label
        consumeSemicolon();
        return finish(n);
    }

    // Statements up to the closing "}", which is consumed.
    std::vector<int> statementsInBraces(bool declarationsAllowed) {
        expect(Punct::LBrace);
        std::vector<int> statements;
        while (!m_tok.is(Punct::RBrace)) {
            if (m_tok.kind == TokenKind::End)
                fail();
            statements.push_back(statement(declarationsAllowed));
        }
        advance();
        return statements;
    }

    int block() {
        Node n = start(NodeKind::Block);
        const std::vector<int> statements = statementsInBraces(false);
        return finish(n, statements);
    }

    int varDeclarations(bool noIn) {
        Node n = start(NodeKind::Var);
        advance();
        std::vector<int> declarators;
        do {
            if (!declarators.empty())
                advance();
            Node d = start(NodeKind::Declarator);
            d.name = bindingName();
            if (m_tok.is(Punct::Assign)) {
                advance();
                d.a = assignment(noIn);
            }
            declarators.push_back(finish(d));
        } while (m_tok.is(Punct::Comma));
        return finish(n, declarators);
    }

    int function(bool declaration) {
        Node n = start(declaration ? NodeKind::Function : NodeKind::FunctionExpression);
        advance();
        if (declaration || m_tok.kind == TokenKind::Identifier)
            n.name = bindingName();
        expect(Punct::LParen);
        std::vector<int> parameters;
        while (!m_tok.is(Punct::RParen)) {
            if (!parameters.empty())
                expect(Punct::Comma);
            Node p = start(NodeKind::Identifier);
            p.name = bindingName();
            for (int other : parameters)
                if (sameText(m_ast.node(other).name, p.name))
                    fail();
            parameters.push_back(finish(p));
        }
        advance();
        const int savedLoops = std::exchange(m_loops, 0);
        const int savedSwitches = std::exchange(m_switches, 0);
        ++m_functions;
        Node body = start(NodeKind::Block);
        const std::vector<int> statements = statementsInBraces(true);
        n.b = finish(body, statements);
        --m_functions;
        m_loops = savedLoops;
        m_switches = savedSwitches;
        return finish(n, parameters);
    }

    int parenthesized() {
        expect(Punct::LParen);
        const int e = expression(false);
        expect(Punct::RParen);
        return e;
    }

    int ifStatement() {
        Node n = start(NodeKind::If);
        advance();
        n.a = parenthesized();
        n.b = statement(false);
        if (isKeyword(u"else")) {
            advance();
            n.c = statement(false);
        }
        return finish(n);
    }

    int loopBody() {
        ++m_loops;
        const int body = statement(false);
        --m_loops;
        return body;
    }

    int forStatement() {
        Node n = start(NodeKind::For);
        advance();
        expect(Punct::LParen);
        if (isKeyword(u"var")) {
            n.a = varDeclarations(true);
            const Node &var = m_ast.node(n.a);
            if (isKeyword(u"in")) {
                if (var.count != 1 || m_ast.node(m_ast.child(var, 0)).a >= 0)
                    fail();
                n.kind = NodeKind::ForIn;
            }
        } else if (!m_tok.is(Punct::Semicolon)) {
            n.a = expression(true);
            if (isKeyword(u"in")) {
                checkTarget(n.a);
                n.kind = NodeKind::ForIn;
            }
        }
        if (n.kind == NodeKind::ForIn) {
            advance();
            n.b = expression(false);
        } else {
            expect(Punct::Semicolon);
            if (!m_tok.is(Punct::Semicolon))
                n.b = expression(false);
            expect(Punct::Semicolon);
            if (!m_tok.is(Punct::RParen))
                n.c = expression(false);
        }
        expect(Punct::RParen);
        n.d = loopBody();
        return finish(n);
    }

    int whileStatement(bool doWhile) {
        Node n = start(doWhile ? NodeKind::DoWhile : NodeKind::While);
        advance();
        if (doWhile) {
            n.d = loopBody();
            if (!isKeyword(u"while"))
                fail();
            advance();
            n.a = parenthesized();
            consumeSemicolon();
        } else {
            n.a = parenthesized();
            n.d = loopBody();
        }
        return finish(n);
    }

    int jump(bool isBreak) {
        Node n = start(isBreak ? NodeKind::Break : NodeKind::Continue);
        if (m_loops == 0 && (!isBreak || m_switches == 0))
            fail();
        advance();
        // A line break ends the statement here; a ";" after it is another.
        if (!lineBreakBefore()) {
            if (m_tok.kind == TokenKind::Identifier)
                fail(); // a label
            consumeSemicolon();
        }
        return finish(n);
    }

    int returnStatement() {
        Node n = start(NodeKind::Return);
        if (m_functions == 0)
            fail();
        advance();
        if (lineBreakBefore())
            return finish(n); // as after break
        if (!m_tok.is(Punct::Semicolon) && !m_tok.is(Punct::RBrace) && m_tok.kind != TokenKind::End)
            n.a = expression(false);
        consumeSemicolon();
        return finish(n);
    }

    int throwStatement() {
        Node n = start(NodeKind::Throw);
        advance();
        if (m_tok.newlineBefore || m_tok.newlineInComment)
            fail();
        n.a = expression(false);
        consumeSemicolon();
        return finish(n);
    }

    int tryStatement() {
        Node n = start(NodeKind::Try);
        advance();
        n.a = block();
        if (isKeyword(u"catch")) {
            advance();
            expect(Punct::LParen);
            n.name = bindingName();
            expect(Punct::RParen);
            n.b = block();
        }
        if (isKeyword(u"finally")) {
            advance();
            n.c = block();
        }
        if (n.b < 0 && n.c < 0)
            fail();
        return finish(n);
    }

    int switchStatement() {
        Node n = start(NodeKind::Switch);
        advance();
        n.a = parenthesized();
        expect(Punct::LBrace);
        std::vector<int> cases;
        bool sawDefault = false;
        ++m_switches;
        while (!m_tok.is(Punct::RBrace)) {
            Node c = start(NodeKind::Case);
            if (isKeyword(u"case")) {
                advance();
                c.a = expression(false);
            } else if (isKeyword(u"default") && !sawDefault) {
                sawDefault = true;
                advance();
            } else {
                fail();
            }
            expect(Punct::Colon);
            std::vector<int> statements;
            while (!m_tok.is(Punct::RBrace) && !isKeyword(u"case") && !isKeyword(u"default")) {
                if (m_tok.kind == TokenKind::End)
                    fail();
                statements.push_back(statement(false));
            }
            cases.push_back(finish(c, statements));
        }
        --m_switches;
        advance();
        return finish(n, cases);
    }

    // --- expressions ---------------------------------------------------------

    // The engine ends a statement at a line break after "break", "continue",
    // "return" or "throw" even where the word is a property name; after
    // "function" as a property name it inserts no semicolon at a line break
    // ("a.function" + line break + "b" does not compile).
    void refuseLineBreakAfterJumpWord(QStringView name) const {
        if ((m_tok.newlineBefore || m_tok.newlineInComment)
            && (sameText(name, u"break") || sameText(name, u"continue") || sameText(name, u"return")
                || sameText(name, u"throw") || sameText(name, u"function")))
            fail();
    }

    void checkTarget(int index) const {
        const NodeKind kind = m_ast.node(index).kind;
        if (kind != NodeKind::Identifier && kind != NodeKind::Member && kind != NodeKind::Index)
            fail();
    }

    int expression(bool noIn) {
        const qsizetype begin = m_tok.begin;
        const int first = assignment(noIn);
        if (!m_tok.is(Punct::Comma))
            return first;
        std::vector<int> items{first};
        while (m_tok.is(Punct::Comma)) {
            advance();
            items.push_back(assignment(noIn));
        }
        Node n{NodeKind::Sequence};
        n.begin = begin;
        return finish(n, items);
    }

    int assignment(bool noIn) {
        Nest nest(m_nesting);
        const qsizetype begin = m_tok.begin;
        const int left = conditional(noIn);
        if (!isAssignmentOperator(m_tok))
            return left;
        checkTarget(left);
        Node n{NodeKind::Assign};
        n.begin = begin;
        n.op = m_tok.punct;
        advance();
        n.a = left;
        n.b = assignment(noIn);
        return finish(n);
    }

    int conditional(bool noIn) {
        const qsizetype begin = m_tok.begin;
        const int test = binary(1, noIn);
        if (!m_tok.is(Punct::Question))
            return test;
        advance();
        Node n{NodeKind::Conditional};
        n.begin = begin;
        n.a = test;
        n.b = assignment(false);
        expect(Punct::Colon);
        n.c = assignment(noIn);
        return finish(n);
    }

    int binary(int minPrecedence, bool noIn) {
        const qsizetype begin = m_tok.begin;
        int left = unary();
        while (true) {
            const int precedence = binaryPrecedence(m_tok, noIn);
            if (precedence < minPrecedence || precedence == 0)
                return left;
            Node n{precedence <= 2 ? NodeKind::Logical : NodeKind::Binary};
            n.begin = begin;
            if (m_tok.kind == TokenKind::Identifier)
                n.name = m_tok.name;
            else
                n.op = m_tok.punct;
            advance();
            n.a = left;
            n.b = binary(precedence + 1, noIn);
            left = finish(n);
        }
    }

    int unary() {
        Nest nest(m_nesting);
        Node n = start(NodeKind::Unary);
        if (m_tok.kind == TokenKind::Punctuator) {
            switch (m_tok.punct) {
            case Punct::PlusPlus:
            case Punct::MinusMinus:
                // The engine ends a statement before a "++" or "--" that starts
                // a line, even inside an expression ("a,\n++b").
                if ((m_tok.newlineBefore || m_tok.newlineInComment) && m_tok.begin != m_statementStart)
                    fail();
                n.kind = NodeKind::Update;
                n.op = m_tok.punct;
                n.prefix = true;
                advance();
                n.a = unary();
                checkTarget(n.a);
                return finish(n);
            case Punct::Minus: {
                advance();
                n.op = Punct::Minus;
                n.a = unary();
                const Node &operand = m_ast.node(n.a);
                if (operand.kind == NodeKind::Constant && m_ast.constants[size_t(operand.value)].isNumber())
                    return constant(Value::number(-m_ast.constants[size_t(operand.value)].numberValue()), n.begin);
                return finish(n);
            }
            case Punct::Plus:
            case Punct::Not:
            case Punct::Tilde:
                n.op = m_tok.punct;
                advance();
                n.a = unary();
                return finish(n);
            default:
                break;
            }
        } else if (isKeyword(u"typeof") || isKeyword(u"void") || isKeyword(u"delete")) {
            n.name = m_tok.name;
            advance();
            n.a = unary();
            return finish(n);
        }
        return postfix();
    }

    int postfix() {
        const qsizetype begin = m_tok.begin;
        const int e = memberOrCall(true);
        const bool update = m_tok.is(Punct::PlusPlus) || m_tok.is(Punct::MinusMinus);
        // The engine reads "/x/" and a "++" on the next line as one.
        if (update && m_ast.node(e).kind == NodeKind::Regex)
            fail();
        if (update && !lineBreakBefore()) {
            checkTarget(e);
            Node n{NodeKind::Update};
            n.begin = begin;
            n.op = m_tok.punct;
            advance();
            n.a = e;
            return finish(n);
        }
        return e;
    }

    std::vector<int> arguments() {
        expect(Punct::LParen);
        std::vector<int> args;
        while (!m_tok.is(Punct::RParen)) {
            if (!args.empty())
                expect(Punct::Comma);
            args.push_back(assignment(false));
        }
        advance();
        return args;
    }

    int memberOrCall(bool callAllowed) {
        Nest nest(m_nesting);
        const qsizetype begin = m_tok.begin;
        int e;
        if (isKeyword(u"new")) {
            advance();
            Node n{NodeKind::New};
            n.begin = begin;
            n.a = memberOrCall(false);
            std::vector<int> args;
            if (m_tok.is(Punct::LParen))
                args = arguments();
            e = finish(n, args);
        } else {
            e = primary();
        }
        while (true) {
            if (m_tok.is(Punct::Dot)) {
                advance();
                if (m_tok.kind != TokenKind::Identifier)
                    fail();
                Node n{NodeKind::Member};
                n.begin = begin;
                n.a = e;
                n.name = m_tok.name;
                advance();
                refuseLineBreakAfterJumpWord(n.name);
                e = finish(n);
            } else if (m_tok.is(Punct::LBracket)) {
                advance();
                Node n{NodeKind::Index};
                n.begin = begin;
                n.a = e;
                n.b = expression(false);
                expect(Punct::RBracket);
                e = finish(n);
            } else if (callAllowed && m_tok.is(Punct::LParen)) {
                Node n{NodeKind::Call};
                n.begin = begin;
                n.a = e;
                const std::vector<int> args = arguments();
                e = finish(n, args);
            } else {
                return e;
            }
        }
    }

    int primary() {
        const qsizetype begin = m_tok.begin;
        switch (m_tok.kind) {
        case TokenKind::Number: {
            const double value = m_tok.number;
            advance();
            return constant(Value::number(value), begin);
        }
        case TokenKind::String: {
            QString text = std::move(m_tok.text);
            advance();
            return constant(Value::string(std::move(text)), begin);
        }
        case TokenKind::Regex: {
            Node n = start(NodeKind::Regex);
            advance();
            return finish(n);
        }
        case TokenKind::Identifier: {
            const QStringView name = m_tok.name;
            if (sameText(name, u"function"))
                return function(false);
            if (sameText(name, u"this")) {
                Node n = start(NodeKind::This);
                advance();
                return finish(n);
            }
            if (sameText(name, u"null") || sameText(name, u"true") || sameText(name, u"false")) {
                advance();
                return constant(sameText(name, u"null") ? Value::null() : Value::boolean(sameText(name, u"true")),
                                begin);
            }
            Node n = start(NodeKind::Identifier);
            n.name = bindingName();
            return finish(n);
        }
        case TokenKind::Punctuator:
            if (m_tok.is(Punct::LParen))
                return parenthesized();
            if (m_tok.is(Punct::LBracket))
                return arrayLiteral();
            if (m_tok.is(Punct::LBrace))
                return objectLiteral();
            break;
        default:
            break;
        }
        fail();
    }

    // Whether the next token is "," or "]", looked up in the source: the
    // character after the current token and white space. (A comment there
    // answers no, and the element is parsed the general way.)
    bool elementEndsAfter(qsizetype at) const {
        const QStringView source = m_source;
        while (at < source.size()) {
            const char16_t c = source[at].unicode();
            if (c == u',' || c == u']')
                return true;
            if (c != u' ' && c != u'\t' && c != u'\r' && c != u'\n')
                return false;
            ++at;
        }
        return false;
    }

    // A number, string, true, false or null, with an optional minus on the
    // number, standing alone as an array element: its value without a node.
    bool plainElement(Value &value) {
        if (m_tok.is(Punct::Minus)) {
            Lexer ahead = m_lexer;
            const Token number = ahead.next();
            if (number.kind != TokenKind::Number || !elementEndsAfter(number.end))
                return false;
            value = Value::number(-number.number);
            advance();
            advance();
            return true;
        }
        if (!elementEndsAfter(m_tok.end))
            return false;
        if (m_tok.kind == TokenKind::Number)
            value = Value::number(m_tok.number);
        else if (m_tok.kind == TokenKind::String)
            value = Value::string(std::move(m_tok.text));
        else if (m_tok.isName(u"true") || m_tok.isName(u"false"))
            value = Value::boolean(m_tok.isName(u"true"));
        else if (m_tok.isName(u"null"))
            value = Value::null();
        else
            return false;
        advance();
        return true;
    }

    int arrayLiteral() {
        Node n = start(NodeKind::ArrayLiteral);
        advance();
        // Elements as nodes, -1 for a hole, or Plain for an item kept only in items.
        constexpr int Plain = -2;
        std::vector<int> elements;
        Array items;
        items.reserve(16);
        std::vector<qsizetype> itemBegin;
        itemBegin.reserve(16);
        bool plain = true;
        while (!m_tok.is(Punct::RBracket)) {
            if (m_tok.is(Punct::Comma)) {
                advance();
                elements.push_back(-1);
                plain = false;
                continue;
            }
            const qsizetype begin = m_tok.begin;
            Value value;
            if (plainElement(value)) {
                elements.push_back(Plain);
                items.append(std::move(value));
                itemBegin.push_back(begin);
            } else {
                const int element = assignment(false);
                elements.push_back(element);
                if (m_ast.node(element).kind == NodeKind::Constant) {
                    items.append(m_ast.constants[size_t(m_ast.node(element).value)]);
                    itemBegin.push_back(begin);
                } else {
                    plain = false;
                }
            }
            if (!m_tok.is(Punct::RBracket))
                expect(Punct::Comma);
        }
        advance();
        if (plain)
            return constant(Value::array(std::move(items)), n.begin);
        // Not all plain: the plain items become nodes after all. items holds
        // one value for each Plain or Constant element, in order.
        size_t k = 0;
        for (int &element : elements) {
            if (element == Plain) {
                Node c{NodeKind::Constant};
                c.begin = c.end = itemBegin[k];
                c.value = int(m_ast.constants.size());
                m_ast.constants.push_back(items[qsizetype(k)]);
                element = add(c);
                ++k;
            } else if (element >= 0 && m_ast.node(element).kind == NodeKind::Constant) {
                ++k;
            }
        }
        return finish(n, elements);
    }

    int objectLiteral() {
        Node n = start(NodeKind::ObjectLiteral);
        advance();
        std::vector<int> values;
        while (!m_tok.is(Punct::RBrace)) {
            if (m_tok.kind != TokenKind::Identifier && m_tok.kind != TokenKind::String
                && m_tok.kind != TokenKind::Number)
                fail();
            const QStringView key = m_tok.kind == TokenKind::Identifier ? m_tok.name : QStringView();
            advance();
            refuseLineBreakAfterJumpWord(key);
            expect(Punct::Colon); // also refuses get/set accessors
            values.push_back(assignment(false));
            if (!m_tok.is(Punct::RBrace))
                expect(Punct::Comma);
        }
        advance();
        return finish(n, values);
    }

    QStringView m_source;
    Lexer m_lexer;
    Ast &m_ast;
    std::vector<int> m_depths; // of each node, as Ast::nodes
    ParseFacts &m_facts;
    Token m_tok;
    qsizetype m_lastEnd = 0;
    qsizetype m_statementStart = -1;
    int m_nesting = 0;
    int m_functions = 0;
    int m_loops = 0;
    int m_switches = 0;
};

} // namespace

bool parseScript(QStringView source, Ast &ast, ParseFacts &facts) {
    ast = Ast();
    facts = ParseFacts();
    ast.nodes.reserve(size_t(source.size() / 8));
    ast.lists.reserve(size_t(source.size() / 8));
    try {
        Parser parser(source, ast, facts);
        ast.program = parser.program();
        return true;
    } catch (const ParseError &) {
        return false;
    }
}

} // namespace chenglan::js
