// The service program fed what no client sends: broken percent-encoding,
// SQL in every field, requests of a mebibyte. Each gets a clean refusal or
// the right answer, never an internal error, and the database stays as it was.

#include "LoadClient.h"
#include "MatchStore.h"
#include "ServiceTestData.h"
#include "support/ServerProcess.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

#include <gtest/gtest.h>

#include <array>
#include <string>

using namespace chenglan::dataservice;
using namespace chenglan::dataservice::testing;
using namespace std::string_literals;

namespace {

const QString kServiceBinary = QStringLiteral(CHENGLAN_BINARY_DIR "/server/dataservice/chenglan-service");
const std::string kPath = "/shili/deep_jc.asp";
const std::array<std::string, 11> kFields = {"0.35", "-0.2", "0.4", "-0.1", "0.5", "0", "0.45", "0.05",
                                             "A31",  "D10",  "1003"};

std::string queryWith(std::size_t field, const std::string &value) {
    std::string query;
    for (std::size_t i = 0; i < kFields.size(); ++i)
        query += (i ? "," : "") + (i == field ? value : kFields[i]);
    return query;
}

// Every row of every table, as text, to compare before and after.
QStringList dump(const QString &path) {
    static int n = 0;
    const QString name = QStringLiteral("abuse-dump-%1").arg(++n);
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        EXPECT_TRUE(db.open());
        QSqlQuery q(db);
        for (const char *table : {"meta", "matches", "profiles", "sqlite_master"}) {
            EXPECT_TRUE(q.exec(QStringLiteral("SELECT * FROM %1 ORDER BY 1, 2").arg(QLatin1String(table))));
            while (q.next()) {
                QStringList values{QLatin1String(table)};
                for (int i = 0; i < q.record().count(); ++i)
                    values << q.value(i).toString();
                rows << values.join(u'\x1f');
            }
        }
        q = QSqlQuery();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return rows;
}

class AbuseTest : public ::testing::Test {
protected:
    void SetUp() override {
        {
            MatchStore store(m_db.path());
            store.upsertMatch(finishedMatch(1001, QStringLiteral("2024-03-01 20:00")));
            store.upsertProfile(profileOf(1001, Strengths{35, -20, 40, -10, 50, 0, 45, 5}));
            store.upsertMatch(finishedMatch(1002, QStringLiteral("2024-03-02 21:00")));
            store.upsertProfile(profileOf(1002, Strengths{30, -20, 40, -10, 50, 0, 45, 5}, QStringLiteral("B11")));
            store.upsertMatch(finishedMatch(1003));
            store.upsertProfile(profileOf(1003, Strengths{30, -20, 40, -10, 50, 0, 45, 5}));
        }
        m_before = dump(m_db.path());
        m_service = std::make_unique<chenglan::testing::ServerProcess>(
            kServiceBinary, QStringList{QStringLiteral("serve"), QStringLiteral("--db"), m_db.path()});
        ASSERT_TRUE(m_service->ok()) << m_service->error().toStdString();
        m_port = m_service->port();
        const RawAnswer baseline = rawExchange(m_port, getRequest(kPath + "?sql=" + queryWith(99, {})));
        ASSERT_EQ(baseline.status, 200);
        ASSERT_NE(baseline.body.find(",|"), std::string::npos);
        m_baseline = baseline.body;
    }

    // The three ways a query arrives: in the address of a GET or a POST, or
    // in a form body.
    std::array<RawAnswer, 3> askEveryWay(const std::string &query) {
        return {rawExchange(m_port, getRequest(kPath + "?sql=" + query)),
                rawExchange(m_port, "POST " + kPath + "?sql=" + query +
                                        " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                                        "Content-Length: 0\r\n\r\n"),
                rawExchange(m_port, formPost(kPath, "sql=" + query))};
    }

    // The service still answers as before and the file holds what it held.
    void expectServiceAndDatabaseUnchanged() {
        const RawAnswer again = rawExchange(m_port, getRequest(kPath + "?sql=" + queryWith(99, {})));
        EXPECT_EQ(again.status, 200);
        EXPECT_EQ(again.body, m_baseline);
        EXPECT_EQ(dump(m_db.path()), m_before);
    }

    TempDatabase m_db;
    QStringList m_before;
    std::unique_ptr<chenglan::testing::ServerProcess> m_service;
    int m_port = 0;
    std::string m_baseline;
};

} // namespace

TEST_F(AbuseTest, BrokenEncodingInAnyFieldOfTheQueryIsA400) {
    const std::string broken[] = {
        "%",       "%G1",         "%1",     "%%",        "%00",       "%0A",        // bad escapes, NUL, line feed
        "%C0%AE",  "%E0%80%AF",   "%C0%80", "%F0%80%80%AF",                     // overlong UTF-8
        "%FF",     "%C3%28",      "%ED%A0%80", "%F4%90%80%80", "%E6%97",        // invalid UTF-8
        "\xC0\xAE", "\xFF",       "\xE6\x97\xA5",                               // raw bytes above ASCII
    };
    for (std::size_t field = 0; field < kFields.size(); ++field)
        for (const std::string &piece : broken) {
            const std::string query = queryWith(field, kFields[field] + piece);
            for (const RawAnswer &answer : askEveryWay(query)) {
                EXPECT_EQ(answer.status, 400) << "field " << field + 1 << ": " << query << "\n" << answer.head;
                EXPECT_EQ(answer.body.find('|'), std::string::npos) << query;
                EXPECT_TRUE(answer.closed) << query;
            }
        }
    expectServiceAndDatabaseUnchanged();
}

TEST_F(AbuseTest, SqlInAnyFieldIsRefusedOrHarmless) {
    const std::string pieces[] = {
        "'",     "\"",   ";",    "--",  "/*",   "*/",  "\\",  "_",   "%25", "%5F",
        "%27",   "%22",  "%3B",  "%2D%2D", "%2F%2A", "%5C", "%00", "%27%20OR%20%271%27=%271",
        "%27);DROP%20TABLE%20matches;--", "%3BDELETE%20FROM%20profiles", "%22%20OR%201=1%20--%20",
    };
    for (std::size_t field = 0; field < kFields.size(); ++field)
        for (const std::string &piece : pieces)
            for (const std::string &value : {kFields[field] + piece, piece}) {
                const std::string query = queryWith(field, value);
                for (const RawAnswer &answer : askEveryWay(query)) {
                    // A lenient reading would have to give the answer to the
                    // query without the piece; anything else is refused.
                    const bool refused = answer.status == 400 && answer.body.find('|') == std::string::npos;
                    const bool harmless = answer.status == 200 && answer.body == m_baseline;
                    EXPECT_TRUE(refused || harmless)
                        << "field " << field + 1 << ": " << query << "\n" << answer.head << "\n" << answer.body;
                }
            }
    expectServiceAndDatabaseUnchanged();
}

TEST_F(AbuseTest, OtherAddressesWithBrokenEncodingAreNotFoundOrRefused) {
    const std::string base = "http://127.0.0.1:" + std::to_string(m_port) + "/";
    const std::string targets[] = {
        "/link(0).txt?%",       "/link(0).txt?x=%G1",  "/link%28%G1%29.txt", "/link(0).txt%00",
        "/link%C0%AE.txt",      "/%",                  "/%%%",               "/%00",
        "/link(0).txt/%2e%2e/%2e%2e/etc/passwd",       "/../../etc/passwd",  "/shili/deep_jc.asp%G1?sql=1",
        "/shili/%2e%2e/shili/deep_jc.asp?sql=%FF",     "/link(\xFF).txt",    "/link(0).txt?sql=%27;--",
        "/shili/deep_jc.asp?sql",                      "/shili/deep_jc.asp?=&&&=%",
        "/shili/deep_jc.asp?sql=" + queryWith(99, {}) + "&sql=" + queryWith(99, {}),
    };
    for (const std::string &target : targets)
        for (const std::string &request : {getRequest(target), formPost(target, "sql=%G1")}) {
            const RawAnswer answer = rawExchange(m_port, request);
            const bool linkFile = answer.status == 200 && answer.body == base;
            EXPECT_TRUE(answer.status == 400 || answer.status == 404 || answer.status == 405 || linkFile)
                << target << "\n" << answer.head << "\n" << answer.body;
        }
    // Bytes that break the request line itself. The library reads a request
    // line up to a NUL, so the first one asks for a link file.
    for (const std::string &line : {"GET /link(0).txt\0 HTTP/1.1\r\n\r\n"s,
                                    "GET /link(0).txt HTTP/1.1\r\nHost: \xFF\x00\x01\r\n\r\n"s,
                                    "\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\r\n\r\n"s, "GET\r\n\r\n"s}) {
        const RawAnswer answer = rawExchange(m_port, line);
        const bool linkFile = answer.status == 200 && answer.body == base;
        EXPECT_TRUE(answer.status == 0 || answer.status == 400 || answer.status == 404 || linkFile)
            << line << answer.head;
        EXPECT_TRUE(answer.closed);
    }
    expectServiceAndDatabaseUnchanged();
}

TEST_F(AbuseTest, AMebibyteRequestIsRefusedAtOnceAndTheServiceGoesOn) {
    const std::string mebibyte(1 << 20, 'A');
    std::string headers;
    while (headers.size() < mebibyte.size())
        headers += "X-Filler-" + std::to_string(headers.size()) + ": " + std::string(1000, 'b') + "\r\n";
    const std::pair<const char *, std::string> requests[] = {
        {"address", getRequest(kPath + "?sql=" + mebibyte)},
        {"query in the address", getRequest(kPath + "?sql=" + queryWith(10, mebibyte))},
        {"headers", "GET " + kPath + "?sql=" + queryWith(99, {}) + " HTTP/1.1\r\nHost: x\r\n" + headers + "\r\n"},
        {"form body", formPost(kPath, "sql=" + mebibyte)},
        {"declared body", "POST " + kPath + " HTTP/1.1\r\nHost: x\r\nContent-Length: 1048576\r\n"
                          "Content-Type: application/x-www-form-urlencoded\r\n\r\nsql="},
        {"chunked body", "POST " + kPath + " HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n"
                         "Content-Type: application/x-www-form-urlencoded\r\n\r\n100000\r\nsql=" +
                             mebibyte + "\r\n0\r\n\r\n"},
    };
    for (const auto &[what, request] : requests) {
        const RawAnswer answer = rawExchange(m_port, request, std::chrono::seconds(15));
        // Refused with a reason, the connection closed, well before any timeout.
        EXPECT_TRUE(answer.status == 400 || answer.status == 413 || answer.status == 414 || answer.status == 431)
            << what << ": " << answer.head;
        EXPECT_TRUE(answer.closed) << what;
        EXPECT_LT(answer.ms, 3000) << what;
        EXPECT_EQ(answer.body.find('|'), std::string::npos) << what;
        const RawAnswer fine = rawExchange(m_port, getRequest(kPath + "?sql=" + queryWith(99, {})));
        EXPECT_EQ(fine.status, 200) << "after the " << what;
        EXPECT_EQ(fine.body, m_baseline);
    }
    expectServiceAndDatabaseUnchanged();
}

namespace {

std::size_t countOf(const std::string &text, const std::string &piece) {
    std::size_t n = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++n;
    return n;
}

} // namespace

// Requests whose end a proxy in front of the service could find elsewhere
// than the service does: each is refused at once and its connection closed,
// so that the request hidden behind it is never read; the honest forms of
// the same framing are answered.
TEST_F(AbuseTest, RequestsThatCouldBeReadTwoWaysAreRefusedAndNothingBehindThemIsRead) {
    const std::string form = "POST " + kPath + " HTTP/1.1\r\nHost: x\r\n"
                             "Content-Type: application/x-www-form-urlencoded\r\n";
    const std::string hidden = "GET /hidden HTTP/1.1\r\nHost: x\r\n\r\n";
    const struct {
        const char *what;
        std::string request;
        int status;
    } shapes[] = {
        {"Transfer-Encoding and Content-Length", form + "Transfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n0\r\n\r\n", 400},
        {"two different Content-Length", form + "Content-Length: 0\r\nContent-Length: 34\r\n\r\n", 400},
        {"a list of lengths", form + "Content-Length: 0, 34\r\n\r\n", 400},
        {"a signed length", form + "Content-Length: +34\r\n\r\n", 400},
        {"space before the colon", form + "Transfer-Encoding : chunked\r\n\r\n0\r\n\r\n", 400},
        {"NUL in a header value", form + "Content-Length: 0\r\nX-Note: a\0b\r\n\r\n"s, 400},
        {"a folded header line", form + "Content-Length: 0\r\nX-Note: a\r\n  Transfer-Encoding: chunked\r\n\r\n", 400},
        {"a line ended by LF alone", form + "Transfer-Encoding: chunked\nContent-Length: 0\r\n\r\n", 400},
        {"HTTP/1.1 without Host", "GET /link(0).txt HTTP/1.1\r\n\r\n", 400},
        {"two Host headers", "GET /link(0).txt HTTP/1.1\r\nHost: x\r\nHost: y\r\n\r\n", 400},
        {"chunked not last", form + "Transfer-Encoding: chunked, identity\r\n\r\n0\r\n\r\n", 400},
        {"chunked twice", form + "Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400},
        {"chunked in HTTP/1.0", "POST " + kPath + " HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400},
        {"a coding the service lacks", form + "Transfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n", 501},
        {"a negative chunk size", form + "Transfer-Encoding: chunked\r\n\r\n-5\r\nsql=1\r\n0\r\n\r\n", 400},
        {"a chunk size in C notation", form + "Transfer-Encoding: chunked\r\n\r\n0x5\r\nsql=1\r\n0\r\n\r\n", 400},
        {"chunk data longer than its size", form + "Transfer-Encoding: chunked\r\n\r\n1\r\nsql=1\r\n0\r\n\r\n", 400},
        {"another version", "GET /link(0).txt HTTP/2.0\r\nHost: x\r\n\r\n", 505},
    };
    for (const auto &shape : shapes) {
        const RawAnswer answer = rawExchange(m_port, shape.request + hidden);
        EXPECT_EQ(answer.status, shape.status) << shape.what << "\n" << answer.head;
        EXPECT_TRUE(answer.closed) << shape.what;
        // At once: not after the read timeout.
        EXPECT_LT(answer.ms, 2000) << shape.what;
        EXPECT_EQ(countOf(answer.body, "HTTP/1.1"), 0u) << shape.what << ": the hidden request was read";
    }

    // The honest forms, kept alive: a chunked form with an extension, a GET
    // whose body hides a request, and the next request, which is read.
    const std::string query = "sql=" + queryWith(99, {});
    const std::string chunked = form + "Transfer-Encoding: chunked\r\n\r\n4;part=1\r\n" + query.substr(0, 4) + "\r\n" +
                                [&] { char size[16]; std::snprintf(size, sizeof size, "%zx", query.size() - 4); return std::string(size); }() +
                                "\r\n" + query.substr(4) + "\r\n0\r\n\r\n";
    const std::string getWithBody =
        "GET /link(0).txt HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(hidden.size()) + "\r\n\r\n" + hidden;
    const RawAnswer honest =
        rawExchange(m_port, chunked + getWithBody + "GET /link(1).txt HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(honest.status, 200) << honest.head;
    EXPECT_EQ(honest.body.substr(0, m_baseline.size()), m_baseline);
    EXPECT_EQ(countOf(honest.body, "HTTP/1.1 200"), 2u) << honest.body;
    EXPECT_EQ(countOf(honest.body, "404"), 0u) << "the body of the GET was read as a request";
    expectServiceAndDatabaseUnchanged();
}
