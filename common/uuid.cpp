#include "common/uuid.h"

#include <sys/random.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <random>

namespace vorn {
namespace {

// getrandom only fails before the kernel's pool is ready or when
// interrupted; a clock-seeded engine still keeps names apart then.
void fillRandom(std::array<unsigned char, 16>& bytes) {
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    ssize_t n = ::getrandom(bytes.data() + filled, bytes.size() - filled, GRND_NONBLOCK);
    if (n <= 0) break;
    filled += static_cast<std::size_t>(n);
  }
  if (filled == bytes.size()) return;
  std::mt19937_64 engine(static_cast<std::uint64_t>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count()));
  for (auto& b : bytes) b = static_cast<unsigned char>(engine());
}

}  // namespace

std::string newUuid() {
  std::array<unsigned char, 16> bytes;
  fillRandom(bytes);
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(36);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

}  // namespace vorn
