#pragma once
// A small application for driving the endpoint: a resource tree with every kind of action, an
// operation type with one operation that completes at once, one that runs in the background,
// one that fails and one that refuses to start, a document edit type, and an access tree with a
// text field, a button and the saved name.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kivo/actions/registry.h"
#include "kivo/ui/application.h"

namespace kivo::automation::test {

inline constexpr std::string_view kEditType = "test.edit";
inline constexpr std::string_view kOperationType = "test.operation";

// Registers the decoder of kEditType: {"SetName": "…"} saves the name under the root key "name".
void register_edit(actions::ActionRegistry& registry);

class TestApp : public ui::Application {
 public:
  // What reached the application, in order: operation name and declared class.
  std::vector<std::pair<std::string, actions::OperationClass>> performed;
  std::vector<std::pair<std::string, actions::OperationClass>> started;
  std::string saved_name;  // as of the last document change
  int document_changes = 0;
  std::string field;
  bool field_focused = false;
  int presses = 0;

  void document_changed(doc::Document& document) override;
  void apply_layout(ui::Rect bounds) override { bounds_ = bounds; }
  ui::Rect bounds() const override { return bounds_; }
  bool needs_repaint() const override { return false; }
  // The background; a 20 px square at (10, 10) in kPressedColor once the button was pressed.
  void paint(ui::PaintContext& context) override;
  ui::a11y::AccessNode access_tree() const override;
  bool semantic_action(std::string_view id, const ui::a11y::SemanticAction& action,
                       const ui::EventContext& context) override;

  std::vector<std::string> operation_types() const override { return {std::string(kOperationType)}; }
  std::vector<actions::Resource> action_resources(doc::Document& document) override;
  ui::operation::PerformResult perform_operation(const ui::Invocation& invocation, actions::OperationClass declared,
                                                 const ui::EventContext& context) override;
  ui::operation::StartResult start_operation(const ui::Invocation& invocation, actions::OperationClass declared,
                                             const ui::InvocationId& id, const ui::EventContext& context) override;
  ui::operation::PollResult poll_operation(const ui::InvocationId& id, bool cancel,
                                           const ui::EventContext& context) override;

  static constexpr std::uint32_t kPressedColor = 0xffff0000;

 private:
  struct Pending {
    ui::InvocationId id;
    std::string name;
    int polls = 0;
  };
  ui::Rect bounds_;
  std::optional<Pending> pending_;
};

}  // namespace kivo::automation::test
