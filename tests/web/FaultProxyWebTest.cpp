// The real client against the fault proxy: each injected fault comes out as
// the failure or the answer it is, never as a page that looks whole.
#include "LocalServer.h"
#include "support/FaultProxy.h"

#include "base/Step.h"
#include "net/HttpFetch.h"
#include "net/QtWeb.h"

#include <gtest/gtest.h>

#include <memory>

using namespace chenglan;
using namespace chenglan::testing;
using Failure = FetchOutcome::Failure;
using namespace std::chrono_literals;

namespace {

const QString Page = QStringLiteral("<html><body><table><tr><td>曼联</td><td>切尔西</td></tr></table>%1</body></html>")
                         .arg(QString(4000, u'z'));

class FaultProxyWebTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        site = new LocalServer;
        const auto page = [](const httplib::Request &, httplib::Response &res) {
            res.set_content(Page.toStdString(), "text/html; charset=utf-8");
        };
        site->server().Get("/page", page);
        site->server().Post("/page", page);
        site->start();
        proxy = new FaultProxy(site->url(QStringLiteral("/")));
    }
    static void TearDownTestSuite() {
        delete proxy;
        delete site;
    }
    void SetUp() override {
        ASSERT_TRUE(proxy->ok()) << proxy->error().toStdString();
        proxy->clear();
    }

    static FetchLimits shortLimits() {
        FetchLimits limits;
        limits.deadline = 500ms;
        limits.maxBody = 64 * 1024;
        return limits;
    }

    static inline LocalServer *site = nullptr;
    static inline FaultProxy *proxy = nullptr;
};

// What a fetch came to: the failure kind, or the status and the body.
struct Seen {
    Failure failure = Failure::None;
    int status = 0;
    QByteArray body;
    QString error;
};

Seen fetchThrough(Web &web, const QString &url) {
    HttpRequest request;
    request.url = url;
    const FetchOutcome outcome = web.fetch(request);
    if (!outcome.ok())
        return {outcome.failure, 0, {}, outcome.error};
    return {Failure::None, outcome.response->status, outcome.response->body, {}};
}

} // namespace

TEST_F(FaultProxyWebTest, EachFaultIsTheFailureOrAnswerItIs) {
    struct Case {
        Fault fault;
        Failure failure; // None: an answer
        int status;
        bool wholePage;  // the answer's body is the page unchanged
    };
    const Case cases[] = {
        {Fault::None, Failure::None, 200, true},
        {Fault::ResetMidBody, Failure::Network, 0, false},
        {Fault::Truncated, Failure::Network, 0, false},
        {Fault::Stall, Failure::Timeout, 0, false},
        {Fault::Oversize, Failure::TooLarge, 0, false},
        {Fault::ServerError, Failure::None, 500, false},
        {Fault::Empty, Failure::None, 200, false},
        {Fault::InvalidBytes, Failure::None, 200, false},
        {Fault::GbAsUtf8, Failure::None, 200, false},
    };
    proxy->setOversizeBytes(256 * 1024);
    for (const Case &c : cases) {
        SCOPED_TRACE(faultName(c.fault));
        proxy->clear();
        proxy->inject(QStringLiteral("/page"), c.fault);
        QtWeb web(shortLimits());
        const Seen seen = fetchThrough(web, proxy->url(QStringLiteral("page")));
        EXPECT_EQ(seen.failure, c.failure) << seen.error.toStdString();
        EXPECT_EQ(seen.status, c.status);
        EXPECT_EQ(seen.body == Page.toUtf8(), c.wholePage);
        if (c.failure != Failure::None) {
            EXPECT_FALSE(seen.error.isEmpty());
        }
    }
    // The next fetch once the fault is gone gets the page.
    proxy->clear();
    QtWeb web(shortLimits());
    EXPECT_EQ(fetchThrough(web, proxy->url(QStringLiteral("page"))).body, Page.toUtf8());
}

TEST_F(FaultProxyWebTest, ARefusedPortFailsAsNetworkAndTheReopenedOneAnswers) {
    QtWeb web(shortLimits());
    proxy->refuseConnections(true);
    const Seen refused = fetchThrough(web, proxy->url(QStringLiteral("page")));
    EXPECT_EQ(refused.failure, Failure::Network);
    EXPECT_TRUE(refused.error.contains(u"refused", Qt::CaseInsensitive)) << refused.error.toStdString();
    proxy->refuseConnections(false);
    EXPECT_EQ(fetchThrough(web, proxy->url(QStringLiteral("page"))).body, Page.toUtf8());
}

// The text readers: a page that is not text in its declared encoding, or
// one cut short, fails as a broken page; it is never read in part.
TEST_F(FaultProxyWebTest, TextReadersNeverTakeABrokenOrPartialPage) {
    struct Case {
        Fault fault;
        FailureKind kind;
        const char *says;
    };
    const Case cases[] = {
        {Fault::ResetMidBody, FailureKind::Network, ""},
        {Fault::Truncated, FailureKind::Network, "bytes of the answer"},
        {Fault::Stall, FailureKind::Network, "within 0.5 s"},
        {Fault::Oversize, FailureKind::Network, "larger than"},
        {Fault::GbAsUtf8, FailureKind::Layout, "not UTF-8 text"},
        {Fault::InvalidBytes, FailureKind::Layout, "not UTF-8 text"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(faultName(c.fault));
        proxy->clear();
        proxy->inject(QStringLiteral("/page"), c.fault);
        for (const bool post : {false, true}) {
            QtWeb web(shortLimits());
            try {
                const QString text = post ? HttpFetchText(web, proxy->url(QStringLiteral("page")), Charset::Utf8)
                                          : fetchPage(web, proxy->url(QStringLiteral("page")));
                ADD_FAILURE() << "read " << text.size() << " characters";
            } catch (const StepFailure &failure) {
                EXPECT_EQ(failure.kind(), c.kind) << failure.message().toStdString();
                EXPECT_TRUE(failure.message().contains(QLatin1String(c.says))) << failure.message().toStdString();
            }
        }
    }
    // The GB page read as GB (mode 0) is the page: only its label was wrong.
    proxy->clear();
    proxy->inject(QStringLiteral("/page"), Fault::GbAsUtf8);
    QtWeb web(shortLimits());
    EXPECT_EQ(HttpFetchText(web, proxy->url(QStringLiteral("page")), Charset::Gb18030), Page);
}

TEST_F(FaultProxyWebTest, RulesApplyFromTheirTurnAndOnlyToTheirAddresses) {
    proxy->inject(QStringLiteral("/page?b"), Fault::Empty, 1);
    QtWeb web(shortLimits());
    EXPECT_EQ(fetchThrough(web, proxy->url(QStringLiteral("page?a"))).body, Page.toUtf8());
    EXPECT_EQ(fetchThrough(web, proxy->url(QStringLiteral("page?b"))).body, Page.toUtf8()) << "skipped once";
    EXPECT_TRUE(fetchThrough(web, proxy->url(QStringLiteral("page?b"))).body.isEmpty());
    EXPECT_EQ(proxy->faultsServed(), 1);
}
