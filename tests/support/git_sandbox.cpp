#include "tests/support/git_sandbox.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "agent-runner/protocol/dispatch.h"

namespace fs = std::filesystem;

namespace vorn::testing {

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "vorn-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = fs::canonical(pattern).string();
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

void isolateGitConfig() {
  static TempDir* home = [] {
    auto* dir = new TempDir();
    writeText(dir->path() + "/gitconfig",
              "[user]\n\tname = Vorn Test\n\temail = test@vorn.invalid\n"
              "[init]\n\tdefaultBranch = main\n[advice]\n\tdetachedHead = false\n");
    ::setenv("HOME", dir->path().c_str(), 1);
    ::setenv("GIT_CONFIG_GLOBAL", (dir->path() + "/gitconfig").c_str(), 1);
    ::setenv("GIT_CONFIG_NOSYSTEM", "1", 1);
    ::setenv("LC_ALL", "C", 1);
    return dir;
  }();
  (void)home;
}

std::string sh(const std::string& directory, const std::string& command, bool mayFail) {
  std::string line = "cd '" + directory + "' && { " + command + "; } 2>&1";
  FILE* pipe = ::popen(line.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("popen failed");
  std::string out;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
  int status = ::pclose(pipe);
  if (!mayFail && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
    ADD_FAILURE() << "command failed: " << command << "\n" << out;
  }
  return out;
}

void writeText(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string readText(const std::string& path) {
  std::stringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

bool exists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(path, ignored));
}

GitRepo::GitRepo(bool withCommit) {
  isolateGitConfig();
  git("init -q");
  if (withCommit) commitFile("README", "hello\n", "init");
}

void GitRepo::write(const std::string& relative, const std::string& text) const {
  writeText(path(relative), text);
}

std::string GitRepo::git(const std::string& args, bool mayFail) const {
  return sh(root(), "git " + args, mayFail);
}

void GitRepo::commitFile(const std::string& relative, const std::string& text,
                         const std::string& message) const {
  write(relative, text);
  git("add -- '" + relative + "'");
  git("commit -q -m '" + message + "'");
}

RunnerRequest request(const std::string& op, const std::string& root) {
  RunnerRequest r{.op = op};
  r.workspace_root = root;
  return r;
}

namespace {

// The arguments after the program, blank-separated, those with a blank quoted.
std::string commandLine(const nlohmann::json& argv) {
  std::string line;
  for (std::size_t i = 1; i < argv.size(); ++i) {
    auto arg = argv[i].get<std::string>();
    if (!line.empty()) line += ' ';
    line += arg.find(' ') == std::string::npos ? arg : "'" + arg + "'";
  }
  return line;
}

}  // namespace

// Trace2's session id of a git started by another git names its parent
// ("parent/child"), so only the runs of the runner itself are kept.
Traced traced(const RunnerRequest& request) {
  TempDir dir;
  std::string trace = dir.path() + "/trace";
  ::setenv("GIT_TRACE2_EVENT", trace.c_str(), 1);
  Traced result{VornAgentRunnerMain::handle(request), {}};
  ::unsetenv("GIT_TRACE2_EVENT");
  std::istringstream lines(readText(trace));
  for (std::string line; std::getline(lines, line);) {
    auto event = nlohmann::json::parse(line, nullptr, false);
    if (event.is_discarded() || event.value("event", "") != "start") continue;
    if (event.value("sid", "").find('/') != std::string::npos) continue;
    result.commands.push_back(commandLine(event["argv"]));
  }
  return result;
}

}  // namespace vorn::testing
