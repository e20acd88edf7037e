#include "computer-use/mcp/helper_tools.h"

#include <fcntl.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

#include "common/process_io.h"
#include "common/schema/json_schema.h"
#include "common/text.h"
#include "common/unique_fd.h"
#include "computer-use/capture/png_reader.h"
#include "computer-use/capture/png_writer.h"
#include "computer-use/platform/image_scale.h"
#include "computer-use/protocol/dispatch.h"
#include "computer-use/protocol/json_text.h"
#include "computer-use/protocol/operation_table.h"

namespace ComputerUseMcp {
namespace {

using nlohmann::json;
using vorn::mcp::CallContext;
using vorn::mcp::Tool;
using vorn::mcp::ToolAnnotations;
using vorn::mcp::ToolResult;
namespace Helper = ComputerUseHelperMain;

constexpr std::string_view kMaxImageEdge = "max_image_edge";
// A capture of a whole screen at 8K stays below this; beyond it the file is
// not read back.
constexpr std::size_t kMaxPngBytes = std::size_t{256} << 20;
// What a line of an observation keeps of a title and of a value.
constexpr std::size_t kTitleClusters = 40;
constexpr std::size_t kValueClusters = 20;

// The operations that talk to the display server directly.
constexpr std::array<std::string_view, 4> kNeedsDisplay = {"list_windows", "keypress", "click_xy",
                                                           "screenshot"};
constexpr std::array<std::string_view, 3> kReadsOnly = {"ping", "list_windows", "observe"};

bool contains(std::span<const std::string_view> names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

json failure(std::string_view error, std::string message) {
  return {{"ok", false}, {"error", error}, {"message", std::move(message)}};
}

// What is missing for `operation` to run, as its answer; nothing when all is there.
std::optional<json> missing(const Helper::Operation& operation, const Environment& environment) {
  auto set = [&](const char* name) {
    auto value = environment(name);
    return value && !vorn::text::trim(*value).empty();
  };
  if (contains(kNeedsDisplay, operation.shape.name) && !set("DISPLAY") && !set("WAYLAND_DISPLAY")) {
    return failure("no_display",
                   "DISPLAY is not set: the helper needs the desktop's display; give the server "
                   "DISPLAY (e.g. \":0\") in its environment");
  }
  if (operation.prerequisite == Helper::Prerequisite::kAccessibility &&
      !set("DBUS_SESSION_BUS_ADDRESS")) {
    return failure("no_session_bus",
                   "DBUS_SESSION_BUS_ADDRESS is not set: the helper reaches the accessibility "
                   "bus through the session bus; give the server DBUS_SESSION_BUS_ADDRESS in "
                   "its environment");
  }
  return std::nullopt;
}

// The helper words an unreachable accessibility bus as a missing permission;
// a model is told what is missing.
void nameTheAccessibilityBus(json& answer) {
  if (answer.value("error", "") != "permission_required") return;
  answer["message"] =
      "the accessibility bus could not be reached (AT-SPI, asked for on the session bus): "
      "start the desktop's accessibility services, or set the toolkit's accessibility on";
}

ToolResult resultOf(json answer) {
  bool ok = answer.value("ok", false) == true;
  std::string text = Helper::encodeAnswer(answer);
  return {.structured = std::move(answer), .text = std::move(text), .isError = !ok};
}

std::uint32_t maxEdgeOf(const json& arguments) {
  auto asked = arguments.find(kMaxImageEdge);
  if (asked == arguments.end() || !asked->is_number_unsigned()) return kDefaultMaxImageEdge;
  return static_cast<std::uint32_t>(
      std::min<std::uint64_t>(asked->get<std::uint64_t>(), UINT32_MAX));
}

void attachImage(ToolResult& result, const json& arguments) {
  if (result.isError) return;
  auto path = result.structured.find("path");
  if (path == result.structured.end() || !path->is_string()) return;
  if (auto png = imageBlockPng(path->get<std::string>(), maxEdgeOf(arguments))) {
    result.images.push_back({.bytes = std::move(*png)});
  }
}

void compactObservation(ToolResult& result) {
  if (result.isError) return;
  result.text = observationLines(result.structured);
  result.structured.erase("elements");
}

ToolResult call(const Helper::Operation& operation, vorn::platform::Platform& platform,
                const Environment& environment, const json& arguments) {
  if (auto absent = missing(operation, environment)) return resultOf(std::move(*absent));
  json request = arguments;
  request.erase(std::string(kMaxImageEdge));
  request["op"] = operation.shape.name;
  json answer = Helper::handle(request, platform);
  nameTheAccessibilityBus(answer);
  ToolResult result = resultOf(std::move(answer));
  if (operation.shape.name == "screenshot") attachImage(result, arguments);
  if (operation.shape.name == "observe") compactObservation(result);
  return result;
}

json inputSchemaOf(const Helper::Operation& operation) {
  json schema = vorn::schema::toolInputSchema(operation.shape);
  if (operation.shape.name == "screenshot") {
    schema["properties"][std::string(kMaxImageEdge)] = {
        {"type", "integer"},
        {"minimum", 0},
        {"default", kDefaultMaxImageEdge},
        {"description",
         "The longest edge, in pixels, of the image attached to the result (scaled down to "
         "fit); 0: as captured. The PNG file keeps the full size."}};
  }
  return schema;
}

std::string descriptionOf(const Helper::Operation& operation) {
  std::string description(operation.shape.description);
  if (operation.shape.name == "screenshot") {
    description += " The image is attached, scaled down to 1568 pixels on its longest edge.";
  }
  if (operation.shape.name == "observe") {
    description += " The text lists one element a line: reference, role, title, value.";
  }
  std::string_view needs = Helper::describe(operation.prerequisite);
  if (!needs.empty()) description += " " + std::string(needs);
  return description;
}

ToolAnnotations annotationsOf(std::string_view name) {
  bool reads = contains(kReadsOnly, name) || name == "screenshot";
  return {.readOnly = reads, .destructive = false, .openWorld = false};
}

std::string quoted(const json& text, std::size_t clusters) {
  if (!text.is_string()) return "";
  const auto& whole = text.get_ref<const std::string&>();
  std::size_t keep = vorn::text::graphemePrefixLength(whole, clusters);
  std::string cut = whole.substr(0, keep);
  std::replace(cut.begin(), cut.end(), '\n', ' ');
  return " \"" + cut + (keep < whole.size() ? "…" : "") + "\"";
}

std::optional<std::string> readFile(const std::string& path) {
  vorn::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  auto read = vorn::readAll(fd.get(), kMaxPngBytes);
  if (read.failed || read.tooLarge) return std::nullopt;
  return std::move(read.bytes);
}

}  // namespace

std::vector<Tool> helperTools(vorn::platform::Platform& platform, Environment environment) {
  std::vector<Tool> tools;
  for (const auto& operation : Helper::operationTable()) {
    tools.push_back(
        {.name = std::string(operation.shape.name),
         .description = descriptionOf(operation),
         .inputSchema = inputSchemaOf(operation),
         .outputSchema = nullptr,
         .annotations = annotationsOf(operation.shape.name),
         .usesRoots = false,
         .handler = [&operation, &platform, environment](const json& arguments, CallContext&) {
           return call(operation, platform, environment, arguments);
         }});
  }
  return tools;
}

std::string observationLines(const json& answer) {
  std::string text;
  auto elements = answer.find("elements");
  if (elements == answer.end() || !elements->is_array()) return text;
  for (const auto& element : *elements) {
    text += element.value("ref", "") + " " + element.value("role", "");
    text += quoted(element.value("title", json()), kTitleClusters);
    if (auto value = element.value("value", json()); value.is_string() && !value.empty()) {
      text += " value=" + quoted(value, kValueClusters).substr(1);
    }
    if (element.value("enabled", true) == false) text += " disabled";
    text += "\n";
  }
  return text;
}

std::optional<std::string> imageBlockPng(const std::string& path, std::uint32_t maxEdge) {
  auto image = Capture::readPng(path);
  if (!image) return std::nullopt;
  auto [width, height] = image->size;
  std::uint32_t longest = std::max(width, height);
  if (maxEdge == 0 || longest <= maxEdge) return readFile(path);
  double factor = static_cast<double>(maxEdge) / longest;
  vorn::platform::PixelSize size{
      std::max<std::uint32_t>(1, static_cast<std::uint32_t>(std::lround(width * factor))),
      std::max<std::uint32_t>(1, static_cast<std::uint32_t>(std::lround(height * factor)))};
  size.width = std::min(size.width, maxEdge);
  size.height = std::min(size.height, maxEdge);
  auto png = Capture::encodePng(vorn::platform::scaledImage(*image, size));
  if (!png) return std::nullopt;
  return std::string(png->begin(), png->end());
}

}  // namespace ComputerUseMcp
