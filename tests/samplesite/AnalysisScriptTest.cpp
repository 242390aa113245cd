// The analysis pages' scripts without the engine: every kind of analysis page
// the sample site writes, served as it is and as the client's local page
// with the dump statements, renders as in the engine alone.
#include "AnalysisPage.h"
#include "World.h"

#include "support/QtPrinters.h"
#include "sites/AnalysisPage.h"
#include "script/JsInterpreter.h"
#include "script/JsParser.h"
#include "html/PageRenderer.h"

#include <gtest/gtest.h>

#include <QStringDecoder>

using namespace chenglan;
using namespace chenglan::sample;

namespace {

const QDate kToday(2022, 10, 9);

PageRenderer rendererWith(bool withoutEngine, bool literalsAsData) {
    ScriptSandbox::Options options;
    options.withoutEngine = withoutEngine;
    options.literalsAsData = literalsAsData;
    return PageRenderer(PageRenderer::Limits(), options);
}

// The script of the local page: between its opening tag and "</SCRIPT>".
QString dumpScript(const QString &dumpPage) {
    const qsizetype begin = dumpPage.indexOf(u'>') + 1;
    return dumpPage.mid(begin, dumpPage.indexOf(u"</SCRIPT>") - begin);
}

} // namespace

TEST(AnalysisPageScripts, RenderWithoutTheEngineAsInIt) {
    const World world = World::generate(World::kDefaultSeed, kToday.addDays(14));
    const Minutes now = minutesAt(kToday, 12, 0);
    const PageRenderer engine = rendererWith(false, false);
    const PageRenderer literals = rendererWith(false, true);
    const PageRenderer plain = rendererWith(true, true);

    // Matches of every kind: finished and to come, with long and short
    // histories, old seasons with short records and new ones with stats.
    const auto &matches = world.matches();
    const size_t step = std::max<size_t>(matches.size() / 120, 1);
    int pages = 0;
    for (size_t i = 0; i < matches.size(); i += step) {
        const Match &match = matches[i];
        if (match.kickoff > minutesAt(kToday.addDays(7)))
            continue;
        QStringDecoder decoder("GB18030");
        const QString html = decoder.decode(analysisPage(world, match, now));
        const QString local = analysispage::dumpPage(analysispage::scriptCode(plain.bodyMarkup(html)));

        const QString expected = engine.visibleText(local);
        ASSERT_FALSE(expected.isEmpty()) << match.id;
        EXPECT_EQ(plain.visibleText(local), expected) << match.id;
        EXPECT_EQ(literals.visibleText(local), expected) << match.id;
        EXPECT_EQ(plain.visibleText(html), engine.visibleText(html)) << match.id;

        // The local page's script is one the plain run takes whole.
        // The tree's names point into the script, so it outlives the tree.
        const QString script = dumpScript(local);
        js::Ast ast;
        js::ParseFacts facts;
        ASSERT_TRUE(js::parseScript(script, ast, facts)) << match.id;
        EXPECT_TRUE(js::Interpreter::accepts(ast, facts)) << match.id;
        ++pages;
    }
    EXPECT_GT(pages, 60);
}
