#include "tests/desktop/real_app.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <sstream>
#include <thread>

extern char** environ;

namespace vorn::testing {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

std::string privateFolder(const char* prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / prefix).string() + "XXXXXX";
  return ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

// Spawns `argv` in a session (and process group) of its own, its output
// dropped; -1 when it cannot be started.
pid_t spawnDetached(const std::vector<std::string>& argv, const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    bool replaced = std::any_of(extra.begin(), extra.end(), [&](const std::string& x) {
      return x.substr(0, x.find('=')) == name;
    });
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  std::vector<char*> rawArgv, rawEnv;
  auto args = argv;
  for (auto& a : args) rawArgv.push_back(a.data());
  rawArgv.push_back(nullptr);
  for (auto& e : env) rawEnv.push_back(e.data());
  rawEnv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  // Nothing of the test's own (pipes to the helper) goes to the application.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0].c_str(), &actions, &attributes, rawArgv.data(), rawEnv.data()) !=
      0) {
    pid = -1;
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

bool reaped(pid_t pid, std::chrono::milliseconds wait) {
  const auto deadline = Clock::now() + wait;
  while (Clock::now() < deadline) {
    pid_t r = ::waitpid(pid, nullptr, WNOHANG);
    if (r == pid || (r < 0 && errno == ECHILD)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// The group goes as a whole: browsers leave helpers of their own behind.
void stopGroup(pid_t leader) {
  if (leader <= 0) return;
  ::kill(-leader, SIGTERM);
  if (!reaped(leader, std::chrono::seconds(10))) {
    ::kill(-leader, SIGKILL);
    ::waitpid(leader, nullptr, 0);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ::kill(-leader, SIGKILL);  // what outlived its leader
}

}  // namespace

HelperServer::HelperServer(const std::string& helper) : session_(helper, {{"--serve"}}) {}

json HelperServer::ask(const json& request) {
  if (!session_.write(request.dump() + "\n")) return json();
  auto line = session_.readLine(std::chrono::seconds(60));
  return line ? json::parse(*line, nullptr, false) : json();
}

RealApp::RealApp(std::vector<std::string> argv, std::vector<std::string> environment,
                 std::string windowMatch, std::chrono::seconds wait) {
  home_ = privateFolder("vorn-app-");
  if (home_.empty()) return;
  for (auto& a : argv) {
    for (auto at = a.find("{home}"); at != std::string::npos; at = a.find("{home}")) {
      a.replace(at, 6, home_);
    }
  }
  environment.insert(environment.begin(), {"HOME=" + home_, "XDG_CONFIG_HOME=" + home_ + "/.config",
                                           "XDG_CACHE_HOME=" + home_ + "/.cache",
                                           "XDG_DATA_HOME=" + home_ + "/.local/share"});
  leader_ = spawnDetached(argv, environment);
  if (leader_ <= 0) return;
  HelperServer helper(VORN_COMPUTER_USE);
  const std::string needle = lower(windowMatch);
  const auto deadline = Clock::now() + wait;
  while (Clock::now() < deadline && ::waitpid(leader_, nullptr, WNOHANG) == 0) {
    json listing = helper.ask({{"op", "list_windows"}, {"limit", 100}});
    for (const auto& w : listing.value("windows", json::array())) {
      std::string title = w.value("title", ""), app = w.value("app_name", "");
      if (lower(title).find(needle) == std::string::npos &&
          lower(app).find(needle) == std::string::npos) {
        continue;
      }
      pid_ = w.value("pid", -1);
      window_ = w.value("window_number", 0ul);
      title_ = title;
      // The window shows before the application's accessible tree does.
      while (Clock::now() < deadline) {
        json seen = helper.ask({{"op", "observe"}, {"pid", pid_}, {"max_depth", 1}});
        if (seen.value("ok", false)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
      }
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
}

RealApp::~RealApp() {
  stopGroup(leader_);
  if (pid_ > 0 && pid_ != leader_) ::kill(pid_, SIGKILL);
  std::error_code ignored;
  if (!home_.empty()) std::filesystem::remove_all(home_, ignored);
}

bool RealApp::alive() const {
  if (pid_ <= 0) return false;
  if (pid_ == leader_) return ::waitpid(leader_, nullptr, WNOHANG) == 0;
  return ::kill(pid_, 0) == 0;
}

Openbox::Openbox() {
  folder_ = privateFolder("vorn-openbox-");
  if (folder_.empty()) return;
  const std::string ready = folder_ + "/ready";
  pid_ = spawnDetached({"openbox", "--sm-disable", "--startup", "touch " + ready}, {});
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (pid_ > 0 && Clock::now() < deadline) {
    if (std::filesystem::exists(ready)) {
      running_ = true;
      // Let it take over the windows already on the screen.
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

Openbox::~Openbox() {
  stopGroup(pid_);
  std::error_code ignored;
  if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
}

std::map<std::string, int> windowGeometry(unsigned long window) {
  ProgramRun r =
      runProgram("/usr/bin/xdotool", {{"getwindowgeometry", "--shell", std::to_string(window)}});
  std::map<std::string, int> values;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    auto eq = line.find('=');
    if (eq != std::string::npos && line.substr(0, eq) != "SCREEN") {
      values[line.substr(0, eq)] = std::stoi(line.substr(eq + 1));
    }
  }
  return values;
}

std::string windowManagerName(WindowManager wm) {
  return wm == WindowManager::kOpenbox ? "Openbox" : "Bare";
}

const json* findNode(const json& node, const std::string& role, const std::string& title) {
  if (node.value("role", "") == role && (title.empty() || node["title"] == title)) return &node;
  auto children = node.find("children");
  if (children == node.end()) return nullptr;
  for (const auto& child : *children) {
    if (const json* found = findNode(child, role, title)) return found;
  }
  return nullptr;
}

namespace {
void collect(const json& node, const std::string& role, std::vector<const json*>& out) {
  if (node.value("role", "") == role) out.push_back(&node);
  auto children = node.find("children");
  if (children == node.end()) return;
  for (const auto& child : *children) collect(child, role, out);
}
}  // namespace

std::vector<const json*> findNodes(const json& node, const std::string& role) {
  std::vector<const json*> out;
  collect(node, role, out);
  return out;
}

std::string textUnder(const json& node) {
  std::string text;
  for (const char* key : {"title", "value"}) {
    if (node.contains(key) && node[key].is_string()) text += node[key].get<std::string>() + " ";
  }
  auto children = node.find("children");
  if (children != node.end()) {
    for (const auto& child : *children) text += textUnder(child);
  }
  return text;
}

}  // namespace vorn::testing
