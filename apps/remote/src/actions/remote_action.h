#pragma once
// Every command of the program as a plain value: document edits (`RemoteAction`) and commands
// that act on this device only (`RemoteOperation`).

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "doc/profile.h"
#include "kivo/actions/risk.h"
#include "kivo/base/uuid.h"

namespace remote::actions {

inline constexpr std::string_view kActionTypeName = "remote.action";
inline constexpr std::string_view kOperationTypeName = "remote.operation";

// Document edits. An upsert carries only the editable fields: favourite, presence and the
// last-used label of a stored profile survive it.
struct UpsertConnection {
  kivo::Uuid id;
  std::string name;
  std::string host;
  std::uint16_t port = 0;
  std::string user;
  doc::ConnectionKind kind = doc::ConnectionKind::Ssh;
  doc::ConnectionAuth auth = doc::ConnectionAuth::Password;
  std::string group;
  friend bool operator==(const UpsertConnection&, const UpsertConnection&) = default;
};

struct RenameConnection {
  kivo::Uuid id;
  std::string name;
  friend bool operator==(const RenameConnection&, const RenameConnection&) = default;
};

struct SetFavorite {
  kivo::Uuid id;
  bool favorite = false;
  friend bool operator==(const SetFavorite&, const SetFavorite&) = default;
};

struct DeleteConnection {
  kivo::Uuid id;
  friend bool operator==(const DeleteConnection&, const DeleteConnection&) = default;
};

using RemoteAction = std::variant<UpsertConnection, RenameConnection, SetFavorite, DeleteConnection>;

// The host key a session observed and a person is asked to trust: the key's algorithm name and
// its "SHA256:" fingerprint. Field for field the same as the SSH layer's host-key identity.
struct ObservedHostKey {
  std::string algorithm;
  std::string fingerprint;
  friend bool operator==(const ObservedHostKey&, const ObservedHostKey&) = default;
};

struct ShowConnections {
  friend bool operator==(const ShowConnections&, const ShowConnections&) = default;
};
struct NewConnectionForm {
  friend bool operator==(const NewConnectionForm&, const NewConnectionForm&) = default;
};
struct EditConnection {
  kivo::Uuid connection_id;
  friend bool operator==(const EditConnection&, const EditConnection&) = default;
};
struct Connect {
  kivo::Uuid connection_id;
  friend bool operator==(const Connect&, const Connect&) = default;
};
struct Disconnect {
  kivo::Uuid connection_id;
  friend bool operator==(const Disconnect&, const Disconnect&) = default;
};
struct SendText {
  kivo::Uuid connection_id;
  std::string text;
  friend bool operator==(const SendText&, const SendText&) = default;
};
struct TrustSshHostKey {
  kivo::Uuid connection_id;
  ObservedHostKey observed;
  friend bool operator==(const TrustSshHostKey&, const TrustSshHostKey&) = default;
};
struct ForgetSshHostKey {
  kivo::Uuid connection_id;
  friend bool operator==(const ForgetSshHostKey&, const ForgetSshHostKey&) = default;
};

using RemoteOperation = std::variant<ShowConnections, NewConnectionForm, EditConnection, Connect,
                                     Disconnect, SendText, TrustSshHostKey, ForgetSshHostKey>;

// The variant's name, as written in JSON ("UpsertConnection", "SendText", …).
std::string_view variant_name(const RemoteAction& action);
std::string_view variant_name(const RemoteOperation& operation);

// View operations only change what this device shows; every other operation is an effect.
kivo::actions::OperationClass operation_class(const RemoteOperation& operation);

// The variant and its fields, for logs: `RenameConnection { id: …, name: "Lab" }`.
std::string debug_description(const RemoteAction& action);
std::string debug_description(const RemoteOperation& operation);

}  // namespace remote::actions
