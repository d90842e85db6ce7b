// Remote operations as automation invokes them: every answer of perform now, start in the
// background and poll. Sessions that must stay "connecting" talk to a loopback listener
// that never answers; live SSH outcomes are in live_operations_test.cpp.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "actions/action_json.h"
#include "answer_text.h"
#include "app/remote_app.h"
#include "doc/store.h"
#include "kivo/doc/document.h"
#include "silent_peer.h"
#include "ssh/known_hosts.h"

namespace remote::app {
namespace {

namespace fs = std::filesystem;
namespace op = kivo::ui::operation;
using kivo::actions::OperationClass;
using namespace std::chrono_literals;

// Sessions that must stay "connecting" dial a listener that never answers.
using remote::test::SilentPeer;

using testing::text;

const ssh::HostKeyIdentity kSeen{"ssh-ed25519", "SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"};
const ssh::HostKeyIdentity kPinned{"ssh-ed25519", "SHA256:BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB"};
const kivo::ui::InvocationId kFirst{1};
const kivo::ui::InvocationId kSecond{2};

class OperationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("remote-operations-" + kivo::Uuid::new_v4().to_string());
    fs::create_directories(dir);
    fs::permissions(dir, fs::perms::owner_all);
    store_path = dir / "known-hosts.json";
    ::setenv("REMOTE_SSH_KNOWN_HOSTS", store_path.c_str(), 1);
    ::setenv("REMOTE_LIVE_SESSIONS", "", 1);
    ::setenv("REMOTE_SSH_PASSWORD", "x", 1);

    ssh_profile = make("Lab", doc::ConnectionKind::Ssh, doc::ConnectionAuth::Password, peer.port());
    other_ssh = make("Other", doc::ConnectionKind::Ssh, doc::ConnectionAuth::Password, peer.port());
    rdp = make("Win", doc::ConnectionKind::Rdp, doc::ConnectionAuth::Password, 3389);
    vnc_key = make("Screen", doc::ConnectionKind::Vnc, doc::ConnectionAuth::PublicKey, 5900);
    for (const auto* p : {&ssh_profile, &other_ssh, &rdp, &vnc_key}) doc::upsert_profile(document, *p);
    app.document_changed(document);
    context.document = &document;
  }
  void TearDown() override {
    fs::remove_all(dir);
    ::unsetenv("REMOTE_SSH_KNOWN_HOSTS");
    ::unsetenv("REMOTE_LIVE_SESSIONS");
    ::unsetenv("REMOTE_SSH_PASSWORD");
  }

  static doc::ConnectionProfile make(std::string name, doc::ConnectionKind kind, doc::ConnectionAuth auth,
                                     std::uint16_t port) {
    doc::ConnectionProfile p;
    p.id = kivo::Uuid::new_v4();
    p.name = std::move(name);
    p.host = "127.0.0.1";
    p.port = port;
    p.user = "nobody";
    p.kind = kind;
    p.auth = auth;
    return p;
  }

  std::string perform(const actions::RemoteOperation& operation, OperationClass declared) {
    return text(app.perform_operation(actions::encode_operation(operation), declared, context));
  }
  std::string start(const actions::RemoteOperation& operation, const kivo::ui::InvocationId& id = kFirst) {
    return text(app.start_operation(actions::encode_operation(operation), OperationClass::Effect, id, context));
  }
  std::string poll(const kivo::ui::InvocationId& id = kFirst, bool cancel = false) {
    return text(app.poll_operation(id, cancel, context));
  }
  // Polls until the answer is something other than "nothing", for at most ten seconds.
  std::string poll_until_answered(const kivo::ui::InvocationId& id = kFirst) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    std::string answer = poll(id);
    while (answer == "nothing" && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(10ms);
      answer = poll(id);
    }
    return answer;
  }
  void observe(const doc::ConnectionProfile& p, ssh::HostKeyCheck check) {
    app.show_preview(p.id, session::Preview{session::Failed{"refused"}, std::nullopt, std::move(check)});
  }
  bool pinned(const ssh::HostKeyIdentity& identity) {
    auto store = ssh::load_known_hosts(store_path);
    return store && ssh::check_host_key(*store, "127.0.0.1", ssh_profile.port, identity) ==
                        ssh::HostKeyCheck{ssh::Trusted{}};
  }

  fs::path dir;
  fs::path store_path;
  SilentPeer peer;
  doc::ConnectionProfile ssh_profile, other_ssh, rdp, vnc_key;
  kivo::doc::Document document;
  RemoteApp app{{}, {}};
  kivo::ui::EventContext context;
};

TEST_F(OperationsTest, OnlyRemoteOperationsOfTheirDeclaredClassAreRun) {
  EXPECT_EQ(app.operation_types(), std::vector<std::string>{"remote.operation"});
  const kivo::Uuid missing = kivo::Uuid::new_v4();
  const auto encoded = actions::encode_operation(actions::Connect{ssh_profile.id});
  const kivo::ui::Invocation foreign{"remote.action", encoded.payload};
  const kivo::ui::Invocation broken{"remote.operation", R"({"Connect":{}})"};
  const std::string decoder_text = actions::parse_operation(broken.payload).error();
  ASSERT_EQ(decoder_text, "missing field `connection_id`");

  struct Case {
    const char* what;
    std::string answer;
    std::string expected;
  };
  const auto perform_raw = [&](const kivo::ui::Invocation& i, OperationClass c) {
    return text(app.perform_operation(i, c, context));
  };
  const auto start_raw = [&](const kivo::ui::Invocation& i, OperationClass c) {
    return text(app.start_operation(i, c, kFirst, context));
  };
  const Case cases[] = {
      {"perform: another type", perform_raw(foreign, OperationClass::Effect), "not handled"},
      {"perform: class none", perform_raw(encoded, OperationClass::None), "not handled"},
      {"perform: undecodable", perform_raw(broken, OperationClass::Effect), "error: " + decoder_text},
      {"perform: view declared as effect", perform(actions::ShowConnections{}, OperationClass::Effect),
       "error: remote operation kind does not match its declared contract"},
      {"perform: effect declared as view", perform(actions::Connect{ssh_profile.id}, OperationClass::View),
       "error: remote operation kind does not match its declared contract"},
      {"perform: edit a missing profile", perform(actions::EditConnection{missing}, OperationClass::View),
       "error: saved connection no longer exists"},
      {"perform: connect a missing profile", perform(actions::Connect{missing}, OperationClass::Effect),
       "error: saved connection no longer exists"},
      {"perform: disconnect without a session", perform(actions::Disconnect{ssh_profile.id}, OperationClass::Effect),
       "error: that remote session is no longer active"},
      {"perform: send text without a session", perform(actions::SendText{ssh_profile.id, "x"}, OperationClass::Effect),
       "error: that remote session is no longer active"},
      {"perform: trust for a missing profile",
       perform(actions::TrustSshHostKey{missing, {kSeen.algorithm, kSeen.fingerprint}}, OperationClass::Effect),
       "error: saved connection no longer exists"},
      {"perform: trust with nothing observed",
       perform(actions::TrustSshHostKey{ssh_profile.id, {kSeen.algorithm, kSeen.fingerprint}}, OperationClass::Effect),
       "error: the observed SSH host key is stale; reconnect to inspect the current key"},
      {"perform: forget with nothing observed", perform(actions::ForgetSshHostKey{ssh_profile.id}, OperationClass::Effect),
       "error: only the currently observed changed SSH host key can be forgotten"},
      {"start: another type", start_raw(foreign, OperationClass::Effect), "not handled"},
      {"start: declared view", start_raw(encoded, OperationClass::View), "not handled"},
      {"start: declared none", start_raw(encoded, OperationClass::None), "not handled"},
      {"start: undecodable", start_raw(broken, OperationClass::Effect), "error: " + decoder_text},
      {"start: a view operation", start(actions::ShowConnections{}), "error: view operations do not start background work"},
      {"start: edit form", start(actions::EditConnection{ssh_profile.id}),
       "error: view operations do not start background work"},
      {"start: connect a missing profile", start(actions::Connect{missing}), "error: saved connection no longer exists"},
      {"start: connect RDP", start(actions::Connect{rdp.id}),
       "error: RDP profiles are preserved, but this Kivo build has no RDP client backend."},
      {"start: connect an inconsistent profile", start(actions::Connect{vnc_key.id}),
       "error: VNC profiles support password authentication only."},
      {"start: disconnect without a session", start(actions::Disconnect{ssh_profile.id}),
       "error: that remote session is no longer active"},
      {"start: send text without a session", start(actions::SendText{ssh_profile.id, "x"}),
       "error: that remote session is no longer active"},
      {"start: forget with nothing observed", start(actions::ForgetSshHostKey{ssh_profile.id}),
       "error: only the currently observed changed SSH host key can be forgotten"},
      {"poll: nothing pending", poll(), "nothing"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.answer, c.expected) << c.what;

  // None of it started anything or spoke through the notice.
  EXPECT_FALSE(app.live_session());
  EXPECT_EQ(app.session_identity(), 0u);
  EXPECT_FALSE(app.pending_operation());
  EXPECT_FALSE(app.notice());
}

TEST_F(OperationsTest, ABackgroundConnectWithoutNetworkAccessNamesTheTransport) {
  ::unsetenv("REMOTE_LIVE_SESSIONS");
  EXPECT_EQ(start(actions::Connect{ssh_profile.id}),
            "error: SSH is installed, but this build has not been granted live network access.");
  EXPECT_FALSE(app.live_session());
}

TEST_F(OperationsTest, ViewOperationsMoveTheScreenWithoutWritingTheDocument) {
  const auto heads = document.heads();
  const auto changes = document.pending_ops();
  EXPECT_EQ(perform(actions::NewConnectionForm{}, OperationClass::View), "done");
  EXPECT_EQ(app.screen(), Screen{screen::Form{FormNew{}}});
  app.clear_repaint();
  EXPECT_EQ(perform(actions::EditConnection{rdp.id}, OperationClass::View), "done");
  EXPECT_EQ(app.screen(), Screen{screen::Form{FormEdit{rdp.id}}});
  EXPECT_EQ(app.form().name, "Win");
  EXPECT_TRUE(app.needs_repaint());
  EXPECT_EQ(perform(actions::ShowConnections{}, OperationClass::View), "done");
  EXPECT_EQ(app.screen(), Screen{screen::List{}});
  EXPECT_EQ(document.heads(), heads);
  EXPECT_EQ(document.pending_ops(), changes);
  EXPECT_FALSE(app.notice());
}

TEST_F(OperationsTest, PerformConnectAndDisconnectDriveTheSession) {
  EXPECT_EQ(perform(actions::Connect{rdp.id}, OperationClass::Effect), "done");
  EXPECT_EQ(app.current_status(),
            session::SessionStatus{
                session::Unavailable{"RDP profiles are preserved, but this Kivo build has no RDP client backend."}});
  EXPECT_EQ(perform(actions::Disconnect{ssh_profile.id}, OperationClass::Effect),
            "error: that remote session is no longer active");
  EXPECT_TRUE(app.live_session());
  EXPECT_EQ(start(actions::Disconnect{rdp.id}), "completed");
  EXPECT_FALSE(app.live_session());
  EXPECT_EQ(app.screen(), Screen{screen::List{}});
  EXPECT_FALSE(app.pending_operation());
}

TEST_F(OperationsTest, SendTextNeedsAConnectedTerminalOfThatProfile) {
  app.show_preview(ssh_profile.id, session::Preview{session::Connected{}, std::nullopt, std::nullopt});
  EXPECT_EQ(perform(actions::SendText{ssh_profile.id, "ls\n"}, OperationClass::Effect),
            "error: text input requires a connected SSH terminal");
  EXPECT_EQ(start(actions::SendText{ssh_profile.id, "ls\n"}), "error: text input requires a connected SSH terminal");
  EXPECT_EQ(perform(actions::SendText{other_ssh.id, "ls\n"}, OperationClass::Effect),
            "error: that remote session is no longer active");

  // A real SSH worker that has not connected yet takes no text either.
  app.update(msg::Connect{ssh_profile.id}, document);
  ASSERT_EQ(app.current_status(), session::SessionStatus{session::Connecting{}});
  EXPECT_EQ(start(actions::SendText{ssh_profile.id, "ls\n"}), "error: text input requires a connected SSH terminal");
  EXPECT_FALSE(app.pending_operation());
}

TEST_F(OperationsTest, TrustPinsTheObservedKeyAndConnectsAgain) {
  const actions::ObservedHostKey seen{kSeen.algorithm, kSeen.fingerprint};
  observe(ssh_profile, ssh::NeedsTrust{kSeen});
  EXPECT_EQ(perform(actions::TrustSshHostKey{ssh_profile.id, {kPinned.algorithm, kPinned.fingerprint}},
                    OperationClass::Effect),
            "error: the observed SSH host key is stale; reconnect to inspect the current key");
  EXPECT_EQ(perform(actions::TrustSshHostKey{other_ssh.id, seen}, OperationClass::Effect),
            "error: the observed SSH host key is stale; reconnect to inspect the current key");
  EXPECT_FALSE(fs::exists(store_path));

  const auto identity = app.session_identity();
  EXPECT_EQ(start(actions::TrustSshHostKey{ssh_profile.id, seen}), "completed");
  EXPECT_TRUE(pinned(kSeen));
  EXPECT_GT(app.session_identity(), identity);
  ASSERT_TRUE(app.live_session());
  EXPECT_TRUE(std::holds_alternative<session::SshTerminal>(*app.live_session()));
  EXPECT_EQ(app.session_target(), ssh_profile.id);
  EXPECT_FALSE(app.pending_operation());
  EXPECT_FALSE(app.notice());
}

TEST_F(OperationsTest, TrustAndForgetReportWhyTheStoreRefused) {
  const actions::ObservedHostKey seen{kSeen.algorithm, kSeen.fingerprint};
  {
    // A store path without a private parent directory cannot be used at all.
    ::setenv("REMOTE_SSH_KNOWN_HOSTS", "known-hosts.json", 1);
    observe(ssh_profile, ssh::NeedsTrust{kSeen});
    EXPECT_EQ(perform(actions::TrustSshHostKey{ssh_profile.id, seen}, OperationClass::Effect),
              "error: private SSH host-key storage is unavailable: SSH host-key store has no private parent directory");
    observe(ssh_profile, ssh::Changed{kPinned, kSeen});
    EXPECT_EQ(perform(actions::ForgetSshHostKey{ssh_profile.id}, OperationClass::Effect),
              "error: private SSH host-key storage is unavailable: SSH host-key store has no private parent directory");
    ::setenv("REMOTE_SSH_KNOWN_HOSTS", store_path.c_str(), 1);
  }
  // A different pin must be forgotten before another key is trusted.
  ASSERT_TRUE(ssh::trust_host_key(store_path, "127.0.0.1", ssh_profile.port, kPinned));
  observe(ssh_profile, ssh::NeedsTrust{kSeen});
  EXPECT_EQ(start(actions::TrustSshHostKey{ssh_profile.id, seen}),
            "error: could not save SSH host-key trust: a different trusted host key already exists; forget it before "
            "retrusting");
  // An unreadable store is reported, and left as it is.
  {
    std::ofstream(store_path) << "not json";
    ::chmod(store_path.c_str(), 0600);
  }
  const std::string reader_text = ssh::load_known_hosts(store_path).error();
  observe(ssh_profile, ssh::Changed{kPinned, kSeen});
  EXPECT_EQ(start(actions::ForgetSshHostKey{ssh_profile.id}), "error: could not forget SSH host-key trust: " + reader_text);
  EXPECT_TRUE(app.live_session()) << "a refused forget leaves the session";
  EXPECT_FALSE(app.notice());
}

TEST_F(OperationsTest, ForgetRemovesThePinAndEndsTheSessionEvenWithoutAPin) {
  ASSERT_TRUE(ssh::trust_host_key(store_path, "127.0.0.1", ssh_profile.port, kPinned));
  ASSERT_TRUE(ssh::trust_host_key(store_path, "127.0.0.1", 2222, kPinned));
  observe(ssh_profile, ssh::NeedsTrust{kSeen});
  EXPECT_EQ(perform(actions::ForgetSshHostKey{ssh_profile.id}, OperationClass::Effect),
            "error: only the currently observed changed SSH host key can be forgotten");
  EXPECT_TRUE(pinned(kPinned));

  observe(ssh_profile, ssh::Changed{kPinned, kSeen});
  EXPECT_EQ(perform(actions::ForgetSshHostKey{ssh_profile.id}, OperationClass::Effect), "done");
  EXPECT_FALSE(app.live_session());
  const auto store = ssh::load_known_hosts(store_path);
  ASSERT_TRUE(store);
  ASSERT_EQ(store->entries.size(), 1u) << "only this target's pin goes";
  EXPECT_EQ(store->entries[0].port, 2222);

  observe(ssh_profile, ssh::Changed{kPinned, kSeen});
  EXPECT_EQ(start(actions::ForgetSshHostKey{ssh_profile.id}), "completed");
  EXPECT_FALSE(app.live_session());
  EXPECT_EQ(app.screen(), Screen{screen::List{}});
  EXPECT_FALSE(app.notice());
}

TEST_F(OperationsTest, ABackgroundConnectIsPolledUntilItFails) {
  EXPECT_EQ(start(actions::Connect{ssh_profile.id}), "started");
  ASSERT_TRUE(app.pending_operation());
  const auto& pending = std::get<ConnectPending>(*app.pending_operation());
  EXPECT_EQ(pending.profile, ssh_profile.id);
  EXPECT_EQ(pending.identity, app.session_identity());

  EXPECT_EQ(poll(kFirst), "nothing");
  EXPECT_EQ(poll(kSecond), "nothing") << "another invocation's poll";
  EXPECT_EQ(start(actions::Disconnect{ssh_profile.id}, kSecond), "error: another remote operation is still running");
  EXPECT_EQ(start(actions::ShowConnections{}, kSecond), "error: another remote operation is still running");
  ASSERT_TRUE(app.pending_operation()) << "the first operation is left alone";
  EXPECT_TRUE(app.live_session());

  // The peer goes away: the handshake fails and the poll reports the real error.
  peer.close();
  const std::string answer = poll_until_answered();
  EXPECT_TRUE(answer.starts_with("failed remote.connect_failed: connect: ")) << answer;
  EXPECT_FALSE(app.pending_operation());
  EXPECT_EQ(poll(), "nothing");
  EXPECT_FALSE(app.notice());
}

TEST_F(OperationsTest, ASessionStartedMeanwhileSupersedesAPendingConnect) {
  struct Case {
    const char* what;
    std::function<void()> meanwhile;
    bool cancel;
    std::string answer;
    std::optional<kivo::Uuid> target_after;  // the session the poll leaves
  };
  const std::string superseded = "failed remote.session_replaced: the connection attempt was superseded by a newer session";
  const std::string cancelled = "cancelled: remote connection attempt cancelled";
  const Case cases[] = {
      {"the user connects elsewhere", [&] { app.update(msg::Connect{rdp.id}, document); }, false, superseded, rdp.id},
      {"the user reconnects the same profile", [&] { app.update(msg::Connect{ssh_profile.id}, document); }, false,
       superseded, ssh_profile.id},
      {"the session is disconnected", [&] { app.update(msg::Disconnect{}, document); }, false, superseded, std::nullopt},
      {"cancelled while still connecting", [] {}, true, cancelled, std::nullopt},
      {"cancelled after the user switched", [&] { app.update(msg::Connect{rdp.id}, document); }, true, cancelled,
       rdp.id},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(start(actions::Connect{ssh_profile.id}), "started");
    c.meanwhile();
    EXPECT_EQ(poll(kFirst, c.cancel), c.answer);
    EXPECT_FALSE(app.pending_operation());
    EXPECT_EQ(app.session_target(), c.target_after);
    EXPECT_EQ(app.live_session().has_value(), c.target_after.has_value());
    app.update(msg::Disconnect{}, document);
  }
  EXPECT_FALSE(app.notice());
}

}  // namespace
}  // namespace remote::app
