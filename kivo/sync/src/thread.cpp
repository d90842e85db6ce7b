#include "kivo/sync/thread.h"

#include <pthread.h>

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

std::expected<void, std::string> spawn_detached(std::string name, std::move_only_function<void()> body) {
  try {
    std::thread thread([name = std::move(name), body = std::move(body)]() mutable {
      set_current_thread_name(name);
      body();
    });
    thread.detach();
  } catch (const std::system_error& error) {
    return std::unexpected(error.code().message());
  }
  return {};
}

}  // namespace kivo::sync
