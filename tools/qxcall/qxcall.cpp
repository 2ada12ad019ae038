// qxcall: try the insurance interface library from the command line, the way a hospital's
// system calls it. One process runs config_handle, init_handle and then each request in turn,
// so the login and user information of earlier requests carry over to later ones.
#include <dlfcn.h>
#include <iconv.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "qx_interface.h"

namespace {

using InitFn = int(QX_CALL*)(char*);
using ConfigFn = int(QX_CALL*)(const char*, const char*, const char*, const char*);
using BusinessFn = int(QX_CALL*)(const char*, char*);
using ResultFn = int(QX_CALL*)(char*);

constexpr char kUsage[] = R"(usage: qxcall [options] [REQUEST ...]

Loads the insurance interface library, as a hospital's system does, and runs:
  config_handle (when --set is given), init_handle (unless --no-init), then
  business_handle for each REQUEST in order, in one process, so that the login
  (FunctionID 0) and user information (FunctionID 8) of earlier requests are
  added to later ones. Each reply is printed with the call's result.

REQUEST is an XML text, or @FILE to read it from a file (@- reads standard input).

options:
  --library PATH|NAME  the library to load (default: libqx_interface.so beside
                       qxcall, else found by the loader's usual search)
  --dir DIR            change to DIR before loading: the library reads
                       qx_interface.ini from the current directory at load time
  --set KEY=VALUE      write KEY (server, port, servlet, com) of section [center]
                       with config_handle before init_handle; may be repeated
  --no-init            do not call init_handle
  --input gbk|utf8     encoding of the requests given (default utf8: they are
                       converted to GBK for the library)
  --raw                print replies as the library returns them (GBK bytes);
                       default: converted to UTF-8 for the terminal
  --buffer N           bytes offered to business_handle (default 65536); a reply
                       that does not fit is fetched with result_handle
  --quiet              print only the result lines
  --max-print N        print at most N bytes of each reply, then its length
  -h, --help           this text

exit status: 0 when the last call succeeded (init_handle 1, business_handle 0 or
more), 1 when it failed, 2 for a usage error or a library that cannot be loaded.
)";

std::string Convert(const char* to, const char* from, const std::string& in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    return in;
  }
  std::string out;
  out.reserve(in.size() * 3 / 2 + 16);
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  char chunk[65536];
  while (src_left > 0) {
    char* dst = chunk;
    size_t dst_left = sizeof chunk;
    size_t rc = iconv(cd, &src, &src_left, &dst, &dst_left);
    out.append(chunk, sizeof chunk - dst_left);
    if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
      out.push_back('?');
      ++src;
      --src_left;
    }
  }
  iconv_close(cd);
  return out;
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
    std::string beside = dir.substr(0, slash + 1) + "libqx_interface.so";
    if (access(beside.c_str(), R_OK) == 0) {
      return beside;
    }
    std::string lib = dir.substr(0, slash + 1) + "../lib/libqx_interface.so";
    if (access(lib.c_str(), R_OK) == 0) {
      return lib;
    }
  }
  return "libqx_interface.so";
}

// The FunctionID of a request, for the heading only.
std::string FunctionIdOf(const std::string& request) {
  std::string::size_type open = request.find("<FunctionID>");
  if (open == std::string::npos) {
    return "?";
  }
  open += 12;
  std::string::size_type close = request.find("</FunctionID>", open);
  return close == std::string::npos ? "?" : request.substr(open, close - open);
}

}  // namespace

int main(int argc, char** argv) {
  std::string library;
  std::string dir;
  std::vector<std::pair<std::string, std::string>> settings;
  std::vector<std::string> requests;
  bool init = true;
  bool raw = false;
  bool quiet = false;
  bool input_gbk = false;
  size_t buffer_size = 65536;
  size_t max_print = 0;  // 0: whole replies

  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](const char* name) -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "qxcall: %s needs a value\n", name);
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--library") {
      library = value("--library");
    } else if (arg == "--dir") {
      dir = value("--dir");
    } else if (arg == "--set") {
      std::string kv = value("--set");
      std::string::size_type eq = kv.find('=');
      if (eq == std::string::npos) {
        std::fprintf(stderr, "qxcall: --set takes KEY=VALUE\n");
        return 2;
      }
      settings.emplace_back(kv.substr(0, eq), kv.substr(eq + 1));
    } else if (arg == "--no-init") {
      init = false;
    } else if (arg == "--raw") {
      raw = true;
    } else if (arg == "--quiet") {
      quiet = true;
    } else if (arg == "--input") {
      std::string enc = value("--input");
      if (enc != "gbk" && enc != "utf8") {
        std::fprintf(stderr, "qxcall: --input takes gbk or utf8\n");
        return 2;
      }
      input_gbk = enc == "gbk";
    } else if (arg == "--max-print") {
      long n = std::strtol(value("--max-print").c_str(), nullptr, 10);
      if (n < 1) {
        std::fprintf(stderr, "qxcall: --max-print takes a positive number\n");
        return 2;
      }
      max_print = static_cast<size_t>(n);
    } else if (arg == "--buffer") {
      long n = std::strtol(value("--buffer").c_str(), nullptr, 10);
      if (n < 1 || n > (1L << 30)) {
        std::fprintf(stderr, "qxcall: --buffer takes 1 to 1073741824\n");
        return 2;
      }
      buffer_size = static_cast<size_t>(n);
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      std::fprintf(stderr, "qxcall: unknown option %s (see --help)\n", arg.c_str());
      return 2;
    } else {
      requests.push_back(arg);
    }
  }

  if (library.empty()) {
    library = DefaultLibrary(argv[0]);
  } else if (library.find('/') != std::string::npos && library[0] != '/') {
    // A relative path names a file from where qxcall was started, not from --dir.
    std::vector<char> cwd(4096);
    if (getcwd(cwd.data(), cwd.size()) != nullptr) {
      library = std::string(cwd.data()) + "/" + library;
    }
  }
  if (!dir.empty() && chdir(dir.c_str()) != 0) {
    std::fprintf(stderr, "qxcall: cannot change to %s: %s\n", dir.c_str(), std::strerror(errno));
    return 2;
  }
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    std::fprintf(stderr, "qxcall: cannot load %s: %s\n", library.c_str(), dlerror());
    return 2;
  }
  auto init_handle_fn = reinterpret_cast<InitFn>(dlsym(handle, "init_handle"));
  auto config_handle_fn = reinterpret_cast<ConfigFn>(dlsym(handle, "config_handle"));
  auto business_handle_fn = reinterpret_cast<BusinessFn>(dlsym(handle, "business_handle"));
  auto result_handle_fn = reinterpret_cast<ResultFn>(dlsym(handle, "result_handle"));
  if (!init_handle_fn || !config_handle_fn || !business_handle_fn || !result_handle_fn) {
    std::fprintf(stderr, "qxcall: %s lacks one of the four functions\n", library.c_str());
    return 2;
  }

  auto show = [&](const std::string& gbk) {
    std::string cut = gbk;
    if (max_print != 0 && cut.size() > max_print) {
      // Cut on a whole GBK character.
      size_t i = 0;
      while (i < max_print) {
        i += static_cast<unsigned char>(cut[i]) >= 0x81 ? 2 : 1;
      }
      cut.resize(i > max_print ? i - 2 : i);
    }
    std::string text = raw ? cut : Convert("UTF-8", "GBK", cut);
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (cut.size() < gbk.size()) {
      std::printf(" ... (%zu bytes in all)", gbk.size());
    }
    std::fputc('\n', stdout);
  };

  bool ok = true;
  if (!settings.empty()) {
    const char* values[4] = {nullptr, nullptr, nullptr, nullptr};
    const char* keys[4] = {"server", "port", "servlet", "com"};
    for (const auto& [key, val] : settings) {
      bool known = false;
      for (int k = 0; k < 4; ++k) {
        if (key == keys[k]) {
          values[k] = val.c_str();
          known = true;
        }
      }
      if (!known) {
        std::fprintf(stderr, "qxcall: unknown setting %s\n", key.c_str());
        return 2;
      }
    }
    int rc = config_handle_fn(values[0], values[1], values[2], values[3]);
    std::printf("config_handle -> %d\n", rc);
    ok = rc >= 0;
  }
  if (init) {
    std::string message(255, ' ');
    int rc = init_handle_fn(message.data());
    message.resize(std::strlen(message.c_str()));
    std::printf("init_handle -> %d  ", rc);
    std::fflush(stdout);
    show(message);
    ok = rc == 1;
  }

  int number = 0;
  for (const std::string& arg : requests) {
    std::string request;
    if (!ReadRequest(arg, &request)) {
      return 2;
    }
    if (!input_gbk) {
      request = Convert("GBK", "UTF-8", request);
    }
    // The buffer rule: a buffer of spaces as long as the space offered.
    std::vector<char> reply(buffer_size + 1, ' ');
    reply[buffer_size] = '\0';
    int rc = business_handle_fn(request.c_str(), reply.data());
    std::string text(reply.data());
    bool fetched = false;
    if (text.size() == buffer_size && text.find_first_not_of(' ') == std::string::npos) {
      // Nothing was copied: the reply is longer than the buffer. Ask for it.
      int length = result_handle_fn(nullptr);
      std::vector<char> whole(static_cast<size_t>(length) + 1);
      result_handle_fn(whole.data());
      text.assign(whole.data(), static_cast<size_t>(length));
      fetched = true;
    }
    ++number;
    std::printf("business_handle #%d (FunctionID %s) -> %d%s\n", number,
                FunctionIdOf(request).c_str(), rc,
                fetched ? "  (reply longer than the buffer: taken with result_handle)" : "");
    if (!quiet) {
      std::fflush(stdout);
      show(text);
    }
    ok = rc >= 0;
  }
  std::fflush(stdout);
  dlclose(handle);
  return ok ? 0 : 1;
}
