// qxcall: try the insurance interface library from the command line, the way a hospital's
// system calls it. One process runs config_handle, init_handle and then each request in turn,
// so the login and user information of earlier requests carry over to later ones.
//
// One source for both platforms: on Linux it loads libqx_interface.so with dlopen and converts
// with iconv; on Windows (qxcall.exe) it loads QX_Interface_center.dll with LoadLibraryA and
// converts with the system's ANSI code page, which is also the code page of its console.
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <iconv.h>
#include <unistd.h>
#endif

#include <filesystem>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "base/gbk_text.h"
#include "base/password_mask.h"
#include "pretty_reply.h"
#include "qx_interface.h"

namespace {

using InitFn = int(QX_CALL*)(char*);
using ConfigFn = int(QX_CALL*)(const char*, const char*, const char*, const char*);
using BusinessFn = int(QX_CALL*)(const char*, char*);
using ResultFn = int(QX_CALL*)(char*);

#ifdef _WIN32
constexpr char kLibraryName[] = "QX_Interface_center.dll";
constexpr char kCardReaderName[] = "qxic.dll";
constexpr char kDefaultInput[] = "gbk";
#else
// The SONAME: the runtime package has no unversioned link (that belongs to the -dev package).
constexpr char kLibraryName[] = "libqx_interface.so.1";
constexpr char kCardReaderName[] = "libqxic.so";
constexpr char kDefaultInput[] = "utf8";
#endif
constexpr char kConfigFile[] = "qx_interface.ini";

constexpr char kUsage[] = R"(usage: qxcall [options] [REQUEST ...]

Loads the insurance interface library, as a hospital's system does, and runs:
  config_handle (when --set is given), init_handle (unless --no-init), then
  business_handle for each REQUEST in order, in one process, so that the login
  (FunctionID 0) and user information (FunctionID 8) of earlier requests are
  added to later ones. Each reply is printed with the call's result.

REQUEST is an XML text, or @FILE to read it from a file (@- reads standard input).
A request given as UTF-8 that is not valid UTF-8 (GBK bytes, say) is reported: its
invalid bytes would reach the library as '?'; give --input gbk for GBK files.

options:
  --library PATH|NAME  the library to load (default: the library beside qxcall,
                       else found by the loader's usual search)
  --dir DIR            change to DIR before loading: the library reads
                       qx_interface.ini from the current directory at load time
  --set KEY=VALUE      set KEY (server, port, servlet, com) of section [center]
                       with config_handle before init_handle; may be repeated.
                       It works on a copy of qx_interface.ini in a scratch folder
                       (the library then runs there): the site's file is left as
                       it is
  --write-config       with --set: rewrite the site's qx_interface.ini itself
                       (config_handle writes the whole file anew: its comment
                       lines and blank lines are lost)
  --card-reader FILE   use FILE (the simulated reader libqxic-sim.so or
                       qxic-sim.dll) as the card-reader library: it is copied under
                       the vendor's name into a scratch folder that goes first in
                       the library search, and removed at the end
  --no-init            do not call init_handle
  --input gbk|utf8     encoding of the requests given (utf8: converted to GBK for
                       the library); default utf8 on Linux, gbk (the ANSI code
                       page) on Windows
  --raw                print replies as the library returns them (GBK bytes);
                       default: converted for the terminal (UTF-8 on Linux; on
                       Windows the console is in the ANSI code page already)
  --pretty             print each reply indented, one line per row of each
                       recordset; a reply that is not XML is printed as it is,
                       with the reason
  --buffer N           bytes offered to business_handle (default 65536); a reply
                       that does not fit is fetched with result_handle
  --trace FILE         append every call to FILE: the function, the texts handed
                       in and back (by the buffer and by result_handle, which is
                       then called after every business_handle), each as raw GBK
                       and as UTF-8, the result, the status text, the wall time;
                       and the library's own records of each step as it begins
                       and ends (the request as sent, each exchange, card calls,
                       boxes), at the level of qx_interface.ini's [log] section;
                       passwords masked
  --repeat N           run the list of requests N times (after one init_handle)
                       and print the time per business_handle call: min, median,
                       max; replies are printed for the first round only
  --quiet              print only the result lines
  --max-print N        print at most N bytes of each reply, then its length
  --version            print qxcall's version and the version of the library it
                       loads (read from the library's file)
  -h, --help           this text

exit status: 0 when the last call succeeded (init_handle 1, business_handle 0 or
more), 1 when it failed, 2 for a usage error or a library that cannot be loaded.
)";

// ---- The platform: loading the library, code pages, the current directory -------------------

#ifdef _WIN32

std::string Convert(UINT from, UINT to, const std::string& in) {
  if (in.empty()) {
    return in;
  }
  int wide_len = MultiByteToWideChar(from, 0, in.data(), static_cast<int>(in.size()), nullptr, 0);
  if (wide_len <= 0) {
    return in;
  }
  std::wstring wide(static_cast<size_t>(wide_len), L'\0');
  MultiByteToWideChar(from, 0, in.data(), static_cast<int>(in.size()), wide.data(), wide_len);
  int out_len = WideCharToMultiByte(to, 0, wide.data(), wide_len, nullptr, 0, nullptr, nullptr);
  if (out_len <= 0) {
    return in;
  }
  std::string out(static_cast<size_t>(out_len), '\0');
  WideCharToMultiByte(to, 0, wide.data(), wide_len, out.data(), out_len, nullptr, nullptr);
  return out;
}

std::string GbkToUtf8(const std::string& gbk) { return Convert(CP_ACP, CP_UTF8, gbk); }
std::string Utf8ToGbk(const std::string& utf8) { return Convert(CP_UTF8, CP_ACP, utf8); }
// The console shows the ANSI code page: the library's texts go out as they are.
std::string LibraryTextForConsole(const std::string& gbk, bool) { return gbk; }
std::string Utf8ForConsole(const std::string& utf8) { return Utf8ToGbk(utf8); }

void SetUpConsole() {
  SetConsoleOutputCP(GetACP());
  _setmode(_fileno(stdin), _O_BINARY);
}

class Library {
 public:
  ~Library() {
    if (module_ != nullptr) {
      FreeLibrary(module_);
    }
  }
  bool Open(const std::string& path, std::string* error) {
    module_ = LoadLibraryA(path.c_str());
    if (module_ == nullptr) {
      *error = "LoadLibraryA error " + std::to_string(GetLastError());
      return false;
    }
    return true;
  }
  template <typename Fn>
  Fn Symbol(const char* name) const {
    // Through void (*)(), the function type that stands for any other.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module_, name)));
  }
  // The file the loader took, and the file version of its version resource ("" without one).
  std::string FileName() const {
    std::vector<char> name(4096);
    DWORD n = GetModuleFileNameA(module_, name.data(), static_cast<DWORD>(name.size()));
    return n > 0 && n < name.size() ? std::string(name.data(), n) : std::string();
  }
  std::string Version() const {
    std::string file = FileName();
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(file.c_str(), &ignored);
    if (size == 0) {
      return "";
    }
    std::vector<char> info(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixed_size = 0;
    if (!GetFileVersionInfoA(file.c_str(), 0, size, info.data()) ||
        !VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &fixed_size) ||
        fixed == nullptr || fixed_size < sizeof *fixed) {
      return "";
    }
    return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(fixed->dwFileVersionLS));
  }

 private:
  HMODULE module_ = nullptr;
};

// The card reader's folder goes first in the search that LoadLibraryA("qxic.dll") makes after
// the program's own folder and the system folders: PATH, read at every load.
bool PutFirstInLibrarySearch(const std::string& dir, char**, std::string* error) {
  std::vector<char> old(32768);
  DWORD n = GetEnvironmentVariableA("PATH", old.data(), static_cast<DWORD>(old.size()));
  std::string path = dir;
  if (n > 0 && n < old.size()) {
    path += ";" + std::string(old.data(), n);
  }
  if (!SetEnvironmentVariableA("PATH", path.c_str())) {
    *error = "SetEnvironmentVariableA error " + std::to_string(GetLastError());
    return false;
  }
  return true;
}

std::string DefaultLibrary(const char*) {
  std::vector<char> self(4096);
  DWORD n = GetModuleFileNameA(nullptr, self.data(), static_cast<DWORD>(self.size()));
  if (n > 0 && n < self.size()) {
    std::string dir(self.data(), n);
    std::string::size_type slash = dir.find_last_of("\\/");
    if (slash != std::string::npos) {
      std::string beside = dir.substr(0, slash + 1) + kLibraryName;
      if (GetFileAttributesA(beside.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return beside;
      }
    }
  }
  return kLibraryName;
}

// A name with a folder in it names a file from where qxcall was started, not from --dir.
std::string FromStartDirectory(const std::string& path) {
  if (path.find_first_of("\\/") == std::string::npos) {
    return path;
  }
  std::vector<char> full(4096);
  DWORD n = GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  return n > 0 && n < full.size() ? std::string(full.data(), n) : path;
}

bool ChangeDirectory(const std::string& dir, std::string* error) {
  if (SetCurrentDirectoryA(dir.c_str())) {
    return true;
  }
  *error = "error " + std::to_string(GetLastError());
  return false;
}

std::tm LocalTime(std::time_t t) {
  std::tm tm{};
  localtime_s(&tm, &t);
  return tm;
}

#else

std::string Convert(const char* to, const char* from, const std::string& in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    return in;
  }
  std::string out;
  out.reserve(in.size() * 3 / 2 + 16);
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  std::vector<char> chunk(65536);
  while (src_left > 0) {
    char* dst = chunk.data();
    size_t dst_left = chunk.size();
    size_t rc = iconv(cd, &src, &src_left, &dst, &dst_left);
    out.append(chunk.data(), chunk.size() - dst_left);
    if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
      out.push_back('?');
      ++src;
      --src_left;
    }
  }
  iconv_close(cd);
  return out;
}

std::string GbkToUtf8(const std::string& gbk) { return Convert("UTF-8", "GBK", gbk); }
std::string Utf8ToGbk(const std::string& utf8) { return Convert("GBK", "UTF-8", utf8); }
std::string LibraryTextForConsole(const std::string& gbk, bool raw) {
  return raw ? gbk : GbkToUtf8(gbk);
}
std::string Utf8ForConsole(const std::string& utf8) { return utf8; }

void SetUpConsole() {}

class Library {
 public:
  ~Library() {
    if (handle_ != nullptr) {
      dlclose(handle_);
    }
  }
  bool Open(const std::string& path, std::string* error) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
      *error = dlerror();
      return false;
    }
    return true;
  }
  template <typename Fn>
  Fn Symbol(const char* name) const {
    return reinterpret_cast<Fn>(dlsym(handle_, name));
  }
  // The file the loader took (links followed), and the version its name carries:
  // libqx_interface.so.1.1.0 -> "1.1.0" ("" for a name without one).
  std::string FileName() const {
    Dl_info info{};
    void* symbol = dlsym(handle_, "init_handle");
    if (symbol == nullptr || dladdr(symbol, &info) == 0 || info.dli_fname == nullptr) {
      return "";
    }
    std::error_code ec;
    std::filesystem::path real = std::filesystem::canonical(info.dli_fname, ec);
    return ec ? std::string(info.dli_fname) : real.string();
  }
  std::string Version() const {
    std::string name = std::filesystem::path(FileName()).filename().string();
    std::string::size_type so = name.find(".so.");
    return so == std::string::npos ? std::string() : name.substr(so + 4);
  }

 private:
  void* handle_ = nullptr;
};

// The dynamic loader reads LD_LIBRARY_PATH once, when the program starts: qxcall starts itself
// again with the card reader's folder first in it. The new process finds QXCALL_CARD_READER_DIR
// naming that folder and goes on (and removes the folder at the end).
bool PutFirstInLibrarySearch(const std::string& dir, char** argv, std::string* error) {
  const char* old = std::getenv("LD_LIBRARY_PATH");
  std::string path = dir + (old != nullptr && *old != '\0' ? ":" + std::string(old) : "");
  if (setenv("LD_LIBRARY_PATH", path.c_str(), 1) != 0 ||
      setenv("QXCALL_CARD_READER_DIR", dir.c_str(), 1) != 0) {
    *error = std::strerror(errno);
    return false;
  }
  std::vector<char> self(4096);
  ssize_t n = readlink("/proc/self/exe", self.data(), self.size() - 1);
  std::string program = n > 0 ? std::string(self.data(), static_cast<size_t>(n)) : argv[0];
  execv(program.c_str(), argv);
  *error = program + ": " + std::strerror(errno);
  return false;
}

std::string DefaultLibrary(const char* argv0) {
  std::vector<char> self(4096);
  ssize_t n = readlink("/proc/self/exe", self.data(), self.size() - 1);
  std::string dir;
  if (n > 0) {
    dir.assign(self.data(), static_cast<size_t>(n));
  } else {
    dir = argv0;
  }
  std::string::size_type slash = dir.rfind('/');
  if (slash != std::string::npos) {
    std::string beside = dir.substr(0, slash + 1) + kLibraryName;
    if (access(beside.c_str(), R_OK) == 0) {
      return beside;
    }
    std::string lib = dir.substr(0, slash + 1) + "../" + QXCALL_LIBDIR + "/" + kLibraryName;
    if (access(lib.c_str(), R_OK) == 0) {
      return lib;
    }
  }
  return kLibraryName;
}

std::string FromStartDirectory(const std::string& path) {
  if (path.find('/') == std::string::npos || path[0] == '/') {
    return path;
  }
  std::vector<char> cwd(4096);
  if (getcwd(cwd.data(), cwd.size()) == nullptr) {
    return path;
  }
  return std::string(cwd.data()) + "/" + path;
}

bool ChangeDirectory(const std::string& dir, std::string* error) {
  if (chdir(dir.c_str()) == 0) {
    return true;
  }
  *error = std::strerror(errno);
  return false;
}

std::tm LocalTime(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

#endif

// When a call of an exported function started, and how long it took.
struct Timing {
  std::chrono::system_clock::time_point at;
  double ms = 0;
};

// ---- The trace file -------------------------------------------------------------------------

// Appends one record per call of an exported function:
//
//   === 2026-12-08 16:40:01.123 business_handle #2
//   request: 54 bytes
//     gbk: <the bytes handed in>
//     utf-8: <the same text in UTF-8>
//   reply buffer: 65536 bytes offered
//   result: 0
//   status: ErrorNo 1
//   status text: 9 bytes
//     gbk: ...
//     utf-8: ...
//   handed back in the buffer: 233 bytes
//     gbk: ...
//     utf-8: ...
//   wall time: 3.412 ms
//
// Each text is preceded by its length in bytes, so a text holding line breaks reads back whole.
class Trace {
 public:
  ~Trace() {
    if (file_ != nullptr) {
      std::fclose(file_);
    }
  }
  bool Open(const std::string& path) {
    file_ = std::fopen(path.c_str(), "ab");
    return file_ != nullptr;
  }
  bool on() const { return file_ != nullptr; }

  // A record of the call that started at `at`.
  void Begin(const Timing& timing, const std::string& call) {
    using std::chrono::system_clock;
    system_clock::time_point now = timing.at;
    std::tm tm = LocalTime(system_clock::to_time_t(now));
    char stamp[64];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    char millis[8];
    std::snprintf(millis, sizeof millis, ".%03d", static_cast<int>(ms.count()));
    Line("=== " + std::string(stamp) + millis + " " + call);
  }
  void Line(const std::string& line) {
    if (file_ != nullptr) {
      std::fwrite(line.data(), 1, line.size(), file_);
      std::fputc('\n', file_);
    }
  }
  void Text(const std::string& label, const std::string& gbk) {
    Line(label + ": " + std::to_string(gbk.size()) + " bytes");
    Line("  gbk: " + gbk);
    Line("  utf-8: " + GbkToUtf8(gbk));
  }
  void End(const Timing& timing) {
    char line[64];
    std::snprintf(line, sizeof line, "wall time: %.3f ms", timing.ms);
    Line(line);
    Line("");
    if (file_ != nullptr) {
      std::fflush(file_);
    }
  }

 private:
  std::FILE* file_ = nullptr;
};

// ---- Helpers --------------------------------------------------------------------------------

// A fresh folder under the system's temporary folder, removed with what it holds at the end (or
// adopted from the process that started this one, for the card reader's folder).
class ScratchFolder {
 public:
  ScratchFolder() = default;
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder() {
    if (!path_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(path_, ec);
    }
  }
  bool Create(const char* what, std::string* error) {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec) {
      *error = ec.message();
      return false;
    }
    auto seed = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::filesystem::path dir =
          base / ("qxcall-" + std::string(what) + "-" + std::to_string(seed + attempt));
      if (std::filesystem::create_directory(dir, ec)) {
        path_ = dir.string();
        return true;
      }
    }
    *error = "cannot create a folder in " + base.string() + (ec ? ": " + ec.message() : "");
    return false;
  }
  void Adopt(const std::string& path) { path_ = path; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Where the first byte sequence that is not UTF-8 starts, or npos when the text is valid UTF-8
// (no overlong forms, no surrogates, nothing above U+10FFFF).
std::string::size_type InvalidUtf8At(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t len = c < 0x80           ? 1
                 : (c >> 5) == 0x6  ? 2
                 : (c >> 4) == 0xE  ? 3
                 : (c >> 3) == 0x1E ? 4
                                    : 0;
    if (len == 0 || c == 0xC0 || c == 0xC1 || c > 0xF4 || i + len > text.size()) {
      return i;
    }
    for (size_t k = 1; k < len; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
        return i;
      }
    }
    unsigned char next = len > 1 ? static_cast<unsigned char>(text[i + 1]) : 0;
    if ((c == 0xE0 && next < 0xA0) || (c == 0xED && next >= 0xA0) || (c == 0xF0 && next < 0x90) ||
        (c == 0xF4 && next >= 0x90)) {
      return i;
    }
    i += len;
  }
  return std::string::npos;
}

// A warning on standard error for input given as UTF-8 that is not.
void WarnUnlessUtf8(const std::string& what, const std::string& text) {
  std::string::size_type at = InvalidUtf8At(text);
  if (at != std::string::npos) {
    std::fprintf(stderr,
                 "qxcall: warning: %s is not valid UTF-8 (byte %zu is 0x%02X): its invalid bytes "
                 "reach the library as '?'; for GBK text give --input gbk\n",
                 what.c_str(), at + 1, static_cast<unsigned>(static_cast<unsigned char>(text[at])));
  }
}

bool ReadRequest(const std::string& arg, std::string* text) {
  if (arg.empty() || arg[0] != '@') {
    *text = arg;
    return true;
  }
  std::string path = arg.substr(1);
  std::ostringstream content;
  if (path == "-") {
    content << std::cin.rdbuf();
  } else {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "qxcall: cannot read %s\n", path.c_str());
      return false;
    }
    content << in.rdbuf();
  }
  *text = content.str();
  return true;
}

// The text of the first element <name> of xml, for headings and the trace; the tags are ASCII
// and no GBK byte pair holds '<', so a search over the GBK bytes finds only real tags.
bool ElementText(const std::string& xml, const std::string& name, std::string* text) {
  std::string open = "<" + name + ">";
  std::string::size_type start = xml.find(open);
  if (start == std::string::npos) {
    return false;
  }
  start += open.size();
  std::string::size_type end = xml.find("</" + name + ">", start);
  if (end == std::string::npos) {
    return false;
  }
  *text = xml.substr(start, end - start);
  return true;
}

std::string FunctionIdOf(const std::string& request) {
  std::string id;
  return ElementText(request, "FunctionID", &id) ? id : "?";
}

double Milliseconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

template <typename Call>
auto Timed(Timing* timing, Call call) {
  timing->at = std::chrono::system_clock::now();
  auto start = std::chrono::steady_clock::now();
  auto result = call();
  timing->ms = Milliseconds(std::chrono::steady_clock::now() - start);
  return result;
}

std::string Spread(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  size_t n = times.size();
  double median = n % 2 == 1 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
  char line[128];
  std::snprintf(line, sizeof line, "min %.3f  median %.3f  max %.3f", times.front(), median,
                times.back());
  return line;
}

bool ParseCount(const char* text, long low, long high, long* value) {
  char* end = nullptr;
  errno = 0;
  long n = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || errno != 0 || n < low || n > high) {
    return false;
  }
  *value = n;
  return true;
}

struct Options {
  std::string library;
  std::string dir;
  std::string card_reader;
  bool write_config = false;
  bool version = false;
  std::vector<std::pair<std::string, std::string>> settings;
  std::vector<std::string> requests;
  std::string trace;
  bool init = true;
  bool raw = false;
  bool pretty = false;
  bool quiet = false;
  bool input_gbk = std::strcmp(kDefaultInput, "gbk") == 0;
  size_t buffer_size = 65536;
  size_t max_print = 0;  // 0: whole replies
  long repeat = 1;
};

// 0 to go on, else the exit status.
int ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "qxcall: %s needs a value\n", name);
        std::exit(2);
      }
      return argv[++i];
    };
    long n = 0;
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (arg == "--library") {
      o->library = value("--library");
    } else if (arg == "--dir") {
      o->dir = value("--dir");
    } else if (arg == "--trace") {
      o->trace = value("--trace");
    } else if (arg == "--set") {
      std::string kv = value("--set");
      std::string::size_type eq = kv.find('=');
      if (eq == std::string::npos) {
        std::fprintf(stderr, "qxcall: --set takes KEY=VALUE\n");
        return 2;
      }
      o->settings.emplace_back(kv.substr(0, eq), kv.substr(eq + 1));
    } else if (arg == "--write-config") {
      o->write_config = true;
    } else if (arg == "--card-reader") {
      o->card_reader = value("--card-reader");
    } else if (arg == "--version") {
      o->version = true;
    } else if (arg == "--no-init") {
      o->init = false;
    } else if (arg == "--raw") {
      o->raw = true;
    } else if (arg == "--pretty") {
      o->pretty = true;
    } else if (arg == "--quiet") {
      o->quiet = true;
    } else if (arg == "--input") {
      std::string enc = value("--input");
      if (enc != "gbk" && enc != "utf8") {
        std::fprintf(stderr, "qxcall: --input takes gbk or utf8\n");
        return 2;
      }
      o->input_gbk = enc == "gbk";
    } else if (arg == "--max-print") {
      if (!ParseCount(value("--max-print"), 1, 1L << 30, &n)) {
        std::fprintf(stderr, "qxcall: --max-print takes a positive number\n");
        return 2;
      }
      o->max_print = static_cast<size_t>(n);
    } else if (arg == "--buffer") {
      if (!ParseCount(value("--buffer"), 1, 1L << 30, &n)) {
        std::fprintf(stderr, "qxcall: --buffer takes 1 to 1073741824\n");
        return 2;
      }
      o->buffer_size = static_cast<size_t>(n);
    } else if (arg == "--repeat") {
      if (!ParseCount(value("--repeat"), 1, 1000000, &o->repeat)) {
        std::fprintf(stderr, "qxcall: --repeat takes 1 to 1000000\n");
        return 2;
      }
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      std::fprintf(stderr, "qxcall: unknown option %s (see --help)\n", arg.c_str());
      return 2;
    } else {
      o->requests.push_back(arg);
    }
  }
  return 0;
}

class Host {
 public:
  explicit Host(const Options& options) : o_(options) {}

  // 0 when loaded, else the exit status.
  int Load(const std::string& library) {
    std::string error;
    if (!library_.Open(library, &error)) {
      std::fprintf(stderr, "qxcall: cannot load %s: %s\n", library.c_str(), error.c_str());
      return 2;
    }
    init_ = library_.Symbol<InitFn>("init_handle");
    config_ = library_.Symbol<ConfigFn>("config_handle");
    business_ = library_.Symbol<BusinessFn>("business_handle");
    result_ = library_.Symbol<ResultFn>("result_handle");
    if (!init_ || !config_ || !business_ || !result_) {
      std::fprintf(stderr, "qxcall: %s lacks one of the four functions\n", library.c_str());
      return 2;
    }
    if (!o_.trace.empty()) {
      // The library writes its records of each step into the same file.
#ifdef _WIN32
      _putenv_s("QX_INTERFACE_TRACE", o_.trace.c_str());
#else
      setenv("QX_INTERFACE_TRACE", o_.trace.c_str(), 1);
#endif
      if (!trace_.Open(o_.trace)) {
        std::fprintf(stderr, "qxcall: cannot open %s: %s\n", o_.trace.c_str(),
                     std::strerror(errno));
        return 2;
      }
      trace_.Line("=== qxcall: " + library);
      trace_.Line("");
    }
    return 0;
  }

  // qxcall's own version and the loaded library's, read from its file.
  void PrintVersion() const {
    std::string version = library_.Version();
    std::printf("qxcall %s\nlibrary %s %s\n", QX_INTERFACE_VERSION_STRING,
                version.empty() ? "(no version in the file)" : version.c_str(),
                library_.FileName().c_str());
  }

  // false for an unknown key (a usage error).
  bool Config(bool* ok) {
    const char* values[4] = {nullptr, nullptr, nullptr, nullptr};
    const char* keys[4] = {"server", "port", "servlet", "com"};
    std::vector<std::string> texts;
    texts.reserve(o_.settings.size());
    for (const auto& [key, val] : o_.settings) {
      bool known = false;
      for (int k = 0; k < 4; ++k) {
        if (key == keys[k]) {
          if (!o_.input_gbk) {
            WarnUnlessUtf8("--set " + key, val);
          }
          texts.push_back(o_.input_gbk ? val : Utf8ToGbk(val));
          values[k] = texts.back().c_str();
          known = true;
        }
      }
      if (!known) {
        std::fprintf(stderr, "qxcall: unknown setting %s\n", key.c_str());
        return false;
      }
    }
    Timing timing;
    int rc = Timed(&timing, [&] { return config_(values[0], values[1], values[2], values[3]); });
    if (trace_.on()) {
      trace_.Begin(timing, "config_handle");
      for (int k = 0; k < 4; ++k) {
        if (values[k] == nullptr) {
          trace_.Line(std::string(keys[k]) + ": NULL");
        } else {
          trace_.Text(keys[k], values[k]);
        }
      }
      trace_.Line("result: " + std::to_string(rc));
      trace_.End(timing);
    }
    std::printf("config_handle -> %d\n", rc);
    *ok = rc >= 0;
    return true;
  }

  bool Init() {
    std::string message(255, ' ');
    Timing timing;
    int rc = Timed(&timing, [&] { return init_(message.data()); });
    message.resize(std::strlen(message.c_str()));
    bool untouched = message.size() == 255 && message.find_first_not_of(' ') == std::string::npos;
    if (trace_.on()) {
      trace_.Begin(timing, "init_handle");
      trace_.Line("message buffer: 255 bytes offered");
      trace_.Line("result: " + std::to_string(rc));
      if (untouched) {
        trace_.Line("handed back in the buffer: nothing (the 255 spaces are untouched)");
      } else {
        trace_.Text("status text", message);
      }
      trace_.End(timing);
    }
    std::printf("init_handle -> %d  ", rc);
    std::fflush(stdout);
    Show(untouched ? std::string() : message, false);
    return rc == 1;
  }

  // One business call; show: print its result line and reply.
  bool Business(const std::string& request, int number, bool show, Timing* timing) {
    // The buffer rule: a buffer of spaces as long as the space offered.
    std::vector<char> reply(o_.buffer_size + 1, ' ');
    reply[o_.buffer_size] = '\0';
    int rc = Timed(timing, [&] { return business_(request.c_str(), reply.data()); });
    std::string text(reply.data());
    bool untouched =
        text.size() == o_.buffer_size && text.find_first_not_of(' ') == std::string::npos;
    if (trace_.on()) {
      trace_.Begin(*timing, "business_handle #" + std::to_string(number));
      trace_.Text("request", qx::MaskPasswords(request));
      trace_.Line("reply buffer: " + std::to_string(o_.buffer_size) + " bytes offered");
      trace_.Line("result: " + std::to_string(rc));
    }
    if (untouched || trace_.on()) {
      // The reply is longer than the buffer (or the trace wants result_handle's copy): the
      // length first, then a buffer of that length and one.
      std::string fetched = Fetch(text, untouched, *timing);
      if (untouched) {
        text = fetched;
      }
    }
    if (show) {
      std::printf("business_handle #%d (FunctionID %s) -> %d%s\n", number,
                  FunctionIdOf(request).c_str(), rc,
                  untouched ? "  (reply longer than the buffer: taken with result_handle)" : "");
      if (!o_.quiet) {
        std::fflush(stdout);
        Show(text, o_.pretty);
      }
    }
    return rc >= 0;
  }

 private:
  // Ends the business_handle record (its buffer text, status) and records the two result_handle
  // calls; returns result_handle's text.
  std::string Fetch(const std::string& buffer_text, bool untouched, const Timing& business_ms) {
    Timing ms_null;
    int length = Timed(&ms_null, [&] { return result_(nullptr); });
    std::vector<char> whole(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    Timing ms_copy;
    int copied = Timed(&ms_copy, [&] { return result_(whole.data()); });
    std::string text(whole.data(), static_cast<size_t>(length > 0 ? length : 0));
    if (trace_.on()) {
      const std::string& status_source = untouched ? text : buffer_text;
      std::string error_no;
      std::string error_message;
      if (ElementText(status_source, "ErrorNo", &error_no)) {
        trace_.Line("status: ErrorNo " + error_no);
      }
      if (ElementText(status_source, "ErrorMessage", &error_message)) {
        trace_.Text("status text", error_message);
      }
      if (untouched) {
        trace_.Line("handed back in the buffer: nothing (the " + std::to_string(o_.buffer_size) +
                    " spaces are untouched)");
      } else {
        trace_.Text("handed back in the buffer", buffer_text);
      }
      trace_.End(business_ms);
      trace_.Begin(ms_null, "result_handle(NULL)");
      trace_.Line("result: " + std::to_string(length));
      trace_.End(ms_null);
      trace_.Begin(ms_copy, "result_handle(buffer of " + std::to_string(whole.size()) + " bytes)");
      trace_.Line("result: " + std::to_string(copied));
      trace_.Text("handed back in the buffer", text);
      trace_.End(ms_copy);
    }
    return text;
  }

  // Prints a text of the library: pretty, or converted for the console, cut at --max-print.
  void Show(const std::string& gbk, bool pretty) {
    if (pretty) {
      std::string utf8 = GbkToUtf8(gbk);
      std::string laid_out;
      std::string reason;
      if (qxcall::PrettyReply(utf8, &laid_out, &reason)) {
        Put(Utf8ForConsole(laid_out));
        return;
      }
      Put(Utf8ForConsole("(not XML: " + reason + ")\n"));
    }
    std::string cut = gbk;
    if (o_.max_print != 0 && cut.size() > o_.max_print) {
      cut.resize(qx::CutToWholeGbkCharacters(cut, o_.max_print).size());
    }
    Put(LibraryTextForConsole(cut, o_.raw));
    if (cut.size() < gbk.size()) {
      std::printf(" ... (%zu bytes in all)", gbk.size());
    }
    std::fputc('\n', stdout);
  }

  static void Put(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

  const Options& o_;
  Library library_;
  Trace trace_;
  InitFn init_ = nullptr;
  ConfigFn config_ = nullptr;
  BusinessFn business_ = nullptr;
  ResultFn result_ = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (int status = ParseOptions(argc, argv, &options); status != 0) {
    return status;
  }
  SetUpConsole();
  std::string library =
      options.library.empty() ? DefaultLibrary(argv[0]) : FromStartDirectory(options.library);
  if (!options.trace.empty()) {
    options.trace = FromStartDirectory(options.trace);
  }
  std::string error;
  // The card reader under the vendor's name, in a folder first in the library search.
  ScratchFolder card_folder;
  if (!options.card_reader.empty()) {
    const char* prepared = std::getenv("QXCALL_CARD_READER_DIR");
    std::error_code ec;
    if (prepared != nullptr && *prepared != '\0' &&
        std::filesystem::exists(std::filesystem::path(prepared) / kCardReaderName, ec)) {
      card_folder.Adopt(prepared);
    } else {
      std::string from = FromStartDirectory(options.card_reader);
      if (!card_folder.Create("card-reader", &error)) {
        std::fprintf(stderr, "qxcall: --card-reader: %s\n", error.c_str());
        return 2;
      }
      std::filesystem::copy_file(from, std::filesystem::path(card_folder.path()) / kCardReaderName,
                                 ec);
      if (ec || !PutFirstInLibrarySearch(card_folder.path(), argv, &error)) {
        std::fprintf(stderr, "qxcall: --card-reader %s: %s\n", from.c_str(),
                     ec ? ec.message().c_str() : error.c_str());
        return 2;
      }
    }
  }
  if (!options.dir.empty() && !ChangeDirectory(options.dir, &error)) {
    std::fprintf(stderr, "qxcall: cannot change to %s: %s\n", options.dir.c_str(), error.c_str());
    return 2;
  }
  std::vector<std::string> requests;
  for (size_t i = 0; i < options.requests.size(); ++i) {
    std::string request;
    if (!ReadRequest(options.requests[i], &request)) {
      return 2;
    }
    if (!options.input_gbk) {
      WarnUnlessUtf8("request #" + std::to_string(i + 1), request);
    }
    requests.push_back(options.input_gbk ? request : Utf8ToGbk(request));
  }

  // --set without --write-config: the library runs in a scratch folder holding a copy of the
  // site's qx_interface.ini, so that config_handle rewrites the copy alone.
  ScratchFolder config_folder;
  if (!options.settings.empty() && !options.write_config && !options.version) {
    std::error_code ec;
    bool copied = config_folder.Create("config", &error);
    if (copied && std::filesystem::exists(kConfigFile, ec)) {
      copied = std::filesystem::copy_file(
          kConfigFile, std::filesystem::path(config_folder.path()) / kConfigFile, ec);
      error = ec.message();
    }
    if (!copied || !ChangeDirectory(config_folder.path(), &error)) {
      std::fprintf(stderr, "qxcall: --set: cannot prepare a copy of %s: %s\n", kConfigFile,
                   error.c_str());
      return 2;
    }
    std::fprintf(stderr,
                 "qxcall: --set works on a copy of %s in %s (removed at the end); the site's file "
                 "is left as it is (--write-config rewrites it)\n",
                 kConfigFile, config_folder.path().c_str());
  }

  Host host(options);
  if (int status = host.Load(library); status != 0) {
    if (options.version) {
      std::printf("qxcall %s\n", QX_INTERFACE_VERSION_STRING);
    }
    return status;
  }
  if (options.version) {
    host.PrintVersion();
    return 0;
  }
  bool ok = true;
  if (!options.settings.empty() && !host.Config(&ok)) {
    return 2;
  }
  if (options.init) {
    ok = host.Init();
  }

  std::vector<std::vector<double>> times(requests.size());
  for (long round = 1; round <= options.repeat; ++round) {
    for (size_t i = 0; i < requests.size(); ++i) {
      Timing timing;
      ok = host.Business(requests[i], static_cast<int>(i) + 1, round == 1, &timing);
      times[i].push_back(timing.ms);
      if (round > 1 && !ok) {
        std::printf("round %ld: business_handle #%zu (FunctionID %s) failed\n", round, i + 1,
                    FunctionIdOf(requests[i]).c_str());
      }
    }
  }
  if (options.repeat > 1 && !requests.empty()) {
    std::vector<double> all;
    for (const auto& per_request : times) {
      all.insert(all.end(), per_request.begin(), per_request.end());
    }
    std::printf("time per call, %ld rounds of %zu calls (ms): %s\n", options.repeat,
                requests.size(), Spread(all).c_str());
    for (size_t i = 0; i < requests.size(); ++i) {
      std::printf("  #%zu (FunctionID %s): %s\n", i + 1, FunctionIdOf(requests[i]).c_str(),
                  Spread(times[i]).c_str());
    }
  }
  std::fflush(stdout);
  return ok ? 0 : 1;
}
