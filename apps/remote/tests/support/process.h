#pragma once
// Child processes and temporary folders for tests that run real programs.

#include <sys/types.h>
#include <time.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kivo/testing/temp_dir.h"

namespace remote::test {

// Changes to the current environment for a child: a value of nullopt unsets the variable.
using Environment = std::map<std::string, std::optional<std::string>>;

using kivo::testing::TempDir;

// Whole-file helpers; written files get `mode`.
void write_file(const std::filesystem::path& path, std::string_view text, unsigned mode = 0600);
std::string read_file(const std::filesystem::path& path);

// A running child process, killed (SIGKILL) and reaped when the object goes away.
class Process {
 public:
  // Starts `argv` with the current environment changed by `env`. Standard output and error
  // go to `log` when given.
  static Process start(const std::vector<std::string>& argv, const Environment& env = {},
                       const std::optional<std::filesystem::path>& log = std::nullopt);
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  ~Process();

  pid_t pid() const { return pid_; }
  bool running();
  // Waits up to `timeout` for the exit; the exit status (or 128 + signal), or nullopt on time-out.
  std::optional<int> wait(std::chrono::milliseconds timeout);
  void signal(int sig) const;
  // Asks the process to end (SIGTERM) and waits up to `grace`; kills it after that.
  void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));

 private:
  explicit Process(pid_t pid) : pid_(pid) {}
  void kill_and_reap();
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// Runs a command to completion (bounded by `timeout`) with the current environment changed
// by `env` and returns its standard output, or nullopt when it failed or timed out.
std::optional<std::string> run_output(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                                      const Environment& env = {});

// The stacks of every thread of a live process (through gdb), for failure messages
// of tests that wait on a program that stopped making progress.
std::string thread_stacks(pid_t pid);

// Polls `condition` every `interval` until it holds or `timeout` passes.
template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout,
                std::chrono::milliseconds interval = std::chrono::milliseconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(interval).count();
    struct timespec ts{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
    nanosleep(&ts, nullptr);
  }
}

// Where the build put a program of ours (REMOTE_BINARY_DIR + relative path).
std::filesystem::path built_program(const std::string& relative);

}  // namespace remote::test
