// Helpers for the card tests: a scratch directory, environment variables set for one test, whole
// files as bytes, and where the simulated card reader libraries were built.
#ifndef QX_TESTS_SUPPORT_CARD_SIM_H_
#define QX_TESTS_SUPPORT_CARD_SIM_H_

#include <optional>
#include <string>
#include <vector>

namespace qx::test {

// A fresh directory under the system's temporary directory, removed with its files at the end.
class CardScratchDir {
 public:
  CardScratchDir();
  CardScratchDir(const CardScratchDir&) = delete;
  CardScratchDir& operator=(const CardScratchDir&) = delete;
  ~CardScratchDir();
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Sets (or, with nullopt, unsets) an environment variable and puts the old value back at the
// end of the scope.
class ScopedEnvVar {
 public:
  ScopedEnvVar(std::string name, const std::optional<std::string>& value);
  ScopedEnvVar(const ScopedEnvVar&) = delete;
  ScopedEnvVar& operator=(const ScopedEnvVar&) = delete;
  ~ScopedEnvVar();

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// The whole file; nullopt when it cannot be read.
std::optional<std::string> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
// The lines of a file (without their line breaks); empty when it does not exist.
std::vector<std::string> ReadLines(const std::string& path);

// The simulated card reader library (libqxic-sim.so), or a variant of it ("qxic_no_start" gives
// libqxic-sim-no-start.so beside it).
std::string CardSimLibrary(const std::string& variant = "qxic");

}  // namespace qx::test

#endif  // QX_TESTS_SUPPORT_CARD_SIM_H_
