#pragma once

#include <QString>
#include <QStringView>

namespace chenglan::js {

enum class Punct : quint8 {
    None,
    LBrace, RBrace, LParen, RParen, LBracket, RBracket, Dot, Semicolon, Comma, Question, Colon,
    Less, Greater, LessEq, GreaterEq, Eq, NotEq, StrictEq, StrictNotEq,
    Plus, Minus, Star, Slash, Percent, PlusPlus, MinusMinus, Shl, Shr, UShr,
    BitAnd, BitOr, BitXor, Not, Tilde, And, Or,
    Assign, PlusAssign, MinusAssign, StarAssign, SlashAssign, PercentAssign,
    ShlAssign, ShrAssign, UShrAssign, AndAssign, OrAssign, XorAssign,
};

enum class TokenKind : quint8 { End, Identifier, Number, String, Regex, Punctuator, Invalid };

struct Token {
    TokenKind kind = TokenKind::End;
    Punct punct = Punct::None;
    bool newlineBefore = false;
    bool newlineInComment = false; // a line break inside a /* */ comment before it
    bool escaped = false; // a string written with escapes or line continuations
    qsizetype begin = 0;
    qsizetype end = 0;
    double number = 0;
    QStringView name;     // an identifier
    QString text;         // a string's value

    bool is(Punct p) const { return kind == TokenKind::Punctuator && punct == p; }
    bool isName(QStringView n) const;
};

// Equal texts (a plain comparison of the UTF-16 units, for the short names
// compared here all the time).
bool sameText(QStringView a, QStringView b);

inline bool Token::isName(QStringView n) const { return kind == TokenKind::Identifier && sameText(name, n); }

// Splits script source into tokens, strictly: it reads the plain ES5 forms
// and reports anything else as Invalid (template strings, non-ASCII names,
// escapes in names, legacy octal numbers and escapes, "=>", "...", "**", "?.",
// "??", "<!--" and "-->" used as comments), so that a caller can leave such
// a script to the engine instead of guessing what it means.
//
// Whether "/" starts a regular expression or divides is decided from the
// token before it. Where that is ambiguous ("/" after ")", "}", "++" or
// "--") the lexer reads a division; a regular expression in such a place
// then fails to parse, which again hands the script to the engine.
class Lexer {
public:
    explicit Lexer(QStringView source) : m_source(source) {}

    Token next();

private:
    bool skipSpaceAndComments(bool &newline, bool &commentNewline); // false on an unclosed comment
    bool regexAllowed() const;
    Token identifier(qsizetype begin);
    Token number(qsizetype begin);
    Token string(qsizetype begin);
    Token regex(qsizetype begin);
    Token punctuator(qsizetype begin);
    Token invalid(qsizetype begin);

    QStringView m_source;
    qsizetype m_at = 0;
    // The token before the next one, for the "/" decision.
    TokenKind m_lastKind = TokenKind::End;
    Punct m_lastPunct = Punct::None;
    QStringView m_lastName;
    bool m_lastAfterDot = false;
};

// ES5 keywords and the words reserved in strict mode or later editions: none
// of them is read as a variable name.
bool isReservedWord(QStringView name);

} // namespace chenglan::js
