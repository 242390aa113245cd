#pragma once

#include "script/ScriptSandbox.h"

#include <QString>
#include <QStringView>

#include <chrono>
#include <memory>

namespace chenglan {

struct StepLog;

// What the scrapers ask of a browser, done in memory without one: the
// visible text of a page (scripts run in a sandbox, document.write output at
// its place) and the body markup of a page as a browser reports it.
class PageRenderer {
public:
    struct Limits {
        std::chrono::milliseconds scriptTime{2000};      // per inline script, wall clock
        std::chrono::milliseconds pageScriptTime{5000};  // all scripts of one page together
        qsizetype writtenChars = 4 * 1024 * 1024;        // document.write output per page
        qsizetype pageChars = 64 * 1024 * 1024;          // input accepted at all
        int scriptNesting = 8;                           // scripts written by scripts, levels deep
    };

    PageRenderer() = default;
    explicit PageRenderer(Limits limits, ScriptSandbox::Options scripts = {})
        : m_limits(limits), m_scripts(scripts) {}

    // The page's visible text in source order: tags removed, character
    // references decoded, <script>/<style> content not shown, whitespace
    // collapsed as a browser lays it out, "\r\n" after every table row and at
    // <br> and block ends, nothing between the cells of a row, every
    // character the scrapers inserted kept where it stands, also directly
    // inside a <tr>. Inline scripts run in document order; their errors are
    // swallowed and a runaway script is interrupted after Limits::scriptTime.
    // Scripts run only when a QCoreApplication exists. A page longer than
    // Limits::pageChars fails with StepFailure. When the scripts' engine had
    // to be killed (see ScriptSandbox::failure) the text is the page's
    // without the rest of its scripts, and log gets the reason.
    QString visibleText(const QString &html, StepLog *log = nullptr) const;

    // The body markup of the page, with every closing script tag written
    // "</SCRIPT>", the form the analysis page reader cuts at. Scripts are not run.
    // The body starts after the first <body> tag (else after </head>, else at
    // the top); </body> and </html> are left out.
    QString bodyMarkup(const QString &html) const;

    const Limits &limits() const { return m_limits; }
    const ScriptSandbox::Options &scriptOptions() const { return m_scripts; }

    // visibleText() for a page that arrives in pieces: the text does not
    // depend on where the pieces are cut.
    class TextStream {
    public:
        explicit TextStream(const PageRenderer &renderer, qsizetype expectedLength = 0);
        ~TextStream();
        TextStream(const TextStream &) = delete;
        TextStream &operator=(const TextStream &) = delete;

        void feed(QStringView piece);
        QString finish();
        // Why the page's script engine was lost, empty while all is well.
        QString scriptFailure() const;

    private:
        struct Private;
        std::unique_ptr<Private> d;
    };

private:
    Limits m_limits;
    ScriptSandbox::Options m_scripts;
};

} // namespace chenglan
