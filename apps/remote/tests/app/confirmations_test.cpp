#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "actions/dispatch.h"
#include "app/remote_app.h"
#include "app_test_support.h"
#include "doc/store.h"
#include "kivo/doc/document.h"
#include "ssh/known_hosts.h"

namespace remote::app {
namespace {

using session::SessionStatus;

doc::ConnectionProfile ssh_profile(std::string name) {
  doc::ConnectionProfile p;
  p.id = kivo::Uuid::new_v4();
  p.name = std::move(name);
  p.host = "127.0.0.1";
  p.port = 1;  // nothing listens there: a real start fails at once
  p.user = "nobody";
  return p;
}

const ssh::HostKeyIdentity kKey{"ssh-ed25519", "SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"};
const ssh::HostKeyIdentity kOtherKey{"ssh-ed25519", "SHA256:BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB"};

class ConfirmationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() / ("remote-confirm-" + kivo::Uuid::new_v4().to_string());
    std::filesystem::create_directories(dir);
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all);
    ::setenv("REMOTE_SSH_KNOWN_HOSTS", (dir / "known-hosts.json").c_str(), 1);
    ::setenv("REMOTE_LIVE_SESSIONS", "", 1);
    ::setenv("REMOTE_SSH_PASSWORD", "x", 1);
    profile = ssh_profile("Lab");
    document = kivo::doc::Document();
    doc::upsert_profile(document, profile);
    app = std::make_unique<RemoteApp>(std::vector<doc::ConnectionProfile>{}, std::vector<DiscoveredDevice>{});
    app->attach_action_host(host);
    app->document_changed(document);
  }
  void TearDown() override {
    app.reset();
    std::filesystem::remove_all(dir);
    ::unsetenv("REMOTE_SSH_KNOWN_HOSTS");
    ::unsetenv("REMOTE_LIVE_SESSIONS");
    ::unsetenv("REMOTE_SSH_PASSWORD");
  }
  void observe(ssh::HostKeyCheck check) {
    app->show_preview(profile.id, session::Preview{session::Failed{"refused"}, std::nullopt, std::move(check)});
  }
  // Another device edits the profile while a sheet is open.
  void edit_elsewhere(const std::function<void(doc::ConnectionProfile&)>& change) {
    auto edited = doc::read_profiles(document).at(0);
    change(edited);
    doc::upsert_profile(document, edited);
    app->document_changed(document);
  }

  std::filesystem::path dir;
  std::shared_ptr<kivo::ui::ActionHost> host = testing::action_host();
  kivo::doc::Document document;
  doc::ConnectionProfile profile;
  std::unique_ptr<RemoteApp> app;
};

TEST_F(ConfirmationsTest, ConnectOpensASheetAndConfirmingStartsTheSession) {
  app->update(msg::RequestConnect{profile.id}, document);
  ASSERT_TRUE(app->confirmation_pending());
  EXPECT_TRUE(std::holds_alternative<ConfirmConnect>(*app->pending_confirmation()));
  EXPECT_FALSE(app->live_session());
  const auto identity = app->session_identity();
  app->update(msg::ConfirmPending{}, document);
  EXPECT_FALSE(app->confirmation_pending());
  EXPECT_EQ(app->session_identity(), identity + 1);
  EXPECT_EQ(app->screen(), Screen{screen::Session{profile.id}});
  EXPECT_EQ(app->find_profile(profile.id)->last_used, "just now");
}

TEST_F(ConfirmationsTest, AnUnavailableTransportStartsAtOnceWithoutASheet) {
  ::unsetenv("REMOTE_LIVE_SESSIONS");
  app->update(msg::RequestConnect{profile.id}, document);
  EXPECT_FALSE(app->confirmation_pending());
  ASSERT_TRUE(app->current_status());
  EXPECT_EQ(*app->current_status(),
            SessionStatus{session::Unavailable{"SSH is installed, but this build has not been granted live network access."}});
  EXPECT_EQ(app->find_profile(profile.id)->last_used, "Never");
}

TEST_F(ConfirmationsTest, OnlyTargetChangesBlockAConfirmation) {
  struct Case {
    const char* what;
    std::function<void(doc::ConnectionProfile&)> change;
    bool blocks;
  };
  const Case cases[] = {
      {"rename", [](auto& p) { p.name = "Lab 2"; }, false},
      {"favourite", [](auto& p) { p.favorite = true; }, false},
      {"group", [](auto& p) { p.group = "x"; }, false},
      {"host", [](auto& p) { p.host = "10.0.0.1"; }, true},
      {"port", [](auto& p) { p.port = 2; }, true},
      {"user", [](auto& p) { p.user = "root"; }, true},
      {"auth", [](auto& p) { p.auth = doc::ConnectionAuth::PublicKey; }, true},
  };
  for (const auto& c : cases) {
    // Each case starts from a fresh fixture; the one gtest set up is torn down first.
    TearDown();
    SetUp();
    app->update(msg::RequestDelete{profile.id}, document);
    edit_elsewhere(c.change);
    app->update(msg::ConfirmPending{}, document);
    const bool deleted = doc::read_profiles(document).empty();
    EXPECT_EQ(deleted, !c.blocks) << c.what;
    if (c.blocks) {
      EXPECT_EQ(app->notice(),
                "This connection changed while confirmation was open. Review the current profile, then try again.")
          << c.what;
    }
  }
}

TEST_F(ConfirmationsTest, DeleteRemovesAtOnceAndRepairsTheSelection) {
  auto other = ssh_profile("Other");
  doc::upsert_profile(document, other);
  app->document_changed(document);
  app->update(msg::Select{profile.id}, document);
  app->update(msg::RequestDelete{profile.id}, document);
  app->update(msg::ConfirmPending{}, document);
  EXPECT_EQ(app->profiles().size(), 1u);
  EXPECT_EQ(app->selected(), other.id);
  EXPECT_EQ(doc::read_profiles(document).size(), 1u);
  EXPECT_EQ(host->journal.entries().back().caller->label, "Delete connection");
}

TEST_F(ConfirmationsTest, DeletingFromItsEditFormLeavesTheForm) {
  app->update(msg::OpenEditForm{profile.id}, document);
  app->update(msg::RequestDelete{profile.id}, document);
  app->update(msg::ConfirmPending{}, document);
  EXPECT_EQ(app->screen(), Screen{screen::List{}});
  // Nothing left on screen saves the deleted profile back under its id.
  app->update(msg::SaveForm{}, document);
  for (const auto& p : doc::read_profiles(document)) EXPECT_NE(p.id, profile.id);
}

TEST_F(ConfirmationsTest, AKeySeenAtTheOldAddressIsNotTrustedForANewOne) {
  observe(ssh::NeedsTrust{kKey});
  edit_elsewhere([](auto& p) { p.host = "10.0.0.9"; });
  app->update(msg::RequestTrustHostKey{profile.id}, document);
  EXPECT_FALSE(app->confirmation_pending());
  EXPECT_EQ(app->notice(),
            "No new SSH host key is waiting for trust. Changed keys must be forgotten before they can be reviewed again.");
  EXPECT_FALSE(std::filesystem::exists(dir / "known-hosts.json"));
}

TEST_F(ConfirmationsTest, RemovedProfilesAndEmptyConfirmations) {
  app->update(msg::RequestDelete{profile.id}, document);
  doc::delete_profile(document, profile.id);
  app->document_changed(document);
  app->update(msg::ConfirmPending{}, document);
  EXPECT_EQ(app->notice(), "The saved connection was removed before confirmation.");

  const auto missing = kivo::Uuid::new_v4();
  app->update(msg::RequestConnect{missing}, document);
  EXPECT_EQ(app->notice(), "That saved connection no longer exists.");
  // Confirming nothing changes nothing; cancelling nothing still says so.
  app->update(msg::ConfirmPending{}, document);
  EXPECT_EQ(app->notice(), "That saved connection no longer exists.");
  app->update(msg::CancelPending{}, document);
  EXPECT_EQ(app->notice(), "Action cancelled. No connection or profile was changed.");
}

TEST_F(ConfirmationsTest, TrustPinsTheObservedKeyOnlyWhileItIsStillTheSame) {
  app->update(msg::RequestTrustHostKey{profile.id}, document);
  EXPECT_EQ(app->notice(),
            "No new SSH host key is waiting for trust. Changed keys must be forgotten before they can be reviewed again.");
  EXPECT_FALSE(app->confirmation_pending());

  observe(ssh::NeedsTrust{kKey});
  app->update(msg::RequestTrustHostKey{profile.id}, document);
  ASSERT_TRUE(app->confirmation_pending());
  observe(ssh::NeedsTrust{kOtherKey});  // the server presented yet another key meanwhile
  app->update(msg::ConfirmPending{}, document);
  EXPECT_EQ(app->notice(), "The observed SSH host key changed before it was trusted. Review it again.");
  EXPECT_FALSE(std::filesystem::exists(dir / "known-hosts.json"));

  app->update(msg::RequestTrustHostKey{profile.id}, document);
  app->update(msg::ConfirmPending{}, document);
  const auto store = ssh::load_known_hosts(dir / "known-hosts.json");
  ASSERT_TRUE(store);
  ASSERT_EQ(store->entries.size(), 1u);
  EXPECT_EQ(store->entries[0].identity, kOtherKey);
  EXPECT_TRUE(std::holds_alternative<session::SshTerminal>(*app->live_session()));  // reconnecting
}

TEST_F(ConfirmationsTest, ForgetRemovesThePinAndEndsTheSession) {
  ASSERT_TRUE(ssh::trust_host_key(dir / "known-hosts.json", profile.host, profile.port, kKey));
  app->update(msg::RequestForgetHostKey{profile.id}, document);
  EXPECT_EQ(app->notice(),
            "Only a currently changed SSH host key can be forgotten. Reconnect to revalidate this target first.");
  observe(ssh::Changed{kKey, kOtherKey});
  app->update(msg::RequestForgetHostKey{profile.id}, document);
  app->update(msg::ConfirmPending{}, document);
  EXPECT_EQ(app->notice(), "Forgot the local SSH host-key pin. Reconnect to review the next key before trusting it.");
  EXPECT_FALSE(app->live_session());
  EXPECT_TRUE(std::holds_alternative<screen::List>(app->screen()));
  EXPECT_TRUE(ssh::load_known_hosts(dir / "known-hosts.json")->entries.empty());

  observe(ssh::Changed{kKey, kOtherKey});
  app->update(msg::RequestForgetHostKey{profile.id}, document);
  app->update(msg::ConfirmPending{}, document);
  EXPECT_EQ(app->notice(), "No local SSH host-key pin was found for this target.");
  EXPECT_TRUE(app->live_session());
}

TEST_F(ConfirmationsTest, StoreProblemsAreReportedWithTheirText) {
  std::filesystem::permissions(dir, std::filesystem::perms::owner_all | std::filesystem::perms::group_read);
  observe(ssh::NeedsTrust{kKey});
  app->update(msg::RequestTrustHostKey{profile.id}, document);
  app->update(msg::ConfirmPending{}, document);
  EXPECT_EQ(app->notice(), "Could not use private SSH host-key storage: SSH host-key store parent must not be "
                           "accessible to group or other users");
}

TEST_F(ConfirmationsTest, WhileASheetIsOpenOnlyItsButtonsAct) {
  app->update(msg::RequestConnect{profile.id}, document);
  const kivo::ui::EventContext context{.document = &document};
  EXPECT_FALSE(app->semantic_action("remote.nav.list", {kivo::ui::a11y::SemanticActionKind::Primary}, context));
  app->on_event(kivo::ui::KeyEvent{.key = kivo::ui::Key::character("n"), .modifiers = {.control = true}}, context);
  EXPECT_TRUE(std::holds_alternative<screen::List>(app->screen()));
  EXPECT_TRUE(app->confirmation_pending());
  app->on_event(kivo::ui::KeyEvent{.key = kivo::ui::Key::named("Escape")}, context);
  EXPECT_FALSE(app->confirmation_pending());
  EXPECT_EQ(app->notice(), "Action cancelled. No connection or profile was changed.");
  app->update(msg::RequestConnect{profile.id}, document);
  EXPECT_FALSE(app->notice());  // opening a connect sheet clears the notice
  EXPECT_TRUE(app->semantic_action("remote.confirmation.confirm", {kivo::ui::a11y::SemanticActionKind::Primary},
                                   context));
  EXPECT_EQ(app->screen(), Screen{screen::Session{profile.id}});
}

}  // namespace
}  // namespace remote::app
