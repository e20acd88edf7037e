#include "computer-use/platform/image_scale.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace vorn::platform {
namespace {

// Where one output column (or row) samples the input: two neighbours and the
// weight of the second.
struct Tap {
  std::size_t first;
  std::size_t second;
  double weight;
};

std::vector<Tap> tapsFor(std::uint32_t from, std::uint32_t to) {
  std::vector<Tap> taps(to);
  const double ratio = static_cast<double>(from) / to;
  for (std::uint32_t i = 0; i < to; ++i) {
    double centre = std::clamp((i + 0.5) * ratio - 0.5, 0.0, from - 1.0);
    auto first = static_cast<std::size_t>(centre);
    taps[i] = {first, std::min<std::size_t>(first + 1, from - 1), centre - first};
  }
  return taps;
}

struct Premultiplied {
  double r = 0, g = 0, b = 0, a = 0;
};

Premultiplied premultiplied(const std::uint8_t* p) {
  double a = p[3];
  return {p[0] * a, p[1] * a, p[2] * a, a};
}

Premultiplied mix(const Premultiplied& x, const Premultiplied& y, double w) {
  return {x.r + (y.r - x.r) * w, x.g + (y.g - x.g) * w, x.b + (y.b - x.b) * w,
          x.a + (y.a - x.a) * w};
}

void store(const Premultiplied& c, std::uint8_t* out) {
  auto channel = [](double v) {
    return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
  };
  if (c.a < 0.5) {
    out[0] = out[1] = out[2] = out[3] = 0;
    return;
  }
  out[0] = channel(c.r / c.a);
  out[1] = channel(c.g / c.a);
  out[2] = channel(c.b / c.a);
  out[3] = channel(c.a);
}

}  // namespace

Image scaledImage(const Image& image, PixelSize size) {
  size.width = std::max<std::uint32_t>(size.width, 1);
  size.height = std::max<std::uint32_t>(size.height, 1);
  Image out{size, std::vector<std::uint8_t>(std::size_t{size.width} * size.height * 4, 0)};
  if (image.size.width == 0 || image.size.height == 0) return out;

  const auto columns = tapsFor(image.size.width, size.width);
  const auto rows = tapsFor(image.size.height, size.height);
  const std::size_t stride = std::size_t{image.size.width} * 4;
  std::uint8_t* target = out.rgba.data();
  for (const Tap& row : rows) {
    const std::uint8_t* upper = image.rgba.data() + row.first * stride;
    const std::uint8_t* lower = image.rgba.data() + row.second * stride;
    for (const Tap& column : columns) {
      auto top = mix(premultiplied(upper + column.first * 4),
                     premultiplied(upper + column.second * 4), column.weight);
      auto bottom = mix(premultiplied(lower + column.first * 4),
                        premultiplied(lower + column.second * 4), column.weight);
      store(mix(top, bottom, row.weight), target);
      target += 4;
    }
  }
  return out;
}

}  // namespace vorn::platform
