#pragma once
// A TCP listener on 127.0.0.1 that never says anything: an SSH client that dials it waits
// for a banner that does not come. Tests use it for sessions that must stay "connecting".

#include <cstdint>

namespace remote::test {

class SilentPeer {
 public:
  SilentPeer();
  ~SilentPeer();
  SilentPeer(const SilentPeer&) = delete;
  SilentPeer& operator=(const SilentPeer&) = delete;

  std::uint16_t port() const { return port_; }
  // Accepts one connection within `ms` (until then the kernel holds it in the backlog).
  bool accept_within(int ms);
  // Whether the client closed the accepted connection within `ms`.
  bool closed_within(int ms);
  // Closes the accepted connection.
  void hang_up();
  // Stops listening; connections still waiting in the backlog are reset.
  void close();

 private:
  int listener_ = -1;
  int connection_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace remote::test
