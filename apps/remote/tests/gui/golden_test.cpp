// The list screen rendered offscreen and compared with reviewed images.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <functional>

#include "app/remote_app.h"
#include "fixtures.h"
#include "golden.h"
#include "kivo/testing/scoped_env.h"
#include "kivo/doc/document.h"
#include "kivo/ui/offscreen.h"

namespace remote::test {
namespace {

using app::RemoteApp;
namespace msg = app::msg;

struct Render {
  std::string name;
  int width;
  int height;
  std::vector<doc::ConnectionProfile> profiles;
  std::function<void(RemoteApp&, kivo::ui::offscreen::OffscreenWindow&, kivo::doc::Document&)> setup;
};

class GoldenTest : public ::testing::TestWithParam<Render> {};

TEST_P(GoldenTest, MatchesTheReviewedImage) {
  const Render& r = GetParam();
  const kivo::testing::ScopedEnv granted("REMOTE_LIVE_SESSIONS", "");
  RemoteApp app(r.profiles, {});
  app.set_reduced_motion(true);
  kivo::doc::Document document;
  kivo::ui::offscreen::OffscreenWindow window(app, r.width, r.height);
  window.set_document(&document);
  window.paint();
  if (r.setup) r.setup(app, window, document);
  window.paint();
  expect_matches_golden(window.frame(), r.name);
}

void hover(kivo::ui::offscreen::OffscreenWindow& window, double x, double y) {
  window.send(kivo::ui::PointerMoved{{x, y}});
}

const Render kRenders[] = {
    {"list-wide", 1280, 800, fixture_profiles(),
     [](RemoteApp& app, auto& window, auto& doc) {
       app.update(msg::Select{fixture_profiles()[4].id}, doc);
       hover(window, 700, 330);
     }},
    {"list-narrow", 600, 800, fixture_profiles(), nullptr},
    {"list-narrow-open", 600, 800, fixture_profiles(),
     [](RemoteApp& app, auto&, auto& doc) { app.update(msg::ToggleNavigation{}, doc); }},
    {"list-search", 1280, 800, fixture_profiles(),
     [](RemoteApp& app, auto& window, auto&) {
       window.semantic_action("remote.field:search", {kivo::ui::a11y::SemanticActionKind::SetValue, "prod"});
       (void)app;
     }},
    {"list-search-none", 1280, 800, fixture_profiles(),
     [](RemoteApp&, auto& window, auto&) {
       window.semantic_action("remote.field:search", {kivo::ui::a11y::SemanticActionKind::SetValue, "zzz"});
     }},
    {"list-scrolled-end", 1280, 800, fixture_profiles(),
     [](RemoteApp&, auto& window, auto&) {
       window.send(kivo::ui::Wheel{kivo::ui::Wheel::Unit::Line, 0, -50});
     }},
    {"list-empty", 1280, 800, {}, nullptr},
    {"list-empty-narrow", 600, 800, {}, nullptr},
    {"list-tooltip", 1280, 800, fixture_profiles(),
     [](RemoteApp&, auto& window, auto&) {
       hover(window, 32, 92);  // the rail's list item
       window.advance(std::chrono::milliseconds(600));
       window.paint();
     }},
};

INSTANTIATE_TEST_SUITE_P(Screens, GoldenTest, ::testing::ValuesIn(kRenders),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace
}  // namespace remote::test
