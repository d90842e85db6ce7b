// Operations against a real OpenSSH server on 127.0.0.1, driven the way automation drives
// them: through the payloads of the resource tree, started in the background and polled.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "actions/action_json.h"
#include "answer_text.h"
#include "app/remote_app.h"
#include "doc/store.h"
#include "kivo/doc/document.h"
#include "kivo/ui/offscreen.h"
#include "process.h"
#include "ssh/known_hosts.h"
#include "sshd.h"

namespace remote::app {
namespace {

namespace fs = std::filesystem;
namespace op = kivo::ui::operation;
using kivo::actions::OperationClass;
using namespace std::chrono_literals;

using testing::text;

// The terminal as text, one line per row with trailing blanks removed.
std::string screen_text(const vt::TerminalScreen& screen) {
  std::string out;
  for (std::size_t row = 0; row < screen.row_count(); ++row) {
    std::string line;
    for (const vt::TerminalCell& cell : screen.row(row)) line += cell.ch < 0x80 ? static_cast<char>(cell.ch) : '?';
    line.erase(line.find_last_not_of(' ') + 1);
    out += line + "\n";
  }
  return out;
}

class LiveOperationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(tmp / "server");
    fs::create_directories(tmp / "client");
    fs::create_directories(tmp / "state");
    ::chmod((tmp / "state").c_str(), 0700);
    ASSERT_EQ(sshd.start(), "");
    key = test::make_key(tmp / "client", "id_ed25519", "ed25519");
    sshd.authorize(key);
    store_path = tmp / "state" / "known-hosts.json";
    ::setenv("REMOTE_LIVE_SESSIONS", "", 1);
    ::setenv("REMOTE_SSH_KEY", key.c_str(), 1);
    ::setenv("REMOTE_SSH_KNOWN_HOSTS", store_path.c_str(), 1);

    profile.id = kivo::Uuid::new_v4();
    profile.name = "Lab";
    profile.host = "127.0.0.1";
    profile.port = sshd.port();
    profile.user = test::current_user();
    profile.kind = doc::ConnectionKind::Ssh;
    profile.auth = doc::ConnectionAuth::PublicKey;
    doc::upsert_profile(document, profile);
    app.document_changed(document);
    context.document = &document;
  }
  void TearDown() override {
    ::unsetenv("REMOTE_LIVE_SESSIONS");
    ::unsetenv("REMOTE_SSH_KEY");
    ::unsetenv("REMOTE_SSH_KNOWN_HOSTS");
  }

  // Runs an action of the resource tree as automation would: its payload, under the class
  // its risk declares, started in the background.
  std::string start_action(const std::string& resource, const std::string& action,
                           const kivo::actions::params::ActionArgs& args = {},
                           const kivo::ui::InvocationId& id = {1}) {
    const auto tree = app.action_resources(document);
    const auto* r = tree.at(0).find(resource);
    if (r == nullptr) return "no resource " + resource;
    const auto* found = r->find_action(action);
    if (found == nullptr) return "no action " + action;
    auto payload = found->encode(args);
    if (!payload) return "refused: " + payload.error().code;
    return text(app.start_operation(*payload, found->operation_class(), id, context));
  }
  std::string start(const actions::RemoteOperation& operation, const kivo::ui::InvocationId& id = {1}) {
    return text(app.start_operation(actions::encode_operation(operation), OperationClass::Effect, id, context));
  }
  std::string perform(const actions::RemoteOperation& operation) {
    return text(app.perform_operation(actions::encode_operation(operation), OperationClass::Effect, context));
  }
  // Paints (which drains terminal output) and polls until there is an answer, for at most
  // twenty seconds.
  std::string poll_until_answered(const kivo::ui::InvocationId& id = {1}) {
    std::string answer = "nothing";
    test::eventually(
        [&] {
          window.paint();
          answer = text(app.poll_operation(id, false, context));
          return answer != "nothing";
        },
        20s);
    return answer;
  }
  bool paint_until(const std::function<bool()>& done) {
    return test::eventually(
        [&] {
          window.paint();
          return done();
        },
        20s);
  }
  bool connected() {
    const auto status = app.current_status();
    return status && std::holds_alternative<session::Connected>(*status);
  }
  std::string status_detail() const {
    const auto status = app.current_status();
    if (!status) return "no session";
    const auto shown = session::present(*status, profile.kind);
    return shown.title + ": " + shown.detail;
  }
  const vt::TerminalScreen& screen() const { return std::get<session::SshTerminal>(*app.live_session()).session.screen(); }
  std::string session_id() const { return "remote.session:" + profile.id.to_string(); }
  std::string server_key() const { return "ssh-ed25519 " + sshd.host_key_fingerprint(); }

  // Pins the server's key and waits for a connected shell with its prompt.
  void connect_trusted() {
    ASSERT_TRUE(ssh::trust_host_key(store_path, "127.0.0.1", sshd.port(),
                                    ssh::HostKeyIdentity{"ssh-ed25519", sshd.host_key_fingerprint()}));
    ASSERT_EQ(start(actions::Connect{profile.id}), "started");
    ASSERT_EQ(poll_until_answered(), "completed");
    ASSERT_TRUE(paint_until([&] { return screen_text(screen()).find_first_of("#$") != std::string::npos; }))
        << screen_text(screen());
  }

  test::TempDir tmp;
  test::Sshd sshd{tmp / "server"};
  fs::path key;
  fs::path store_path;
  doc::ConnectionProfile profile;
  kivo::doc::Document document;
  RemoteApp app{{}, {}};
  kivo::ui::offscreen::OffscreenWindow window{app, 1280, 800};
  kivo::ui::EventContext context;
};

TEST_F(LiveOperationsTest, ConnectTrustSendAndDisconnectThroughTheTree) {
  const std::string connection = "remote.connection:" + profile.id.to_string();
  EXPECT_EQ(start_action(connection, "connect"), "started");
  EXPECT_EQ(poll_until_answered(), "failed remote.connect_failed: SSH host key for 127.0.0.1:" +
                                       std::to_string(sshd.port()) + " needs explicit trust: " + server_key());
  EXPECT_FALSE(app.pending_operation());
  EXPECT_EQ(start_action(session_id(), "send-text", kivo::actions::params::ActionArgs().set_text("text", "id\n")),
            "refused: terminal_not_connected");

  // The tree offers exactly the key the handshake saw; trusting it pins it and reconnects.
  EXPECT_EQ(start_action(session_id(), "trust-host-key"), "completed");
  const auto pins = ssh::load_known_hosts(store_path);
  ASSERT_TRUE(pins);
  ASSERT_EQ(pins->entries.size(), 1u);
  EXPECT_EQ(pins->entries[0].identity.algorithm + " " + pins->entries[0].identity.fingerprint, server_key());
  ASSERT_TRUE(paint_until([&] { return connected(); })) << status_detail();
  EXPECT_EQ(app.action_resources(document).at(0).find(session_id())->find_action("trust-host-key"), nullptr);

  EXPECT_EQ(start_action(session_id(), "send-text",
                         kivo::actions::params::ActionArgs().set_text("text", "echo hello\n")),
            "started");
  EXPECT_EQ(poll_until_answered(), "completed");
  // The command line starts with the prompt; only the shell's answer is "hello" on a line of its own.
  EXPECT_TRUE(paint_until([&] { return screen_text(screen()).find("\nhello\n") != std::string::npos; }))
      << screen_text(screen());

  const auto tree = app.action_resources(document);
  const auto* disconnect = tree.at(0).find(session_id())->find_action("disconnect");
  ASSERT_NE(disconnect, nullptr);
  EXPECT_EQ(text(app.perform_operation(*disconnect->fixed_payload(), disconnect->operation_class(), context)), "done");
  EXPECT_FALSE(app.live_session());
  EXPECT_EQ(app.action_resources(document).at(0).find(session_id()), nullptr);
  EXPECT_FALSE(app.notice());
}

TEST_F(LiveOperationsTest, SendTextRefusalsAndASessionReplacedBeforeTheAcknowledgement) {
  connect_trusted();
  struct Case {
    const char* what;
    std::string answer;
    std::string expected;
  };
  const std::string too_long(64 * 1024 + 1, 'x');
  const Case cases[] = {
      {"perform: empty", perform(actions::SendText{profile.id, ""}), "error: SSH input cannot be empty"},
      {"start: empty", start(actions::SendText{profile.id, ""}), "error: SSH input cannot be empty"},
      {"perform: too long", perform(actions::SendText{profile.id, too_long}),
       "error: SSH input exceeds the 64 KiB per-operation limit"},
      {"start: too long", start(actions::SendText{profile.id, too_long}),
       "error: SSH input exceeds the 64 KiB per-operation limit"},
      {"perform: delivered without waiting", perform(actions::SendText{profile.id, "echo quick\n"}), "done"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.answer, c.expected) << c.what;
  EXPECT_FALSE(app.pending_operation());

  ASSERT_EQ(start(actions::SendText{profile.id, "echo one\n"}), "started");
  EXPECT_EQ(start(actions::SendText{profile.id, "echo two\n"}, {2}), "error: another remote operation is still running");
  EXPECT_EQ(poll_until_answered(), "completed");

  ASSERT_EQ(start(actions::SendText{profile.id, "echo three\n"}), "started");
  app.update(msg::Connect{profile.id}, document);
  EXPECT_EQ(text(app.poll_operation({1}, false, context)),
            "failed remote.session_replaced: the SSH session ended before input delivery was acknowledged");
  EXPECT_FALSE(app.pending_operation());
}

TEST_F(LiveOperationsTest, TextQueuedBehindAClosedShellFailsWithTheWorkersError) {
  connect_trusted();
  // Many small lines fill the output queue while nobody paints, so the worker waits to hand
  // them over; meanwhile the shell exits and the server closes the channel.
  ASSERT_EQ(perform(actions::SendText{profile.id, "for i in $(seq 1 300); do echo line$i; sleep 0.01; done; exit\n"}),
            "done");
  ASSERT_TRUE(sshd.wait_for_log("send close", 60s)) << sshd.log();
  std::this_thread::sleep_for(200ms);
  ASSERT_TRUE(connected()) << "the worker should still be waiting to hand over output";

  ASSERT_EQ(start(actions::SendText{profile.id, "echo late\n"}), "started");
  const std::string answer = poll_until_answered();
  EXPECT_TRUE(answer.starts_with("failed remote.input_failed: ")) << answer;
  EXPECT_GT(answer.size(), std::string("failed remote.input_failed: ").size()) << "the worker's error text";
  EXPECT_FALSE(app.pending_operation());
}

}  // namespace
}  // namespace remote::app
