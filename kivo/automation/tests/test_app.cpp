#include "test_app.h"

#include <nlohmann/json.hpp>

#include "kivo/actions/resource.h"
#include "kivo/doc/document.h"

namespace kivo::automation::test {
namespace {

using actions::ActionSpec;
using actions::EncodedAction;
using actions::RiskLevel;
using ui::a11y::AccessNode;
using ui::a11y::Role;
using ui::a11y::SemanticActionKind;

class SetName final : public actions::ApplicableAction {
 public:
  explicit SetName(std::string name) : name_(std::move(name)) {}
  std::string debug_description() const override { return "SetName(" + name_ + ")"; }
  std::expected<void, std::string> apply(doc::Document& document) const override {
    auto put = document.put(doc::kRoot, "name", name_);
    if (!put) return std::unexpected(put.error().message);
    return {};
  }
  bool requires_confirmation() const override { return false; }
  bool is_document_edit() const override { return true; }

 private:
  std::string name_;
};

EncodedAction operation(std::string_view name) {
  return {std::string(kOperationType), nlohmann::json(std::string(name)).dump()};
}

std::string operation_name(const ui::Invocation& invocation) {
  const auto value = nlohmann::json::parse(invocation.payload, nullptr, false);
  return value.is_string() ? value.get<std::string>() : "";
}

}  // namespace

void register_edit(actions::ActionRegistry& registry) {
  registry.insert(std::string(kEditType), [](std::string_view payload) -> actions::DecodeResult {
    const auto value = nlohmann::json::parse(payload, nullptr, false);
    if (!value.is_object() || !value.contains("SetName") || !value["SetName"].is_string()) {
      return std::unexpected(actions::DecodeError{std::string(kEditType), "expected {\"SetName\": text}"});
    }
    return std::make_unique<SetName>(value["SetName"].get<std::string>());
  });
}

void TestApp::document_changed(doc::Document& document) {
  ++document_changes;
  const auto value = document.get(doc::kRoot, "name");
  saved_name = value && *value && std::holds_alternative<std::string>(**value) ? std::get<std::string>(**value) : "";
}

void TestApp::paint(ui::PaintContext& context) {
  context.canvas.fill_rect(context.window, context.colors.background);
  if (presses > 0) context.canvas.fill_rect({10, 10, 20, 20}, ui::Color::hex(kPressedColor & 0xffffff));
}

AccessNode TestApp::access_tree() const {
  AccessNode root{.id = "test.root", .role = Role::Window, .label = "Test"};
  root.push({.id = "test.field",
             .role = Role::TextField,
             .label = "Name",
             .value = field,
             .focused = field_focused,
             .actions = {SemanticActionKind::Focus, SemanticActionKind::SetValue}});
  root.push({.id = "test.button",
             .role = Role::Button,
             .label = "Press",
             .value = std::to_string(presses),
             .actions = {SemanticActionKind::Primary}});
  root.push({.id = "test.name", .role = Role::Text, .label = "Saved name", .value = saved_name});
  return root;
}

bool TestApp::semantic_action(std::string_view id, const ui::a11y::SemanticAction& action, const ui::EventContext&) {
  if (id == "test.field" && action.kind == SemanticActionKind::Focus) {
    field_focused = true;
    return true;
  }
  if (id == "test.field" && action.kind == SemanticActionKind::SetValue) {
    field = action.value;
    field_focused = true;
    return true;
  }
  if (id == "test.button" && action.kind == SemanticActionKind::Primary) {
    ++presses;
    return true;
  }
  return false;
}

std::vector<actions::Resource> TestApp::action_resources(doc::Document&) {
  auto rename = ActionSpec::from_arguments(
      "rename", "Rename", RiskLevel::DocumentEdit,
      {actions::ParamDescriptor::text("value", "New name").with_hint("a name")}, std::string(kEditType),
      [](const actions::params::ActionArgs& args) -> std::expected<EncodedAction, std::string> {
        return EncodedAction{std::string(kEditType),
                             nlohmann::json{{"SetName", args.text("value").value_or("")}}.dump()};
      });
  auto root = actions::Resource::make("test.root", "test.list", "Test root")
                  .with_action(ActionSpec::fixed("show", "Show", RiskLevel::View, operation("show")))
                  .with_action(ActionSpec::fixed("quick", "Quick", RiskLevel::Effect, operation("quick")))
                  .with_action(ActionSpec::fixed("slow", "Slow", RiskLevel::Effect, operation("slow"))
                                   .with_description("Takes two polls")
                                   .with_contract({"network", "session"}))
                  .with_action(ActionSpec::fixed("doomed", "Doomed", RiskLevel::Effect, operation("doomed")))
                  .with_action(ActionSpec::fixed("refused", "Refused", RiskLevel::Effect, operation("refused")))
                  .with_action(ActionSpec::fixed("locked", "Locked", RiskLevel::Effect, operation("quick"))
                                   .with_unavailable("test_locked", "Locked for the test"))
                  .with_action(std::move(rename))
                  .with_action(ActionSpec::fixed("forget", "Forget", RiskLevel::DocumentEdit,
                                                 {std::string(kEditType), R"({"SetName":""})"})
                                   .destructive())
                  .with_action(ActionSpec::fixed("sneaky", "Sneaky", RiskLevel::View,
                                                 {std::string(kEditType), R"({"SetName":"sneaky"})"}))
                  .with_action(ActionSpec::fixed("stray", "Stray", RiskLevel::Effect, {"test.unknown", "{}"}));
  root = std::move(root).with_child(actions::Resource::make("test.item:1", "test.item", "Item one")
                                        .with_action(ActionSpec::fixed("open", "Open", RiskLevel::View,
                                                                       operation("open-item"))));
  std::vector<actions::Resource> out;
  out.push_back(std::move(root));
  return out;
}

ui::operation::PerformResult TestApp::perform_operation(const ui::Invocation& invocation,
                                                        actions::OperationClass declared, const ui::EventContext&) {
  if (invocation.type_name != kOperationType || declared == actions::OperationClass::None) {
    return ui::operation::NotHandled{};
  }
  const std::string name = operation_name(invocation);
  performed.emplace_back(name, declared);
  if (declared != actions::OperationClass::View) return ui::operation::Error{"not a view operation"};
  return ui::operation::Done{};
}

ui::operation::StartResult TestApp::start_operation(const ui::Invocation& invocation, actions::OperationClass declared,
                                                    const ui::InvocationId& id, const ui::EventContext&) {
  if (invocation.type_name != kOperationType || declared != actions::OperationClass::Effect) {
    return ui::operation::NotHandled{};
  }
  const std::string name = operation_name(invocation);
  started.emplace_back(name, declared);
  if (name == "refused") return ui::operation::Error{"the test refuses to start this"};
  if (name == "quick") return ui::operation::Completed{};
  if (pending_) return ui::operation::Error{"another operation is still running"};
  pending_ = Pending{id, name, 0};
  return ui::operation::Started{};
}

ui::operation::PollResult TestApp::poll_operation(const ui::InvocationId& id, bool cancel, const ui::EventContext&) {
  if (!pending_ || pending_->id != id) return ui::operation::NothingToReport{};
  if (cancel) {
    pending_.reset();
    return ui::operation::Cancelled{"cancelled on request"};
  }
  if (pending_->name == "doomed") {
    pending_.reset();
    return ui::operation::Failed{"test.doomed", "the doomed operation failed"};
  }
  if (++pending_->polls < 2) return ui::operation::NothingToReport{};
  pending_.reset();
  return ui::operation::Completed{};
}

}  // namespace kivo::automation::test
