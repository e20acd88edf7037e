#include "computer-use/platform/linux/atspi_toolkits.h"

#include <cctype>

#include "common/text.h"

namespace vorn::platform::atspi {

bool answersPropertyBatches(const Toolkit& toolkit) {
  std::string name = text::lowercase(toolkit.name);
  return name == "gtk" || name == "gail" || name == "gecko" || name == "chromium";
}

bool isGtk4(const Toolkit& toolkit) {
  return text::lowercase(toolkit.name) == "gtk" && toolkit.version.starts_with("4.");
}

bool isClassName(std::string_view name) {
  if (name.empty() || !std::isupper(static_cast<unsigned char>(name.front()))) return false;
  bool hump = false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    auto c = static_cast<unsigned char>(name[i]);
    if (!std::isalnum(c)) return false;
    if (i > 0 && std::isupper(c) && std::islower(static_cast<unsigned char>(name[i - 1]))) {
      hump = true;
    }
  }
  return hump;
}

}  // namespace vorn::platform::atspi
