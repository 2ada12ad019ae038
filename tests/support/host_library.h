// The built shared library loaded as a host loads it: dlopen by path, the four functions looked
// up by name. The library fixes its configuration path from the current directory when it is
// loaded, so a HostLibrary changes into its own scratch directory first (and back afterwards),
// and each HostLibrary is a fresh load: the library is unloaded again when it goes.
#ifndef QX_TESTS_SUPPORT_HOST_LIBRARY_H_
#define QX_TESTS_SUPPORT_HOST_LIBRARY_H_

#include <string>

#include "qx_interface.h"

namespace qx::test {

class HostLibrary {
 public:
  // Writes ini (when not empty) as qx_interface.ini in a new scratch directory, changes into it
  // and loads the library.
  explicit HostLibrary(const std::string& ini);
  ~HostLibrary();
  HostLibrary(const HostLibrary&) = delete;
  HostLibrary& operator=(const HostLibrary&) = delete;

  // An ini for a center on 127.0.0.1:port with the given servlet and card port.
  static std::string IniFor(int port, const std::string& servlet = "/qx/servlet", int com = 1);

  int Init();  // init_handle with a 256-space buffer; the message in last_message()
  int Config(const char* server, const char* port, const char* servlet, const char* com);

  // business_handle with a buffer of `spaces` spaces.
  int Business(const std::string& request, std::size_t spaces = 1 << 20);

  // The exported business_handle itself, for hosts that call it from several threads.
  int(QX_CALL* business_function() const)(const char*, char*) { return business_; }

  const std::string& last_message() const { return message_; }
  const std::string& directory() const { return dir_; }

 private:
  void* handle_ = nullptr;
  std::string dir_;
  std::string saved_cwd_;
  int(QX_CALL* init_)(char*) = nullptr;
  int(QX_CALL* config_)(const char*, const char*, const char*, const char*) = nullptr;
  int(QX_CALL* business_)(const char*, char*) = nullptr;
  std::string message_;
};

}  // namespace qx::test

#endif  // QX_TESTS_SUPPORT_HOST_LIBRARY_H_
