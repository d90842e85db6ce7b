#include <gtest/gtest.h>
#include <stdlib.h>

#include "app/entry.h"
#include "app/remote_app.h"
#include "doc/availability.h"
#include "doc/sample.h"
#include "doc/store.h"
#include "kivo/doc/document.h"

namespace remote::app {
namespace {

std::unique_ptr<RemoteApp> review(const char* sample, std::optional<std::string> state) {
  if (sample != nullptr) {
    ::setenv("KIVO_REMOTE_SAMPLE", sample, 1);
  } else {
    ::unsetenv("KIVO_REMOTE_SAMPLE");
  }
  kivo::ui::launch::LaunchContext context{.app_id = kAppId, .review_state = std::move(state)};
  auto app = create_review_application(context);
  ::unsetenv("KIVO_REMOTE_SAMPLE");
  return std::unique_ptr<RemoteApp>(static_cast<RemoteApp*>(app.release()));
}

TEST(Review, OnlyExactlyOneSelectsTheSample) {
  for (const char* value : {static_cast<const char*>(nullptr), "", "0", "true", " 1", "1 ", "11"}) {
    auto app = review(value, "form");
    EXPECT_TRUE(app->profiles().empty()) << (value ? value : "unset");
    EXPECT_TRUE(app->devices().empty());
    EXPECT_TRUE(std::holds_alternative<screen::List>(app->screen()));
  }
  EXPECT_EQ(review("1", std::nullopt)->profiles().size(), 8u);
  // The ordinary start never looks at the variable.
  ::setenv("KIVO_REMOTE_SAMPLE", "1", 1);
  kivo::ui::launch::LaunchContext context{.app_id = kAppId};
  auto plain = create_application(context);
  EXPECT_TRUE(static_cast<RemoteApp&>(*plain).profiles().empty());
  ::unsetenv("KIVO_REMOTE_SAMPLE");
}

TEST(Review, SampleProfilesAreValidAndSortFavouritesFirst) {
  ::unsetenv("REMOTE_LIVE_SESSIONS");
  auto app = review("1", std::nullopt);
  std::vector<std::string> names;
  for (const auto* p : app->visible_profiles()) names.push_back(p->name);
  EXPECT_EQ(names, (std::vector<std::string>{"Build Box", "Studio Node", "Backup Vault", "Edge Gateway", "Office NAS",
                                             "Pi Cluster Head", "Win Workstation", "Workshop Laptop"}));
  for (const auto& p : app->profiles()) {
    EXPECT_FALSE(doc::validate_target(p.kind, p.host, p.auth)) << p.name;
    const auto a = doc::availability(p);
    if (p.kind == doc::ConnectionKind::Rdp) {
      EXPECT_EQ(a, doc::TransportAvailability::NotSupported);
    } else if (p.kind == doc::ConnectionKind::Ssh || p.kind == doc::ConnectionKind::Vnc) {
      EXPECT_EQ(a, doc::TransportAvailability::NeedsCapability) << p.name;
    }
  }
  // The devices' endpoint ids are fixed, the profile ids fresh.
  EXPECT_EQ(doc::sample_devices()[0].endpoint_id, doc::sample_devices()[0].endpoint_id);
  EXPECT_NE(doc::sample_profiles()[0].id, doc::sample_profiles()[0].id);
  EXPECT_EQ(app->devices()[3].name, "Garage Pi");
  EXPECT_FALSE(app->devices()[3].online);
}

TEST(Review, FirstSynchronisationWritesTheSampleIntoAnEmptyDocumentOnce) {
  kivo::doc::Document document;
  auto first = review("1", std::nullopt);
  first->document_changed(document);
  const auto stored = doc::read_profiles(document);
  ASSERT_EQ(stored.size(), 8u);
  auto second = review("1", std::nullopt);
  second->document_changed(document);
  EXPECT_EQ(second->profiles(), stored);
}

TEST(Review, StatesOpenTheirScreens) {
  struct Case {
    const char* state;
    std::function<bool(const RemoteApp&)> check;
  };
  const Case cases[] = {
      {"form", [](const RemoteApp& a) { return std::holds_alternative<screen::Form>(a.screen()); }},
      {"form-kivo", [](const RemoteApp& a) { return a.form().kind == doc::ConnectionKind::Kivo; }},
      {"session-rdp",
       [](const RemoteApp& a) {
         return a.current_status() ==
                session::SessionStatus{session::Unavailable{
                    "RDP profiles are preserved, but this Kivo build has no RDP client backend."}};
       }},
      {"session-kivo", [](const RemoteApp& a) { return a.current_status() == session::SessionStatus{session::Connecting{}}; }},
      {"session-connecting",
       [](const RemoteApp& a) {
         return a.current_status() == session::SessionStatus{session::Connecting{}} &&
                a.find_profile(*a.session_target())->name == "Build Box";
       }},
      {"session-failed",
       [](const RemoteApp& a) {
         return a.current_status() == session::SessionStatus{session::Failed{"Connection refused"}} &&
                a.find_profile(*a.session_target())->name == "Office NAS";
       }},
      {"confirm-connect",
       [](const RemoteApp& a) {
         return a.pending_confirmation() && std::holds_alternative<ConfirmConnect>(*a.pending_confirmation()) &&
                a.find_profile(confirmation_profile(*a.pending_confirmation()))->name == "Studio Node";
       }},
      {"confirm-delete",
       [](const RemoteApp& a) {
         return a.pending_confirmation() &&
                a.find_profile(confirmation_profile(*a.pending_confirmation()))->name == "Build Box";
       }},
      {"confirm-ssh-trust",
       [](const RemoteApp& a) {
         const auto* c = a.pending_confirmation() ? std::get_if<ConfirmTrustHostKey>(&*a.pending_confirmation()) : nullptr;
         return c != nullptr && c->identity.fingerprint == "SHA256:DemoFingerprintForVisualReviewOnly";
       }},
      {"no-such-state", [](const RemoteApp& a) { return std::holds_alternative<screen::List>(a.screen()); }},
  };
  for (const auto& c : cases) {
    auto app = review("1", c.state);
    EXPECT_TRUE(c.check(*app)) << c.state;
  }
  auto narrow = review(nullptr, "narrow-open");
  narrow->apply_layout({0, 0, 600, 800});
  EXPECT_TRUE(narrow->flap_target_open());
}

}  // namespace
}  // namespace remote::app
