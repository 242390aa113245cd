// libFuzzer target for the page renderer: visible text and body markup of
// arbitrary input, scripts included (with short limits). Run by scripts/fuzz.
#include "html/PageRenderer.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>

using namespace chenglan;
using namespace std::chrono_literals;

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    // The script engine needs an application object.
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QString html = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    PageRenderer::Limits limits;
    limits.scriptTime = 20ms;
    limits.pageScriptTime = 60ms;
    limits.writtenChars = 64 * 1024;
    const PageRenderer renderer(limits);

    const QString text = renderer.visibleText(html);
    if (text.contains(u'\t'))
        std::abort(); // grid rows are split at tabs: the text never holds one
    const QString body = renderer.bodyMarkup(html);
    if (body.size() > html.size() + 9)
        std::abort(); // at most one "</SCRIPT>" more than the input

    // Without scripts (whose time limits make runs differ) the text must not
    // depend on where the input is cut.
    if (!html.contains(u"<script", Qt::CaseInsensitive)) {
        PageRenderer::TextStream stream(renderer);
        const qsizetype cut = html.size() / 3;
        stream.feed(QStringView(html).first(cut));
        stream.feed(QStringView(html).sliced(cut, 1 < html.size() - cut ? 1 : 0));
        stream.feed(QStringView(html).sliced(cut + (1 < html.size() - cut ? 1 : 0)));
        if (stream.finish() != text)
            std::abort();
    }
    return 0;
}
