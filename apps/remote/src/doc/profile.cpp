#include "doc/profile.h"

#include <array>

#include "kivo/base/text.h"
#include "kivo/p2p/endpoint_id.h"

namespace remote::doc {
namespace {

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0d) || c == 0x20 || c == 0x85 || c == 0xa0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200a) || c == 0x2028 || c == 0x2029 || c == 0x202f ||
         c == 0x205f || c == 0x3000;
}

// Length of the white-space character at the front of `text`, or 0 when there is none
// (invalid sequences never count as white space).
std::size_t leading_space(std::string_view text) {
  char32_t c = 0;
  const std::size_t len = kivo::text::decode_one(text, 0, c);
  return len > 0 && is_white_space(c) ? len : 0;
}

std::size_t trailing_space(std::string_view text) {
  // Step back over at most two continuation bytes to the start of the last sequence.
  std::size_t start = text.size();
  for (int i = 0; i < 3 && start > 0; ++i) {
    --start;
    if ((static_cast<unsigned char>(text[start]) & 0xc0) != 0x80) break;
  }
  const std::string_view last = text.substr(start);
  const std::size_t len = leading_space(last);
  return len == last.size() ? len : 0;
}

constexpr ConnectionAuth kSshAuths[] = {ConnectionAuth::Password, ConnectionAuth::PublicKey};
constexpr ConnectionAuth kPasswordOnly[] = {ConnectionAuth::Password};
constexpr ConnectionAuth kDeviceOnly[] = {ConnectionAuth::DeviceIdentity};

template <typename E, std::size_t N>
std::optional<E> find_text(const E (&values)[N], std::string_view (*text_of)(E), std::string_view text) {
  for (E v : values) {
    if (text_of(v) == text) return v;
  }
  return std::nullopt;
}

bool begins_with(std::string_view text, std::string_view prefix) { return text.starts_with(prefix); }

}  // namespace

std::string_view document_text(ConnectionKind kind) {
  switch (kind) {
    case ConnectionKind::Ssh: return "SSH";
    case ConnectionKind::Vnc: return "VNC";
    case ConnectionKind::Rdp: return "RDP";
    case ConnectionKind::Kivo: return "Kivo";
  }
  return "SSH";
}

std::string_view display_label(ConnectionKind kind) {
  return kind == ConnectionKind::Kivo ? "Kivo device" : document_text(kind);
}

std::string_view json_text(ConnectionKind kind) {
  switch (kind) {
    case ConnectionKind::Ssh: return "Ssh";
    case ConnectionKind::Vnc: return "Vnc";
    case ConnectionKind::Rdp: return "Rdp";
    case ConnectionKind::Kivo: return "Kivo";
  }
  return "Ssh";
}

std::string_view short_label(ConnectionKind kind) { return document_text(kind); }

std::optional<std::uint16_t> default_port(ConnectionKind kind) {
  switch (kind) {
    case ConnectionKind::Ssh: return 22;
    case ConnectionKind::Vnc: return 5900;
    case ConnectionKind::Rdp: return 3389;
    case ConnectionKind::Kivo: return std::nullopt;
  }
  return std::nullopt;
}

std::string_view document_text(ConnectionAuth auth) {
  switch (auth) {
    case ConnectionAuth::Password: return "Password";
    case ConnectionAuth::PublicKey: return "Public key";
    case ConnectionAuth::DeviceIdentity: return "Device identity";
  }
  return "Password";
}

std::string_view display_label(ConnectionAuth auth) { return document_text(auth); }

std::string_view identifier_text(ConnectionAuth auth) {
  switch (auth) {
    case ConnectionAuth::Password: return "password";
    case ConnectionAuth::PublicKey: return "public-key";
    case ConnectionAuth::DeviceIdentity: return "device-identity";
  }
  return "password";
}

std::string_view json_text(ConnectionAuth auth) {
  switch (auth) {
    case ConnectionAuth::Password: return "Password";
    case ConnectionAuth::PublicKey: return "PublicKey";
    case ConnectionAuth::DeviceIdentity: return "DeviceIdentity";
  }
  return "Password";
}

std::string_view document_text(Presence presence) {
  switch (presence) {
    case Presence::Online: return "online";
    case Presence::Offline: return "offline";
    case Presence::Unknown: return "unknown";
  }
  return "unknown";
}

std::optional<ConnectionKind> kind_from_document_text(std::string_view text) {
  return find_text<ConnectionKind>(kAllKinds, document_text, text);
}
std::optional<ConnectionKind> kind_from_json_text(std::string_view text) {
  return find_text<ConnectionKind>(kAllKinds, json_text, text);
}
std::optional<ConnectionAuth> auth_from_document_text(std::string_view text) {
  return find_text<ConnectionAuth>(kAllAuths, document_text, text);
}
std::optional<ConnectionAuth> auth_from_json_text(std::string_view text) {
  return find_text<ConnectionAuth>(kAllAuths, json_text, text);
}
std::optional<Presence> presence_from_document_text(std::string_view text) {
  return find_text<Presence>(kAllPresences, document_text, text);
}

std::span<const ConnectionAuth> allowed_auths(ConnectionKind kind) {
  switch (kind) {
    case ConnectionKind::Ssh: return kSshAuths;
    case ConnectionKind::Vnc:
    case ConnectionKind::Rdp: return kPasswordOnly;
    case ConnectionKind::Kivo: return kDeviceOnly;
  }
  return kPasswordOnly;
}

bool auth_allowed(ConnectionKind kind, ConnectionAuth auth) {
  for (ConnectionAuth allowed : allowed_auths(kind)) {
    if (allowed == auth) return true;
  }
  return false;
}

ConnectionForm ConnectionForm::new_form() {
  ConnectionForm form;
  form.port = "22";
  return form;
}

ConnectionForm ConnectionForm::from_profile(const ConnectionProfile& profile) {
  ConnectionForm form;
  form.name = profile.name;
  form.host = profile.host;
  form.port = std::to_string(profile.port);
  form.user = profile.user;
  form.group = profile.group;
  form.kind = profile.kind;
  form.auth = profile.auth;
  return form;
}

std::string_view trim_text(std::string_view text) {
  while (const std::size_t n = leading_space(text)) text.remove_prefix(n);
  while (const std::size_t n = trailing_space(text)) text.remove_suffix(n);
  return text;
}

std::optional<std::uint16_t> parse_port(std::string_view text) {
  text = trim_text(text);
  if (text.starts_with('+')) text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
    if (value > 65535) return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}

ConnectionProfile profile_from_form(const ConnectionForm& form, const kivo::Uuid& id) {
  ConnectionProfile profile;
  profile.id = id;
  profile.kind = form.kind;
  profile.auth = form.auth;
  if (form.kind != ConnectionKind::Kivo) {
    profile.port = parse_port(form.port).value_or(default_port(form.kind).value_or(0));
  }
  profile.name = trim_text(form.name);
  profile.host = trim_text(form.host);
  profile.group = trim_text(form.group);
  if (form.kind == ConnectionKind::Ssh || form.kind == ConnectionKind::Rdp) {
    profile.user = trim_text(form.user);
  }
  profile.last_used = kNeverUsed;
  profile.presence = Presence::Unknown;
  profile.favorite = false;
  return profile;
}

std::vector<std::string> validate_form(const ConnectionForm& form) {
  std::vector<std::string> problems;
  if (trim_text(form.name).empty()) problems.emplace_back(kNameRequired);
  if (trim_text(form.host).empty()) problems.emplace_back(kHostRequired);
  if (form.kind != ConnectionKind::Kivo) {
    const auto port = parse_port(form.port);
    if (!port || *port == 0) problems.emplace_back(kPortOutOfRange);
  }
  if (auto target = validate_target(form.kind, form.host, form.auth)) {
    problems.push_back(std::move(*target));
  }
  return problems;
}

std::optional<std::string> validate_target(ConnectionKind kind, std::string_view host,
                                           ConnectionAuth auth) {
  if (!auth_allowed(kind, auth)) {
    switch (kind) {
      case ConnectionKind::Ssh: return "SSH profiles support password or public-key authentication.";
      case ConnectionKind::Vnc: return "VNC profiles support password authentication only.";
      case ConnectionKind::Rdp: return "RDP profiles support password authentication only.";
      case ConnectionKind::Kivo: return "Kivo device profiles must use Kivo device identity.";
    }
  }
  if (kind == ConnectionKind::Kivo) {
    const std::string_view trimmed = trim_text(host);
    // An empty host is the form's "Host is required"; it is not a second problem here.
    if (!trimmed.empty() && !kivo::p2p::EndpointId::parse(trimmed)) {
      return std::string(kKivoHostNotEndpointId);
    }
  }
  return std::nullopt;
}

std::vector<std::string> visible_problems(const std::vector<std::string>& problems,
                                          const ProblemVisibility& visibility) {
  if (visibility.save_attempted) return problems;
  std::vector<std::string> shown;
  for (const std::string& problem : problems) {
    const bool show =
        (visibility.name_touched && begins_with(problem, kNameRequired)) ||
        (visibility.host_touched &&
         (begins_with(problem, kHostRequired) ||
          begins_with(problem, kKivoHostNotEndpointId))) ||
        (visibility.port_touched && begins_with(problem, kPortOutOfRange));
    if (show) shown.push_back(problem);
  }
  return shown;
}

std::vector<std::string> visible_form_problems(const ConnectionForm& form,
                                               const ProblemVisibility& visibility) {
  return visible_problems(validate_form(form), visibility);
}

}  // namespace remote::doc
