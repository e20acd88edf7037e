// What a large request costs the runner: write_file and apply_diff of N
// bytes must peak at no more than twice N plus 32 MiB resident (the request's
// text and its decoded record; any further copy of the content breaks it).
// The peak is the one /usr/bin/time reports for the whole run.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tests/support/git_sandbox.h"

namespace {

using namespace vorn::testing;

constexpr std::size_t kMiB = std::size_t{1} << 20;
constexpr std::size_t kContentBytes = 50 * kMiB;

// Lines of 80 bytes (`prefix`, x's, a line feed), `bytes` in all, written
// as the inside of a JSON string.
std::string jsonLines(std::size_t bytes, const std::string& prefix) {
  std::string line = prefix + std::string(79 - prefix.size(), 'x') + "\\n";
  std::string text;
  text.reserve(bytes + bytes / 80);
  for (std::size_t n = 0; n + 80 <= bytes; n += 80) text += line;
  return text;
}

struct Peak {
  std::size_t kib = 0;
  std::string answer;
};

// Runs the runner on the request in `requestFile` under /usr/bin/time.
Peak peakOf(const TempDir& dir, const std::string& requestFile) {
  // The sanitizer's quarantine would keep every freed buffer resident.
  std::string command = "ASAN_OPTIONS=quarantine_size_mb=0:detect_leaks=0 /usr/bin/time -f %M -o " +
                        dir.path() + "/peak " + VORN_AGENT_RUNNER + " < " + requestFile;
  Peak peak;
  peak.answer = sh("/", command, true);
  // After a failing run a line saying so comes first.
  std::string report = readText(dir.path() + "/peak");
  peak.kib = std::stoul(report.substr(report.rfind('\n', report.size() - 2) + 1));
  return peak;
}

std::string requestFile(const TempDir& dir, const std::string& json) {
  std::string path = dir.path() + "/request.json";
  std::ofstream(path, std::ios::binary) << json;
  return path;
}

// 2N + 32 MiB. Under the sanitizers the program starts larger and every
// byte it touches has an eighth of a byte of shadow; the bound grows by that.
std::size_t limitKiB(const TempDir& dir, std::size_t n) {
#ifdef VORN_SANITIZED
  std::size_t base = peakOf(dir, requestFile(dir, R"({"op":"ping"})")).kib;
  return base + (2 * n + 2 * n / 8 + 8 * kMiB) / 1024;
#else
  (void)dir;
  return (2 * n + 32 * kMiB) / 1024;
#endif
}

TEST(LargeRequestMemory, WriteFileHoldsTheContentAtMostTwice) {
  GitRepo repo;
  TempDir dir;
  std::string file = requestFile(dir, R"({"op":"write_file","workspace_root":")" + repo.root() +
                                          R"(","path":"big.txt","content":")" +
                                          jsonLines(kContentBytes, "") + "\"}");
  auto peak = peakOf(dir, file);
  EXPECT_NE(peak.answer.find(R"("written_bytes":52428800)"), std::string::npos) << peak.answer;
  EXPECT_LE(peak.kib, limitKiB(dir, kContentBytes));
}

// git apply itself holds a large hunk about three times over; the diff here
// creates a file that is already there, so git stops at its check and the
// peak is the runner's own: the request, the diff and its scratch file.
TEST(LargeRequestMemory, ApplyDiffHoldsTheDiffAtMostTwice) {
  GitRepo repo;
  TempDir dir;
  repo.write("new.txt", "in the way\n");
  std::string diff = R"(diff --git a/new.txt b/new.txt\nnew file mode 100644\n)"
                     R"(--- /dev/null\n+++ b/new.txt\n@@ -0,0 +1,)" +
                     std::to_string(kContentBytes / 80) + R"( @@\n)" +
                     jsonLines(kContentBytes, "+");
  // Without a final line feed the runner adds one: that too costs no copy.
  diff.resize(diff.size() - 2);
  std::string file = requestFile(dir, R"({"op":"apply_diff","dry_run":true,"workspace_root":")" +
                                          repo.root() + R"(","diff":")" + diff + "\"}");
  auto peak = peakOf(dir, file);
  EXPECT_NE(peak.answer.find("already exists in working directory"), std::string::npos)
      << peak.answer.substr(0, 300);
  EXPECT_LE(peak.kib, limitKiB(dir, kContentBytes));
}

}  // namespace
