// What scripts/bench reads of bench_click: the figures, and per click the
// pages it fetched, which the browser then loads in the same order.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QUrl>

#include <gtest/gtest.h>

TEST(BenchClick, PrintsTheFiguresAndThePagesOfEveryClick) {
    QProcess process;
    process.start(QStringLiteral(CHENGLAN_BENCH_CLICK), {QStringLiteral("--clicks"), QStringLiteral("3")});
    ASSERT_TRUE(process.waitForFinished(120000));
    const QByteArray errors = process.readAllStandardError();
    ASSERT_EQ(process.exitCode(), 0) << errors.toStdString();
    const QJsonObject result = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    EXPECT_EQ(result.value(QStringLiteral("clicks")).toInt(), 3);
    EXPECT_EQ(result.value(QStringLiteral("failed")).toInt(), 0);
    EXPECT_GE(result.value(QStringLiteral("matches")).toInt(), 3);
    const double median = result.value(QStringLiteral("medianMs")).toDouble();
    EXPECT_GT(median, 0);
    EXPECT_GE(result.value(QStringLiteral("p90Ms")).toDouble(), median);
    EXPECT_GT(result.value(QStringLiteral("fetchMs")).toDouble(), 0);
    EXPECT_GT(result.value(QStringLiteral("renderMs")).toDouble(), 0);
    EXPECT_EQ(result.value(QStringLiteral("wallMs")).toArray().size(), 3);

    const QJsonArray pages = result.value(QStringLiteral("pages")).toArray();
    ASSERT_EQ(pages.size(), 3);
    QStringList firstPages;
    for (const QJsonValue &click : pages) {
        const QJsonArray requests = click.toArray();
        ASSERT_EQ(requests.size(), 3) << "the match's page and the two extension pages";
        for (const QJsonValue &r : requests) {
            const QUrl url(r[QStringLiteral("url")].toString());
            EXPECT_EQ(r[QStringLiteral("method")].toString(), QStringLiteral("GET"));
            EXPECT_EQ(url.host(), QStringLiteral("127.0.0.1"));
            EXPECT_TRUE(url.path().startsWith(QStringLiteral("/zq/"))) << url.toString().toStdString();
        }
        firstPages << requests[0][QStringLiteral("url")].toString();
    }
    EXPECT_EQ(firstPages.removeDuplicates(), 0) << "each click analyses another match";
}
