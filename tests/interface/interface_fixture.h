// An InsuranceInterface over an in-memory file system and scripted prompts, with the real
// platform's HTTP client and XML documents (making a connection object does no network I/O).
#ifndef QX_TESTS_INTERFACE_INTERFACE_FIXTURE_H_
#define QX_TESTS_INTERFACE_INTERFACE_FIXTURE_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "interface/insurance_interface.h"
#include "platform/env.h"
#include "platform/http_client.h"
#include "support/fake_file_system.h"
#include "support/fake_prompts.h"

namespace qx::test {

class InterfaceTest : public ::testing::Test {
 protected:
  InterfaceTest() {
    env_ = platform::DefaultEnv();
    env_.files = &files_;
    env_.prompts = &prompts_;
    http_ = platform::NewHttpClient();
    env_.http = http_.get();
  }

  InsuranceInterface& Make() {
    iface_ = std::make_unique<InsuranceInterface>(env_);
    return *iface_;
  }

  std::string IniPath() const { return files_.current_directory + "/qx_interface.ini"; }

  platform::fake::FakeFileSystem files_;
  platform::fake::FakePrompts prompts_;
  std::unique_ptr<platform::HttpClient> http_;
  platform::Env env_;
  std::unique_ptr<InsuranceInterface> iface_;
};

}  // namespace qx::test

#endif  // QX_TESTS_INTERFACE_INTERFACE_FIXTURE_H_
