// The real program in a real window on a private X server.

#include <gtest/gtest.h>

#include <fstream>

#include "process.h"
#include "xvfb.h"

namespace remote::test {
namespace {

using namespace std::chrono_literals;

TEST(Window, OpensWithinSecondsAndExitsCleanlyWhenClosed) {
  auto xvfb = Xvfb::start();
  ASSERT_TRUE(xvfb) << "Xvfb did not start";
  TempDir home;
  auto remote = Process::start({built_program("apps/remote/remote").string()},
                               {{"DISPLAY", xvfb->display()},
                                {"XDG_DATA_HOME", (home / "data").string()},
                                {"XDG_STATE_HOME", (home / "state").string()},
                                {"XDG_RUNTIME_DIR", home.path().string()},
                                {"KIVO_SYNC_DIR", std::nullopt},
                                {"KIVO_REVIEW_STATE", std::nullopt}},
                               home / "remote.log");
  const auto log = [&] {
    std::ifstream in(home / "remote.log");
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  std::optional<unsigned long> window;
  ASSERT_TRUE(eventually([&] { return (window = xvfb->find_window("Remote")).has_value() || !remote.running(); }, 20s))
      << "no window after 20 s; the program said:\n" << log() << thread_stacks(remote.pid());
  ASSERT_TRUE(window) << "the program exited before its window appeared:\n" << log();
  EXPECT_TRUE(remote.running());
  ASSERT_TRUE(xvfb->request_close(*window));
  const auto status = remote.wait(10s);
  ASSERT_TRUE(status) << "the program did not exit after its window was closed";
  EXPECT_EQ(*status, 0) << log();
  // The document folder was created for the device, privately.
  EXPECT_TRUE(std::filesystem::exists(home / "data/kivo/io.kivo.remote/actor"));
}

}  // namespace
}  // namespace remote::test
