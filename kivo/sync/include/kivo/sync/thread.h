#pragma once
// Named worker threads. Linux keeps at most 15 bytes of a thread's name, so longer names
// are cut to their longest prefix that fits (never inside a UTF-8 sequence).

#include <chrono>
#include <expected>
#include <functional>
#include <string>
#include <string_view>

namespace kivo::sync {

// The name the system will show for `name`.
std::string thread_name_prefix(std::string_view name);

// Names the calling thread; failures are ignored, a name is only a diagnostic aid.
void set_current_thread_name(std::string_view name);

// Runs `body` on a new detached thread named `name`. Fails with the system's error text
// when no thread can be created.
[[nodiscard]] std::expected<void, std::string> spawn_detached(std::string name,
                                                              std::move_only_function<void()> body);

// Waits up to `timeout` until every thread spawn_detached started has returned; whether they
// all have. A program calls it before it exits: a worker still closing a connection while the
// libraries it uses are torn down by exit would crash the process on its way out.
bool wait_for_detached_threads(std::chrono::milliseconds timeout);

}  // namespace kivo::sync
