#include "silent_peer.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace remote::test {

SilentPeer::SilentPeer() {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 8) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("no loopback listener");
  }
  port_ = ntohs(address.sin_port);
}

SilentPeer::~SilentPeer() {
  hang_up();
  close();
}

bool SilentPeer::accept_within(int ms) {
  pollfd p{listener_, POLLIN, 0};
  if (::poll(&p, 1, ms) != 1) return false;
  connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  return connection_ >= 0;
}

bool SilentPeer::closed_within(int ms) {
  char buffer[256];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{connection_, POLLIN, 0};
    if (::poll(&p, 1, 50) == 1) {
      const ssize_t got = ::recv(connection_, buffer, sizeof buffer, 0);
      if (got <= 0) return true;  // the client's banner may come first; then the end of the stream
    }
  }
  return false;
}

void SilentPeer::hang_up() {
  if (connection_ >= 0) ::close(connection_);
  connection_ = -1;
}

void SilentPeer::close() {
  if (listener_ >= 0) ::close(listener_);
  listener_ = -1;
}

}  // namespace remote::test
