#include "tests/support/program_session.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <tuple>

extern char** environ;

namespace vorn::testing {
namespace {

std::vector<std::string> environmentFor(const Launch& launch) {
  std::vector<std::string> unset = launch.unset;
  unset.push_back("XPC_SERVICE_NAME");
  for (const auto& entry : launch.environment) unset.push_back(entry.substr(0, entry.find('=')));
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string_view entry(*e);
    bool dropped = std::any_of(unset.begin(), unset.end(), [&](const std::string& name) {
      return entry.starts_with(name + "=");
    });
    if (!dropped) env.emplace_back(entry);
  }
  env.insert(env.end(), launch.environment.begin(), launch.environment.end());
  return env;
}

}  // namespace

ProgramSession::ProgramSession(const std::string& program, const Launch& launch) {
  // A program that ends without reading its input must not kill the test.
  static const bool ignoring = (std::signal(SIGPIPE, SIG_IGN), true);
  (void)ignoring;

  std::vector<std::string> env = environmentFor(launch);
  std::vector<char*> envp, argv{const_cast<char*>(program.c_str())};
  for (auto& e : env) envp.push_back(e.data());
  for (const auto& a : launch.arguments) argv.push_back(const_cast<char*>(a.c_str()));
  envp.push_back(nullptr);
  argv.push_back(nullptr);

  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC)) {
    ADD_FAILURE() << "pipe2 failed";
    return;
  }
  UniqueFd childIn(in[0]), childOut(out[1]), childErr(err[1]);
  in_.reset(in[1]);
  out_.reset(out[0]);
  err_.reset(err[0]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, childIn.get(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, childOut.get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, childErr.get(), STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t pipeDefault;
  sigemptyset(&pipeDefault);
  sigaddset(&pipeDefault, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &pipeDefault);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  int rc = posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (rc != 0) {
    pid_ = -1;
    ADD_FAILURE() << "cannot start " << program;
  }
  for (int fd : {out_.get(), err_.get()}) ::fcntl(fd, F_SETFL, O_NONBLOCK);
}

ProgramSession::~ProgramSession() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
}

bool ProgramSession::write(std::string_view bytes) {
  while (!bytes.empty() && in_.valid()) {
    ssize_t n = ::write(in_.get(), bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return bytes.empty();
}

void ProgramSession::closeInput() { in_.reset(); }

// Reads what is there on both outputs, waiting up to `timeoutMs` for the
// first byte (or, with `wantInput`, for room in the input pipe); a closed
// output becomes invalid.
void ProgramSession::drain(int timeoutMs, bool wantInput) {
  pollfd fds[3] = {
      {out_.get(), POLLIN, 0}, {err_.get(), POLLIN, 0}, {wantInput ? in_.get() : -1, POLLOUT, 0}};
  if (::poll(fds, 3, timeoutMs) <= 0) return;
  char buffer[65536];
  for (auto [index, fd, text] :
       {std::tuple{0, &out_, &outBuffer_}, std::tuple{1, &err_, &errBuffer_}}) {
    if (!fd->valid() || fds[index].revents == 0) continue;
    for (;;) {
      ssize_t n = ::read(fd->get(), buffer, sizeof buffer);
      if (n > 0) {
        text->append(buffer, static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && (errno == EINTR)) continue;
      if (n == 0 || errno != EAGAIN) fd->reset();
      break;
    }
  }
}

std::optional<std::string> ProgramSession::readLine(std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    auto end = outBuffer_.find('\n');
    if (end != std::string::npos) {
      std::string line = outBuffer_.substr(0, end + 1);
      outBuffer_.erase(0, end + 1);
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (!out_.valid() || left.count() <= 0) return std::nullopt;
    drain(static_cast<int>(left.count()));
  }
}

bool ProgramSession::outputStaysQuiet(std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (out_.valid() && outBuffer_.empty()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    drain(static_cast<int>(left.count()));
  }
  return outBuffer_.empty();
}

ProgramRun ProgramSession::finish(std::string_view input) {
  ProgramRun run;
  run.pid = pid_;
  if (pid_ <= 0) return run;
  // Standard input is written in slices between reads, so a program that
  // answers while it reads never stalls on a full pipe.
  if (in_.valid()) ::fcntl(in_.get(), F_SETFL, O_NONBLOCK);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (out_.valid() || err_.valid()) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the program did not finish; killing it";
      ::kill(pid_, SIGKILL);
      break;
    }
    if (in_.valid()) {
      if (input.empty()) {
        closeInput();
      } else {
        ssize_t n = ::write(in_.get(), input.data(), std::min<std::size_t>(input.size(), 1 << 16));
        if (n > 0) input.remove_prefix(static_cast<std::size_t>(n));
        if (n < 0 && errno != EAGAIN && errno != EINTR) closeInput();
      }
    }
    drain(1000, in_.valid());
  }
  closeInput();
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = std::move(outBuffer_);
  run.err = std::move(errBuffer_);
  return run;
}

ProgramRun runProgram(const std::string& program, const Launch& launch, std::string_view input) {
  ProgramSession session(program, launch);
  return session.finish(input);
}

}  // namespace vorn::testing
