#include "app/remote_app.h"

#include <gtest/gtest.h>

#include "app_test_support.h"
#include "kivo/doc/document.h"
#include "kivo/ui/offscreen.h"

namespace remote::app {
namespace {

using doc::ConnectionAuth;
using doc::ConnectionKind;
using namespace std::chrono_literals;

using testing::profile;

class RemoteAppTest : public ::testing::Test {
 protected:
  kivo::doc::Document document;
};

TEST_F(RemoteAppTest, StartsOnTheListWithTheFirstVisibleProfileSelected) {
  RemoteApp empty({}, {});
  EXPECT_FALSE(empty.selected());
  EXPECT_TRUE(std::holds_alternative<screen::List>(empty.screen()));

  const auto b = profile("b");
  const auto a = profile("a");
  const auto z = profile("z", true);
  RemoteApp app({b, a, z}, {});
  EXPECT_EQ(app.selected(), z.id);
}

TEST_F(RemoteAppTest, SetKindAdjustsPortAndAuthentication) {
  struct Case {
    const char* port_before;
    ConnectionAuth auth_before;
    std::vector<ConnectionKind> kinds;
    const char* port_after;
    ConnectionAuth auth_after;
  };
  const Case cases[] = {
      {"22", ConnectionAuth::Password, {ConnectionKind::Vnc}, "22", ConnectionAuth::Password},
      {"22", ConnectionAuth::Password, {ConnectionKind::Kivo}, "", ConnectionAuth::DeviceIdentity},
      {"22", ConnectionAuth::Password, {ConnectionKind::Kivo, ConnectionKind::Vnc}, "5900", ConnectionAuth::Password},
      {"0", ConnectionAuth::Password, {ConnectionKind::Rdp}, "3389", ConnectionAuth::Password},
      {"", ConnectionAuth::PublicKey, {ConnectionKind::Ssh}, "22", ConnectionAuth::PublicKey},
      {"2200", ConnectionAuth::PublicKey, {ConnectionKind::Vnc}, "2200", ConnectionAuth::Password},
      {"", ConnectionAuth::Password, {ConnectionKind::Kivo, ConnectionKind::Ssh}, "22", ConnectionAuth::Password},
  };
  for (const auto& c : cases) {
    RemoteApp app({}, {});
    app.update(msg::OpenNewForm{}, document);
    app.set_field_text(kPortField, c.port_before);
    app.update(msg::SetAuth{c.auth_before}, document);
    for (auto kind : c.kinds) app.update(msg::SetKind{kind}, document);
    EXPECT_EQ(app.form().port, c.port_after) << c.port_before;
    EXPECT_EQ(app.form().auth, c.auth_after) << c.port_before;
    EXPECT_EQ(app.input(kPortField).text(), c.port_after) << c.port_before;
  }
}

TEST_F(RemoteAppTest, PortFieldKeepsDigitsOnly) {
  RemoteApp app({}, {});
  app.update(msg::OpenNewForm{}, document);
  app.update(msg::FocusField{kPortField}, document);
  app.set_field_text(kPortField, "22a2 ");
  EXPECT_EQ(app.form().port, "222");
  EXPECT_EQ(app.input(kPortField).text(), "222");
  EXPECT_EQ(app.input(kPortField).cursor_pos(), 3u);
}

TEST_F(RemoteAppTest, FormsOpenFilledAndFocusTheName) {
  auto saved = profile("Build Box");
  saved.kind = ConnectionKind::Kivo;
  saved.port = 0;
  saved.auth = ConnectionAuth::DeviceIdentity;
  saved.group = "lab";
  RemoteApp app({saved}, {});
  app.update(msg::OpenEditForm{saved.id}, document);
  EXPECT_EQ(app.screen(), Screen{screen::Form{FormEdit{saved.id}}});
  EXPECT_EQ(app.form().port, "0");
  EXPECT_EQ(app.form().group, "lab");
  EXPECT_EQ(app.focused_field(), kNameField);
  EXPECT_EQ(app.input(kHostField).placeholder(), "certified Kivo endpoint id");

  app.update(msg::OpenNewForm{}, document);
  EXPECT_EQ(app.form(), doc::ConnectionForm::new_form());
  EXPECT_EQ(app.input(kHostField).placeholder(), "hostname or IP");
  EXPECT_EQ(app.input(kNameField).text(), "");

  // Leaving a field while the form is shown marks it touched; cancelling leaves the
  // form first, so the field focused last stays untouched.
  app.update(msg::FocusField{kHostField}, document);
  app.update(msg::FocusField{kPortField}, document);
  app.update(msg::CancelForm{}, document);
  EXPECT_TRUE(app.problem_visibility().name_touched);
  EXPECT_TRUE(app.problem_visibility().host_touched);
  EXPECT_FALSE(app.problem_visibility().port_touched);
  EXPECT_FALSE(app.focused_field());
  EXPECT_TRUE(std::holds_alternative<screen::List>(app.screen()));

  const auto missing = kivo::Uuid::new_v4();
  app.update(msg::OpenEditForm{missing}, document);
  EXPECT_TRUE(std::holds_alternative<screen::List>(app.screen()));
}

TEST_F(RemoteAppTest, PickDeviceFillsAKivoForm) {
  RemoteApp app({}, {{"Studio Node", "endpoint-text", true}});
  app.update(msg::OpenNewForm{}, document);
  app.update(msg::FocusField{kUserField}, document);
  app.update(msg::PickDevice{1}, document);
  EXPECT_EQ(app.form().kind, ConnectionKind::Ssh);
  app.update(msg::PickDevice{0}, document);
  EXPECT_EQ(app.form().name, "Studio Node");
  EXPECT_EQ(app.form().host, "endpoint-text");
  EXPECT_EQ(app.form().kind, ConnectionKind::Kivo);
  EXPECT_EQ(app.form().auth, ConnectionAuth::DeviceIdentity);
  EXPECT_EQ(app.form().port, "");
  EXPECT_EQ(app.input(kHostField).text(), "endpoint-text");
  EXPECT_EQ(app.focused_field(), kNameField);
}

TEST_F(RemoteAppTest, NavigationOverrideFollowsTheLayoutClass) {
  RemoteApp app({}, {});
  app.apply_layout({0, 0, 1280, 800});
  EXPECT_TRUE(app.flap_target_open());
  EXPECT_EQ(app.flap().progress, 1.0);
  app.update(msg::ToggleNavigation{}, document);
  EXPECT_EQ(app.flap().open_override, false);
  app.apply_layout({0, 0, 1000, 800});  // same side of the boundary: the choice stays
  EXPECT_EQ(app.flap().open_override, false);
  app.apply_layout({0, 0, 719, 800});   // crossing it clears the choice
  EXPECT_FALSE(app.flap().open_override);
  EXPECT_FALSE(app.flap_target_open());
  app.update(msg::ToggleNavigation{}, document);
  EXPECT_EQ(app.flap().open_override, true);
  // Going back to the list closes a flap the user opened in the narrow layout.
  app.update(msg::ShowList{}, document);
  EXPECT_EQ(app.flap().open_override, false);
  app.apply_layout({0, 0, 720, 800});
  EXPECT_FALSE(app.flap().open_override);
  EXPECT_TRUE(app.flap_target_open());
}

TEST_F(RemoteAppTest, FlapAnimatesTowardsItsTargetUnlessMotionIsReduced) {
  RemoteApp app({}, {});
  kivo::ui::offscreen::OffscreenWindow window(app, 1280, 800);
  window.paint();
  app.update(msg::ToggleNavigation{}, document);
  EXPECT_TRUE(app.wants_frame());
  window.advance(16ms);
  window.paint();
  EXPECT_GT(app.flap().progress, 0.0);
  EXPECT_LT(app.flap().progress, 1.0);
  const int frames = window.settle();
  EXPECT_GT(frames, 10);
  EXPECT_EQ(app.flap().progress, 0.0);
  EXPECT_FALSE(app.wants_frame());

  app.set_reduced_motion(true);
  app.update(msg::ToggleNavigation{}, document);
  EXPECT_FALSE(app.wants_frame());
  window.advance(16ms);
  window.paint();
  EXPECT_EQ(app.flap().progress, 1.0);
  EXPECT_FALSE(app.wants_frame());
}

TEST_F(RemoteAppTest, ReviewOverrideAppliesAtTheNextLayoutPass) {
  RemoteApp app({}, {});
  app.set_pending_flap_override(true);
  app.apply_layout({0, 0, 600, 800});
  EXPECT_EQ(app.flap().open_override, true);
  EXPECT_EQ(app.flap().progress, 1.0);
  EXPECT_TRUE(app.narrow());
}

}  // namespace
}  // namespace remote::app
