#include "kivo/sync/thread.h"

#include <pthread.h>

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace kivo::sync {
namespace {

constexpr std::size_t kMaxThreadNameBytes = 15;

bool is_continuation_byte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::string thread_name_prefix(std::string_view name) {
  if (name.size() <= kMaxThreadNameBytes) return std::string(name);
  std::size_t end = kMaxThreadNameBytes;
  // Stepping back over continuation bytes lands on the start of the cut character.
  while (end > 0 && is_continuation_byte(name[end])) --end;
  return std::string(name.substr(0, end));
}

void set_current_thread_name(std::string_view name) {
  const std::string cut = thread_name_prefix(name);
  pthread_setname_np(pthread_self(), cut.c_str());
}

namespace {

// Never destroyed: a detached thread may still report its end while static objects go away.
struct Running {
  std::mutex mutex;
  std::condition_variable ended;
  std::size_t count = 0;
};
Running& running() {
  static Running* state = new Running;
  return *state;
}

}  // namespace

std::expected<void, std::string> spawn_detached(std::string name, std::move_only_function<void()> body) {
  Running& state = running();
  {
    std::lock_guard lock(state.mutex);
    ++state.count;
  }
  try {
    std::thread thread([name = std::move(name), body = std::move(body), &state]() mutable {
      set_current_thread_name(name);
      body();
      // The body's captures go first, so nothing of it outlives the count.
      body = nullptr;
      std::lock_guard lock(state.mutex);
      --state.count;
      state.ended.notify_all();
    });
    thread.detach();
  } catch (const std::system_error& error) {
    std::lock_guard lock(state.mutex);
    --state.count;
    return std::unexpected(error.code().message());
  }
  return {};
}

bool wait_for_detached_threads(std::chrono::milliseconds timeout) {
  Running& state = running();
  std::unique_lock lock(state.mutex);
  return state.ended.wait_for(lock, timeout, [&] { return state.count == 0; });
}

}  // namespace kivo::sync
