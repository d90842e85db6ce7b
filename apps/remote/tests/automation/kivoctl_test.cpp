// The real program on a private X server, driven end to end by kivoctl over its automation
// socket against a real OpenSSH server: create a profile, connect, trust the host key,
// send text, read the terminal through the accessibility tree, disconnect.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "kivo/base/uuid.h"
#include "remote_program.h"
#include "sshd.h"

namespace remote::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

class KivoctlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(home / "server");
    std::filesystem::create_directories(home / "client");
    ASSERT_EQ(sshd.start(), "");
    key = make_key(home / "client", "id_ed25519", "ed25519");
    sshd.authorize(key);
  }

  struct Run {
    int status = -1;
    std::string output;
  };
  // Runs kivoctl to completion (bounded) and returns its exit status and what it printed.
  Run kivoctl(std::vector<std::string> words) {
    std::vector<std::string> argv{built_program("tools/kivoctl/kivoctl").string(), "--socket", socket.string(),
                                  "--timeout", "60"};
    argv.insert(argv.end(), words.begin(), words.end());
    const auto log = home / ("kivoctl-" + std::to_string(++runs) + ".log");
    auto process = Process::start(argv, {}, log);
    const auto status = process.wait(90s);
    return {status.value_or(-1), read_file(log)};
  }
  std::optional<json> json_reply(std::vector<std::string> words) {
    words.insert(words.begin(), "--json");
    const Run run = kivoctl(std::move(words));
    if (run.status != 0) return std::nullopt;
    json reply = json::parse(run.output, nullptr, false);
    if (reply.is_discarded()) return std::nullopt;
    return reply;
  }

  TempDir home;
  Sshd sshd{home / "server"};
  std::filesystem::path key;
  // Where RemoteProgram's runtime folder puts the endpoint.
  std::filesystem::path socket = home / "run" / "kivo" / "io.kivo.remote.sock";
  int runs = 0;
};

TEST_F(KivoctlTest, ConnectTrustSendTextAndDisconnectThroughTheEndpoint) {
  auto xvfb = Xvfb::start();
  ASSERT_TRUE(xvfb) << "Xvfb did not start";
  RemoteProgram remote(*xvfb, home.path(), Environment{{"REMOTE_SSH_KEY", key.string()}});
  ASSERT_TRUE(remote.wait_until_ready(30s)) << "the endpoint never answered:\n" << remote.log();

  const std::string id = kivo::Uuid::new_v4().to_string();
  const json upsert = {{"UpsertConnection",
                        {{"id", id},
                         {"name", "Lab"},
                         {"host", "127.0.0.1"},
                         {"port", sshd.port()},
                         {"user", current_user()},
                         {"kind", "Ssh"},
                         {"auth", "PublicKey"},
                         {"group", ""}}}};
  const Run dispatched = kivoctl({"dispatch", "remote.action", upsert.dump()});
  ASSERT_EQ(dispatched.status, 0) << dispatched.output;

  const std::string connection = "remote.connection:" + id;
  const std::string session = "remote.session:" + id;
  const std::string fingerprint = sshd.host_key_fingerprint();
  const Run refused = kivoctl({"invoke", connection, "connect", "--wait"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.output.find("remote.connect_failed"), std::string::npos) << refused.output;
  EXPECT_NE(refused.output.find("needs explicit trust: ssh-ed25519 " + fingerprint), std::string::npos)
      << refused.output;

  const Run trusted = kivoctl({"invoke", session, "trust-host-key", "--wait"});
  ASSERT_EQ(trusted.status, 0) << trusted.output << remote.log();
  const auto pins = read_file(home / "state" / "kivo" / "remote" / "known-hosts.json");
  EXPECT_NE(pins.find(fingerprint), std::string::npos) << pins;

  // The reconnect is under way; text can be sent once the terminal is connected.
  ASSERT_TRUE(eventually(
      [&] {
        const auto reply = json_reply({"resources"});
        const json resources = reply ? reply->value("resources", json::array()) : json::array();
        const json* r = find_resource(resources, session);
        if (r == nullptr) return false;
        for (const json& action : r->value("actions", json::array())) {
          if (action.value("name", "") == "send-text") return action.value("available", false);
        }
        return false;
      },
      30s))
      << remote.log();

  const Run sent = kivoctl({"invoke", session, "send-text", "text=echo hello\n", "--wait"});
  EXPECT_EQ(sent.status, 0) << sent.output;
  std::string surface;
  const bool shown = eventually(
      [&] {
        const auto reply = json_reply({"tree"});
        if (!reply || !reply->contains("tree")) return false;
        const json* node = find_element((*reply)["tree"], "remote.session.surface");
        surface = node != nullptr ? node->value("value", "") : "";
        // The command line starts with the prompt; the shell's answer is a line of its own.
        return has_line(surface, "hello");
      },
      20s);
  EXPECT_TRUE(shown) << "the session surface reads:\n" << surface;

  const Run disconnected = kivoctl({"invoke", session, "disconnect", "--wait"});
  EXPECT_EQ(disconnected.status, 0) << disconnected.output;
  const auto after = json_reply({"resources"});
  ASSERT_TRUE(after);
  const json resources = after->value("resources", json::array());
  EXPECT_EQ(find_resource(resources, session), nullptr);
  EXPECT_NE(find_resource(resources, connection), nullptr);

  const auto window = remote.wait_for_window();
  ASSERT_TRUE(window);
  ASSERT_TRUE(xvfb->request_close(*window));
  EXPECT_EQ(remote.process().wait(10s), std::optional<int>(0)) << remote.log();
}

}  // namespace
}  // namespace remote::test
