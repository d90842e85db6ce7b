#pragma once
// What a live session reports about itself, shared by every transport worker.

#include <string>
#include <variant>

namespace remote::session {

struct Connecting {
  friend bool operator==(const Connecting&, const Connecting&) = default;
};
struct Connected {
  friend bool operator==(const Connected&, const Connected&) = default;
};
// The remote side closed a session that had been connected.
struct Ended {
  friend bool operator==(const Ended&, const Ended&) = default;
};
// No attempt was made; the text says why.
struct Unavailable {
  std::string text;
  friend bool operator==(const Unavailable&, const Unavailable&) = default;
};
// The attempt or the running session failed; the text is the real error.
struct Failed {
  std::string text;
  friend bool operator==(const Failed&, const Failed&) = default;
};

using SessionStatus = std::variant<Connecting, Connected, Ended, Unavailable, Failed>;

}  // namespace remote::session
