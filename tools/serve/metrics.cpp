#include "serve/metrics.h"

#include <cstdio>

namespace bmpface::serve {
namespace {

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

}  // namespace

void Metrics::Count(const std::string& endpoint, int status, const std::string& outcome,
                    double seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++requests_[{endpoint, status, outcome}];
  Latency& l = latency_[endpoint];
  for (size_t i = 0; i < kLatencyBuckets.size(); ++i) {
    if (seconds <= kLatencyBuckets[i]) ++l.buckets[i];
  }
  ++l.count;
  l.sum += seconds;
}

void Metrics::Refused(const std::string& limit) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++refused_[limit];
}

std::string Metrics::Text(int inFlight, int queued, int busy) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string t;
  t += "# HELP bmpface_requests_total Requests answered, by endpoint, status and outcome.\n";
  t += "# TYPE bmpface_requests_total counter\n";
  for (const auto& [key, count] : requests_) {
    const auto& [endpoint, status, outcome] = key;
    t += "bmpface_requests_total{endpoint=\"" + endpoint + "\",status=\"" + std::to_string(status) +
         "\",outcome=\"" + outcome + "\"} " + std::to_string(count) + "\n";
  }
  t += "# HELP bmpface_request_seconds Time from a request's headers to its answer.\n";
  t += "# TYPE bmpface_request_seconds histogram\n";
  for (const auto& [endpoint, l] : latency_) {
    const std::string label = "endpoint=\"" + endpoint + "\"";
    for (size_t i = 0; i < kLatencyBuckets.size(); ++i) {
      t += "bmpface_request_seconds_bucket{" + label + ",le=\"" + Number(kLatencyBuckets[i]) +
           "\"} " + std::to_string(l.buckets[i]) + "\n";
    }
    t += "bmpface_request_seconds_bucket{" + label + ",le=\"+Inf\"} " + std::to_string(l.count) +
         "\n";
    t += "bmpface_request_seconds_sum{" + label + "} " + Number(l.sum) + "\n";
    t += "bmpface_request_seconds_count{" + label + "} " + std::to_string(l.count) + "\n";
  }
  t += "# HELP bmpface_refused_total Requests refused by a limit.\n";
  t += "# TYPE bmpface_refused_total counter\n";
  for (const char* limit : {"body", "queue", "timeout", "pixels"}) {
    const auto it = refused_.find(limit);
    t += "bmpface_refused_total{limit=\"" + std::string(limit) + "\"} " +
         std::to_string(it == refused_.end() ? 0 : it->second) + "\n";
  }
  t += "# HELP bmpface_in_flight Picture requests being read, queued or worked on.\n";
  t += "# TYPE bmpface_in_flight gauge\nbmpface_in_flight " + std::to_string(inFlight) + "\n";
  t += "# HELP bmpface_queue_depth Picture requests waiting for a worker.\n";
  t += "# TYPE bmpface_queue_depth gauge\nbmpface_queue_depth " + std::to_string(queued) + "\n";
  t += "# HELP bmpface_workers_busy Workers running a picture.\n";
  t += "# TYPE bmpface_workers_busy gauge\nbmpface_workers_busy " + std::to_string(busy) + "\n";
  return t;
}

}  // namespace bmpface::serve
