#include "support/card_sim.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qx::test {

CardScratchDir::CardScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "qx-card-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed for " + pattern);
  }
  path_ = pattern;
}

CardScratchDir::~CardScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

ScopedEnvVar::ScopedEnvVar(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)) {
  if (const char* old = getenv(name_.c_str())) {
    old_ = old;
  }
  if (value) {
    setenv(name_.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

ScopedEnvVar::~ScopedEnvVar() {
  if (old_) {
    setenv(name_.c_str(), old_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

std::optional<std::string> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) {
    throw std::runtime_error("cannot write " + path);
  }
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    lines.push_back(line);
  }
  return lines;
}

std::string CardSimLibrary(const std::string& variant) {
  // "qxic" is the simulator itself, libqxic-sim.so; "qxic_no_start" its variant
  // libqxic-sim-no-start.so; any other name a file that was never built.
  std::string file = "qxic-sim" + variant.substr(std::min<size_t>(4, variant.size()));
  std::replace(file.begin(), file.end(), '_', '-');
  file = "lib" + file + ".so";
// tests/CMakeLists.txt names the definition after the target: QXIC_SIM_FILE.
#if defined(QXIC_SIM_FILE)
  return (std::filesystem::path(QXIC_SIM_FILE).parent_path() / file).string();
#else
  return file;
#endif
}

}  // namespace qx::test
