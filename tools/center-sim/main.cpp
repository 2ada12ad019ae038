// qx-center-sim: a simulated insurance center on 127.0.0.1.
//
//   qx-center-sim [--port N] [--servlet PATH] [--idle-seconds N] [--log FILE]
//                 [--auth-user U] [--auth-password P] [--token T]
//
// Listens on the main port (N, or one the system picks for 0) and on a second port the system
// picks, the target of the redirect scenarios. Prints "port <main>" and "second-port <second>"
// as the first two lines of standard output, then nothing more. The servlet path answers the
// business (center_business.h); paths under /scenario/ misbehave on purpose (docs/center-sim.md).
// Stops on SIGTERM or SIGINT, and by itself after --idle-seconds (default 300) without a request.
#include <httplib.h>
#include <signal.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "center_business.h"
#include "request_log.h"
#include "sim_gbk.h"

namespace qx::sim {
namespace {

struct Options {
  int port = 0;
  std::string servlet = "/qx/servlet";
  long idle_seconds = 300;
  std::string log;
  std::string auth_user = "clerk";
  std::string auth_password = "s3cret";
  BusinessSettings business;
};

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (i + 1 >= argc) {
      std::fprintf(stderr, "qx-center-sim: %s needs a value\n", arg.c_str());
      return false;
    }
    std::string value = argv[++i];
    if (arg == "--port") {
      options->port = std::atoi(value.c_str());
    } else if (arg == "--servlet") {
      options->servlet = value;
    } else if (arg == "--idle-seconds") {
      options->idle_seconds = std::atol(value.c_str());
    } else if (arg == "--log") {
      options->log = value;
    } else if (arg == "--auth-user") {
      options->auth_user = value;
    } else if (arg == "--auth-password") {
      options->auth_password = value;
    } else if (arg == "--token") {
      options->business.token = value;
    } else {
      std::fprintf(stderr, "qx-center-sim: unknown option %s\n", arg.c_str());
      return false;
    }
  }
  if (options->port < 0 || options->port > 65535 || options->idle_seconds < 1 ||
      options->servlet.empty() || options->servlet.front() != '/') {
    std::fprintf(stderr, "qx-center-sim: bad option value\n");
    return false;
  }
  return true;
}

std::string DecodeBase64(std::string_view in) {
  std::string out;
  unsigned value = 0;
  int bits = 0;
  for (char c : in) {
    int d;
    if (c >= 'A' && c <= 'Z')
      d = c - 'A';
    else if (c >= 'a' && c <= 'z')
      d = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
      d = c - '0' + 52;
    else if (c == '+')
      d = 62;
    else if (c == '/')
      d = 63;
    else
      break;  // '=' or anything else ends the data
    value = (value << 6) | static_cast<unsigned>(d);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((value >> bits) & 0xff);
    }
  }
  return out;
}

class CenterSim {
 public:
  explicit CenterSim(Options options)
      : options_(std::move(options)), business_(options_.business) {}

  bool Start() {
    if (!options_.log.empty() && !log_.Open(options_.log)) {
      return false;
    }
    Setup(main_, "main");
    Setup(second_, "second");
    if (options_.port == 0) {
      main_port_ = main_.bind_to_any_port("127.0.0.1");
    } else if (main_.bind_to_port("127.0.0.1", options_.port)) {
      main_port_ = options_.port;
    }
    second_port_ = second_.bind_to_any_port("127.0.0.1");
    if (main_port_ <= 0 || second_port_ <= 0) {
      std::fprintf(stderr, "qx-center-sim: cannot bind 127.0.0.1 port %d\n", options_.port);
      return false;
    }
    std::printf("port %d\nsecond-port %d\n", main_port_, second_port_);
    std::fflush(stdout);
    last_request_ = Now();
    main_thread_ = std::thread([this] { main_.listen_after_bind(); });
    second_thread_ = std::thread([this] { second_.listen_after_bind(); });
    return true;
  }

  // Blocks until SIGTERM/SIGINT (blocked in every thread, taken here) or the idle time is over.
  void WaitForEnd() {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    for (;;) {
      const timespec second{1, 0};
      int sig = sigtimedwait(&stop, nullptr, &second);
      if (sig == SIGTERM || sig == SIGINT) {
        break;
      }
      if (Now() - last_request_.load() > options_.idle_seconds) {
        std::fprintf(stderr, "qx-center-sim: idle for %ld s, stopping\n", options_.idle_seconds);
        break;
      }
    }
    {
      std::lock_guard<std::mutex> lock(stop_mutex_);
      stopping_ = true;
    }
    stop_cv_.notify_all();
    main_.stop();
    second_.stop();
    main_thread_.join();
    second_thread_.join();
  }

 private:
  static long Now() {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count());
  }

  // Sleeps up to seconds; false when the sim is stopping.
  bool Stall(long seconds) {
    std::unique_lock<std::mutex> lock(stop_mutex_);
    return !stop_cv_.wait_for(lock, std::chrono::seconds(seconds), [this] { return stopping_; });
  }

  void Setup(httplib::Server& server, const char* listener) {
    server.set_keep_alive_max_count(100);
    // Headers and body go out in separate writes: without this, Nagle holds the body back until
    // the client's delayed acknowledgement, some 40 ms per request.
    server.set_tcp_nodelay(true);
    server.set_payload_max_length(64u * 1024 * 1024);
    auto handler = [this, listener](const httplib::Request& req, httplib::Response& res) {
      Handle(listener, req, res);
    };
    const std::string any = R"(/.*)";
    server.Post(any, handler);
    server.Get(any, handler);
    server.Put(any, handler);
    server.Delete(any, handler);
  }

  void Handle(const char* listener, const httplib::Request& req, httplib::Response& res) {
    last_request_ = Now();
    std::string headers;
    for (const auto& [name, value] : req.headers) {
      // cpp-httplib adds these itself; they did not come from the client.
      if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
          name == "LOCAL_PORT") {
        continue;
      }
      headers += name + ": " + value + "\r\n";
    }
    log_.Append(listener, req.method, req.path, headers, req.body);

    const std::string& path = req.path;
    if (req.method != "POST") {
      Page(res, 405, "405 不支持的请求方法");
      return;
    }
    if (path == options_.servlet) {
      Business(req, res);
      return;
    }
    const std::string scenario = "/scenario/";
    if (path.compare(0, scenario.size(), scenario) != 0) {
      Page(res, 404, "404 找不到请求的地址");
      return;
    }
    Scenario(path.substr(scenario.size()), req, res);
  }

  void Business(const httplib::Request& req, httplib::Response& res) {
    res.status = 200;
    res.set_content(business_.Answer(req.body), "text/xml; charset=GBK");
  }

  static void Page(httplib::Response& res, int status, std::string_view title) {
    res.status = status;
    res.set_content(Gbk("<html><head><title>" + std::string(title) + "</title></head><body><h1>" +
                        std::string(title) + "</h1></body></html>"),
                    "text/html; charset=GBK");
  }

  std::string SecondUrl(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(second_port_) + std::string(path);
  }

  bool Authorized(const httplib::Request& req) const {
    std::string value = req.get_header_value("Authorization");
    if (value.compare(0, 6, "Basic ") != 0) {
      return false;
    }
    return DecodeBase64(value.substr(6)) == options_.auth_user + ":" + options_.auth_password;
  }

  void Challenge(const httplib::Request& req, httplib::Response& res) {
    Page(res, 401,
         req.has_header("Authorization") ? "401 口令错误 (credentials refused)"
                                         : "401 需要口令 (no credentials)");
    res.set_header("WWW-Authenticate", "Basic realm=\"qx-center\"");
  }

  void Redirect(httplib::Response& res, int status, const std::string& location,
                std::string_view title) {
    Page(res, status, title);
    if (!location.empty()) {
      res.set_header("Location", location);
    }
  }

  void Scenario(const std::string& name, const httplib::Request& req, httplib::Response& res) {
    if (name == "empty") {
      res.status = 200;
      res.set_content("", "text/xml; charset=GBK");
    } else if (name == "500") {
      Page(res, 500, "500 服务器内部错误");
    } else if (name == "401") {
      if (Authorized(req)) {
        Business(req, res);
      } else {
        Challenge(req, res);
      }
    } else if (name == "401-forever") {
      Challenge(req, res);
    } else if (name == "301-other" || name == "302-other" || name == "303-other") {
      Redirect(res, std::atoi(name.c_str()), SecondUrl(options_.servlet), "moved");
    } else if (name == "302-none") {
      Redirect(res, 302, "", "moved nowhere");
    } else if (name == "302-https") {
      Redirect(res, 302, "https://127.0.0.1:" + std::to_string(second_port_) + options_.servlet,
               "moved to https");
    } else if (name == "302-garbage") {
      Redirect(res, 302, "not a url at all", "moved badly");
    } else if (name == "302-twice") {
      Redirect(res, 302, SecondUrl("/scenario/302-other"), "moved twice");
    } else if (name == "302-500") {
      Redirect(res, 302, SecondUrl("/scenario/500"), "moved to a failing page");
    } else if (name == "307" || name == "308") {
      Redirect(res, std::atoi(name.c_str()), SecondUrl(options_.servlet),
               name + " 临时重定向 (not followed)");
    } else if (name.compare(0, 6, "stall/") == 0) {
      // Headers and the first bytes of a 1000-byte body, then silence, then the connection
      // closes: the client must give up on its own stall time-out first.
      long seconds = std::atol(name.c_str() + 6);
      res.status = 200;
      res.set_content_provider(1000, "text/xml; charset=GBK",
                               [this, seconds](size_t offset, size_t, httplib::DataSink& sink) {
                                 if (offset == 0) {
                                   sink.write("<Program>", 9);
                                   return true;
                                 }
                                 Stall(seconds);
                                 return false;
                               });
    } else if (name.compare(0, 14, "stall-headers/") == 0) {
      // Nothing at all for that long, then a short answer.
      if (Stall(std::atol(name.c_str() + 14))) {
        Page(res, 200, "late");
      }
    } else if (name == "reset") {
      // Announces 1 000 000 bytes, sends 400 000, then closes the connection.
      res.status = 200;
      res.set_content_provider(1000000, "text/xml; charset=GBK",
                               [](size_t offset, size_t, httplib::DataSink& sink) {
                                 if (offset >= 400000) {
                                   return false;
                                 }
                                 std::string chunk(100000, 'x');
                                 sink.write(chunk.data(), chunk.size());
                                 return true;
                               });
    } else {
      Page(res, 404, "404 没有这个场景");
    }
  }

  Options options_;
  CenterBusiness business_;
  RequestLog log_;
  httplib::Server main_;
  httplib::Server second_;
  int main_port_ = -1;
  int second_port_ = -1;
  std::thread main_thread_;
  std::thread second_thread_;
  std::atomic<long> last_request_{0};
  std::mutex stop_mutex_;
  std::condition_variable stop_cv_;
  bool stopping_ = false;
};

}  // namespace
}  // namespace qx::sim

int main(int argc, char** argv) {
  qx::sim::Options options;
  if (!qx::sim::ParseOptions(argc, argv, &options)) {
    return 2;
  }
  // Block the stop signals before any thread exists, so only WaitForEnd takes them; a client
  // that goes away mid-reply must not kill the center.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  signal(SIGPIPE, SIG_IGN);

  qx::sim::CenterSim sim(std::move(options));
  if (!sim.Start()) {
    return 1;
  }
  sim.WaitForEnd();
  return 0;
}
