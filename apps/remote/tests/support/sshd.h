#pragma once
// A real OpenSSH server for tests: its own host key, configuration, authorized keys and
// DEBUG3 log, listening on 127.0.0.1 at a free port, stopped when dropped.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "process.h"

namespace remote::test {

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
  // Appends the public half of `private_key` (its ".pub" file) to the authorized keys.
  void authorize(const std::filesystem::path& private_key) const;
  // The fingerprint ssh-keygen prints for the current host key ("SHA256:…").
  std::string host_key_fingerprint() const;
  // Everything the server logged since its last start.
  std::string log() const;
  // Waits until the log contains `text`.
  bool wait_for_log(std::string_view text, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

 private:
  std::filesystem::path dir_;
  std::uint16_t port_ = 0;
  std::optional<Process> process_;
};

// Makes a key pair with ssh-keygen; returns the private key's path. Empty passphrase: none.
std::filesystem::path make_key(const std::filesystem::path& dir, const std::string& name, const std::string& type,
                               const std::string& passphrase = "");

// The name of the user the tests run as, which the server accepts for key logins.
std::string current_user();

}  // namespace remote::test
