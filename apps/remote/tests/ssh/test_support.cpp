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

}  // namespace remote::ssh::testing
