#include "html/TextLayout.h"

namespace chenglan::html {

namespace {
constexpr bool isCollapsible(char16_t c) {
    return c == u' ' || c == u'\n' || c == u'\r' || c == u'\t' || c == u'\f';
}
// A character that ends a run of ordinary text: white space or NUL (which a
// parser drops from the text of the body).
constexpr bool endsRun(char16_t c) { return c <= u' ' && (c == 0 || isCollapsible(c)); }
} // namespace

TextLayout::TextLayout(qsizetype expectedLength) {
    if (expectedLength > 0)
        m_out.reserve(expectedLength);
}

void TextLayout::beginContent() {
    if (m_boxHasContent) {
        if (m_pendingBreak)
            lineBreak();
        else if (m_pendingSpace)
            m_out.append(u' ');
    }
    m_pendingBreak = m_pendingSpace = false;
    m_boxHasContent = m_lineHasContent = true;
}

void TextLayout::lineBreak() {
    m_out.append(u"\r\n");
    m_lineHasContent = m_boxHasContent = false;
    m_pendingSpace = m_pendingBreak = false;
}

void TextLayout::forcedBreak() {
    if (m_pendingBreak && m_boxHasContent)
        lineBreak();
    lineBreak();
}

void TextLayout::block() {
    m_pendingBreak = true;
    m_pendingSpace = false;
}

void TextLayout::resetBox() {
    m_pendingSpace = m_pendingBreak = false;
    m_boxHasContent = false;
}

void TextLayout::text(const char16_t *p, qsizetype length) {
    if (m_preDepth > 0) {
        preformattedText(p, length);
        return;
    }
    const char16_t *const end = p + length;
    while (p < end) {
        if (endsRun(*p)) {
            if (*p != 0 && m_boxHasContent)
                m_pendingSpace = true;
            ++p;
            continue;
        }
        const char16_t *run = p++;
        while (p < end && !endsRun(*p))
            ++p;
        beginContent();
        m_out.append(QStringView(run, p - run));
    }
}

void TextLayout::preformattedText(const char16_t *p, qsizetype length) {
    const char16_t *const end = p + length;
    while (p < end) {
        const char16_t c = *p;
        const bool skip = m_skipNewline;
        m_skipNewline = false;
        if (c == u'\n' || c == u'\r') {
            const bool secondHalf = c == u'\n' && m_afterCr;
            m_afterCr = c == u'\r';
            ++p;
            // The "\n" of a "\r\n" pair belongs to the break already made
            // (or already skipped right after <pre>).
            if (!skip && !secondHalf)
                forcedBreak();
            continue;
        }
        m_afterCr = false;
        if (c == u' ' || c == u'\t' || c == u'\f') {
            beginContent();
            m_out.append(u' ');
            ++p;
            continue;
        }
        if (c == 0) {
            ++p;
            continue;
        }
        const char16_t *run = p++;
        while (p < end && !endsRun(*p))
            ++p;
        beginContent();
        m_out.append(QStringView(run, p - run));
    }
}

TextLayout::TableState &TextLayout::table() {
    // A row or cell outside any table still lays out as one.
    if (m_tables.empty())
        m_tables.emplace_back();
    return m_tables.back();
}

void TextLayout::openRow() {
    closeRow();
    if (m_lineHasContent)
        lineBreak();
    table().rowOpen = true;
    resetBox();
}

void TextLayout::closeRow() {
    if (m_tables.empty() || !m_tables.back().rowOpen)
        return;
    closeCell();
    lineBreak();
    m_tables.back().rowOpen = false;
}

void TextLayout::openCell() {
    closeCell();
    if (!table().rowOpen)
        openRow();
    m_tables.back().cellOpen = true;
    resetBox();
}

void TextLayout::closeCell() {
    if (m_tables.empty() || !m_tables.back().cellOpen)
        return;
    m_tables.back().cellOpen = false;
    resetBox();
}

void TextLayout::startElement(Element element) {
    switch (element) {
    case Element::Br:
        forcedBreak();
        break;
    case Element::Table:
        block();
        m_tables.emplace_back();
        break;
    case Element::Tr:
        openRow();
        break;
    case Element::Td:
    case Element::Th:
        openCell();
        break;
    case Element::Thead:
    case Element::Tbody:
    case Element::Tfoot:
        closeRow();
        break;
    case Element::Caption:
        closeRow();
        block();
        break;
    case Element::Pre:
    case Element::Listing:
        block();
        ++m_preDepth;
        m_skipNewline = true;
        break;
    default:
        if (isBlock(element))
            block();
        break;
    }
}

void TextLayout::endElement(Element element) {
    switch (element) {
    case Element::Br:
        forcedBreak();
        break;
    case Element::Table:
        if (!m_tables.empty()) {
            closeRow();
            m_tables.pop_back();
        }
        block();
        break;
    case Element::Tr:
    case Element::Thead:
    case Element::Tbody:
    case Element::Tfoot:
        closeRow();
        break;
    case Element::Td:
    case Element::Th:
        closeCell();
        break;
    case Element::Pre:
    case Element::Listing:
        if (m_preDepth > 0)
            --m_preDepth;
        m_skipNewline = false;
        block();
        break;
    default:
        if (isBlock(element))
            block();
        break;
    }
}

QString TextLayout::finish() {
    while (!m_tables.empty()) {
        closeRow();
        m_tables.pop_back();
    }
    return std::move(m_out);
}

} // namespace chenglan::html
