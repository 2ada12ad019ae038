// How the message model scales: unpacking a recordset is linear in the reply (10k, 50k, 100k
// rows), and the GBK conversion runs at a steady rate for ASCII-heavy and Chinese-heavy text.
#include <benchmark/benchmark.h>

#include <string>

#include "base/status_codes.h"
#include "message/reply.h"
#include "message/request.h"
#include "message/row_store.h"
#include "platform/default_parts.h"
#include "platform/posix/code_page.h"

namespace {

// "王小明" and "处理成功" in GBK.
const std::string kName = "\xCD\xF5\xD0\xA1\xC3\xF7";
const std::string kDone = "\xB4\xA6\xC0\xED\xB3\xC9\xB9\xA6";

std::string Reply(int64_t rows) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"GBK\"?>\r\n<Program>\r\n\t<ErrorNo>1</ErrorNo>"
      "\r\n\t<ErrorMessage>" +
      kDone + "</ErrorMessage>\r\n\t<result>\r\n";
  for (int64_t r = 1; r <= rows; ++r) {
    std::string n = std::to_string(r);
    xml += "\t\t<row" + n + "><card_no>C" + n + "</card_no><name>" + kName + n + "</name><amount>" +
           n + ".50</amount><memo>" + kDone + "</memo></row" + n + ">\r\n";
  }
  xml += "\t</result>\r\n</Program>\r\n";
  return xml;
}

void BM_UnpackRecordSet(benchmark::State& state) {
  const std::string reply = Reply(state.range(0));
  auto& dom = qx::platform::posix::DefaultXmlFactory();
  qx::message::RowStore rows;
  for (auto _ : state) {
    qx::message::Reply parsed(dom, reply);  // a reply is parsed once per call
    if (parsed.UnpackRecordSet("result", &rows) != qx::status::kOk ||
        rows.row_count() != state.range(0)) {
      state.SkipWithError("unpacking failed");
      break;
    }
  }
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(reply.size()));
  state.counters["reply_bytes"] = static_cast<double>(reply.size());
}
BENCHMARK(BM_UnpackRecordSet)
    ->Arg(10000)
    ->Arg(50000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// One row with that many items: a linear walk per item would be quadratic.
void BM_UnpackWideRow(benchmark::State& state) {
  std::string reply = "<P><rs><row1>";
  for (int64_t i = 0; i < state.range(0); ++i) {
    reply += "<item" + std::to_string(i) + ">v</item" + std::to_string(i) + ">";
  }
  reply += "</row1></rs></P>";
  auto& dom = qx::platform::posix::DefaultXmlFactory();
  qx::message::RowStore rows;
  for (auto _ : state) {
    qx::message::Reply parsed(dom, reply);
    parsed.UnpackRecordSet("rs", &rows);
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_UnpackWideRow)
    ->Arg(10000)
    ->Arg(50000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// About 1 MB each way; range(0) = 0: a reply as above (mostly ASCII markup), 1: Chinese text.
void BM_CodePage(benchmark::State& state, bool to_utf8) {
  std::string ansi;
  if (state.range(0) == 0) {
    ansi = Reply(9000);
  } else {
    while (ansi.size() < 1000000) ansi += kName + kDone + "12 ";
  }
  qx::platform::CodePage code_page;
  const std::string utf8 = code_page.ToUtf8(ansi);
  const std::string& input = to_utf8 ? ansi : utf8;
  std::string out;
  for (auto _ : state) {
    out.clear();
    if (to_utf8) {
      code_page.AppendUtf8(input, &out);
    } else {
      code_page.AppendAnsi(input, &out);
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(input.size()));
  state.counters["input_bytes"] = static_cast<double>(input.size());
}
BENCHMARK_CAPTURE(BM_CodePage, gbk_to_utf8, true)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CodePage, utf8_to_gbk, false)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_InsertBoth(benchmark::State& state) {
  const std::string request =
      "<?xml version=\"1.0\"?><Program><FunctionID>21</FunctionID>"
      "<parameters><card_no>C1</card_no></parameters></Program>";
  auto& dom = qx::platform::posix::DefaultXmlFactory();
  const qx::message::UserInfo user{"3301", "A0017", kName};
  for (auto _ : state) {
    qx::message::Request completed(dom, request);
    if (!completed.InsertUserInfo(user) || !completed.InsertLoginInfo("login")) {
      state.SkipWithError("assembly failed");
      break;
    }
    benchmark::DoNotOptimize(completed.Completed());
  }
}
BENCHMARK(BM_InsertBoth)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
