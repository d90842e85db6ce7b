#pragma once
// Sets an environment variable for one scope and restores what was there before, also when
// a failed assertion leaves the test early.

#include <stdlib.h>

#include <optional>
#include <string>

namespace kivo::testing {

class ScopedEnv {
 public:
  // nullopt unsets the variable.
  ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) saved_ = old;
    set(value);
  }
  // nullptr unsets the variable.
  ScopedEnv(std::string name, const char* value)
      : ScopedEnv(std::move(name), value != nullptr ? std::optional<std::string>(value) : std::nullopt) {}
  ~ScopedEnv() { set(saved_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  // Changes the value again within the scope; the destructor still restores the original.
  void set(const std::optional<std::string>& value) const {
    if (value) {
      ::setenv(name_.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

}  // namespace kivo::testing
