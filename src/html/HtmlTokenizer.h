#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <QStringView>

#include <cstdint>

namespace chenglan::html {

// The elements whose tags change how text is tokenized or laid out. Every
// other tag name is Other.
enum class Element : std::uint8_t {
    Other,
    // Content read raw by the tokenizer.
    Script, Style, Title, Textarea, Xmp, Iframe, Noembed, Noframes, Noscript, Plaintext,
    // Structure.
    Html, Head, Body, Template, Br, Pre, Listing,
    Table, Caption, Thead, Tbody, Tfoot, Tr, Td, Th,
    // Blocks: a line break before and after.
    Address, Article, Aside, Blockquote, Center, Dd, Details, Dialog, Dir, Div, Dl, Dt,
    Fieldset, Figcaption, Figure, Footer, Form, H1, H2, H3, H4, H5, H6, Header, Hgroup,
    Hr, Legend, Li, Main, Menu, Nav, Ol, P, Section, Summary, Ul,
};

// The element of a lower-case tag name.
Element elementForName(QStringView lowerCaseName);
// True for the elements laid out as blocks (a line break before and after).
bool isBlock(Element element);

struct Attribute {
    QString name;   // lower case
    QString value;  // character references decoded
};

// A start or end tag as the tokenizer reports it. Attributes are collected
// only for <script> and <meta>, the tags whose attributes matter here.
struct Tag {
    Element element = Element::Other;
    QStringView name;          // lower case; cut at 32 characters
    bool endTag = false;
    bool selfClosing = false;
    qsizetype begin = 0;       // source offset of "<"
    qsizetype end = 0;         // source offset just past ">"
    const QList<Attribute> *attributes = nullptr;

    QString attribute(QStringView attributeName) const; // null when absent
    bool hasAttribute(QStringView attributeName) const;
};

// A streaming HTML tokenizer following the WHATWG tokenizer states, without
// tree construction: text is reported where it stands in the source. Raw text
// elements (script, style, title, textarea, xmp, iframe, noembed, noframes,
// noscript, plaintext) switch it into their content states on their start tag,
// as a parser with scripting enabled does. Input may come in pieces of any
// size; the output does not depend on where they are cut.
//
// feed() may be called again from inside a sink callback (a script's
// document.write): the written text is tokenized at that point, before the
// rest of the current piece. Source offsets count only the text fed from
// outside such callbacks.
class HtmlTokenizer {
public:
    enum class TextKind : std::uint8_t {
        Data,     // ordinary document text, character references decoded
        Raw,      // content of a raw text element (see rawElement())
    };

    class Sink {
    public:
        virtual ~Sink() = default;
        virtual void text(const char16_t *chars, qsizetype length, TextKind kind) = 0;
        virtual void startTag(const Tag &tag) = 0;
        virtual void endTag(const Tag &tag) = 0;
        virtual void endOfInput() {}
    };

    explicit HtmlTokenizer(Sink &sink);

    void feed(QStringView chunk);
    void finish();

    // The raw text element whose content is being read, or Other.
    Element rawElement() const { return m_rawElement; }

private:
    enum class State : std::uint8_t;

    void emitText(const char16_t *chars, qsizetype length);
    void emitChar(char16_t c) { emitText(&c, 1); }
    void emitLiteral(const char *ascii);
    void emitTemp();
    void beginTag(bool endTag, qsizetype begin);
    void appendTagName(char16_t c);
    void emitTag(qsizetype end);
    bool appropriateEndTag() const;
    void beginAttribute();
    void appendAttributeName(char16_t c);
    void appendAttributeValue(const char16_t *chars, qsizetype length);
    void finishAttribute();
    bool inAttribute() const;
    void flushReference(const char16_t *chars, qsizetype length);
    void resolveNamedReference(const char16_t *next);
    void emitNumericReference();
    bool leaveEndTagName(char16_t c, State fallback, qsizetype pos);

    Sink &m_sink;
    State m_state;
    State m_returnState;
    Element m_rawElement = Element::Other;
    qsizetype m_consumed = 0;

    // The tag being read.
    char16_t m_name[32];
    int m_nameLength = 0;
    bool m_endTag = false;
    bool m_selfClosing = false;
    bool m_keepAttributes = false;
    qsizetype m_tagBegin = 0;
    QList<Attribute> m_attributes;
    QSet<QString> m_attributeNames;
    QString m_attributeName;
    QString m_attributeValue;
    bool m_attributeOpen = false;

    // The temporary buffer of the WHATWG states: the characters of a
    // tentative end tag, a markup declaration or a character reference.
    QString m_temp;
    std::uint32_t m_number = 0;
};

} // namespace chenglan::html
