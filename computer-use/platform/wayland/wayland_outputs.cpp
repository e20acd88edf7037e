// Outputs and their xdg-output descriptions are asked for together and read
// after one round trip: the compositor answers a bind with the object's state
// at once, and later with every change.
#include "computer-use/platform/wayland/wayland_outputs.h"

#include <wayland-client.h>

#include <algorithm>

#include "xdg-output-unstable-v1-client-protocol.h"

namespace vorn::platform::wayland {

struct Outputs::Entry {
  Output output;
  zxdg_output_v1* xdg = nullptr;
  bool logicalKnown = false;
  std::int32_t modeWidth = 0, modeHeight = 0;

  Output current() const {
    Output o = output;
    if (!logicalKnown || o.logical.width <= 0 || o.logical.height <= 0) {
      o.logical.width = modeWidth / o.scale;
      o.logical.height = modeHeight / o.scale;
    }
    return o;
  }
};

namespace {

using Entry = Outputs::Entry;

void outputGeometry(void* data, wl_output*, std::int32_t x, std::int32_t y, std::int32_t,
                    std::int32_t, std::int32_t, const char*, const char*, std::int32_t) {
  auto* e = static_cast<Entry*>(data);
  if (!e->logicalKnown) e->output.logical.x = x, e->output.logical.y = y;
}

void outputMode(void* data, wl_output*, std::uint32_t flags, std::int32_t width,
                std::int32_t height, std::int32_t) {
  auto* e = static_cast<Entry*>(data);
  if (flags & WL_OUTPUT_MODE_CURRENT) e->modeWidth = width, e->modeHeight = height;
}

void outputDone(void*, wl_output*) {}

void outputScale(void* data, wl_output*, std::int32_t factor) {
  static_cast<Entry*>(data)->output.scale = factor > 0 ? factor : 1;
}

const wl_output_listener kOutputListener = {outputGeometry, outputMode, outputDone, outputScale};

void xdgPosition(void* data, zxdg_output_v1*, std::int32_t x, std::int32_t y) {
  auto* e = static_cast<Entry*>(data);
  e->output.logical.x = x;
  e->output.logical.y = y;
  e->logicalKnown = true;
}

void xdgSize(void* data, zxdg_output_v1*, std::int32_t width, std::int32_t height) {
  auto* e = static_cast<Entry*>(data);
  e->output.logical.width = width;
  e->output.logical.height = height;
}

void xdgDone(void*, zxdg_output_v1*) {}

void xdgName(void* data, zxdg_output_v1*, const char* name) {
  static_cast<Entry*>(data)->output.name = name;
}

void xdgDescription(void*, zxdg_output_v1*, const char*) {}

const zxdg_output_v1_listener kXdgListener = {xdgPosition, xdgSize, xdgDone, xdgName,
                                              xdgDescription};

}  // namespace

std::unique_ptr<Outputs> Outputs::read(Display& display, Clock::time_point deadline) {
  std::unique_ptr<Outputs> outputs(new Outputs);
  zxdg_output_manager_v1* manager = nullptr;
  if (const auto* global = display.find(zxdg_output_manager_v1_interface.name)) {
    manager = static_cast<zxdg_output_manager_v1*>(
        display.bind(*global, &zxdg_output_manager_v1_interface, 3));
    outputs->xdgManager_ = manager;
  }
  for (const auto& global : display.globals()) {
    if (global.interface != wl_output_interface.name) continue;
    auto entry = std::make_unique<Entry>();
    entry->output.proxy = static_cast<wl_output*>(display.bind(global, &wl_output_interface, 2));
    wl_output_add_listener(entry->output.proxy, &kOutputListener, entry.get());
    if (manager != nullptr) {
      entry->xdg = zxdg_output_manager_v1_get_xdg_output(manager, entry->output.proxy);
      zxdg_output_v1_add_listener(entry->xdg, &kXdgListener, entry.get());
    }
    outputs->entries_.push_back(std::move(entry));
  }
  if (!display.roundtrip(deadline)) return nullptr;
  return outputs;
}

Outputs::~Outputs() {
  for (auto& entry : entries_) {
    if (entry->xdg != nullptr) zxdg_output_v1_destroy(entry->xdg);
    wl_output_destroy(entry->output.proxy);
  }
  if (xdgManager_ != nullptr) {
    zxdg_output_manager_v1_destroy(static_cast<zxdg_output_manager_v1*>(xdgManager_));
  }
}

std::vector<Output> Outputs::list() const {
  std::vector<Output> list;
  for (const auto& entry : entries_) list.push_back(entry->current());
  return list;
}

Frame Outputs::layout() const {
  std::vector<Frame> frames;
  for (const auto& entry : entries_) frames.push_back(entry->current().logical);
  return boundingBox(frames);
}

Frame boundingBox(const std::vector<Frame>& frames) {
  if (frames.empty()) return {};
  double left = frames[0].x, top = frames[0].y;
  double right = left + frames[0].width, bottom = top + frames[0].height;
  for (const auto& f : frames) {
    left = std::min(left, f.x);
    top = std::min(top, f.y);
    right = std::max(right, f.x + f.width);
    bottom = std::max(bottom, f.y + f.height);
  }
  return {left, top, right - left, bottom - top};
}

bool contains(const Frame& outer, const Frame& inner) {
  return inner.x >= outer.x && inner.y >= outer.y &&
         inner.x + inner.width <= outer.x + outer.width &&
         inner.y + inner.height <= outer.y + outer.height;
}

}  // namespace vorn::platform::wayland
