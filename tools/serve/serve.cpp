// bmpface-serve (`bmpface serve`): face crops over HTTP on cpp-httplib. Connection threads read
// requests and write answers; a fixed pool of workers runs the pictures (pool.h). Every answer,
// error or not, is logged as one JSON line on standard error and counted for /metrics.
#include <arpa/inet.h>
#include <dirent.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "command.h"
#include "json.h"
#include "photo/options.h"
#include "serve/answers.h"
#include "serve/metrics.h"
#include "serve/pool.h"
#include "sys/process.h"

namespace bmpface::cli {
namespace {

using serve::Endpoint;
using serve::Reply;
using Clock = std::chrono::steady_clock;

// The web page, embedded at build time (page.html).
extern "C" const unsigned char kPage[];
extern "C" const unsigned long kPageSize;

// A client may take this long between two reads or writes of its connection; an idle kept-alive
// connection is closed after kKeepAliveSeconds.
constexpr int kIoSeconds = 5;
constexpr int kKeepAliveSeconds = 5;
// Connection threads beyond the workers and the queue: enough for /healthz, /metrics and the
// refusals to get through while every worker and queue place is taken.
constexpr int kSpareConnections = 16;
// After SIGTERM, how long answers still being made may take beyond --timeout.
constexpr int kGraceBeyondTimeout = kIoSeconds + kKeepAliveSeconds;
// After refusing a body, how much more of it is read and dropped before the connection ends.
constexpr int kLingerSeconds = 2;
constexpr size_t kLingerBytes = size_t{16} << 20;
constexpr uint64_t kDefaultMaxBody = uint64_t{64} << 20;

struct Settings {
  std::string host = "127.0.0.1";
  int port = 8080;
  int workers = 0;
  int queue = 64;
  uint64_t maxBody = kDefaultMaxBody;
  uint64_t maxPixels = photo::kDefaultMaxPixels;
  int timeout = 30;
};

// HOST:PORT with a loopback host (127.0.0.0/8, [::1], localhost): the service has no TLS nor any
// authentication, so it is reached through a reverse proxy on the same machine, never directly.
void ParseListen(const std::string& text, Settings& s) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) throw CLI::ValidationError("--listen", "expected ADDRESS:PORT");
  std::string host = text.substr(0, colon);
  const std::string port = text.substr(colon + 1);
  int value = -1;
  const auto [at, failed] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (port.empty() || failed != std::errc{} || at != port.data() + port.size() || value < 0 ||
      value > 65535) {
    throw CLI::ValidationError("--listen", "'" + port + "' is not a port from 0 to 65535");
  }
  if (host == "localhost") host = "127.0.0.1";
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  unsigned char address[16];
  const bool loopback =
      (::inet_pton(AF_INET, host.c_str(), address) == 1 && address[0] == 127) ||
      (::inet_pton(AF_INET6, host.c_str(), address) == 1 && host.find("::1") != std::string::npos &&
       IN6_IS_ADDR_LOOPBACK(reinterpret_cast<const in6_addr*>(address)));
  if (!loopback) {
    throw CLI::ValidationError("--listen", "'" + host +
                                               "' is not a loopback address: put a "
                                               "reverse proxy in front for other clients");
  }
  s.host = host;
  s.port = value;
}

std::mutex logMutex;

void LogLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(logMutex);
  const char* at = line.data();
  size_t left = line.size();
  while (left > 0) {
    const ssize_t n = ::write(2, at, left);
    if (n <= 0) return;
    at += n;
    left -= static_cast<size_t>(n);
  }
}

std::string Now() {
  const std::time_t t = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// What a connection thread knows of the request it is answering, for its log line.
struct Current {
  Clock::time_point start;
  std::string outcome;
  bool close = false;  // the body was not read: end the connection after the answer
};
thread_local Current current;

// Ends the request's connection after its answer (called once it is written), however the client
// asked: the HTTP library keeps a connection after an answer whose body it has not read, and
// would wait for the rest of that body. Its socket, found by both ends' addresses, stops reading;
// the library then sees the end of the stream and closes it.
void CloseAfterAnswer(const httplib::Request& req) {
  DIR* fds = ::opendir("/proc/self/fd");
  if (fds == nullptr) return;
  while (const dirent* entry = ::readdir(fds)) {
    const int fd = std::atoi(entry->d_name);
    struct stat st {};
    if (fd <= 2 || ::fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode)) continue;
    sockaddr_storage peer{}, local{};
    socklen_t peerSize = sizeof peer, localSize = sizeof local;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) != 0) {
      continue;
    }
    char address[INET6_ADDRSTRLEN] = "";
    int peerPort = -1, localPort = -1;
    if (peer.ss_family == AF_INET) {
      const auto& p4 = reinterpret_cast<const sockaddr_in&>(peer);
      ::inet_ntop(AF_INET, &p4.sin_addr, address, sizeof address);
      peerPort = ntohs(p4.sin_port);
      localPort = ntohs(reinterpret_cast<const sockaddr_in&>(local).sin_port);
    } else if (peer.ss_family == AF_INET6) {
      const auto& p6 = reinterpret_cast<const sockaddr_in6&>(peer);
      ::inet_ntop(AF_INET6, &p6.sin6_addr, address, sizeof address);
      peerPort = ntohs(p6.sin6_port);
      localPort = ntohs(reinterpret_cast<const sockaddr_in6&>(local).sin6_port);
    }
    if (peerPort == req.remote_port && localPort == req.local_port && req.remote_addr == address) {
      // What the client still sends is read and dropped for a moment first: a client that sends
      // its whole body before reading would otherwise meet a reset instead of the answer.
      char drop[65536];
      size_t dropped = 0;
      const Clock::time_point until = Clock::now() + std::chrono::seconds(kLingerSeconds);
      pollfd wait{fd, POLLIN, 0};
      while (dropped < kLingerBytes && Clock::now() < until && ::poll(&wait, 1, 200) > 0) {
        const ssize_t n = ::recv(fd, drop, sizeof drop, MSG_DONTWAIT);
        if (n <= 0) break;
        dropped += static_cast<size_t>(n);
      }
      ::shutdown(fd, SHUT_RD);
      break;
    }
  }
  ::closedir(fds);
}

// The titles of the errors the HTTP library answers by itself.
const char* StatusTitle(int status) {
  switch (status) {
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 413:
      return "Content Too Large";
    case 414:
      return "URI Too Long";
    case 416:
      return "Range Not Satisfiable";
    case 431:
      return "Request Header Fields Too Large";
    default:
      return "Error";
  }
}

std::string EndpointLabel(const std::string& path) {
  for (const char* known : {"/v1/crop", "/v1/detect", "/v1/explain", "/healthz", "/metrics", "/"}) {
    if (path == known) return known;
  }
  return "other";
}

class Service {
 public:
  explicit Service(const Settings& s) : s_(s), pool_(s.workers, s.queue) {}

  void Routes(httplib::Server& server) {
    const auto post = [this](Endpoint endpoint) {
      return [this, endpoint](const httplib::Request& req, httplib::Response& res,
                              const httplib::ContentReader& reader) {
        Picture(endpoint, req, res, reader);
      };
    };
    server.Post("/v1/crop", post(Endpoint::kCrop));
    server.Post("/v1/detect", post(Endpoint::kDetect));
    server.Post("/v1/explain", post(Endpoint::kExplain));
    server.Get("/healthz", [](const httplib::Request&, httplib::Response& res) {
      current.outcome = "ok";
      res.set_content("ok\n", "text/plain");
    });
    server.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
      current.outcome = "ok";
      res.set_content(metrics_.Text(inFlight_.load(), pool_.queued(), pool_.busy()),
                      "text/plain; version=0.0.4");
    });
    server.Get("/", [](const httplib::Request&, httplib::Response& res) {
      current.outcome = "ok";
      res.set_content(std::string(reinterpret_cast<const char*>(kPage), kPageSize),
                      "text/html; charset=utf-8");
      res.set_header("Content-Security-Policy",
                     "default-src 'self'; img-src 'self' blob:; style-src 'unsafe-inline'; "
                     "script-src 'unsafe-inline'");
    });
    server.set_pre_routing_handler([](const httplib::Request&, httplib::Response&) {
      current = {Clock::now(), {}, false};
      return httplib::Server::HandlerResponse::Unhandled;
    });
    // A body declared too large is refused before the client sends it.
    server.set_expect_100_continue_handler(
        [this](const httplib::Request& req, httplib::Response& res) {
          uint64_t length = 0;
          if (DeclaredLength(req, length) != Declared::kTooLarge) return 100;
          current = {Clock::now(), {}, true};
          Send(TooLarge(), res);
          return 413;
        });
    server.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request&,
                                                                     httplib::Response& res) {
      if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
      const char* title = StatusTitle(res.status);
      Reply reply = serve::Problem(res.status, title, title, "http_" + std::to_string(res.status));
      if (current.outcome.empty()) current.outcome = reply.outcome;
      res.set_content(reply.body, reply.type.c_str());
      return httplib::Server::HandlerResponse::Handled;
    }));
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res,
                                    std::exception_ptr) {
      const Reply reply = serve::Problem(500, "Internal error", "the request failed", "internal");
      current.outcome = reply.outcome;
      res.status = reply.status;
      res.set_content(reply.body, reply.type.c_str());
    });
    server.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
      const double seconds =
          current.start == Clock::time_point{}
              ? 0
              : std::chrono::duration<double>(Clock::now() - current.start).count();
      const std::string outcome =
          current.outcome.empty() ? "http_" + std::to_string(res.status) : current.outcome;
      metrics_.Count(EndpointLabel(req.path), res.status, outcome, seconds);
      JsonLine line;
      line.String("time", Now()).String("remote", req.remote_addr).String("method", req.method);
      line.Name("path", req.path).Int("status", res.status);
      line.Int("bytes", static_cast<int64_t>(res.body.size()));
      line.Int("us", static_cast<int64_t>(seconds * 1e6)).String("outcome", outcome);
      LogLine(line.Finish());
      // Here the answer is written: the connection may stop reading.
      if (current.close) CloseAfterAnswer(req);
      current = {};
    });
  }

  int pending() const { return inFlight_.load(); }

 private:
  enum class Declared { kFits, kTooLarge, kMalformed };

  // The body's Content-Length against the limit; `length` 0 when there is none.
  Declared DeclaredLength(const httplib::Request& req, uint64_t& length) const {
    const std::string text = req.get_header_value("Content-Length");
    length = 0;
    if (text.empty()) return Declared::kFits;
    const char* end = text.data() + text.size();
    const auto [at, failed] = std::from_chars(text.data(), end, length);
    if (failed == std::errc::result_out_of_range) return Declared::kTooLarge;
    if (failed != std::errc{} || at != end) return Declared::kMalformed;
    return length > s_.maxBody ? Declared::kTooLarge : Declared::kFits;
  }

  Reply TooLarge() {
    metrics_.Refused("body");
    return serve::Problem(
        413, "Body too large",
        "the picture is over the limit of " + std::to_string(s_.maxBody) + " bytes",
        "body_too_large");
  }

  static void Send(const Reply& reply, httplib::Response& res) {
    current.outcome = reply.outcome;
    res.status = reply.status;
    for (const auto& [name, value] : reply.headers) res.set_header(name.c_str(), value);
    res.set_content(reply.body, reply.type.c_str());
  }

  // One picture: the body read within its limit, the options, then a worker's answer, in time.
  void Picture(Endpoint endpoint, const httplib::Request& req, httplib::Response& res,
               const httplib::ContentReader& reader) {
    struct Counted {
      std::atomic<int>& n;
      explicit Counted(std::atomic<int>& c) : n(c) { ++n; }
      ~Counted() { --n; }
    } counted(inFlight_);
    const Clock::time_point deadline = current.start + std::chrono::seconds(s_.timeout);
    uint64_t length = 0;
    const Declared declared = DeclaredLength(req, length);
    if (declared != Declared::kFits) {
      current.close = true;  // the body stays unread
      return Send(
          declared == Declared::kTooLarge
              ? TooLarge()
              : serve::Problem(400, "Bad request", "Content-Length is not a number", "bad_length"),
          res);
    }
    struct Work {
      std::string body;
      photo::PhotoOptions options;
      Reply reply;
    };
    auto work = std::make_shared<Work>();
    // The body grows once, to its declared length (within the limit), not by doubling copies.
    work->body.reserve(static_cast<size_t>(length));
    bool over = false;
    const bool read = reader([&](const char* data, size_t size) {
      if (work->body.size() + size > s_.maxBody) {
        over = true;
        return false;
      }
      work->body.append(data, size);
      return true;
    });
    if (over) {
      current.close = true;
      return Send(TooLarge(), res);
    }
    if (!read) {
      current.close = true;
      return Send(serve::Problem(400, "Body not read", "the body ended early", "body_unread"), res);
    }
    serve::Fields query(req.params.begin(), req.params.end());
    Reply refusal;
    if (!serve::OptionsOfQuery(query, endpoint, s_.maxPixels, work->options, refusal)) {
      return Send(refusal, res);
    }
    const serve::WorkPool::Result result = pool_.Run(
        [work, endpoint] {
          work->reply =
              serve::Answer(endpoint, work->options,
                            reinterpret_cast<const uint8_t*>(work->body.data()), work->body.size());
          work->body = std::string();
        },
        deadline);
    if (result == serve::WorkPool::Result::kQueueFull) {
      metrics_.Refused("queue");
      Reply busy =
          serve::Problem(503, "Busy", "every worker and queue place is taken", "queue_full");
      busy.headers.emplace_back("Retry-After", "1");
      return Send(busy, res);
    }
    if (result == serve::WorkPool::Result::kTimedOut) {
      metrics_.Refused("timeout");
      return Send(
          serve::Problem(504, "Timed out", "no answer within " + std::to_string(s_.timeout) + " s",
                         "timeout"),
          res);
    }
    if (!work->reply.limit.empty()) metrics_.Refused(work->reply.limit);
    Send(work->reply, res);
  }

  const Settings& s_;
  serve::WorkPool pool_;
  serve::Metrics metrics_;
  std::atomic<int> inFlight_{0};
};

// The command line into `s`; returns -1 to go on, else the exit status (help, a wrong line).
int ParseServeLine(int argc, char** argv, Settings& s, std::string& listen) {
  CLI::App app{
      "Serves face crops over HTTP, pictures in the request's body: POST /v1/crop, /v1/detect, "
      "/v1/explain (options as query parameters: format, quality, margin, aspect, size, orient), "
      "GET / (a page to try it), /healthz, /metrics. Logs one JSON line a request on standard "
      "error. SIGTERM or SIGINT: stops taking connections, finishes the answers under way, exits "
      "0.",
      "bmpface serve"};
  listen = s.host + ":" + std::to_string(s.port);
  app.add_option("--listen", listen,
                 "loopback ADDRESS:PORT to listen on (default 127.0.0.1:8080; port 0: any free "
                 "one, said in the first log line)")
      ->type_name("ADDR:PORT");
  photo::AddWholeNumber(app, "--workers", s.workers, 1, 1024,
                        "pictures worked on at once (default: one per core)");
  photo::AddWholeNumber(app, "--queue", s.queue, 0, 100000,
                        "pictures waiting for a worker before more are refused with 503 "
                        "(default " +
                            std::to_string(s.queue) + ")");
  photo::AddWholeNumber(app, "--max-body", s.maxBody, 1, uint64_t{1} << 40,
                        "refuse bodies of more than N bytes with 413, while reading (default " +
                            std::to_string(kDefaultMaxBody) + ")");
  photo::AddWholeNumber(app, "--max-pixels", s.maxPixels, 0, photo::kMaxPixelsOption,
                        "refuse pictures of more than N pixels, from their header; 0 for no limit "
                        "(default " +
                            std::to_string(photo::kDefaultMaxPixels) + ")");
  photo::AddWholeNumber(app, "--timeout", s.timeout, 1, 3600,
                        "answer 504 to a picture not answered within S seconds of its headers "
                        "(default " +
                            std::to_string(s.timeout) + ")")
      ->type_name("S");
  return ParseCommandLine(app, argc, argv, [&] { ParseListen(listen, s); });
}

// Connections, time-outs and routes of `server` for `service`.
void ConfigureServer(httplib::Server& server, Service& service, const Settings& s) {
  const size_t connections =
      static_cast<size_t>(s.workers) + static_cast<size_t>(s.queue) + kSpareConnections;
  server.new_task_queue = [connections] { return new httplib::ThreadPool(connections); };
  server.set_read_timeout(kIoSeconds, 0);
  server.set_write_timeout(kIoSeconds, 0);
  server.set_keep_alive_timeout(kKeepAliveSeconds);
  server.set_keep_alive_max_count(1000);
  // The library writes an answer's head and body apart: without this, a small answer waits for
  // the client's delayed acknowledgement (40 ms) before its body goes.
  server.set_tcp_nodelay(true);
  server.set_payload_max_length(s.maxBody);
  service.Routes(server);
}

// How the server thread tells the signal watcher that it has stopped.
struct Shutdown {
  std::atomic<bool> finished{false};
  std::mutex mutex;
  std::condition_variable ended;
};

// Waits for SIGTERM or SIGINT (blocked in every thread: `stop`), then stops the server and gives
// the answers under way `timeout` seconds and a grace period before the process ends anyway.
void WatchStopSignals(const sigset_t& stop, httplib::Server& server, const Service& service,
                      int timeout, Shutdown& end) {
  const timespec tick{0, 200'000'000};
  int signal = -1;
  while (!end.finished.load() && signal < 0) signal = sigtimedwait(&stop, nullptr, &tick);
  if (signal < 0) return;
  LogLine(JsonLine()
              .String("time", Now())
              .String("event", "stopping")
              .Int("in_flight", service.pending())
              .Finish());
  // Answers still under way get their grace period; past it the process ends anyway. The stop
  // is repeated: a signal that comes before the server has started listening would be lost.
  const Clock::time_point graceEnd =
      Clock::now() + std::chrono::seconds(timeout + kGraceBeyondTimeout);
  std::unique_lock<std::mutex> lock(end.mutex);
  while (!end.finished.load()) {
    if (Clock::now() >= graceEnd) {
      LogLine(JsonLine()
                  .String("time", Now())
                  .String("event", "grace_over")
                  .Int("in_flight", service.pending())
                  .Finish());
      std::_Exit(0);
    }
    lock.unlock();
    server.stop();
    lock.lock();
    end.ended.wait_for(lock, std::chrono::milliseconds(100), [&] { return end.finished.load(); });
  }
}

}  // namespace

int RunServe(int argc, char** argv) {
  Settings s;
  s.workers = sys::CoreCount();  // the cores this process may run on, not the machine's
  std::string listen;
  const int parsed = ParseServeLine(argc, argv, s, listen);
  if (parsed >= 0) return parsed;

  // Signals are taken by one thread, by sigwait; a client gone mid-answer is an error return.
  ::signal(SIGPIPE, SIG_IGN);
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  std::string error;
  if (photo::BuiltWithVips() && !photo::StartPhotoLayer(1, error)) {
    LogLine(JsonLine()
                .String("time", Now())
                .String("event", "no_libvips")
                .String("error", error)
                .Finish());
  }
  Service service(s);
  httplib::Server server;
  ConfigureServer(server, service, s);

  const int port = s.port == 0 ? server.bind_to_any_port(s.host)
                               : (server.bind_to_port(s.host, s.port) ? s.port : -1);
  if (port < 0) {
    std::fprintf(stderr, "bmpface serve: cannot listen on %s\n", listen.c_str());
    return 1;
  }
  LogLine(JsonLine()
              .String("time", Now())
              .String("event", "listening")
              .String("address", s.host)
              .Int("port", port)
              .Int("workers", s.workers)
              .Int("queue", s.queue)
              .Finish());

  Shutdown end;
  std::thread signals([&] { WatchStopSignals(stop, server, service, s.timeout, end); });
  const bool listened = server.listen_after_bind();
  {
    std::lock_guard<std::mutex> lock(end.mutex);
    end.finished = true;
  }
  end.ended.notify_all();
  signals.join();
  LogLine(JsonLine().String("time", Now()).String("event", "stopped").Finish());
  return listened ? 0 : 1;
}

}  // namespace bmpface::cli
