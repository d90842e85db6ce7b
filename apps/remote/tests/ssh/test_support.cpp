#include "test_support.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace remote::ssh::testing {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

CommandResult run_command(const std::string& command) {
  const auto output = remote::test::run_output({"sh", "-c", command}, 60s);
  return {output.value_or(""), output.has_value()};
}

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  return eventually(done, timeout, 5ms);
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  if (const char* old = std::getenv(name)) {
    had_value_ = true;
    old_value_ = old;
  }
  if (value != nullptr) {
    ::setenv(name, value, 1);
  } else {
    ::unsetenv(name);
  }
}

ScopedEnv::~ScopedEnv() {
  if (had_value_) {
    ::setenv(name_.c_str(), old_value_.c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

}  // namespace remote::ssh::testing
