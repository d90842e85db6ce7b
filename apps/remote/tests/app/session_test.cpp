#include <gtest/gtest.h>
#include <stdlib.h>

#include "actions/dispatch.h"
#include "app/remote_app.h"
#include "doc/store.h"
#include "kivo/doc/document.h"
#include "kivo/ui/offscreen.h"

namespace remote::app {
namespace {

doc::ConnectionProfile make(std::string name, doc::ConnectionKind kind) {
  doc::ConnectionProfile p;
  p.id = kivo::Uuid::new_v4();
  p.name = std::move(name);
  p.kind = kind;
  p.host = "127.0.0.1";
  p.port = kind == doc::ConnectionKind::Rdp ? 3389 : 1;
  return p;
}

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override { ::unsetenv("REMOTE_LIVE_SESSIONS"); }
  kivo::doc::Document document;
};

TEST_F(SessionTest, StartingAMissingProfileChangesNothing) {
  RemoteApp app({}, {});
  app.update(msg::Connect{kivo::Uuid::new_v4()}, document);
  EXPECT_EQ(app.session_identity(), 0u);
  EXPECT_FALSE(app.live_session());
  EXPECT_TRUE(std::holds_alternative<screen::List>(app.screen()));
}

TEST_F(SessionTest, ARefusedTransportShowsWhyAndKeepsTheLastUse) {
  const auto rdp = make("Win", doc::ConnectionKind::Rdp);
  RemoteApp app({rdp}, {});
  app.update(msg::Connect{rdp.id}, document);
  EXPECT_EQ(app.screen(), Screen{screen::Session{rdp.id}});
  EXPECT_EQ(*app.current_status(),
            session::SessionStatus{session::Unavailable{
                "RDP profiles are preserved, but this Kivo build has no RDP client backend."}});
  const auto texts = session::present(*app.current_status(), doc::ConnectionKind::Rdp);
  EXPECT_EQ(texts.title, "Connection not available");
  EXPECT_EQ(texts.further, "Edit this saved profile to use SSH, VNC, or Kivo device control.");
  EXPECT_EQ(app.find_profile(rdp.id)->last_used, "Never");
  // One frame shows the card; nothing more is asked for, since nothing will change.
  EXPECT_TRUE(app.wants_frame());
  kivo::ui::offscreen::OffscreenWindow window(app, 1280, 800);
  window.paint();
  EXPECT_FALSE(app.wants_frame());
}

TEST_F(SessionTest, StartFailuresBecomeFailedStatusesAndStillCountAsUse) {
  ::setenv("REMOTE_LIVE_SESSIONS", "", 1);
  ::unsetenv("REMOTE_SSH_PASSWORD");
  const auto ssh = make("Box", doc::ConnectionKind::Ssh);
  RemoteApp app({ssh}, {});
  app.update(msg::Connect{ssh.id}, document);
  EXPECT_EQ(*app.current_status(),
            session::SessionStatus{session::Failed{"no SSH password: set REMOTE_SSH_PASSWORD"}});
  EXPECT_EQ(app.find_profile(ssh.id)->last_used, "just now");
  ::unsetenv("REMOTE_LIVE_SESSIONS");
}

TEST_F(SessionTest, EndingTwiceCountsTwiceAndReturnsToTheList) {
  const auto rdp = make("Win", doc::ConnectionKind::Rdp);
  RemoteApp app({rdp}, {});
  app.update(msg::Connect{rdp.id}, document);
  app.update(msg::ToggleFullscreen{}, document);
  app.update(msg::Disconnect{}, document);
  app.update(msg::Disconnect{}, document);
  EXPECT_EQ(app.session_identity(), 3u);
  EXPECT_FALSE(app.fullscreen());
  EXPECT_FALSE(app.session_target());
  EXPECT_TRUE(std::holds_alternative<screen::List>(app.screen()));
}

TEST_F(SessionTest, LeavingTheScreenKeepsTheSessionAndAReplacedDocumentEndsIt) {
  const auto a = make("A", doc::ConnectionKind::Rdp);
  doc::upsert_profile(document, a);
  RemoteApp app({}, {});
  app.document_changed(document);
  app.update(msg::Connect{a.id}, document);
  app.update(msg::ShowList{}, document);
  EXPECT_TRUE(app.live_session());
  doc::delete_profile(document, a.id);
  app.document_changed(document);
  EXPECT_FALSE(app.live_session());
  EXPECT_FALSE(app.session_target());
}

TEST_F(SessionTest, AConnectedPreviewMarksItsProfileOnlineInTheListOnly) {
  const auto a = make("A", doc::ConnectionKind::Ssh);
  doc::upsert_profile(document, a);
  RemoteApp app({}, {});
  app.document_changed(document);
  kivo::ui::offscreen::OffscreenWindow window(app, 1280, 800);
  app.show_preview(a.id, session::Preview{session::Connected{}, std::nullopt, std::nullopt});
  EXPECT_TRUE(app.wants_frame());
  window.paint();
  EXPECT_EQ(app.find_profile(a.id)->presence, doc::Presence::Online);
  EXPECT_EQ(doc::read_profiles(document)[0].presence, doc::Presence::Unknown);
}

TEST_F(SessionTest, ConnectOutcomesMapEveryStatus) {
  using K = session::ConnectOutcome::Kind;
  struct Case {
    std::optional<session::SessionStatus> status;
    K kind;
    const char* code;
    const char* message;
  };
  const Case cases[] = {
      {std::nullopt, K::Failed, "remote.connection_closed", "remote connection closed before it became ready"},
      {session::Connecting{}, K::Running, "", ""},
      {session::Connected{}, K::Succeeded, "", ""},
      {session::Ended{}, K::Failed, "remote.connection_closed", "remote connection closed before it became ready"},
      {session::Unavailable{"t"}, K::Failed, "remote.transport_unavailable", "t"},
      {session::Failed{"boom"}, K::Failed, "remote.connect_failed", "boom"},
  };
  for (const auto& c : cases) {
    const auto outcome = session::connect_outcome(c.status ? &*c.status : nullptr);
    EXPECT_EQ(outcome.kind, c.kind);
    EXPECT_EQ(outcome.code, c.code);
    EXPECT_EQ(outcome.message, c.message);
  }
}

}  // namespace
}  // namespace remote::app
