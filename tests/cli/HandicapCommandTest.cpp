#include "CliRun.h"
#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using chenglan::testing::CliRun;
using chenglan::testing::CliTest;
using chenglan::testing::runCli;

namespace {

// Answers the change-detail page of match 42 (GB18030) and 404 for anything
// else, on 127.0.0.1.
class DetailServer {
public:
    DetailServer() {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    m_buffer[socket] += socket->readAll();
                    if (!m_buffer[socket].contains("\r\n\r\n"))
                        return;
                    const QByteArray line = m_buffer[socket].left(m_buffer[socket].indexOf("\r\n"));
                    const bool known = line.contains("handicap.aspx?id=42&companyID=3");
                    const QByteArray body = known ? page() : QByteArray("<html>404</html>");
                    socket->write((known ? "HTTP/1.1 200 OK" : "HTTP/1.1 404 Not Found")
                                  + QByteArray("\r\nContent-Type: text/html; charset=gb2312\r\nConnection: close\r\n"
                                               "Content-Length: ")
                                  + QByteArray::number(body.size()) + "\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString base() const { return u"http://127.0.0.1:%1/vip/"_s.arg(m_server.serverPort()); }

private:
    static QByteArray page() {
        QStringEncoder gb("GB18030");
        return gb.encode(
            u"<html><body><span id=\"odds2\"><table>"
            u"<tr><td>比分</td><td>状态</td><td>主</td><td>盘口</td><td>客</td><td>时间</td></tr>"
            u"<tr><td>0-0</td><td>即时</td><td>0.85</td><td>受让半球</td><td>1.01</td><td>01-10 19:55</td></tr>"
            u"<tr><td>0-0</td><td>早盘</td><td>0.95</td><td>平手</td><td>0.93</td><td>12-28 20:15</td></tr>"
            u"</table></span></body></html>"_s);
    }
    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_buffer;
};

CliRun runHandicap(const QStringList &args) { return runCli(u"handicap"_s, args); }

using HandicapCommand = CliTest;

} // namespace

TEST_F(HandicapCommand, PrintsEarliestAndLatestChange) {
    DetailServer server;
    const CliRun run =
        runHandicap({u"--match-id"_s, u"42"_s, u"--date"_s, u"2026-1-10"_s, u"--detail-site"_s, server.base()});
    EXPECT_EQ(run.exitCode, 0);
    const QJsonArray listMatch = run.json.value(u"HandicapSummary"_s).toArray().at(0).toArray();
    EXPECT_EQ(listMatch, (QJsonArray{0.95, u"平手"_s, 0.93, u"2025-12-28 20:15:00"_s, 0.85, u"受半球"_s, 1.01,
                                     u"2026-01-10 19:55:00"_s}));
    EXPECT_EQ(run.json.value(u"changes"_s).toInt(), 2);
}

TEST_F(HandicapCommand, PageWithoutChangeTableExitsWithOne) {
    DetailServer server;
    const CliRun run =
        runHandicap({u"--match-id"_s, u"43"_s, u"--date"_s, u"2026-1-10"_s, u"--detail-site"_s, server.base()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.json.value(u"HandicapSummary"_s).toArray().at(0).toArray().at(0).isNull());
    EXPECT_FALSE(run.json.value(u"status"_s).toString().isEmpty());
}

TEST_F(HandicapCommand, BadArgumentsExitWithTwo) {
    EXPECT_EQ(runHandicap({u"--date"_s, u"2026-1-10"_s}).exitCode, 2);
    EXPECT_EQ(runHandicap({u"--match-id"_s, u"42"_s, u"--date"_s, u"soon"_s}).exitCode, 2);
    EXPECT_EQ(runHandicap({u"--match-id"_s, u"42"_s, u"--date"_s, u"2026-1-10"_s, u"--detail-site"_s, u"ftp://x"_s})
                  .exitCode,
              2);
}
