// Preparing a session request from a profile and the environment, and the input queue's
// limits and acknowledgements.

#include <unistd.h>

#include <gtest/gtest.h>

#include <expected>
#include <filesystem>
#include <string>
#include <variant>

#include "ssh/ssh_session.h"
#include "test_support.h"

namespace remote::ssh {
namespace {

namespace fs = std::filesystem;
using testing::ScopedEnv;
using testing::TempDir;

std::string error_of(const std::expected<SshConnectRequest, std::string>& result) {
  return result ? std::string("<ok>") : result.error();
}

TEST(PrepareRequest, UserFallsBackToUserVariableThenRoot) {
  ScopedEnv password("REMOTE_SSH_PASSWORD", "");
  struct Case {
    const char* profile_user;
    const char* user_variable;  // nullptr: unset
    const char* expected;
  };
  const Case cases[] = {
      {"alice", "bob", "alice"},
      {"", "bob", "bob"},
      {"", nullptr, "root"},
      {"", "", "root"},
      {"", "b\xFFo", "root"},  // not UTF-8
  };
  for (const Case& c : cases) {
    ScopedEnv user("USER", c.user_variable);
    const auto request = prepare_request("Host.Example ", 2222, c.profile_user, SshAuthMethod::Password, "/x/k.json");
    ASSERT_TRUE(request.has_value()) << request.error();
    EXPECT_EQ(request->user, c.expected) << c.profile_user << "/" << (c.user_variable ? c.user_variable : "unset");
    EXPECT_EQ(request->host, "Host.Example ") << "the host is used exactly as saved";
    EXPECT_EQ(request->port, 2222);
    EXPECT_EQ(request->store_path, "/x/k.json");
    EXPECT_EQ(request->columns, 80);
    EXPECT_EQ(request->rows, 24);
  }
}

TEST(PrepareRequest, PasswordComesOnlyFromItsVariable) {
  {
    ScopedEnv password("REMOTE_SSH_PASSWORD", nullptr);
    ScopedEnv key("REMOTE_SSH_KEY", "/some/key");
    EXPECT_EQ(error_of(prepare_request("h", 22, "u", SshAuthMethod::Password, "/x/k")),
              "no SSH password: set REMOTE_SSH_PASSWORD")
        << "a key never stands in for a missing password";
  }
  {
    ScopedEnv password("REMOTE_SSH_PASSWORD", "\xC3\x28");
    EXPECT_EQ(error_of(prepare_request("h", 22, "u", SshAuthMethod::Password, "/x/k")),
              "no SSH password: set REMOTE_SSH_PASSWORD");
  }
  ScopedEnv password("REMOTE_SSH_PASSWORD", "");
  const auto request = prepare_request("h", 22, "u", SshAuthMethod::Password, "/x/k");
  ASSERT_TRUE(request.has_value());
  EXPECT_EQ(std::get<Password>(request->credentials).text, "") << "an empty password is a password";
}

TEST(PrepareRequest, KeyFileIsChosenInOrder) {
  TempDir home;
  fs::create_directory(home.path() / ".ssh");
  const fs::path ed25519 = home.path() / ".ssh" / "id_ed25519";
  const fs::path ecdsa = home.path() / ".ssh" / "id_ecdsa";
  ScopedEnv home_env("HOME", home.path().c_str());
  ScopedEnv password("REMOTE_SSH_PASSWORD", "never used for keys");
  ScopedEnv passphrase("REMOTE_SSH_KEY_PASSPHRASE", nullptr);
  ScopedEnv key_env("REMOTE_SSH_KEY", nullptr);

  auto chosen = [] {
    const auto request = prepare_request("h", 22, "u", SshAuthMethod::PublicKey, "/x/k");
    return request ? std::get<KeyFile>(request->credentials).path.string() : request.error();
  };
  EXPECT_EQ(chosen(), "no SSH key: set REMOTE_SSH_KEY or add ~/.ssh/id_ed25519");
  testing::write_file(ecdsa, "", 0000);  // only its metadata is looked at
  EXPECT_EQ(chosen(), ecdsa.string());
  fs::create_symlink(ecdsa, ed25519);
  EXPECT_EQ(chosen(), ed25519.string()) << "Ed25519 first; a link counts when its target exists";
  {
    ScopedEnv key("REMOTE_SSH_KEY", "/elsewhere/id_rsa");
    EXPECT_EQ(chosen(), "/elsewhere/id_rsa") << "the variable wins, existing or not";
  }
  {
    ScopedEnv key("REMOTE_SSH_KEY", "/bad\xFFpath");
    EXPECT_EQ(chosen(), ed25519.string()) << "a variable that is not UTF-8 counts as unset";
  }
  {
    ScopedEnv key_passphrase("REMOTE_SSH_KEY_PASSPHRASE", "open sesame");
    const auto request = prepare_request("h", 22, "u", SshAuthMethod::PublicKey, "/x/k");
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(std::get<KeyFile>(request->credentials).passphrase, "open sesame");
  }
  {
    // Without HOME the candidates are relative to the working directory.
    ScopedEnv no_home("HOME", nullptr);
    const fs::path before = fs::current_path();
    fs::current_path(home.path());
    EXPECT_EQ(chosen(), ".ssh/id_ed25519");
    fs::current_path(before);
  }
}

std::vector<std::uint8_t> bytes(std::size_t count, std::uint8_t value = 'x') {
  return std::vector<std::uint8_t>(count, value);
}

TEST(SshInputQueue, LimitsAreCheckedBeforeTheQueue) {
  auto [tx, rx] = kivo::sync::channel<SshInput>(kSshInputQueueCapacity);
  struct Case {
    std::size_t size;
    const char* error;  // nullptr: queued
  };
  const Case cases[] = {
      {0, "SSH input cannot be empty"},
      {1, nullptr},
      {65536, nullptr},
      {65537, "SSH input exceeds the 64 KiB per-operation limit"},
  };
  for (const Case& c : cases) {
    const auto plain = queue_ssh_input(tx, bytes(c.size));
    const auto acked = queue_ssh_input_with_ack(tx, bytes(c.size));
    if (c.error == nullptr) {
      EXPECT_TRUE(plain.has_value()) << c.size;
      EXPECT_TRUE(acked.has_value()) << c.size;
    } else {
      EXPECT_EQ(plain ? "<queued>" : plain.error(), c.error) << c.size;
      EXPECT_EQ(acked ? "<queued>" : acked.error(), c.error) << c.size;
    }
  }
  // The empty input is refused even when the queue is gone.
  { auto gone = std::move(rx); }
  EXPECT_EQ(queue_ssh_input(tx, {}).error(), "SSH input cannot be empty");
  EXPECT_EQ(queue_ssh_input(tx, bytes(1)).error(), "SSH session input channel is closed");
  EXPECT_EQ(queue_ssh_input_with_ack(tx, bytes(1)).error(), "SSH session input channel is closed");
}

TEST(SshInputQueue, FullQueueRefusesAsBusyAndKeepsEveryQueuedItem) {
  auto [tx, rx] = kivo::sync::channel<SshInput>(kSshInputQueueCapacity);
  for (std::size_t i = 0; i < kSshInputQueueCapacity; ++i) {
    ASSERT_TRUE(queue_ssh_input(tx, bytes(1 + i % 7, static_cast<std::uint8_t>(i))).has_value()) << i;
  }
  EXPECT_EQ(queue_ssh_input(tx, bytes(1)).error(), "SSH input is busy; wait for the remote session to catch up");
  EXPECT_EQ(queue_ssh_input_with_ack(tx, bytes(1)).error(),
            "SSH input is busy; wait for the remote session to catch up");
  for (std::size_t i = 0; i < kSshInputQueueCapacity; ++i) {
    auto item = rx.try_recv();
    ASSERT_TRUE(item.has_value()) << i;
    EXPECT_EQ(item->data, bytes(1 + i % 7, static_cast<std::uint8_t>(i))) << i;
    EXPECT_FALSE(item->ack.has_value());
  }
  EXPECT_EQ(rx.try_recv().error(), kivo::sync::RecvError::Empty) << "the refused items were not queued";
}

TEST(SshInputQueue, AcknowledgementReportsEachOutcome) {
  auto [tx, rx] = kivo::sync::channel<SshInput>(4);
  auto ok = queue_ssh_input_with_ack(tx, bytes(3));
  auto failed = queue_ssh_input_with_ack(tx, bytes(3));
  auto taken_then_lost = queue_ssh_input_with_ack(tx, bytes(3));
  auto queued_then_lost = queue_ssh_input_with_ack(tx, bytes(3));
  ASSERT_TRUE(ok && failed && taken_then_lost && queued_then_lost);
  EXPECT_EQ(receive_ack(*ok), AckPoll(AckPending{}));

  rx.try_recv()->ack->send(InputAck{});
  rx.try_recv()->ack->send(std::unexpected(std::string("Socket error: broken pipe")));
  { auto taken = rx.try_recv(); }  // a worker that took the item and ended before answering
  { auto worker_gone = std::move(rx); }  // ... and one that ended with the item still queued

  EXPECT_EQ(receive_ack(*ok), AckPoll(AckSucceeded{}));
  EXPECT_EQ(receive_ack(*failed), AckPoll(AckFailed{"Socket error: broken pipe"}));
  EXPECT_EQ(receive_ack(*taken_then_lost), AckPoll(AckDisconnected{}));
  EXPECT_EQ(receive_ack(*queued_then_lost), AckPoll(AckDisconnected{}));
}

}  // namespace
}  // namespace remote::ssh
