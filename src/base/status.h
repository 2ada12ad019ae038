// Status: how an operation below the interface ended, as one value. Ok, or a kind of failure
// plus the words of whoever failed (the OS, libcurl, WinInet, the loader, the parser), taken as
// they were given, in the ANSI code page, at the platform edge where the failure is met. Callers
// decide from the kind; the words travel on to the message a clerk or host reads.
//
// Cheap to return when ok (an empty string); copied like any value.
#ifndef QX_BASE_STATUS_H_
#define QX_BASE_STATUS_H_

#include <cstdint>
#include <string>
#include <utility>

namespace qx {

class Status {
 public:
  enum class Kind : uint8_t {
    kOk,
    kNetwork,   // the network or the HTTP exchange itself (WinInet's "internet" failures)
    kRefused,   // our own refusal of what the peer asked (a redirect, a credential question)
    kLocal,     // this machine: a resource, a file, a library that cannot be loaded
    kNotFound,  // what was looked for is not there (a file, a library)
  };

  Status() = default;
  static Status Ok() { return Status(); }
  static Status Network(std::string words) { return Status(Kind::kNetwork, std::move(words)); }
  static Status Refused(std::string words) { return Status(Kind::kRefused, std::move(words)); }
  static Status Local(std::string words) { return Status(Kind::kLocal, std::move(words)); }
  static Status NotFound(std::string words) { return Status(Kind::kNotFound, std::move(words)); }

  bool ok() const { return kind_ == Kind::kOk; }
  Kind kind() const { return kind_; }
  // The failing party's own description; empty when ok.
  const std::string& words() const { return words_; }

 private:
  Status(Kind kind, std::string words) : kind_(kind), words_(std::move(words)) {}

  Kind kind_ = Kind::kOk;
  std::string words_;
};

}  // namespace qx

#endif  // QX_BASE_STATUS_H_
