// The real program in a real window on a private X server.

#include <gtest/gtest.h>

#include "remote_program.h"

namespace remote::test {
namespace {

using namespace std::chrono_literals;

TEST(Window, OpensWithinSecondsAndExitsCleanlyWhenClosed) {
  auto xvfb = Xvfb::start();
  ASSERT_TRUE(xvfb) << "Xvfb did not start";
  TempDir home;
  RemoteProgram remote(*xvfb, home.path());
  const auto window = remote.wait_for_window();
  ASSERT_TRUE(window || !remote.process().running())
      << "no window after 20 s; the program said:\n" << remote.log() << thread_stacks(remote.process().pid());
  ASSERT_TRUE(window) << "the program exited before its window appeared:\n" << remote.log();
  EXPECT_TRUE(remote.process().running());
  ASSERT_TRUE(xvfb->request_close(*window));
  const auto status = remote.process().wait(10s);
  ASSERT_TRUE(status) << "the program did not exit after its window was closed";
  EXPECT_EQ(*status, 0) << remote.log();
  // The document folder was created for the device, privately.
  EXPECT_TRUE(std::filesystem::exists(home / "data/kivo/io.kivo.remote/actor"));
}

}  // namespace
}  // namespace remote::test
