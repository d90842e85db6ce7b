#pragma once
// A bounded queue between threads. The UI thread only ever tries (try_send, try_recv);
// workers may wait (send, recv, recv_for). Dropping every sender, or the receiver, closes
// the channel: the receiver still gets what was queued before its senders went away, while
// a dropped receiver destroys whatever was still queued, so replies carried by queued items
// are seen as abandoned at once.

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <expected>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>

#include "kivo/base/log.h"

namespace kivo::sync {

enum class SendError {
  Full,    // the queue holds `capacity` items; nothing was queued
  Closed,  // the receiver is gone
};

enum class RecvError {
  Empty,   // nothing queued (or, for recv_for, nothing arrived in time)
  Closed,  // nothing queued and every sender is gone
};

template <class T>
class Sender;
template <class T>
class Receiver;

namespace detail {

template <class T>
struct ChannelState {
  explicit ChannelState(std::size_t capacity) : capacity(capacity) {}
  ~ChannelState() {
    if (wake_fd >= 0) ::close(wake_fd);
  }
  ChannelState(const ChannelState&) = delete;
  ChannelState& operator=(const ChannelState&) = delete;

  bool closed() const { return senders == 0 || !receiver_alive; }

  // Keeps the wake-up descriptor readable exactly while an item is queued or the
  // channel is closed. Called with the mutex held; eventfd calls never block.
  void sync_wake() {
    if (wake_fd < 0) return;
    const bool want = !queue.empty() || closed();
    if (want == wake_raised) return;
    std::uint64_t value = 1;
    if (want) {
      while (::write(wake_fd, &value, sizeof value) < 0 && errno == EINTR) {
      }
    } else {
      while (::read(wake_fd, &value, sizeof value) < 0 && errno == EINTR) {
      }
    }
    wake_raised = want;
  }

  std::mutex mutex;
  std::condition_variable not_empty;
  std::condition_variable not_full;
  std::deque<T> queue;
  const std::size_t capacity;
  std::size_t senders = 1;
  bool receiver_alive = true;
  int wake_fd = -1;
  bool wake_raised = false;
};

}  // namespace detail

// The sending end. Move-only; clone() adds another sender to the same channel.
template <class T>
class Sender {
 public:
  Sender() = default;
  Sender(Sender&& other) noexcept : state_(std::move(other.state_)) {}
  Sender& operator=(Sender&& other) noexcept {
    if (this != &other) {
      release();
      state_ = std::move(other.state_);
    }
    return *this;
  }
  Sender(const Sender&) = delete;
  Sender& operator=(const Sender&) = delete;
  ~Sender() { release(); }

  // Queues the item without waiting. On failure the item is destroyed, together with
  // anything it owns (a reply sender inside it reports "sender gone").
  [[nodiscard]] std::expected<void, SendError> try_send(T item) {
    if (!state_) return std::unexpected(SendError::Closed);
    {
      std::lock_guard lock(state_->mutex);
      if (!state_->receiver_alive) return std::unexpected(SendError::Closed);
      if (state_->queue.size() >= state_->capacity) return std::unexpected(SendError::Full);
      state_->queue.push_back(std::move(item));
      state_->sync_wake();
    }
    state_->not_empty.notify_one();
    return {};
  }

  // Waits while the queue is full. Fails (destroying the item) only when the receiver is
  // gone, including while waiting.
  [[nodiscard]] std::expected<void, SendError> send(T item) {
    if (!state_) return std::unexpected(SendError::Closed);
    {
      std::unique_lock lock(state_->mutex);
      state_->not_full.wait(lock, [&] {
        return !state_->receiver_alive || state_->queue.size() < state_->capacity;
      });
      if (!state_->receiver_alive) return std::unexpected(SendError::Closed);
      state_->queue.push_back(std::move(item));
      state_->sync_wake();
    }
    state_->not_empty.notify_one();
    return {};
  }

  // Whether the receiver is gone; a later try_send fails with Closed.
  bool is_closed() const {
    if (!state_) return true;
    std::lock_guard lock(state_->mutex);
    return !state_->receiver_alive;
  }

  // Another sender for the same channel; the channel closes when the last one is dropped.
  Sender clone() const {
    if (!state_) return Sender();
    {
      std::lock_guard lock(state_->mutex);
      ++state_->senders;
    }
    return Sender(state_);
  }

 private:
  friend class Receiver<T>;
  template <class U>
  friend std::pair<Sender<U>, Receiver<U>> channel(std::size_t capacity);

  explicit Sender(std::shared_ptr<detail::ChannelState<T>> state) : state_(std::move(state)) {}

  void release() {
    if (!state_) return;
    bool last = false;
    {
      std::lock_guard lock(state_->mutex);
      last = --state_->senders == 0;
      if (last) state_->sync_wake();
    }
    if (last) state_->not_empty.notify_all();
    state_.reset();
  }

  std::shared_ptr<detail::ChannelState<T>> state_;
};

// The receiving end. Move-only; there is exactly one per channel.
template <class T>
class Receiver {
 public:
  Receiver() = default;
  Receiver(Receiver&& other) noexcept : state_(std::move(other.state_)) {}
  Receiver& operator=(Receiver&& other) noexcept {
    if (this != &other) {
      release();
      state_ = std::move(other.state_);
    }
    return *this;
  }
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;
  ~Receiver() { release(); }

  // Takes the oldest item without waiting. Queued items are delivered even after every
  // sender is gone; Closed comes only once the queue is empty.
  [[nodiscard]] std::expected<T, RecvError> try_recv() {
    if (!state_) return std::unexpected(RecvError::Closed);
    std::unique_lock lock(state_->mutex);
    return pop(lock);
  }

  // Waits for an item; none once the queue is empty and every sender is gone.
  [[nodiscard]] std::optional<T> recv() {
    if (!state_) return std::nullopt;
    std::unique_lock lock(state_->mutex);
    state_->not_empty.wait(lock, [&] { return !state_->queue.empty() || state_->senders == 0; });
    auto item = pop(lock);
    if (!item) return std::nullopt;
    return std::move(*item);
  }

  // Waits at most `timeout` for an item; Empty when none arrived in time.
  template <class Rep, class Period>
  [[nodiscard]] std::expected<T, RecvError> recv_for(std::chrono::duration<Rep, Period> timeout) {
    if (!state_) return std::unexpected(RecvError::Closed);
    std::unique_lock lock(state_->mutex);
    state_->not_empty.wait_for(lock, timeout,
                               [&] { return !state_->queue.empty() || state_->senders == 0; });
    return pop(lock);
  }

  // Whether every sender is gone. Items queued before that may still be waiting.
  bool senders_gone() const {
    if (!state_) return true;
    std::lock_guard lock(state_->mutex);
    return state_->senders == 0;
  }

  // A descriptor for poll(2): readable while an item is queued or the channel is closed.
  // Only poll it; reading it would break that promise. Owned by the channel.
  [[nodiscard]] std::expected<int, std::error_code> wake_fd() {
    if (!state_) return std::unexpected(std::make_error_code(std::errc::bad_file_descriptor));
    std::lock_guard lock(state_->mutex);
    if (state_->wake_fd < 0) {
      const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
      if (fd < 0) return std::unexpected(std::error_code(errno, std::system_category()));
      state_->wake_fd = fd;
      state_->wake_raised = false;
      state_->sync_wake();
    }
    return state_->wake_fd;
  }

 private:
  template <class U>
  friend std::pair<Sender<U>, Receiver<U>> channel(std::size_t capacity);

  explicit Receiver(std::shared_ptr<detail::ChannelState<T>> state) : state_(std::move(state)) {}

  std::expected<T, RecvError> pop(std::unique_lock<std::mutex>& lock) {
    if (state_->queue.empty()) {
      return std::unexpected(state_->senders == 0 ? RecvError::Closed : RecvError::Empty);
    }
    T item = std::move(state_->queue.front());
    state_->queue.pop_front();
    state_->sync_wake();
    lock.unlock();
    state_->not_full.notify_one();
    return item;
  }

  void release() {
    if (!state_) return;
    std::deque<T> abandoned;
    {
      std::lock_guard lock(state_->mutex);
      state_->receiver_alive = false;
      abandoned.swap(state_->queue);
      state_->sync_wake();
    }
    state_->not_full.notify_all();
    state_.reset();
    // `abandoned` is destroyed here, outside the lock: item destructors may do anything.
  }

  std::shared_ptr<detail::ChannelState<T>> state_;
};

// A channel holding at most `capacity` (at least 1) items.
template <class T>
std::pair<Sender<T>, Receiver<T>> channel(std::size_t capacity) {
  if (capacity == 0) kivo::fatal("kivo::sync::channel needs a capacity of at least one item");
  auto state = std::make_shared<detail::ChannelState<T>>(capacity);
  return {Sender<T>(state), Receiver<T>(state)};
}

}  // namespace kivo::sync
