// Renderer throughput on a schedule-like page and the cost of the script
// sandbox. Run: build/bench/bench_renderer
#include "html/PageRenderer.h"
#include "script/ScriptSandbox.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

using namespace chenglan;

namespace {

// About 1 MB (UTF-8) of a 2,000-row table marked up like the schedule pages
// after the scraper's replacements.
QString tablePage() {
    QString page = QStringLiteral("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" /><table>");
    for (int row = 0; row < 2000; ++row) {
        page += QStringLiteral(
                    "<tr id=\"tr_%1\" class=\"ni\" height=\"22\">"
                    "<td>%1,</td>"
                    "<td style=\"color: #ffffff; background-color:\">#ff3333;\">英超,</td>"
                    "<td>周六%1,</td><td>01-06 20:00,</td>"
                    "<td><a href=\"/team/%1.html\">曼彻斯特联</a>&nbsp;[3],</td>"
                    "<td>&nbsp;,</td><td><font color=\"red\">2-1</font>,</td>"
                    "<td><a href=\"/team/%1.html\">切尔西</a>,</td>"
                    "<td><a href=\"/analysis/%1cn.htm\">析</a>,</td>"
                    "<td>%1\">,</td><td>0.95,</td><td>半球/一球,</td><td>0.89,</td>"
                    "<td class=\"odds\">1.92 &amp; 3.40 &amp; 4.10,</td>"
                    "‖</tr>\n")
                    .arg(2000000 + row);
    }
    return page + QStringLiteral("</table>\n");
}

void setThroughput(benchmark::State &state, qsizetype bytesPerIteration) {
    state.SetBytesProcessed(int64_t(state.iterations()) * bytesPerIteration);
    state.counters["MB/s"] = benchmark::Counter(double(state.iterations()) * double(bytesPerIteration) / 1e6,
                                                benchmark::Counter::kIsRate);
}

void VisibleTextOfTablePage(benchmark::State &state) {
    const QString page = tablePage();
    const qsizetype bytes = page.toUtf8().size();
    state.counters["page_bytes"] = double(bytes);
    const PageRenderer renderer;
    for (auto _ : state)
        benchmark::DoNotOptimize(renderer.visibleText(page));
    setThroughput(state, bytes);
}
BENCHMARK(VisibleTextOfTablePage)->Unit(benchmark::kMillisecond);

void BodyMarkupOfTablePage(benchmark::State &state) {
    const QString page = tablePage();
    const qsizetype bytes = page.toUtf8().size();
    const PageRenderer renderer;
    for (auto _ : state)
        benchmark::DoNotOptimize(renderer.bodyMarkup(page));
    setThroughput(state, bytes);
}
BENCHMARK(BodyMarkupOfTablePage)->Unit(benchmark::kMillisecond);

// A page with one small script: a fresh engine with the document stand-ins,
// the watchdog thread, one run and its document.write.
void PageWithOneScript(benchmark::State &state) {
    const QString page = QStringLiteral("<p>a</p><script>var h_data = [[1,'x'],[2,'y']];"
                                        "for (var i = 0; i < h_data.length; i++) document.write(h_data[i] + '|');"
                                        "</script>");
    const PageRenderer renderer;
    for (auto _ : state)
        benchmark::DoNotOptimize(renderer.visibleText(page));
}
BENCHMARK(PageWithOneScript)->Unit(benchmark::kMicrosecond);

// One more script on an engine that already exists.
void ScriptOnExistingEngine(benchmark::State &state) {
    qsizetype written = 0;
    ScriptSandbox sandbox([&](const QString &text) { written += text.size(); });
    const QString script = QStringLiteral("var v = [1, 2, 3]; document.write(v + '|');");
    for (auto _ : state)
        benchmark::DoNotOptimize(sandbox.run(script, std::chrono::milliseconds(2000)));
    benchmark::DoNotOptimize(written);
}
BENCHMARK(ScriptOnExistingEngine)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
