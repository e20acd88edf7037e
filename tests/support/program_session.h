// A built program run the way its caller runs it: arguments, environment and
// standard input in; standard output, standard error and the exit status out.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/unique_fd.h"

namespace vorn::testing {

struct ProgramRun {
  pid_t pid = -1;
  int status = -1;  ///< the exit status; -1 when the program did not exit normally
  std::string out;
  std::string err;
};

/// Options for starting a program.
struct Launch {
  std::vector<std::string> arguments;  ///< after the program path
  /// NAME=value entries added to this process's environment (replacing any
  /// value it has).
  std::vector<std::string> environment;
  /// Names removed from this process's environment (XPC_SERVICE_NAME always is).
  std::vector<std::string> unset;
};

/// A running program with pipes on its three standard streams. The
/// destructor kills and reaps a program that is still running.
class ProgramSession {
 public:
  ProgramSession(const std::string& program, const Launch& launch);
  ~ProgramSession();
  ProgramSession(const ProgramSession&) = delete;
  ProgramSession& operator=(const ProgramSession&) = delete;

  pid_t pid() const { return pid_; }
  bool started() const { return pid_ > 0; }

  /// Writes all of `bytes` to the program's standard input.
  bool write(std::string_view bytes);
  /// Closes the program's standard input.
  void closeInput();
  /// The next line of standard output with its "\n", or nothing when output
  /// ended or `wait` passed first.
  std::optional<std::string> readLine(std::chrono::milliseconds wait = std::chrono::seconds(30));
  /// Whether standard output holds no more bytes for `wait`.
  bool outputStaysQuiet(std::chrono::milliseconds wait);
  /// Writes `input` (then closes standard input), reads both outputs to their
  /// end while the program runs, and waits for its exit.
  ProgramRun finish(std::string_view input = {});

 private:
  void drain(int timeoutMs, bool wantInput = false);

  pid_t pid_ = -1;
  UniqueFd in_, out_, err_;
  std::string outBuffer_, errBuffer_;
};

/// Runs `program` to its end with `input` on standard input.
ProgramRun runProgram(const std::string& program, const Launch& launch,
                      std::string_view input = {});

}  // namespace vorn::testing
