// A screenshot's parts in process, on a 1000x700 window of the benchmark's
// own: finding the window and reading its pixels over a connection of the
// capture's own, and encoding them as PNG. Needs $DISPLAY (run under
// scripts/with-desktop); bench/compare-computer-use runs it.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <optional>
#include <variant>

#include "computer-use/capture/png_writer.h"
#include "computer-use/platform/linux/x11_capture.h"

// Last: Xlib's macros would break the headers above.
#include <X11/Xlib.h>

namespace {

using vorn::platform::CaptureFailure;
using vorn::platform::Image;
using vorn::platform::ShareableContent;

// A mapped window with a few coloured bands, so that the PNG has something
// to compress; it lives for the whole run.
std::optional<unsigned long> benchWindow() {
  static std::optional<unsigned long> window = []() -> std::optional<unsigned long> {
    if (std::getenv("DISPLAY") == nullptr) return std::nullopt;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return std::nullopt;
    Window w =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 10, 10, 1000, 700, 0, 0, 0xF6F5F4);
    XMapWindow(display, w);
    XSync(display, False);
    GC gc = XCreateGC(display, w, 0, nullptr);
    for (int band = 0; band < 35; ++band) {
      XSetForeground(display, gc, 0x102030ul * static_cast<unsigned long>(band % 7));
      XFillRectangle(display, w, gc, band * 28, band * 20, 300, 12);
    }
    XSync(display, False);
    return w;  // the display stays open: the window lives as long as it does
  }();
  return window;
}

std::unique_ptr<ShareableContent> content(vorn::platform::x11::WindowCapture& capture) {
  auto c = capture.shareableContent();
  if (auto* ok = std::get_if<std::unique_ptr<ShareableContent>>(&c)) return std::move(*ok);
  return nullptr;
}

void BM_FindAndReadWindow(benchmark::State& state) {
  auto window = benchWindow();
  if (!window) return state.SkipWithError("needs an X display");
  vorn::platform::x11::WindowCapture capture;
  for (auto _ : state) {
    auto shareable = content(capture);
    auto found = shareable ? shareable->window(static_cast<std::uint32_t>(*window)) : std::nullopt;
    if (!found) return state.SkipWithError("the window is not shareable");
    auto image = shareable->captureImage(*found, std::nullopt);
    if (!std::holds_alternative<Image>(image)) return state.SkipWithError("capture failed");
  }
}
BENCHMARK(BM_FindAndReadWindow)->Unit(benchmark::kMillisecond);

void BM_EncodePng(benchmark::State& state) {
  auto window = benchWindow();
  if (!window) return state.SkipWithError("needs an X display");
  vorn::platform::x11::WindowCapture capture;
  auto shareable = content(capture);
  auto found = shareable ? shareable->window(static_cast<std::uint32_t>(*window)) : std::nullopt;
  if (!found) return state.SkipWithError("the window is not shareable");
  auto captured = shareable->captureImage(*found, std::nullopt);
  if (!std::holds_alternative<Image>(captured)) return state.SkipWithError("capture failed");
  const Image& image = std::get<Image>(captured);
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto png = Capture::encodePng(image);
    bytes = png ? png->size() : 0;
  }
  state.counters["png_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_EncodePng)->Unit(benchmark::kMillisecond);

}  // namespace
