// One business call end to end, against the floor of what moving, converting and parsing the
// same reply costs.
//
//   qx_call_bench [--out FILE] [--quick] [--fitted-buffer] [--library PATH]
//                 [--only pair21|pair8|floor21|floor8|lib21|lib8|mem-lib21|...]
//
// The host offers business_handle a buffer of 64 MB of spaces (one buffer for every size, as a
// host expecting catalogues would); --fitted-buffer offers exactly the reply's length instead.
//
// The replies are the simulated center's own (function 21, a catalogue of N rows of about 500
// bytes with Chinese names), fetched once from qx-center-sim and then served, byte for byte, by a
// small keep-alive HTTP server of this program on 127.0.0.1, so that no time goes into building
// them again per request. For the function "8" cases the catalogue carries the center's
// "user_info" block at its end.
//
// Measured side by side, in turns within one process per function (this program started again
// with --child), one function after the other, so that nothing else competes for the two cores
// and both sides meet the same moments of the machine (a floor measured in a process of its own
// moved by a third between runs on this shared machine):
//  - floor: the same POST and reply through libcurl with one reused handle, the reply converted
//    GBK -> UTF-8 by iconv and parsed once by pugixml, then a walk over every row and item. Like
//    the library it refuses libcurl's own resend of a request (a pre-request callback that lets
//    one attempt through); QX_BENCH_FLOOR_RESEND=allow leaves it out, the cost of that choice
//    being the difference;
//  - business_handle of the built shared library, loaded with dlopen from a scratch directory
//    holding qx_interface.ini, after login ("0") and user information ("8"), for function 21
//    (full request assembly) and for "8" (the user information captured from the reply).
// Peak resident memory above the baseline of one 50 MB call is measured in fresh processes
// (/proc/self/clear_refs resets the peak, /proc/self/status gives VmRSS and VmHWM).
//
// Every process started here is stopped by its PID and reaped, also on failure.
#include <curl/curl.h>
#include <dlfcn.h>
#include <iconv.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <pugixml.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kServlet = "/qx/servlet";

// ---- small helpers -------------------------------------------------------------------------

void StopLiveChildren();

// Reports and ends the process, after stopping the children it started (std::exit runs no
// destructor of a local Child).
[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "qx_call_bench: %s\n", what.c_str());
  StopLiveChildren();
  std::exit(2);
}

std::string Between(std::string_view text, std::string_view open, std::string_view close,
                    bool with_tags = false) {
  std::size_t a = text.find(open);
  if (a == std::string_view::npos) return {};
  std::size_t b = text.find(close, a + open.size());
  if (b == std::string_view::npos) return {};
  if (with_tags) return std::string(text.substr(a, b + close.size() - a));
  return std::string(text.substr(a + open.size(), b - a - open.size()));
}

// A child process, stopped by its PID (SIGTERM, then SIGKILL) and reaped when it goes.
// The children this process started and has not stopped yet (a forked child inherits the list,
// and leaves its parent's children alone).
struct LiveChildren {
  pid_t owner = 0;
  std::vector<pid_t> pids;
};
LiveChildren& Live() {
  static LiveChildren live;
  return live;
}

// Stops one child: SIGTERM, up to 5 s to end, then SIGKILL; reaped either way.
void StopChild(pid_t pid) {
  kill(pid, SIGTERM);
  for (int i = 0; i < 50; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    usleep(100 * 1000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

void StopLiveChildren() {
  LiveChildren& live = Live();
  if (live.owner != getpid()) return;
  while (!live.pids.empty()) {
    const pid_t pid = live.pids.back();
    live.pids.pop_back();
    StopChild(pid);
  }
}

class Child {
 public:
  Child() = default;
  explicit Child(pid_t pid) : pid_(pid) {
    LiveChildren& live = Live();
    if (live.owner != getpid()) live = LiveChildren{getpid(), {}};
    live.pids.push_back(pid);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() { Stop(); }
  void Stop() {
    if (pid_ <= 0) return;
    Forget();
    StopChild(pid_);
    pid_ = -1;
  }
  // Waits for a child that ends by itself; its exit status.
  int Wait() {
    int status = 0;
    if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_) {
      Forget();
      pid_ = -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  pid_t pid() const { return pid_; }

 private:
  void Forget() {
    std::vector<pid_t>& pids = Live().pids;
    pids.erase(std::remove(pids.begin(), pids.end(), pid_), pids.end());
  }

  pid_t pid_ = -1;
};

// ---- libcurl with one reused handle ---------------------------------------------------------

size_t AppendBody(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

int OneAttempt(void* attempts, char*, char*, int, int) {
  return ++*static_cast<int*>(attempts) > 1 ? CURL_PREREQFUNC_ABORT : CURL_PREREQFUNC_OK;
}

bool FloorRefusesResend() {
  const char* how = std::getenv("QX_BENCH_FLOOR_RESEND");
  return how == nullptr || std::string(how) != "allow";
}

class Poster {
 public:
  explicit Poster(int port) : url_("http://127.0.0.1:" + std::to_string(port) + kServlet) {
    easy_ = curl_easy_init();
    if (easy_ == nullptr) Die("curl_easy_init failed");
    headers_ = curl_slist_append(headers_, "Accept: text/*");
    headers_ = curl_slist_append(headers_, "User-Agent: Quillon_Net");
    headers_ = curl_slist_append(headers_, "Expect:");
    curl_easy_setopt(easy_, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_PROXY, "");
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, AppendBody);
  }
  Poster(const Poster&) = delete;
  Poster& operator=(const Poster&) = delete;
  ~Poster() {
    curl_easy_cleanup(easy_);
    curl_slist_free_all(headers_);
  }
  void Post(const std::string& body, std::string* reply) {
    reply->clear();
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, body.data());
    if (refuse_resend_) {
      attempts_ = 0;
      curl_easy_setopt(easy_, CURLOPT_PREREQFUNCTION, OneAttempt);
      curl_easy_setopt(easy_, CURLOPT_PREREQDATA, &attempts_);
    }
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, reply);
    CURLcode code = curl_easy_perform(easy_);
    if (code != CURLE_OK) Die(std::string("POST failed: ") + curl_easy_strerror(code));
  }

 private:
  std::string url_;
  CURL* easy_ = nullptr;
  curl_slist* headers_ = nullptr;
  bool refuse_resend_ = FloorRefusesResend();
  int attempts_ = 0;
};

// ---- the replies ----------------------------------------------------------------------------

// The sizes measured: catalogue rows (about 1 KB, 100 KB, 1 MB, 10 MB, 50 MB) and repetitions.
struct Size {
  const char* label;
  int rows;
  int reps;
};
const Size kSizes[] = {{"1 KB", 2, 400},
                       {"100 KB", 200, 100},
                       {"1 MB", 2000, 30},
                       {"10 MB", 20000, 25},
                       {"50 MB", 100000, 15}};
constexpr int kMemoryRows = 100000;

std::string LoginRequest() {
  return "<Program><FunctionID>0</FunctionID><parameters><user>admin</user>"
         "<password>123456</password></parameters></Program>";
}

// The request for a function ("8" or "21") whose reply is the catalogue of `rows` rows; the
// library adds the user and login blocks itself, the floor sends them as the library would.
std::string CallRequest(const std::string& function, int rows) {
  return "<Program><FunctionID>" + function + "</FunctionID><parameters><count>" +
         std::to_string(rows) + "</count></parameters></Program>";
}

std::string AssembledRequest(const std::string& function, int rows, const std::string& user_info,
                             const std::string& token) {
  std::string request = CallRequest(function, rows);
  std::string blocks = (function == "8" ? std::string() : user_info) +
                       "<addition-xml><row1><add1>" + token + "</add1></row1></addition-xml>";
  request.insert(request.size() - std::strlen("</Program>"), blocks);
  return request;
}

struct Replies {
  std::string login;
  std::string user;  // the center's small "8" reply
  std::string user_info_block;
  std::string token;
  std::map<int, std::string> catalogue;  // rows -> function 21 reply
  std::map<int, std::string> user_info;  // rows -> "8" reply: catalogue + user_info
};

Replies FetchFromSim(int sim_port) {
  Replies r;
  Poster poster(sim_port);
  poster.Post(LoginRequest(), &r.login);
  r.token = Between(r.login, "<add1>", "</add1>");
  if (r.token.empty()) Die("the sim gave no login token");
  std::string login_block =
      "<addition-xml><row1><add1>" + r.token + "</add1></row1></addition-xml>";
  poster.Post("<Program><FunctionID>8</FunctionID>" + login_block + "</Program>", &r.user);
  r.user_info_block = Between(r.user, "<user_info>", "</user_info>", true);
  if (r.user_info_block.empty()) Die("the sim gave no user_info");
  for (const Size& s : kSizes) {
    std::string reply;
    poster.Post(AssembledRequest("21", s.rows, r.user_info_block, r.token), &reply);
    if (reply.find("<catalog>") == std::string::npos) Die("the sim gave no catalogue");
    std::string with_user = reply;
    with_user.insert(with_user.rfind("</Program>"), r.user_info_block);
    r.catalogue[s.rows] = std::move(reply);
    r.user_info[s.rows] = std::move(with_user);
  }
  return r;
}

// ---- the canned keep-alive server ------------------------------------------------------------

bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

const std::string& Answer(const Replies& r, const std::string& request) {
  static const std::string kUnknown = "<Program><ErrorNo>-19</ErrorNo></Program>";
  const std::string function = Between(request, "<FunctionID>", "</FunctionID>");
  const std::string count = Between(request, "<count>", "</count>");
  const int rows = count.empty() ? 0 : std::atoi(count.c_str());
  if (function == "0") return r.login;
  const auto& table = function == "8" ? r.user_info : r.catalogue;
  if (function == "8" && rows == 0) return r.user;
  auto it = table.find(rows);
  return it == table.end() ? kUnknown : it->second;
}

// Answers every complete request in `in` (and takes it out); false when the client is gone.
bool AnswerRequests(int fd, std::string* in, const Replies& r) {
  for (;;) {
    std::size_t end = in->find("\r\n\r\n");
    if (end == std::string::npos) return true;
    std::string head = in->substr(0, end);
    std::string lower = head;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::size_t at = lower.find("content-length:");
    std::size_t length =
        at == std::string::npos ? 0 : std::strtoul(head.c_str() + at + 15, nullptr, 10);
    if (in->size() < end + 4 + length) return true;
    std::string body = in->substr(end + 4, length);
    in->erase(0, end + 4 + length);
    const std::string& answer = Answer(r, body);
    std::string header =
        "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=GBK\r\n"
        "Content-Length: " +
        std::to_string(answer.size()) + "\r\n\r\n";
    if (!SendAll(fd, header.data(), header.size()) || !SendAll(fd, answer.data(), answer.size())) {
      return false;
    }
  }
}

// Serves any number of keep-alive connections (the floor and the library each hold one), one
// request at a time; ends after 10 minutes without a request.
[[noreturn]] void Serve(int listener, const Replies& r) {
  struct Client {
    int fd;
    std::string in;
  };
  std::vector<Client> clients;
  std::vector<pollfd> fds;
  char buffer[65536];
  for (;;) {
    fds.assign(1, pollfd{listener, POLLIN, 0});
    for (const Client& c : clients) fds.push_back(pollfd{c.fd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), 600 * 1000) <= 0) _exit(0);
    for (std::size_t i = clients.size(); i-- > 0;) {
      if (fds[i + 1].revents == 0) continue;
      Client& c = clients[i];
      ssize_t n = recv(c.fd, buffer, sizeof buffer, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0 ||
          (c.in.append(buffer, static_cast<std::size_t>(n)), !AnswerRequests(c.fd, &c.in, r))) {
        close(c.fd);
        clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
    if ((fds[0].revents & POLLIN) != 0) {
      int fd = accept(listener, nullptr, nullptr);
      if (fd < 0) continue;
      // Header and body go out in two sends: without this the body of a small reply would wait
      // for the client's delayed acknowledgement.
      int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      clients.push_back(Client{fd, std::string()});
    }
  }
}

// ---- measurement in the child ---------------------------------------------------------------

struct Stats {
  double min_ms = 0, median_ms = 0, max_ms = 0;
};

Stats Summarise(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  Stats s;
  s.min_ms = ms.front();
  s.max_ms = ms.back();
  std::size_t n = ms.size();
  s.median_ms = n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2;
  return s;
}

long StatusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) == 0) return std::strtol(line.c_str() + std::strlen(key), nullptr, 10);
  }
  return -1;
}

// Resets the peak resident size to the current one; the baseline in KB.
long ResetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.close();
  return StatusKb("VmRSS:");
}

// The floor: POST, GBK -> UTF-8 through iconv, one pugixml parse, a walk over rows and items.
class Floor {
 public:
  explicit Floor(int port) : poster_(port) {
    cd_ = iconv_open("UTF-8", "GBK");
    if (cd_ == reinterpret_cast<iconv_t>(-1)) Die("iconv_open failed");
  }
  Floor(const Floor&) = delete;
  Floor& operator=(const Floor&) = delete;
  ~Floor() { iconv_close(cd_); }

  // Returns the number of items walked.
  std::size_t Call(const std::string& request, std::size_t expect_size) {
    std::string reply;
    poster_.Post(request, &reply);
    if (reply.size() != expect_size) Die("the floor got a reply of another size");
    std::string utf8(reply.size() * 3 / 2 + 16, '\0');
    char* in = reply.data();
    std::size_t in_left = reply.size();
    char* out = utf8.data();
    std::size_t out_left = utf8.size();
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd_, &in, &in_left, &out, &out_left) == static_cast<std::size_t>(-1)) {
      Die("iconv refused the reply");
    }
    utf8.resize(utf8.size() - out_left);
    pugi::xml_document doc;
    if (!doc.load_buffer_inplace(utf8.data(), utf8.size(), pugi::parse_default,
                                 pugi::encoding_utf8)) {
      Die("pugixml refused the reply");
    }
    std::size_t items = 0, bytes = 0;
    for (pugi::xml_node set : doc.document_element().children()) {
      for (pugi::xml_node row : set.children()) {
        for (pugi::xml_node item : row.children()) {
          if (item.type() != pugi::node_element) continue;
          ++items;
          bytes += std::strlen(item.name()) + std::strlen(item.child_value());
        }
      }
    }
    if (bytes == 0 && expect_size > 2000) Die("the floor walked nothing");
    return items;
  }

 private:
  Poster poster_;
  iconv_t cd_;
};

using InitFn = int (*)(char*);
using BusinessFn = int (*)(const char*, char*);

// The library as a host loads it, logged in, with a reply buffer large enough for 50 MB.
class Host {
 public:
  // fitted: each call offers a buffer of exactly the reply's length (spaces up to a zero there)
  // instead of all 64 MB.
  Host(const std::string& library, int port, bool fitted) : fitted_(fitted) {
    char dir_template[] = "/tmp/qx_call_bench.XXXXXX";
    const char* dir = mkdtemp(dir_template);
    if (dir == nullptr) Die("mkdtemp failed");
    dir_ = dir;
    std::ofstream ini(dir_ + "/qx_interface.ini");
    ini << "[center]\r\nserver=127.0.0.1\r\nport=" << port << "\r\nservlet=" << kServlet
        << "\r\ncom=1\r\n\r\n";
    // QX_BENCH_LOG=calls or wire: the library's diagnostic log on, in the scratch folder.
    if (const char* level = std::getenv("QX_BENCH_LOG"); level != nullptr && *level != '\0') {
      ini << "[log]\r\nfolder=log\r\nlevel=" << level << "\r\n";
    }
    ini.close();
    if (chdir(dir_.c_str()) != 0) Die("chdir failed");
    handle_ = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) Die(std::string("dlopen: ") + dlerror());
    auto init = reinterpret_cast<InitFn>(dlsym(handle_, "init_handle"));
    business_ = reinterpret_cast<BusinessFn>(dlsym(handle_, "business_handle"));
    if (init == nullptr || business_ == nullptr) Die("the library lacks its entry points");
    std::string message(256, ' ');
    if (init(message.data()) != 1) Die("init_handle failed");
    buffer_.assign(64u << 20, ' ');
    buffer_.back() = '\0';
    if (Call(LoginRequest(), 0) != 0) Die("login failed");
    if (Call(CallRequest("8", 0), 0) != 0) Die("user information failed");
  }
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;
  ~Host() {
    // The library stays loaded: the process ends next. The scratch directory goes.
    std::remove((dir_ + "/qx_interface.ini").c_str());
    std::filesystem::remove_all(dir_ + "/log");
    rmdir(dir_.c_str());
  }

  // business_handle; checks that the whole reply (expect_size bytes, 0: any) reached the buffer
  // and makes the buffer whole again (the timed part is business_handle alone).
  int Call(const std::string& request, std::size_t expect_size, double* ms = nullptr) {
    const bool fit = fitted_ && expect_size != 0;
    if (fit) buffer_[expect_size] = '\0';
    Clock::time_point start = Clock::now();
    int rc = business_(request.c_str(), buffer_.data());
    Clock::time_point end = Clock::now();
    if (ms != nullptr) *ms = std::chrono::duration<double, std::milli>(end - start).count();
    std::size_t n = std::strlen(buffer_.c_str());
    if (expect_size != 0 && n != expect_size) {
      Die("business_handle delivered " + std::to_string(n) + " bytes, not " +
          std::to_string(expect_size) + " (rc " + std::to_string(rc) + ")");
    }
    std::memset(buffer_.data(), ' ', n + 1 < buffer_.size() ? n + 1 : n);
    if (fit) buffer_[expect_size] = ' ';
    return rc;
  }

 private:
  std::string dir_;
  void* handle_ = nullptr;
  BusinessFn business_ = nullptr;
  std::string buffer_;
  bool fitted_ = false;
};

// The machine's own growth from 10 to 50 MB for the least any call must do with a reply: one
// memcpy of it into a buffer already in use (both buffers touched before, so no fresh pages).
int MeasureCopies() {
  for (const std::size_t bytes : {std::size_t{9237122}, std::size_t{46318319}}) {
    std::string from(bytes, 'x');
    std::string to(bytes, ' ');
    std::vector<double> times;
    for (int i = 0; i < 21; ++i) {
      from[static_cast<std::size_t>(i)] = static_cast<char>('a' + i);
      Clock::time_point start = Clock::now();
      std::memcpy(to.data(), from.data(), bytes);
      times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
      if (to[static_cast<std::size_t>(i)] != from[static_cast<std::size_t>(i)]) Die("copy failed");
    }
    Stats st = Summarise(times);
    std::printf("copy %zu %.4f\n", bytes, st.median_ms);
  }
  return 0;
}

// --child KIND PORT LIBRARY: KIND is copy (MeasureCopies), pair21 or pair8 (the floor and
// business_handle in turns, for every size), floor21, floor8, lib21 or lib8 (one of them alone, for
// a profiler), or mem-floor21, mem-lib21, mem-lib8 (peak memory of one 50 MB call). Prints result
// lines.
int RunChild(const std::string& kind, int port, const std::string& library, bool quick,
             bool fitted) {
  curl_global_init(CURL_GLOBAL_ALL);
  if (kind == "copy") return MeasureCopies();
  const bool memory = kind.rfind("mem-", 0) == 0;
  const bool pair = kind.rfind("pair", 0) == 0;
  const std::string what = memory ? kind.substr(4) : kind;
  const bool with_floor = pair || what.rfind("floor", 0) == 0;
  const bool with_library = pair || what.rfind("lib", 0) == 0;
  const std::string function = what.back() == '8' ? "8" : "21";

  // Sizes of the replies, from the server itself.
  std::map<int, std::size_t> sizes;
  {
    Poster probe(port);
    for (const Size& s : kSizes) {
      std::string reply;
      // The server answers by FunctionID and count alone.
      probe.Post(CallRequest(function, s.rows), &reply);
      sizes[s.rows] = reply.size();
    }
  }
  const std::string token = "QXTOKEN-20240001";
  const std::string user_block =
      "<user_info><row1><center_id>430100</center_id><staff_id>0701"
      "</staff_id><staff_name>x</staff_name></row1></user_info>";

  std::unique_ptr<Floor> floor_runner;
  std::unique_ptr<Host> host;
  if (with_floor) floor_runner = std::make_unique<Floor>(port);
  if (with_library) host = std::make_unique<Host>(library, port, fitted);
  auto run_floor = [&](int rows, double* ms) {
    std::string request = AssembledRequest(function, rows, user_block, token);
    Clock::time_point start = Clock::now();
    floor_runner->Call(request, sizes[rows]);
    *ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  };
  auto run_library = [&](int rows, double* ms) {
    int rc = host->Call(CallRequest(function, rows), sizes[rows], ms);
    if (rc != 0) Die("business_handle returned " + std::to_string(rc));
  };

  double ms = 0;
  if (memory) {
    auto run = with_floor ? std::function<void(int, double*)>(run_floor)
                          : std::function<void(int, double*)>(run_library);
    run(kSizes[0].rows, &ms);  // connection up, tables built
    const long baseline = ResetPeak();
    run(kMemoryRows, &ms);
    const long peak = StatusKb("VmHWM:");
    std::printf("mem %ld %ld %zu\n", baseline, peak, sizes[kMemoryRows]);
    return 0;
  }
  // QX_BENCH_ROWS=N measures only the size of N rows (for a profiler run with --only).
  const char* only_rows = std::getenv("QX_BENCH_ROWS");
  for (const Size& s : kSizes) {
    if (only_rows != nullptr && std::atoi(only_rows) != s.rows) continue;
    const int reps = quick ? std::max(3, s.reps / 10) : s.reps;
    std::vector<double> floor_times;
    std::vector<double> library_times;
    // One warm-up each, then in turns, each going first every other time, so that both meet
    // the same moment of the machine and neither always follows the other.
    for (int i = -1; i < reps; ++i) {
      for (int turn = 0; turn < 2; ++turn) {
        const bool floor_now = (turn == 0) == (i % 2 == 0);
        if (floor_now && with_floor) {
          run_floor(s.rows, &ms);
          if (i >= 0) floor_times.push_back(ms);
        } else if (!floor_now && with_library) {
          run_library(s.rows, &ms);
          if (i >= 0) library_times.push_back(ms);
        }
      }
    }
    for (const auto& [tag, times] :
         {std::pair{"floor", &floor_times}, std::pair{"lib", &library_times}}) {
      if (times->empty()) continue;
      Stats st = Summarise(*times);
      std::printf("time-%s %d %zu %d %.4f %.4f %.4f\n", tag, s.rows, sizes[s.rows], reps, st.min_ms,
                  st.median_ms, st.max_ms);
    }
  }
  return 0;
}

// ---- the orchestrating process --------------------------------------------------------------

// This program's file. The link is read rather than executed, so that a profiler that follows
// children (valgrind --trace-children=yes) starts the child as this program, not as itself.
const std::string& SelfPath() {
  static const std::string path = [] {
    char target[4096];
    const ssize_t n = readlink("/proc/self/exe", target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string("/proc/self/exe");
  }();
  return path;
}

// Runs this program again with args; its standard output.
std::string RunSelf(const std::vector<std::string>& args) {
  int out[2];
  if (pipe(out) != 0) Die("pipe failed");
  pid_t pid = fork();
  if (pid < 0) Die("fork failed");
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(SelfPath().c_str(), argv.data());
    _exit(127);
  }
  Child child(pid);
  close(out[1]);
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(out[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  if (child.Wait() != 0) Die("the measuring process " + args[2] + " failed");
  return text;
}

struct Row {
  int rows = 0;
  std::size_t bytes = 0;
  Stats stats;
};

// The lines "time-<which> ..." of a child's output.
std::map<int, Row> ParseTimes(const std::string& text, const std::string& which) {
  std::map<int, Row> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string tag;
    fields >> tag;
    if (tag != "time-" + which) continue;
    Row r;
    int reps = 0;
    fields >> r.rows >> r.bytes >> reps >> r.stats.min_ms >> r.stats.median_ms >> r.stats.max_ms;
    rows[r.rows] = r;
  }
  return rows;
}

double ParseMemoryMb(const std::string& text, std::size_t* bytes) {
  std::istringstream in(text);
  std::string tag;
  long baseline = 0, peak = 0;
  in >> tag >> baseline >> peak >> *bytes;
  return static_cast<double>(peak - baseline) / 1024.0;
}

std::string Format(const char* fmt, double a, double b = 0, double c = 0) {
  char line[128];
  std::snprintf(line, sizeof line, fmt, a, b, c);
  return line;
}

int Orchestrate(const std::string& out_path, bool quick, bool fitted, const std::string& only,
                const std::string& library) {
  curl_global_init(CURL_GLOBAL_ALL);
  // 1. The simulated center builds the replies once.
  int sim_out[2];
  if (pipe(sim_out) != 0) Die("pipe failed");
  pid_t sim_pid = fork();
  if (sim_pid < 0) Die("fork failed");
  if (sim_pid == 0) {
    dup2(sim_out[1], STDOUT_FILENO);
    close(sim_out[0]);
    close(sim_out[1]);
    execl(QX_BENCH_SIM_FILE, QX_BENCH_SIM_FILE, "--port", "0", "--idle-seconds", "120",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  Child sim(sim_pid);
  close(sim_out[1]);
  FILE* sim_stdout = fdopen(sim_out[0], "r");
  int sim_port = 0;
  if (sim_stdout == nullptr || std::fscanf(sim_stdout, "port %d", &sim_port) != 1) {
    Die("qx-center-sim did not name its port");
  }
  std::fclose(sim_stdout);
  Replies replies = FetchFromSim(sim_port);
  sim.Stop();

  // 2. Our own server hands them out.
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 8) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    Die("cannot listen on 127.0.0.1");
  }
  const int port = ntohs(address.sin_port);
  pid_t server_pid = fork();
  if (server_pid < 0) Die("fork failed");
  if (server_pid == 0) Serve(listener, replies);
  Child server(server_pid);
  close(listener);
  replies = Replies();

  // 3. Measure, one process per kind.
  const std::string self = "qx_call_bench";
  const std::string port_text = std::to_string(port);
  auto child = [&](const std::string& kind) {
    std::vector<std::string> args = {self, "--child", kind, port_text, library};
    if (quick) args.push_back("--quick");
    if (fitted) args.push_back("--fitted-buffer");
    std::fprintf(stderr, "measuring %s ...\n", kind.c_str());
    return RunSelf(args);
  };
  if (!only.empty()) {
    // One kind alone, its raw lines (for a profiler run).
    std::cout << child(only);
    return 0;
  }
  const std::string pair21 = child("pair21");
  const std::string pair8 = child("pair8");
  std::map<int, Row> floor21 = ParseTimes(pair21, "floor");
  std::map<int, Row> lib21 = ParseTimes(pair21, "lib");
  std::map<int, Row> floor8 = ParseTimes(pair8, "floor");
  std::map<int, Row> lib8 = ParseTimes(pair8, "lib");
  std::size_t mem_bytes = 0;
  double mem_floor = ParseMemoryMb(child("mem-floor21"), &mem_bytes);
  double mem_lib21 = ParseMemoryMb(child("mem-lib21"), &mem_bytes);
  double mem_lib8 = ParseMemoryMb(child("mem-lib8"), &mem_bytes);
  server.Stop();

  // 4. The table.
  std::ostringstream t;
  char host_name[256] = {};
  gethostname(host_name, sizeof host_name - 1);
  std::time_t now = std::time(nullptr);
  char date[64];
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M", std::localtime(&now));
  t << "qx_call_bench " << date << ", library " << library << "\n";
  t << "measured on " << host_name << ", " << sysconf(_SC_NPROCESSORS_ONLN) << " cores"
    << (quick ? " (quick)" : "")
    << (fitted ? ", host buffer fitted to each reply" : ", host buffer 64 MB of spaces") << "\n";
  t << "times in ms, median (min-max); ratio = business_handle median / floor median\n\n";
  t << "| reply | bytes | floor 21 | business_handle 21 | ratio | floor 8 | business_handle 8 "
       "| ratio | target |\n";
  t << "|---|---|---|---|---|---|---|---|---|\n";
  auto cell = [](const Stats& s) {
    return Format("%.3f (%.3f-%.3f)", s.median_ms, s.min_ms, s.max_ms);
  };
  bool all_met = true;
  for (const Size& s : kSizes) {
    const Row& f21 = floor21[s.rows];
    const Row& l21 = lib21[s.rows];
    const Row& f8 = floor8[s.rows];
    const Row& l8 = lib8[s.rows];
    const double target = s.rows >= 2000 ? 1.25 : 1.5;
    const double r21 = l21.stats.median_ms / f21.stats.median_ms;
    const double r8 = l8.stats.median_ms / f8.stats.median_ms;
    all_met = all_met && r21 <= target && r8 <= target;
    t << "| " << s.label << " | " << l21.bytes << " | " << cell(f21.stats) << " | "
      << cell(l21.stats) << " | " << Format("%.2f", r21) << " | " << cell(f8.stats) << " | "
      << cell(l8.stats) << " | " << Format("%.2f", r8) << " | " << Format("<= %.2f", target)
      << " |\n";
  }
  auto scale = [](std::map<int, Row>& m) {
    return m[100000].stats.median_ms / m[20000].stats.median_ms;
  };
  t << "\n50 MB / 10 MB time (target <= 5.5 for business_handle): floor 21 "
    << Format("%.2f", scale(floor21)) << ", business_handle 21 " << Format("%.2f", scale(lib21))
    << ", floor 8 " << Format("%.2f", scale(floor8)) << ", business_handle 8 "
    << Format("%.2f", scale(lib8)) << "\n";
  all_met = all_met && scale(lib21) <= 5.5 && scale(lib8) <= 5.5;
  {
    std::istringstream in(child("copy"));
    std::string tag;
    std::size_t bytes = 0;
    double copy10 = 0, copy50 = 0;
    in >> tag >> bytes >> copy10 >> tag >> bytes >> copy50;
    t << "the machine itself, one memcpy of the reply into a buffer in use: 10 MB "
      << Format("%.2f ms, 50 MB %.2f ms, 50 MB / 10 MB %.2f", copy10, copy50, copy50 / copy10)
      << "\n";
  }
  const double reply_mb = static_cast<double>(mem_bytes) / (1024.0 * 1024.0);
  t << "peak resident memory above baseline, one " << Format("%.1f", reply_mb)
    << " MB reply (target: business_handle <= floor): floor "
    << Format("%.0f MB (%.1fx)", mem_floor, mem_floor / reply_mb) << ", business_handle 21 "
    << Format("%.0f MB (%.1fx)", mem_lib21, mem_lib21 / reply_mb) << ", business_handle 8 "
    << Format("%.0f MB (%.1fx)", mem_lib8, mem_lib8 / reply_mb) << "\n";
  all_met = all_met && mem_lib21 <= mem_floor && mem_lib8 <= mem_floor;
  t << "targets " << (all_met ? "met" : "NOT met") << "\n";

  std::cout << t.str();
  std::ofstream out(out_path);
  out << t.str();
  if (!out) Die("cannot write " + out_path);
  std::fprintf(stderr, "written to %s\n", out_path.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  bool quick = std::find(args.begin(), args.end(), "--quick") != args.end();
  bool fitted = std::find(args.begin(), args.end(), "--fitted-buffer") != args.end();
  if (args.size() >= 4 && args[0] == "--child") {
    return RunChild(args[1], std::atoi(args[2].c_str()), args[3], quick, fitted);
  }
  std::string out_path = "qx_call_bench.txt";
  std::string only;
  std::string library = QX_BENCH_LIBRARY_FILE;
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == "--out") out_path = args[i + 1];
    if (args[i] == "--only") only = args[i + 1];
    if (args[i] == "--library") library = args[i + 1];
  }
  return Orchestrate(out_path, quick, fitted, only, library);
}
