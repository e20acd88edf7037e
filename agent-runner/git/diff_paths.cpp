#include "agent-runner/git/diff_paths.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace VornAgentRunnerMain {
namespace {

// Git's C quoting: the usual one-letter escapes and three octal digits.
std::optional<char> unescape(std::string_view s, std::size_t& i) {
  static constexpr std::string_view kLetters = "abtnvfr\"\\";
  static constexpr std::string_view kValues = "\a\b\t\n\v\f\r\"\\";
  if (i >= s.size()) return std::nullopt;
  if (auto k = kLetters.find(s[i]); k != std::string_view::npos) {
    ++i;
    return kValues[k];
  }
  if (i + 3 > s.size()) return std::nullopt;
  int value = 0;
  for (int d = 0; d < 3; ++d, ++i) {
    if (s[i] < '0' || s[i] > '7') return std::nullopt;
    value = value * 8 + (s[i] - '0');
  }
  if (value > 0377) return std::nullopt;
  return static_cast<char>(value);
}

// A C-quoted name at the start of `text`, and where it ends (after the
// closing quote); nothing when `text` does not start with a well-formed one.
std::optional<std::pair<std::string, std::size_t>> quotedName(std::string_view text) {
  if (text.size() < 2 || text.front() != '"') return std::nullopt;
  std::string name;
  std::size_t i = 1;
  while (i < text.size()) {
    char c = text[i++];
    if (c == '"') return std::pair{std::move(name), i};
    if (c != '\\') {
      name += c;
      continue;
    }
    auto escaped = unescape(text, i);
    if (!escaped) return std::nullopt;
    name += *escaped;
  }
  return std::nullopt;
}

std::string_view withoutPrefix(std::string_view name, std::string_view prefix) {
  return name.starts_with(prefix) ? name.substr(prefix.size()) : name;
}

// git apply -p1: the first component goes.
std::optional<std::string_view> stripped(std::string_view name) {
  std::size_t slash = name.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  return name.substr(slash + 1);
}

class Reader {
 public:
  void line(std::string_view text) {
    if (text.ends_with('\r')) text.remove_suffix(1);
    std::string_view previousOld = std::exchange(pendingOld_, {});
    bool hadOld = std::exchange(hasPendingOld_, false);
    if (text.starts_with("diff --git ")) {
      flushSection();
      gitHeader(text.substr(11));
    } else if (text.starts_with("deleted file mode")) {
      sectionDeleted_ = true;
    } else if (text.starts_with("--- ")) {
      oldSide(text.substr(4));
    } else if (text.starts_with("+++ ")) {
      newSide(text.substr(4), hadOld ? std::optional(previousOld) : std::nullopt);
    } else {
      movedName(text);
    }
  }

  DiffNames finish() {
    flushSection();
    return {sortedUnique(std::move(named_)), sortedUnique(std::move(affected_))};
  }

 private:
  static std::vector<std::string> sortedUnique(std::vector<std::string> items) {
    std::sort(items.begin(), items.end());
    items.erase(std::unique(items.begin(), items.end()), items.end());
    return items;
  }

  // A name as written on a line, in every form git may read it.
  void name(std::string_view written, std::string_view prefix) {
    named_.emplace_back(withoutPrefix(written, prefix));
    if (auto rest = stripped(written)) named_.emplace_back(*rest);
    if (auto quoted = quotedName(written)) {
      named_.push_back(quoted->first);
      if (auto rest = stripped(quoted->first)) named_.emplace_back(*rest);
    }
  }

  void oldSide(std::string_view written) {
    if (written.starts_with("/dev/null")) return;
    name(written, "a/");
    pendingOld_ = withoutPrefix(written, "a/");
    hasPendingOld_ = true;
  }

  void newSide(std::string_view written, std::optional<std::string_view> old) {
    if (!written.starts_with("/dev/null")) {
      name(written, "b/");
      affected_.emplace_back(withoutPrefix(written, "b/"));
    } else if (old) {
      affected_.emplace_back(*old);  // a deletion: the old side goes
    }
  }

  void movedName(std::string_view text) {
    static constexpr std::string_view kMoves[] = {"rename from ", "rename to ", "copy from ",
                                                  "copy to "};
    for (auto move : kMoves) {
      if (!text.starts_with(move)) continue;
      std::string_view written = text.substr(move.size());
      name(written, "");
      if (move != "copy from ") affected_.emplace_back(written);
      return;
    }
  }

  // "diff --git A B": git takes a name from it only when both sides name the
  // same file (past their first component) or both are quoted.
  void gitHeader(std::string_view rest) {
    if (auto first = quotedName(rest); first && first->second < rest.size()) {
      std::string_view second = rest.substr(first->second + 1);
      name(rest.substr(0, first->second), "a/");
      name(second, "b/");
      auto secondName = quotedName(second);
      sectionOld_ = first->first;
      sectionNew_ = secondName ? secondName->first : std::string(second);
      for (auto* side : {&sectionOld_, &sectionNew_})
        *side = std::string(stripped(*side).value_or(*side));
      sectionKnown_ = true;
      return;
    }
    if (rest.size() % 2 == 0) return;
    std::size_t middle = rest.size() / 2;
    std::string_view a = rest.substr(0, middle), b = rest.substr(middle + 1);
    if (rest[middle] != ' ' || stripped(a) != stripped(b) || !stripped(a)) return;
    name(a, "a/");
    name(b, "b/");
    sectionOld_ = withoutPrefix(a, "a/");
    sectionNew_ = withoutPrefix(b, "b/");
    sectionKnown_ = true;
  }

  void flushSection() {
    if (sectionKnown_) affected_.push_back(sectionDeleted_ ? sectionOld_ : sectionNew_);
    sectionKnown_ = sectionDeleted_ = false;
  }

  std::vector<std::string> named_;
  std::vector<std::string> affected_;
  std::string_view pendingOld_;
  bool hasPendingOld_ = false;
  std::string sectionOld_, sectionNew_;
  bool sectionKnown_ = false;
  bool sectionDeleted_ = false;
};

}  // namespace

DiffNames readDiffNames(std::string_view diff) {
  Reader reader;
  std::size_t start = 0;
  while (start < diff.size()) {
    std::size_t end = diff.find('\n', start);
    if (end == std::string_view::npos) end = diff.size();
    reader.line(diff.substr(start, end - start));
    start = end + 1;
  }
  return reader.finish();
}

std::vector<std::string> collectAffectedPaths(std::string_view diff) {
  return readDiffNames(diff).affected;
}

std::optional<std::string> unquoteDiffPath(std::string_view path) {
  auto quoted = quotedName(path);
  if (!quoted) return std::nullopt;
  // Anything after the closing quote (a timestamp after a tab) is not part
  // of the name.
  return std::string(withoutPrefix(quoted->first, "b/"));
}

std::vector<std::string> skippedPatchNames(std::string_view verboseOutput) {
  static constexpr std::string_view kOpen = "Skipped patch '";
  static constexpr std::string_view kClose = "'.";
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start < verboseOutput.size()) {
    std::size_t end = verboseOutput.find('\n', start);
    if (end == std::string_view::npos) end = verboseOutput.size();
    std::string_view line = verboseOutput.substr(start, end - start);
    if (line.starts_with(kOpen) && line.ends_with(kClose) &&
        line.size() >= kOpen.size() + kClose.size()) {
      names.emplace_back(line.substr(kOpen.size(), line.size() - kOpen.size() - kClose.size()));
    }
    start = end + 1;
  }
  return names;
}

}  // namespace VornAgentRunnerMain
