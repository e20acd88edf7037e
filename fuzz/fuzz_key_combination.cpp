// Any text as a key combination: the parser never fails in any other way than
// refusing, and the outcome repeats the caller's text or its normalised form.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "computer-use/input/hid.h"
#include "computer-use/input/key_combination.h"
#include "computer-use/platform/null_platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string normalized = HID::normalizeKeyText(text);
  auto combination = HID::parseKeyCombination(normalized);
  auto outcome = HID::postKeypress(text, vorn::platform::nullPlatform().input);
  if (!outcome.message) std::abort();
  if (combination) {
    if (!outcome.posted || *outcome.message != "hid:" + normalized) std::abort();
    // Only the four modifier flags can be set.
    if ((combination->flags & ~std::uint64_t{0x1E0000}) != 0) std::abort();
  } else if (outcome.posted || *outcome.message != "Unsupported key '" + std::string(text) + "'.") {
    std::abort();
  }
  return 0;
}
