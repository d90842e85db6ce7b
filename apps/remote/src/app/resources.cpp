// The resource tree automation and assistants see: the saved connections from the document
// and the live session, each with the same commands, risks and availability the user
// interface offers. Rebuilt on every request so it never shows a stale profile or session.

#include "actions/action_json.h"
#include "app/remote_app.h"
#include "doc/availability.h"
#include "doc/store.h"

namespace remote::app {
namespace {

using kivo::actions::ActionSpec;
using kivo::actions::ParamDescriptor;
using kivo::actions::Resource;
using kivo::actions::RiskLevel;
namespace params = kivo::actions::params;

constexpr const char* kConnectionPrefix = "remote.connection:";
constexpr const char* kSessionPrefix = "remote.session:";

std::string connection_label(const doc::ConnectionProfile& profile) {
  if (doc::trim_text(profile.name).empty()) return profile.host;
  return profile.name;
}

ActionSpec operation_action(std::string name, std::string label, RiskLevel risk,
                            const actions::RemoteOperation& operation) {
  return ActionSpec::fixed(std::move(name), std::move(label), risk, actions::encode_operation(operation));
}

// Every document edit is a document-edit risk, whatever it changes.
ActionSpec document_action(std::string name, std::string label, const actions::RemoteAction& action) {
  return ActionSpec::fixed(std::move(name), std::move(label), RiskLevel::DocumentEdit, actions::encode_action(action));
}

Resource connection_resource(const doc::ConnectionProfile& profile) {
  const kivo::Uuid id = profile.id;
  const auto availability = doc::availability(profile);

  auto connect = operation_action("connect", "Connect", RiskLevel::Effect, actions::Connect{id})
                     .with_description("Open a live session to this saved connection. " +
                                       std::string(doc::availability_text(availability, profile.kind)))
                     .with_contract({"network", "session"});
  if (const auto code = doc::machine_code(availability)) {
    connect = std::move(connect).with_unavailable(std::string(*code), doc::availability_reason(profile, availability));
  }

  auto rename = ActionSpec::from_arguments(
      "rename", "Rename connection", RiskLevel::DocumentEdit,
      {ParamDescriptor::text("value", "New name").with_hint("connection name")}, std::string(actions::kActionTypeName),
      [id](const params::ActionArgs& args) -> std::expected<kivo::actions::EncodedAction, std::string> {
        return actions::encode_action(actions::RenameConnection{id, args.text("value").value_or("")});
      });

  return Resource::make(kConnectionPrefix + id.to_string(), "remote.connection", connection_label(profile))
      .with_action(operation_action("open", "Open connection settings", RiskLevel::View, actions::EditConnection{id}))
      .with_action(std::move(connect))
      .with_action(std::move(rename))
      .with_action(document_action("favorite", profile.favorite ? "Remove from favourites" : "Add to favourites",
                                   actions::SetFavorite{id, !profile.favorite}))
      .with_action(document_action("delete", "Delete connection", actions::DeleteConnection{id}).destructive());
}

}  // namespace

std::vector<kivo::actions::Resource> RemoteApp::action_resources(kivo::doc::Document& document) {
  Resource root = Resource::make("remote.connections", "remote.connection-list", "Remote connections")
                      .with_action(operation_action("open", "Show connections", RiskLevel::View,
                                                    actions::ShowConnections{}))
                      .with_action(operation_action("new", "New connection", RiskLevel::View,
                                                    actions::NewConnectionForm{}));
  for (const auto& profile : doc::read_profiles(document)) root = std::move(root).with_child(connection_resource(profile));

  const doc::ConnectionProfile* target = session_target_ ? find_profile(*session_target_) : nullptr;
  if (live_ && target != nullptr) {
    const kivo::Uuid id = target->id;
    const auto* ssh = std::get_if<session::SshTerminal>(&*live_);
    const bool terminal_connected =
        ssh != nullptr && std::holds_alternative<session::Connected>(ssh->session.status());

    auto send_text = ActionSpec::from_arguments(
        "send-text", "Send text to session", RiskLevel::Effect,
        {ParamDescriptor::text("text", "command or text").with_description("Text to deliver to the connected SSH terminal")},
        std::string(actions::kOperationTypeName),
        [id](const params::ActionArgs& args) -> std::expected<kivo::actions::EncodedAction, std::string> {
          return actions::encode_operation(actions::SendText{id, args.text("text").value_or("")});
        });
    send_text = std::move(send_text).with_contract({"remote-input", "session"});
    if (!terminal_connected) {
      send_text = std::move(send_text).with_unavailable("terminal_not_connected",
                                                        "Text input requires a connected SSH terminal");
    }

    Resource session = Resource::make(kSessionPrefix + id.to_string(), "remote.session", target->name + " session")
                           .with_action(operation_action("disconnect", "Disconnect session", RiskLevel::Effect,
                                                         actions::Disconnect{id})
                                            .with_contract({"network", "session"}))
                           .with_action(std::move(send_text));

    const auto observation = host_key_observation(id);
    if (const auto* fresh = observation ? std::get_if<ssh::NeedsTrust>(&*observation) : nullptr) {
      const auto& key = fresh->observed;
      session = std::move(session).with_action(
          operation_action("trust-host-key", "Trust SSH host key", RiskLevel::Effect,
                           actions::TrustSshHostKey{id, actions::ObservedHostKey{key.algorithm, key.fingerprint}})
              .with_description("Explicitly trust " + key.algorithm + " " + key.fingerprint +
                                " for this device only after out-of-band verification.")
              .with_contract({"ssh", "host-key", "device-private"}));
    } else if (observation && std::holds_alternative<ssh::Changed>(*observation)) {
      session = std::move(session).with_action(
          operation_action("forget-host-key", "Forget SSH host key", RiskLevel::Effect,
                           actions::ForgetSshHostKey{id})
              .with_description("Remove this device's stale SSH host-key pin; reconnect to inspect a replacement key.")
              .with_contract({"ssh", "host-key", "device-private"}));
    }
    root = std::move(root).with_child(std::move(session));
  }

  std::vector<kivo::actions::Resource> tree;
  tree.push_back(std::move(root));
  return tree;
}

}  // namespace remote::app
