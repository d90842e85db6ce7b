// One SSH connection end to end in the real window: select, connect with confirmation,
// trust the host key, type into the terminal, read what it shows, leave with Control-W.
// A real OpenSSH server on loopback; keyboard and mouse from xdotool; state read back
// through the automation endpoint.

#include <cairo.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "kivo/base/uuid.h"
#include "remote_program.h"
#include "sshd.h"

namespace remote::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

class SshRoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    xvfb = Xvfb::start();
    ASSERT_TRUE(xvfb) << "Xvfb did not start";
    std::filesystem::create_directories(home / "sshd");
    sshd.emplace(home / "sshd");
    const auto started = sshd->start();
    ASSERT_TRUE(started.empty()) << started;
    key = make_key(home.path(), "id_ed25519", "ed25519");
    sshd->authorize(key);
    remote.emplace(*xvfb, home.path(), Environment{{"REMOTE_SSH_KEY", key.string()}});
    window = remote->wait_for_window();
    ASSERT_TRUE(window)
        << log() << thread_stacks(remote->process().pid());
    ASSERT_TRUE(remote->wait_until_ready()) << log();
    ASSERT_TRUE(remote->dispatch({{"UpsertConnection",
                                   {{"id", profile.to_string()}, {"name", "Loopback shell"}, {"host", "127.0.0.1"},
                                    {"port", sshd->port()}, {"user", current_user()}, {"kind", "Ssh"},
                                    {"auth", "PublicKey"}, {"group", "test"}}}}));
    xdo({"windowfocus", "--sync", std::to_string(*window)});
  }

  void xdo(const std::vector<std::string>& args) const {
    ASSERT_TRUE(remote->xdo(args)) << "xdotool " << args[0] << " failed";
  }
  std::optional<json> await(const std::string& id, const std::function<bool(const json&)>& check) const {
    return remote->await(id, check);
  }
  void click(const json& element) const { ASSERT_TRUE(remote->click(element)) << element.dump(); }
  json tree() const { return remote->tree(); }
  std::string log() const { return remote->log(); }

  std::optional<Xvfb> xvfb;
  TempDir home;
  std::optional<Sshd> sshd;
  std::filesystem::path key;
  kivo::Uuid profile = kivo::Uuid::new_v4();
  std::optional<RemoteProgram> remote;
  std::optional<unsigned long> window;
};

TEST_F(SshRoadTest, ConnectTrustTypeReadAndLeave) {
  const std::string id = "remote.connection:" + profile.to_string();
  // Select the profile with the mouse, then Enter asks to connect.
  const auto row = await(id + ":select", [](const json&) { return true; });
  ASSERT_TRUE(row) << log();
  click(*row);
  ASSERT_TRUE(await(id + ":select", [](const json& n) { return n.value("selected", false); }));
  xdo({"key", "Return"});
  const auto sheet = await("remote.confirmation", [](const json& n) { return n["label"] == "Connect to Loopback shell?"; });
  ASSERT_TRUE(sheet);
  xdo({"key", "Return"});

  // The first handshake stops at the unknown host key, before any authentication.
  const std::string expected_failure = "Connection failed: SSH host key for 127.0.0.1:" + std::to_string(sshd->port()) +
                                       " needs explicit trust: ssh-ed25519 " + sshd->host_key_fingerprint();
  ASSERT_TRUE(await("remote.session.status", [&](const json& n) { return n["label"] == expected_failure; }))
      << tree().dump(1) << log();
  EXPECT_EQ(sshd->log().find("userauth-request"), std::string::npos);
  const auto trust = await(id + ":trust-host-key", [](const json&) { return true; });
  ASSERT_TRUE(trust);
  click(*trust);
  const auto confirm = await("remote.confirmation.confirm", [](const json& n) { return n["label"] == "Trust key"; });
  ASSERT_TRUE(confirm);
  click(*confirm);

  // Trusted now: the shell's prompt arrives in the terminal.
  ASSERT_TRUE(await("remote.session.status", [](const json& n) { return n["label"] == "Connected"; })) << log();
  ASSERT_TRUE(await("remote.session.surface", [](const json& n) { return !n.value("value", "").empty(); }));
  xdo({"type", "--delay", "30", "echo hello"});
  xdo({"key", "Return"});
  // The command's output: a line that is just "hello", not the echoed command line.
  const auto surface = await("remote.session.surface", [&](const json& n) {
    return has_line(n.value("value", std::string()), "hello");
  });
  ASSERT_TRUE(surface) << tree().dump(1);

  // The screenshot shows the terminal: its dark ground with light text on it.
  const auto shot = home / "terminal.png";
  ASSERT_TRUE(remote->ctl({"screenshot", shot.string()}));
  const std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> image(
      cairo_image_surface_create_from_png(shot.c_str()), &cairo_surface_destroy);
  ASSERT_EQ(cairo_surface_status(image.get()), CAIRO_STATUS_SUCCESS);
  ASSERT_GE(cairo_image_surface_get_width(image.get()), 600);
  ASSERT_GE(cairo_image_surface_get_height(image.get()), 400);
  const int stride = cairo_image_surface_get_stride(image.get());
  const unsigned char* data = cairo_image_surface_get_data(image.get());
  int ground = 0;
  int text = 0;
  // The terminal's first rows, under the 48 px header bar and to the right of the rail.
  for (int y = 60; y < 400; ++y) {
    for (int x = 70; x < 600; ++x) {
      std::uint32_t pixel = 0;
      std::memcpy(&pixel, data + y * stride + x * 4, 4);
      if ((pixel & 0xffffff) == 0x0b0d12) ++ground;
      if (((pixel >> 16) & 0xff) > 0xa0 && ((pixel >> 8) & 0xff) > 0xa0) ++text;
    }
  }
  EXPECT_GT(ground, 50000);
  EXPECT_GT(text, 50);

  // Control-W ends the session and the list returns; the server sees the client leave.
  xdo({"key", "ctrl+w"});
  ASSERT_TRUE(await("remote.list", [](const json&) { return true; }));
  EXPECT_TRUE(sshd->wait_for_log("Received disconnect", 10s)) << sshd->log();
}

}  // namespace
}  // namespace remote::test
