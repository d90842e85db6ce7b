// The accessibility tree: what assistive clients and automation read, with the
// semantic actions each element accepts.

#include "app/presentation.h"
#include "app/remote_app.h"
#include "doc/availability.h"

namespace remote::app {
namespace {

using kivo::ui::a11y::AccessNode;
using kivo::ui::a11y::node;
using kivo::ui::a11y::Role;
using Kind = kivo::ui::a11y::SemanticActionKind;

}  // namespace

AccessNode RemoteApp::navigation_access() const {
  AccessNode group = node("remote.nav", Role::Group, "Remote navigation");
  if (narrow_) {
    AccessNode toggle = node("remote.nav.toggle", Role::ToggleButton,
                             flap_target_open() ? "Close navigation" : "Open navigation", {Kind::Primary, Kind::Toggle});
    toggle.description = "Show Connections and Add connection";
    toggle.selected = flap_target_open();
    group.push(std::move(toggle));
  }
  AccessNode list = node("remote.nav.list", Role::Button, "Connections", {Kind::Primary});
  list.selected = std::holds_alternative<screen::List>(screen_);
  group.push(std::move(list));
  group.push(node("remote.connection.new", Role::Button, "Add connection", {Kind::Primary}));
  return group;
}

AccessNode RemoteApp::list_access() const {
  AccessNode screen = node("remote.screen.list", Role::Group, "Connections");
  screen.push(node("remote.list.heading", Role::Heading, "Remote Machines"));
  AccessNode search = node("remote.field:search", Role::TextField, "Search saved connections",
                           {Kind::Focus, Kind::Primary, Kind::SetValue});
  search.value = search_;
  search.description = "Shortcut: slash or Control F";
  search.focused = focused_field_ == kSearchField;
  screen.push(std::move(search));

  AccessNode list = node("remote.list", Role::List, "Saved connections");
  const auto& visible = visible_profiles();
  for (const auto* p : visible) {
    const std::string id = "remote.connection:" + p->id.to_string();
    const auto availability = doc::availability(*p);
    AccessNode row = node(id, Role::ListItem, p->name, {Kind::ScrollIntoView});
    row.selected = selected_ == p->id;
    AccessNode select = node(id + ":select", Role::Button,
                             p->name + ", " + std::string(doc::display_label(p->kind)) + ", " + target_text(*p) +
                                 ", " + availability_state(availability) + ", last used " + p->last_used,
                             {Kind::Primary, Kind::Focus});
    select.selected = row.selected;
    row.push(std::move(select));
    AccessNode favorite = node(id + ":favorite", Role::ToggleButton,
                               p->favorite ? "Remove from favourites" : "Add to favourites",
                               {Kind::Primary, Kind::Toggle});
    favorite.selected = p->favorite;
    row.push(std::move(favorite));
    if (availability == doc::TransportAvailability::Ready) {
      row.push(node(id + ":connect", Role::Button, "Connect", {Kind::Primary}));
    } else {
      AccessNode reason = node(id + ":availability", Role::Status, std::string(*doc::short_label(availability)));
      reason.description = doc::availability_reason(*p, availability);
      row.push(std::move(reason));
    }
    row.push(node(id + ":edit", Role::Button, "Edit connection", {Kind::Primary}));
    list.push(std::move(row));
  }
  screen.push(std::move(list));
  if (visible.empty()) {
    screen.push(node("remote.list.empty", Role::Text,
                     profiles_.empty() ? "No machines yet. Add a connection to reach it over SSH, VNC, or the Kivo relay."
                                       : "No machines match your search."));
  }
  return screen;
}

namespace {

void attach_bounds(AccessNode& n, const std::map<std::string, kivo::ui::Rect, std::less<>>& bounds) {
  if (const auto it = bounds.find(n.id); it != bounds.end()) n.bounds = it->second;
  for (auto& child : n.children) attach_bounds(child, bounds);
}

}  // namespace

AccessNode RemoteApp::access_tree() const {
  AccessNode root = node("remote", Role::Window, "Remote");
  root.bounds = bounds_;
  if (!fullscreen_) root.push(navigation_access());
  if (std::holds_alternative<screen::List>(screen_)) root.push(list_access());
  if (std::holds_alternative<screen::Form>(screen_)) root.push(form_access());
  if (std::holds_alternative<screen::Session>(screen_)) root.push(session_access());
  add_overlay_access(root);
  if (tooltips_.visible() && tooltips_.text() && !confirmation_pending()) {
    AccessNode tip = node("remote.tooltip", Role::Text, *tooltips_.text());
    tip.bounds = kivo::ui::Rect{tooltips_.anchor().x, tooltips_.anchor().y, 0, 0};
    root.push(std::move(tip));
  }
  attach_bounds(root, element_bounds_);
  return root;
}

}  // namespace remote::app
