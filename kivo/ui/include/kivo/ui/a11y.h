#pragma once
// The accessibility tree an application exposes after each paint, and the semantic
// actions assistive clients and automation can perform on its elements.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kivo/ui/event.h"

namespace kivo::ui::a11y {

enum class Role { Window, Group, Heading, List, ListItem, Button, ToggleButton, TextField, Text, Status, Image, Dialog };

enum class SemanticActionKind { Primary, Focus, Toggle, SetValue, ScrollIntoView };

struct SemanticAction {
  SemanticActionKind kind = SemanticActionKind::Primary;
  std::string value;  // SetValue only
};

struct AccessNode {
  std::string id;
  Role role = Role::Group;
  std::string label;
  std::string value;
  std::string description;
  bool selected = false;
  bool focused = false;
  std::vector<SemanticActionKind> actions;  // what the element accepts
  std::optional<Rect> bounds;               // where it was drawn, in logical pixels
  std::vector<AccessNode> children;

  AccessNode with_children(std::vector<AccessNode> nodes) && {
    children = std::move(nodes);
    return std::move(*this);
  }
  AccessNode& push(AccessNode child) {
    children.push_back(std::move(child));
    return *this;
  }
  // Depth-first search by id; null when absent.
  const AccessNode* find(std::string_view wanted) const;
};

// An element with the fields nearly every one has; callers fill in the rest.
AccessNode node(std::string id, Role role, std::string label, std::vector<SemanticActionKind> actions = {});

std::string_view role_name(Role role);
std::string_view action_name(SemanticActionKind kind);

}  // namespace kivo::ui::a11y

namespace kivo::ui::widget {

struct SemanticActionBinding {
  std::string id;
  std::vector<a11y::SemanticActionKind> actions;
};

// Every element of the tree that accepts a semantic action, in tree order.
std::vector<SemanticActionBinding> semantic_action_bindings(const a11y::AccessNode& root);

}  // namespace kivo::ui::widget
