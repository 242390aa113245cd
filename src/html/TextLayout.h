#pragma once

#include "html/HtmlTokenizer.h"

#include <QString>

#include <vector>

namespace chenglan::html {

// Lays out the visible text of a page from its elements and text in source
// order, the way a browser's plain text of a page reads:
// - white space collapses to one blank, and none is kept at the start or end
//   of a line or of a table cell;
// - blocks (div, p, li, headings, table, ...) begin and end on a line of
//   their own; <br> breaks the line; a line break is "\r\n";
// - every table row ends with "\r\n", also one left open or closed by the
//   next row, a table end or the end of the page; a row starts on a new line;
// - nothing at all is put between the cells of a row (never a tab);
// - text that stands between the cells, directly inside a row, is kept where
//   it stands (browsers would move it out of the table; the scrapers put
//   their row markers exactly there);
// - inside <pre> and <listing> white space is kept, a tab as one blank.
// Element nesting is not checked: rows and cells are closed the way a parser
// closes them implicitly, and every other element only marks its start and end.
class TextLayout {
public:
    explicit TextLayout(qsizetype expectedLength = 0);

    void text(const char16_t *chars, qsizetype length);
    // Text whose white space is kept as it stands (xmp, plaintext).
    void preformattedText(const char16_t *chars, qsizetype length);
    void startElement(Element element);
    void endElement(Element element);
    // Closes the rows still open and hands over the text.
    QString finish();

private:
    struct TableState {
        bool rowOpen = false;
        bool cellOpen = false;
    };

    void beginContent();
    void lineBreak();
    void forcedBreak();
    void block();
    void resetBox();
    TableState &table();
    void openRow();
    void closeRow();
    void openCell();
    void closeCell();

    QString m_out;
    bool m_lineHasContent = false; // something visible since the last line break
    bool m_boxHasContent = false;  // ... and since the start of the current cell
    bool m_pendingSpace = false;
    bool m_pendingBreak = false;
    int m_preDepth = 0;
    bool m_skipNewline = false;    // the line break right after <pre> is not shown
    bool m_afterCr = false;
    std::vector<TableState> m_tables;
};

} // namespace chenglan::html
