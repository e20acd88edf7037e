// The screenshot operation against the scripted desktop: arguments, every
// answer's exact form, the PNG file and its private folder, and the bound.
#include <gtest/gtest.h>
#include <png.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "computer-use/capture/capture.h"
#include "computer-use/capture/png_writer.h"
#include "computer-use/capture/screenshot_folder.h"
#include "computer-use/protocol/answers.h"
#include "computer-use/protocol/json_text.h"
#include "computer-use/protocol/requests.h"
#include "tests/unit/fake_platform.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using vorn::platform::Frame;
using vorn::platform::Image;
using vorn::platform::PixelSize;
using vorn::testing::FakePlatform;

struct Decoded {
  PixelSize size;
  std::vector<std::uint8_t> rgba;
};

std::optional<Decoded> decodePng(const std::vector<std::uint8_t>& bytes) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()) == 0) {
    return std::nullopt;
  }
  image.format = PNG_FORMAT_RGBA;
  Decoded out{{image.width, image.height}, std::vector<std::uint8_t>(PNG_IMAGE_SIZE(image))};
  if (png_image_finish_read(&image, nullptr, out.rgba.data(), 0, nullptr) == 0) {
    return std::nullopt;
  }
  return out;
}

std::vector<std::uint8_t> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<fs::path> entries(const fs::path& folder) {
  std::vector<fs::path> found;
  for (const auto& e : fs::directory_iterator(folder)) found.push_back(e.path());
  return found;
}

unsigned modeOf(const fs::path& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st.st_mode & 07777;
}

TEST(ScreenshotArgument, WindowNumbersAreWholeAndPositive) {
  using Capture::WindowNumber;
  auto number = [](const char* text) {
    return ComputerUseHelperMain::windowNumberArgument(
        json::parse(std::string(R"({"window_number":)") + text + "}"));
  };
  for (const char* refused : {"0", "-3", "0.99", "-0.5", "\"12\"", "null", "true", "[1]"}) {
    EXPECT_EQ(number(refused), std::nullopt) << refused;
  }
  EXPECT_EQ(ComputerUseHelperMain::windowNumberArgument(json::object()), std::nullopt);
  EXPECT_EQ(number("1"), (WindowNumber{1u, "1"}));
  EXPECT_EQ(number("12.9"), (WindowNumber{12u, "12"}));
  EXPECT_EQ(number("4294967295"), (WindowNumber{4294967295u, "4294967295"}));
  // Beyond the window ids: never wrapped, digits kept exactly.
  EXPECT_EQ(number("4294967296"), (WindowNumber{std::nullopt, "4294967296"}));
  EXPECT_EQ(number("4294967297.5"), (WindowNumber{std::nullopt, "4294967297"}));
  EXPECT_EQ(number("18446744073709551615"), (WindowNumber{std::nullopt, "18446744073709551615"}));
  EXPECT_EQ(number("1e20"), (WindowNumber{std::nullopt, "100000000000000000000"}));
}

TEST(ScreenshotFolder, TemporaryDirectoryComesFromAnAbsoluteTmpdir) {
  const char* saved = std::getenv("TMPDIR");
  std::string savedValue = saved != nullptr ? saved : "";
  auto with = [](const char* value) {
    if (value == nullptr) {
      ::unsetenv("TMPDIR");
    } else {
      ::setenv("TMPDIR", value, 1);
    }
    return Capture::temporaryDirectory();
  };
  EXPECT_EQ(with(nullptr), "/tmp");
  EXPECT_EQ(with(""), "/tmp");
  EXPECT_EQ(with("relative/dir"), "/tmp");
  EXPECT_EQ(with("/var/tmp/me//"), "/var/tmp/me");
  EXPECT_EQ(with("/"), "/");
  if (saved != nullptr) {
    ::setenv("TMPDIR", savedValue.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
}

TEST(ScreenshotFolder, FileUrlsEscapeWhatAPathMayHold) {
  EXPECT_EQ(Capture::fileUrl("/tmp/vorn-ui-screenshots/cu-A.png"),
            "file:///tmp/vorn-ui-screenshots/cu-A.png");
  EXPECT_EQ(Capture::fileUrl("/t m/100%/a#b?c;d/caf\xc3\xa9/"),
            "file:///t%20m/100%25/a%23b%3Fc%3Bd/caf%C3%A9/");
  EXPECT_EQ(Capture::fileUrl("/a~b_c.d-e!$&'()*+,:=@"), "file:///a~b_c.d-e!$&'()*+,:=@");
}

// Requests run with TMPDIR pointing into a folder of the test's own.
class Screenshot : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vorn-capture-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    const char* saved = std::getenv("TMPDIR");
    if (saved != nullptr) savedTmpdir_ = saved;
    ::setenv("TMPDIR", root_.c_str(), 1);
    fake_.shareable = {{.windowId = 12, .frame = {40, 50.5, 30, 20}}};
  }
  void TearDown() override {
    if (savedTmpdir_) {
      ::setenv("TMPDIR", savedTmpdir_->c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  json ask(const std::string& request) {
    return json::parse(ComputerUseHelperMain::handleJSONText(request, fake_.platform()));
  }
  fs::path folder() const { return root_ / "vorn-ui-screenshots"; }

  FakePlatform fake_;
  fs::path root_;
  std::optional<std::string> savedTmpdir_;
};

TEST_F(Screenshot, WritesAPrivatePngAndAnswersWhereAndWhat) {
  json answer = ask(R"({"op":"Screenshot","window_number":12.9})");
  ASSERT_EQ(answer["ok"], true) << answer;
  std::string path = answer["path"];
  EXPECT_TRUE(std::regex_match(
      path, std::regex(folder().string() + "/cu-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-"
                                           "[89AB][0-9A-F]{3}-[0-9A-F]{12}\\.png")))
      << path;
  json expected = {{"ok", true},
                   {"path", path},
                   {"url", "file://" + path},
                   {"window_number", 12},
                   {"window_frame", {{"x", 40}, {"y", 50.5}, {"width", 30}, {"height", 20}}},
                   {"image_size", {{"width", 30}, {"height", 20}}},
                   {"scale", 1},
                   {"vision", "attached"},
                   {"ax_in_helper", true}};
  EXPECT_EQ(answer, expected);
  // Whole numbers are written as integers.
  EXPECT_NE(ComputerUseHelperMain::encodeAnswer(answer).find(R"("scale":1,)"), std::string::npos);

  EXPECT_EQ(modeOf(folder()), 0700u);
  EXPECT_EQ(modeOf(path), 0600u);
  EXPECT_EQ(entries(folder()).size(), 1u);  // no temporary file left beside it
  auto png = decodePng(readFile(path));
  ASSERT_TRUE(png);
  EXPECT_EQ(png->size, (PixelSize{30, 20}));
  for (std::size_t i = 0; i < png->rgba.size(); i += 4) {
    ASSERT_EQ((std::array{png->rgba[i], png->rgba[i + 1], png->rgba[i + 2], png->rgba[i + 3]}),
              fake_.fill)
        << i;
  }
}

TEST_F(Screenshot, EveryCaptureIsANewFile) {
  json first = ask(R"({"op":"screenshot","window_number":12})");
  json second = ask(R"({"op":"screenshot","window_number":12})");
  EXPECT_NE(first["path"], second["path"]);
  EXPECT_EQ(entries(folder()).size(), 2u);
}

TEST_F(Screenshot, ThePixelSizeFollowsTheFrameAndTheScale) {
  struct Case {
    Frame frame;
    float scale;
    std::optional<PixelSize> requested;
    double answeredScale;
  };
  const Case cases[] = {
      {{0, 0, 100.25, 50}, 2, PixelSize{201, 100}, 2},  // 200.5 rounds up
      {{0, 0, 100.25, 50}, 0, PixelSize{100, 50}, 1},   // no scale reported: 1
      {{0, 0, 100.25, 50}, -1, PixelSize{100, 50}, 1},
      {{0, 0, 2, 2}, 0.25, PixelSize{1, 1}, 0.25},  // never below one pixel
      {{0, 0, 1, 50}, 2, std::nullopt, 2},          // a point wide: natural size
      {{0, 0, 50, 0.5}, 2, std::nullopt, 2},
  };
  for (const auto& c : cases) {
    fake_.shareable = {{.windowId = 7, .frame = c.frame}};
    fake_.scale = c.scale;
    fake_.requestedSizes.clear();
    json answer = ask(R"({"op":"screenshot","window_number":7})");
    ASSERT_EQ(fake_.requestedSizes.size(), 1u);
    EXPECT_EQ(fake_.requestedSizes[0], c.requested) << answer;
    EXPECT_EQ(answer["scale"], c.answeredScale);
    if (c.requested) {
      EXPECT_EQ(answer["image_size"],
                (json{{"width", c.requested->width}, {"height", c.requested->height}}));
    }
  }
}

TEST_F(Screenshot, FailuresHaveExactlyOkErrorAndMessage) {
  auto failure = [](const char* error, const std::string& message) {
    return json{{"ok", false}, {"error", error}, {"message", message}};
  };
  const json required = failure("invalid_arguments", "window_number is required");
  for (const char* request : {R"({"op":"screenshot"})", R"({"op":"screenshot","window_number":0})",
                              R"({"op":"screenshot","window_number":-4})",
                              R"({"op":"screenshot","window_number":"12"})"}) {
    EXPECT_EQ(ask(request), required) << request;
  }
  EXPECT_EQ(ask(R"({"op":"screenshot","window_number":4294967308})"),
            failure("unknown_root", "Window 4294967308 is not shareable."));
  // Neither started a capture.
  EXPECT_EQ(fake_.contentRequests, 0);

  EXPECT_EQ(ask(R"({"op":"screenshot","window_number":13})"),
            failure("unknown_root", "Window 13 is not shareable."));
  fake_.imageFailure = vorn::platform::CaptureFailure{.windowGone = true, .description = "gone"};
  EXPECT_EQ(ask(R"({"op":"screenshot","window_number":12})"),
            failure("unknown_root", "Window 12 is not shareable."));
  fake_.imageFailure = vorn::platform::CaptureFailure{.description = "BadAlloc"};
  EXPECT_EQ(ask(R"({"op":"screenshot","window_number":12})"),
            failure("permission_required", "Screen Recording is required in the helper: BadAlloc"));
  fake_.contentFailure = "cannot connect to the X display \":9\"";
  EXPECT_EQ(ask(R"({"op":"screenshot","window_number":12})"),
            failure("permission_required",
                    "Screen Recording is required in the helper: cannot connect to the X display "
                    "\":9\""));
  EXPECT_FALSE(fs::exists(folder()));
}

// The temporary directory is shared: a folder someone else prepared there
// is never written into.
TEST_F(Screenshot, RefusesAScreenshotFolderThatIsNotPrivate) {
  const std::string prefix = "Screen Recording is required in the helper: " + folder().string();
  fs::create_directory(root_ / "elsewhere");
  struct Case {
    std::string name;
    std::function<void()> prepare;
    std::string reason;
  };
  const Case cases[] = {
      {"link", [&] { fs::create_directory_symlink(root_ / "elsewhere", folder()); },
       " is a symbolic link"},
      {"file", [&] { std::ofstream(folder()) << "x"; }, " is not a directory"},
      {"open",
       [&] {
         fs::create_directory(folder());
         ::chmod(folder().c_str(), 0755);
       },
       " is open to other users (mode 0755)"},
      {"group",
       [&] {
         fs::create_directory(folder());
         ::chmod(folder().c_str(), 0710);
       },
       " is open to other users (mode 0710)"},
      {"foreign",
       [&] {
         fs::create_directory(folder());
         ::chmod(folder().c_str(), 0700);
         ASSERT_EQ(::chown(folder().c_str(), 1, 1), 0);
       },
       " belongs to another user"},
  };
  for (const auto& c : cases) {
    if (c.name == "foreign" && ::geteuid() != 0) continue;  // only root can give it away
    fs::remove_all(folder());
    c.prepare();
    json answer = ask(R"({"op":"screenshot","window_number":12})");
    EXPECT_EQ(
        answer,
        (json{{"ok", false}, {"error", "permission_required"}, {"message", prefix + c.reason}}))
        << c.name;
    EXPECT_TRUE(fs::is_empty(root_ / "elsewhere")) << c.name;
    if (fs::is_directory(folder())) {
      EXPECT_TRUE(fs::is_empty(folder())) << c.name;
    }
  }
}

TEST_F(Screenshot, MissingFoldersAreCreatedPrivate) {
  ::setenv("TMPDIR", (root_ / "a" / "b").c_str(), 1);
  json answer = ask(R"({"op":"screenshot","window_number":12})");
  ASSERT_EQ(answer["ok"], true) << answer;
  EXPECT_EQ(modeOf(root_ / "a"), 0700u);
  EXPECT_EQ(modeOf(root_ / "a" / "b" / "vorn-ui-screenshots"), 0700u);
}

// A capture that overruns the bound is answered as timed out; when it ends
// later its file appears whole, and its answer goes nowhere.
TEST_F(Screenshot, ALateCaptureIsDroppedAndItsFileAppearsWhole) {
  std::mutex mutex;
  std::condition_variable changed;
  bool released = false;
  fake_.beforeImage = [&] {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return released; });
  };
  json answer = ComputerUseHelperMain::answerOf(
      Capture::captureWithin({{12u, "12"}}, fake_.platform(), std::chrono::milliseconds(20)));
  EXPECT_EQ(answer,
            (json{{"ok", false}, {"error", "unknown_root"}, {"message", "Screenshot timed out."}}));
  {
    std::lock_guard lock(mutex);
    released = true;
  }
  changed.notify_all();
  // A bounded wait for the late task's file; nothing is timed.
  std::vector<fs::path> files;
  for (int i = 0; i < 2000 && files.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (fs::exists(folder())) files = entries(folder());
  }
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(files[0].filename().string().starts_with("cu-"));
  EXPECT_TRUE(decodePng(readFile(files[0])));
}

TEST(ScreenshotFile, AnUnfinishedDestinationLeavesNothing) {
  std::string pattern = (fs::temp_directory_path() / "vorn-capture-test-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  auto opened = Capture::openScreenshotFolder(pattern);
  ASSERT_TRUE(std::holds_alternative<Capture::ScreenshotFolder>(opened));
  const auto& folder = std::get<Capture::ScreenshotFolder>(opened);
  {
    auto destination = Capture::FileDestination::create(folder, "cu-dropped.png");
    ASSERT_TRUE(destination);
  }
  auto destination = Capture::FileDestination::create(folder, "cu-kept.png");
  ASSERT_TRUE(destination);
  const std::uint8_t bytes[] = {1, 2, 3};
  EXPECT_TRUE(destination->finish(bytes));
  EXPECT_EQ(entries(folder.path), std::vector<fs::path>{fs::path(folder.path) / "cu-kept.png"});
  EXPECT_EQ(readFile(fs::path(folder.path) / "cu-kept.png"), std::vector<std::uint8_t>({1, 2, 3}));
  fs::remove_all(pattern);
}

TEST(PngWriter, OpaqueImagesDropTheAlphaChannelAndEveryPixelRoundTrips) {
  Image image{{3, 2}, {}};
  for (std::uint8_t i = 0; i < 6; ++i) {
    image.rgba.insert(image.rgba.end(), {static_cast<std::uint8_t>(i * 40), 7, 200, 0xFF});
  }
  auto opaque = Capture::encodePng(image);
  ASSERT_TRUE(opaque);
  EXPECT_EQ((*opaque)[25], PNG_COLOR_TYPE_RGB);  // the IHDR's colour type byte
  EXPECT_EQ(decodePng(*opaque)->rgba, image.rgba);

  image.rgba[3] = 0x10;
  auto translucent = Capture::encodePng(image);
  ASSERT_TRUE(translucent);
  EXPECT_EQ((*translucent)[25], PNG_COLOR_TYPE_RGB_ALPHA);
  EXPECT_EQ(decodePng(*translucent)->rgba, image.rgba);

  EXPECT_FALSE(Capture::encodePng(Image{{0, 0}, {}}));
  EXPECT_FALSE(Capture::encodePng(Image{{2, 2}, {1, 2, 3}}));  // too few bytes
}

}  // namespace
