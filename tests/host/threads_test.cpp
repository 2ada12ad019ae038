// A host that calls from several threads: each call waits its turn, and every thread gets its
// own reply, whole, in its own buffer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/center_sim_process.h"
#include "support/fake_dialog.h"
#include "support/gbk.h"
#include "support/host_library.h"

namespace qx::test {
namespace {

constexpr int kThreads = 8;
constexpr int kCallsPerThread = 200;

TEST(Threads, OverlappingCallsAreSerialisedAndEachGetsItsOwnReply) {
  FakeDialog dialog;
  CenterSimProcess sim;
  ASSERT_TRUE(sim.ok()) << sim.error();
  HostLibrary host(HostLibrary::IniFor(sim.port()));
  ASSERT_EQ(host.Init(), 1);
  ASSERT_EQ(host.Business("<Program><FunctionID>0</FunctionID><parameters><user>admin</user>"
                          "<password>123456</password></parameters></Program>"),
            0);
  ASSERT_EQ(host.Business("<Program><FunctionID>8</FunctionID></Program>"), 0);

  auto business = host.business_function();
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::vector<char> buffer(8192);
      for (int i = 0; i < kCallsPerThread; ++i) {
        // A personal number of its own for every call: the reply names it back.
        const std::string indi = "T" + std::to_string(t) + "C" + std::to_string(i);
        const std::string request = "<Program><FunctionID>11</FunctionID><parameters><indi_id>" +
                                    indi + "</indi_id></parameters></Program>";
        std::memset(buffer.data(), ' ', buffer.size() - 1);
        buffer.back() = '\0';
        const int rc = business(request.c_str(), buffer.data());
        const std::string reply(buffer.data());
        if (rc != 0 || reply.find("<ErrorNo>1</ErrorNo>") == std::string::npos ||
            reply.find("<indi_id>" + indi + "</indi_id>") == std::string::npos ||
            reply.size() < 40 || reply.compare(reply.size() - 10, 10, "</Program>") != 0) {
          ++wrong;
        }
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(wrong.load(), 0);

  // The center saw every request whole, each with the user and the login blocks.
  const std::vector<CenterSimRequest> seen = sim.Requests();
  ASSERT_EQ(seen.size(), 2u + kThreads * kCallsPerThread);
  int complete = 0;
  for (std::size_t i = 2; i < seen.size(); ++i) {
    const std::string& body = seen[i].body;
    complete += body.find("<center_id>430100</center_id>") != std::string::npos &&
                body.find("<add1>QXTOKEN-20240001</add1>") != std::string::npos &&
                body.compare(body.size() - 10, 10, "</Program>") == 0;
  }
  EXPECT_EQ(complete, kThreads * kCallsPerThread);
}

}  // namespace
}  // namespace qx::test
