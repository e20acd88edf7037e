// Serve mode's line splitting over a real pipe.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "common/line_reader.h"

namespace {

using vorn::LineReader;

struct Read {
  std::string text;
  bool oversized;
  bool operator==(const Read&) const = default;
};

void PrintTo(const Read& r, std::ostream* os) {
  *os << testing::PrintToString(r.text) << (r.oversized ? " (oversized)" : "");
}

std::vector<Read> readAll(const std::string& input, std::size_t limit = 1 << 20) {
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  std::thread writer([&] {
    std::string_view rest = input;
    while (!rest.empty()) {
      ssize_t n = ::write(fds[1], rest.data(), rest.size());
      if (n <= 0) break;
      rest.remove_prefix(static_cast<std::size_t>(n));
    }
    ::close(fds[1]);
  });
  LineReader reader(fds[0], limit);
  std::vector<Read> lines;
  while (auto line = reader.next()) lines.push_back({std::string(line->text), line->oversized});
  writer.join();
  ::close(fds[0]);
  return lines;
}

TEST(LineReader, SplitsAtLineFeedsAndDropsCarriageReturnsBeforeThem) {
  EXPECT_EQ(
      readAll("a\n\nb\r\n \n\r\r\nc"),
      (std::vector<Read>{
          {"a", false}, {"", false}, {"b", false}, {" ", false}, {"\r", false}, {"c", false}}));
  EXPECT_EQ(readAll(""), std::vector<Read>{});
  EXPECT_EQ(readAll("\n"), (std::vector<Read>{{"", false}}));
  EXPECT_EQ(readAll(std::string("x\0y\n", 4)),
            (std::vector<Read>{{std::string("x\0y", 3), false}}));
}

TEST(LineReader, LinesAcrossManyReadsStayWhole) {
  std::string big(300'000, 'q');
  EXPECT_EQ(readAll(big + "\nend"), (std::vector<Read>{{big, false}, {"end", false}}));
}

TEST(LineReader, OversizedLinesAreReportedWithoutTheirBytes) {
  std::string big(200'000, 'q');
  EXPECT_EQ(readAll("ok\n" + big + "\nnext\n" + big, 1000),
            (std::vector<Read>{{"ok", false}, {"", true}, {"next", false}, {"", true}}));
}

}  // namespace
