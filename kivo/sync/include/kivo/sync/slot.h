#pragma once
// One value shared between threads, behind its own mutex. The lock is held only to copy
// or swap the value; an old value is destroyed after the lock is released. Share a slot
// with std::make_shared<Slot<T>>(initial).

#include <mutex>
#include <utility>

namespace kivo::sync {

template <class T>
class Slot {
 public:
  Slot() = default;
  explicit Slot(T initial) : value_(std::move(initial)) {}
  Slot(const Slot&) = delete;
  Slot& operator=(const Slot&) = delete;

  // A copy of the current value.
  T load() const {
    std::lock_guard lock(mutex_);
    return value_;
  }

  void store(T value) {
    {
      std::lock_guard lock(mutex_);
      std::swap(value_, value);
    }
  }

  // Puts `value` in and hands back what was there.
  T replace(T value) {
    {
      std::lock_guard lock(mutex_);
      std::swap(value_, value);
    }
    return value;
  }

  // Hands back the value and leaves a default-constructed one.
  T take() { return replace(T{}); }

 private:
  mutable std::mutex mutex_;
  T value_{};
};

}  // namespace kivo::sync
