#pragma once
// Small helpers shared by the SSH tests: temporary directories, files, commands, and the
// real OpenSSH server started on 127.0.0.1 for the integration tests.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "kivo/testing/scoped_env.h"
#include "process.h"
#include "sshd.h"

namespace remote::ssh::testing {

// Runs a shell command (bounded to a minute); its standard output, and whether it exited
// with status 0.
struct CommandResult {
  std::string output;
  bool ok = false;
};
CommandResult run_command(const std::string& command);

// Polls `done` until it holds or `timeout` passes.
bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10));


// The real OpenSSH server, key, file and process helpers all tests share.
using remote::test::current_user;
using remote::test::eventually;
using remote::test::make_key;
using remote::test::read_file;
using remote::test::write_file;
using kivo::testing::ScopedEnv;
using remote::test::Sshd;
using remote::test::TempDir;

}  // namespace remote::ssh::testing
