#pragma once
// The application object: what the framework calls on the one object an
// application gives it. Every call has a default so an application overrides only
// what it needs. All calls happen on the UI thread.

#include <any>
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "kivo/actions/context.h"
#include "kivo/actions/encoded.h"
#include "kivo/actions/resource.h"
#include "kivo/actions/risk.h"
#include "kivo/ui/a11y.h"
#include "kivo/ui/canvas.h"
#include "kivo/ui/event.h"
#include "kivo/ui/tokens.h"

namespace kivo::doc {
class Document;
}

namespace kivo::ui {

using Clock = std::chrono::steady_clock;

struct PaintContext {
  Canvas& canvas;
  Rect window;  // logical pixels
  double scale_factor = 1.0;
  Clock::time_point now;
  const tokens::colors::Colors& colors = tokens::colors::Colors::dark();
};

struct EventContext {
  double scale_factor = 1.0;
  Clock::time_point now;
  // The persisted document, for edits an event causes. Null only when the
  // framework runs without one (never in a launched application).
  doc::Document* document = nullptr;
};

// An operation invocation the framework hands to the application: a type name the
// application declared and a JSON payload.
using Invocation = actions::EncodedAction;
// Identifies one background invocation across its polls.
using InvocationId = std::array<std::uint8_t, 16>;

namespace operation {
struct NotHandled {
  friend bool operator==(const NotHandled&, const NotHandled&) = default;
};
struct Done {
  friend bool operator==(const Done&, const Done&) = default;
};
struct Completed {
  friend bool operator==(const Completed&, const Completed&) = default;
};
struct Started {
  friend bool operator==(const Started&, const Started&) = default;
};
struct NothingToReport {
  friend bool operator==(const NothingToReport&, const NothingToReport&) = default;
};
struct Error {
  std::string message;
  friend bool operator==(const Error&, const Error&) = default;
};
struct Failed {
  std::string code;
  std::string message;
  friend bool operator==(const Failed&, const Failed&) = default;
};
struct Cancelled {
  std::string message;
  friend bool operator==(const Cancelled&, const Cancelled&) = default;
};
using PerformResult = std::variant<NotHandled, Done, Error>;
using StartResult = std::variant<NotHandled, Completed, Started, Error>;
using PollResult = std::variant<NothingToReport, Completed, Failed, Cancelled>;
}  // namespace operation

// The framework's layout asks the application how its root wants to be sized; the
// root of an application always fills the window.
struct LayoutNode {
  double flex_grow = 1.0;
};

class ActionHost;

class Application {
 public:
  virtual ~Application() = default;

  // The framework attaches its action host before it reports the document; the
  // application dispatches its own edits through it.
  void attach_action_host(std::shared_ptr<ActionHost> host) { action_host_ = std::move(host); }
  const std::shared_ptr<ActionHost>& action_host() const { return action_host_; }

  // Identity for diagnostics and down-casting by the host.
  virtual std::string_view type_name() const { return "kivo::ui::Application"; }
  virtual std::any as_any() { return this; }
  // The persisted document was opened, or changed locally or on another device.
  virtual void document_changed(doc::Document& /*document*/) {}
  // Layout.
  virtual LayoutNode create_layout_node() { return {}; }
  virtual void apply_layout(Rect /*bounds*/) {}
  // Draws one frame.
  virtual void paint(PaintContext& /*context*/) {}
  // Pointer and key input. Returns whether the application used the event.
  virtual bool on_event(const Event& /*event*/, const EventContext& /*context*/) { return false; }
  // The operation type names the application executes itself.
  virtual std::vector<std::string> operation_types() const { return {}; }
  virtual std::set<std::string> operation_type_set() const {
    auto types = operation_types();
    return {types.begin(), types.end()};
  }
  // A short name and the area the application last laid out.
  virtual std::string_view short_name() const { return "Application"; }
  virtual Rect bounds() const { return {}; }
  // The accessibility tree of the current state, and semantic actions on it.
  virtual a11y::AccessNode access_tree() const { return {}; }
  virtual bool semantic_action(std::string_view /*id*/, const a11y::SemanticAction& /*action*/,
                               const EventContext& /*context*/) {
    return false;
  }
  // The user asked for reduced motion.
  virtual void set_reduced_motion(bool /*reduced*/) {}
  // The application still waits for its first document synchronisation.
  virtual bool first_document_sync_pending() const { return false; }

  // The application's resources and their actions, built afresh on every call.
  virtual std::vector<actions::Resource> action_resources(doc::Document& /*document*/) { return {}; }
  // Encoded actions the application queued for the framework to dispatch.
  virtual std::vector<actions::EncodedAction> take_pending_work() { return {}; }
  // Operations of the declared types: run now, start in the background, poll.
  virtual operation::PerformResult perform_operation(const Invocation& /*invocation*/,
                                                     actions::OperationClass /*declared*/,
                                                     const EventContext& /*context*/) {
    return operation::NotHandled{};
  }
  virtual operation::StartResult start_operation(const Invocation& /*invocation*/,
                                                 actions::OperationClass /*declared*/, const InvocationId& /*id*/,
                                                 const EventContext& /*context*/) {
    return operation::NotHandled{};
  }
  virtual operation::PollResult poll_operation(const InvocationId& /*id*/, bool /*cancel*/,
                                               const EventContext& /*context*/) {
    return operation::NothingToReport{};
  }

  // Frame scheduling. wants_frame asks for another frame even without input
  // (animations, live sessions); needs_repaint asks for one paint. By default a paint is
  // asked for once, then again whenever request_repaint is called, so an application that
  // overrides neither never keeps the loop awake.
  virtual bool wants_frame() const { return false; }
  virtual bool needs_repaint() const { return repaint_requested_; }
  virtual std::optional<Rect> damage() const {
    return needs_repaint() ? std::optional<Rect>(bounds()) : std::nullopt;
  }
  virtual void clear_repaint() { repaint_requested_ = false; }
  void request_repaint() { repaint_requested_ = true; }
  virtual void repaint(PaintContext& context) { paint(context); }

 private:
  std::shared_ptr<ActionHost> action_host_;
  bool repaint_requested_ = true;
};

}  // namespace kivo::ui
