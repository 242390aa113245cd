#include "CliRun.h"
#include "support/QtPrinters.h"
#include "support/ServerProcess.h"

#include <QCoreApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using chenglan::testing::CliRun;
using chenglan::testing::CliTest;
using chenglan::testing::runCli;
using chenglan::testing::ServerProcess;

namespace {

CliRun analyze(const QStringList &args) { return runCli(QStringLiteral("analyze"), args); }

class AnalyzeCommand : public CliTest {
protected:
    static void SetUpTestSuite() {
        CliTest::SetUpTestSuite();
        s_site = new ServerProcess(QStringLiteral("server/samplesite/chenglan-sample-site"),
                                   {QStringLiteral("--today"), QStringLiteral("2022-10-09")});
    }
    static void TearDownTestSuite() { delete s_site; }
    void SetUp() override { ASSERT_TRUE(s_site->ok()) << s_site->error().toStdString(); }

    static QStringList sites() {
        return {QStringLiteral("--odds-site"), s_site->url(QStringLiteral("odds/")), QStringLiteral("--analysis-site"),
                s_site->url(QStringLiteral("zq/"))};
    }

    static ServerProcess *s_site;
};

ServerProcess *AnalyzeCommand::s_site = nullptr;

} // namespace

TEST_F(AnalyzeCommand, ListRowAndMatchIdGiveTheSameAnalysis) {
    const CliRun row = analyze(QStringList{QStringLiteral("--row"), QStringLiteral("2"), QStringLiteral("--date"),
                                           QStringLiteral("2022-10-09")} + sites());
    ASSERT_EQ(row.exitCode, 0) << row.errors.toStdString();
    for (const char *key : {"AnalysisData", "HomeTeamId", "AwayTeamId", "HomeTeamName", "AwayTeamName", "ListMatchTime",
                            "MatchDate", "HomeHistory", "AwayHistory", "TrendSeries", "StrengthSummary",
                            "PatternCode20", "PatternCode10", "ListMatchCaption", "StepTimes", "Status"})
        EXPECT_TRUE(row.json.contains(QLatin1String(key))) << key;
    EXPECT_EQ(row.json.value(QStringLiteral("Status")).toString(), QStringLiteral("分析完成"));
    EXPECT_EQ(row.json.value(QStringLiteral("ListRowKey")).toString(), QStringLiteral("1"));
    EXPECT_FALSE(row.json.value(QStringLiteral("ListMatchCaption")).toString().isEmpty());
    EXPECT_GT(row.json.value(QStringLiteral("TrendSeries")).toArray().size(), 0);
    EXPECT_EQ(row.json.value(QStringLiteral("AnalysisData")).toArray().size(), 4);
    EXPECT_EQ(row.json.value(QStringLiteral("HomeHistory")).toArray().first().toArray().size(), 31);
    EXPECT_EQ(row.json.value(QStringLiteral("PatternCode20")).toString().size(), 3);
    QStringList steps;
    for (const QJsonValue &t : row.json.value(QStringLiteral("StepTimes")).toArray()) {
        steps << t.toObject().value(QStringLiteral("step")).toString();
        EXPECT_GE(t.toObject().value(QStringLiteral("ms")).toDouble(), 0.0);
    }
    EXPECT_EQ(steps.first(), QStringLiteral("loadAnalysisPage"));
    EXPECT_TRUE(steps.contains(QStringLiteral("computeStrengthTrends")));

    const QString id = QString::number(row.json.value(QStringLiteral("ListMatchId")).toDouble(), 'f', 0);
    const CliRun byId = analyze(QStringList{QStringLiteral("--match-id"), id} + sites());
    ASSERT_EQ(byId.exitCode, 0) << byId.errors.toStdString();
    EXPECT_TRUE(byId.json.value(QStringLiteral("ListMatchCaption")).isNull());
    EXPECT_TRUE(byId.json.value(QStringLiteral("ListRowKey")).isNull());
    for (const char *key : {"AnalysisData", "HomeTeamId", "HomeTeamName", "MatchDate", "HomeHistory", "AwayHistory",
                            "TrendSeries", "StrengthSummary", "PatternCode20", "PatternCode10"})
        EXPECT_EQ(byId.json.value(QLatin1String(key)), row.json.value(QLatin1String(key))) << key;
}

TEST_F(AnalyzeCommand, FailuresExitOne) {
    const CliRun noRow = analyze(QStringList{QStringLiteral("--row"), QStringLiteral("999"), QStringLiteral("--date"),
                                             QStringLiteral("2022-10-09")} + sites());
    EXPECT_EQ(noRow.exitCode, 1);
    EXPECT_TRUE(noRow.errors.contains(QStringLiteral("999"))) << noRow.errors.toStdString();

    const CliRun unknown = analyze(QStringList{QStringLiteral("--match-id"), QStringLiteral("1")} + sites());
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_TRUE(unknown.json.value(QStringLiteral("TrendSeries")).toArray().isEmpty());

    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(closed.serverPort());
    closed.close();
    const CliRun down = analyze({QStringLiteral("--match-id"), QStringLiteral("100"), QStringLiteral("--analysis-site"), base});
    EXPECT_EQ(down.exitCode, 1);
    EXPECT_TRUE(down.json.value(QStringLiteral("Status")).toString().startsWith(QStringLiteral("分析页面读取失败")));
    EXPECT_TRUE(down.json.value(QStringLiteral("HomeTeamId")).isNull());
}

TEST_F(AnalyzeCommand, RejectsBadArguments) {
    for (const QStringList &args : {QStringList{},
                                    QStringList{QStringLiteral("--row"), QStringLiteral("0")},
                                    QStringList{QStringLiteral("--row"), QStringLiteral("x")},
                                    QStringList{QStringLiteral("--row"), QStringLiteral("1"), QStringLiteral("--match-id"),
                                                QStringLiteral("5")},
                                    QStringList{QStringLiteral("--match-id"), QStringLiteral("5"), QStringLiteral("--beidan")},
                                    QStringList{QStringLiteral("--row"), QStringLiteral("1"), QStringLiteral("--date"),
                                                QStringLiteral("2022-10-9"), QStringLiteral("--beidan")},
                                    QStringList{QStringLiteral("--row"), QStringLiteral("1"), QStringLiteral("--date"),
                                                QStringLiteral("9.10.2022")},
                                    QStringList{QStringLiteral("--row"), QStringLiteral("1"), QStringLiteral("--date"),
                                                QStringLiteral("2022-13-40")},
                                    QStringList{QStringLiteral("--match-id"), QStringLiteral("5"), QStringLiteral("--png")},
                                    QStringList{QStringLiteral("--match-id"), QStringLiteral("5"), QStringLiteral("extra")}}) {
        const CliRun run = analyze(args);
        EXPECT_EQ(run.exitCode, 2) << args.join(u' ').toStdString();
        EXPECT_FALSE(run.errors.isEmpty());
    }
}

TEST_F(AnalyzeCommand, AMatchWhosePageCannotBeReadGetsNoSimilarMatchesAndBlankPictures) {
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const QString nowhere = QStringLiteral("http://127.0.0.1:%1/").arg(closed.serverPort());
    closed.close();
    QTemporaryDir png;
    const CliRun run = analyze({QStringLiteral("--match-id"), QStringLiteral("1907483"), QStringLiteral("--png"),
                                png.path(), QStringLiteral("--analysis-site"), nowhere, QStringLiteral("--service"),
                                nowhere});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.json.value(QStringLiteral("Status")).toString().startsWith(QStringLiteral("分析页面读取失败：")))
        << run.errors.toStdString();
    EXPECT_EQ(run.json.value(QStringLiteral("SimilarStatus")).toString(),
              QStringLiteral("没有比赛数据，未查询相似比赛，相似比赛列表已清空"));
    EXPECT_TRUE(run.json.value(QStringLiteral("SimilarQuery")).isNull()) << "the service was not asked";
    EXPECT_EQ(run.json.value(QStringLiteral("SimilarMatches")).toArray(), QJsonArray());
    EXPECT_EQ(run.json.value(QStringLiteral("SimilarGrid")).toArray(), QJsonArray());
    EXPECT_EQ(run.json.value(QStringLiteral("TrendSeries")).toArray(), QJsonArray());

    // No verdict and no axes from the zeros of a failed model: the panel
    // says why in one line, the charts stay blank.
    const QJsonObject texts = run.json.value(QStringLiteral("texts")).toObject();
    EXPECT_TRUE(texts.value(QStringLiteral("PIC_TD0")).toArray().isEmpty());
    EXPECT_TRUE(texts.value(QStringLiteral("PIC_TD1")).toArray().isEmpty());
    ASSERT_EQ(texts.value(QStringLiteral("PIC_SR")).toArray().size(), 1);
    const QJsonObject first = texts.value(QStringLiteral("PIC_SR")).toArray().first().toObject();
    EXPECT_EQ(first.value(QStringLiteral("text")).toString(), run.json.value(QStringLiteral("Status")).toString());
    for (const char *key : {"text", "x", "y", "px", "py", "colour", "fontSize"})
        EXPECT_TRUE(first.contains(QLatin1String(key))) << key;
    EXPECT_EQ(QImage(png.filePath(QStringLiteral("PIC_SR.png"))).size(), QSize(497, 233)) << "7455 by 3495 twips";
    EXPECT_EQ(QImage(png.filePath(QStringLiteral("PIC_TD0.png"))).size(), QSize(499, 200)) << "7485 by 3000 twips";
    EXPECT_EQ(QImage(png.filePath(QStringLiteral("PIC_TD1.png"))).size(), QSize(499, 200));
}
