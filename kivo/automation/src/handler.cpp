#include "kivo/automation/handler.h"

#include <algorithm>
#include <cerrno>

#include <fmt/format.h>

#include "kivo/actions/bound_dispatch.h"
#include "kivo/actions/executor.h"
#include "kivo/actions/json.h"
#include "kivo/automation/client.h"
#include "kivo/base/uuid.h"
#include "kivo/doc/document.h"

namespace kivo::automation {
namespace {

using Json = nlohmann::ordered_json;
namespace ctx = actions::context;

std::string_view error_code(actions::ActionError::Kind kind) {
  using Kind = actions::ActionError::Kind;
  switch (kind) {
    case Kind::UnknownType: return "unknown_type";
    case Kind::Decode: return "decode_failed";
    case Kind::WrongType: return "wrong_type";
    case Kind::Unavailable: return "action_unavailable";
    case Kind::ConfirmationRequired: return "confirmation_required";
    case Kind::Encode: return "encode_failed";
    case Kind::WrongDevice: return "wrong_device";
    case Kind::Apply: return "apply_failed";
    case Kind::Commit: return "commit_failed";
  }
  return "dispatch_failed";
}

Json ok() {
  Json reply = Json::object();
  reply["ok"] = true;
  return reply;
}

ctx::CallerContext caller_or_default(std::optional<ctx::CallerContext> caller, std::string label) {
  ctx::CallerContext out = caller.value_or(ctx::CallerContext{});
  if (out.app_id.empty()) out.app_id = kDefaultCallerId;
  if (out.app_name.empty()) out.app_name = kDefaultCallerName;
  out.label = std::move(label);
  return out;
}

// Invocation ids are random 128-bit values; a version 4 UUID is exactly that.
ui::InvocationId random_invocation_id() { return kivo::Uuid::new_v4().bytes; }

// Marks each action whose payload is built from arguments, so callers need not infer it.
void mark_argument_actions(Json& resources) {
  for (Json& resource : resources) {
    for (Json& action : resource["actions"]) action["arguments"] = action["payload"].is_null();
    mark_argument_actions(resource["children"]);
  }
}

}  // namespace

Json RequestHandler::handle(const Request& request) {
  return std::visit(
      [this](const auto& command) -> Json {
        using T = std::decay_t<decltype(command)>;
        if constexpr (std::is_same_v<T, command::Resources>) {
          return resources();
        } else if constexpr (std::is_same_v<T, command::Dispatch>) {
          return dispatch(command.action, caller_or_default(command.caller, ctx::dispatch_label(command.action)));
        } else if constexpr (std::is_same_v<T, command::Invoke>) {
          return invoke(command);
        } else if constexpr (std::is_same_v<T, command::Poll>) {
          return poll(command);
        } else if constexpr (std::is_same_v<T, command::Journal>) {
          return journal(command);
        } else if constexpr (std::is_same_v<T, command::Tree>) {
          return tree();
        } else if constexpr (std::is_same_v<T, command::SemanticAction>) {
          return semantic_action(command);
        } else {
          return screenshot();
        }
      },
      request.command);
}

void RequestHandler::changed() {
  host_.report_changes();
  host_.request_paint();
  stale_ = true;
}

void RequestHandler::paint_if_stale() {
  if (!stale_ && !host_.application().needs_repaint()) return;
  host_.paint_now();
  stale_ = false;
}

Json RequestHandler::resources() {
  Json list = actions::resources_json(host_.application().action_resources(host_.document()));
  mark_argument_actions(list);
  Json reply = ok();
  reply["resources"] = std::move(list);
  return reply;
}

Json RequestHandler::dispatch(const actions::EncodedAction& action, ctx::CallerContext caller) {
  ui::ActionHost& actions_host = host_.action_host();
  const auto sequence_before = actions_host.journal.last_sequence();
  auto result = actions_host.dispatch(host_.document(), action, std::move(caller));
  changed();
  if (!result) return error_reply(error_code(result.error().kind), result.error().display());

  Json reply = ok();
  reply["committed"] = result->committed;
  reply["description"] = result->description;
  const auto sequence = actions_host.journal.last_sequence();
  reply["journal_sequence"] = sequence != sequence_before ? Json(sequence) : Json(nullptr);
  return reply;
}

Json RequestHandler::invoke(const command::Invoke& invoke) {
  ui::Application& app = host_.application();
  const auto resources = app.action_resources(host_.document());
  const actions::Resource* resource = nullptr;
  for (const auto& root : resources) {
    if ((resource = root.find(invoke.resource)) != nullptr) break;
  }
  if (resource == nullptr) return error_reply("unknown_resource", fmt::format("no resource \"{}\"", invoke.resource));
  const actions::ActionSpec* target = resource->find_action(invoke.action);
  if (target == nullptr) {
    return error_reply("unknown_action",
                       fmt::format("resource \"{}\" has no action \"{}\"", invoke.resource, invoke.action));
  }
  if (target->unavailability) {
    Json reply = error_reply("action_unavailable", target->unavailability->reason);
    reply["unavailable"] = {{"code", target->unavailability->code}, {"reason", target->unavailability->reason}};
    return reply;
  }
  auto encoded = target->encode(invoke.arguments);
  if (!encoded) return error_reply(error_code(encoded.error().kind), encoded.error().display());

  if (app.operation_type_set().contains(encoded->type_name)) {
    const actions::OperationClass declared = target->operation_class();
    const ui::EventContext context = host_.event_context();
    if (declared != actions::OperationClass::Effect) {
      const auto performed = app.perform_operation(*encoded, declared, context);
      changed();
      if (const auto* error = std::get_if<ui::operation::Error>(&performed)) {
        return error_reply("operation_error", error->message);
      }
      if (std::holds_alternative<ui::operation::NotHandled>(performed)) {
        return error_reply("not_handled", fmt::format("the application did not perform \"{}\" of \"{}\"",
                                                      invoke.action, invoke.resource));
      }
      Json reply = ok();
      reply["route"] = "perform";
      reply["outcome"] = "done";
      return reply;
    }
    const ui::InvocationId id = random_invocation_id();
    const auto started = app.start_operation(*encoded, declared, id, context);
    changed();
    if (const auto* error = std::get_if<ui::operation::Error>(&started)) {
      return error_reply("operation_error", error->message);
    }
    if (std::holds_alternative<ui::operation::NotHandled>(started)) {
      return error_reply("not_handled", fmt::format("the application did not start \"{}\" of \"{}\"", invoke.action,
                                                    invoke.resource));
    }
    Json reply = ok();
    reply["route"] = "start";
    if (std::holds_alternative<ui::operation::Completed>(started)) {
      reply["outcome"] = "completed";
      return reply;
    }
    running_.push_back(id);
    while (running_.size() > kMaxRunning) running_.pop_front();
    reply["outcome"] = "started";
    reply["invocation"] = hex_encode(id);
    return reply;
  }

  if (host_.action_host().registry.contains(encoded->type_name)) {
    // A document edit that claims a lighter risk would be misread by whoever decides on
    // confirmations from the risk; it is refused rather than run under a false label.
    if (target->risk != actions::RiskLevel::DocumentEdit) {
      return error_reply("risk_mismatch",
                         fmt::format("action \"{}\" of \"{}\" edits the document but declares the {} risk",
                                     invoke.action, invoke.resource, actions::name(target->risk)));
    }
    Json reply = dispatch(*encoded, caller_or_default(invoke.caller, target->label));
    if (reply["ok"] == true) reply["route"] = "document";
    return reply;
  }
  return error_reply("unknown_type", fmt::format("nothing handles actions of type \"{}\"", encoded->type_name));
}

Json RequestHandler::poll(const command::Poll& poll) {
  const auto known = std::find(running_.begin(), running_.end(), poll.invocation);
  if (known == running_.end()) {
    return error_reply("unknown_invocation",
                       fmt::format("no background invocation {} is running", hex_encode(poll.invocation)));
  }
  const auto result = host_.application().poll_operation(poll.invocation, poll.cancel, host_.event_context());
  changed();
  Json reply = ok();
  if (std::holds_alternative<ui::operation::NothingToReport>(result)) {
    reply["outcome"] = "nothing_yet";
    return reply;
  }
  running_.erase(std::find(running_.begin(), running_.end(), poll.invocation));
  if (std::holds_alternative<ui::operation::Completed>(result)) {
    reply["outcome"] = "completed";
  } else if (const auto* failed = std::get_if<ui::operation::Failed>(&result)) {
    reply["outcome"] = "failed";
    reply["code"] = failed->code;
    reply["message"] = failed->message;
  } else if (const auto* cancelled = std::get_if<ui::operation::Cancelled>(&result)) {
    reply["outcome"] = "cancelled";
    reply["message"] = cancelled->message;
  }
  return reply;
}

Json RequestHandler::journal(const command::Journal& journal) {
  const auto& entries = host_.action_host().journal;
  Json reply = ok();
  reply["last_sequence"] = entries.last_sequence();
  reply["entries"] = actions::journal_json(entries.entries_since(journal.since));
  return reply;
}

Json RequestHandler::tree() {
  paint_if_stale();
  Json reply = ok();
  reply["tree"] = access_tree_json(host_.frame().access_tree());
  return reply;
}

Json RequestHandler::semantic_action(const command::SemanticAction& action) {
  const bool handled = host_.application().semantic_action(action.element, action.action, host_.event_context());
  changed();
  Json reply = ok();
  reply["handled"] = handled;
  return reply;
}

Json RequestHandler::screenshot() {
  host_.paint_now();
  stale_ = false;
  const ui::FrameBuffer& frame = host_.frame();
  auto png = frame.encode_png();
  if (!png) return error_reply("screenshot_failed", png.error());
  Json reply = ok();
  reply["width"] = frame.width_px();
  reply["height"] = frame.height_px();
  reply["png_base64"] = base64_encode(*png);
  return reply;
}

}  // namespace kivo::automation
