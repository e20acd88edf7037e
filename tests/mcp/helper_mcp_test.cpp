// The helper's protocol front end in process: what a call without a display
// or session bus answers, the compact observation, the screenshot's image
// block.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "computer-use/capture/png_reader.h"
#include "computer-use/capture/png_writer.h"
#include "computer-use/mcp/helper_tools.h"
#include "computer-use/platform/null_platform.h"

namespace {

using nlohmann::json;

class NoCallContext final : public vorn::mcp::CallContext {
 public:
  std::stop_token stopToken() const override { return {}; }
  void reportProgress(std::string) override {}
  const std::optional<std::vector<vorn::mcp::Root>>& roots() const override { return roots_; }
  std::string_view protocolVersion() const override { return "2025-11-25"; }

 private:
  std::optional<std::vector<vorn::mcp::Root>> roots_;
};

vorn::mcp::ToolResult callTool(std::map<std::string, std::string> environment,
                               const std::string& name, json arguments = json::object()) {
  auto tools = ComputerUseMcp::helperTools(
      vorn::platform::nullPlatform(), [environment](const char* variable) {
        auto found = environment.find(variable);
        return found == environment.end() ? std::nullopt
                                          : std::optional<std::string>(found->second);
      });
  for (auto& tool : tools) {
    NoCallContext context;
    if (tool.name == name) return tool.handler(arguments, context);
  }
  ADD_FAILURE() << "no tool " << name;
  return {};
}

TEST(HelperTools, WhatIsMissingIsNamedAndOnlyWhereItMatters) {
  auto windows = callTool({}, "list_windows");
  EXPECT_TRUE(windows.isError);
  EXPECT_EQ(windows.structured["error"], "no_display");
  EXPECT_NE(windows.structured["message"].get<std::string>().find("DISPLAY"), std::string::npos);
  EXPECT_EQ(json::parse(*windows.text), windows.structured);
  for (const char* name : {"keypress", "click_xy", "screenshot"}) {
    EXPECT_EQ(callTool({{"DISPLAY", " "}}, name).structured["error"], "no_display") << name;
  }
  auto observe = callTool({{"DISPLAY", ":0"}}, "observe", {{"pid", 1}});
  EXPECT_EQ(observe.structured["error"], "no_session_bus");
  EXPECT_NE(observe.structured["message"].get<std::string>().find("DBUS_SESSION_BUS_ADDRESS"),
            std::string::npos);
  // Nothing is missing for ping, and a wayland display counts as a display.
  auto ping = callTool({}, "ping");
  EXPECT_FALSE(ping.isError);
  EXPECT_EQ(ping.structured["ok"], true);
  EXPECT_NE(callTool({{"WAYLAND_DISPLAY", "wayland-0"}}, "list_windows").structured["error"],
            "no_display");
}

TEST(HelperTools, AnObservationIsALinePerElementWithinFifteenKilobytesFor180) {
  json elements = json::array();
  for (int i = 0; i < 180; ++i) {
    elements.push_back({{"ref", "e" + std::to_string(i)},
                        {"role", "push button"},
                        {"title", std::string(200, 'T') + "\n"},
                        {"value", i % 2 ? json(std::string(100, 'v')) : json(nullptr)},
                        {"description", std::string(300, 'd')},
                        {"enabled", i % 3 != 0},
                        {"children", json::array()}});
  }
  std::string text = ComputerUseMcp::observationLines({{"ok", true}, {"elements", elements}});
  EXPECT_LE(text.size(), 15u * 1024);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 180);
  EXPECT_EQ(text.substr(0, text.find('\n')),
            "e0 push button \"" + std::string(40, 'T') + "…\" disabled");
  std::string second = text.substr(text.find('\n') + 1);
  EXPECT_EQ(second.substr(0, second.find('\n')), "e1 push button \"" + std::string(40, 'T') +
                                                     "…\" value=\"" + std::string(20, 'v') + "…\"");
  // Titles are cut between characters, never inside one.
  std::string accents;
  for (int i = 0; i < 60; ++i) accents += "e\xCC\x81";
  std::string one = ComputerUseMcp::observationLines(
      {{"elements", {{{"ref", "e1"}, {"role", "label"}, {"title", accents}, {"enabled", true}}}}});
  EXPECT_EQ(one, "e1 label \"" + accents.substr(0, 40 * 3) + "…\"\n");
}

class ImageBlock : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = (std::filesystem::temp_directory_path() / ("vorn-image-" + std::to_string(::getpid())))
                .string() +
            ".png";
  }
  void TearDown() override { std::filesystem::remove(path_); }
  void write(std::uint32_t width, std::uint32_t height) {
    vorn::platform::Image image{{width, height},
                                std::vector<std::uint8_t>(width * height * 4, 200)};
    auto png = Capture::encodePng(image);
    ASSERT_TRUE(png);
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(png->data()),
               static_cast<std::streamsize>(png->size()));
  }
  vorn::platform::PixelSize sizeOf(const std::string& bytes) {
    std::string copy = path_ + ".block";
    std::ofstream(copy, std::ios::binary) << bytes;
    auto image = Capture::readPng(copy);
    std::filesystem::remove(copy);
    return image ? image->size : vorn::platform::PixelSize{};
  }
  std::string path_;
};

TEST_F(ImageBlock, ALargeCaptureIsScaledToItsLongestEdgeASmallOneSentAsItIs) {
  write(3000, 1000);
  auto block = ComputerUseMcp::imageBlockPng(path_, ComputerUseMcp::kDefaultMaxImageEdge);
  ASSERT_TRUE(block);
  EXPECT_EQ(sizeOf(*block), (vorn::platform::PixelSize{1568, 523}));
  EXPECT_EQ(sizeOf(*ComputerUseMcp::imageBlockPng(path_, 0)),
            (vorn::platform::PixelSize{3000, 1000}));
  write(20, 4000);
  EXPECT_EQ(sizeOf(*ComputerUseMcp::imageBlockPng(path_, 100)),
            (vorn::platform::PixelSize{1, 100}));
  write(300, 200);
  std::ifstream in(path_, std::ios::binary);
  std::string file((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(ComputerUseMcp::imageBlockPng(path_, 1568), file);
  std::ofstream(path_) << "not a png";
  EXPECT_FALSE(ComputerUseMcp::imageBlockPng(path_, 1568));
}

}  // namespace
