#pragma once

// Clients that behave as no browser does, for the service's abuse and load
// tests: raw exchanges of exact bytes, and a load generator that opens one
// connection per request from a single thread.

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace chenglan::dataservice::testing {

// An answer read until the server closed the connection.
struct RawAnswer {
    int status = 0;   // 0: no status line (reset, closed silently, timed out)
    std::string head; // status line and headers
    std::string body;
    bool closed = false; // the server closed (or reset) the connection in time
    double ms = 0;       // from the first byte sent to the close
};

// Sends `request` as it is on a fresh connection to 127.0.0.1:port (in a
// second thread, so a server that stops reading cannot block it) and reads
// until the server closes, at most `limit`.
RawAnswer rawExchange(int port, const std::string &request, std::chrono::milliseconds limit = std::chrono::seconds(10));

// A request line and headers for GET of `target`, closing after the answer.
std::string getRequest(const std::string &target);
// A form POST of `body` to `target`.
std::string formPost(const std::string &target, const std::string &body);

// One request of a load run.
struct Exchange {
    double intendedMs = 0; // when it was meant to be sent, from the start of the run
    double latencyMs = 0;  // from the intended send time to the end of the answer
    double lagMs = 0;      // how late the client opened the connection
    int status = 0;        // 0: no answer within the limit, or the connection failed
    bool bodyMatches = false;
};

struct LoadPlan {
    std::string request;      // sent on each connection; it must ask the server to close
    std::string expectedBody; // the body a 200 must carry
    // Open loop: one request every 1/rate seconds whatever the answers, the
    // latency counted from the intended time, so a server that falls behind
    // cannot hide it by slowing the sender. Closed loop (rate 0): this many
    // requests in flight, the next sent as soon as one ends.
    double ratePerSecond = 0;
    int concurrency = 8;
    std::chrono::milliseconds duration{1000};
    // All at once instead: this many connections opened together.
    int burst = 0;
    std::chrono::milliseconds answerLimit{10000};
};

std::vector<Exchange> runLoad(int port, const LoadPlan &plan);

// The q-quantile (0..1) of the latencies of the exchanges with `status`.
double latencyQuantile(const std::vector<Exchange> &exchanges, int status, double q);
// The same from when the connection was opened: the time the service took,
// without the client's own lateness.
double serviceQuantile(const std::vector<Exchange> &exchanges, int status, double q);
// The q-quantile of the client's lateness over all exchanges.
double lagQuantile(const std::vector<Exchange> &exchanges, double q);
std::size_t countStatus(const std::vector<Exchange> &exchanges, int status);

// The resident memory of a process in KiB (VmRSS), 0 when unreadable.
long residentKiB(long long pid);

} // namespace chenglan::dataservice::testing
