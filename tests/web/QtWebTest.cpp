#include "LocalServer.h"

#include "base/Step.h"
#include "support/RawAnswerServer.h"
#include "net/HttpFetch.h"
#include "net/PoliteWeb.h"
#include "net/QtWeb.h"

#include <QElapsedTimer>
#include <QTcpServer>

#include <zlib.h>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

using namespace chenglan;
using Failure = FetchOutcome::Failure;
using namespace std::chrono_literals;

namespace {

// Handlers that hold a request open until the test lets them go.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    int arrivals = 0;
    bool released = false;

    void arrive() {
        std::lock_guard lock(mutex);
        ++arrivals;
        changed.notify_all();
    }
    void waitForArrival(int count) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return arrivals >= count; });
    }
    void waitForRelease() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return released; });
    }
    // The pace of a trickling server: true once released.
    bool pause(std::chrono::milliseconds interval) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, interval, [&] { return released; });
    }
    void release() {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
};

class QtWebTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        site = new chenglan::testing::LocalServer;
        gate = new Gate;
        httplib::Server &s = site->server();
        s.Get("/page", [](const httplib::Request &, httplib::Response &res) {
            res.set_content("<p>中文 ok</p>", "text/html; charset=utf-8");
        });
        s.Post("/gb", [](const httplib::Request &, httplib::Response &res) {
            res.set_content("\xD6\xD0\xCE\xC4 \xE9\x46 \x81\x30\x81\x30 \x94\x39\xFC\x36", "text/html; charset=gb2312");
        });
        s.Post("/utf8", [](const httplib::Request &, httplib::Response &res) {
            res.set_content("<td>曼联</td>", "text/html");
        });
        s.Get("/missing", [](const httplib::Request &, httplib::Response &res) {
            res.status = 404;
            res.set_content("<html>不在这里</html>", "text/html; charset=utf-8");
        });
        s.Post("/broken", [](const httplib::Request &, httplib::Response &res) {
            res.status = 500;
            res.set_content("<html>server error</html>", "text/html");
        });
        s.Post("/empty", [](const httplib::Request &, httplib::Response &res) { res.set_content("", "text/html"); });
        s.Post("/cut", [](const httplib::Request &, httplib::Response &res) {
            res.set_content("ab\xE4\xB8", "text/html");
        });
        const auto echoMethod = [](const httplib::Request &req, httplib::Response &res) {
            res.set_content(req.method + " " + req.get_header_value("Content-Type") + " "
                                + std::to_string(req.body.size()),
                            "text/plain");
        };
        s.Get("/method", echoMethod);
        s.Post("/method", echoMethod);
        s.Post("/moved", [](const httplib::Request &, httplib::Response &res) {
            res.set_redirect(site->url(QStringLiteral("/method")).toStdString(), 302);
        });
        s.Get(R"(/hop/(\d+))", [](const httplib::Request &req, httplib::Response &res) {
            const int left = std::stoi(req.matches[1]);
            if (left == 0)
                res.set_content("arrived", "text/plain");
            else
                res.set_redirect("/hop/" + std::to_string(left - 1), 302);
        });
        s.Get("/huge", [](const httplib::Request &, httplib::Response &res) {
            res.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink &sink) {
                static const std::string chunk(64 * 1024, 'x');
                if (offset >= 256u * 1024 * 1024) {
                    sink.done();
                    return true;
                }
                if (!sink.write(chunk.data(), chunk.size()))
                    return false;
                hugeWritten += chunk.size();
                return true;
            });
        });
        s.Get("/huge-declared", [](const httplib::Request &, httplib::Response &res) {
            res.set_content_provider(100u * 1024 * 1024, "text/plain",
                                     [](size_t, size_t length, httplib::DataSink &sink) {
                                         static const std::string chunk(64 * 1024, 'y');
                                         return sink.write(chunk.data(), std::min(length, chunk.size()));
                                     });
        });
        s.Get("/trickle", [](const httplib::Request &, httplib::Response &res) {
            res.set_chunked_content_provider("text/plain", [](size_t, httplib::DataSink &sink) {
                if (!sink.write("x", 1))
                    return false;
                return !gate->pause(20ms);
            });
        });
        s.Get("/busy-then-silent", [](const httplib::Request &, httplib::Response &res) {
            if (busyAnswered++ == 0) {
                res.status = 503;
                res.set_header("Retry-After", "1");
                res.set_content("busy", "text/plain");
                return;
            }
            gate->arrive();
            gate->waitForRelease();
            res.set_content("late", "text/plain");
        });
        s.Get("/hang", [](const httplib::Request &, httplib::Response &res) {
            gate->arrive();
            gate->waitForRelease();
            res.set_content("late", "text/plain");
        });
        site->start();
    }

    static void TearDownTestSuite() {
        gate->release();
        delete site;
        delete gate;
    }

    static HttpRequest get(const QString &path) {
        HttpRequest r;
        r.url = site->url(path);
        return r;
    }

    static inline chenglan::testing::LocalServer *site = nullptr;
    static inline Gate *gate = nullptr;
    static inline std::atomic<size_t> hugeWritten{0};
    static inline std::atomic<int> busyAnswered{0};
};

// `bytes` compressed as one gzip member (windowBits 16 + 15), as a zlib
// stream (15) or as bare deflate data (-15).
QByteArray compressed(const QByteArray &bytes, int windowBits) {
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    QByteArray out(qsizetype(deflateBound(&z, uLong(bytes.size()))), Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.constData()));
    z.avail_in = uInt(bytes.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(qsizetype(z.total_out));
    deflateEnd(&z);
    return out;
}

QByteArray gzipped(const QByteArray &bytes) { return compressed(bytes, 16 + MAX_WBITS); }

QByteArray rawAnswer(const QByteArray &head, const QByteArray &body) {
    return head + "\r\nConnection: close\r\n\r\n" + body;
}

QByteArray codedAnswer(const QByteArray &coding, const QByteArray &body) {
    return rawAnswer("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Encoding: " + coding
                         + "\r\nContent-Length: " + QByteArray::number(body.size()),
                     body);
}

FetchOutcome fetchFrom(const chenglan::testing::RawAnswerServer &server, const QString &path, FetchLimits limits = {}) {
    QtWeb web(limits);
    HttpRequest request;
    request.url = server.url(path);
    return web.fetch(request);
}

TEST_F(QtWebTest, ErrorStatusesAreAnswersWithTheirBodies) {
    QtWeb web;
    const FetchOutcome missing = web.fetch(get(QStringLiteral("/missing")));
    ASSERT_TRUE(missing.ok()) << missing.error.toStdString();
    EXPECT_EQ(missing.response->status, 404);
    EXPECT_EQ(QString::fromUtf8(missing.response->body), QStringLiteral("<html>不在这里</html>"));
    EXPECT_EQ(missing.response->contentType, "text/html; charset=utf-8");

    EXPECT_EQ(HttpFetchText(web, site->url(QStringLiteral("/broken")), Charset::Utf8), QStringLiteral("<html>server error</html>"));
}

TEST_F(QtWebTest, EmptyBodyGivesEmptyText) {
    QtWeb web;
    const QString text = HttpFetchText(web, site->url(QStringLiteral("/empty")), Charset::Gb18030);
    EXPECT_TRUE(text.isEmpty());
}

TEST_F(QtWebTest, HttpFetchTextPostsTheFormHeaderWithoutBody) {
    QtWeb web;
    EXPECT_EQ(HttpFetchText(web, site->url(QStringLiteral("/method")), Charset::Utf8),
              QStringLiteral("POST application/x-www-form-urlencoded 0"));
    // A 302 answer to a POST goes on as a GET, as browsers do.
    EXPECT_EQ(HttpFetchText(web, site->url(QStringLiteral("/moved")), Charset::Utf8), QStringLiteral("GET  0"));
}

TEST_F(QtWebTest, DecodesBothCharacterSetModes) {
    QtWeb web;
    // GB2312, a GBK extension and two four-byte GB18030 characters.
    EXPECT_EQ(HttpFetchText(web, site->url(QStringLiteral("/gb")), Charset::Gb18030),
              QStringLiteral("中文 镕 \u0080 ") + QString::fromUcs4(U"\U0001F600", 1));
    EXPECT_EQ(HttpFetchText(web, site->url(QStringLiteral("/utf8")), Charset::Utf8), QStringLiteral("<td>曼联</td>"));
    EXPECT_EQ(fetchPage(web, site->url(QStringLiteral("/page"))), QStringLiteral("<p>中文 ok</p>"));
}

TEST_F(QtWebTest, CharacterCutOffAtTheEndIsABrokenPage) {
    QtWeb web;
    try {
        HttpFetchText(web, site->url(QStringLiteral("/cut")), Charset::Utf8);
        FAIL() << "a cut-off character was accepted";
    } catch (const StepFailure &failure) {
        EXPECT_EQ(failure.kind(), FailureKind::Layout);
        EXPECT_TRUE(failure.message().contains(u"cut off")) << failure.message().toStdString();
    }
}

TEST_F(QtWebTest, RefusedConnectionFailsWithAReason) {
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();

    QtWeb web;
    HttpRequest request;
    request.url = QStringLiteral("http://127.0.0.1:%1/").arg(port);
    const FetchOutcome outcome = web.fetch(request);
    EXPECT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.failure, Failure::Network);
    EXPECT_TRUE(outcome.error.contains(u"refused", Qt::CaseInsensitive)) << outcome.error.toStdString();
    try {
        HttpFetchText(web, request.url, Charset::Gb18030);
        FAIL() << "a refused connection gave text";
    } catch (const StepFailure &failure) {
        EXPECT_EQ(failure.kind(), FailureKind::Network);
    }
    QString why;
    EXPECT_FALSE(tryHttpFetchText(web, request.url, Charset::Gb18030, &why).has_value());
    EXPECT_FALSE(why.isEmpty());
}

TEST_F(QtWebTest, BodyOverTheLimitStopsReadingEarly) {
    FetchLimits limits;
    limits.maxBody = 64 * 1024;
    QtWeb web(limits);
    hugeWritten = 0;
    const FetchOutcome streamed = web.fetch(get(QStringLiteral("/huge")));
    EXPECT_EQ(streamed.failure, Failure::TooLarge);
    EXPECT_TRUE(streamed.error.contains(u"65536 bytes")) << streamed.error.toStdString();
    // The server offered 256 MiB; the client stopped long before.
    EXPECT_LT(hugeWritten.load(), 32u * 1024 * 1024);

    const FetchOutcome declared = web.fetch(get(QStringLiteral("/huge-declared")));
    EXPECT_EQ(declared.failure, Failure::TooLarge);
}

TEST_F(QtWebTest, TricklingServerHitsTheDeadline) {
    FetchLimits limits;
    limits.deadline = 300ms;
    QtWeb web(limits);
    const FetchOutcome outcome = web.fetch(get(QStringLiteral("/trickle")));
    EXPECT_EQ(outcome.failure, Failure::Timeout);
    EXPECT_TRUE(outcome.error.contains(u"within 0.3 s")) << outcome.error.toStdString();
}

TEST_F(QtWebTest, RedirectsAreFollowedUpToTheLimit) {
    QtWeb web;
    const FetchOutcome five = web.fetch(get(QStringLiteral("/hop/5")));
    ASSERT_TRUE(five.ok()) << five.error.toStdString();
    EXPECT_EQ(five.response->body, "arrived");
    EXPECT_TRUE(five.response->finalUrl.endsWith(u"/hop/0"));

    const FetchOutcome six = web.fetch(get(QStringLiteral("/hop/6")));
    EXPECT_EQ(six.failure, Failure::Redirect);
    EXPECT_TRUE(six.error.contains(u"more than 5")) << six.error.toStdString();
}

TEST_F(QtWebTest, AbortFromAnotherThreadEndsTheRunningFetchAndLaterOnes) {
    QtWeb web;
    const int before = [&] {
        std::lock_guard lock(gate->mutex);
        return gate->arrivals;
    }();
    std::thread canceller([&] {
        gate->waitForArrival(before + 1);
        web.abort();
    });
    const FetchOutcome outcome = web.fetch(get(QStringLiteral("/hang")));
    canceller.join();
    EXPECT_EQ(outcome.failure, Failure::Aborted);
    EXPECT_FALSE(outcome.error.isEmpty());

    EXPECT_EQ(web.fetch(get(QStringLiteral("/page"))).failure, Failure::Aborted);
    try {
        HttpFetchText(web, site->url(QStringLiteral("/page")), Charset::Utf8);
        FAIL() << "an aborted web fetched";
    } catch (const StepFailure &failure) {
        EXPECT_EQ(failure.kind(), FailureKind::Cancelled);
    }
    EXPECT_THROW(tryHttpFetchText(web, site->url(QStringLiteral("/page")), Charset::Utf8), StepFailure);
}

TEST_F(QtWebTest, FetchesInsideAWorkerThread) {
    FetchOutcome outcome;
    std::thread worker([&] {
        QtWeb web;
        outcome = web.fetch(get(QStringLiteral("/page")));
    });
    worker.join();
    ASSERT_TRUE(outcome.ok()) << outcome.error.toStdString();
    EXPECT_EQ(outcome.response->status, 200);
}

TEST_F(QtWebTest, RepeatAfterRetryAfterGetsWhatIsLeftOfTheBound) {
    // 503 with Retry-After: 1, then silence: the whole fetch, wait and
    // repeat included, ends at the 3 s bound, not 1 s + 3 s.
    FetchLimits limits;
    limits.deadline = 3s;
    PoliteWeb web(std::make_unique<QtWeb>(limits), std::make_shared<HostSchedule>());
    web.setTimeBound(limits.deadline);
    busyAnswered = 0;
    QElapsedTimer timer;
    timer.start();
    const FetchOutcome outcome = web.fetch(get(QStringLiteral("/busy-then-silent")));
    const qint64 took = timer.elapsed();
    EXPECT_EQ(busyAnswered.load(), 2);
    EXPECT_EQ(outcome.failure, Failure::Timeout);
    EXPECT_TRUE(outcome.error.contains(u"within 3 s")) << outcome.error.toStdString();
    EXPECT_LT(took, 3600) << outcome.error.toStdString();
}

// Compressed answers are bounded and checked like plain ones: the client
// inflates them itself, as they arrive.
TEST(QtWebCoded, GzipAndDeflateAnswersAreDecodedAndStoredDecoded) {
    const QByteArray page = "<p>\xE4\xB8\xAD ok</p>" + QByteArray(5000, 'x');
    chenglan::testing::RawAnswerServer server([&](const QByteArray &head) {
        const QByteArray target = chenglan::testing::RawAnswerServer::target(head);
        if (!head.contains("Accept-Encoding: gzip, deflate"))
            return rawAnswer("HTTP/1.1 400 Bad Request\r\nContent-Length: 0", {});
        if (target == "/gzip")
            return codedAnswer("gzip", gzipped(page));
        if (target == "/zlib")
            return codedAnswer("deflate", compressed(page, MAX_WBITS));
        if (target == "/bare")
            return codedAnswer("deflate", compressed(page, -MAX_WBITS));
        // Two gzip members one after the other make one body.
        return codedAnswer("x-gzip", gzipped(page.left(100)) + gzipped(page.mid(100)));
    });
    ASSERT_TRUE(server.ok());
    for (const char *path : {"/gzip", "/zlib", "/bare", "/members"}) {
        SCOPED_TRACE(path);
        const FetchOutcome outcome = fetchFrom(server, QString::fromLatin1(path));
        ASSERT_TRUE(outcome.ok()) << outcome.error.toStdString();
        EXPECT_EQ(outcome.response->status, 200);
        EXPECT_EQ(outcome.response->body, page);
        // The headers describe the body as kept: decoded.
        for (const auto &header : outcome.response->headers) {
            EXPECT_NE(header.first.toLower(), "content-encoding");
            EXPECT_NE(header.first.toLower(), "content-length");
        }
        EXPECT_EQ(outcome.response->contentType, "text/html; charset=utf-8");
    }
}

TEST(QtWebCoded, BrokenOrOversizedCodingFailsTheFetch) {
    // Text that does not shrink to nothing, so that half of it is half a stream.
    QByteArray page;
    for (quint32 x = 1; page.size() < 100000;) {
        x = x * 1103515245u + 12345u;
        page.append(char('a' + (x >> 16) % 26));
    }
    const QByteArray packed = gzipped(page);
    // 40 MiB of text in 40 KB, and 2 GiB in 2 MB (32 members of 64 MiB).
    const QByteArray past = gzipped(QByteArray(40 * 1024 * 1024, 'a'));
    const QByteArray member = gzipped(QByteArray(64 * 1024 * 1024, '\0'));
    QByteArray bomb;
    for (int i = 0; i < 32; ++i)
        bomb += member;
    chenglan::testing::RawAnswerServer server([&](const QByteArray &head) {
        const QByteArray target = chenglan::testing::RawAnswerServer::target(head);
        if (target == "/half")
            return codedAnswer("gzip", packed.left(packed.size() / 2));
        if (target == "/garbage")
            return codedAnswer("gzip", packed + "garbage after the end");
        if (target == "/noise")
            return codedAnswer("gzip", "\x1f\x8b\x08\x00 this is not deflate data at all");
        if (target == "/deflate-half")
            return codedAnswer("deflate", compressed(page, MAX_WBITS).left(packed.size() / 2));
        if (target == "/brotli")
            return codedAnswer("br", "whatever");
        if (target == "/past")
            return codedAnswer("gzip", past);
        return codedAnswer("gzip", bomb);
    });
    ASSERT_TRUE(server.ok());
    for (const char *path : {"/half", "/garbage", "/noise", "/deflate-half", "/brotli"}) {
        SCOPED_TRACE(path);
        const FetchOutcome outcome = fetchFrom(server, QString::fromLatin1(path));
        ASSERT_FALSE(outcome.ok()) << "accepted " << outcome.response->body.size() << " bytes";
        EXPECT_EQ(outcome.failure, Failure::Network);
        EXPECT_TRUE(outcome.error.startsWith(QStringLiteral("Fetching %1 failed: ").arg(server.url(QString::fromLatin1(path)))))
            << outcome.error.toStdString();
    }
    for (const char *path : {"/past", "/bomb"}) {
        SCOPED_TRACE(path);
        QElapsedTimer timer;
        timer.start();
        const FetchOutcome outcome = fetchFrom(server, QString::fromLatin1(path));
        EXPECT_EQ(outcome.failure, Failure::TooLarge);
        EXPECT_EQ(outcome.error,
                  QStringLiteral("The answer from 127.0.0.1 is larger than 16 MiB; reading stopped."));
        EXPECT_LT(timer.elapsed(), 10000); // at once, not at the 20 s deadline
    }
}

// Answers that parse but mean nothing fail, each with a sentence naming the address.
TEST(QtWebCoded, MeaninglessAnswersFail) {
    chenglan::testing::RawAnswerServer server([](const QByteArray &head) -> QByteArray {
        const QByteArray target = chenglan::testing::RawAnswerServer::target(head);
        if (target == "/two-lengths")
            return "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 40\r\nConnection: close\r\n\r\n"
                   "0123456789012345678901234567890123456789";
        if (target == "/plus-length")
            return rawAnswer("HTTP/1.1 200 OK\r\nContent-Length: +4", "abcd");
        if (target == "/status-0")
            return rawAnswer("HTTP/1.1 000 Nothing\r\nContent-Length: 2", "ok");
        if (target == "/status-999")
            return rawAnswer("HTTP/1.1 999 Whatever\r\nContent-Length: 2", "ok");
        if (target == "/interim")
            return rawAnswer("HTTP/1.1 102 Processing", {});
        if (target == "/no-location")
            return rawAnswer("HTTP/1.1 302 Found\r\nContent-Length: 0", {});
        if (target == "/empty-location")
            return rawAnswer("HTTP/1.1 302 Found\r\nLocation: \r\nContent-Length: 0", {});
        if (target == "/bad-location")
            return rawAnswer("HTTP/1.1 302 Found\r\nLocation: http://[::1\r\nContent-Length: 0", {});
        if (target == "/same-lengths")
            return "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nContent-Length: 4\r\nConnection: close\r\n\r\nabcd";
        return rawAnswer("HTTP/1.1 299 Unheard Of\r\nContent-Length: 4", "body");
    });
    ASSERT_TRUE(server.ok());
    for (const char *path : {"/two-lengths", "/plus-length", "/status-0", "/status-999", "/interim", "/no-location",
                             "/empty-location", "/bad-location"}) {
        SCOPED_TRACE(path);
        const FetchOutcome outcome = fetchFrom(server, QString::fromLatin1(path));
        ASSERT_FALSE(outcome.ok()) << "accepted status " << outcome.response->status;
        EXPECT_TRUE(outcome.error.contains(server.url(QString::fromLatin1(path)))) << outcome.error.toStdString();
    }
    EXPECT_TRUE(fetchFrom(server, QStringLiteral("/bad-location")).error.contains(u"http://[::1"));
    // A repeated equal length is one length; an unknown status of a known class is an answer.
    const FetchOutcome same = fetchFrom(server, QStringLiteral("/same-lengths"));
    ASSERT_TRUE(same.ok()) << same.error.toStdString();
    EXPECT_EQ(same.response->body, "abcd");
    const FetchOutcome unheard = fetchFrom(server, QStringLiteral("/unheard"));
    ASSERT_TRUE(unheard.ok()) << unheard.error.toStdString();
    EXPECT_EQ(unheard.response->status, 299);
}

TEST(QtWeb, RefusesWhatIsNotAWebAddress) {
    QtWeb web;
    for (const QString &url : {QStringLiteral("ftp://127.0.0.1/x"), QStringLiteral("no address"), QString()}) {
        HttpRequest request;
        request.url = url;
        const FetchOutcome outcome = web.fetch(request);
        EXPECT_EQ(outcome.failure, Failure::BadUrl) << url.toStdString();
        EXPECT_FALSE(outcome.error.isEmpty());
    }
}

} // namespace
