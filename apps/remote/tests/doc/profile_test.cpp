#include "doc/profile.h"

#include <gtest/gtest.h>

#include "kivo/p2p/endpoint_id.h"

namespace remote::doc {
namespace {

std::string endpoint_text() {
  std::array<std::uint8_t, 32> seed{};
  seed.fill(7);
  return kivo::p2p::EndpointId::from_secret_seed(seed).to_string();
}

TEST(ProfileTexts, EveryFormOfEveryVariant) {
  const struct {
    ConnectionKind kind;
    std::string_view document, display, json, tag;
    std::optional<std::uint16_t> port;
  } kinds[] = {
      {ConnectionKind::Ssh, "SSH", "SSH", "Ssh", "SSH", 22},
      {ConnectionKind::Vnc, "VNC", "VNC", "Vnc", "VNC", 5900},
      {ConnectionKind::Rdp, "RDP", "RDP", "Rdp", "RDP", 3389},
      {ConnectionKind::Kivo, "Kivo", "Kivo device", "Kivo", "Kivo", std::nullopt},
  };
  for (const auto& k : kinds) {
    EXPECT_EQ(document_text(k.kind), k.document);
    EXPECT_EQ(display_label(k.kind), k.display);
    EXPECT_EQ(json_text(k.kind), k.json);
    EXPECT_EQ(short_label(k.kind), k.tag);
    EXPECT_EQ(default_port(k.kind), k.port);
    EXPECT_EQ(kind_from_document_text(k.document), k.kind);
    EXPECT_EQ(kind_from_json_text(k.json), k.kind);
  }

  const struct {
    ConnectionAuth auth;
    std::string_view document, identifier, json;
  } auths[] = {
      {ConnectionAuth::Password, "Password", "password", "Password"},
      {ConnectionAuth::PublicKey, "Public key", "public-key", "PublicKey"},
      {ConnectionAuth::DeviceIdentity, "Device identity", "device-identity", "DeviceIdentity"},
  };
  for (const auto& a : auths) {
    EXPECT_EQ(document_text(a.auth), a.document);
    EXPECT_EQ(display_label(a.auth), a.document);
    EXPECT_EQ(identifier_text(a.auth), a.identifier);
    EXPECT_EQ(json_text(a.auth), a.json);
    EXPECT_EQ(auth_from_document_text(a.document), a.auth);
    EXPECT_EQ(auth_from_json_text(a.json), a.auth);
  }

  EXPECT_EQ(document_text(Presence::Online), "online");
  EXPECT_EQ(document_text(Presence::Offline), "offline");
  EXPECT_EQ(document_text(Presence::Unknown), "unknown");
  EXPECT_EQ(presence_from_document_text("offline"), Presence::Offline);

  // The readers match exactly: other spellings are someone else's data, not a variant.
  for (std::string_view text : {"ssh", "Kivo device", " SSH", "Ssh"}) {
    EXPECT_EQ(kind_from_document_text(text), std::nullopt) << text;
  }
  for (std::string_view text : {"SSH", "ssh", "KIVO"}) {
    EXPECT_EQ(kind_from_json_text(text), std::nullopt) << text;
  }
  EXPECT_EQ(auth_from_document_text("public-key"), std::nullopt);
  EXPECT_EQ(auth_from_json_text("Public key"), std::nullopt);
  EXPECT_EQ(presence_from_document_text("Online"), std::nullopt);
}

TEST(ProfileTexts, AllowedMethodsPerKind) {
  using enum ConnectionAuth;
  const struct {
    ConnectionKind kind;
    std::vector<ConnectionAuth> allowed;
  } cases[] = {
      {ConnectionKind::Ssh, {Password, PublicKey}},
      {ConnectionKind::Vnc, {Password}},
      {ConnectionKind::Rdp, {Password}},
      {ConnectionKind::Kivo, {DeviceIdentity}},
  };
  for (const auto& c : cases) {
    auto allowed = allowed_auths(c.kind);
    EXPECT_EQ(std::vector<ConnectionAuth>(allowed.begin(), allowed.end()), c.allowed);
    for (ConnectionAuth auth : kAllAuths) {
      const bool listed = std::find(c.allowed.begin(), c.allowed.end(), auth) != c.allowed.end();
      EXPECT_EQ(auth_allowed(c.kind, auth), listed);
    }
  }
}

TEST(ProfileForm, TrimAndPortParsing) {
  const struct {
    std::string_view in, out;
  } trims[] = {
      {"  a b  ", "a b"},
      {"\t\r\n x \v\f", "x"},
      {"\u00a0\u3000name\u2003\u2029", "name"},
      {"\u200bname", "\u200bname"},  // zero-width space is not white space
      {"\xe2\x80", "\xe2\x80"},      // a cut sequence is kept, not eaten
      {" \xff ", "\xff"},
      {"", ""},
      {" \u00a0 ", ""},
  };
  for (const auto& t : trims) EXPECT_EQ(trim_text(t.in), t.out) << t.in;

  const struct {
    std::string_view text;
    std::optional<std::uint16_t> port;
  } ports[] = {
      {"22", 22},         {" 22 ", 22},    {"+22", 22},   {"0", 0},        {"65535", 65535},
      {"00022", 22},      {"65536", {}},   {"-1", {}},    {"22a", {}},     {"", {}},
      {"+", {}},          {"++22", {}},    {"2 2", {}},   {"0x16", {}},    {"99999999999", {}},
      {"\u00a022\t", 22}, {"\u0662\u0662", {}},  // Arabic-Indic digits are not decimal digits here
  };
  for (const auto& p : ports) EXPECT_EQ(parse_port(p.text), p.port) << p.text;
}

TEST(ProfileForm, NewAndExistingForms) {
  const ConnectionForm fresh = ConnectionForm::new_form();
  EXPECT_EQ(fresh, (ConnectionForm{"", "", "22", "", "", ConnectionKind::Ssh, ConnectionAuth::Password}));

  ConnectionProfile profile;
  profile.name = "Lab";
  profile.host = "lab.example";
  profile.port = 2222;
  profile.user = "ops";
  profile.group = "Work";
  profile.kind = ConnectionKind::Ssh;
  profile.auth = ConnectionAuth::PublicKey;
  EXPECT_EQ(ConnectionForm::from_profile(profile),
            (ConnectionForm{"Lab", "lab.example", "2222", "ops", "Work", ConnectionKind::Ssh,
                            ConnectionAuth::PublicKey}));
}

TEST(ProfileForm, ProfileFromForm) {
  const kivo::Uuid id = kivo::Uuid::new_v4();
  const struct {
    ConnectionForm form;
    std::string name, host, user, group;
    std::uint16_t port;
  } cases[] = {
      {{" Lab ", " lab.example\t", " 2222 ", " ops ", " Work ", ConnectionKind::Ssh, ConnectionAuth::Password},
       "Lab", "lab.example", "ops", "Work", 2222},
      {{"Desk", "desk", "+5901", "ignored", "", ConnectionKind::Vnc, ConnectionAuth::Password},
       "Desk", "desk", "", "", 5901},
      {{"Win", "win", "nope", " admin ", "", ConnectionKind::Rdp, ConnectionAuth::Password},
       "Win", "win", "admin", "", 3389},
      {{"Ssh", "h", "70000", "", "", ConnectionKind::Ssh, ConnectionAuth::Password}, "Ssh", "h", "", "", 22},
      {{"Vnc", "h", "", "", "", ConnectionKind::Vnc, ConnectionAuth::Password}, "Vnc", "h", "", "", 5900},
      {{"Tablet", " node ", "22", "someone", "g", ConnectionKind::Kivo, ConnectionAuth::DeviceIdentity},
       "Tablet", "node", "", "g", 0},
      {{"Zero", "h", "0", "", "", ConnectionKind::Ssh, ConnectionAuth::Password}, "Zero", "h", "", "", 0},
  };
  for (const auto& c : cases) {
    const ConnectionProfile p = profile_from_form(c.form, id);
    SCOPED_TRACE(c.form.name);
    EXPECT_EQ(p.id, id);
    EXPECT_EQ(p.name, c.name);
    EXPECT_EQ(p.host, c.host);
    EXPECT_EQ(p.user, c.user);
    EXPECT_EQ(p.group, c.group);
    EXPECT_EQ(p.port, c.port);
    EXPECT_EQ(p.kind, c.form.kind);
    EXPECT_EQ(p.auth, c.form.auth);
    EXPECT_FALSE(p.favorite);
    EXPECT_EQ(p.last_used, "Never");
    EXPECT_EQ(p.presence, Presence::Unknown);
  }
}

TEST(ProfileForm, ValidateForm) {
  using K = ConnectionKind;
  using A = ConnectionAuth;
  const std::string endpoint = endpoint_text();
  const std::string ssh_method = "SSH profiles support password or public-key authentication.";
  const std::string port = std::string(kPortOutOfRange);
  const std::string node = std::string(kKivoHostNotEndpointId);
  const struct {
    ConnectionForm form;
    std::vector<std::string> problems;
  } cases[] = {
      {{"Lab", "lab", "22", "", "", K::Ssh, A::Password}, {}},
      {{"Lab", "lab", " 22 ", "", "", K::Ssh, A::PublicKey}, {}},
      {{"Lab", "lab", "+22", "", "", K::Ssh, A::Password}, {}},
      {{"Lab", "lab", "0", "", "", K::Ssh, A::Password}, {port}},
      {{"Lab", "lab", "65536", "", "", K::Ssh, A::Password}, {port}},
      {{"Lab", "lab", "-1", "", "", K::Ssh, A::Password}, {port}},
      {{"Lab", "lab", "22a", "", "", K::Vnc, A::Password}, {port}},
      {{"", "", "", "", "", K::Ssh, A::Password}, {"Name is required", "Host is required", port}},
      {{"  ", "\t", "22", "", "", K::Ssh, A::Password}, {"Name is required", "Host is required"}},
      {{"", "lab", "22", "", "", K::Ssh, A::DeviceIdentity}, {"Name is required", ssh_method}},
      {{"D", "d", "5900", "", "", K::Vnc, A::PublicKey}, {"VNC profiles support password authentication only."}},
      {{"W", "w", "3389", "", "", K::Rdp, A::DeviceIdentity}, {"RDP profiles support password authentication only."}},
      {{"T", endpoint, "", "", "", K::Kivo, A::Password}, {"Kivo device profiles must use Kivo device identity."}},
      // Device profiles have no port: whatever the port field holds is ignored.
      {{"T", endpoint, "not a port", "", "", K::Kivo, A::DeviceIdentity}, {}},
      {{"T", " " + endpoint + "\n", "0", "", "", K::Kivo, A::DeviceIdentity}, {}},
      {{"T", "tablet.local", "", "", "", K::Kivo, A::DeviceIdentity}, {node}},
      {{"T", endpoint.substr(1), "", "", "", K::Kivo, A::DeviceIdentity}, {node}},
      {{"T", "", "", "", "", K::Kivo, A::DeviceIdentity}, {"Host is required"}},
      {{"", "x", "x", "", "", K::Kivo, A::Password}, {"Name is required", "Kivo device profiles must use Kivo device identity."}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(validate_form(c.form), c.problems) << c.form.name << "/" << c.form.host << "/" << c.form.port;
  }

  // The same target check decides on a saved profile; a host is only checked for device kinds.
  EXPECT_EQ(validate_target(K::Ssh, "", A::Password), std::nullopt);
  EXPECT_EQ(validate_target(K::Kivo, "  ", A::DeviceIdentity), std::nullopt);
  EXPECT_EQ(validate_target(K::Kivo, endpoint, A::DeviceIdentity), std::nullopt);
  EXPECT_EQ(validate_target(K::Vnc, endpoint, A::Password), std::nullopt);
}

TEST(ProfileForm, VisibleProblemsFollowTouchedFieldsUntilSaveIsAttempted) {
  const std::string port = std::string(kPortOutOfRange);
  const std::string node = std::string(kKivoHostNotEndpointId);
  const ConnectionForm empty_ssh{"", "", "0", "", "", ConnectionKind::Ssh, ConnectionAuth::DeviceIdentity};
  const ConnectionForm bad_device{"T", "x", "", "", "", ConnectionKind::Kivo, ConnectionAuth::DeviceIdentity};
  const std::string method = "SSH profiles support password or public-key authentication.";
  const struct {
    ConnectionForm form;
    ProblemVisibility seen;
    std::vector<std::string> shown;
  } cases[] = {
      {empty_ssh, {}, {}},
      {empty_ssh, {.name_touched = true}, {"Name is required"}},
      {empty_ssh, {.host_touched = true}, {"Host is required"}},
      {empty_ssh, {.port_touched = true}, {port}},
      {empty_ssh, {.name_touched = true, .host_touched = true, .port_touched = true},
       {"Name is required", "Host is required", port}},
      // A method mismatch belongs to no field and waits for a save attempt.
      {empty_ssh, {.save_attempted = true}, {"Name is required", "Host is required", port, method}},
      {bad_device, {.name_touched = true, .port_touched = true}, {}},
      {bad_device, {.host_touched = true}, {node}},
  };
  for (const auto& c : cases) EXPECT_EQ(visible_form_problems(c.form, c.seen), c.shown);
}

}  // namespace
}  // namespace remote::doc
