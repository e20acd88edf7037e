// Any bytes as sway's tree: parsing either refuses or gives windows whose
// strings are valid UTF-8; every window found has an exposure, can be found
// again by its id, and the window chosen for a pid is one of that pid's.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/text.h"
#include "computer-use/platform/wayland/sway_desktop.h"
#include "computer-use/platform/wayland/sway_ipc.h"
#include "computer-use/platform/wayland/sway_tree.h"

namespace sway = vorn::platform::wayland::sway;

namespace {

void checkText(const std::optional<std::string>& s) {
  if (s && !vorn::text::isValidUtf8(*s)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // The reply header reader takes the first 14 bytes.
  if (auto header = sway::parseHeader(bytes.substr(0, 14))) {
    if (sway::header(static_cast<sway::Message>(header->type), header->length) !=
        bytes.substr(0, 14)) {
      std::abort();
    }
  }
  auto tree = sway::parseTree(bytes);
  if (!tree) return 0;
  for (const auto& w : tree->windows) {
    checkText(w.title);
    checkText(w.appId);
    checkText(w.x11Class);
    (void)sway::exposure(*tree, w);
    if (sway::findWindow(*tree, w.id) == nullptr) std::abort();
    if (w.pid) {
      auto pid = static_cast<std::int32_t>(*w.pid);
      const sway::Window* chosen =
          vorn::platform::wayland::windowOf(*tree, pid, w.title.value_or(""));
      if (chosen != nullptr && chosen->pid != pid) std::abort();
    }
  }
  return 0;
}
