#include "sshd.h"

#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>
#include <stdexcept>

#include "process.h"

namespace remote::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

bool run_ok(const std::vector<std::string>& argv) { return run_output(argv, 30s).has_value(); }

std::uint16_t free_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  std::uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

}  // namespace

Sshd::Sshd(fs::path dir) : dir_(std::move(dir)) {}

Sshd::~Sshd() { stop(); }

std::string Sshd::start(bool new_host_key) {
  stop();
  if (new_host_key || !fs::exists(host_key_path())) {
    fs::remove(host_key_path());
    fs::remove(fs::path(host_key_path()).concat(".pub"));
    if (!run_ok({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-C", "test-host", "-f", host_key_path().string()})) {
      return "ssh-keygen could not make a host key";
    }
  }
  if (!fs::exists(authorized_keys_path())) write_file(authorized_keys_path(), "");
  // Privilege separation needs this directory when the server runs as root.
  if (::geteuid() == 0) ::mkdir("/run/sshd", 0755);

  for (int attempt = 0; attempt < 5; ++attempt) {
    if (port_ == 0 || attempt > 0) port_ = free_port();
    const fs::path config = dir_ / "sshd_config";
    std::ostringstream text;
    text << "Port " << port_ << "\n"
         << "ListenAddress 127.0.0.1\n"
         << "HostKey " << host_key_path().string() << "\n"
         << "PidFile " << (dir_ / "sshd.pid").string() << "\n"
         << "LogLevel DEBUG3\n"
         << "AuthorizedKeysFile " << authorized_keys_path().string() << "\n"
         << "StrictModes no\n"
         << "UsePAM no\n"
         << "PasswordAuthentication yes\n"
         << "KbdInteractiveAuthentication no\n"
         << "PubkeyAuthentication yes\n"
         << "PermitRootLogin yes\n"
         << "PrintMotd no\n"
         << "PrintLastLog no\n"
         << "UseDNS no\n"
         << "MaxStartups 100\n";
    write_file(config, text.str());
    const fs::path log_path = dir_ / "sshd.log";
    write_file(log_path, "");

    process_.emplace(Process::start({"/usr/sbin/sshd", "-D", "-f", config.string(), "-E", log_path.string()}, {},
                                    fs::path("/dev/null")));
    const std::string listening = "Server listening on 127.0.0.1 port " + std::to_string(port_);
    const bool ready = eventually(
        [&] { return !process_->running() || read_file(log_path).find(listening) != std::string::npos; }, 10s);
    if (ready && process_->running()) return {};
    if (!process_->running()) {
      process_.reset();
      // Most likely the port was taken in the meantime; try another.
      if (read_file(log_path).find("Address already in use") != std::string::npos) continue;
      return "sshd exited: " + read_file(log_path);
    }
    stop();
    return "sshd did not start listening: " + read_file(log_path);
  }
  return "sshd found no free port";
}

void Sshd::stop() {
  if (process_) process_->stop(5s);
  process_.reset();
}

void Sshd::authorize(const fs::path& private_key) const {
  const std::string line = read_file(fs::path(private_key).concat(".pub"));
  write_file(authorized_keys_path(), read_file(authorized_keys_path()) + line);
}

std::string Sshd::host_key_fingerprint() const {
  const auto printed = run_output({"ssh-keygen", "-lf", host_key_path().string() + ".pub"}, 30s);
  // "256 SHA256:… comment (ED25519)"
  std::istringstream fields(printed.value_or(""));
  std::string bits, fingerprint;
  fields >> bits >> fingerprint;
  return fingerprint;
}

std::string Sshd::log() const { return read_file(dir_ / "sshd.log"); }

bool Sshd::wait_for_log(std::string_view text, std::chrono::milliseconds timeout) const {
  return eventually([&] { return log().find(text) != std::string::npos; }, timeout);
}

fs::path make_key(const fs::path& dir, const std::string& name, const std::string& type, const std::string& passphrase) {
  const fs::path path = dir / name;
  if (!run_ok({"ssh-keygen", "-q", "-t", type, "-N", passphrase, "-C", name, "-f", path.string()})) {
    throw std::runtime_error("ssh-keygen could not make " + name);
  }
  return path;
}

std::string current_user() {
  const passwd* entry = ::getpwuid(::geteuid());
  return entry != nullptr ? entry->pw_name : "root";
}

}  // namespace remote::test
