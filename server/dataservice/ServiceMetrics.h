#pragma once

#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

namespace prometheus {
class Counter;
class Gauge;
class Histogram;
class Registry;
template<typename T> class Family;
} // namespace prometheus

// What the service counts for an operator's monitor, exposed on /metrics in
// the Prometheus text format (version 0.0.4) by Debian's prometheus-cpp core
// library. Every method may be called from any thread.
namespace chenglan::dataservice {

class ServiceMetrics {
public:
    ServiceMetrics();
    ~ServiceMetrics();
    ServiceMetrics(const ServiceMetrics &) = delete;
    ServiceMetrics &operator=(const ServiceMetrics &) = delete;

    // One answered request. The path is reduced to the few the service
    // knows ("other" for the rest), so a scanner cannot grow the series.
    void countAnswer(const std::string &path, int status);
    void countBusyRefusal();
    // The time the similar query took in the service, from parse to answer.
    void observeQuery(std::chrono::nanoseconds took);

    void setIndex(std::size_t profiles, qint64 revision);
    qint64 servedRevision() const { return m_servedRevision.load(); }
    void markChangeApplied();
    void setLoadDuration(std::chrono::duration<double> took);
    void setReady(bool ready);

    // The whole exposition, with "seconds since the last change" as of now.
    std::string exposition();

    // The label a request path is counted under.
    static std::string pathLabel(const std::string &path);

private:
    std::shared_ptr<prometheus::Registry> m_registry;
    prometheus::Family<prometheus::Counter> *m_requests = nullptr;
    prometheus::Counter *m_busy = nullptr;
    prometheus::Histogram *m_queryLatency = nullptr;
    prometheus::Gauge *m_profiles = nullptr;
    prometheus::Gauge *m_revision = nullptr;
    prometheus::Gauge *m_sinceChange = nullptr;
    prometheus::Gauge *m_loadSeconds = nullptr;
    prometheus::Gauge *m_ready = nullptr;
    std::atomic<qint64> m_servedRevision{0};
    std::atomic<std::int64_t> m_lastChangeNanos{0}; // steady clock; 0: none yet
};

} // namespace chenglan::dataservice
