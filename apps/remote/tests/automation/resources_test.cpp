// The resource tree automation reads: what it offers for the stored profiles and the live
// session, with the labels, payloads, risks and availability a caller relies on.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <nlohmann/json.hpp>

#include "actions/action_json.h"
#include "app/remote_app.h"
#include "doc/store.h"
#include "kivo/doc/document.h"

namespace remote::app {
namespace {

using kivo::actions::ActionSpec;
using kivo::actions::EncodedAction;
using kivo::actions::Resource;
using nlohmann::json;

doc::ConnectionProfile profile(std::string name, doc::ConnectionKind kind = doc::ConnectionKind::Ssh,
                               doc::ConnectionAuth auth = doc::ConnectionAuth::Password,
                               std::string host = "lab.example") {
  doc::ConnectionProfile p;
  p.id = kivo::Uuid::new_v4();
  p.name = std::move(name);
  p.host = std::move(host);
  p.port = 22;
  p.kind = kind;
  p.auth = auth;
  return p;
}

// Actions as (name, label, risk ordinal) so a whole list compares in one line.
struct ActionRow {
  std::string name;
  std::string label;
  int risk;
  friend bool operator==(const ActionRow&, const ActionRow&) = default;
};

std::vector<ActionRow> rows(const Resource& resource) {
  std::vector<ActionRow> out;
  for (const auto& action : resource.actions) out.push_back({action.name, action.label, kivo::actions::ordinal(action.risk)});
  return out;
}

std::vector<std::string> tags(const ActionSpec& action) {
  return action.contract ? action.contract->capabilities : std::vector<std::string>{};
}

json payload_json(const ActionSpec& action, const kivo::actions::params::ActionArgs& args = {}) {
  auto encoded = action.encode(args);
  if (!encoded) {
    ADD_FAILURE() << action.name << ": " << encoded.error().display();
    return json();
  }
  return json::parse(encoded->payload);
}

class ResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("REMOTE_LIVE_SESSIONS", "", 1); }
  void TearDown() override { ::unsetenv("REMOTE_LIVE_SESSIONS"); }

  void store(const doc::ConnectionProfile& p) {
    doc::upsert_profile(document, p);
    if (p.favorite) doc::set_favorite(document, p.id, true);
    app.document_changed(document);
  }
  Resource root() {
    auto tree = app.action_resources(document);
    EXPECT_EQ(tree.size(), 1u) << "the connection list is the only top-level resource";
    return tree.empty() ? Resource{} : tree.front();
  }
  const Resource& child(const Resource& root, const std::string& id) {
    for (const auto& c : root.children) {
      if (c.id == id) return c;
    }
    ADD_FAILURE() << "no resource " << id;
    static const Resource none;
    return none;
  }

  kivo::doc::Document document;
  RemoteApp app{{}, {}};
};

TEST_F(ResourcesTest, AnEmptyDocumentOffersOnlyTheConnectionList) {
  app.document_changed(document);
  const Resource r = root();
  EXPECT_EQ(r.id, "remote.connections");
  EXPECT_EQ(r.kind, "remote.connection-list");
  EXPECT_EQ(r.label, "Remote connections");
  EXPECT_EQ(rows(r), (std::vector<ActionRow>{{"open", "Show connections", 2}, {"new", "New connection", 2}}));
  EXPECT_EQ(r.actions[0].fixed_payload()->type_name, "remote.operation");
  EXPECT_EQ(payload_json(r.actions[0]), json("ShowConnections"));
  EXPECT_EQ(payload_json(r.actions[1]), json("NewConnectionForm"));
  EXPECT_TRUE(r.children.empty());
}

TEST_F(ResourcesTest, EachStoredProfileIsAConnectionWithItsActions) {
  auto lab = profile("Lab");
  lab.favorite = true;
  store(lab);
  const std::string id = lab.id.to_string();
  const Resource tree = root();
  const Resource& r = child(tree, "remote.connection:" + id);
  EXPECT_EQ(r.kind, "remote.connection");
  EXPECT_EQ(r.label, "Lab");
  EXPECT_EQ(rows(r), (std::vector<ActionRow>{{"open", "Open connection settings", 2},
                                             {"connect", "Connect", 1},
                                             {"rename", "Rename connection", 0},
                                             {"favorite", "Remove from favourites", 0},
                                             {"delete", "Delete connection", 0}}));
  const auto& open = *r.find_action("open");
  const auto& connect = *r.find_action("connect");
  const auto& rename = *r.find_action("rename");
  const auto& favorite = *r.find_action("favorite");
  const auto& remove = *r.find_action("delete");

  EXPECT_EQ(payload_json(open), json::parse(R"({"EditConnection":{"connection_id":")" + id + R"("}})"));
  EXPECT_EQ(connect.fixed_payload()->type_name, "remote.operation");
  EXPECT_EQ(payload_json(connect), json::parse(R"({"Connect":{"connection_id":")" + id + R"("}})"));
  EXPECT_TRUE(connect.available());
  EXPECT_EQ(connect.description, "Open a live session to this saved connection. This transport is ready to connect.");
  EXPECT_EQ(tags(connect), (std::vector<std::string>{"network", "session"}));
  EXPECT_EQ(favorite.fixed_payload()->type_name, "remote.action");
  EXPECT_EQ(payload_json(favorite), json::parse(R"({"SetFavorite":{"id":")" + id + R"(","favorite":false}})"));
  EXPECT_TRUE(remove.is_destructive);
  EXPECT_FALSE(favorite.is_destructive);
  EXPECT_EQ(payload_json(remove), json::parse(R"({"DeleteConnection":{"id":")" + id + R"("}})"));
  EXPECT_FALSE(open.contract);
  EXPECT_FALSE(rename.contract);

  // Rename builds its document edit from the "value" argument; without one the name is empty.
  ASSERT_EQ(rename.params.size(), 1u);
  EXPECT_EQ(rename.params[0].key, "value");
  EXPECT_EQ(rename.params[0].label, "New name");
  EXPECT_EQ(rename.params[0].hint, "connection name");
  EXPECT_EQ(rename.type_name(), "remote.action");
  EXPECT_EQ(payload_json(rename, kivo::actions::params::ActionArgs().set_text("value", "Lab 2")),
            json::parse(R"({"RenameConnection":{"id":")" + id + R"(","name":"Lab 2"}})"));
  EXPECT_EQ(payload_json(rename), json::parse(R"({"RenameConnection":{"id":")" + id + R"(","name":""}})"));
  EXPECT_EQ(json::parse(rename.input_schema)["properties"]["value"]["x-hint"], "connection name");
}

TEST_F(ResourcesTest, ProfilesFollowTheDocumentInItsOrderAndAreLabelledByHostWithoutAName) {
  auto blank = profile(" \t ", doc::ConnectionKind::Ssh, doc::ConnectionAuth::Password, "blank.example");
  auto plain = profile("Plain");
  store(blank);
  store(plain);
  // Written by another device and not yet synchronised: the tree reads the document itself.
  auto late = profile("Late");
  doc::upsert_profile(document, late);

  const Resource r = root();
  std::vector<std::string> ids;
  for (const auto& c : r.children) ids.push_back(c.id);
  std::vector<std::string> expected;
  for (const auto& p : doc::read_profiles(document)) expected.push_back("remote.connection:" + p.id.to_string());
  EXPECT_EQ(ids, expected);
  EXPECT_EQ(ids.size(), 3u);
  EXPECT_EQ(child(r, "remote.connection:" + blank.id.to_string()).label, "blank.example");
  const auto& favorite = *child(r, "remote.connection:" + plain.id.to_string()).find_action("favorite");
  EXPECT_EQ(favorite.label, "Add to favourites");
  EXPECT_EQ(payload_json(favorite)["SetFavorite"]["favorite"], true);
}

TEST_F(ResourcesTest, ConnectIsUnavailableWithTheAvailabilityCodeAndReason) {
  using doc::ConnectionAuth;
  using doc::ConnectionKind;
  struct Case {
    const char* what;
    doc::ConnectionProfile profile;
    bool live_sessions;
    const char* code;
    const char* reason;
    const char* sentence;  // the end of the description
  };
  const char* kRdp = "RDP profiles are preserved, but this Kivo build has no RDP client backend.";
  const char* kIncompatible = "This saved connection has incompatible target or authentication settings.";
  const Case cases[] = {
      {"RDP", profile("Win", ConnectionKind::Rdp), true, "transport_backend_unavailable", kRdp, kRdp},
      {"VNC with a key", profile("Vnc", ConnectionKind::Vnc, ConnectionAuth::PublicKey), true,
       "invalid_connection_profile", "VNC profiles support password authentication only.", kIncompatible},
      {"SSH with a device identity", profile("Dev", ConnectionKind::Ssh, ConnectionAuth::DeviceIdentity), true,
       "invalid_connection_profile", "SSH profiles support password or public-key authentication.", kIncompatible},
      {"Kivo with a host that is no endpoint id",
       profile("Kivo", ConnectionKind::Kivo, ConnectionAuth::DeviceIdentity, "not-an-endpoint"), true,
       "invalid_connection_profile", "Kivo device node must be an exact certified endpoint id.", kIncompatible},
      {"SSH without live network access", profile("Ssh"), false, "live_session_capability_required",
       "SSH is installed, but this build has not been granted live network access.",
       "SSH is installed, but this build has not been granted live network access."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.live_sessions) {
      ::setenv("REMOTE_LIVE_SESSIONS", "", 1);
    } else {
      ::unsetenv("REMOTE_LIVE_SESSIONS");
    }
    kivo::doc::Document doc;
    doc::upsert_profile(doc, c.profile);
    auto tree = app.action_resources(doc);
    ASSERT_EQ(tree.size(), 1u);
    ASSERT_EQ(tree[0].children.size(), 1u);
    const auto& connect = *tree[0].children[0].find_action("connect");
    ASSERT_TRUE(connect.unavailability);
    EXPECT_EQ(connect.unavailability->code, c.code);
    EXPECT_EQ(connect.unavailability->reason, c.reason);
    EXPECT_EQ(*connect.description, std::string("Open a live session to this saved connection. ") + c.sentence);
    const auto refused = connect.encode({});
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code, c.code);
  }
}

TEST_F(ResourcesTest, TheLiveSessionFollowsItsHostKeyObservation) {
  auto lab = profile("Lab");
  store(lab);
  const std::string id = lab.id.to_string();
  const ssh::HostKeyIdentity seen{"ssh-ed25519", "SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"};
  const ssh::HostKeyIdentity pinned{"ssh-ed25519", "SHA256:BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB"};

  EXPECT_EQ(root().children.size(), 1u) << "no session resource without a live session";

  struct Case {
    const char* what;
    std::optional<ssh::HostKeyCheck> observation;
    std::vector<ActionRow> actions;
  };
  const ActionRow disconnect{"disconnect", "Disconnect session", 1};
  const ActionRow send{"send-text", "Send text to session", 1};
  const Case cases[] = {
      {"no observation", std::nullopt, {disconnect, send}},
      {"trusted", ssh::HostKeyCheck{ssh::Trusted{}}, {disconnect, send}},
      {"store unavailable", ssh::HostKeyCheck{ssh::StoreUnavailable{"broken"}}, {disconnect, send}},
      {"needs trust",
       ssh::HostKeyCheck{ssh::NeedsTrust{seen}},
       {disconnect, send, {"trust-host-key", "Trust SSH host key", 1}}},
      {"changed",
       ssh::HostKeyCheck{ssh::Changed{pinned, seen}},
       {disconnect, send, {"forget-host-key", "Forget SSH host key", 1}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    app.show_preview(lab.id, session::Preview{session::Failed{"refused"}, std::nullopt, c.observation});
    const Resource r = root();
    ASSERT_EQ(r.children.size(), 2u);
    const Resource& s = r.children.back();
    EXPECT_EQ(s.id, "remote.session:" + id);
    EXPECT_EQ(s.kind, "remote.session");
    EXPECT_EQ(s.label, "Lab session");
    EXPECT_EQ(rows(s), c.actions);

    const auto& d = *s.find_action("disconnect");
    EXPECT_EQ(payload_json(d), json::parse(R"({"Disconnect":{"connection_id":")" + id + R"("}})"));
    EXPECT_EQ(tags(d), (std::vector<std::string>{"network", "session"}));
    EXPECT_TRUE(d.available());
    if (const auto* trust = s.find_action("trust-host-key")) {
      EXPECT_EQ(trust->description, "Explicitly trust ssh-ed25519 " + seen.fingerprint +
                                        " for this device only after out-of-band verification.");
      EXPECT_EQ(tags(*trust), (std::vector<std::string>{"ssh", "host-key", "device-private"}));
      EXPECT_EQ(payload_json(*trust),
                json::parse(R"({"TrustSshHostKey":{"connection_id":")" + id +
                            R"(","observed":{"algorithm":"ssh-ed25519","fingerprint":")" + seen.fingerprint +
                            R"("}}})"));
    }
    if (const auto* forget = s.find_action("forget-host-key")) {
      EXPECT_EQ(forget->description,
                "Remove this device's stale SSH host-key pin; reconnect to inspect a replacement key.");
      EXPECT_EQ(tags(*forget), (std::vector<std::string>{"ssh", "host-key", "device-private"}));
      EXPECT_EQ(payload_json(*forget), json::parse(R"({"ForgetSshHostKey":{"connection_id":")" + id + R"("}})"));
    }
  }
}

TEST_F(ResourcesTest, SendTextNeedsAConnectedSshTerminal) {
  auto lab = profile("Lab");
  store(lab);
  // Connected, but no SSH worker behind it: nothing could receive the text.
  app.show_preview(lab.id, session::Preview{session::Connected{}, std::nullopt, std::nullopt});
  const Resource tree = root();
  const auto& send = *tree.children.back().find_action("send-text");
  ASSERT_TRUE(send.unavailability);
  EXPECT_EQ(send.unavailability->code, "terminal_not_connected");
  EXPECT_EQ(send.unavailability->reason, "Text input requires a connected SSH terminal");
  EXPECT_EQ(tags(send), (std::vector<std::string>{"remote-input", "session"}));
  EXPECT_EQ(send.type_name(), "remote.operation");
  ASSERT_EQ(send.params.size(), 1u);
  EXPECT_EQ(send.params[0].key, "text");
  EXPECT_EQ(send.params[0].label, "command or text");
  EXPECT_EQ(send.params[0].description, "Text to deliver to the connected SSH terminal");

  // The encoder itself (reached once the terminal is connected) builds the operation from "text".
  const auto& binding = std::get<kivo::actions::ArgumentBinding>(send.payload);
  const std::string id = lab.id.to_string();
  EXPECT_EQ(binding.encoder(kivo::actions::params::ActionArgs().set_text("text", "ls\n")),
            (EncodedAction{"remote.operation", R"({"SendText":{"connection_id":")" + id + R"(","text":"ls\n"}})"}));
  EXPECT_EQ(binding.encoder({}),
            (EncodedAction{"remote.operation", R"({"SendText":{"connection_id":")" + id + R"(","text":""}})"}));
}

TEST_F(ResourcesTest, ASessionWhoseProfileLeftTheListIsNotOffered) {
  auto lab = profile("Lab");
  store(lab);
  app.show_preview(lab.id, session::Preview{session::Failed{"refused"}, std::nullopt,
                                            ssh::HostKeyCheck{ssh::NeedsTrust{{"ssh-ed25519", "SHA256:x"}}}});
  // Deleting through the interface drops the profile from the list at once; the session
  // slot still holds its card until the next synchronisation.
  app.update(msg::RequestDelete{lab.id}, document);
  app.update(msg::ConfirmPending{}, document);
  ASSERT_TRUE(app.live_session());
  ASSERT_EQ(app.find_profile(lab.id), nullptr);
  const Resource r = root();
  EXPECT_TRUE(r.children.empty());
  EXPECT_EQ(r.find("remote.session:" + lab.id.to_string()), nullptr);
}

}  // namespace
}  // namespace remote::app
