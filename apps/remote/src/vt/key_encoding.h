#pragma once
// The bytes a terminal sends for a key press. The mapping is fixed: there are no
// application-cursor or keypad modes and no modifier encoding.

#include <string>

#include "kivo/ui/event.h"

namespace remote::vt {

// Returns the bytes to send to the remote shell for one key event; empty means send
// nothing (key releases, keys that produce nothing).
std::string encode_key(const kivo::ui::KeyEvent& event);

}  // namespace remote::vt
