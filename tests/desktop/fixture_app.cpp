#include "tests/desktop/fixture_app.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <thread>

extern char** environ;

namespace vorn::testing {
namespace {

using nlohmann::json;

bool waitExited(pid_t pid, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (std::chrono::steady_clock::now() < deadline) {
    pid_t r = ::waitpid(pid, nullptr, WNOHANG);
    if (r == pid || (r < 0 && errno == ECHILD)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace

bool haveDisplay() {
  // On a Wayland desktop DISPLAY is XWayland's: the helper speaks to the
  // compositor there, and an X11 witness sees only the X11 clients.
  const char* display = std::getenv("DISPLAY");
  return display != nullptr && *display != '\0' && !haveWaylandDesktop();
}

bool haveWaylandDesktop() {
  const char* display = std::getenv("WAYLAND_DISPLAY");
  return display != nullptr && *display != '\0';
}

FixtureApp::FixtureApp(std::vector<std::string> arguments) {
  std::string pattern = (std::filesystem::temp_directory_path() / "vorn-fixture-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return;
  directory_ = pattern;
  logPath_ = directory_ + "/events.jsonl";

  std::vector<std::string> argv{VORN_FIXTURE, "--log", logPath_};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> raw;
  for (auto& a : argv) raw.push_back(a.data());
  raw.push_back(nullptr);
  // GTK's warnings are of no interest to the test's output.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  if (posix_spawn(&pid_, VORN_FIXTURE, &actions, nullptr, raw.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  if (pid_ <= 0) return;

  // Python and GTK start slowly on a loaded machine; this bounds a wait, it
  // times nothing.
  auto ready = waitFor([](const json& e) { return e.value("event", "") == "ready"; },
                       std::chrono::seconds(60));
  if (ready) readyEvent_ = *ready;
}

FixtureApp::~FixtureApp() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    if (!waitExited(pid_, std::chrono::seconds(5))) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  if (!directory_.empty()) std::filesystem::remove_all(directory_);
}

unsigned long FixtureApp::window(const std::string& role) const {
  const json& xid = readyEvent_["windows"][role]["xid"];
  return xid.is_number() ? xid.get<unsigned long>() : 0;
}

std::pair<int, int> FixtureApp::originOf(const std::string& role) const {
  const json& origin = readyEvent_["windows"][role]["origin"];
  return {origin["x"].get<int>(), origin["y"].get<int>()};
}

std::pair<int, int> FixtureApp::centreOf(const std::string& widget) const {
  const json& g = readyEvent_["widgets"][widget];
  return {g["x"].get<int>() + g["width"].get<int>() / 2,
          g["y"].get<int>() + g["height"].get<int>() / 2};
}

FixtureApp::Rect FixtureApp::geometryOf(const std::string& widget) const {
  const json& g = readyEvent_["widgets"][widget];
  return {g["x"].get<int>(), g["y"].get<int>(), g["width"].get<int>(), g["height"].get<int>()};
}

void FixtureApp::readNewEvents() {
  std::ifstream in(logPath_, std::ios::binary);
  if (!in) return;
  in.seekg(static_cast<std::streamoff>(logOffset_));
  std::string chunk{std::istreambuf_iterator<char>(in), {}};
  logOffset_ += chunk.size();
  partial_ += chunk;
  std::size_t end;
  while ((end = partial_.find('\n')) != std::string::npos) {
    events_.push_back(json::parse(partial_.substr(0, end), nullptr, false));
    partial_.erase(0, end + 1);
  }
}

std::optional<json> FixtureApp::waitFor(const std::function<bool(const json&)>& match,
                                        std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    readNewEvents();
    for (; cursor_ < events_.size(); ++cursor_) {
      if (match(events_[cursor_])) return events_[cursor_++];
    }
    bool running = pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0;
    if (!running) {
      if (pid_ <= 0) return std::nullopt;
      pid_ = -1;  // it ended: read what it wrote last, then give up
      continue;
    }
    if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::vector<json> FixtureApp::events() {
  readNewEvents();
  return events_;
}

}  // namespace vorn::testing
