// ssh-bench HOST PORT USER KEYFILE COMMAND
//
// Runs COMMAND through the real SSH session path — the "remote-ssh" worker, the bounded
// output queue and the terminal screen drained once per 60 Hz frame, as the session screen
// does — and prints how fast its output arrived:
//
//   bytes=N seconds=S mbps=X          (mbps: 10^6 bytes per second, first byte to end)
//   cpu_seconds=C cpu_ms_per_mb=M ui_cpu_ms_per_mb=U
//
// COMMAND is typed into the login shell once its prompt has settled, followed by "; exit",
// so the session ends when COMMAND does. The server's host key is pinned on first use in
// a temporary store that is removed afterwards; the user's own pins are never touched.

#include <stdlib.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <expected>
#include <optional>
#include <filesystem>
#include <string>
#include <thread>
#include <variant>

#include "ssh/known_hosts.h"
#include "ssh/ssh_session.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using remote::ssh::SshSession;

constexpr auto kFrame = std::chrono::microseconds(16'667);
constexpr auto kConnectTimeout = 30s;
constexpr auto kPromptQuiet = 500ms;
constexpr auto kRunTimeout = std::chrono::minutes(30);

double cpu_seconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool connecting(const SshSession& session) {
  return std::holds_alternative<remote::session::Connecting>(session.status());
}
bool connected(const SshSession& session) {
  return std::holds_alternative<remote::session::Connected>(session.status());
}
std::string failure_text(const SshSession& session) {
  const auto status = session.status();
  if (const auto* failed = std::get_if<remote::session::Failed>(&status)) return failed->text;
  return "the session ended";
}

int fail(const std::string& text) {
  std::fprintf(stderr, "ssh-bench: %s\n", text.c_str());
  return 1;
}

struct TempStore {
  fs::path dir;
  TempStore() {
    std::string pattern = (fs::temp_directory_path() / "ssh-bench.XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) dir = pattern;
  }
  ~TempStore() {
    std::error_code ignored;
    if (!dir.empty()) fs::remove_all(dir, ignored);
  }
};

// Starts the session, pinning the server's key in the temporary store when it asks for trust.
std::expected<SshSession, std::string> connect(const remote::ssh::SshConnectRequest& request) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto session = remote::ssh::start_session(request);
    if (!session) return std::unexpected(session.error());
    const auto deadline = Clock::now() + kConnectTimeout;
    while (connecting(*session) && Clock::now() < deadline) {
      session->drain_output();
      std::this_thread::sleep_for(kFrame);
    }
    if (connected(*session)) return session;
    const auto observation = session->host_key_observation();
    const auto* needs_trust = observation ? std::get_if<remote::ssh::NeedsTrust>(&*observation) : nullptr;
    if (attempt > 0 || needs_trust == nullptr) {
      return std::unexpected(connecting(*session) ? std::string("timed out connecting") : failure_text(*session));
    }
    auto trusted = remote::ssh::trust_host_key(request.store_path, request.host, request.port, needs_trust->observed);
    if (!trusted) return std::unexpected("could not pin the host key: " + trusted.error());
  }
  return std::unexpected(std::string("could not connect"));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: ssh-bench HOST PORT USER KEYFILE COMMAND\n");
    return 2;
  }
  const int port = std::atoi(argv[2]);
  if (port <= 0 || port > 65535) return fail("PORT must be 1-65535");
  TempStore store;
  if (store.dir.empty()) return fail("could not make a temporary pin store");

  remote::ssh::SshConnectRequest request{argv[1],
                                         argv[3],
                                         store.dir / "known-hosts.json",
                                         remote::ssh::KeyFile{argv[4], std::nullopt},
                                         static_cast<std::uint16_t>(port),
                                         remote::ssh::kTerminalColumns,
                                         remote::ssh::kTerminalRows};
  if (const char* passphrase = std::getenv("REMOTE_SSH_KEY_PASSPHRASE")) {
    std::get<remote::ssh::KeyFile>(request.credentials).passphrase = passphrase;
  }
  auto session = connect(request);
  if (!session) return fail(session.error());

  // Let the shell finish printing its prompt, so its start-up is not measured.
  auto last_change = Clock::now();
  std::uint64_t seen = session->output_bytes();
  const auto prompt_deadline = Clock::now() + kConnectTimeout;
  while (Clock::now() - last_change < kPromptQuiet && Clock::now() < prompt_deadline) {
    session->drain_output();
    if (session->output_bytes() != seen) {
      seen = session->output_bytes();
      last_change = Clock::now();
    }
    std::this_thread::sleep_for(kFrame);
  }

  const std::string typed = std::string(argv[5]) + "; exit\r";
  if (auto sent = remote::ssh::submit_input(*session, typed); !sent) return fail(sent.error());

  const std::uint64_t baseline = session->output_bytes();
  std::optional<Clock::time_point> first_byte;
  double cpu_at_first = 0;
  double ui_cpu_at_first = 0;
  const auto run_deadline = Clock::now() + kRunTimeout;
  while (connected(*session) && Clock::now() < run_deadline) {
    const auto frame_start = Clock::now();
    if (session->drain_output() && !first_byte) {
      first_byte = frame_start;
      cpu_at_first = cpu_seconds(RUSAGE_SELF);
      ui_cpu_at_first = cpu_seconds(RUSAGE_THREAD);
    }
    std::this_thread::sleep_until(frame_start + kFrame);
  }
  session->drain_output();
  const auto end = Clock::now();
  if (!std::holds_alternative<remote::session::Ended>(session->status())) return fail(failure_text(*session));
  if (!first_byte) return fail("no output arrived");

  const std::uint64_t bytes = session->output_bytes() - baseline;
  const double seconds = std::chrono::duration<double>(end - *first_byte).count();
  const double megabytes = static_cast<double>(bytes) / 1e6;
  const double cpu = cpu_seconds(RUSAGE_SELF) - cpu_at_first;
  const double ui_cpu = cpu_seconds(RUSAGE_THREAD) - ui_cpu_at_first;
  std::printf("bytes=%llu seconds=%.3f mbps=%.1f\n", static_cast<unsigned long long>(bytes), seconds,
              megabytes / seconds);
  std::printf("cpu_seconds=%.3f cpu_ms_per_mb=%.3f ui_cpu_ms_per_mb=%.3f\n", cpu, 1000 * cpu / megabytes,
              1000 * ui_cpu / megabytes);
  return 0;
}
