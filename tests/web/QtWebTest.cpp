#include "LocalServer.h"

#include "base/Step.h"
#include "net/HttpFetch.h"
#include "net/QtWeb.h"

#include <QTcpServer>

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
};

TEST_F(QtWebTest, ErrorStatusesAreAnswersWithTheirBodies) {
    QtWeb web;
    const FetchOutcome missing = web.fetch(get(QStringLiteral("/missing")));
    ASSERT_TRUE(missing.ok()) << missing.error.toStdString();
    EXPECT_EQ(missing.response->status, 404);
    EXPECT_EQ(QString::fromUtf8(missing.response->body), QStringLiteral("<html>不在这里</html>"));
    EXPECT_EQ(missing.response->contentType, "text/html; charset=utf-8");

    EXPECT_EQ(HttpFetchText(web, site->url(QStringLiteral("/broken")), 1), QStringLiteral("<html>server error</html>"));
}

TEST_F(QtWebTest, EmptyBodyGivesEmptyText) {
    QtWeb web;
    const QString text = HttpFetchText(web, site->url(QStringLiteral("/empty")), 0);
    EXPECT_TRUE(text.isEmpty());
}

TEST_F(QtWebTest, HttpFetchTextPostsTheFormHeaderWithoutBody) {
    QtWeb web;
    EXPECT_EQ(HttpFetchText(web, site->url(QStringLiteral("/method")), 1),
              QStringLiteral("POST application/x-www-form-urlencoded 0"));
    // A 302 answer to a POST goes on as a GET, as browsers do.
    EXPECT_EQ(HttpFetchText(web, site->url(QStringLiteral("/moved")), 1), QStringLiteral("GET  0"));
}

TEST_F(QtWebTest, DecodesBothCharacterSetModes) {
    QtWeb web;
    // GB2312, a GBK extension and two four-byte GB18030 characters.
    EXPECT_EQ(HttpFetchText(web, site->url(QStringLiteral("/gb")), 0),
              QStringLiteral("中文 镕 \u0080 ") + QString::fromUcs4(U"\U0001F600", 1));
    EXPECT_EQ(HttpFetchText(web, site->url(QStringLiteral("/utf8")), 1), QStringLiteral("<td>曼联</td>"));
    EXPECT_EQ(fetchPage(web, site->url(QStringLiteral("/page"))), QStringLiteral("<p>中文 ok</p>"));
}

TEST_F(QtWebTest, CharacterCutOffAtTheEndIsABrokenPage) {
    QtWeb web;
    try {
        HttpFetchText(web, site->url(QStringLiteral("/cut")), 1);
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
        HttpFetchText(web, request.url, 0);
        FAIL() << "a refused connection gave text";
    } catch (const StepFailure &failure) {
        EXPECT_EQ(failure.kind(), FailureKind::Network);
    }
    QString why;
    EXPECT_FALSE(tryHttpFetchText(web, request.url, 0, &why).has_value());
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
        HttpFetchText(web, site->url(QStringLiteral("/page")), 1);
        FAIL() << "an aborted web fetched";
    } catch (const StepFailure &failure) {
        EXPECT_EQ(failure.kind(), FailureKind::Cancelled);
    }
    EXPECT_THROW(tryHttpFetchText(web, site->url(QStringLiteral("/page")), 1), StepFailure);
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

TEST(QtWeb, RefusesWhatIsNotAWebAddress) {
    QtWeb web;
    for (const QString url : {QStringLiteral("ftp://127.0.0.1/x"), QStringLiteral("no address"), QString()}) {
        HttpRequest request;
        request.url = url;
        const FetchOutcome outcome = web.fetch(request);
        EXPECT_EQ(outcome.failure, Failure::BadUrl) << url.toStdString();
        EXPECT_FALSE(outcome.error.isEmpty());
    }
}

} // namespace
