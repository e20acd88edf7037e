#include "tests/support/private_bus.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace vorn::testing {
namespace {

std::string makeFolder() {
  std::string pattern = "/tmp/vorn-bus-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

void writeConfig(const std::string& path, const std::string& folder,
                 const std::string& activationDir) {
  std::ofstream(path) << "<busconfig>\n  <type>session</type>\n  <listen>unix:dir=" << folder
                      << "</listen>\n"
                      << (activationDir.empty()
                              ? ""
                              : "  <servicedir>" + activationDir + "</servicedir>\n")
                      << "  <policy context=\"default\">\n"
                         "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                         "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n"
                         "  </policy>\n</busconfig>\n";
}

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, int stdoutFd,
            int stderrFd) {
  std::vector<char*> args, envp;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  args.push_back(nullptr);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
  if (stderrFd >= 0) posix_spawn_file_actions_adddup2(&actions, stderrFd, STDERR_FILENO);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
  return pid;
}

std::vector<std::string> environmentFor(const std::string& address) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string_view entry = *e;
    if (entry.starts_with("DBUS_SESSION_BUS_ADDRESS=") || entry.starts_with("XPC_SERVICE_NAME=")) {
      continue;
    }
    env.emplace_back(entry);
  }
  env.push_back("DBUS_SESSION_BUS_ADDRESS=" + address);
  return env;
}

struct BusCloser {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using Bus = std::unique_ptr<sd_bus, BusCloser>;

Bus connect(const std::string& address) {
  sd_bus* bus = nullptr;
  if (sd_bus_new(&bus) < 0) return nullptr;
  Bus owned(bus);
  if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 ||
      sd_bus_start(bus) < 0) {
    return nullptr;
  }
  return owned;
}

}  // namespace

PrivateBus::PrivateBus(const std::string& activationDir) : folder_(makeFolder()) {
  writeConfig(folder_ + "/bus.conf", folder_, activationDir);
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  daemon_ = spawn({"/usr/bin/dbus-daemon", "--config-file=" + folder_ + "/bus.conf", "--nofork",
                   "--print-address=1"},
                  environmentFor(""), out[1], -1);
  ::close(out[1]);
  char buffer[512];
  std::string text;
  while (text.find('\n') == std::string::npos) {
    ssize_t n = ::read(out[0], buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(out[0]);
  address_ = text.substr(0, text.find('\n'));
  if (address_.empty()) throw std::runtime_error("dbus-daemon printed no address");
}

PrivateBus::~PrivateBus() {
  for (pid_t pid : started_) {
    if (::kill(pid, SIGTERM) == 0) (void)wait(pid);
  }
  ::kill(daemon_, SIGTERM);
  int status;
  ::waitpid(daemon_, &status, 0);
  std::string command = "rm -rf '" + folder_ + "'";
  (void)std::system(command.c_str());
}

pid_t PrivateBus::start(const std::string& program, const std::vector<std::string>& arguments,
                        const std::string& stderrPath) {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  int err = -1;
  if (!stderrPath.empty()) err = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = spawn(argv, environmentFor(address_), -1, err);
  if (err >= 0) ::close(err);
  started_.push_back(pid);
  return pid;
}

int PrivateBus::wait(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  std::erase(started_, pid);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool PrivateBus::waitForName(const std::string& busName) const {
  Bus bus = connect(address_);
  for (int attempt = 0; bus && attempt < 500; ++attempt) {
    if (sd_bus_get_name_creds(bus.get(), busName.c_str(), 0, nullptr) >= 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::string performRequest(const std::string& address, const std::string& busName,
                           const std::string& objectPath, const std::string& interface,
                           const std::string& request) {
  Bus bus = connect(address);
  if (!bus) return "error: cannot connect";
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int rc = sd_bus_call_method(bus.get(), busName.c_str(), objectPath.c_str(), interface.c_str(),
                              "PerformRequest", &error, &reply, "s", request.c_str());
  std::string text;
  if (rc < 0) {
    text = std::string("error: ") + (error.name ? error.name : "") + ": " +
           (error.message ? error.message : std::strerror(-rc));
  } else {
    const char* s = nullptr;
    text = sd_bus_message_read(reply, "s", &s) >= 0 ? s : "error: unreadable reply";
  }
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  return text;
}

int procEntries(pid_t pid, const char* what) {
  std::string path = "/proc/" + std::to_string(pid) + "/" + what;
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return -1;
  int count = 0;
  while (dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  ::closedir(dir);
  return count;
}

int settledEntries(pid_t pid, const char* what) {
  int last = procEntries(pid, what), still = 0;
  for (int step = 0; step < 200 && still < 20; ++step) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    int now = procEntries(pid, what);
    still = now == last ? still + 1 : 0;
    last = now;
  }
  return last;
}

}  // namespace vorn::testing
