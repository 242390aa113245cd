#pragma once

#include <QString>

#include <chrono>

namespace chenglan {

// What the scrapers ask of a browser, done in memory without one: the
// visible text of a page (scripts run in a sandbox, document.write output at
// its place) and the body markup of a page as a browser reports it.
class PageRenderer {
public:
    struct Limits {
        std::chrono::milliseconds scriptTime{2000};   // per inline script, wall clock
        qsizetype writtenChars = 4 * 1024 * 1024;     // document.write output per page
        qsizetype pageChars = 64 * 1024 * 1024;       // input accepted at all
    };

    PageRenderer() = default;
    explicit PageRenderer(Limits limits) : m_limits(limits) {}

    // The page's visible text in source order: tags removed, character
    // references decoded, <script>/<style> content not shown, whitespace
    // collapsed as a browser lays it out, "\r\n" after every table row and at
    // <br> and block ends, nothing between the cells of a row, every
    // character the scrapers inserted kept where it stands, also directly
    // inside a <tr>. Inline scripts run in document order; their errors are
    // swallowed and a runaway script is interrupted after Limits::scriptTime.
    QString visibleText(const QString &html) const;

    // The body markup of the page, with every closing script tag written
    // "</SCRIPT>" as the original browser reported it. Scripts are not run.
    QString bodyMarkup(const QString &html) const;

    const Limits &limits() const { return m_limits; }

private:
    Limits m_limits;
};

} // namespace chenglan
