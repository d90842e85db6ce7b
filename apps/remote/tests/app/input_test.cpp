// Input as (state, event) → (messages' effects, focus, selection, scroll), driven through
// the offscreen window so hit regions come from a real paint.

#include <gtest/gtest.h>

#include "actions/dispatch.h"
#include "app/remote_app.h"
#include "app_test_support.h"
#include "doc/store.h"
#include "kivo/doc/document.h"
#include "kivo/ui/offscreen.h"

namespace remote::app {
namespace {

using kivo::ui::Key;
using kivo::ui::KeyEvent;
using kivo::ui::a11y::SemanticActionKind;

using testing::profile;

KeyEvent named(const char* name, kivo::ui::Modifiers mods = {}) { return {.key = Key::named(name), .modifiers = mods}; }
KeyEvent typed(const char* text) { return {.key = Key::character(text), .text = text}; }
KeyEvent control(const char* letter) { return {.key = Key::character(letter), .modifiers = {.control = true}}; }

class InputTest : public ::testing::Test {
 protected:
  void start(std::vector<doc::ConnectionProfile> profiles, int width = 1280, int height = 800) {
    app = std::make_unique<RemoteApp>(std::move(profiles), std::vector<DiscoveredDevice>{});
    app->attach_action_host(host);
    app->set_reduced_motion(true);
    window = std::make_unique<kivo::ui::offscreen::OffscreenWindow>(*app, width, height);
    window->set_document(&document);
    app->document_changed(document);
    window->paint();
  }
  void key(const KeyEvent& k) {
    window->send(k);
    window->paint();
  }
  void click(double x, double y) {
    window->send(kivo::ui::PointerButtonEvent{kivo::ui::PointerButton::Primary, true, {x, y}});
    window->send(kivo::ui::PointerButtonEvent{kivo::ui::PointerButton::Primary, false, {x, y}});
    window->paint();
  }
  // The centre of the first hit region carrying a message of type M (matching `pred`).
  template <class M, class Pred = bool (*)(const M&)>
  kivo::ui::Point centre_of(Pred pred = [](const M&) { return true; }) {
    for (const auto& region : app->hit_regions()) {
      if (!region.message) continue;
      if (const auto* m = std::get_if<M>(&*region.message); m != nullptr && pred(*m)) {
        return {region.rect.x + region.rect.w / 2, region.rect.y + region.rect.h / 2};
      }
    }
    ADD_FAILURE() << "no such hit region";
    return {-1, -1};
  }
  std::vector<std::string> visible_names() const {
    std::vector<std::string> out;
    for (const auto* p : app->visible_profiles()) out.push_back(p->name);
    return out;
  }

  std::shared_ptr<kivo::ui::ActionHost> host = testing::action_host();
  kivo::doc::Document document;
  std::unique_ptr<RemoteApp> app;
  std::unique_ptr<kivo::ui::offscreen::OffscreenWindow> window;
};

TEST_F(InputTest, ShortcutsWorkOnEveryScreen) {
  start({profile("a")});
  key(control("n"));
  EXPECT_TRUE(std::holds_alternative<screen::Form>(app->screen()));
  EXPECT_EQ(app->focused_field(), kNameField);
  key(KeyEvent{.key = Key::character("F"), .modifiers = {.control = true, .shift = true}});
  EXPECT_TRUE(std::holds_alternative<screen::List>(app->screen()));
  EXPECT_EQ(app->focused_field(), kSearchField);
  key(KeyEvent{.key = Key::character("n"), .modifiers = {.super = true}});
  EXPECT_TRUE(std::holds_alternative<screen::Form>(app->screen()));
  // Control-W outside a session does nothing; typing after it still reaches the field.
  key(control("w"));
  EXPECT_TRUE(std::holds_alternative<screen::Form>(app->screen()));
  key(typed("x"));
  EXPECT_EQ(app->form().name, "x");
}

TEST_F(InputTest, TabMovesThroughTheFieldsOfTheKind) {
  struct Case {
    doc::ConnectionKind kind;
    std::optional<int> from;
    std::vector<int> expected;
  };
  const Case cases[] = {
      {doc::ConnectionKind::Ssh, kNameField, {kHostField, kPortField, kUserField, kGroupField, kNameField}},
      {doc::ConnectionKind::Rdp, kGroupField, {kNameField, kHostField}},
      {doc::ConnectionKind::Vnc, kPortField, {kGroupField, kNameField, kHostField}},
      {doc::ConnectionKind::Kivo, kHostField, {kNameField, kHostField}},
      {doc::ConnectionKind::Kivo, kUserField, {kHostField}},  // a field outside the order: its second
      {doc::ConnectionKind::Ssh, std::nullopt, {kNameField}},
  };
  for (const auto& c : cases) {
    start({});
    app->update(msg::OpenNewForm{}, document);
    app->update(msg::SetKind{c.kind}, document);
    if (c.from) {
      app->update(msg::FocusField{*c.from}, document);
    } else {
      app->blur_field();
    }
    for (int expected : c.expected) {
      key(KeyEvent{.key = Key::named("Tab"), .modifiers = {.shift = true}});
      EXPECT_EQ(app->focused_field(), expected);
    }
  }
}

TEST_F(InputTest, ArrowsMoveTheSelectionWithinTheVisibleList) {
  start({profile("a"), profile("b"), profile("c")});
  const auto ids = [&] {
    std::vector<kivo::Uuid> out;
    for (const auto* p : app->visible_profiles()) out.push_back(p->id);
    return out;
  }();
  app->update(msg::Select{kivo::Uuid::new_v4()}, document);  // an invisible selection counts as position 0
  key(named("ArrowDown"));
  EXPECT_EQ(app->selected(), ids[1]);
  key(named("ArrowDown"));
  key(named("ArrowDown"));
  EXPECT_EQ(app->selected(), ids[2]);
  key(named("ArrowUp"));
  key(named("ArrowUp"));
  key(named("ArrowUp"));
  EXPECT_EQ(app->selected(), ids[0]);
  // With the search field focused the keys belong to the field.
  key(typed("/"));
  key(named("ArrowDown"));
  EXPECT_EQ(app->selected(), ids[0]);
}

TEST_F(InputTest, ArrowsScrollTheSelectedRowIntoView) {
  std::vector<doc::ConnectionProfile> many;
  for (int i = 0; i < 30; ++i) many.push_back(profile("host " + std::string(i < 10 ? "0" : "") + std::to_string(i)));
  start(many);
  for (int i = 0; i < 29; ++i) key(named("ArrowDown"));
  EXPECT_EQ(app->selected(), app->visible_profiles().back()->id);
  EXPECT_DOUBLE_EQ(app->list_scroll(), app->max_list_scroll());
  EXPECT_GT(app->list_scroll(), 0);
  for (int i = 0; i < 29; ++i) key(named("ArrowUp"));
  EXPECT_DOUBLE_EQ(app->list_scroll(), 0);
}

TEST_F(InputTest, WheelScrollsAndClampsAtTheLastRow) {
  std::vector<doc::ConnectionProfile> many;
  for (int i = 0; i < 20; ++i) many.push_back(profile("host " + std::to_string(i)));
  start(many);
  window->send(kivo::ui::Wheel{kivo::ui::Wheel::Unit::Line, 0, -1});
  EXPECT_DOUBLE_EQ(app->list_scroll(), 48);
  window->send(kivo::ui::Wheel{kivo::ui::Wheel::Unit::Pixel, 0, -30});
  EXPECT_DOUBLE_EQ(app->list_scroll(), 78);
  window->send(kivo::ui::Wheel{kivo::ui::Wheel::Unit::Line, 0, -1000});
  window->paint();
  const double max = app->max_list_scroll();
  EXPECT_DOUBLE_EQ(app->list_scroll(), max);
  // The last row's bottom then sits at the list's bottom: 20 rows of 72 and 19 gaps of 8.
  const auto& regions = app->hit_regions();
  double last_bottom = 0;
  for (const auto& r : regions) {
    if (r.message && std::holds_alternative<msg::Select>(*r.message)) last_bottom = std::max(last_bottom, r.rect.bottom());
  }
  EXPECT_DOUBLE_EQ(last_bottom, 800);
  window->send(kivo::ui::Wheel{kivo::ui::Wheel::Unit::Line, 0, 1000});
  EXPECT_DOUBLE_EQ(app->list_scroll(), 0);
}

TEST_F(InputTest, EnterAndEscapeDependOnTheScreen) {
  start({profile("a")});
  key(named("Escape"));
  EXPECT_TRUE(std::holds_alternative<screen::List>(app->screen()));
  key(typed("/"));
  key(typed("z"));
  EXPECT_EQ(app->search_text(), "z");
  key(named("Escape"));
  EXPECT_EQ(app->search_text(), "");
  EXPECT_FALSE(app->focused_field());
  EXPECT_EQ(app->input(kSearchField).text(), "");
  key(control("n"));
  key(named("Escape"));
  EXPECT_TRUE(std::holds_alternative<screen::List>(app->screen()));
  key(control("n"));
  key(named("Enter"));  // an empty form: the save is refused and shows why
  EXPECT_TRUE(app->problem_visibility().save_attempted);
}

TEST_F(InputTest, TypingASearchThatHidesTheSelectionMovesItToWhatIsShown) {
  start({profile("alpha"), profile("beta")});
  key(named("ArrowDown"));
  ASSERT_EQ(app->find_profile(*app->selected())->name, "beta");
  key(typed("/"));
  key(typed("a"));
  key(typed("l"));
  ASSERT_EQ(visible_names(), (std::vector<std::string>{"alpha"}));
  EXPECT_EQ(app->find_profile(*app->selected())->name, "alpha");
  // Nothing matches: nothing is selected, so Enter asks to connect to nothing.
  key(typed("x"));
  EXPECT_FALSE(app->selected());
  key(named("Enter"));
  EXPECT_FALSE(app->confirmation_pending());
}

TEST_F(InputTest, OpeningANewFormShowsNoProblemsBeforeAnyFieldIsLeft) {
  start({profile("a")});
  key(control("n"));
  key(control("n"));
  EXPECT_FALSE(app->problem_visibility().name_touched);
}

TEST_F(InputTest, SlashFocusesTheSearchOnceAndIsTypedAfterwards) {
  start({profile("a")});
  key(typed("/"));
  EXPECT_EQ(app->focused_field(), kSearchField);
  EXPECT_EQ(app->search_text(), "");
  key(typed("/"));
  EXPECT_EQ(app->search_text(), "/");
}

TEST_F(InputTest, PortFieldDropsLettersAndKeepsTheCaretAtTheEnd) {
  start({});
  key(control("n"));
  click(window->frame().width_px() / 2.0, 0);  // nothing there: blurs
  app->update(msg::FocusField{kPortField}, document);
  app->set_field_text(kPortField, "");
  for (const char* c : {"2", "x", "2", " ", "0"}) key(typed(c));
  EXPECT_EQ(app->form().port, "220");
  EXPECT_EQ(app->input(kPortField).text(), "220");
  EXPECT_EQ(app->input(kPortField).cursor_pos(), 3u);
}

TEST_F(InputTest, ClicksSelectToggleFavouritesAndBlurOnEmptySpace) {
  start({profile("a"), profile("b")});
  const auto b = app->visible_profiles()[1]->id;
  const auto row = centre_of<msg::Select>([&](const msg::Select& m) { return m.id == b; });
  click(row.x - 300, row.y);
  EXPECT_EQ(app->selected(), b);
  const auto star = centre_of<msg::ToggleFavorite>([&](const msg::ToggleFavorite& m) { return m.id == b; });
  click(star.x, star.y);
  EXPECT_TRUE(app->find_profile(b)->favorite);
  EXPECT_TRUE(doc::read_profiles(document)[0].favorite || doc::read_profiles(document)[1].favorite);
  const auto search = centre_of<msg::FocusField>();
  click(search.x, search.y);
  EXPECT_EQ(app->focused_field(), kSearchField);
  click(640, 790);  // below the rows: empty space
  EXPECT_FALSE(app->focused_field());
}

TEST_F(InputTest, NarrowFlapClosesOnAPressOutsideItsStrip) {
  start({profile("a")}, 600, 800);
  EXPECT_TRUE(app->narrow());
  const auto toggle = centre_of<msg::ToggleNavigation>();
  click(toggle.x, toggle.y);
  EXPECT_TRUE(app->flap_target_open());
  const auto selected = app->selected();
  click(400, 400);  // on a row, but outside the rail: only closes the flap
  EXPECT_FALSE(app->flap_target_open());
  EXPECT_EQ(app->selected(), selected);
  click(toggle.x, toggle.y);
  key(named("Escape"));
  EXPECT_FALSE(app->flap_target_open());
}

TEST_F(InputTest, TooltipsAppearAfterTheDelayAndNameTheControl) {
  start({profile("a", true)});
  const auto star = centre_of<msg::ToggleFavorite>();
  window->send(kivo::ui::PointerMoved{star});
  EXPECT_TRUE(app->wants_frame());
  window->advance(std::chrono::milliseconds(300));
  window->paint();
  EXPECT_FALSE(app->tooltips().visible());
  window->advance(std::chrono::milliseconds(300));
  window->paint();
  ASSERT_TRUE(app->tooltips().visible());
  EXPECT_EQ(app->tooltips().text(), "Remove from favourites");
  key(typed("x"));  // any other event dismisses it
  EXPECT_FALSE(app->tooltips().visible());
  const auto add = centre_of<msg::OpenNewForm>();
  window->send(kivo::ui::PointerMoved{add});
  EXPECT_EQ(app->tooltips().text(), "Add connection (Ctrl+N)");
}

TEST_F(InputTest, SemanticActionsByElementId) {
  start({profile("alpha"), profile("beta")});
  const auto beta = app->visible_profiles()[1]->id;
  const std::string prefix = "remote.connection:" + beta.to_string();
  EXPECT_TRUE(window->semantic_action(prefix + ":select", {SemanticActionKind::Focus}));
  EXPECT_EQ(app->selected(), beta);
  EXPECT_TRUE(window->semantic_action(prefix + ":favorite", {SemanticActionKind::Toggle}));
  EXPECT_TRUE(app->find_profile(beta)->favorite);
  EXPECT_FALSE(window->semantic_action(prefix + ":favorite", {SemanticActionKind::ScrollIntoView}));
  EXPECT_FALSE(window->semantic_action(prefix + ":edit", {SemanticActionKind::Toggle}));
  EXPECT_TRUE(window->semantic_action(prefix + ":edit", {SemanticActionKind::Primary}));
  EXPECT_EQ(app->screen(), Screen{screen::Form{FormEdit{beta}}});
  EXPECT_TRUE(window->semantic_action("remote.kind:Kivo", {SemanticActionKind::Toggle}));
  EXPECT_EQ(app->form().kind, doc::ConnectionKind::Kivo);
  EXPECT_FALSE(window->semantic_action("remote.auth:password", {SemanticActionKind::Primary}));  // not for Kivo
  EXPECT_TRUE(window->semantic_action("remote.kind:anything", {SemanticActionKind::Primary}));
  EXPECT_EQ(app->form().kind, doc::ConnectionKind::Ssh);
  EXPECT_TRUE(window->semantic_action("remote.auth:public-key", {SemanticActionKind::Primary}));
  EXPECT_EQ(app->form().auth, doc::ConnectionAuth::PublicKey);
  EXPECT_TRUE(window->semantic_action("remote.field:port", {SemanticActionKind::SetValue, "80a80"}));
  EXPECT_EQ(app->form().port, "8080");
  EXPECT_EQ(app->focused_field(), kPortField);
  EXPECT_TRUE(window->semantic_action("remote.form.cancel", {SemanticActionKind::Primary}));
  EXPECT_TRUE(window->semantic_action("remote.field:search", {SemanticActionKind::SetValue, "beta"}));
  EXPECT_EQ(app->selected(), beta);
  EXPECT_DOUBLE_EQ(app->list_scroll(), 0);
  EXPECT_TRUE(window->semantic_action("remote.field:search", {SemanticActionKind::SetValue, "nothing"}));
  EXPECT_FALSE(app->selected());
  for (const char* unknown : {"remote.field:password", "remote.connection:not-a-uuid:select", "remote.nope",
                              "remote.device:x", "remote.device:"}) {
    EXPECT_FALSE(window->semantic_action(unknown, {SemanticActionKind::Primary})) << unknown;
  }
}

TEST_F(InputTest, AccessTreeNamesRowsAndControls) {
  auto ssh = profile("Build Box", true);
  ssh.user = "admin";
  ssh.port = 2222;
  ssh.last_used = "12m ago";
  start({ssh});
  ::unsetenv("REMOTE_LIVE_SESSIONS");
  window->paint();
  const auto& tree = window->access_tree();
  EXPECT_EQ(tree.label, "Remote");
  const auto id = "remote.connection:" + ssh.id.to_string();
  const auto* select = tree.find(id + ":select");
  ASSERT_NE(select, nullptr);
  EXPECT_EQ(select->label, "Build Box, SSH, admin@example.net:2222, needs access, last used 12m ago");
  EXPECT_EQ(tree.find(id + ":favorite")->label, "Remove from favourites");
  EXPECT_EQ(tree.find(id + ":connect"), nullptr);
  EXPECT_EQ(tree.find("remote.field:search")->description, "Shortcut: slash or Control F");
  EXPECT_EQ(tree.find("remote.nav")->label, "Remote navigation");
  EXPECT_EQ(tree.find("remote.list")->label, "Saved connections");
  ::setenv("REMOTE_LIVE_SESSIONS", "", 1);
  window->paint();
  EXPECT_EQ(window->access_tree().find(id + ":connect")->label, "Connect");
  ::unsetenv("REMOTE_LIVE_SESSIONS");
}

}  // namespace
}  // namespace remote::app
