#include "LoadClient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fstream>
#include <sstream>
#include <thread>
#include <unordered_map>

namespace chenglan::dataservice::testing {

namespace {

using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

sockaddr_in loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(std::uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

// Closing with a reset leaves no TIME_WAIT behind, so thousands of
// connections do not use up the loopback's ports.
void closeAbruptly(int fd) {
    const linger abort{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(fd);
}

void splitAnswer(const std::string &raw, int &status, std::string &head, std::string &body) {
    status = 0;
    if (raw.rfind("HTTP/1.", 0) == 0 && raw.size() >= 12)
        status = std::atoi(raw.substr(9, 3).c_str());
    const std::size_t end = raw.find("\r\n\r\n");
    head = raw.substr(0, end);
    body = end == std::string::npos ? std::string() : raw.substr(end + 4);
}

} // namespace

RawAnswer rawExchange(int port, const std::string &request, std::chrono::milliseconds limit) {
    RawAnswer answer;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in addr = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return answer;
    }
    const auto start = Clock::now();
    std::thread sender([fd, &request] {
        std::size_t sent = 0;
        while (sent < request.size()) {
            const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return; // the server stopped reading; what it answered is still read
            sent += std::size_t(n);
        }
    });
    std::string raw;
    char buffer[16384];
    const auto deadline = start + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd pfd{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&pfd, 1, int(left)) <= 0)
            break;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            answer.closed = true;
            break;
        }
        raw.append(buffer, std::size_t(n));
    }
    answer.ms = msBetween(start, Clock::now());
    // Unblocks a sender still waiting on a full socket.
    ::shutdown(fd, SHUT_RDWR);
    sender.join();
    closeAbruptly(fd);
    splitAnswer(raw, answer.status, answer.head, answer.body);
    return answer;
}

std::string getRequest(const std::string &target) {
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
}

std::string formPost(const std::string &target, const std::string &body) {
    return "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
           "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::vector<Exchange> runLoad(int port, const LoadPlan &plan) {
    struct InFlight {
        std::size_t index;
        Clock::time_point intended;
        std::size_t sent = 0;
        std::string received{};
    };
    const int epoll = ::epoll_create1(0);
    std::unordered_map<int, InFlight> flying;
    std::vector<Exchange> done;
    const sockaddr_in addr = loopback(port);
    const auto start = Clock::now();
    const auto stopSending = start + plan.duration;
    const bool open = plan.ratePerSecond > 0 && plan.burst == 0;
    const auto interval = open ? std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(1.0 / plan.ratePerSecond))
                               : Clock::duration::zero();
    std::size_t launched = 0;

    const auto finish = [&](int fd, InFlight &f, Clock::time_point now) {
        Exchange &e = done[f.index];
        e.latencyMs = msBetween(f.intended, now);
        std::string head, body;
        splitAnswer(f.received, e.status, head, body);
        e.bodyMatches = body == plan.expectedBody;
        ::epoll_ctl(epoll, EPOLL_CTL_DEL, fd, nullptr);
        closeAbruptly(fd);
    };
    const auto launch = [&](Clock::time_point intended) {
        Exchange e;
        e.intendedMs = msBetween(start, intended);
        e.lagMs = msBetween(intended, Clock::now());
        done.push_back(e);
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        if (fd < 0)
            return;
        const int rc = ::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr);
        if (rc != 0 && errno != EINPROGRESS) {
            closeAbruptly(fd);
            return;
        }
        epoll_event ev{};
        ev.events = EPOLLOUT | EPOLLIN | EPOLLRDHUP;
        ev.data.fd = fd;
        ::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &ev);
        flying.emplace(fd, InFlight{launched, intended});
        ++launched;
    };
    const auto mayLaunch = [&](Clock::time_point now) {
        if (plan.burst > 0)
            return launched < std::size_t(plan.burst);
        if (open)
            return start + interval * static_cast<Clock::rep>(launched) <= now && start + interval * static_cast<Clock::rep>(launched) < stopSending;
        return now < stopSending && flying.size() < std::size_t(plan.concurrency);
    };

    epoll_event events[256];
    for (;;) {
        auto now = Clock::now();
        while (mayLaunch(now))
            launch(open ? start + interval * static_cast<Clock::rep>(launched) : now);
        // Requests that outlived the limit count as unanswered.
        for (auto it = flying.begin(); it != flying.end();) {
            if (now - it->second.intended > plan.answerLimit) {
                done[it->second.index].latencyMs = msBetween(it->second.intended, now);
                ::epoll_ctl(epoll, EPOLL_CTL_DEL, it->first, nullptr);
                closeAbruptly(it->first);
                it = flying.erase(it);
            } else {
                ++it;
            }
        }
        const bool moreToSend = plan.burst > 0 ? launched < std::size_t(plan.burst) : now < stopSending;
        if (flying.empty() && !moreToSend)
            break;
        int wait = 50;
        if (open && moreToSend) {
            const auto next = start + interval * static_cast<Clock::rep>(launched);
            wait = int(std::clamp<long long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count(), 0, 50));
        }
        const int n = ::epoll_wait(epoll, events, 256, wait);
        now = Clock::now();
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            auto it = flying.find(fd);
            if (it == flying.end())
                continue;
            InFlight &f = it->second;
            bool ended = false;
            bool sendFailed = false;
            if (f.sent < plan.request.size() && (events[i].events & EPOLLOUT)) {
                const ssize_t sent = ::send(fd, plan.request.data() + f.sent, plan.request.size() - f.sent,
                                            MSG_NOSIGNAL);
                if (sent > 0)
                    f.sent += std::size_t(sent);
                else if (sent < 0 && errno != EAGAIN)
                    sendFailed = true; // refused unread: the answer may still be there
                if (f.sent == plan.request.size()) {
                    epoll_event ev{};
                    ev.events = EPOLLIN | EPOLLRDHUP;
                    ev.data.fd = fd;
                    ::epoll_ctl(epoll, EPOLL_CTL_MOD, fd, &ev);
                }
            }
            if (sendFailed || (events[i].events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR))) {
                char buffer[16384];
                for (;;) {
                    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
                    if (got > 0) {
                        f.received.append(buffer, std::size_t(got));
                        continue;
                    }
                    if (got == 0 || errno != EAGAIN)
                        ended = true;
                    break;
                }
            }
            ended = ended || sendFailed;
            if (ended) {
                finish(fd, f, now);
                flying.erase(it);
            }
        }
    }
    ::close(epoll);
    return done;
}

namespace {

double quantile(std::vector<double> values, double q) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(q * double(values.size())) - 1;
    return values[std::size_t(std::clamp(rank, 0.0, double(values.size() - 1)))];
}

} // namespace

double latencyQuantile(const std::vector<Exchange> &exchanges, int status, double q) {
    std::vector<double> values;
    for (const auto &e : exchanges)
        if (e.status == status)
            values.push_back(e.latencyMs);
    return quantile(std::move(values), q);
}

double serviceQuantile(const std::vector<Exchange> &exchanges, int status, double q) {
    std::vector<double> values;
    for (const auto &e : exchanges)
        if (e.status == status)
            values.push_back(e.latencyMs - e.lagMs);
    return quantile(std::move(values), q);
}

double lagQuantile(const std::vector<Exchange> &exchanges, double q) {
    std::vector<double> values;
    for (const auto &e : exchanges)
        values.push_back(e.lagMs);
    return quantile(std::move(values), q);
}

std::size_t countStatus(const std::vector<Exchange> &exchanges, int status) {
    return std::size_t(std::count_if(exchanges.begin(), exchanges.end(),
                                     [status](const Exchange &e) { return e.status == status; }));
}

long residentKiB(long long pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) {
            std::istringstream in(line.substr(6));
            long kib = 0;
            in >> kib;
            return kib;
        }
    return 0;
}

} // namespace chenglan::dataservice::testing
