// Clients that hold a connection without finishing their part: one that
// sends its request a byte a second, one that never reads its answers, one
// that keeps an idle connection open. None may keep the others waiting
// longer than the service's timeouts.

#include "BoundedHttpServer.h"
#include "LoadClient.h"
#include "MatchStore.h"
#include "ServiceLimits.h"
#include "ServiceTestData.h"
#include "support/ServerProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

using namespace chenglan::dataservice;
using namespace chenglan::dataservice::testing;

namespace {

using Clock = std::chrono::steady_clock;

const QString kServiceBinary = QStringLiteral(CHENGLAN_BINARY_DIR "/server/dataservice/chenglan-service");
const std::string kTarget = "/shili/deep_jc.asp?sql=0.35,-0.2,0.4,-0.1,0.5,0,0.45,0.05,A31,D10,";

// Margin for a loaded two-core machine on top of a timeout.
constexpr auto kMargin = std::chrono::seconds(3);

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int connectTo(int port, int receiveBuffer = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(std::uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// True when the server has answered or closed: something to read, or the end.
bool serverSpoke(int fd) {
    pollfd pfd{fd, POLLIN, 0};
    return ::poll(&pfd, 1, 0) > 0;
}

class SlowClientTest : public ::testing::Test {
protected:
    // `matches` analysed matches, so that an answer holds up to 30 records.
    void start(int matches) {
        {
            MatchStore store(m_db.path());
            store.beginBatch();
            for (int i = 0; i < matches; ++i) {
                store.upsertMatch(finishedMatch(5000 + i));
                store.upsertProfile(profileOf(5000 + i, Strengths{35 + i, -20, 40, -10, 50, 0, 45, 5}));
            }
            store.commitBatch();
        }
        m_service = std::make_unique<chenglan::testing::ServerProcess>(
            kServiceBinary, QStringList{QStringLiteral("serve"), QStringLiteral("--db"), m_db.path()});
        ASSERT_TRUE(m_service->ok()) << m_service->error().toStdString();
        m_port = m_service->port();
    }

    TempDatabase m_db;
    std::unique_ptr<chenglan::testing::ServerProcess> m_service;
    int m_port = 0;
};

} // namespace

// A request must arrive whole within the read timeout, counted from when
// the connection was accepted: slow senders are cut off then, and the
// connections that waited behind them are served.
TEST_F(SlowClientTest, ByteByByteSendersAreCutOffAtTheReadTimeout) {
    start(3);
    constexpr int kSlow = 40; // more than the workers and the waiting line together
    const auto started = Clock::now();
    std::vector<int> slow;
    for (int i = 0; i < kSlow; ++i)
        slow.push_back(connectTo(m_port));
    std::vector<double> cutOffAt(kSlow, -1);
    std::atomic<bool> stop{false};
    std::thread slowloris([&] {
        const std::string request = "GET " + kTarget + " HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
        for (std::size_t sent = 0; !stop && secondsSince(started) < 14; ++sent) {
            for (int i = 0; i < kSlow; ++i) {
                if (cutOffAt[i] >= 0 || slow[i] < 0)
                    continue;
                const char byte = sent < request.size() ? request[sent] : 'a';
                if (serverSpoke(slow[i]) || ::send(slow[i], &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT) != 1)
                    cutOffAt[i] = secondsSince(started);
            }
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    });

    struct Attempt {
        double at;
        RawAnswer answer;
    };
    std::vector<Attempt> attempts;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto allCutOff = [&] {
        return std::all_of(cutOffAt.begin(), cutOffAt.end(), [](double t) { return t >= 0; });
    };
    while (secondsSince(started) < 14) {
        const double at = secondsSince(started);
        attempts.push_back({at, rawExchange(m_port, getRequest(kTarget), std::chrono::seconds(20))});
        if (attempts.back().answer.status == 200 && allCutOff())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    stop = true;
    slowloris.join();
    for (int fd : slow)
        if (fd >= 0)
            ::close(fd);

    const double readTimeout = std::chrono::duration<double>(limits::kReadTimeout).count();
    const double margin = std::chrono::duration<double>(kMargin).count();
    double firstServed = -1;
    double longestWait = 0;
    for (const Attempt &a : attempts) {
        EXPECT_TRUE(a.answer.status == 200 || a.answer.status == 503) << "at " << a.at << " s: " << a.answer.head;
        longestWait = std::max(longestWait, a.answer.ms / 1000);
        if (a.answer.status == 200 && firstServed < 0)
            firstServed = a.at + a.answer.ms / 1000;
    }
    const double lastCutOff = *std::max_element(cutOffAt.begin(), cutOffAt.end());
    const auto cutOff = std::count_if(cutOffAt.begin(), cutOffAt.end(), [](double t) { return t >= 0; });
    std::printf("[ figures  ] %d byte-a-second senders: %d cut off or refused, the last after %.1f s; another "
                "client served after %.1f s, no answer took longer than %.1f s (%zu attempts)\n",
                kSlow, int(cutOff), lastCutOff, firstServed, longestWait, attempts.size());
    EXPECT_LE(longestWait, readTimeout + margin);
    EXPECT_GE(firstServed, 0) << "nobody else was served while the slow senders held on";
    EXPECT_LE(firstServed, readTimeout + margin);
    EXPECT_TRUE(allCutOff());
    EXPECT_LE(lastCutOff, readTimeout + margin);
    EXPECT_GE(lastCutOff, readTimeout - 1) << "cut off before the read timeout";
}

// Pipelined requests whose answers are never read: the kernel's buffers take
// a connection's hundred answers, and should they fill, an answer has the
// write timeout to go out before its connection is dropped. Either way the
// workers are soon free for others.
TEST_F(SlowClientTest, ClientsThatNeverReadHoldNoWorkerBeyondTheWriteTimeout) {
    start(40);
    std::string pipelined;
    for (int i = 0; i < int(limits::kKeepAliveMaxRequests); ++i)
        pipelined += "GET " + kTarget + std::to_string(i) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    const int workers = int(limits::kWorkerThreads);
    const auto started = Clock::now();
    std::vector<int> holders;
    std::vector<std::thread> senders;
    for (int i = 0; i < workers; ++i) {
        holders.push_back(connectTo(m_port, 4096));
        ASSERT_GE(holders.back(), 0);
    }
    for (int fd : holders)
        senders.emplace_back([fd, &pipelined] {
            for (std::size_t sent = 0; sent < pipelined.size();) {
                const ssize_t n = ::send(fd, pipelined.data() + sent, pipelined.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    return;
                sent += std::size_t(n);
            }
        });
    // Let every worker take a holder before asking.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const RawAnswer answer = rawExchange(m_port, getRequest(kTarget), std::chrono::seconds(20));
    const double waited = secondsSince(started);
    for (int fd : holders)
        ::shutdown(fd, SHUT_RDWR);
    for (auto &t : senders)
        t.join();
    for (int fd : holders)
        ::close(fd);

    const double writeTimeout = std::chrono::duration<double>(limits::kWriteTimeout).count();
    std::printf("[ figures  ] %d clients that never read: another client served after %.1f s\n", workers, waited);
    EXPECT_EQ(answer.status, 200) << answer.head;
    EXPECT_LE(waited, writeTimeout + std::chrono::duration<double>(kMargin).count());
}

// An idle kept-alive connection gives its worker up as soon as another
// connection waits for one, instead of holding it for the keep-alive time.
TEST_F(SlowClientTest, IdleKeptAliveConnectionsMakeWayForWaitingOnes) {
    start(3);
    const int workers = int(limits::kWorkerThreads);
    std::vector<int> idle;
    for (int i = 0; i < workers; ++i) {
        const int fd = connectTo(m_port);
        ASSERT_GE(fd, 0);
        const std::string request = "GET " + kTarget + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), ssize_t(request.size()));
        char buffer[8192];
        pollfd pfd{fd, POLLIN, 0};
        ASSERT_GT(::poll(&pfd, 1, 10000), 0);
        ASSERT_GT(::recv(fd, buffer, sizeof buffer, 0), 0); // answered; the connection stays open
        idle.push_back(fd);
    }
    const RawAnswer answer = rawExchange(m_port, getRequest(kTarget), std::chrono::seconds(10));
    for (int fd : idle)
        ::close(fd);
    std::printf("[ figures  ] %d idle kept-alive connections: another client served after %.0f ms\n", workers,
                answer.ms);
    EXPECT_EQ(answer.status, 200);
    // Well under the keep-alive time it would otherwise wait.
    EXPECT_LT(answer.ms, 0.5 * double(std::chrono::milliseconds(limits::kKeepAliveTimeout).count()));
}

namespace {

// Reads from `fd` until `text` has come, the connection ends, or 5 s pass.
std::string readUntil(int fd, const std::string &text) {
    std::string received;
    char buffer[4096];
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (received.find(text) == std::string::npos) {
        pollfd pfd{fd, POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || ::poll(&pfd, 1, int(left.count())) <= 0)
            break;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        received.append(buffer, std::size_t(n));
    }
    return received;
}

} // namespace

// The lost queries of the benchmark at as many clients as workers: a client
// reconnecting after a keep-alive's last answer briefly waits for a worker,
// and a kept-alive connection that had just been answered was then closed
// at once, under the next request its client had already sent. Here one
// worker, a slow first answer, and a connection that starts waiting while
// it is computed: the request sent right after that answer is answered.
TEST(KeptAliveConnection, TheNextRequestIsAnsweredWhenAnotherConnectionStartsWaiting) {
    BoundedServerOptions options;
    options.workers = 1;
    BoundedHttpServer server(options);
    server.Get("/slow", [](const httplib::Request &, httplib::Response &res) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        res.set_content("slow answer\n", "text/plain");
    });
    server.Get("/fast", [](const httplib::Request &, httplib::Response &res) {
        res.set_content("fast answer\n", "text/plain");
    });
    const int port = server.bindLoopback(0);
    ASSERT_GT(port, 0);
    std::thread listener([&] { server.listen_after_bind(); });

    const int kept = connectTo(port);
    ASSERT_GE(kept, 0);
    const std::string slow = "GET /slow HTTP/1.1\r\nHost: x\r\n\r\n";
    ASSERT_EQ(::send(kept, slow.data(), slow.size(), MSG_NOSIGNAL), ssize_t(slow.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the worker computes the slow answer
    const int waiting = connectTo(port);
    ASSERT_GE(waiting, 0);
    const std::string closing = "GET /fast HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    ASSERT_EQ(::send(waiting, closing.data(), closing.size(), MSG_NOSIGNAL), ssize_t(closing.size()));

    const std::string first = readUntil(kept, "slow answer\n");
    EXPECT_EQ(first.rfind("HTTP/1.1 200", 0), 0u) << first;
    const std::string next = "GET /fast HTTP/1.1\r\nHost: x\r\n\r\n";
    ASSERT_EQ(::send(kept, next.data(), next.size(), MSG_NOSIGNAL), ssize_t(next.size()));
    const std::string second = readUntil(kept, "fast answer\n");
    EXPECT_EQ(second.rfind("HTTP/1.1 200", 0), 0u) << "the kept-alive connection was closed under its request";
    EXPECT_NE(second.find("Connection: close"), std::string::npos) << "it makes way for the waiting one after";
    const std::string other = readUntil(waiting, "fast answer\n");
    EXPECT_EQ(other.rfind("HTTP/1.1 200", 0), 0u) << other;

    ::close(kept);
    ::close(waiting);
    server.stop();
    listener.join();
}
