#pragma once
// One answer from one thread to another. The receiver polls without waiting and can tell
// "nothing yet" from "the sender went away without answering".

#include <expected>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace kivo::sync {

enum class OneshotError {
  NothingYet,  // the sender still exists and has not answered
  SenderGone,  // the sender was dropped without answering, or the answer was already taken
};

template <class T>
class OneshotSender;
template <class T>
class OneshotReceiver;

namespace detail {

template <class T>
struct OneshotState {
  std::mutex mutex;
  std::optional<T> value;
  bool sender_alive = true;
  bool receiver_alive = true;
};

}  // namespace detail

template <class T>
class OneshotSender {
 public:
  OneshotSender() = default;
  OneshotSender(OneshotSender&&) noexcept = default;
  OneshotSender& operator=(OneshotSender&& other) noexcept {
    if (this != &other) {
      release();
      state_ = std::move(other.state_);
    }
    return *this;
  }
  OneshotSender(const OneshotSender&) = delete;
  OneshotSender& operator=(const OneshotSender&) = delete;
  ~OneshotSender() { release(); }

  // Delivers the answer and uses the sender up. False when the receiver is already gone
  // (the value is dropped).
  bool send(T value) {
    if (!state_) return false;
    bool delivered = false;
    {
      std::lock_guard lock(state_->mutex);
      if (state_->receiver_alive) {
        state_->value.emplace(std::move(value));
        delivered = true;
      }
      state_->sender_alive = false;
    }
    state_.reset();
    return delivered;
  }

 private:
  template <class U>
  friend std::pair<OneshotSender<U>, OneshotReceiver<U>> oneshot();

  explicit OneshotSender(std::shared_ptr<detail::OneshotState<T>> state) : state_(std::move(state)) {}

  void release() {
    if (!state_) return;
    {
      std::lock_guard lock(state_->mutex);
      state_->sender_alive = false;
    }
    state_.reset();
  }

  std::shared_ptr<detail::OneshotState<T>> state_;
};

template <class T>
class OneshotReceiver {
 public:
  OneshotReceiver() = default;
  OneshotReceiver(OneshotReceiver&&) noexcept = default;
  OneshotReceiver& operator=(OneshotReceiver&& other) noexcept {
    if (this != &other) {
      release();
      state_ = std::move(other.state_);
    }
    return *this;
  }
  OneshotReceiver(const OneshotReceiver&) = delete;
  OneshotReceiver& operator=(const OneshotReceiver&) = delete;
  ~OneshotReceiver() { release(); }

  // The answer, once; never waits.
  [[nodiscard]] std::expected<T, OneshotError> try_recv() {
    if (!state_) return std::unexpected(OneshotError::SenderGone);
    std::optional<T> value;
    {
      std::lock_guard lock(state_->mutex);
      if (!state_->value) {
        return std::unexpected(state_->sender_alive ? OneshotError::NothingYet : OneshotError::SenderGone);
      }
      value.swap(state_->value);
    }
    return std::move(*value);
  }

 private:
  template <class U>
  friend std::pair<OneshotSender<U>, OneshotReceiver<U>> oneshot();

  explicit OneshotReceiver(std::shared_ptr<detail::OneshotState<T>> state) : state_(std::move(state)) {}

  void release() {
    if (!state_) return;
    std::optional<T> dropped;
    {
      std::lock_guard lock(state_->mutex);
      state_->receiver_alive = false;
      dropped.swap(state_->value);
    }
    state_.reset();
  }

  std::shared_ptr<detail::OneshotState<T>> state_;
};

template <class T>
std::pair<OneshotSender<T>, OneshotReceiver<T>> oneshot() {
  auto state = std::make_shared<detail::OneshotState<T>>();
  return {OneshotSender<T>(state), OneshotReceiver<T>(state)};
}

}  // namespace kivo::sync
