// Any bytes as a screenshot request, and as a path for a file URL. The
// window number is refused, names no window, or names exactly the window
// whose decimal the messages show, never a wrapped one; with no window on
// the desktop every accepted number answers "not shareable" with its digits.
// A file URL holds only URL characters and decodes back to the path.
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "computer-use/capture/capture.h"
#include "computer-use/capture/screenshot_folder.h"
#include "computer-use/platform/null_platform.h"
#include "computer-use/protocol/dispatch.h"
#include "computer-use/protocol/json_text.h"
#include "computer-use/protocol/requests.h"

namespace {

using nlohmann::json;

bool plainDecimal(const std::string& digits) {
  if (digits.empty() || (digits.size() > 1 && digits[0] == '0')) return false;
  return digits.find_first_not_of("0123456789") == std::string::npos;
}

void checkWindowNumber(const json& request) {
  auto number = ComputerUseHelperMain::windowNumberArgument(request);
  auto it = request.find("window_number");
  // Compared at each number's own type: nlohmann's mixed comparison takes an
  // unsigned number beyond 2^63 for a negative one.
  bool refusable = it == request.end() || !it->is_number() ||
                   (it->is_number_unsigned()  ? it->get<std::uint64_t>() < 1
                    : it->is_number_integer() ? it->get<std::int64_t>() < 1
                                              : !(it->get<double>() >= 1));
  if (refusable != !number) std::abort();
  json sent = request;
  sent["op"] = "screenshot";
  json answer = ComputerUseHelperMain::handle(sent, vorn::platform::nullPlatform());
  if (answer.size() != 3 || answer["ok"] != false) std::abort();
  if (!number) {
    if (answer["error"] != "invalid_arguments") std::abort();
    return;
  }
  if (!plainDecimal(number->decimal) && number->decimal != "inf") std::abort();
  bool fits = number->decimal.size() < 10 ||
              (number->decimal.size() == 10 && number->decimal <= "4294967295");
  if (fits != number->id.has_value()) std::abort();
  if (number->id && std::to_string(*number->id) != number->decimal) std::abort();
  if (it->is_number_integer() && number->decimal != it->dump()) std::abort();
  if (answer["message"] != "Window " + number->decimal + " is not shareable.") std::abort();
}

void checkFileUrl(std::string_view path) {
  std::string url = Capture::fileUrl(path);
  if (url.rfind("file://", 0) != 0) std::abort();
  std::string decoded;
  for (std::size_t i = 7; i < url.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(url[i]);
    if (c <= 0x20 || c >= 0x7F || c == '#' || c == '?' || c == '"') std::abort();
    if (c != '%') {
      decoded += static_cast<char>(c);
      continue;
    }
    if (i + 2 >= url.size()) std::abort();
    decoded += static_cast<char>(std::stoi(url.substr(i + 1, 2), nullptr, 16));
    i += 2;
  }
  if (decoded != path) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  checkFileUrl(bytes);
  if (auto request = ComputerUseHelperMain::parseRequest(bytes)) checkWindowNumber(*request);
  return 0;
}
