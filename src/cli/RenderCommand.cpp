// chenglan-cli render: the text a page shows the scrapers, for a maintainer
// checking a site whose markup changed.
#include "base/Step.h"
#include "cli/Cli.h"
#include "cli/WebOptions.h"
#include "net/HttpFetch.h"
#include "html/PageRenderer.h"

#include <QFile>

namespace chenglan::cli {
namespace {

// The text with its separators made visible. The line ends added after the
// markers are not part of the text; the breaks that are, show as symbols.
QString showingBreaks(const QString &text) {
    QString out;
    out.reserve(text.size() + text.size() / 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n') {
            out.append(u"␍␊\n");
            ++i;
        } else if (c == u'\r') {
            out.append(u"␍\n");
        } else if (c == u'\n') {
            out.append(u"␊\n");
        } else if (c == u'\t') {
            out.append(u"␉");
        } else if (c == QChar(0x00A0)) {
            out.append(u"⍽");
        } else if (c == u'‖' || c == u'|' || c == u'$') {
            out.append(c);
            out.append(u'\n');
        } else {
            out.append(c);
        }
    }
    if (!out.isEmpty() && !out.endsWith(u'\n'))
        out.append(u'\n');
    return out;
}

QString usage() {
    return QStringLiteral("render FILE | render --url URL [--charset gb2312|utf-8] %1 [--show-breaks] [--body-markup]")
        .arg(QLatin1String(kWebOptionsUsage));
}

int runRender(QStringList args) {
    const QString url = takeOption(args, QStringLiteral("--url"));
    const QString charset = takeOption(args, QStringLiteral("--charset"));
    const bool showBreaks = takeFlag(args, QStringLiteral("--show-breaks"));
    const bool markup = takeFlag(args, QStringLiteral("--body-markup"));
    WebFactory makeWeb;
    if (!takeWebOptions(args, makeWeb))
        return 2;

    Charset decoding = Charset::FromPage;
    if (charset == u"gb2312")
        decoding = Charset::Gb18030;
    else if (charset == u"utf-8")
        decoding = Charset::Utf8;
    else if (!charset.isNull()) {
        printError(QStringLiteral("chenglan-cli render: --charset is gb2312 or utf-8, not \"%1\"").arg(charset));
        return 2;
    }
    if (url.isNull() ? args.size() != 1 : !args.isEmpty()) {
        printError(QStringLiteral("usage: chenglan-cli %1").arg(usage()));
        return 2;
    }

    const PageRenderer renderer;
    try {
        QString html;
        if (!url.isNull()) {
            const std::unique_ptr<Web> web = makeWeb();
            html = decoding != Charset::FromPage ? HttpFetchText(*web, url, decoding) : fetchPage(*web, url);
        } else {
            QFile file(args.first());
            if (!file.open(QIODevice::ReadOnly)) {
                printError(QStringLiteral("chenglan-cli render: cannot read %1: %2").arg(args.first(), file.errorString()));
                return 1;
            }
            // Never more than the renderer would accept anyway.
            const QByteArray bytes = file.read(renderer.limits().pageChars * 4 + 1);
            html = decoding != Charset::FromPage ? BytesToText(bytes, decoding) : decodeFile(bytes);
        }
        StepLog log;
        const QString text = markup ? renderer.bodyMarkup(html) : renderer.visibleText(html, &log);
        printOut(showBreaks ? showingBreaks(text) : text);
        for (const StepLog::Entry &entry : std::as_const(log.entries))
            printError(QStringLiteral("chenglan-cli render: %1").arg(entry.message));
    } catch (const StepFailure &failure) {
        printError(QStringLiteral("chenglan-cli render: %1").arg(failure.message()));
        return 1;
    }
    return 0;
}

const CommandRegistration registration{
    {QStringLiteral("render"), usage(),
     QStringLiteral(
         "Prints the visible text of a page as UTF-8, exactly as the scrapers see it:\n"
         "tags removed, character references decoded, inline scripts run with their\n"
         "document.write output at its place, white space collapsed as a browser lays\n"
         "it out, CR LF after every table row and at <br> and block ends, nothing\n"
         "between the cells of a row, and every inserted marker (\",\" \"‖\" \"|\" \"$\")\n"
         "where it stands. Run it on a page when a site changed its markup.\n"
         "\n"
         "FILE is decoded as browsers read a local file (byte-order mark, else a meta\n"
         "charset in its first 1024 bytes, else UTF-8 when its bytes are UTF-8, else\n"
         "GB18030) unless --charset says how.\n"
         "--url URL fetches the page. With --charset it is fetched the way the\n"
         "  schedule, detail and service scrapers fetch (POST, gb2312 or utf-8);\n"
         "  without, the way the analysis pages are loaded (GET, decoded by the\n"
         "  Content-Type charset, a byte-order mark or a meta charset).\n"
         "--show-breaks makes the separators easy to read: each CR LF of the text is\n"
         "  shown as \"␍␊\" followed by a line end, a lone CR as \"␍\", a lone LF as\n"
         "  \"␊\", a no-break space as \"⍽\"; after every \"‖\", \"|\" and \"$\" a line end\n"
         "  is added that is not part of the text.\n"
         "--body-markup prints the markup of the page's body instead, with every\n"
         "  closing script tag written </SCRIPT> (what the analysis extraction cuts).\n"
         "--record DIR stores the fetched page in DIR; --replay DIR reads it from there.\n"
         "\n"
         "Exit status: 0 done, 1 the page could not be read or fetched (the reason\n"
         "goes to stderr), 2 wrong arguments."),
     runRender}};

} // namespace
} // namespace chenglan::cli
