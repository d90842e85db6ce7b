#pragma once
// The saved connection profile, its enumerations with every text form they take, the editable
// form a profile is made from, and the validation that decides whether a form may be saved.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kivo/base/uuid.h"

namespace remote::doc {

// The transport. The declaration order is the numbering other tables use.
enum class ConnectionKind { Ssh, Vnc, Rdp, Kivo };
enum class ConnectionAuth { Password, PublicKey, DeviceIdentity };
enum class Presence { Online, Offline, Unknown };

inline constexpr ConnectionKind kAllKinds[] = {ConnectionKind::Ssh, ConnectionKind::Vnc,
                                               ConnectionKind::Rdp, ConnectionKind::Kivo};
inline constexpr ConnectionAuth kAllAuths[] = {ConnectionAuth::Password, ConnectionAuth::PublicKey,
                                               ConnectionAuth::DeviceIdentity};
inline constexpr Presence kAllPresences[] = {Presence::Online, Presence::Offline, Presence::Unknown};

// Kind texts: stored in the document ("SSH", "VNC", "RDP", "Kivo"), shown to the user ("Kivo
// device"), written in JSON ("Ssh", …) and the short tag on rows and pills ("SSH", …, "Kivo").
std::string_view document_text(ConnectionKind kind);
std::string_view display_label(ConnectionKind kind);
std::string_view json_text(ConnectionKind kind);
std::string_view short_label(ConnectionKind kind);
// The TCP port a new profile of this kind uses; none for device profiles, which have no port.
std::optional<std::uint16_t> default_port(ConnectionKind kind);

// Auth texts: document text and display label are the same ("Public key"); the identifier text
// names the choice in element ids ("public-key"); the JSON text is the variant name.
std::string_view document_text(ConnectionAuth auth);
std::string_view display_label(ConnectionAuth auth);
std::string_view identifier_text(ConnectionAuth auth);
std::string_view json_text(ConnectionAuth auth);

std::string_view document_text(Presence presence);

// Exact inverses of the text forms above; nothing else matches (no case folding, no trimming).
std::optional<ConnectionKind> kind_from_document_text(std::string_view text);
std::optional<ConnectionKind> kind_from_json_text(std::string_view text);
std::optional<ConnectionAuth> auth_from_document_text(std::string_view text);
std::optional<ConnectionAuth> auth_from_json_text(std::string_view text);
std::optional<Presence> presence_from_document_text(std::string_view text);

// The methods a kind accepts, in declaration order.
std::span<const ConnectionAuth> allowed_auths(ConnectionKind kind);
bool auth_allowed(ConnectionKind kind, ConnectionAuth auth);

inline constexpr std::string_view kNeverUsed = "Never";

// One saved target. For device profiles `host` is the certified endpoint id and `port` is 0;
// `user` is always empty for VNC and device profiles.
struct ConnectionProfile {
  kivo::Uuid id;
  std::string name;
  std::string host;
  std::uint16_t port = 0;
  std::string user;
  ConnectionKind kind = ConnectionKind::Ssh;
  ConnectionAuth auth = ConnectionAuth::Password;
  std::string group;
  bool favorite = false;
  // A human label such as "Never" or "just now"; never parsed.
  std::string last_used{kNeverUsed};
  Presence presence = Presence::Unknown;

  friend bool operator==(const ConnectionProfile&, const ConnectionProfile&) = default;
};

// The editing state of one profile: every field as the user typed it.
struct ConnectionForm {
  std::string name;
  std::string host;
  std::string port;
  std::string user;
  std::string group;
  ConnectionKind kind = ConnectionKind::Ssh;
  ConnectionAuth auth = ConnectionAuth::Password;

  // Empty, SSH with a password, port "22".
  static ConnectionForm new_form();
  // The form that edits an existing profile; the port is written in decimal.
  static ConnectionForm from_profile(const ConnectionProfile& profile);

  friend bool operator==(const ConnectionForm&, const ConnectionForm&) = default;
};

// Surrounding Unicode white space removed; the text must be UTF-8 (invalid bytes are kept).
std::string_view trim_text(std::string_view text);

// A port as typed: trimmed, an optional "+", then decimal digits only, at most 65535.
// 0 parses; whether it is acceptable is the caller's decision.
std::optional<std::uint16_t> parse_port(std::string_view text);

// A new profile record from a form. A port that does not parse falls back to the kind's
// default; callers saving an existing profile keep its stored favorite, presence and last_used.
ConnectionProfile profile_from_form(const ConnectionForm& form, const kivo::Uuid& id);

inline constexpr std::string_view kNameRequired = "Name is required";
inline constexpr std::string_view kHostRequired = "Host is required";
inline constexpr std::string_view kPortOutOfRange = "Port must be 1–65535";
inline constexpr std::string_view kKivoHostNotEndpointId =
    "Kivo device node must be an exact certified endpoint id.";

// Every problem that stops the form from being saved, in a fixed order; empty means it may be
// saved.
std::vector<std::string> validate_form(const ConnectionForm& form);

// Whether a kind, target and method fit together: the method is one the kind allows, and a
// device target is an exact endpoint id. Also decides whether a saved profile is usable.
std::optional<std::string> validate_target(ConnectionKind kind, std::string_view host,
                                           ConnectionAuth auth);

// What the form has been through. A field is touched once it lost the focus while shown.
struct ProblemVisibility {
  bool save_attempted = false;
  bool name_touched = false;
  bool host_touched = false;
  bool port_touched = false;
};

// The problems worth showing now: all of them after a save attempt; before that only those
// about a field the user has already left, so nobody is scolded for a field not yet reached.
std::vector<std::string> visible_problems(const std::vector<std::string>& problems,
                                          const ProblemVisibility& visibility);
std::vector<std::string> visible_form_problems(const ConnectionForm& form,
                                               const ProblemVisibility& visibility);

}  // namespace remote::doc
