#pragma once
// Sole owner of a file descriptor: closed when the owner goes away.

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace kivo {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(std::exchange(other.fd_, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes now and returns the errno close gave, or 0: a delayed write error of a file
  // shows up only here.
  int close_checked() {
    if (fd_ < 0) return 0;
    return ::close(std::exchange(fd_, -1)) == 0 ? 0 : errno;
  }

 private:
  int fd_ = -1;
};

}  // namespace kivo
