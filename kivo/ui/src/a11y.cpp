#include "kivo/ui/a11y.h"

namespace kivo::ui::a11y {

const AccessNode* AccessNode::find(std::string_view wanted) const {
  if (id == wanted) return this;
  for (const auto& child : children) {
    if (const AccessNode* hit = child.find(wanted)) return hit;
  }
  return nullptr;
}

AccessNode node(std::string id, Role role, std::string label, std::vector<SemanticActionKind> actions) {
  AccessNode n;
  n.id = std::move(id);
  n.role = role;
  n.label = std::move(label);
  n.actions = std::move(actions);
  return n;
}

std::string_view role_name(Role role) {
  switch (role) {
    case Role::Window: return "window";
    case Role::Group: return "group";
    case Role::Heading: return "heading";
    case Role::List: return "list";
    case Role::ListItem: return "list-item";
    case Role::Button: return "button";
    case Role::ToggleButton: return "toggle-button";
    case Role::TextField: return "text-field";
    case Role::Text: return "text";
    case Role::Status: return "status";
    case Role::Image: return "image";
    case Role::Dialog: return "dialog";
  }
  return "group";
}

std::string_view action_name(SemanticActionKind kind) {
  switch (kind) {
    case SemanticActionKind::Primary: return "primary";
    case SemanticActionKind::Focus: return "focus";
    case SemanticActionKind::Toggle: return "toggle";
    case SemanticActionKind::SetValue: return "set-value";
    case SemanticActionKind::ScrollIntoView: return "scroll";
  }
  return "primary";
}

}  // namespace kivo::ui::a11y

namespace kivo::ui::widget {
namespace {

void collect(const a11y::AccessNode& node, std::vector<SemanticActionBinding>& out) {
  if (!node.actions.empty() && !node.id.empty()) out.push_back({node.id, node.actions});
  for (const auto& child : node.children) collect(child, out);
}

}  // namespace

std::vector<SemanticActionBinding> semantic_action_bindings(const a11y::AccessNode& root) {
  std::vector<SemanticActionBinding> out;
  collect(root, out);
  return out;
}

}  // namespace kivo::ui::widget
