#include "html/PageRenderer.h"

#include "base/Step.h"
#include "html/HtmlTokenizer.h"
#include "script/ScriptSandbox.h"
#include "html/TextLayout.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace chenglan {

using html::Element;
using html::HtmlTokenizer;
using html::Tag;

namespace {

void checkPageSize(qsizetype length, const PageRenderer::Limits &limits) {
    if (length > limits.pageChars)
        throw StepFailure(QStringLiteral("The page is too large to render: %1 characters, at most %2.")
                              .arg(length)
                              .arg(limits.pageChars));
}

// Whether a browser runs an inline script of this tag: no src (external
// scripts are not fetched) and a JavaScript type or none.
bool runsAsInlineScript(const Tag &tag) {
    if (tag.hasAttribute(u"src"))
        return false;
    static const QStringView javaScriptTypes[] = {
        u"application/ecmascript", u"application/javascript", u"application/x-ecmascript",
        u"application/x-javascript", u"text/ecmascript", u"text/javascript", u"text/javascript1.0",
        u"text/javascript1.1", u"text/javascript1.2", u"text/javascript1.3", u"text/javascript1.4",
        u"text/javascript1.5", u"text/jscript", u"text/livescript", u"text/x-ecmascript",
        u"text/x-javascript",
    };
    QString type = tag.attribute(u"type");
    if (type.isNull()) {
        const QString language = tag.attribute(u"language");
        if (language.isEmpty())
            return true;
        type = QStringLiteral("text/") + language;
    }
    type = type.trimmed().toLower();
    if (type.isEmpty())
        return true;
    return std::find(std::begin(javaScriptTypes), std::end(javaScriptTypes), QStringView(type))
        != std::end(javaScriptTypes);
}

// Tokenizer events to visible text, running the inline scripts on the way.
class VisibleTextSink final : public HtmlTokenizer::Sink {
public:
    VisibleTextSink(const PageRenderer::Limits &limits, const ScriptSandbox::Options &scripts,
                    qsizetype expectedLength)
        : m_limits(limits), m_scripts(scripts), m_tokenizer(*this), m_layout(expectedLength) {}

    void feed(QStringView piece) {
        m_fed += piece.size();
        checkPageSize(m_fed, m_limits);
        m_tokenizer.feed(piece);
    }
    QString finish() {
        m_tokenizer.finish();
        return m_layout.finish();
    }
    QString scriptFailure() const { return m_sandbox ? m_sandbox->failure() : QString(); }

    void text(const char16_t *chars, qsizetype length, HtmlTokenizer::TextKind kind) override {
        if (kind == HtmlTokenizer::TextKind::Raw) {
            switch (m_tokenizer.rawElement()) {
            case Element::Script:
                if (m_scriptRuns)
                    m_script.append(QStringView(chars, length));
                return;
            case Element::Xmp:
            case Element::Plaintext:
                if (m_templateDepth == 0)
                    m_layout.preformattedText(chars, length);
                return;
            default: // style, title, textarea, iframe, noembed, noframes, noscript
                return;
            }
        }
        if (m_templateDepth == 0)
            m_layout.text(chars, length);
    }

    void startTag(const Tag &tag) override {
        switch (tag.element) {
        case Element::Script:
            m_inScript = true;
            m_script.clear();
            m_scriptRuns = m_templateDepth == 0 && runsAsInlineScript(tag);
            return;
        case Element::Template:
            ++m_templateDepth;
            return;
        default:
            if (m_templateDepth == 0)
                m_layout.startElement(tag.element);
        }
    }

    void endTag(const Tag &tag) override {
        switch (tag.element) {
        case Element::Script:
            if (m_inScript) {
                m_inScript = false;
                if (m_scriptRuns)
                    runScript(std::exchange(m_script, QString()));
            }
            return;
        case Element::Template:
            if (m_templateDepth > 0)
                --m_templateDepth;
            return;
        default:
            if (m_templateDepth == 0)
                m_layout.endElement(tag.element);
        }
    }

private:
    void runScript(const QString &source) {
        using namespace std::chrono;
        if (m_scriptDepth >= m_limits.scriptNesting)
            return;
        if (!m_sandbox)
            m_sandbox.emplace([this](const QString &text) { write(text); }, m_scripts);
        const bool outermost = m_scriptDepth == 0;
        const milliseconds left = m_limits.pageScriptTime - m_scriptTimeUsed;
        const auto started = steady_clock::now();
        ++m_scriptDepth;
        // Once capped, writes are dropped without interrupting anything.
        const qsizetype room =
            m_writeCapped ? std::numeric_limits<qsizetype>::max() : m_limits.writtenChars - m_written;
        m_sandbox->run(source, std::min(m_limits.scriptTime, left), room);
        --m_scriptDepth;
        if (outermost)
            m_scriptTimeUsed += duration_cast<milliseconds>(steady_clock::now() - started);
    }

    // document.write: the text is tokenized right here, before the rest of
    // the page, and may itself hold scripts.
    void write(const QString &text) {
        if (m_writeCapped)
            return;
        QStringView piece(text);
        const qsizetype room = m_limits.writtenChars - m_written;
        if (piece.size() >= room) {
            piece = piece.first(std::max<qsizetype>(room, 0));
            m_writeCapped = true;
        }
        m_written += piece.size();
        m_tokenizer.feed(piece);
        if (m_writeCapped)
            m_sandbox->interrupt();
    }

    const PageRenderer::Limits &m_limits;
    const ScriptSandbox::Options &m_scripts;
    HtmlTokenizer m_tokenizer;
    html::TextLayout m_layout;
    std::optional<ScriptSandbox> m_sandbox;
    QString m_script;
    bool m_inScript = false;
    bool m_scriptRuns = false;
    int m_templateDepth = 0;
    int m_scriptDepth = 0;
    std::chrono::milliseconds m_scriptTimeUsed{0};
    qsizetype m_written = 0;
    bool m_writeCapped = false;
    qsizetype m_fed = 0;
};

// Records where the body starts and which tags its markup writes otherwise.
class BodyMarkupSink final : public HtmlTokenizer::Sink {
public:
    struct Edit {
        qsizetype begin;
        qsizetype end;
        bool scriptEnd; // else the tag is left out
    };

    void text(const char16_t *, qsizetype, HtmlTokenizer::TextKind) override {}
    void startTag(const Tag &tag) override {
        if (tag.element == Element::Script)
            inScript = true;
        else if (tag.element == Element::Body && bodyStart < 0)
            bodyStart = tag.end;
    }
    void endTag(const Tag &tag) override {
        if (tag.element == Element::Script && inScript) {
            inScript = false;
            edits.append({tag.begin, tag.end, true});
        } else if (tag.element == Element::Head && headEnd < 0) {
            headEnd = tag.end;
        } else if (tag.element == Element::Body || tag.element == Element::Html) {
            edits.append({tag.begin, tag.end, false});
        }
    }

    qsizetype bodyStart = -1;
    qsizetype headEnd = -1;
    bool inScript = false;
    QList<Edit> edits;
};

} // namespace

struct PageRenderer::TextStream::Private {
    Private(const PageRenderer &renderer, qsizetype expectedLength)
        : sink(renderer.limits(), renderer.scriptOptions(), expectedLength) {}
    VisibleTextSink sink;
};

PageRenderer::TextStream::TextStream(const PageRenderer &renderer, qsizetype expectedLength)
    : d(std::make_unique<Private>(renderer, expectedLength)) {}

PageRenderer::TextStream::~TextStream() = default;

void PageRenderer::TextStream::feed(QStringView piece) { d->sink.feed(piece); }

QString PageRenderer::TextStream::finish() { return d->sink.finish(); }

QString PageRenderer::TextStream::scriptFailure() const { return d->sink.scriptFailure(); }

QString PageRenderer::visibleText(const QString &html, StepLog *log) const {
    checkPageSize(html.size(), m_limits);
    TextStream stream(*this, html.size());
    stream.feed(html);
    QString text = stream.finish();
    if (log) {
        const QString failure = stream.scriptFailure();
        if (!failure.isEmpty())
            log->add(FailureKind::Data, failure);
    }
    return text;
}

QString PageRenderer::bodyMarkup(const QString &html) const {
    checkPageSize(html.size(), m_limits);
    BodyMarkupSink sink;
    HtmlTokenizer tokenizer(sink);
    tokenizer.feed(html);
    tokenizer.finish();

    qsizetype at = sink.bodyStart >= 0 ? sink.bodyStart : std::max<qsizetype>(sink.headEnd, 0);
    QString out;
    out.reserve(html.size() - at + 16);
    for (const BodyMarkupSink::Edit &edit : std::as_const(sink.edits)) {
        if (edit.begin < at)
            continue;
        out.append(QStringView(html).sliced(at, edit.begin - at));
        if (edit.scriptEnd)
            out.append(u"</SCRIPT>");
        at = edit.end;
    }
    out.append(QStringView(html).sliced(at));
    // A script left open at the end is closed, as a serialized body would be.
    if (sink.inScript)
        out.append(u"</SCRIPT>");
    return out;
}

} // namespace chenglan
