// The functions every answer with captured output goes through.
#include <benchmark/benchmark.h>

#include <string>

#include "agent-runner/protocol/response_encoder.h"
#include "common/text.h"
#include "common/utf8_prefix_capture.h"

namespace {

void captureAsciiStream(benchmark::State& state) {
  std::string chunk(std::size_t{1} << 20, 'x');
  for (auto _ : state) {
    vorn::text::Utf8PrefixCapture capture(16000, std::size_t{1} << 20);
    for (int i = 0; i < 16; ++i) capture.append(chunk);
    benchmark::DoNotOptimize(capture.finish());
  }
  state.SetBytesProcessed(state.iterations() * 16 * static_cast<int64_t>(chunk.size()));
}
BENCHMARK(captureAsciiStream);

void captureMultilingual(benchmark::State& state) {
  std::string text;
  while (text.size() < (std::size_t{1} << 20))
    text += "h\u00e9llo w\u00f6rld \u4f60\u597d \U0001F600 ";
  for (auto _ : state) {
    vorn::text::Utf8PrefixCapture capture(16000, std::size_t{1} << 20);
    capture.append(text);
    benchmark::DoNotOptimize(capture.finish());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(captureMultilingual);

void encodeFullAnswer(benchmark::State& state) {
  auto answer = vorn::success({.stdoutText = std::string(16000, 'a') + "/\n\"",
                               .stderrText = std::string(8000, 'b'),
                               .exitStatus = 0});
  for (auto _ : state) benchmark::DoNotOptimize(vorn::encodeResponse(answer));
}
BENCHMARK(encodeFullAnswer);

void trimLine(benchmark::State& state) {
  std::string line = "  \t git_status \u00a0\n";
  for (auto _ : state) benchmark::DoNotOptimize(vorn::text::trim(line));
}
BENCHMARK(trimLine);

}  // namespace
