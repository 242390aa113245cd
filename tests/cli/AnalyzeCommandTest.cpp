// chenglan-cli analyze as a process: its arguments, and what it prints and
// draws when nothing can be read. The click against the sample site is
// compared with the window in tests/app.
#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// Nothing listens on the discard port of the loopback: every fetch is refused at once.
const QString Nowhere = u"http://127.0.0.1:9/"_s;

struct CliRun {
    int exitCode = -1;
    QJsonObject json;
    QString errors;
};

CliRun runAnalyze(const QStringList &args) {
    QProcess process;
    process.start(QStringLiteral(CHENGLAN_CLI), QStringList{u"analyze"_s} + args);
    CliRun run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitCode();
    run.json = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QStringList everySite() {
    return {u"--odds-site"_s, Nowhere, u"--analysis-site"_s, Nowhere, u"--detail-site"_s, Nowhere,
            u"--service"_s,   Nowhere, u"--server-list"_s,   Nowhere};
}

} // namespace

TEST(AnalyzeCommand, BadArgumentsExitWithTwo) {
    for (const QStringList &args : {
             QStringList{},
             QStringList{u"--row"_s, u"1"_s, u"--match-id"_s, u"5"_s},
             QStringList{u"--row"_s, u"first"_s},
             QStringList{u"--row"_s, u"1"_s, u"--date"_s, u"2022-10-9"_s, u"--beidan"_s},
             QStringList{u"--row"_s, u"1"_s, u"--date"_s, u"2022-13-40"_s},
             QStringList{u"--match-id"_s, u"5"_s, u"--beidan"_s},
             QStringList{u"--match-id"_s, u"5"_s, u"--png"_s},
             QStringList{u"--match-id"_s, u"5"_s, u"--frobnicate"_s},
         }) {
        const CliRun run = runAnalyze(args + everySite());
        EXPECT_EQ(run.exitCode, 2) << args.join(u' ').toStdString();
        EXPECT_TRUE(run.json.isEmpty()) << "nothing fetched, nothing printed";
    }
}

TEST(AnalyzeCommand, AMatchWhosePageCannotBeReadGetsNoProfileAndNoSimilarMatches) {
    QTemporaryDir png;
    const CliRun run = runAnalyze(QStringList{u"--match-id"_s, u"1907483"_s, u"--png"_s, png.path()} + everySite());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.json.value(u"Status"_s).toString().startsWith(u"分析页面读取失败："_s)) << run.errors.toStdString();
    EXPECT_EQ(run.json.value(u"SimilarStatus"_s).toString(), u"没有比赛数据，未查询相似比赛，相似比赛列表已清空"_s);
    EXPECT_TRUE(run.json.value(u"SimilarQuery"_s).isNull()) << "the service was not asked";
    EXPECT_EQ(run.json.value(u"SimilarMatches"_s).toArray(), QJsonArray());
    EXPECT_EQ(run.json.value(u"SimilarGrid"_s).toArray(), QJsonArray());
    EXPECT_EQ(run.json.value(u"TrendSeries"_s).toArray(), QJsonArray());
    EXPECT_EQ(run.json.value(u"StrengthSummary"_s).toArray(), (QJsonArray{0, 0, 0, 0, 0, 0, 0, 0}));

    const QJsonObject texts = run.json.value(u"texts"_s).toObject();
    ASSERT_FALSE(texts.value(u"PIC_TD0"_s).toArray().isEmpty()) << "an empty chart still has its labels";
    const QJsonObject first = texts.value(u"PIC_TD0"_s).toArray().first().toObject();
    for (const QString &key : {u"text"_s, u"x"_s, u"y"_s, u"px"_s, u"py"_s, u"colour"_s, u"fontSize"_s})
        EXPECT_TRUE(first.contains(key)) << key.toStdString();
    EXPECT_EQ(QImage(png.filePath(u"PIC_SR.png"_s)).size(), QSize(497, 233));
    EXPECT_EQ(QImage(png.filePath(u"PIC_TD0.png"_s)).size(), QSize(499, 200));
    EXPECT_EQ(QImage(png.filePath(u"PIC_TD1.png"_s)).size(), QSize(499, 200));
}
