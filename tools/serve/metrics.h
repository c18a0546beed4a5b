// The service's counters, in the Prometheus text format: requests by endpoint, status and outcome,
// their latency, requests refused by a limit.
#ifndef BMPFACE_TOOLS_SERVE_METRICS_H_
#define BMPFACE_TOOLS_SERVE_METRICS_H_

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <tuple>

namespace bmpface::serve {

// Upper bounds of the latency buckets, in seconds.
inline constexpr std::array<double, 11> kLatencyBuckets = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                           0.1,   0.25,   0.5,   1,    5};

class Metrics {
 public:
  // One request answered. `endpoint`: its path when it is one of the service's, else "other".
  void Count(const std::string& endpoint, int status, const std::string& outcome, double seconds);
  // A request refused by `limit`: body, queue, timeout, pixels.
  void Refused(const std::string& limit);
  // The text, with the gauges given.
  std::string Text(int inFlight, int queued, int busy) const;

 private:
  struct Latency {
    std::array<uint64_t, kLatencyBuckets.size()> buckets{};
    uint64_t count = 0;
    double sum = 0;
  };
  mutable std::mutex mutex_;
  std::map<std::tuple<std::string, int, std::string>, uint64_t> requests_;
  std::map<std::string, Latency> latency_;
  std::map<std::string, uint64_t> refused_;
};

}  // namespace bmpface::serve

#endif  // BMPFACE_TOOLS_SERVE_METRICS_H_
