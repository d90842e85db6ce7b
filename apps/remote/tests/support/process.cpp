#include "process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>
#include <utility>

extern char** environ;

namespace remote::test {
namespace {

// The current environment with `changes` applied (nullopt unsets), as "NAME=value" strings.
std::vector<std::string> merged_environment(const Environment& changes) {
  std::map<std::string, std::string> merged;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const auto eq = entry.find('=');
    if (eq != std::string::npos) merged[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [name, value] : changes) {
    if (value) {
      merged[name] = *value;
    } else {
      merged.erase(name);
    }
  }
  std::vector<std::string> out;
  for (const auto& [name, value] : merged) out.push_back(name + "=" + value);
  return out;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace

void write_file(const std::filesystem::path& path, std::string_view text, unsigned mode) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
  }
  ::chmod(path.c_str(), mode);
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

Process Process::start(const std::vector<std::string>& argv, const Environment& env,
                       const std::optional<std::filesystem::path>& log) {
  std::vector<std::string> env_strings = merged_environment(env);
  std::vector<char*> envp = pointers(env_strings);
  std::vector<std::string> args = argv;
  std::vector<char*> argp = pointers(args);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (log) {
    posix_spawn_file_actions_addopen(&actions, 1, log->c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  }
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
  return Process(pid);
}

Process::Process(Process&& other) noexcept : pid_(other.pid_), status_(other.status_) { other.pid_ = -1; }

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    kill_and_reap();
    pid_ = std::exchange(other.pid_, -1);
    status_ = other.status_;
  }
  return *this;
}

Process::~Process() { kill_and_reap(); }

void Process::kill_and_reap() {
  if (pid_ > 0 && !status_) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  pid_ = -1;
}

bool Process::running() {
  // A moved-from object has no child: waitpid(-1) would reap somebody else's.
  if (pid_ <= 0 || status_) return false;
  int status = 0;
  const pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == 0) return true;
  // r < 0: the child is gone without a status we can read (reaped elsewhere).
  status_ = r < 0 ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return false;
}

std::optional<int> Process::wait(std::chrono::milliseconds timeout) {
  eventually([this] { return !running(); }, timeout);
  return status_;
}

void Process::stop(std::chrono::milliseconds grace) {
  if (pid_ <= 0 || status_) return;
  kill(pid_, SIGTERM);
  if (!wait(grace)) {
    kill(pid_, SIGKILL);
    wait(std::chrono::milliseconds(2000));
  }
}

void Process::signal(int sig) const {
  if (pid_ > 0 && !status_) kill(pid_, sig);
}

std::optional<std::string> run_output(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                                      const Environment& env) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
  std::vector<std::string> args = argv;
  std::vector<char*> argp = pointers(args);
  std::vector<std::string> env_strings = merged_environment(env);
  std::vector<char*> envp = pointers(env_strings);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  if (rc != 0) {
    close(pipe_fds[0]);
    return std::nullopt;
  }
  fcntl(pipe_fds[0], F_SETFL, O_NONBLOCK);
  std::string out;
  int status = 0;
  bool exited = false;
  eventually(
      [&] {
        char buffer[4096];
        ssize_t n;
        while ((n = read(pipe_fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<std::size_t>(n));
        if (!exited && waitpid(pid, &status, WNOHANG) == pid) exited = true;
        return exited && n == 0;
      },
      timeout);
  close(pipe_fds[0]);
  if (!exited) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return std::nullopt;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return out;
}

std::string thread_stacks(pid_t pid) {
  const auto stacks = run_output({"gdb", "-p", std::to_string(pid), "-batch", "-ex", "thread apply all bt 25"},
                                 std::chrono::seconds(60));
  if (!stacks) return "(gdb could not read the process's stacks)";
  std::string out;
  std::size_t start = 0;
  while (start < stacks->size()) {
    const auto end = stacks->find('\n', start);
    const auto line = stacks->substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (line.starts_with("#") || line.starts_with("Thread")) out += line + "\n";
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return out;
}

std::filesystem::path built_program(const std::string& relative) {
  const char* dir = std::getenv("REMOTE_BINARY_DIR");
  return std::filesystem::path(dir != nullptr ? dir : ".") / relative;
}

}  // namespace remote::test
