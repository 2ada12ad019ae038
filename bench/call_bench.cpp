// One business call end to end, against the floor of what moving, converting and parsing the
// same reply costs, and against the raw limit of moving it at all.
//
//   qx_call_bench [--out FILE] [--quick] [--fitted-buffer] [--library PATH]
//                 [--only pair21|pair8|floor21|lib21|raw21|...|mem-lib21|...]
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
// and all sides meet the same moments of this shared machine:
//  - raw: the request written to a kept socket in one send, a plain recv loop into a kept buffer
//    until the announced length has come, and one copy of the body into a second kept buffer
//    (as a reply is copied into the host's): the physical limit of moving a reply;
//  - floor: the same POST and reply through libcurl with one reused handle (the body handed over
//    as the library hands it), the reply converted GBK -> UTF-8 by iconv and parsed once by
//    pugixml, then a walk over every row and item, done competently: the reply's text gets the
//    room its Content-Length announces, iconv is opened once and writes into a kept buffer, and
//    the document's pages are kept for the next parse, so that a steady call touches no fresh
//    memory. Like the library it refuses libcurl's own resend of a request (a pre-request
//    callback that lets one attempt through); QX_BENCH_FLOOR_RESEND=allow leaves it out, the
//    cost of that choice being the difference;
//  - business_handle of the built shared library, loaded with dlopen from a scratch directory
//    holding qx_interface.ini, after login ("0") and user information ("8"), for function 21
//    (full request assembly) and for "8" (the user information captured from the reply).
// Each call's minor page faults are counted (getrusage before and after, outside the timing).
// Peak resident memory above the baseline of one 50 MB call is measured in fresh processes
// (/proc/self/clear_refs resets the peak, /proc/self/status gives VmRSS and VmHWM).
// QX_BENCH_THP=off disables transparent huge pages in the measuring processes
// (prctl PR_SET_THP_DISABLE), for comparing what the library's large pages bring.
// QX_BENCH_TLS=DIR (scripts/bench --tls) puts nginx with TLS in front of the server (DIR holds
// server.pem and server.key for localhost, and ca.pem): the floor's reused handle and the library
// (tls=on, ca_file) then both post over HTTPS to localhost, on connections they keep. There is no
// raw side then.
//
// Every process started here is stopped by its PID and reaped, also on failure.
#include <curl/curl.h>
#include <dlfcn.h>
#include <iconv.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <pugixml.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
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
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kServlet = "/qx/servlet";

// QX_BENCH_TLS: the folder of the certificates when the center is reached over TLS, or empty.
std::string TlsFolder() {
  const char* folder = std::getenv("QX_BENCH_TLS");
  return folder != nullptr ? folder : "";
}

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

// Where a transfer's body goes: before its first piece the text gets the room the reply's
// Content-Length announces, so that it is written once and not copied at each doubling.
struct BodySink {
  CURL* easy = nullptr;
  std::string* out = nullptr;
};

size_t AppendBody(char* data, size_t size, size_t count, void* sink_data) {
  const BodySink& sink = *static_cast<BodySink*>(sink_data);
  if (sink.out->empty()) {
    curl_off_t length = -1;
    if (curl_easy_getinfo(sink.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
        length > 0) {
      sink.out->reserve(static_cast<std::size_t>(length));
    }
  }
  sink.out->append(data, size * count);
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
  // tls: the folder of QX_BENCH_TLS's certificates, or empty for plain HTTP to 127.0.0.1.
  explicit Poster(int port, std::string tls = TlsFolder())
      : tls_(std::move(tls)),
        url_((tls_.empty() ? "http://127.0.0.1:" : "https://localhost:") + std::to_string(port) +
             kServlet) {
    easy_ = curl_easy_init();
    if (easy_ == nullptr) Die("curl_easy_init failed");
    if (!tls_.empty()) curl_easy_setopt(easy_, CURLOPT_CAINFO, (tls_ + "/ca.pem").c_str());
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
    sink_ = BodySink{easy_, reply};
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, &sink_);
    CURLcode code = curl_easy_perform(easy_);
    if (code != CURLE_OK) Die(std::string("POST failed: ") + curl_easy_strerror(code));
  }

 private:
  std::string tls_;
  std::string url_;
  CURL* easy_ = nullptr;
  curl_slist* headers_ = nullptr;
  bool refuse_resend_ = FloorRefusesResend();
  int attempts_ = 0;
  BodySink sink_;
};

// ---- the replies ----------------------------------------------------------------------------

// The sizes measured: catalogue rows (about 1 KB, 100 KB, 1 MB, 10 MB, 50 MB) and repetitions.
struct Size {
  const char* label;
  int rows;
  int reps;
};
const Size kSizes[] = {{"1 KB", 2, 400},
                       {"100 KB", 200, 400},
                       {"1 MB", 2000, 200},
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
  Poster poster(sim_port, "");
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
  double min = 0, median = 0, max = 0;
};

Stats Summarise(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  Stats s;
  s.min = ms.front();
  s.max = ms.back();
  std::size_t n = ms.size();
  s.median = n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2;
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

// Minor page faults of this process so far.
long MinorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

// pugixml's pages, kept for the next document: a freed block goes into a list by its size and
// is handed out again for a block of that size, so that a document parsed like the one before
// it touches no fresh memory (pugixml asks for pages of one size, and larger blocks for what
// does not fit one). The floor's pugixml is the shared one; the library's copy is its own and
// never allocates here.
class PagePool {
 public:
  static void Install() { pugi::set_memory_management_functions(Allocate, Free); }

 private:
  // Each block starts with its size; 16 bytes keep it as aligned as malloc's.
  static constexpr std::size_t kHeader = 16;

  // Never destroyed: documents may give their pages back until the process ends.
  static std::map<std::size_t, std::vector<char*>>& Lists() {
    static auto* lists = new std::map<std::size_t, std::vector<char*>>();
    return *lists;
  }
  static void* Allocate(std::size_t size) {
    std::vector<char*>& list = Lists()[size];
    if (!list.empty()) {
      char* block = list.back();
      list.pop_back();
      return block + kHeader;
    }
    if (size > SIZE_MAX - kHeader) return nullptr;
    char* block = static_cast<char*>(std::malloc(size + kHeader));
    if (block == nullptr) return nullptr;
    std::memcpy(block, &size, sizeof size);
    return block + kHeader;
  }
  static void Free(void* memory) {
    if (memory == nullptr) return;
    char* block = static_cast<char*>(memory) - kHeader;
    std::size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    Lists()[size].push_back(block);
  }
};

// A buffer that keeps its room between calls and is never filled before it is written.
class KeptBuffer {
 public:
  char* data() const { return data_.get(); }
  std::size_t room() const { return room_; }
  // At least `bytes` of room, the first `keep` bytes kept.
  void Reserve(std::size_t bytes, std::size_t keep = 0) {
    if (bytes <= room_) return;
    std::unique_ptr<char[]> grown(new char[bytes]);
    if (keep > 0) std::memcpy(grown.get(), data_.get(), keep);
    data_ = std::move(grown);
    room_ = bytes;
  }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t room_ = 0;
};

// The floor: POST, GBK -> UTF-8 through iconv, one pugixml parse, a walk over rows and items;
// the reply's text, the UTF-8 text and the document's pages kept between calls.
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
    poster_.Post(request, &reply_);
    if (reply_.size() != expect_size) Die("the floor got a reply of another size");
    // Two GBK bytes make at most three of UTF-8; more room is made if ever needed.
    utf8_.Reserve(reply_.size() + reply_.size() / 2 + 16);
    char* in = reply_.data();
    std::size_t in_left = reply_.size();
    std::size_t written = 0;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    for (;;) {
      char* out = utf8_.data() + written;
      std::size_t out_left = utf8_.room() - written;
      const std::size_t rc = iconv(cd_, &in, &in_left, &out, &out_left);
      written = utf8_.room() - out_left;
      if (rc != static_cast<std::size_t>(-1)) break;
      if (errno != E2BIG) Die("iconv refused the reply");
      utf8_.Reserve(utf8_.room() * 2, written);
    }
    if (!document_.load_buffer_inplace(utf8_.data(), written, pugi::parse_default,
                                       pugi::encoding_utf8)) {
      Die("pugixml refused the reply");
    }
    std::size_t items = 0, bytes = 0;
    for (pugi::xml_node set : document_.document_element().children()) {
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
  std::string reply_;
  KeptBuffer utf8_;
  pugi::xml_document document_;
};

// The raw limit: the request in one send on a kept connection, recv into a kept buffer until the
// announced length has come, one copy of the body into another kept buffer.
class Raw {
 public:
  explicit Raw(int port) : port_(port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      Die("raw: cannot connect to 127.0.0.1");
    }
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval limit{30, 0};  // a server that stops answering ends the run, not hangs it
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    in_.Reserve(std::size_t{64} << 10);
  }
  Raw(const Raw&) = delete;
  Raw& operator=(const Raw&) = delete;
  ~Raw() { close(fd_); }

  // The whole HTTP request for a body (made before the timing starts).
  std::string Message(const std::string& body) const {
    return std::string("POST ") + kServlet +
           " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
           "\r\nAccept: text/*\r\nUser-Agent: Quillon_Net\r\n"
           "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
  }

  // Sends the message and receives its reply; the body's size.
  std::size_t Call(const std::string& message, std::size_t expect_size) {
    if (!SendAll(fd_, message.data(), message.size())) Die("raw: send failed");
    std::size_t have = 0, head = 0, total = 0;
    while (head == 0 || have < total) {
      if (have == in_.room()) in_.Reserve(in_.room() * 2, have);
      const ssize_t n = recv(fd_, in_.data() + have, in_.room() - have, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Die("raw: the server closed the connection or stopped answering");
      have += static_cast<std::size_t>(n);
      if (head != 0) continue;
      const std::string_view text(in_.data(), have);
      const std::size_t end = text.find("\r\n\r\n");
      if (end == std::string_view::npos) continue;
      const std::size_t at = text.substr(0, end).find("Content-Length: ");
      if (at == std::string_view::npos) Die("raw: a reply without Content-Length");
      head = end + 4;
      total = head + std::strtoul(in_.data() + at + 16, nullptr, 10);
      in_.Reserve(total, have);
    }
    if (have != total) Die("raw: more bytes than the reply announced");
    const std::size_t body = total - head;
    if (body != expect_size) Die("raw: a reply of another size");
    out_.Reserve(body);
    std::memcpy(out_.data(), in_.data() + head, body);
    return body;
  }

 private:
  int port_ = 0;
  int fd_ = -1;
  KeptBuffer in_;
  KeptBuffer out_;
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
    const std::string tls = TlsFolder();
    ini << "[center]\r\nserver=" << (tls.empty() ? "127.0.0.1" : "localhost") << "\r\nport=" << port
        << "\r\nservlet=" << kServlet << "\r\ncom=1\r\n\r\n";
    // QX_BENCH_LOG=calls or wire: the library's diagnostic log on, in the scratch folder.
    const char* level = std::getenv("QX_BENCH_LOG");
    const bool logged = level != nullptr && *level != '\0';
    if (logged || !tls.empty()) ini << "[log]\r\n";
    if (logged) ini << "folder=log\r\nlevel=" << level << "\r\n";
    if (!tls.empty()) ini << "tls=on\r\nca_file=" << tls << "/ca.pem\r\n";
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
  int Call(const std::string& request, std::size_t expect_size, double* ms = nullptr,
           long* faults = nullptr) {
    const bool fit = fitted_ && expect_size != 0;
    if (fit) buffer_[expect_size] = '\0';
    const long faults_before = MinorFaults();
    Clock::time_point start = Clock::now();
    int rc = business_(request.c_str(), buffer_.data());
    Clock::time_point end = Clock::now();
    if (faults != nullptr) *faults = MinorFaults() - faults_before;
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
    std::printf("copy %zu %.4f\n", bytes, st.median);
  }
  return 0;
}

// --child KIND PORT LIBRARY: KIND is copy (MeasureCopies), pair21 or pair8 (raw, the floor and
// business_handle in turns, for every size), raw21, floor21, lib21, raw8, floor8 or lib8 (one
// of them alone, for a profiler), or mem-raw21, mem-floor21, mem-lib21, ... (peak memory of one
// 50 MB call). Prints result lines.
int RunChild(const std::string& kind, int port, const std::string& library, bool quick,
             bool fitted) {
  const char* thp = std::getenv("QX_BENCH_THP");
  if (thp != nullptr && std::string(thp) == "off" && prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0) != 0) {
    Die("prctl(PR_SET_THP_DISABLE) failed");
  }
  curl_global_init(CURL_GLOBAL_ALL);
  if (kind == "copy") return MeasureCopies();
  const bool memory = kind.rfind("mem-", 0) == 0;
  const bool pair = kind.rfind("pair", 0) == 0;
  const std::string what = memory ? kind.substr(4) : kind;
  const bool with_raw = (pair && TlsFolder().empty()) || what.rfind("raw", 0) == 0;
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

  // One measured call of a side: its time in ms and its minor page faults.
  using Run = std::function<void(int rows, double* ms, long* faults)>;
  struct Side {
    const char* tag;
    Run run;
    std::vector<double> times;
    std::vector<double> faults;
  };
  std::vector<Side> sides;
  auto add = [&sides](const char* tag, Run run) {
    sides.push_back(Side{tag, std::move(run), {}, {}});
  };
  // Times one call and counts its page faults.
  auto measure = [](const std::function<void()>& call, double* ms, long* faults) {
    const long before = MinorFaults();
    Clock::time_point start = Clock::now();
    call();
    Clock::time_point end = Clock::now();
    *faults = MinorFaults() - before;
    *ms = std::chrono::duration<double, std::milli>(end - start).count();
  };
  std::unique_ptr<Raw> raw;
  std::unique_ptr<Floor> floor_runner;
  std::unique_ptr<Host> host;
  if (with_raw) {
    raw = std::make_unique<Raw>(port);
    add("raw", [&](int rows, double* ms, long* faults) {
      const std::string message = raw->Message(AssembledRequest(function, rows, user_block, token));
      measure([&] { raw->Call(message, sizes[rows]); }, ms, faults);
    });
  }
  if (with_floor) {
    PagePool::Install();
    floor_runner = std::make_unique<Floor>(port);
    add("floor", [&](int rows, double* ms, long* faults) {
      const std::string request = AssembledRequest(function, rows, user_block, token);
      measure([&] { floor_runner->Call(request, sizes[rows]); }, ms, faults);
    });
  }
  if (with_library) {
    host = std::make_unique<Host>(library, port, fitted);
    add("lib", [&](int rows, double* ms, long* faults) {
      const int rc = host->Call(CallRequest(function, rows), sizes[rows], ms, faults);
      if (rc != 0) Die("business_handle returned " + std::to_string(rc));
    });
  }

  double ms = 0;
  long faults = 0;
  if (memory) {
    if (sides.size() != 1) Die("mem- takes one of raw, floor, lib");
    sides[0].run(kSizes[0].rows, &ms, &faults);  // connection up, tables built
    const long baseline = ResetPeak();
    sides[0].run(kMemoryRows, &ms, &faults);
    const long peak = StatusKb("VmHWM:");
    std::printf("mem %ld %ld %zu\n", baseline, peak, sizes[kMemoryRows]);
    return 0;
  }
  // QX_BENCH_ROWS=N measures only the size of N rows (for a profiler run with --only).
  // QX_BENCH_REPS=N repeats each size N times instead (a profile that the set-up does not fill).
  const char* only_rows = std::getenv("QX_BENCH_ROWS");
  const char* reps_asked = std::getenv("QX_BENCH_REPS");
  for (const Size& s : kSizes) {
    if (only_rows != nullptr && std::atoi(only_rows) != s.rows) continue;
    int reps = quick ? std::max(3, s.reps / 10) : s.reps;
    if (reps_asked != nullptr) reps = std::clamp(std::atoi(reps_asked), 1, 100000);
    for (Side& side : sides) {
      side.times.clear();
      side.faults.clear();
    }
    // One warm-up each, then in turns, each side going first in its turn of the rotation, so
    // that all meet the same moments of the machine and none always follows another.
    for (int i = -1; i < reps; ++i) {
      for (std::size_t k = 0; k < sides.size(); ++k) {
        Side& side = sides[(k + static_cast<std::size_t>(i + 1)) % sides.size()];
        side.run(s.rows, &ms, &faults);
        if (i < 0) continue;
        side.times.push_back(ms);
        side.faults.push_back(static_cast<double>(faults));
      }
    }
    for (const Side& side : sides) {
      const Stats st = Summarise(side.times);
      const Stats pf = Summarise(side.faults);
      std::printf("time-%s %d %zu %d %.4f %.4f %.4f %.1f %.0f\n", side.tag, s.rows, sizes[s.rows],
                  reps, st.min, st.median, st.max, pf.median, pf.max);
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
  double faults_median = 0;
  double faults_max = 0;
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
    fields >> r.rows >> r.bytes >> reps >> r.stats.min >> r.stats.median >> r.stats.max >>
        r.faults_median >> r.faults_max;
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

// A TCP socket bound to a port of the kernel's choice on 127.0.0.1, *address its address; -1 on
// failure.
int BindLoopback(sockaddr_in* address) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  *address = sockaddr_in{};
  address->sin_family = AF_INET;
  address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof *address;
  if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(address), sizeof *address) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(address), &length) != 0) {
    if (s >= 0) close(s);
    return -1;
  }
  return s;
}

// nginx on 127.0.0.1 with TLS (the certificates of QX_BENCH_TLS) in front of the server on port;
// its port. Its configuration, logs and PID file stay in that folder.
int StartTlsFront(int port, std::optional<Child>* front) {
  const std::string dir = TlsFolder();
  sockaddr_in address{};
  const int probe = BindLoopback(&address);
  if (probe < 0) Die("cannot find a free port on 127.0.0.1");
  const int front_port = ntohs(address.sin_port);
  close(probe);
  {
    std::ofstream conf(dir + "/nginx.conf");
    conf << "daemon off;\nmaster_process off;\nworker_processes 1;\npid " << dir
         << "/nginx.pid;\nerror_log " << dir << "/error.log;\nevents { worker_connections 64; }\n"
         << "http {\n  access_log off;\n  keepalive_requests 100000;\n"
         << "  client_body_temp_path " << dir << "/body;\n  proxy_temp_path " << dir
         << "/proxy;\n  fastcgi_temp_path " << dir << "/fastcgi;\n  uwsgi_temp_path " << dir
         << "/uwsgi;\n  scgi_temp_path " << dir << "/scgi;\n"
         << "  upstream center { server 127.0.0.1:" << port << "; keepalive 4; }\n"
         << "  server {\n    listen 127.0.0.1:" << front_port << " ssl;\n    ssl_certificate "
         << dir << "/server.pem;\n    ssl_certificate_key " << dir << "/server.key;\n"
         << "    location / { proxy_pass http://center; proxy_http_version 1.1;\n"
         << "      proxy_set_header Connection \"\"; proxy_buffering off; }\n  }\n}\n";
  }
  pid_t pid = fork();
  if (pid < 0) Die("fork failed");
  if (pid == 0) {
    execlp("nginx", "nginx", "-p", dir.c_str(), "-c", (dir + "/nginx.conf").c_str(),
           static_cast<char*>(nullptr));
    _exit(127);
  }
  front->emplace(pid);
  for (int i = 0; i < 200; ++i) {  // at most 10 s
    int s = socket(AF_INET, SOCK_STREAM, 0);
    const bool up =
        s >= 0 && connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (s >= 0) close(s);
    if (up) return front_port;
    usleep(50000);
  }
  Die("nginx did not listen on 127.0.0.1:" + std::to_string(front_port));
  return 0;
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
  sockaddr_in address{};
  const int listener = BindLoopback(&address);
  if (listener < 0 || listen(listener, 8) != 0) {
    Die("cannot listen on 127.0.0.1");
  }
  const int port = ntohs(address.sin_port);
  pid_t server_pid = fork();
  if (server_pid < 0) Die("fork failed");
  if (server_pid == 0) Serve(listener, replies);
  Child server(server_pid);
  close(listener);
  replies = Replies();
  std::optional<Child> tls_front;
  const int front_port = TlsFolder().empty() ? port : StartTlsFront(port, &tls_front);

  // 3. Measure, one process per kind.
  const std::string self = "qx_call_bench";
  const std::string port_text = std::to_string(front_port);
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
  std::string load;
  {
    std::ifstream in("/proc/loadavg");
    std::getline(in, load);
  }
  const std::string pair21 = child("pair21");
  const std::string pair8 = child("pair8");
  struct Function {
    const char* name;
    std::map<int, Row> raw, floor, lib;
  };
  Function functions[] = {
      {"21", ParseTimes(pair21, "raw"), ParseTimes(pair21, "floor"), ParseTimes(pair21, "lib")},
      {"8", ParseTimes(pair8, "raw"), ParseTimes(pair8, "floor"), ParseTimes(pair8, "lib")}};
  std::size_t mem_bytes = 0;
  const double mem_raw = ParseMemoryMb(child("mem-raw21"), &mem_bytes);
  const double mem_floor21 = ParseMemoryMb(child("mem-floor21"), &mem_bytes);
  const double mem_floor8 = ParseMemoryMb(child("mem-floor8"), &mem_bytes);
  const double mem_lib21 = ParseMemoryMb(child("mem-lib21"), &mem_bytes);
  const double mem_lib8 = ParseMemoryMb(child("mem-lib8"), &mem_bytes);
  server.Stop();

  // 4. The tables.
  std::ostringstream t;
  char host_name[256] = {};
  gethostname(host_name, sizeof host_name - 1);
  std::time_t now = std::time(nullptr);
  char date[64];
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M", std::localtime(&now));
  const char* thp = std::getenv("QX_BENCH_THP");
  t << "qx_call_bench " << date << ", library " << library << "\n";
  t << "measured on " << host_name << ", " << sysconf(_SC_NPROCESSORS_ONLN) << " cores"
    << (quick ? " (quick)" : "")
    << (fitted ? ", host buffer fitted to each reply" : ", host buffer 64 MB of spaces")
    << (thp != nullptr && std::string(thp) == "off" ? ", transparent huge pages off" : "")
    << ", load average at the start " << load.substr(0, load.find(' ', load.find(' ') + 1)) << "\n";
  t << "times in ms, median (min-max) after one warm-up call; ratio = business_handle median / "
       "floor or raw median; faults = minor page faults per call, median (max)\n";
  auto cell = [](const Stats& st) { return Format("%.3f (%.3f-%.3f)", st.median, st.min, st.max); };
  auto faults = [](const Row& r) { return Format("%.0f (%.0f)", r.faults_median, r.faults_max); };
  for (Function& f : functions) {
    t << "\nfunction " << f.name << "\n\n";
    t << "| reply | bytes | raw | floor | business_handle | / floor | / raw | faults raw | "
         "faults floor | faults business_handle |\n";
    t << "|---|---|---|---|---|---|---|---|---|---|\n";
    for (const Size& s : kSizes) {
      const Row& raw = f.raw[s.rows];
      const Row& fl = f.floor[s.rows];
      const Row& lib = f.lib[s.rows];
      t << "| " << s.label << " | " << lib.bytes << " | " << cell(raw.stats) << " | "
        << cell(fl.stats) << " | " << cell(lib.stats) << " | "
        << Format("%.2f", lib.stats.median / fl.stats.median) << " | "
        << Format("%.2f", lib.stats.median / raw.stats.median) << " | " << faults(raw) << " | "
        << faults(fl) << " | " << faults(lib) << " |\n";
    }
  }
  auto scale = [](std::map<int, Row>& m) { return m[100000].stats.median / m[20000].stats.median; };
  t << "\n50 MB / 10 MB time: ";
  for (Function& f : functions) {
    t << "raw " << f.name << " " << Format("%.2f", scale(f.raw)) << ", floor " << f.name << " "
      << Format("%.2f", scale(f.floor)) << ", business_handle " << f.name << " "
      << Format("%.2f", scale(f.lib)) << (f.name[0] == '8' ? "\n" : "; ");
  }
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
  auto mem = [&](double mb) { return Format("%.0f MB (%.1fx)", mb, mb / reply_mb); };
  t << "peak resident memory above baseline, one " << Format("%.1f", reply_mb) << " MB reply: raw "
    << mem(mem_raw) << ", floor 21 " << mem(mem_floor21) << ", floor 8 " << mem(mem_floor8)
    << ", business_handle 21 " << mem(mem_lib21) << ", business_handle 8 " << mem(mem_lib8) << "\n";

  // The redesign's targets that need no earlier run (its others compare with bench/RESULTS.md).
  t << "\ntargets of the transport redesign:\n";
  auto verdict = [](bool met) { return met ? " met" : " NOT met"; };
  {
    Function& f8 = functions[1];
    const double r = f8.lib[2000].stats.median / f8.floor[2000].stats.median;
    t << "- function 8 at 1 MB at or below 1.0 x floor: " << Format("%.2f", r) << verdict(r <= 1.0)
      << "\n";
  }
  {
    Function& f21 = functions[0];
    double worst = 0;
    for (const Size& s : kSizes) {
      if (s.rows < 2000) continue;
      worst = std::max(worst, f21.lib[s.rows].stats.median / f21.raw[s.rows].stats.median);
    }
    t << "- function 21 at or below 1.5 x raw from 1 MB up: worst " << Format("%.2f", worst)
      << verdict(worst <= 1.5) << "\n";
  }
  {
    double worst = 0;
    for (Function& f : functions) {
      for (const Size& s : kSizes) {
        if (s.rows <= 2000) worst = std::max(worst, f.lib[s.rows].faults_median);
      }
    }
    t << "- page faults per steady call of business_handle up to 1 MB (median): most "
      << Format("%.0f", worst) << verdict(worst == 0) << "\n";
  }
  // Today's peaks, which the redesign may not exceed: 46 MB (21) and about 165 MB (8).
  t << "- peak memory for one 44 MB reply at or below 46 MB (21) and 165 MB (8): "
    << Format("%.0f MB / %.0f MB", mem_lib21, mem_lib8)
    << verdict(mem_lib21 < 46.5 && mem_lib8 < 165.5) << "\n";

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
