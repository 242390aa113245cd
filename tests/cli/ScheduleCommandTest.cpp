#include "CliRun.h"
#include "support/SchedulePages.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

using namespace chenglan::testing::schedule;
using chenglan::testing::CliRun;
using chenglan::testing::CliTest;
using chenglan::testing::runCli;

namespace {

// Answers every request on 127.0.0.1 with one page and remembers the
// request lines.
class PageServer {
public:
    explicit PageServer(QByteArray page) : m_page(std::move(page)) {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    m_buffer[socket] += socket->readAll();
                    if (!m_buffer[socket].contains("\r\n\r\n"))
                        return;
                    requests.append(QString::fromUtf8(m_buffer[socket].left(m_buffer[socket].indexOf("\r\n"))));
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nConnection: close\r\n"
                                  "Content-Length: " + QByteArray::number(m_page.size()) + "\r\n\r\n" + m_page);
                    socket->disconnectFromHost();
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1/odds/").arg(m_server.serverPort()); }

    QStringList requests;

private:
    QTcpServer m_server;
    QByteArray m_page;
    QHash<QTcpSocket *, QByteArray> m_buffer;
};

CliRun runSchedule(const QStringList &args) { return runCli(QStringLiteral("schedule"), args); }

using ScheduleCommand = CliTest;

} // namespace

TEST_F(ScheduleCommand, PrintsTheTableTheFlagsAndTheListsRows) {
    PageServer site(jingcaiPage(matchRow(QStringLiteral("100"), QStringLiteral("英格兰超级联赛"),
                                         QStringLiteral("曼彻斯特联队"), QStringLiteral("利物浦")))
                        .toUtf8());
    const CliRun run = runSchedule({QStringLiteral("--date"), QStringLiteral("2022-10-09"), QStringLiteral("--odds-site"),
                            site.base()});
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    ASSERT_EQ(site.requests.size(), 1);
    EXPECT_EQ(site.requests.first(),
              QStringLiteral("POST /odds/buy/Jingcai.aspx?TypeID=105&OddsType=2&date=2022-10-9 HTTP/1.1"));

    const QJsonArray table = run.json.value(QStringLiteral("MatchTable")).toArray();
    ASSERT_EQ(table.size(), 1);
    EXPECT_EQ(table[0].toArray().size(), 21);
    EXPECT_EQ(table[0].toArray()[0].toDouble(), 100);
    EXPECT_TRUE(table[0].toArray()[4].isNull());
    EXPECT_EQ(run.json.value(QStringLiteral("MatchRowFlags")).toArray(), QJsonArray{1});

    const QJsonArray grid = run.json.value(QStringLiteral("grid")).toArray();
    ASSERT_EQ(grid.size(), 1);
    const QJsonArray cells = grid[0].toObject().value(QStringLiteral("cells")).toArray();
    EXPECT_EQ(cells[0].toString(), QStringLiteral("英格兰"));
    EXPECT_EQ(cells[2].toString(), QStringLiteral("曼彻斯特"));
    EXPECT_EQ(cells[9].toString(), QStringLiteral("0"));
    EXPECT_EQ(grid[0].toObject().value(QStringLiteral("leagueColor")).toInt(), 39168);
    EXPECT_EQ(run.json.value(QStringLiteral("outcome")).toString(), QStringLiteral("listed"));
    EXPECT_EQ(run.json.value(QStringLiteral("status")).toString(), QStringLiteral("2022-10-09 竞彩赛程：共 1 场比赛。"));
}

TEST_F(ScheduleCommand, ASiteThatIsDownExitsOneWithAnEmptyList) {
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const QString base = QStringLiteral("http://127.0.0.1:%1/odds/").arg(closed.serverPort());
    closed.close();
    const CliRun run = runSchedule({QStringLiteral("--beidan"), QStringLiteral("--odds-site"), base});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.json.value(QStringLiteral("outcome")).toString(), QStringLiteral("network-failed"));
    EXPECT_EQ(run.json.value(QStringLiteral("MatchTable")).toArray(), QJsonArray());
    EXPECT_EQ(run.json.value(QStringLiteral("grid")).toArray(), QJsonArray());
    EXPECT_TRUE(run.json.value(QStringLiteral("status")).toString().startsWith(QStringLiteral("北京单场赛程读取失败")));
}

TEST_F(ScheduleCommand, RejectsBadArguments) {
    for (const QStringList &args : {QStringList{QStringLiteral("--date"), QStringLiteral("2022-13-01")},
                                    QStringList{QStringLiteral("--date"), QStringLiteral("9.10.2022")},
                                    QStringList{QStringLiteral("--date"), QStringLiteral("2022-10-9"),
                                                QStringLiteral("--beidan")},
                                    QStringList{QStringLiteral("--odds-site"), QStringLiteral("ftp://x/")},
                                    QStringList{QStringLiteral("extra")}}) {
        const CliRun run = runSchedule(args);
        EXPECT_EQ(run.exitCode, 2) << args.join(u' ').toStdString();
        EXPECT_FALSE(run.errors.isEmpty());
    }
}
