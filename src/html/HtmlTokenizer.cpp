#include "html/HtmlTokenizer.h"

#include "html/HtmlEntities.h"

#include <algorithm>
#include <array>
#include <string>

namespace chenglan::html {

namespace {

struct ElementName {
    const char16_t *name;
    Element element;
};

// Sorted by name, for binary search.
constexpr ElementName elementNames[] = {
    {u"address", Element::Address},   {u"article", Element::Article},
    {u"aside", Element::Aside},       {u"blockquote", Element::Blockquote},
    {u"body", Element::Body},         {u"br", Element::Br},
    {u"caption", Element::Caption},   {u"center", Element::Center},
    {u"dd", Element::Dd},             {u"details", Element::Details},
    {u"dialog", Element::Dialog},     {u"dir", Element::Dir},
    {u"div", Element::Div},           {u"dl", Element::Dl},
    {u"dt", Element::Dt},             {u"fieldset", Element::Fieldset},
    {u"figcaption", Element::Figcaption}, {u"figure", Element::Figure},
    {u"footer", Element::Footer},     {u"form", Element::Form},
    {u"h1", Element::H1},             {u"h2", Element::H2},
    {u"h3", Element::H3},             {u"h4", Element::H4},
    {u"h5", Element::H5},             {u"h6", Element::H6},
    {u"head", Element::Head},         {u"header", Element::Header},
    {u"hgroup", Element::Hgroup},     {u"hr", Element::Hr},
    {u"html", Element::Html},         {u"iframe", Element::Iframe},
    {u"legend", Element::Legend},     {u"li", Element::Li},
    {u"listing", Element::Listing},   {u"main", Element::Main},
    {u"menu", Element::Menu},         {u"nav", Element::Nav},
    {u"noembed", Element::Noembed},   {u"noframes", Element::Noframes},
    {u"noscript", Element::Noscript}, {u"ol", Element::Ol},
    {u"p", Element::P},               {u"plaintext", Element::Plaintext},
    {u"pre", Element::Pre},           {u"script", Element::Script},
    {u"section", Element::Section},   {u"style", Element::Style},
    {u"summary", Element::Summary},   {u"table", Element::Table},
    {u"tbody", Element::Tbody},       {u"td", Element::Td},
    {u"template", Element::Template}, {u"textarea", Element::Textarea},
    {u"tfoot", Element::Tfoot},       {u"th", Element::Th},
    {u"thead", Element::Thead},       {u"title", Element::Title},
    {u"tr", Element::Tr},             {u"ul", Element::Ul},
    {u"xmp", Element::Xmp},
};

constexpr bool isAsciiAlpha(char16_t c) { return (c | 0x20) >= u'a' && (c | 0x20) <= u'z'; }
constexpr bool isAsciiDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
constexpr bool isAsciiAlnum(char16_t c) { return isAsciiAlpha(c) || isAsciiDigit(c); }
constexpr bool isHexDigit(char16_t c) { return isAsciiDigit(c) || ((c | 0x20) >= u'a' && (c | 0x20) <= u'f'); }
constexpr bool isTagSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\f' || c == u'\r'; }
constexpr char16_t toLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c | 0x20) : c; }

// Windows-1252 meanings of the numeric references 0x80 to 0x9F, as browsers
// decode them; 0 where the code point is kept.
constexpr char16_t c1Replacements[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

const char16_t replacementChar = 0xFFFD;

// Compares the first length characters of candidate (ASCII) with a name.
int compareName(const char16_t *candidate, int length, const NamedReference &ref) {
    const int n = std::min(length, int(ref.nameLength));
    for (int i = 0; i < n; ++i) {
        const int a = candidate[i];
        const int b = static_cast<unsigned char>(ref.name[i]);
        if (a != b)
            return a < b ? -1 : 1;
    }
    return length - int(ref.nameLength);
}

const NamedReference *findReference(const char16_t *candidate, int length) {
    const NamedReference *first = namedReferences;
    const NamedReference *last = namedReferences + namedReferenceCount;
    while (first < last) {
        const NamedReference *mid = first + (last - first) / 2;
        const int c = compareName(candidate, length, *mid);
        if (c == 0)
            return mid;
        if (c < 0)
            last = mid;
        else
            first = mid + 1;
    }
    return nullptr;
}

} // namespace

// Looked up for every tag, so by first letter and length rather than by
// string comparison.
Element elementForName(QStringView name) {
    struct Index {
        std::array<std::pair<int, int>, 26> ranges{}; // entries per first letter, in elementNames order
        std::array<int, std::size(elementNames)> lengths{};
        Index() {
            for (int i = 0; i < int(std::size(elementNames)); ++i) {
                lengths[i] = int(std::char_traits<char16_t>::length(elementNames[i].name));
                auto &range = ranges[elementNames[i].name[0] - u'a'];
                if (range.second == 0)
                    range.first = i;
                range.second = i + 1;
            }
        }
    };
    static const Index index;
    if (name.isEmpty() || name.front() < u'a' || name.front() > u'z')
        return Element::Other;
    const auto [first, last] = index.ranges[name.front().unicode() - u'a'];
    for (int i = first; i < last; ++i)
        if (index.lengths[i] == name.size()
            && std::equal(name.begin(), name.end(), elementNames[i].name,
                          [](QChar a, char16_t b) { return a.unicode() == b; }))
            return elementNames[i].element;
    return Element::Other;
}

bool isBlock(Element element) {
    return element >= Element::Address || element == Element::Pre || element == Element::Listing
        || element == Element::Table || element == Element::Caption || element == Element::Xmp
        || element == Element::Plaintext;
}

QString Tag::attribute(QStringView attributeName) const {
    if (attributes)
        for (const Attribute &a : *attributes)
            if (a.name == attributeName)
                return a.value;
    return {};
}

bool Tag::hasAttribute(QStringView attributeName) const { return !attribute(attributeName).isNull(); }

enum class HtmlTokenizer::State : std::uint8_t {
    Data, Rcdata, Rawtext, ScriptData, Plaintext,
    TagOpen, EndTagOpen, TagName,
    RawLessThan, RawEndTagOpen, RawEndTagName,
    ScriptLessThan, ScriptEndTagOpen, ScriptEndTagName,
    ScriptEscapeStart, ScriptEscapeStartDash,
    ScriptEscaped, ScriptEscapedDash, ScriptEscapedDashDash,
    ScriptEscapedLessThan, ScriptEscapedEndTagOpen, ScriptEscapedEndTagName,
    ScriptDoubleEscapeStart, ScriptDoubleEscaped, ScriptDoubleEscapedDash,
    ScriptDoubleEscapedDashDash, ScriptDoubleEscapedLessThan, ScriptDoubleEscapeEnd,
    BeforeAttributeName, AttributeName, AfterAttributeName, BeforeAttributeValue,
    AttributeValueDouble, AttributeValueSingle, AttributeValueUnquoted,
    AfterAttributeValueQuoted, SelfClosingStartTag,
    BogusComment, MarkupDeclarationOpen, CommentStart, CommentStartDash, Comment,
    CommentEndDash, CommentEnd, CommentEndBang, Doctype,
    CharacterReference, NamedReference, NumericReference,
    HexReferenceStart, DecimalReferenceStart, HexReference, DecimalReference,
};

HtmlTokenizer::HtmlTokenizer(Sink &sink) : m_sink(sink), m_state(State::Data), m_returnState(State::Data) {}

void HtmlTokenizer::emitText(const char16_t *chars, qsizetype length) {
    if (length > 0)
        m_sink.text(chars, length, m_rawElement == Element::Other ? TextKind::Data : TextKind::Raw);
}

void HtmlTokenizer::emitLiteral(const char *ascii) {
    char16_t buffer[4];
    int n = 0;
    while (ascii[n] && n < 4) {
        buffer[n] = char16_t(ascii[n]);
        ++n;
    }
    emitText(buffer, n);
}

void HtmlTokenizer::emitTemp() {
    emitText(reinterpret_cast<const char16_t *>(m_temp.utf16()), m_temp.size());
}

void HtmlTokenizer::beginTag(bool endTag, qsizetype begin) {
    m_nameLength = 0;
    m_endTag = endTag;
    m_selfClosing = false;
    m_keepAttributes = false;
    m_tagBegin = begin;
    m_attributeOpen = false;
    if (!m_attributes.isEmpty()) {
        m_attributes.clear();
        m_attributeNames.clear();
    }
}

void HtmlTokenizer::appendTagName(char16_t c) {
    if (c == 0)
        c = replacementChar;
    if (m_nameLength < int(std::size(m_name)))
        m_name[m_nameLength] = c;
    ++m_nameLength;
}

bool HtmlTokenizer::appropriateEndTag() const {
    return m_nameLength <= int(std::size(m_name))
        && elementForName(QStringView(m_name, m_nameLength)) == m_rawElement;
}

void HtmlTokenizer::beginAttribute() {
    finishAttribute();
    if (!m_keepAttributes)
        return;
    m_attributeName.clear();
    m_attributeValue.clear();
    m_attributeOpen = true;
}

void HtmlTokenizer::appendAttributeName(char16_t c) {
    if (m_keepAttributes)
        m_attributeName.append(QChar(c == 0 ? replacementChar : toLower(c)));
}

void HtmlTokenizer::appendAttributeValue(const char16_t *chars, qsizetype length) {
    if (m_keepAttributes)
        m_attributeValue.append(QStringView(chars, length));
}

void HtmlTokenizer::finishAttribute() {
    if (!m_attributeOpen)
        return;
    m_attributeOpen = false;
    // A repeated attribute name is dropped; the first one counts. Looked up
    // by hash: a tag may have a hundred thousand attributes.
    if (m_attributeNames.contains(m_attributeName))
        return;
    m_attributeNames.insert(m_attributeName);
    m_attributes.append({m_attributeName, m_attributeValue.isNull() ? QStringLiteral("") : m_attributeValue});
}

void HtmlTokenizer::emitTag(qsizetype end) {
    finishAttribute();
    // Copies, because a sink may feed written text (and so other tags)
    // before it is done with this one.
    char16_t name[sizeof m_name / sizeof m_name[0]];
    const int length = std::min(m_nameLength, int(std::size(m_name)));
    std::copy_n(m_name, length, name);
    const QList<Attribute> attributes = m_keepAttributes ? m_attributes : QList<Attribute>();

    Tag tag;
    tag.name = QStringView(name, length);
    tag.element = m_nameLength <= int(std::size(m_name)) ? elementForName(tag.name) : Element::Other;
    tag.endTag = m_endTag;
    tag.selfClosing = m_selfClosing;
    tag.begin = m_tagBegin;
    tag.end = end;
    tag.attributes = &attributes;

    if (m_endTag) {
        m_state = State::Data;
        m_rawElement = Element::Other;
        m_sink.endTag(tag);
        return;
    }
    switch (tag.element) {
    case Element::Script:
        m_state = State::ScriptData;
        break;
    case Element::Title:
    case Element::Textarea:
        m_state = State::Rcdata;
        break;
    case Element::Style:
    case Element::Xmp:
    case Element::Iframe:
    case Element::Noembed:
    case Element::Noframes:
    case Element::Noscript:
        m_state = State::Rawtext;
        break;
    case Element::Plaintext:
        m_state = State::Plaintext;
        break;
    default:
        m_state = State::Data;
        break;
    }
    m_rawElement = m_state == State::Data ? Element::Other : tag.element;
    m_sink.startTag(tag);
}

bool HtmlTokenizer::inAttribute() const {
    return m_returnState == State::AttributeValueDouble || m_returnState == State::AttributeValueSingle
        || m_returnState == State::AttributeValueUnquoted;
}

void HtmlTokenizer::flushReference(const char16_t *chars, qsizetype length) {
    if (inAttribute())
        appendAttributeValue(chars, length);
    else
        emitText(chars, length);
}

// The longest name in the table that the characters after "&" begin with
// wins; what follows it stays text. In an attribute value a legacy name
// without ";" followed by "=" or a letter or digit is left as it stands.
void HtmlTokenizer::resolveNamedReference(const char16_t *next) {
    const char16_t *candidate = reinterpret_cast<const char16_t *>(m_temp.utf16()) + 1;
    const int available = int(m_temp.size()) - 1;
    const NamedReference *match = nullptr;
    int matched = std::min(available, longestReferenceName);
    for (; matched > 0; --matched)
        if ((match = findReference(candidate, matched)))
            break;
    if (!match) {
        flushReference(reinterpret_cast<const char16_t *>(m_temp.utf16()), m_temp.size());
        m_state = m_returnState;
        return;
    }
    if (inAttribute() && candidate[matched - 1] != u';') {
        const char16_t *after = matched < available ? candidate + matched : next;
        if (after && (*after == u'=' || isAsciiAlnum(*after))) {
            flushReference(reinterpret_cast<const char16_t *>(m_temp.utf16()), m_temp.size());
            m_state = m_returnState;
            return;
        }
    }
    flushReference(match->units, match->unitCount);
    flushReference(candidate + matched, available - matched);
    m_state = m_returnState;
}

void HtmlTokenizer::emitNumericReference() {
    std::uint32_t cp = m_number;
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = replacementChar;
    else if (cp >= 0x80 && cp <= 0x9F && c1Replacements[cp - 0x80])
        cp = c1Replacements[cp - 0x80];
    char16_t units[2];
    if (cp >= 0x10000) {
        units[0] = char16_t(0xD800 + ((cp - 0x10000) >> 10));
        units[1] = char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
        flushReference(units, 2);
    } else {
        units[0] = char16_t(cp);
        flushReference(units, 1);
    }
    m_state = m_returnState;
}

// In an end tag name inside raw text: on whitespace, "/" or ">" an end tag
// that closes the raw element goes on as a tag; anything else turns the
// characters read so far back into text. Returns true when c was consumed.
bool HtmlTokenizer::leaveEndTagName(char16_t c, State fallback, qsizetype pos) {
    if (isAsciiAlpha(c)) {
        appendTagName(toLower(c));
        m_temp.append(QChar(c));
        return true;
    }
    if (appropriateEndTag()) {
        if (isTagSpace(c)) {
            m_state = State::BeforeAttributeName;
            return true;
        }
        if (c == u'/') {
            m_state = State::SelfClosingStartTag;
            return true;
        }
        if (c == u'>') {
            emitTag(pos + 1);
            return true;
        }
    }
    emitLiteral("</");
    emitTemp();
    m_state = fallback;
    return false;
}

void HtmlTokenizer::feed(QStringView chunk) {
    const char16_t *const begin = reinterpret_cast<const char16_t *>(chunk.utf16());
    const char16_t *const end = begin + chunk.size();
    const char16_t *p = begin;
    const qsizetype base = m_consumed;
    auto pos = [&](const char16_t *at) { return base + (at - begin); };

    while (p < end) {
        const char16_t c = *p;
        switch (m_state) {
        case State::Data: {
            const char16_t *run = p;
            while (p < end && *p != u'<' && *p != u'&')
                ++p;
            emitText(run, p - run);
            if (p == end)
                break;
            if (*p == u'&') {
                m_returnState = State::Data;
                m_state = State::CharacterReference;
            } else {
                m_tagBegin = pos(p);
                m_state = State::TagOpen;
            }
            ++p;
            break;
        }
        case State::Rcdata:
        case State::Rawtext: {
            const bool references = m_state == State::Rcdata;
            const char16_t *run = p;
            while (p < end && *p != u'<' && !(references && *p == u'&') && *p != 0)
                ++p;
            emitText(run, p - run);
            if (p == end)
                break;
            if (*p == 0) {
                emitChar(replacementChar);
            } else if (*p == u'&') {
                m_returnState = m_state;
                m_state = State::CharacterReference;
            } else {
                m_tagBegin = pos(p);
                m_returnState = m_state;
                m_state = State::RawLessThan;
            }
            ++p;
            break;
        }
        case State::Plaintext: {
            const char16_t *run = p;
            while (p < end && *p != 0)
                ++p;
            emitText(run, p - run);
            if (p < end) {
                emitChar(replacementChar);
                ++p;
            }
            break;
        }
        case State::TagOpen:
            if (c == u'!') {
                m_temp.clear();
                m_state = State::MarkupDeclarationOpen;
                ++p;
            } else if (c == u'/') {
                m_state = State::EndTagOpen;
                ++p;
            } else if (isAsciiAlpha(c)) {
                beginTag(false, m_tagBegin);
                m_state = State::TagName;
            } else if (c == u'?') {
                m_state = State::BogusComment;
            } else {
                emitChar(u'<');
                m_state = State::Data;
            }
            break;
        case State::EndTagOpen:
            if (isAsciiAlpha(c)) {
                beginTag(true, m_tagBegin);
                m_state = State::TagName;
            } else if (c == u'>') {
                m_state = State::Data;
                ++p;
            } else {
                m_state = State::BogusComment;
            }
            break;
        case State::TagName:
            while (p < end) {
                const char16_t n = *p;
                if (n == u'>') {
                    ++p;
                    emitTag(pos(p));
                    break;
                }
                if (isTagSpace(n) || n == u'/') {
                    m_state = n == u'/' ? State::SelfClosingStartTag : State::BeforeAttributeName;
                    if (!m_endTag && m_nameLength <= 6) {
                        const QStringView name(m_name, m_nameLength);
                        m_keepAttributes = name == u"script" || name == u"meta";
                    }
                    ++p;
                    break;
                }
                appendTagName(toLower(n));
                ++p;
            }
            break;
        case State::RawLessThan:
            if (c == u'/') {
                m_temp.clear();
                m_state = State::RawEndTagOpen;
                ++p;
            } else {
                emitChar(u'<');
                m_state = m_returnState;
            }
            break;
        case State::RawEndTagOpen:
            if (isAsciiAlpha(c)) {
                beginTag(true, m_tagBegin);
                m_state = State::RawEndTagName;
            } else {
                emitLiteral("</");
                m_state = m_returnState;
            }
            break;
        case State::RawEndTagName:
            if (leaveEndTagName(c, m_returnState, pos(p)))
                ++p;
            break;
        case State::ScriptData: {
            const char16_t *run = p;
            while (p < end && *p != u'<' && *p != 0)
                ++p;
            emitText(run, p - run);
            if (p == end)
                break;
            if (*p == 0) {
                emitChar(replacementChar);
            } else {
                m_tagBegin = pos(p);
                m_state = State::ScriptLessThan;
            }
            ++p;
            break;
        }
        case State::ScriptLessThan:
            if (c == u'/') {
                m_temp.clear();
                m_state = State::ScriptEndTagOpen;
                ++p;
            } else if (c == u'!') {
                emitLiteral("<!");
                m_state = State::ScriptEscapeStart;
                ++p;
            } else {
                emitChar(u'<');
                m_state = State::ScriptData;
            }
            break;
        case State::ScriptEndTagOpen:
            if (isAsciiAlpha(c)) {
                beginTag(true, m_tagBegin);
                m_state = State::ScriptEndTagName;
            } else {
                emitLiteral("</");
                m_state = State::ScriptData;
            }
            break;
        case State::ScriptEndTagName:
            if (leaveEndTagName(c, State::ScriptData, pos(p)))
                ++p;
            break;
        case State::ScriptEscapeStart:
        case State::ScriptEscapeStartDash:
            if (c == u'-') {
                emitChar(u'-');
                m_state = m_state == State::ScriptEscapeStart ? State::ScriptEscapeStartDash
                                                              : State::ScriptEscapedDashDash;
                ++p;
            } else {
                m_state = State::ScriptData;
            }
            break;
        case State::ScriptEscaped: {
            const char16_t *run = p;
            while (p < end && *p != u'-' && *p != u'<' && *p != 0)
                ++p;
            emitText(run, p - run);
            if (p == end)
                break;
            if (*p == u'-') {
                emitChar(u'-');
                m_state = State::ScriptEscapedDash;
            } else if (*p == u'<') {
                m_tagBegin = pos(p);
                m_state = State::ScriptEscapedLessThan;
            } else {
                emitChar(replacementChar);
            }
            ++p;
            break;
        }
        case State::ScriptEscapedDash:
        case State::ScriptEscapedDashDash:
            if (c == u'-') {
                emitChar(u'-');
                m_state = State::ScriptEscapedDashDash;
            } else if (c == u'<') {
                m_tagBegin = pos(p);
                m_state = State::ScriptEscapedLessThan;
            } else if (c == u'>' && m_state == State::ScriptEscapedDashDash) {
                emitChar(u'>');
                m_state = State::ScriptData;
            } else {
                emitChar(c == 0 ? replacementChar : c);
                m_state = State::ScriptEscaped;
            }
            ++p;
            break;
        case State::ScriptEscapedLessThan:
            if (c == u'/') {
                m_temp.clear();
                m_state = State::ScriptEscapedEndTagOpen;
                ++p;
            } else if (isAsciiAlpha(c)) {
                m_temp.clear();
                emitChar(u'<');
                m_state = State::ScriptDoubleEscapeStart;
            } else {
                emitChar(u'<');
                m_state = State::ScriptEscaped;
            }
            break;
        case State::ScriptEscapedEndTagOpen:
            if (isAsciiAlpha(c)) {
                beginTag(true, m_tagBegin);
                m_state = State::ScriptEscapedEndTagName;
            } else {
                emitLiteral("</");
                m_state = State::ScriptEscaped;
            }
            break;
        case State::ScriptEscapedEndTagName:
            if (leaveEndTagName(c, State::ScriptEscaped, pos(p)))
                ++p;
            break;
        case State::ScriptDoubleEscapeStart:
        case State::ScriptDoubleEscapeEnd: {
            const bool starting = m_state == State::ScriptDoubleEscapeStart;
            if (isTagSpace(c) || c == u'/' || c == u'>') {
                const bool script = m_temp == u"script";
                m_state = starting == script ? State::ScriptDoubleEscaped : State::ScriptEscaped;
                emitChar(c);
                ++p;
            } else if (isAsciiAlpha(c)) {
                m_temp.append(QChar(toLower(c)));
                emitChar(c);
                ++p;
            } else {
                m_state = starting ? State::ScriptEscaped : State::ScriptDoubleEscaped;
            }
            break;
        }
        case State::ScriptDoubleEscaped: {
            const char16_t *run = p;
            while (p < end && *p != u'-' && *p != u'<' && *p != 0)
                ++p;
            emitText(run, p - run);
            if (p == end)
                break;
            if (*p == u'-') {
                emitChar(u'-');
                m_state = State::ScriptDoubleEscapedDash;
            } else if (*p == u'<') {
                emitChar(u'<');
                m_state = State::ScriptDoubleEscapedLessThan;
            } else {
                emitChar(replacementChar);
            }
            ++p;
            break;
        }
        case State::ScriptDoubleEscapedDash:
        case State::ScriptDoubleEscapedDashDash:
            if (c == u'-') {
                emitChar(u'-');
                m_state = State::ScriptDoubleEscapedDashDash;
            } else if (c == u'<') {
                emitChar(u'<');
                m_state = State::ScriptDoubleEscapedLessThan;
            } else if (c == u'>' && m_state == State::ScriptDoubleEscapedDashDash) {
                emitChar(u'>');
                m_state = State::ScriptData;
            } else {
                emitChar(c == 0 ? replacementChar : c);
                m_state = State::ScriptDoubleEscaped;
            }
            ++p;
            break;
        case State::ScriptDoubleEscapedLessThan:
            if (c == u'/') {
                m_temp.clear();
                emitChar(u'/');
                m_state = State::ScriptDoubleEscapeEnd;
                ++p;
            } else {
                m_state = State::ScriptDoubleEscaped;
            }
            break;
        case State::BeforeAttributeName:
            if (isTagSpace(c)) {
                ++p;
            } else if (c == u'/' || c == u'>') {
                m_state = State::AfterAttributeName;
            } else {
                beginAttribute();
                if (c == u'=') {
                    appendAttributeName(c);
                    ++p;
                }
                m_state = State::AttributeName;
            }
            break;
        case State::AttributeName:
            if (isTagSpace(c) || c == u'/' || c == u'>') {
                m_state = State::AfterAttributeName;
            } else if (c == u'=') {
                m_state = State::BeforeAttributeValue;
                ++p;
            } else {
                appendAttributeName(c);
                ++p;
            }
            break;
        case State::AfterAttributeName:
            if (isTagSpace(c)) {
                ++p;
            } else if (c == u'/') {
                m_state = State::SelfClosingStartTag;
                ++p;
            } else if (c == u'=') {
                m_state = State::BeforeAttributeValue;
                ++p;
            } else if (c == u'>') {
                ++p;
                emitTag(pos(p));
            } else {
                beginAttribute();
                m_state = State::AttributeName;
            }
            break;
        case State::BeforeAttributeValue:
            if (isTagSpace(c)) {
                ++p;
            } else if (c == u'"') {
                m_state = State::AttributeValueDouble;
                ++p;
            } else if (c == u'\'') {
                m_state = State::AttributeValueSingle;
                ++p;
            } else if (c == u'>') {
                ++p;
                emitTag(pos(p));
            } else {
                m_state = State::AttributeValueUnquoted;
            }
            break;
        case State::AttributeValueDouble:
        case State::AttributeValueSingle: {
            const char16_t quote = m_state == State::AttributeValueDouble ? u'"' : u'\'';
            const char16_t *run = p;
            while (p < end && *p != quote && !(m_keepAttributes && (*p == u'&' || *p == 0)))
                ++p;
            appendAttributeValue(run, p - run);
            if (p == end)
                break;
            if (*p == quote) {
                m_state = State::AfterAttributeValueQuoted;
            } else if (*p == u'&') {
                m_returnState = m_state;
                m_state = State::CharacterReference;
            } else {
                appendAttributeValue(&replacementChar, 1);
            }
            ++p;
            break;
        }
        case State::AttributeValueUnquoted:
            if (isTagSpace(c)) {
                m_state = State::BeforeAttributeName;
                ++p;
            } else if (c == u'&' && m_keepAttributes) {
                m_returnState = m_state;
                m_state = State::CharacterReference;
                ++p;
            } else if (c == u'>') {
                ++p;
                emitTag(pos(p));
            } else {
                appendAttributeValue(c == 0 ? &replacementChar : p, 1);
                ++p;
            }
            break;
        case State::AfterAttributeValueQuoted:
            if (isTagSpace(c)) {
                m_state = State::BeforeAttributeName;
                ++p;
            } else if (c == u'/') {
                m_state = State::SelfClosingStartTag;
                ++p;
            } else if (c == u'>') {
                ++p;
                emitTag(pos(p));
            } else {
                m_state = State::BeforeAttributeName;
            }
            break;
        case State::SelfClosingStartTag:
            if (c == u'>') {
                m_selfClosing = true;
                ++p;
                emitTag(pos(p));
            } else {
                m_state = State::BeforeAttributeName;
            }
            break;
        case State::BogusComment:
        case State::Doctype:
            while (p < end && *p != u'>')
                ++p;
            if (p < end) {
                m_state = State::Data;
                ++p;
            }
            break;
        case State::MarkupDeclarationOpen: {
            m_temp.append(QChar(toLower(c)));
            ++p;
            if (m_temp == u"--") {
                m_state = State::CommentStart;
            } else if (m_temp == u"doctype") {
                m_state = State::Doctype;
            } else if (!QStringView(u"--").startsWith(m_temp) && !QStringView(u"doctype").startsWith(m_temp)) {
                // Anything else, CDATA included outside foreign content, is a
                // bogus comment that ends at the first ">".
                m_state = c == u'>' ? State::Data : State::BogusComment;
            }
            break;
        }
        case State::CommentStart:
        case State::CommentStartDash:
            if (c == u'-') {
                m_state = m_state == State::CommentStart ? State::CommentStartDash : State::CommentEnd;
                ++p;
            } else if (c == u'>') {
                m_state = State::Data;
                ++p;
            } else {
                m_state = State::Comment;
            }
            break;
        case State::Comment:
            while (p < end && *p != u'-')
                ++p;
            if (p < end) {
                m_state = State::CommentEndDash;
                ++p;
            }
            break;
        case State::CommentEndDash:
            if (c == u'-') {
                m_state = State::CommentEnd;
                ++p;
            } else {
                m_state = State::Comment;
            }
            break;
        case State::CommentEnd:
            if (c == u'>') {
                m_state = State::Data;
            } else if (c == u'!') {
                m_state = State::CommentEndBang;
            } else if (c != u'-') {
                m_state = State::Comment;
                break;
            }
            ++p;
            break;
        case State::CommentEndBang:
            if (c == u'-') {
                m_state = State::CommentEndDash;
                ++p;
            } else if (c == u'>') {
                m_state = State::Data;
                ++p;
            } else {
                m_state = State::Comment;
            }
            break;
        case State::CharacterReference:
            m_temp.clear();
            m_temp.append(u'&');
            if (isAsciiAlnum(c)) {
                m_state = State::NamedReference;
            } else if (c == u'#') {
                m_temp.append(u'#');
                m_number = 0;
                m_state = State::NumericReference;
                ++p;
            } else {
                flushReference(reinterpret_cast<const char16_t *>(m_temp.utf16()), 1);
                m_state = m_returnState;
            }
            break;
        case State::NamedReference:
            if (isAsciiAlnum(c) && m_temp.size() <= longestReferenceName) {
                m_temp.append(QChar(c));
                ++p;
            } else if (c == u';' && m_temp.size() <= longestReferenceName) {
                m_temp.append(QChar(c));
                ++p;
                resolveNamedReference(p < end ? p : nullptr);
            } else {
                resolveNamedReference(p);
            }
            break;
        case State::NumericReference:
            if (c == u'x' || c == u'X') {
                m_temp.append(QChar(c));
                m_state = State::HexReferenceStart;
                ++p;
            } else {
                m_state = State::DecimalReferenceStart;
            }
            break;
        case State::HexReferenceStart:
        case State::DecimalReferenceStart:
            if (m_state == State::HexReferenceStart ? isHexDigit(c) : isAsciiDigit(c)) {
                m_state = m_state == State::HexReferenceStart ? State::HexReference : State::DecimalReference;
            } else {
                flushReference(reinterpret_cast<const char16_t *>(m_temp.utf16()), m_temp.size());
                m_state = m_returnState;
            }
            break;
        case State::HexReference:
        case State::DecimalReference: {
            const bool hex = m_state == State::HexReference;
            if (hex ? isHexDigit(c) : isAsciiDigit(c)) {
                const std::uint32_t digit = isAsciiDigit(c) ? c - u'0' : (c | 0x20) - u'a' + 10;
                // Saturates past the last code point, so a huge number stays
                // out of range instead of wrapping round into it.
                m_number = std::min<std::uint32_t>(m_number * (hex ? 16 : 10) + digit, 0x110000);
                ++p;
            } else {
                if (c == u';')
                    ++p;
                emitNumericReference();
            }
            break;
        }
        }
    }
    m_consumed = base + chunk.size();
}

void HtmlTokenizer::finish() {
    switch (m_state) {
    case State::TagOpen:
    case State::RawLessThan:
    case State::ScriptLessThan:
    case State::ScriptEscapedLessThan:
        emitChar(u'<');
        break;
    case State::EndTagOpen:
    case State::RawEndTagOpen:
    case State::ScriptEndTagOpen:
    case State::ScriptEscapedEndTagOpen:
        emitLiteral("</");
        break;
    case State::RawEndTagName:
    case State::ScriptEndTagName:
    case State::ScriptEscapedEndTagName:
        emitLiteral("</");
        emitTemp();
        break;
    case State::CharacterReference:
        m_temp = QStringLiteral("&");
        flushReference(reinterpret_cast<const char16_t *>(m_temp.utf16()), 1);
        break;
    case State::NamedReference:
        resolveNamedReference(nullptr);
        break;
    case State::HexReferenceStart:
    case State::DecimalReferenceStart:
        flushReference(reinterpret_cast<const char16_t *>(m_temp.utf16()), m_temp.size());
        break;
    case State::HexReference:
    case State::DecimalReference:
        emitNumericReference();
        break;
    default:
        break;
    }
    m_state = State::Data;
    m_sink.endOfInput();
}

} // namespace chenglan::html
