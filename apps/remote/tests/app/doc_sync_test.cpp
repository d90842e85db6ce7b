#include <gtest/gtest.h>

#include "actions/dispatch.h"
#include "app/remote_app.h"
#include "app_test_support.h"
#include "doc/store.h"
#include "kivo/doc/document.h"

namespace remote::app {
namespace {

using doc::ConnectionKind;

using testing::profile;

class DocSyncTest : public ::testing::Test {
 protected:
  std::unique_ptr<RemoteApp> make_app(std::vector<doc::ConnectionProfile> profiles = {}) {
    auto app = std::make_unique<RemoteApp>(std::move(profiles), std::vector<DiscoveredDevice>{});
    app->attach_action_host(host);
    return app;
  }
  void fill_form(RemoteApp& app, const char* name, const char* host_text, const char* port) {
    app.set_field_text(kNameField, name);
    app.set_field_text(kHostField, host_text);
    app.set_field_text(kPortField, port);
  }

  std::shared_ptr<kivo::ui::ActionHost> host = testing::action_host();
  kivo::doc::Document document;
};

TEST_F(DocSyncTest, SavingANewProfileDispatchesAnUpsertAndTheListFollowsTheDocument) {
  auto app = make_app();
  app->document_changed(document);
  app->update(msg::OpenNewForm{}, document);
  fill_form(*app, "  Build Box ", "build.example.net", "2222");
  app->update(msg::SaveForm{}, document);

  EXPECT_TRUE(std::holds_alternative<screen::List>(app->screen()));
  EXPECT_TRUE(app->profiles().empty());  // nothing until the document reports the change
  const auto stored = doc::read_profiles(document);
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].name, "Build Box");
  EXPECT_EQ(stored[0].port, 2222);
  EXPECT_EQ(stored[0].last_used, "Never");
  EXPECT_EQ(document.pending_ops(), 0u);  // committed by the dispatch
  ASSERT_EQ(host->journal.entries().size(), 1u);
  EXPECT_EQ(host->journal.entries().back().caller->label, "Upsert connection");

  app->document_changed(document);
  ASSERT_EQ(app->profiles().size(), 1u);
  EXPECT_EQ(app->selected(), stored[0].id);
}

TEST_F(DocSyncTest, SavingAnEditedProfileKeepsWhatTheFormDoesNotCarry) {
  auto saved = profile("Lab");
  saved.favorite = true;
  saved.presence = doc::Presence::Online;
  saved.last_used = "2h ago";
  doc::upsert_profile(document, saved);
  ASSERT_TRUE(document.commit());
  auto app = make_app();
  app->document_changed(document);
  app->update(msg::OpenEditForm{saved.id}, document);
  app->set_field_text(kNameField, "Lab West");
  app->update(msg::SaveForm{}, document);
  app->document_changed(document);
  ASSERT_EQ(app->profiles().size(), 1u);
  EXPECT_EQ(app->profiles()[0].name, "Lab West");
  EXPECT_TRUE(app->profiles()[0].favorite);
  EXPECT_EQ(app->profiles()[0].presence, doc::Presence::Online);
  EXPECT_EQ(app->profiles()[0].last_used, "2h ago");
}

TEST_F(DocSyncTest, AFormWithProblemsIsNotSavedAndFocusGoesToTheFirstOne) {
  struct Case {
    const char* name;
    const char* host_text;
    const char* port;
    ConnectionKind kind;
    std::optional<int> focused;
  };
  const Case cases[] = {
      {"", "h", "22", ConnectionKind::Ssh, kNameField},
      {"n", " ", "22", ConnectionKind::Ssh, kHostField},
      {"n", "not-an-endpoint", "", ConnectionKind::Kivo, kHostField},
      {"n", "h", "", ConnectionKind::Ssh, kPortField},
      {"n", "h", "0", ConnectionKind::Ssh, kUserField},  // focus stays where it was
  };
  for (const auto& c : cases) {
    auto app = make_app();
    app->update(msg::OpenNewForm{}, document);
    app->update(msg::SetKind{c.kind}, document);
    fill_form(*app, c.name, c.host_text, c.port);
    app->update(msg::FocusField{kUserField}, document);
    app->update(msg::SaveForm{}, document);
    EXPECT_TRUE(app->problem_visibility().save_attempted) << c.name << c.host_text << c.port;
    EXPECT_EQ(app->focused_field(), c.focused) << c.name << c.host_text << c.port;
    EXPECT_TRUE(std::holds_alternative<screen::Form>(app->screen()));
  }
  EXPECT_TRUE(doc::read_profiles(document).empty());
  EXPECT_TRUE(host->journal.entries().empty());
}

TEST_F(DocSyncTest, FirstSynchronisationSeedsAnEmptyDocumentFromTheLocalList) {
  const auto a = profile("Alpha");
  const auto b = profile("Beta", true);
  auto app = make_app({a, b});
  EXPECT_TRUE(app->first_document_sync_pending());
  app->document_changed(document);
  EXPECT_FALSE(app->first_document_sync_pending());
  EXPECT_EQ(doc::read_profiles(document).size(), 2u);

  kivo::doc::Document empty;
  auto nothing = make_app();
  nothing->document_changed(empty);
  EXPECT_TRUE(nothing->document_synced());
  EXPECT_EQ(empty.pending_ops(), 0u);
}

TEST_F(DocSyncTest, FirstSynchronisationWithStoredProfilesReplacesTheLocalList) {
  const auto stored = profile("Stored");
  doc::upsert_profile(document, stored);
  auto app = make_app({profile("Local")});
  app->document_changed(document);
  ASSERT_EQ(app->profiles().size(), 1u);
  EXPECT_EQ(app->profiles()[0].id, stored.id);
  EXPECT_EQ(app->selected(), stored.id);
}

TEST_F(DocSyncTest, AnUnchangedListKeepsSelectionAndScreen) {
  const auto a = profile("Alpha");
  const auto b = profile("Beta");
  doc::upsert_profile(document, a);
  doc::upsert_profile(document, b);
  auto app = make_app();
  app->document_changed(document);
  app->update(msg::Select{b.id}, document);
  app->update(msg::OpenNewForm{}, document);
  app->document_changed(document);
  EXPECT_EQ(app->selected(), b.id);
  EXPECT_TRUE(std::holds_alternative<screen::Form>(app->screen()));
  // A removed selection is repaired to the first visible profile.
  doc::delete_profile(document, b.id);
  app->document_changed(document);
  EXPECT_EQ(app->selected(), a.id);
}

TEST_F(DocSyncTest, FavouriteTogglesAtOnceAndAFailedDispatchIsOnlyLogged) {
  const auto a = profile("Alpha");
  doc::upsert_profile(document, a);
  auto app = make_app();
  app->document_changed(document);
  app->update(msg::ToggleFavorite{a.id}, document);
  EXPECT_TRUE(app->profiles()[0].favorite);
  EXPECT_TRUE(doc::read_profiles(document)[0].favorite);

  // Without a decoder the dispatch fails: the local toggle shows until the next sync.
  host->registry = kivo::actions::ActionRegistry();
  ::testing::internal::CaptureStderr();
  app->update(msg::ToggleFavorite{a.id}, document);
  const std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("action dispatch failed: "), std::string::npos) << log;
  EXPECT_FALSE(app->profiles()[0].favorite);
  EXPECT_FALSE(app->notice());
  doc::rename_profile(document, a.id, "Alpha 2");
  app->document_changed(document);
  EXPECT_TRUE(app->profiles()[0].favorite);
  EXPECT_EQ(app->profiles()[0].name, "Alpha 2");
}

}  // namespace
}  // namespace remote::app
