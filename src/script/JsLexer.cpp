#include "script/JsLexer.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <iterator>

namespace chenglan::js {

namespace {

bool isLineTerminator(char16_t c) { return c == u'\n' || c == u'\r' || c == 0x2028 || c == 0x2029; }

bool isSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\v' || c == u'\f' || c == 0xa0 || c == 0xfeff;
}

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool isNameStart(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || c == u'$';
}

bool isNamePart(char16_t c) { return isNameStart(c) || isDigit(c); }

int hexValue(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// Keywords after which an expression ends, so that "/" divides.
bool endsExpression(QStringView name) {
    return sameText(name, u"this") || sameText(name, u"null") || sameText(name, u"true") || sameText(name, u"false");
}

} // namespace

bool sameText(QStringView a, QStringView b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

bool isReservedWord(QStringView name) {
    // All are lower-case ASCII words of 2 to 10 letters.
    if (name.size() < 2 || name.size() > 10 || name[0] < u'a' || name[0] > u'y')
        return false;
    static const QStringView words[] = {
        u"await", u"break", u"case", u"catch", u"class", u"const", u"continue", u"debugger", u"default",
        u"delete", u"do", u"else", u"enum", u"export", u"extends", u"false", u"finally", u"for",
        u"function", u"if", u"implements", u"import", u"in", u"instanceof", u"interface", u"let", u"new",
        u"null", u"package", u"private", u"protected", u"public", u"return", u"static", u"super",
        u"switch", u"this", u"throw", u"true", u"try", u"typeof", u"var", u"void", u"while", u"with",
        u"yield",
    };
    return std::any_of(std::begin(words), std::end(words), [&](QStringView w) { return sameText(w, name); });
}

Token Lexer::next() {
    bool newline = false;
    bool commentNewline = false;
    Token token;
    if (!skipSpaceAndComments(newline, commentNewline)) {
        token = invalid(m_at);
    } else if (m_at >= m_source.size()) {
        token.kind = TokenKind::End;
        token.begin = token.end = m_at;
    } else {
        const qsizetype begin = m_at;
        const char16_t c = m_source[m_at].unicode();
        if (isNameStart(c))
            token = identifier(begin);
        else if (isDigit(c) || (c == u'.' && m_at + 1 < m_source.size() && isDigit(m_source[m_at + 1].unicode())))
            token = number(begin);
        else if (c == u'"' || c == u'\'')
            token = string(begin);
        else if (c == u'/' && m_lastKind == TokenKind::Identifier && m_lastAfterDot && isReservedWord(m_lastName)
                 && !endsExpression(m_lastName))
            token = invalid(begin); // "a.in / b": the engine reads a regular expression there
        else if (c == u'/' && regexAllowed())
            token = regex(begin);
        else
            token = punctuator(begin);
    }
    token.newlineBefore = newline;
    token.newlineInComment = commentNewline;
    m_lastAfterDot = m_lastKind == TokenKind::Punctuator && m_lastPunct == Punct::Dot;
    m_lastKind = token.kind;
    m_lastPunct = token.punct;
    m_lastName = token.name;
    return token;
}

bool Lexer::skipSpaceAndComments(bool &newline, bool &commentNewline) {
    const qsizetype size = m_source.size();
    while (m_at < size) {
        const char16_t c = m_source[m_at].unicode();
        if (isSpace(c)) {
            ++m_at;
        } else if (isLineTerminator(c)) {
            newline = true;
            ++m_at;
        } else if (c == u'/' && m_at + 1 < size && m_source[m_at + 1] == u'/') {
            m_at += 2;
            while (m_at < size && !isLineTerminator(m_source[m_at].unicode()))
                ++m_at;
        } else if (c == u'/' && m_at + 1 < size && m_source[m_at + 1] == u'*') {
            const qsizetype close = m_source.indexOf(u"*/", m_at + 2);
            if (close < 0)
                return false;
            for (qsizetype i = m_at + 2; i < close && !commentNewline; ++i)
                commentNewline = isLineTerminator(m_source[i].unicode());
            m_at = close + 2;
        } else {
            return true;
        }
    }
    return true;
}

bool Lexer::regexAllowed() const {
    switch (m_lastKind) {
    case TokenKind::End:
        return true;
    case TokenKind::Number:
    case TokenKind::String:
    case TokenKind::Regex:
        return false;
    case TokenKind::Identifier:
        return !m_lastAfterDot && isReservedWord(m_lastName) && !endsExpression(m_lastName);
    case TokenKind::Punctuator:
        return m_lastPunct != Punct::RParen && m_lastPunct != Punct::RBracket && m_lastPunct != Punct::RBrace
            && m_lastPunct != Punct::PlusPlus && m_lastPunct != Punct::MinusMinus;
    case TokenKind::Invalid:
        return false;
    }
    return false;
}

Token Lexer::identifier(qsizetype begin) {
    qsizetype at = begin + 1;
    while (at < m_source.size() && isNamePart(m_source[at].unicode()))
        ++at;
    if (at < m_source.size() && (m_source[at].unicode() >= 0x80 || m_source[at] == u'\\'))
        return invalid(begin);
    m_at = at;
    Token token;
    token.kind = TokenKind::Identifier;
    token.begin = begin;
    token.end = at;
    token.name = m_source.sliced(begin, at - begin);
    return token;
}

Token Lexer::number(qsizetype begin) {
    const qsizetype size = m_source.size();
    qsizetype at = begin;
    auto digits = [&] {
        const qsizetype from = at;
        while (at < size && isDigit(m_source[at].unicode()))
            ++at;
        return at - from;
    };
    Token token;
    token.kind = TokenKind::Number;
    if (m_source[at] == u'0' && at + 1 < size && (m_source[at + 1] == u'x' || m_source[at + 1] == u'X')) {
        at += 2;
        double value = 0;
        const qsizetype from = at;
        for (int d; at < size && (d = hexValue(m_source[at].unicode())) >= 0; ++at)
            value = value * 16 + d;
        // Up to 13 digits (52 bits) the sum above is exact.
        if (at == from || at - from > 13)
            return invalid(begin);
        token.number = value;
    } else {
        if (m_source[at] == u'0' && at + 1 < size && isDigit(m_source[at + 1].unicode()))
            return invalid(begin); // legacy octal
        const qsizetype integerDigits = digits();
        bool integral = true;
        if (at < size && m_source[at] == u'.') {
            ++at;
            digits();
            integral = false;
        }
        if (at < size && (m_source[at] == u'e' || m_source[at] == u'E')) {
            ++at;
            if (at < size && (m_source[at] == u'+' || m_source[at] == u'-'))
                ++at;
            if (digits() == 0)
                return invalid(begin);
            integral = false;
        }
        if (integral && integerDigits <= 15) {
            // Most numbers are small integers, exact as they are summed.
            std::int64_t value = 0;
            for (qsizetype i = begin; i < at; ++i)
                value = value * 10 + (m_source[i].unicode() - u'0');
            token.number = double(value);
        } else {
            char buffer[400];
            const qsizetype length = at - begin;
            if (length >= qsizetype(sizeof buffer))
                return invalid(begin);
            for (qsizetype i = 0; i < length; ++i)
                buffer[i] = char(m_source[begin + i].unicode());
            const auto [end, error] = std::from_chars(buffer, buffer + length, token.number);
            // Out of range the engine rounds to infinity or zero: leave that to it.
            if (error != std::errc() || end != buffer + length)
                return invalid(begin);
        }
    }
    if (at < size) {
        const char16_t c = m_source[at].unicode();
        if (isNamePart(c) || c == u'\\' || c >= 0x80)
            return invalid(begin);
    }
    m_at = at;
    token.begin = begin;
    token.end = at;
    return token;
}

Token Lexer::string(qsizetype begin) {
    const qsizetype size = m_source.size();
    const char16_t quote = m_source[begin].unicode();
    Token token;
    token.kind = TokenKind::String;
    qsizetype at = begin + 1;
    qsizetype runStart = at;
    while (true) {
        if (at >= size)
            return invalid(begin);
        const char16_t c = m_source[at].unicode();
        if (c == quote)
            break;
        if (isLineTerminator(c))
            return invalid(begin);
        if (c != u'\\') {
            ++at;
            continue;
        }
        token.escaped = true;
        token.text.append(m_source.sliced(runStart, at - runStart));
        if (++at >= size)
            return invalid(begin);
        const char16_t e = m_source[at++].unicode();
        switch (e) {
        case u'n': token.text += u'\n'; break;
        case u't': token.text += u'\t'; break;
        case u'r': token.text += u'\r'; break;
        case u'b': token.text += u'\b'; break;
        case u'f': token.text += u'\f'; break;
        case u'v': token.text += u'\v'; break;
        case u'0':
            if (at < size && isDigit(m_source[at].unicode()))
                return invalid(begin);
            token.text += QChar(u'\0');
            break;
        case u'x':
        case u'u': {
            const int count = e == u'x' ? 2 : 4;
            int value = 0;
            for (int i = 0; i < count; ++i, ++at) {
                const int d = at < size ? hexValue(m_source[at].unicode()) : -1;
                if (d < 0)
                    return invalid(begin);
                value = value * 16 + d;
            }
            token.text += QChar(char16_t(value));
            break;
        }
        case u'\r':
            if (at < size && m_source[at] == u'\n')
                ++at;
            break;
        case u'\n':
        case 0x2028:
        case 0x2029:
            break; // a line continuation adds nothing
        default:
            if (isDigit(e))
                return invalid(begin);
            token.text += QChar(e);
        }
        runStart = at;
    }
    if (token.escaped)
        token.text.append(m_source.sliced(runStart, at - runStart));
    else
        token.text = m_source.sliced(begin + 1, at - begin - 1).toString();
    m_at = at + 1;
    token.begin = begin;
    token.end = m_at;
    return token;
}

Token Lexer::regex(qsizetype begin) {
    const qsizetype size = m_source.size();
    qsizetype at = begin + 1;
    bool inClass = false;
    while (true) {
        if (at >= size || isLineTerminator(m_source[at].unicode()))
            return invalid(begin);
        const char16_t c = m_source[at++].unicode();
        if (c == u'\\') {
            if (at >= size || isLineTerminator(m_source[at].unicode()))
                return invalid(begin);
            ++at;
        } else if (c == u'[') {
            inClass = true;
        } else if (c == u']') {
            inClass = false;
        } else if (c == u'/' && !inClass) {
            break;
        }
    }
    if (at == begin + 2)
        return invalid(begin);
    // The flags the engine knows, each once; it refuses others when compiling.
    bool seen[3] = {false, false, false};
    for (; at < size && isNamePart(m_source[at].unicode()); ++at) {
        const int flag = m_source[at] == u'g' ? 0 : m_source[at] == u'i' ? 1 : m_source[at] == u'm' ? 2 : -1;
        if (flag < 0 || seen[flag])
            return invalid(begin);
        seen[flag] = true;
    }
    if (at < size && (m_source[at] == u'\\' || m_source[at].unicode() >= 0x80))
        return invalid(begin);
    m_at = at;
    Token token;
    token.kind = TokenKind::Regex;
    token.begin = begin;
    token.end = at;
    return token;
}

Token Lexer::punctuator(qsizetype begin) {
    const qsizetype size = m_source.size();
    auto at = [&](qsizetype i) -> char16_t { return begin + i < size ? m_source[begin + i].unicode() : 0; };
    const char16_t c1 = at(1);
    const char16_t c2 = at(2);
    Punct p = Punct::None;
    int length = 1;
    auto set = [&](Punct punct, int n) {
        p = punct;
        length = n;
    };
    // Two- and three-character forms, longest first; forms left to the
    // engine stay None.
    auto pick = [&](Punct one, char16_t second, Punct two, Punct twoAssign = Punct::None) {
        if (c1 == second) {
            p = two;
            length = 2;
            if (twoAssign != Punct::None && c2 == u'=') {
                p = twoAssign;
                length = 3;
            }
        } else if (c1 == u'=') {
            p = one == Punct::Plus ? Punct::PlusAssign
                : one == Punct::Minus ? Punct::MinusAssign
                : one == Punct::BitAnd ? Punct::AndAssign
                : one == Punct::BitOr ? Punct::OrAssign
                : Punct::None;
            length = 2;
        } else {
            p = one;
        }
    };
    switch (m_source[begin].unicode()) {
    case u'{': p = Punct::LBrace; break;
    case u'}': p = Punct::RBrace; break;
    case u'(': p = Punct::LParen; break;
    case u')': p = Punct::RParen; break;
    case u'[': p = Punct::LBracket; break;
    case u']': p = Punct::RBracket; break;
    case u';': p = Punct::Semicolon; break;
    case u',': p = Punct::Comma; break;
    case u':': p = Punct::Colon; break;
    case u'~': p = Punct::Tilde; break;
    case u'.':
        if (c1 != u'.')
            p = Punct::Dot;
        break;
    case u'?':
        // "?." is optional chaining unless a digit follows ("a?.5:1").
        if (c1 != u'?' && !(c1 == u'.' && !(c2 >= u'0' && c2 <= u'9')))
            p = Punct::Question;
        break;
    case u'+':
        pick(Punct::Plus, u'+', Punct::PlusPlus);
        break;
    case u'-':
        if (c1 == u'-' && c2 == u'>')
            break; // "-->"
        pick(Punct::Minus, u'-', Punct::MinusMinus);
        break;
    case u'&':
        if (c1 == u'&' && c2 == u'=')
            break; // "&&="
        pick(Punct::BitAnd, u'&', Punct::And);
        break;
    case u'|':
        if (c1 == u'|' && c2 == u'=')
            break; // "||="
        pick(Punct::BitOr, u'|', Punct::Or);
        break;
    case u'*':
        if (c1 == u'*')
            break; // "**"
        set(c1 == u'=' ? Punct::StarAssign : Punct::Star, c1 == u'=' ? 2 : 1);
        break;
    case u'/':
        set(c1 == u'=' ? Punct::SlashAssign : Punct::Slash, c1 == u'=' ? 2 : 1);
        break;
    case u'%':
        set(c1 == u'=' ? Punct::PercentAssign : Punct::Percent, c1 == u'=' ? 2 : 1);
        break;
    case u'^':
        set(c1 == u'=' ? Punct::XorAssign : Punct::BitXor, c1 == u'=' ? 2 : 1);
        break;
    case u'=':
        if (c1 == u'>')
            break; // "=>"
        set(c1 != u'=' ? Punct::Assign : c2 == u'=' ? Punct::StrictEq : Punct::Eq, c1 != u'=' ? 1 : c2 == u'=' ? 3 : 2);
        break;
    case u'!':
        set(c1 != u'=' ? Punct::Not : c2 == u'=' ? Punct::StrictNotEq : Punct::NotEq,
            c1 != u'=' ? 1 : c2 == u'=' ? 3 : 2);
        break;
    case u'<':
        if (c1 == u'!' && c2 == u'-' && at(3) == u'-')
            break; // "<!--"
        if (c1 == u'<')
            set(c2 == u'=' ? Punct::ShlAssign : Punct::Shl, c2 == u'=' ? 3 : 2);
        else
            set(c1 == u'=' ? Punct::LessEq : Punct::Less, c1 == u'=' ? 2 : 1);
        break;
    case u'>':
        if (c1 == u'>' && c2 == u'>')
            set(at(3) == u'=' ? Punct::UShrAssign : Punct::UShr, at(3) == u'=' ? 4 : 3);
        else if (c1 == u'>')
            set(c2 == u'=' ? Punct::ShrAssign : Punct::Shr, c2 == u'=' ? 3 : 2);
        else
            set(c1 == u'=' ? Punct::GreaterEq : Punct::Greater, c1 == u'=' ? 2 : 1);
        break;
    default:
        break;
    }
    if (p == Punct::None)
        return invalid(begin);
    m_at = begin + length;
    Token token;
    token.kind = TokenKind::Punctuator;
    token.punct = p;
    token.begin = begin;
    token.end = m_at;
    return token;
}

Token Lexer::invalid(qsizetype begin) {
    m_at = m_source.size();
    Token token;
    token.kind = TokenKind::Invalid;
    token.begin = begin;
    token.end = m_at;
    return token;
}

} // namespace chenglan::js
