#include "computer-use/platform/linux/atspi_structure.h"

#include "common/text.h"
#include "computer-use/platform/linux/atspi_toolkits.h"

namespace vorn::platform::atspi {

bool onlyEmbeddedObjects(std::string_view text) {
  constexpr std::string_view kEmbedded = "\xEF\xBF\xBC";  // U+FFFC in UTF-8
  for (;;) {
    text = text::trim(text);
    if (!text.starts_with(kEmbedded)) return text.empty();
    text.remove_prefix(kEmbedded.size());
  }
}

bool carriesNothing(const Facts& f, bool classNamesAreNames) {
  if (!f.basicsRead || f.basicsError != kAXErrorSuccess || !f.valueRead) return false;
  if (!isStructural(f.role) || has(f.states, kStateEditable)) return false;
  std::string_view name = text::trim(f.name);
  if (!name.empty() && (classNamesAreNames || !isClassName(name))) return false;
  if (!text::trim(f.description).empty()) return false;
  if (!f.value) return true;
  auto* text = std::get_if<std::string>(&*f.value);
  return text != nullptr && onlyEmbeddedObjects(*text);
}

}  // namespace vorn::platform::atspi
