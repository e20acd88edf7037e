// Validation goes through utf8proc one code point at a time, except once the
// prefix is complete: then runs of ASCII are skipped eight bytes at a time,
// which keeps gigabytes of plain output cheap to check.
#include "common/utf8_prefix_capture.h"

#include "common/text.h"

#include <utf8proc.h>

#include <algorithm>
#include <cstring>

namespace vorn::text {
namespace {

std::size_t sequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

bool decode(std::string_view bytes, std::int32_t& cp) {
  auto n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(bytes.data()),
                            static_cast<utf8proc_ssize_t>(bytes.size()), &cp);
  return n == static_cast<utf8proc_ssize_t>(bytes.size());
}

}  // namespace

Utf8PrefixCapture::Utf8PrefixCapture(std::size_t maxClusters, std::size_t maxBytes)
    : maxClusters_(maxClusters), maxBytes_(maxBytes), full_(maxClusters == 0 || maxBytes == 0) {}

void Utf8PrefixCapture::append(std::string_view chunk) {
  if (!valid_) return;
  if (pendingLength_ > 0) appendPending(chunk);
  if (valid_ && pendingLength_ == 0) consume(chunk);
}

std::string Utf8PrefixCapture::finish() {
  if (pendingLength_ > 0) valid_ = false;
  pendingLength_ = 0;
  return valid_ ? std::move(kept_) : std::string();
}

// Completes a code point split across the previous chunk's end.
void Utf8PrefixCapture::appendPending(std::string_view& chunk) {
  std::size_t needed = sequenceLength(static_cast<unsigned char>(pending_[0]));
  std::size_t take = std::min(needed - pendingLength_, chunk.size());
  std::memcpy(pending_ + pendingLength_, chunk.data(), take);
  pendingLength_ += take;
  chunk.remove_prefix(take);
  if (pendingLength_ < needed) return;
  std::int32_t cp;
  std::string_view bytes(pending_, pendingLength_);
  pendingLength_ = 0;
  if (!decode(bytes, cp)) {
    valid_ = false;
    return;
  }
  accept(cp, bytes);
}

void Utf8PrefixCapture::consume(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    if (full_) {
      i = text::skipAscii(s, i);
      if (i == s.size()) return;
    }
    auto lead = static_cast<unsigned char>(s[i]);
    std::size_t length = sequenceLength(lead);
    if (length == 0) {
      valid_ = false;
      return;
    }
    if (i + length > s.size()) {
      pendingLength_ = s.size() - i;
      std::memcpy(pending_, s.data() + i, pendingLength_);
      return;
    }
    std::int32_t cp = lead;
    std::string_view bytes = s.substr(i, length);
    if (length > 1 && !decode(bytes, cp)) {
      valid_ = false;
      return;
    }
    accept(cp, bytes);
    i += length;
  }
}

void Utf8PrefixCapture::accept(std::int32_t cp, std::string_view bytes) {
  if (full_) return;
  bool startsCluster =
      previous_ < 0 || utf8proc_grapheme_break_stateful(previous_, cp, &breakState_);
  previous_ = cp;
  if (startsCluster) {
    if (clusters_ == maxClusters_) {
      full_ = true;
      return;
    }
    ++clusters_;
  }
  if (kept_.size() + bytes.size() > maxBytes_) {
    full_ = true;
    return;
  }
  kept_.append(bytes);
}

}  // namespace vorn::text
