#pragma once
// Child processes and temporary folders for tests that run real programs.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace remote::test {

// A folder under /tmp removed (recursively) when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// A running child process, killed (SIGKILL) and reaped when the object goes away.
class Process {
 public:
  // Starts `argv` with the current environment plus `env` (a value of nullopt unsets the
  // variable). Standard output and error go to `log` when given.
  static Process start(const std::vector<std::string>& argv,
                       const std::map<std::string, std::optional<std::string>>& env = {},
                       const std::optional<std::filesystem::path>& log = std::nullopt);
  // Takes charge of a child started some other way.
  static Process adopt(pid_t pid) { return Process(pid); }
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
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// Runs a command to completion (bounded by `timeout`) and returns its standard output,
// or nullopt when it failed or timed out.
std::optional<std::string> run_output(const std::vector<std::string>& argv, std::chrono::milliseconds timeout);

// The stacks of every thread of a live process (through gdb), for failure messages
// of tests that wait on a program that stopped making progress.
std::string thread_stacks(pid_t pid);

// Polls `condition` every 20 ms until it holds or `timeout` passes.
template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    struct timespec ts{0, 20'000'000};
    nanosleep(&ts, nullptr);
  }
}

// Where the build put a program of ours (REMOTE_BINARY_DIR + relative path).
std::filesystem::path built_program(const std::string& relative);

}  // namespace remote::test
