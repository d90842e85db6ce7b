#pragma once
// Small helpers shared by the SSH tests: temporary directories, files, commands, and a
// real OpenSSH server started on 127.0.0.1 for the integration tests.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace remote::ssh::testing {

// A fresh private directory, removed with everything in it when dropped.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

void write_file(const std::filesystem::path& path, std::string_view text, unsigned mode = 0600);
std::string read_file(const std::filesystem::path& path);

// Runs a shell command; its standard output, and whether it exited with status 0.
struct CommandResult {
  std::string output;
  bool ok = false;
};
CommandResult run_command(const std::string& command);

// Polls `done` until it holds or `timeout` passes.
bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Sets an environment variable for the life of the object, restoring the old value.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);  // value nullptr unsets
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  bool had_value_ = false;
  std::string old_value_;
};

// An OpenSSH sshd of our own: its own host key, configuration, authorized keys and
// DEBUG3 log, listening on 127.0.0.1 at a free port, stopped when dropped.
class Sshd {
 public:
  explicit Sshd(std::filesystem::path dir);
  ~Sshd();
  Sshd(const Sshd&) = delete;
  Sshd& operator=(const Sshd&) = delete;

  // Starts the server, making a new ed25519 host key first when `new_host_key`. Keeps the
  // port across restarts. Empty text on success, else what went wrong.
  std::string start(bool new_host_key = false);
  void stop();

  std::uint16_t port() const { return port_; }
  const std::filesystem::path& dir() const { return dir_; }
  std::filesystem::path host_key_path() const { return dir_ / "host_ed25519"; }
  std::filesystem::path authorized_keys_path() const { return dir_ / "authorized_keys"; }
  // The fingerprint ssh-keygen prints for the current host key ("SHA256:…").
  std::string host_key_fingerprint() const;
  // Everything the server logged since its last start.
  std::string log() const;
  // Waits until the log contains `text`.
  bool wait_for_log(std::string_view text, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

 private:
  std::filesystem::path dir_;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
};

// Makes a key pair with ssh-keygen; returns the private key's path. Empty passphrase: none.
std::filesystem::path make_key(const std::filesystem::path& dir, const std::string& name, const std::string& type,
                               const std::string& passphrase = "");

}  // namespace remote::ssh::testing
