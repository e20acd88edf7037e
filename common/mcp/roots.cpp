#include "common/mcp/roots.h"

namespace vorn::mcp {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    int high = hexValue(text[i + 1]), low = hexValue(text[i + 2]);
    if (high < 0 || low < 0 || (high == 0 && low == 0)) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

}  // namespace

std::optional<std::string> filePathFromUri(std::string_view uri) {
  constexpr std::string_view kScheme = "file://";
  if (uri.size() < kScheme.size() || uri.substr(0, kScheme.size()) != kScheme) return std::nullopt;
  std::string_view rest = uri.substr(kScheme.size());
  std::size_t slash = rest.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  std::string_view host = rest.substr(0, slash);
  if (!host.empty() && host != "localhost") return std::nullopt;
  std::string_view path = rest.substr(slash);
  if (path.find_first_of("?#") != std::string_view::npos) return std::nullopt;
  return percentDecode(path);
}

std::optional<std::vector<Root>> readRoots(const nlohmann::json& result) {
  if (!result.is_object()) return std::nullopt;
  auto list = result.find("roots");
  if (list == result.end() || !list->is_array()) return std::nullopt;
  std::vector<Root> roots;
  for (const auto& entry : *list) {
    if (!entry.is_object() || !entry.contains("uri") || !entry["uri"].is_string())
      return std::nullopt;
    Root root{.uri = entry["uri"].get<std::string>()};
    if (auto name = entry.find("name"); name != entry.end() && name->is_string()) {
      root.name = name->get<std::string>();
    }
    root.path = filePathFromUri(root.uri);
    roots.push_back(std::move(root));
  }
  return roots;
}

}  // namespace vorn::mcp
