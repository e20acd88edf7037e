#include "computer-use/protocol/requests.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <nlohmann/json.hpp>

#include "common/text.h"

namespace ComputerUseHelperMain {
namespace {

const Dictionary* field(const Dictionary& request, const char* key) {
  auto it = request.find(key);
  return it == request.end() ? nullptr : &*it;
}

std::optional<std::string> optionalString(const Dictionary& request, const char* key) {
  const Dictionary* v = field(request, key);
  if (v == nullptr || !v->is_string()) return std::nullopt;
  return v->get<std::string>();
}

std::string stringField(const Dictionary& request, const char* key, std::string fallback = {}) {
  return optionalString(request, key).value_or(std::move(fallback));
}

std::optional<double> numberField(const Dictionary& request, const char* key) {
  const Dictionary* v = field(request, key);
  if (v == nullptr || !v->is_number()) return std::nullopt;
  return v->get<double>();
}

std::optional<bool> booleanField(const Dictionary& request, const char* key) {
  const Dictionary* v = field(request, key);
  if (v == nullptr || !v->is_boolean()) return std::nullopt;
  return v->get<bool>();
}

// A limit kept within int, so that a huge one means "no limit" rather than
// wrapping.
int intLimit(const Dictionary& request, const char* key, int fallback) {
  auto whole = wholeNumber(request, key);
  if (!whole) return fallback;
  constexpr double kMax = std::numeric_limits<int>::max();
  return static_cast<int>(std::clamp(*whole, -kMax, kMax));
}

// The request's value as its JSON text, to be handed back as it came.
std::optional<std::string> echo(const Dictionary& request, const char* key) {
  const Dictionary* v = field(request, key);
  return v != nullptr ? std::optional(v->dump()) : std::nullopt;
}

// The digits of a whole number beyond 64 bits.
std::string wholeNumberText(double whole) {
  if (std::isinf(whole)) return "inf";
  char buffer[400];  // the exact digits of any finite double
  std::snprintf(buffer, sizeof buffer, "%.0f", whole);
  return buffer;
}

Capture::WindowNumber windowNumberOf(std::uint64_t whole) {
  std::optional<std::uint32_t> id;
  if (whole <= std::numeric_limits<std::uint32_t>::max()) id = static_cast<std::uint32_t>(whole);
  return {id, std::to_string(whole)};
}

}  // namespace

std::int32_t int32(const Dictionary* value) {
  if (value == nullptr) return 0;
  if (value->is_boolean()) return value->get<bool>() ? 1 : 0;
  if (value->is_number_integer()) {
    // Unsigned values beyond the signed 64-bit range are out of range too.
    if (value->is_number_unsigned()) {
      auto u = value->get<std::uint64_t>();
      return u <= std::numeric_limits<std::int32_t>::max() ? static_cast<std::int32_t>(u) : 0;
    }
    auto i = value->get<std::int64_t>();
    bool fits = i >= std::numeric_limits<std::int32_t>::min() &&
                i <= std::numeric_limits<std::int32_t>::max();
    return fits ? static_cast<std::int32_t>(i) : 0;
  }
  if (value->is_number_float()) {
    double d = std::trunc(value->get<double>());
    // A pid beyond 32 bits must not wrap around onto some other process.
    bool fits = std::isfinite(d) && d >= std::numeric_limits<std::int32_t>::min() &&
                d <= std::numeric_limits<std::int32_t>::max();
    return fits ? static_cast<std::int32_t>(d) : 0;
  }
  return 0;
}

std::optional<double> wholeNumber(const Dictionary& request, const char* key) {
  auto number = numberField(request, key);
  if (!number || !std::isfinite(*number) || std::trunc(*number) != *number) return std::nullopt;
  return number;
}

std::optional<Capture::WindowNumber> windowNumberArgument(const Dictionary& request) {
  auto it = request.find("window_number");
  if (it == request.end() || !it->is_number()) return std::nullopt;
  if (it->is_number_unsigned()) {
    auto whole = it->get<std::uint64_t>();
    if (whole < 1) return std::nullopt;
    return windowNumberOf(whole);
  }
  if (it->is_number_integer()) {
    auto whole = it->get<std::int64_t>();
    if (whole < 1) return std::nullopt;
    return windowNumberOf(static_cast<std::uint64_t>(whole));
  }
  double whole = std::trunc(it->get<double>());
  if (!(whole >= 1)) return std::nullopt;
  if (whole < 18446744073709551616.0) return windowNumberOf(static_cast<std::uint64_t>(whole));
  return Capture::WindowNumber{std::nullopt, wholeNumberText(whole)};
}

vorn::OrFailure<PingRequest> pingRequest(const Dictionary&) { return PingRequest{}; }

vorn::OrFailure<ListWindowsRequest> listWindowsRequest(const Dictionary& request) {
  return ListWindowsRequest{wholeNumber(request, "limit").value_or(ListWindowsRequest{}.limit)};
}

vorn::OrFailure<AXCore::ObserveRequest> observeRequest(const Dictionary& request) {
  AXCore::ObserveRequest observe;
  observe.pid = int32(field(request, "pid"));
  if (observe.pid < 1) return vorn::Failure{"invalid_arguments", "pid is required"};
  observe.title = stringField(request, "title");
  observe.maxDepth = intLimit(request, "max_depth", observe.maxDepth);
  observe.maxNodes = intLimit(request, "max_nodes", observe.maxNodes);
  observe.appName = stringField(request, "app_name");
  observe.echoes = {echo(request, "bundle_id"), echo(request, "window_number"),
                    echo(request, "native_key")};
  return observe;
}

vorn::OrFailure<AXCore::PerformRequest> performRequest(const Dictionary& request) {
  return AXCore::PerformRequest{
      .action = vorn::text::lowercase(stringField(request, "action")),
      .button = vorn::text::lowercase(stringField(request, "button", "left")),
      .key = optionalString(request, "key"),
      .hasRef = request.contains("ref"),
      .x = numberField(request, "x"),
      .y = numberField(request, "y"),
      .stateId = stringField(request, "state_id"),
      .ref = stringField(request, "ref"),
      .pid = int32(field(request, "pid")),
      .windowTitle = stringField(request, "window_title"),
      .role = stringField(request, "role"),
      .title = optionalString(request, "title"),
      .value = optionalString(request, "value"),
      .text = optionalString(request, "text"),
      .preferBackground = booleanField(request, "prefer_background")};
}

vorn::OrFailure<HID::KeypressRequest> keypressRequest(const Dictionary& request) {
  return HID::KeypressRequest{stringField(request, "key")};
}

vorn::OrFailure<HID::ClickRequest> clickRequest(const Dictionary& request) {
  return HID::ClickRequest{numberField(request, "x").value_or(0),
                           numberField(request, "y").value_or(0),
                           stringField(request, "button", "left")};
}

vorn::OrFailure<Capture::CaptureRequest> captureRequest(const Dictionary& request) {
  auto number = windowNumberArgument(request);
  if (!number) return vorn::Failure{"invalid_arguments", "window_number is required"};
  return Capture::CaptureRequest{std::move(*number)};
}

}  // namespace ComputerUseHelperMain
