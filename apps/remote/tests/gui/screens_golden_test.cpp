// The connection form and the session screen rendered offscreen and compared with
// reviewed images, plus what those screens offer to pointer and accessibility input.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <functional>
#include <set>

#include "app/remote_app.h"
#include "fixtures.h"
#include "golden.h"
#include "kivo/testing/scoped_env.h"
#include "kivo/doc/document.h"
#include "kivo/ui/offscreen.h"
#include "ssh/known_hosts.h"
#include "vt/terminal_screen.h"

namespace remote::test {
namespace {

using app::RemoteApp;
using kivo::ui::a11y::SemanticActionKind;
using kivo::ui::offscreen::OffscreenWindow;
namespace msg = app::msg;

const doc::ConnectionProfile& fixture(std::size_t index) {
  static const auto profiles = fixture_profiles();
  return profiles.at(index);
}
const doc::ConnectionProfile& build_box() { return fixture(0); }
const doc::ConnectionProfile& office_nas() { return fixture(2); }
const doc::ConnectionProfile& win_workstation() { return fixture(3); }
const doc::ConnectionProfile& render_farm() { return fixture(8); }

std::vector<app::DiscoveredDevice> fixture_devices() {
  return {
      {"Studio Node", endpoint(1), true},
      {"Workshop Laptop", endpoint(2), true},
      {"Field tablet in the north warehouse loading bay", endpoint(3), false},
  };
}

const ssh::HostKeyIdentity kObservedKey{"ssh-ed25519", "SHA256:Xq3vPp0dU2n8k1J7cRw4mF9sLhT6yB5eAaZ0oQiN3gE"};
const ssh::HostKeyIdentity kPinnedKey{"ssh-ed25519", "SHA256:7bWk2TtLrV9mC4pQ1xZ8nH6sJ3fD5gY0eRaUoIiK2lM"};

// Longer than the card has room for: it is cut there, and read whole from the tree.
const std::string kLongFailure =
    "connect: could not reach render-controller.internal.example.net:22 (10.44.0.17): No route to host after "
    "three attempts of 10 s each; the last resolver answer came from 10.44.0.2 and was cached for 300 s, so a "
    "changed address is not picked up until the cache entry expires or the resolver is restarted by hand";

session::Preview failed_with(ssh::HostKeyCheck check) {
  const auto& p = build_box();
  return session::Preview{session::Failed{ssh::host_key_message(check, p.host, p.port)}, std::nullopt,
                          std::move(check)};
}

// A shell session with prompts, coloured listings, a service status and log lines.
vt::TerminalScreen shell_screen() {
  vt::TerminalScreen screen(80, 24);
  const std::string prompt = "\x1b[1;32madmin@build\x1b[0m:\x1b[1;34m~\x1b[0m$ ";
  screen.feed(
      "Linux build 6.1.0-18-amd64 #1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1 x86_64\r\n"
      "Last login: Tue Mar  4 09:12:44 2025 from 10.0.0.5\r\n" +
      prompt +
      "uptime\r\n"
      " 09:14:02 up 41 days,  3:07,  2 users,  load average: 0.42, 0.51, 0.48\r\n" +
      prompt +
      "ls /srv\r\n"
      "\x1b[1;34mbackups\x1b[0m  \x1b[1;34mbuilds\x1b[0m  \x1b[1;32mdeploy.sh\x1b[0m  \x1b[1;34mlogs\x1b[0m  "
      "README.txt  \x1b[1;36mcurrent\x1b[0m -> \x1b[1;34mreleases/2025-03-03\x1b[0m\r\n" +
      prompt +
      "systemctl status nginx --no-pager | head -3\r\n"
      "\x1b[32m●\x1b[0m nginx.service - A high performance web server\r\n"
      "     Loaded: loaded (/lib/systemd/system/nginx.service; \x1b[32menabled\x1b[0m)\r\n"
      "     Active: \x1b[1;32mactive (running)\x1b[0m since Mon 2025-01-20 06:02:11 UTC; 6 weeks ago\r\n" +
      prompt +
      "journalctl -p warning -n 3 --no-pager\r\n"
      "\x1b[90mMar 04 08:59:10\x1b[0m build kernel: \x1b[33mWARNING: CPU: 3 PID: 1123 at mm/page_alloc.c\x1b[0m\r\n"
      "\x1b[90mMar 04 09:01:44\x1b[0m build sshd[2231]: \x1b[1;31merror: maximum authentication attempts\x1b[0m\r\n"
      "\x1b[90mMar 04 09:02:05\x1b[0m build systemd[1]: \x1b[96mbackup.timer\x1b[0m: Triggering backup.service\r\n" +
      prompt);
  return screen;
}

struct State {
  std::string name;
  std::vector<app::DiscoveredDevice> devices;
  std::function<void(RemoteApp&, OffscreenWindow&, kivo::doc::Document&)> setup;
};

void hover(OffscreenWindow& window, double x, double y) { window.send(kivo::ui::PointerMoved{{x, y}}); }

// The centre of the last painted region carrying a message of type M.
template <class M>
std::optional<kivo::ui::Point> region_centre(const RemoteApp& app) {
  const auto& regions = app.hit_regions();
  for (auto it = regions.rbegin(); it != regions.rend(); ++it) {
    if (it->message && std::holds_alternative<M>(*it->message)) {
      return kivo::ui::Point{it->rect.x + it->rect.w / 2, it->rect.y + it->rect.h / 2};
    }
  }
  return std::nullopt;
}

template <class M>
void hover_region(RemoteApp& app, OffscreenWindow& window) {
  window.paint();
  const auto centre = region_centre<M>(app);
  ASSERT_TRUE(centre.has_value());
  hover(window, centre->x, centre->y);
}

const State kStates[] = {
    {"form-new", {},
     [](RemoteApp& app, auto& window, auto& doc) {
       app.update(msg::OpenNewForm{}, doc);
       hover_region<msg::SaveForm>(app, window);
     }},
    {"form-kivo-devices", fixture_devices(),
     [](RemoteApp& app, auto& window, auto& doc) {
       app.update(msg::OpenNewForm{}, doc);
       app.update(msg::PickDevice{0}, doc);
       window.paint();
       // Over the second device's row.
       const auto& regions = app.hit_regions();
       const auto second = std::find_if(regions.begin(), regions.end(), [](const app::HitRegion& r) {
         return r.message == app::AppMessage(msg::PickDevice{1});
       });
       ASSERT_NE(second, regions.end());
       hover(window, second->rect.x + 40, second->rect.y + 10);
     }},
    {"form-edit-rdp", {},
     [](RemoteApp& app, auto& window, auto& doc) {
       app.update(msg::OpenEditForm{win_workstation().id}, doc);
       hover_region<msg::RequestDelete>(app, window);
     }},
    {"form-problems", {},
     [](RemoteApp& app, auto& window, auto& doc) {
       app.update(msg::OpenNewForm{}, doc);
       app.set_field_text(app::kPortField, "0");
       app.update(msg::SetAuth{doc::ConnectionAuth::DeviceIdentity}, doc);
       app.update(msg::SaveForm{}, doc);
       (void)window;
     }},
    {"form-vnc-filled", {},
     [](RemoteApp& app, auto&, auto& doc) {
       app.update(msg::OpenEditForm{office_nas().id}, doc);
       app.update(msg::FocusField{app::kHostField}, doc);
     }},
    {"session-connecting", {},
     [](RemoteApp& app, auto&, auto&) {
       app.show_preview(build_box().id, session::Preview{session::Connecting{}, std::nullopt, std::nullopt});
     }},
    {"session-failed-retry", {},
     [](RemoteApp& app, auto& window, auto&) {
       app.show_preview(render_farm().id,
                        session::Preview{session::Failed{kLongFailure}, std::nullopt, std::nullopt});
       hover_region<msg::RequestConnect>(app, window);
     }},
    {"session-failed-trust", {},
     [](RemoteApp& app, auto&, auto&) { app.show_preview(build_box().id, failed_with(ssh::NeedsTrust{kObservedKey})); }},
    {"session-failed-changed", {},
     [](RemoteApp& app, auto&, auto&) {
       app.show_preview(build_box().id, failed_with(ssh::Changed{kPinnedKey, kObservedKey}));
     }},
    {"session-unavailable-rdp", {},
     [](RemoteApp& app, auto&, auto&) { app.start_session(win_workstation().id); }},
    {"session-ended", {},
     [](RemoteApp& app, auto& window, auto&) {
       app.show_preview(office_nas().id, session::Preview{session::Ended{}, std::nullopt, std::nullopt});
       hover_region<msg::Disconnect>(app, window);
     }},
    {"session-connected", {},
     [](RemoteApp& app, auto& window, auto&) {
       app.show_preview(build_box().id, session::Preview{session::Connected{}, shell_screen(), std::nullopt});
       hover_region<msg::Disconnect>(app, window);
     }},
    {"session-connected-fullscreen", {},
     [](RemoteApp& app, auto&, auto& doc) {
       app.show_preview(build_box().id, session::Preview{session::Connected{}, shell_screen(), std::nullopt});
       app.update(msg::ToggleFullscreen{}, doc);
     }},
    {"sheet-connect", {},
     [](RemoteApp& app, auto&, auto& doc) { app.update(msg::RequestConnect{build_box().id}, doc); }},
    {"sheet-delete", {},
     [](RemoteApp& app, auto&, auto& doc) {
       app.update(msg::OpenEditForm{win_workstation().id}, doc);
       app.update(msg::RequestDelete{win_workstation().id}, doc);
     }},
    {"sheet-trust", {},
     [](RemoteApp& app, auto&, auto& doc) {
       app.show_preview(build_box().id, failed_with(ssh::NeedsTrust{kObservedKey}));
       app.update(msg::RequestTrustHostKey{build_box().id}, doc);
     }},
    {"sheet-forget", {},
     [](RemoteApp& app, auto&, auto& doc) {
       app.show_preview(build_box().id, failed_with(ssh::Changed{kPinnedKey, kObservedKey}));
       app.update(msg::RequestForgetHostKey{build_box().id}, doc);
     }},
    {"notice-cancelled", {},
     [](RemoteApp& app, auto&, auto& doc) {
       app.show_preview(build_box().id, failed_with(ssh::NeedsTrust{kObservedKey}));
       app.update(msg::RequestTrustHostKey{build_box().id}, doc);
       app.update(msg::CancelPending{}, doc);
     }},
};

struct Render {
  const State* state;
  int width;
  std::string name;
};

std::vector<Render> renders() {
  std::vector<Render> out;
  for (const auto& state : kStates) {
    out.push_back({&state, 1280, state.name});
    out.push_back({&state, 600, state.name + "-narrow"});
  }
  return out;
}


struct Rig {
  explicit Rig(const State& state, int width = 1280)
      : app(fixture_profiles(), state.devices), window(app, width, 800) {
    app.set_reduced_motion(true);
    window.set_document(&document);
    window.paint();
    if (state.setup) state.setup(app, window, document);
    window.paint();
  }
  // SSH and VNC count as granted, so the connect sheet can open.
  kivo::testing::ScopedEnv granted{"REMOTE_LIVE_SESSIONS", ""};
  RemoteApp app;
  kivo::doc::Document document;
  OffscreenWindow window;
};

const State& state_named(std::string_view name) {
  for (const auto& state : kStates) {
    if (state.name == name) return state;
  }
  ADD_FAILURE() << "no state " << name;
  return kStates[0];
}

class ScreensGoldenTest : public ::testing::TestWithParam<Render> {};

TEST_P(ScreensGoldenTest, MatchesTheReviewedImage) {
  const Render& r = GetParam();
  Rig rig(*r.state, r.width);
  expect_matches_golden(rig.window.frame(), r.name);
}

INSTANTIATE_TEST_SUITE_P(Screens, ScreensGoldenTest, ::testing::ValuesIn(renders()), [](const auto& info) {
  std::string name = info.param.name;
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
});

// Which of the session screen's messages the last paint offers, by name.
std::set<std::string> session_buttons(const RemoteApp& app) {
  std::set<std::string> out;
  for (const auto& region : app.hit_regions()) {
    if (!region.message) continue;
    const auto& m = *region.message;
    if (std::holds_alternative<msg::RequestConnect>(m)) out.insert("retry");
    if (std::holds_alternative<msg::RequestTrustHostKey>(m)) out.insert("trust");
    if (std::holds_alternative<msg::RequestForgetHostKey>(m)) out.insert("forget");
    if (std::holds_alternative<msg::OpenEditForm>(m)) out.insert("edit");
    if (std::holds_alternative<msg::Disconnect>(m)) out.insert("back");
  }
  return out;
}

TEST(SessionScreenTest, EachStatusOffersItsButtonsAndTheTreeNamesThem) {
  struct Case {
    std::string_view state;
    std::set<std::string> buttons;
    std::string status;  // how the label begins
    std::vector<std::string> ids;  // besides heading and status
  };
  const std::string id = "remote.connection:" + build_box().id.to_string();
  const std::string rdp = "remote.connection:" + win_workstation().id.to_string();
  const std::string farm = "remote.connection:" + render_farm().id.to_string();
  const Case cases[] = {
      {"session-connecting", {"back"}, "Connecting", {"remote.session.disconnect"}},
      {"session-ended", {"back"}, "Session ended", {"remote.session.disconnect"}},
      {"session-failed-retry", {"retry", "back"}, "Connection failed: " + kLongFailure, {farm + ":connect"}},
      {"session-failed-trust", {"trust", "back"}, "Connection failed: SSH host key for build.example.net:22 needs", {}},
      {"session-failed-changed", {"forget", "back"}, "Connection failed: SSH host key changed", {}},
      {"session-unavailable-rdp", {"edit", "back"}, "Not available: ", {rdp + ":edit"}},
      {"session-connected", {"back"}, "Connected", {"remote.session.surface"}},
      {"session-connected-fullscreen", {}, "Connected", {"remote.session.surface"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.state));
    Rig rig(state_named(c.state));
    EXPECT_EQ(session_buttons(rig.app), c.buttons);
    const auto& tree = rig.window.access_tree();
    const auto* status = tree.find("remote.session.status");
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(status->label.starts_with(c.status)) << status->label;
    for (const auto& wanted : c.ids) EXPECT_NE(tree.find(wanted), nullptr) << wanted;
    // Retry is replaced by the key button, never shown beside it.
    if (!c.buttons.contains("retry")) {
      EXPECT_EQ(tree.find(id + ":connect"), nullptr);
      EXPECT_EQ(tree.find(farm + ":connect"), nullptr);
    }
    const auto* back = tree.find("remote.session.disconnect");
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->label, c.status == "Connected" ? "Disconnect" : "Back to list");
  }
}

TEST(SessionScreenTest, TheSurfaceReadsWhatTheTerminalShows) {
  struct Case {
    std::string_view name;
    std::string output;
    std::string value;
    std::string cursor;
  };
  const Case cases[] = {
      {"empty terminal", "", "", "cursor 0,0"},
      {"colours and bold do not reach the text, trailing blanks and rows do not either",
       "\x1b[1;32muser@host\x1b[0m:~$ ls   \r\n\x1b[34mdir\x1b[0m  file\r\n\r\n", "user@host:~$ ls\ndir  file",
       "cursor 0,3"},
      {"blank rows between content stay, multi-byte characters are kept", "a\r\n\r\n\r\n  ● é ─", "a\n\n\n  ● é ─",
       "cursor 7,3"},
      {"a full row leaves the cursor past its last column", std::string(80, 'x'), std::string(80, 'x'),
       "cursor 80,0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name));
    vt::TerminalScreen screen(80, 24);
    screen.feed(c.output);
    State state{"terminal", {}, [&](RemoteApp& app, auto&, auto&) {
                  app.show_preview(build_box().id, session::Preview{session::Connected{}, screen, std::nullopt});
                }};
    Rig rig(state);
    const auto* surface = rig.window.access_tree().find("remote.session.surface");
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->label, "Interactive SSH terminal");
    EXPECT_EQ(surface->value, c.value);
    EXPECT_TRUE(surface->description.starts_with("Keyboard and pointer input are sent to the remote machine"));
    EXPECT_TRUE(surface->description.ends_with(" · " + c.cursor)) << surface->description;
  }
}

TEST(SessionScreenTest, AVanishedProfileLeavesOnlyItsNotice) {
  State state{"gone", {}, [](RemoteApp& app, auto&, auto& doc) {
                app.show_preview(win_workstation().id, session::Preview{session::Failed{"x"}, std::nullopt, std::nullopt});
                app.update(msg::RequestDelete{win_workstation().id}, doc);
                app.update(msg::ConfirmPending{}, doc);
              }};
  Rig rig(state);
  ASSERT_TRUE(std::holds_alternative<app::screen::Session>(rig.app.screen()));
  EXPECT_TRUE(session_buttons(rig.app).empty());
  const auto& tree = rig.window.access_tree();
  EXPECT_EQ(tree.find("remote.session.heading")->label, "Remote session");
  EXPECT_EQ(tree.find("remote.session.status")->label, "Connection no longer exists.");
}

// Pixels close to the theme's danger colour.
long danger_pixels(const kivo::ui::FrameBuffer& frame) {
  long count = 0;
  for (int y = 0; y < frame.height_px(); ++y) {
    for (int x = 0; x < frame.width_px(); ++x) {
      const std::uint32_t p = frame.pixel(x, y);
      const int r = static_cast<int>((p >> 16) & 0xff);
      const int g = static_cast<int>((p >> 8) & 0xff);
      const int b = static_cast<int>(p & 0xff);
      if (std::abs(r - 0xf0) < 40 && std::abs(g - 0x61) < 40 && std::abs(b - 0x6d) < 40) ++count;
    }
  }
  return count;
}

TEST(FormScreenTest, ProblemsReplaceTheHintInTheDangerColour) {
  struct Case {
    std::string_view name;
    std::function<void(RemoteApp&, kivo::doc::Document&)> act;
    std::string problems;  // the tree's value
    bool danger;
  };
  const Case cases[] = {
      {"untouched new form hints", [](RemoteApp&, auto&) {}, "", false},
      {"leaving the empty name shows its problem before any save",
       [](RemoteApp& app, auto& doc) { app.update(msg::FocusField{app::kHostField}, doc); }, "Name is required",
       true},
      {"a failed save shows every problem",
       [](RemoteApp& app, auto& doc) {
         app.update(msg::SetAuth{doc::ConnectionAuth::DeviceIdentity}, doc);
         app.update(msg::SaveForm{}, doc);
       },
       "Name is required. Host is required. SSH profiles support password or public-key authentication.", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name));
    State state{"form", {}, [&](RemoteApp& app, auto&, auto& doc) {
                  app.update(msg::OpenNewForm{}, doc);
                  c.act(app, doc);
                }};
    Rig rig(state);
    const auto* problems = rig.window.access_tree().find("remote.form.problems");
    ASSERT_NE(problems, nullptr);
    EXPECT_EQ(problems->value, c.problems);
    // A new form has no Delete button, so red pixels can only come from the problems.
    EXPECT_EQ(danger_pixels(rig.window.frame()) > 40, c.danger);
  }
}

TEST(FormScreenTest, EachKindShowsItsControls) {
  struct Case {
    std::string_view name;
    std::function<void(RemoteApp&, kivo::doc::Document&)> open;
    std::vector<std::string> present;
    std::vector<std::string> absent;
  };
  const std::string rdp_delete = "remote.connection:" + win_workstation().id.to_string() + ":delete";
  const Case cases[] = {
      {"new SSH",
       [](RemoteApp& app, auto& doc) { app.update(msg::OpenNewForm{}, doc); },
       {"remote.kind:SSH", "remote.field:name", "remote.field:host", "remote.field:port", "remote.field:user",
        "remote.field:group", "remote.auth:password", "remote.auth:public-key", "remote.form.save",
        "remote.form.cancel"},
       {"remote.auth:device-identity", "remote.form.devices", "remote.form.legacy-rdp", rdp_delete}},
      {"VNC",
       [](RemoteApp& app, auto& doc) {
         app.update(msg::OpenNewForm{}, doc);
         app.update(msg::SetKind{doc::ConnectionKind::Vnc}, doc);
       },
       {"remote.field:port", "remote.field:group", "remote.auth:password"},
       {"remote.field:user", "remote.auth:public-key", "remote.form.kivo-authentication"}},
      {"Kivo device",
       [](RemoteApp& app, auto& doc) {
         app.update(msg::OpenNewForm{}, doc);
         app.update(msg::SetKind{doc::ConnectionKind::Kivo}, doc);
       },
       {"remote.form.devices", "remote.device:0", "remote.device:2", "remote.form.kivo-authentication",
        "remote.field:host"},
       {"remote.field:port", "remote.field:user", "remote.field:group", "remote.form.authentication"}},
      {"editing RDP",
       [](RemoteApp& app, auto& doc) { app.update(msg::OpenEditForm{win_workstation().id}, doc); },
       {"remote.form.legacy-rdp", rdp_delete, "remote.field:user"},
       {"remote.form.devices"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name));
    State state{"form", fixture_devices(), [&](RemoteApp& app, auto&, auto& doc) { c.open(app, doc); }};
    Rig rig(state);
    const auto& tree = rig.window.access_tree();
    for (const auto& id : c.present) EXPECT_NE(tree.find(id), nullptr) << id;
    for (const auto& id : c.absent) EXPECT_EQ(tree.find(id), nullptr) << id;
  }
  // The kind's segment and a picked device read as selected; RDP selects no segment.
  Rig kivo(state_named("form-kivo-devices"));
  EXPECT_TRUE(kivo.window.access_tree().find("remote.kind:Kivo")->selected);
  EXPECT_TRUE(kivo.window.access_tree().find("remote.device:0")->selected);
  EXPECT_FALSE(kivo.window.access_tree().find("remote.device:1")->selected);
  Rig rdp(state_named("form-edit-rdp"));
  for (const auto* id : {"remote.kind:SSH", "remote.kind:VNC", "remote.kind:Kivo"}) {
    EXPECT_FALSE(rdp.window.access_tree().find(id)->selected) << id;
  }
}

TEST(FormScreenTest, ClicksOnTheControlsChangeTheForm) {
  Rig rig(state_named("form-new"));
  const auto click = [&](const app::AppMessage& message) {
    rig.window.paint();
    const auto& regions = rig.app.hit_regions();
    const auto it = std::find_if(regions.begin(), regions.end(), [&](const auto& r) { return r.message == message; });
    ASSERT_NE(it, regions.end());
    const kivo::ui::Point at{it->rect.x + 3, it->rect.y + 3};  // near a corner: the whole control takes it
    rig.window.send(kivo::ui::PointerButtonEvent{.button = kivo::ui::PointerButton::Primary, .pressed = true,
                                                 .position = at});
  };
  click(msg::SetAuth{doc::ConnectionAuth::PublicKey});
  EXPECT_EQ(rig.app.form().auth, doc::ConnectionAuth::PublicKey);
  click(msg::SetKind{doc::ConnectionKind::Vnc});
  EXPECT_EQ(rig.app.form().kind, doc::ConnectionKind::Vnc);
  EXPECT_EQ(rig.app.form().auth, doc::ConnectionAuth::Password);
  click(msg::FocusField{app::kGroupField});
  EXPECT_EQ(rig.app.focused_field(), app::kGroupField);
  click(msg::CancelForm{});
  EXPECT_TRUE(std::holds_alternative<app::screen::List>(rig.app.screen()));
}

// Every action an element of these screens declares is one the application accepts.
TEST(ScreenAccessTest, DeclaredActionsAreAccepted) {
  for (const auto* name : {"form-new", "form-kivo-devices", "form-edit-rdp", "form-vnc-filled",
                           "session-failed-retry", "session-unavailable-rdp", "session-connected"}) {
    SCOPED_TRACE(name);
    const auto& state = state_named(name);
    const auto bindings = kivo::ui::widget::semantic_action_bindings(Rig(state).window.access_tree());
    for (const auto& binding : bindings) {
      for (const auto kind : binding.actions) {
        Rig fresh(state);
        EXPECT_TRUE(fresh.window.semantic_action(binding.id, {kind, "x"}))
            << binding.id << " " << kivo::ui::a11y::action_name(kind);
      }
    }
  }
}

}  // namespace
}  // namespace remote::test
