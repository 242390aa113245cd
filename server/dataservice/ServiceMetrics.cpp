#include "ServiceMetrics.h"

#include <prometheus/counter.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include <sstream>

namespace chenglan::dataservice {

namespace {

// Upper bounds of the similar query's latency buckets, in seconds: the query
// takes about half a millisecond, a slow one tens of milliseconds.
const prometheus::Histogram::BucketBoundaries kQueryBuckets = {
    0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1.0};

std::int64_t steadyNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

ServiceMetrics::ServiceMetrics() : m_registry(std::make_shared<prometheus::Registry>()) {
    using namespace prometheus;
    m_requests = &BuildCounter()
                      .Name("chenglan_http_requests_total")
                      .Help("HTTP requests answered, by path and status.")
                      .Register(*m_registry);
    m_busy = &BuildCounter()
                  .Name("chenglan_connections_refused_busy_total")
                  .Help("Connections answered 503 at once because every worker was busy and the waiting line full.")
                  .Register(*m_registry)
                  .Add({});
    m_queryLatency = &BuildHistogram()
                          .Name("chenglan_similar_query_duration_seconds")
                          .Help("Time the service took to answer a similar-match query, parse to answer.")
                          .Register(*m_registry)
                          .Add({}, kQueryBuckets);
    m_profiles = &BuildGauge()
                      .Name("chenglan_profiles_loaded")
                      .Help("Analysed finished matches in the in-memory index.")
                      .Register(*m_registry)
                      .Add({});
    m_revision = &BuildGauge()
                      .Name("chenglan_revision_served")
                      .Help("Database revision the index answers from.")
                      .Register(*m_registry)
                      .Add({});
    m_sinceChange = &BuildGauge()
                         .Name("chenglan_seconds_since_last_change")
                         .Help("Seconds since a change of the database was last applied to the index "
                               "(since the load when none was).")
                         .Register(*m_registry)
                         .Add({});
    m_loadSeconds = &BuildGauge()
                         .Name("chenglan_load_duration_seconds")
                         .Help("Seconds the index took to load at start (0 until loaded).")
                         .Register(*m_registry)
                         .Add({});
    m_ready = &BuildGauge()
                   .Name("chenglan_index_ready")
                   .Help("1 once the index is loaded and the similar query is answered, else 0.")
                   .Register(*m_registry)
                   .Add({});
}

ServiceMetrics::~ServiceMetrics() = default;

std::string ServiceMetrics::pathLabel(const std::string &path) {
    if (path == "/shili/deep_jc.asp" || path == "/healthz" || path == "/metrics")
        return path;
    if (path == "/link(0).txt" || path == "/link(1).txt" || path == "/link(2).txt")
        return "/link(N).txt";
    // A request the server refused before it could read its line.
    if (path.empty())
        return "unread";
    return "other";
}

void ServiceMetrics::countAnswer(const std::string &path, int status) {
    m_requests->Add({{"path", pathLabel(path)}, {"status", std::to_string(status)}}).Increment();
}

void ServiceMetrics::countBusyRefusal() { m_busy->Increment(); }

void ServiceMetrics::observeQuery(std::chrono::nanoseconds took) {
    m_queryLatency->Observe(std::chrono::duration<double>(took).count());
}

void ServiceMetrics::setIndex(std::size_t profiles, qint64 revision) {
    m_profiles->Set(double(profiles));
    m_revision->Set(double(revision));
    m_servedRevision = revision;
}

void ServiceMetrics::markChangeApplied() { m_lastChangeNanos = steadyNanos(); }

void ServiceMetrics::setLoadDuration(std::chrono::duration<double> took) { m_loadSeconds->Set(took.count()); }

void ServiceMetrics::setReady(bool ready) { m_ready->Set(ready ? 1 : 0); }

std::string ServiceMetrics::exposition() {
    const std::int64_t last = m_lastChangeNanos.load();
    m_sinceChange->Set(last == 0 ? 0 : double(steadyNanos() - last) / 1e9);
    std::ostringstream out;
    prometheus::TextSerializer().Serialize(out, m_registry->Collect());
    return out.str();
}

} // namespace chenglan::dataservice
