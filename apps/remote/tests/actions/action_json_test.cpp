#include "actions/action_json.h"

#include <gtest/gtest.h>

namespace remote::actions {
namespace {

using doc::ConnectionAuth;
using doc::ConnectionKind;

const kivo::Uuid kId = *kivo::Uuid::parse("0f8fad5b-d9cb-469f-a165-70867728950e");
constexpr std::string_view kIdText = "0f8fad5b-d9cb-469f-a165-70867728950e";

std::string with_id(std::string_view pattern) {
  std::string out(pattern);
  for (std::size_t at = out.find("ID"); at != std::string::npos; at = out.find("ID", at + kIdText.size())) {
    out.replace(at, 2, kIdText);
  }
  return out;
}

TEST(RemoteActionJson, WrittenFormsAndRoundTrips) {
  const UpsertConnection upsert{kId, "Lab \"1\"", "lab.example", 2222, "ops", ConnectionKind::Vnc,
                                ConnectionAuth::PublicKey, "Work"};
  const struct {
    RemoteAction action;
    std::string json;
  } actions[] = {
      {upsert,
       with_id(R"({"UpsertConnection":{"id":"ID","name":"Lab \"1\"","host":"lab.example","port":2222,)"
               R"("user":"ops","kind":"Vnc","auth":"PublicKey","group":"Work"}})")},
      {RenameConnection{kId, "New"}, with_id(R"({"RenameConnection":{"id":"ID","name":"New"}})")},
      {SetFavorite{kId, true}, with_id(R"({"SetFavorite":{"id":"ID","favorite":true}})")},
      {DeleteConnection{kId}, with_id(R"({"DeleteConnection":{"id":"ID"}})")},
  };
  for (const auto& c : actions) {
    const kivo::actions::EncodedAction encoded = encode_action(c.action);
    EXPECT_EQ(encoded.type_name, "remote.action");
    EXPECT_EQ(encoded.payload, c.json);
    auto back = parse_action(encoded.payload);
    ASSERT_TRUE(back.has_value()) << back.error();
    EXPECT_EQ(*back, c.action);
  }

  const struct {
    RemoteOperation operation;
    std::string json;
  } operations[] = {
      {ShowConnections{}, R"("ShowConnections")"},
      {NewConnectionForm{}, R"("NewConnectionForm")"},
      {EditConnection{kId}, with_id(R"({"EditConnection":{"connection_id":"ID"}})")},
      {Connect{kId}, with_id(R"({"Connect":{"connection_id":"ID"}})")},
      {Disconnect{kId}, with_id(R"({"Disconnect":{"connection_id":"ID"}})")},
      {SendText{kId, "ls -l\n\u00e9"}, with_id(R"({"SendText":{"connection_id":"ID","text":"ls -l\n)"
                                                "\u00e9" R"("}})")},
      {TrustSshHostKey{kId, {"ssh-ed25519", "SHA256:abc+/"}},
       with_id(R"({"TrustSshHostKey":{"connection_id":"ID","observed":{"algorithm":"ssh-ed25519",)"
               R"("fingerprint":"SHA256:abc+/"}}})")},
      {ForgetSshHostKey{kId}, with_id(R"({"ForgetSshHostKey":{"connection_id":"ID"}})")},
  };
  for (const auto& c : operations) {
    const kivo::actions::EncodedAction encoded = encode_operation(c.operation);
    EXPECT_EQ(encoded.type_name, "remote.operation");
    EXPECT_EQ(encoded.payload, c.json);
    auto back = decode_operation("remote.operation", encoded.payload);
    ASSERT_TRUE(back.has_value());
    ASSERT_TRUE(back->has_value()) << back->error();
    EXPECT_EQ(**back, c.operation);
  }
}

TEST(RemoteActionJson, TextThatIsNotUtf8) {
  // A document edit is still written, with replacement characters; an operation is not
  // altered behind the sender's back: its payload is left empty and fails when read.
  const auto action = encode_action(RenameConnection{kId, "bad \xff name"});
  auto back = parse_action(action.payload);
  ASSERT_TRUE(back.has_value()) << back.error();
  EXPECT_EQ(std::get<RenameConnection>(*back).name, "bad \ufffd name");

  const auto operation = encode_operation(SendText{kId, "rm \xff"});
  EXPECT_EQ(operation.type_name, "remote.operation");
  EXPECT_EQ(operation.payload, "");
  EXPECT_FALSE(parse_operation(operation.payload).has_value());
}

TEST(RemoteActionJson, ReaderAccepts) {
  const UpsertConnection upsert{kId, "Lab", "h", 22, "u", ConnectionKind::Ssh, ConnectionAuth::Password, "g"};
  const struct {
    std::string payload;
    RemoteAction expected;
  } actions[] = {
      // Fields as an array in declaration order.
      {with_id(R"({"UpsertConnection":["ID","Lab","h",22,"u","Ssh","Password","g"]})"), upsert},
      // Any member order, unknown members ignored (even repeated ones), white space around.
      {with_id(R"( { "UpsertConnection" : {"group":"g","auth":"Password","kind":"Ssh","user":"u",)"
               R"("port":22,"host":"h","name":"Lab","id":"ID","favorite":true,"x":1,"x":2} } )"),
       upsert},
      // Every standard UUID text form, either case.
      {R"({"DeleteConnection":{"id":"0F8FAD5B-D9CB-469F-A165-70867728950E"}})", DeleteConnection{kId}},
      {R"({"DeleteConnection":{"id":"0f8fad5bd9cb469fa16570867728950e"}})", DeleteConnection{kId}},
      {R"({"DeleteConnection":{"id":"{0f8fad5b-d9cb-469f-a165-70867728950e}"}})", DeleteConnection{kId}},
      {R"({"DeleteConnection":{"id":"urn:uuid:0f8fad5b-d9cb-469f-a165-70867728950e"}})", DeleteConnection{kId}},
      {with_id(R"({"SetFavorite":["ID",false]})"), SetFavorite{kId, false}},
      {with_id(R"({"RenameConnection":{"name":"","id":"ID"}})"), RenameConnection{kId, ""}},
      {with_id(R"({"UpsertConnection":["ID","Lab","h",65535,"u","Ssh","Password","g"]})"),
       UpsertConnection{kId, "Lab", "h", 65535, "u", ConnectionKind::Ssh, ConnectionAuth::Password, "g"}},
      {with_id(R"({"UpsertConnection":["ID","T","n",0,"",{"Kivo":null},"DeviceIdentity",""]})"),
       UpsertConnection{kId, "T", "n", 0, "", ConnectionKind::Kivo, ConnectionAuth::DeviceIdentity, ""}},
  };
  for (const auto& c : actions) {
    auto got = parse_action(c.payload);
    ASSERT_TRUE(got.has_value()) << c.payload << ": " << got.error();
    EXPECT_EQ(*got, c.expected) << c.payload;
  }

  const struct {
    std::string payload;
    RemoteOperation expected;
  } operations[] = {
      {R"("ShowConnections")", ShowConnections{}},
      {R"({"NewConnectionForm":null})", NewConnectionForm{}},
      {with_id(R"({"SendText":["ID","pwd"]})"), SendText{kId, "pwd"}},
      {with_id(R"({"TrustSshHostKey":{"observed":["rsa-sha2-512","SHA256:x"],"connection_id":"ID"}})"),
       TrustSshHostKey{kId, {"rsa-sha2-512", "SHA256:x"}}},
      {with_id(R"({"Connect":["ID"]})"), Connect{kId}},
  };
  for (const auto& c : operations) {
    auto got = parse_operation(c.payload);
    ASSERT_TRUE(got.has_value()) << c.payload << ": " << got.error();
    EXPECT_EQ(*got, c.expected) << c.payload;
  }
}

TEST(RemoteActionJson, ReaderRefusals) {
  const std::string upsert_fields = R"("id":"ID","name":"n","host":"h","user":"u","kind":"Ssh","auth":"Password")";
  const struct {
    bool operation;
    std::string payload;
    std::string message;
  } cases[] = {
      {false, with_id(R"({"UpsertConnection":{)" + upsert_fields + R"(,"port":22}})"), "missing field `group`"},
      {false, with_id(R"({"UpsertConnection":{)" + upsert_fields + R"(,"group":"g"}})"), "missing field `port`"},
      {false, with_id(R"({"UpsertConnection":{)" + upsert_fields + R"(,"port":70000,"group":"g"}})"),
       "invalid value: integer `70000`, expected u16"},
      {false, with_id(R"({"UpsertConnection":{)" + upsert_fields + R"(,"port":65536,"group":"g"}})"),
       "invalid value: integer `65536`, expected u16"},
      {false, with_id(R"({"UpsertConnection":{)" + upsert_fields + R"(,"port":-1,"group":"g"}})"),
       "invalid value: integer `-1`, expected u16"},
      {false, with_id(R"({"UpsertConnection":{)" + upsert_fields + R"(,"port":"22","group":"g"}})"),
       R"(invalid type: string "22", expected u16)"},
      {false, with_id(R"({"UpsertConnection":{)" + upsert_fields + R"(,"port":22.5,"group":"g"}})"),
       "invalid type: floating point `22.5`, expected u16"},
      {false, with_id(R"({"UpsertConnection":{)" + upsert_fields + R"(,"port":1e30,"group":"g"}})"),
       "invalid type: floating point `1e30`, expected u16"},
      {false, with_id(R"({"UpsertConnection":{)" + upsert_fields + R"(,"port":22,"group":null}})"),
       "invalid type: null, expected a string"},
      {false, with_id(R"({"DeleteConnection":{"id":"ID","id":"ID"}})"), "duplicate field `id`"},
      {false, with_id(R"({"RenameConnection":{"id":"ID","name":"a","name":5}})"), "duplicate field `name`"},
      {false, R"({"Foo":{}})",
       "unknown variant `Foo`, expected one of `UpsertConnection`, `RenameConnection`, `SetFavorite`, "
       "`DeleteConnection`"},
      {false, with_id(R"({"UpsertConnection":["ID","n","h",22,"u","ssh","Password","g"]})"),
       "unknown variant `ssh`, expected one of `Ssh`, `Vnc`, `Rdp`, `Kivo`"},
      {false, with_id(R"({"UpsertConnection":["ID","n","h",22,"u","Ssh","Public key","g"]})"),
       "unknown variant `Public key`, expected one of `Password`, `PublicKey`, `DeviceIdentity`"},
      {false, with_id(R"({"UpsertConnection":["ID","n","h",22,"u",1,"Password","g"]})"),
       "invalid type: integer `1`, expected enum ConnectionKind"},
      {false, with_id(R"({"UpsertConnection":["ID","n","h",22]})"),
       "invalid length 4, expected struct variant RemoteAction::UpsertConnection with 8 elements"},
      {false, with_id(R"({"SetFavorite":{"id":"ID","favorite":"true"}})"),
       R"(invalid type: string "true", expected a boolean)"},
      {false, with_id(R"({"SetFavorite":["ID",true,true]})"),
       "invalid length 3, expected struct variant RemoteAction::SetFavorite with 2 elements"},
      {false, R"({"DeleteConnection":{"id":"not-a-uuid"}})", R"(invalid value: string "not-a-uuid", expected a UUID)"},
      {false, R"({"DeleteConnection":{"id":42}})", "invalid type: integer `42`, expected a UUID string"},
      {false, R"({"DeleteConnection":[]})",
       "invalid length 0, expected struct variant RemoteAction::DeleteConnection with 1 element"},
      {false, R"("DeleteConnection")",
       "invalid type: unit variant, expected struct variant RemoteAction::DeleteConnection"},
      {false, with_id(R"("ShowConnections")"),
       "unknown variant `ShowConnections`, expected one of `UpsertConnection`, `RenameConnection`, "
       "`SetFavorite`, `DeleteConnection`"},
      {true, R"({"ShowConnections":{}})", "invalid type: map, expected unit variant"},
      {true, with_id(R"({"SendText":["ID"]})"),
       "invalid length 1, expected struct variant RemoteOperation::SendText with 2 elements"},
      {true, with_id(R"({"Connect":["ID","ID"]})"),
       "invalid length 2, expected struct variant RemoteOperation::Connect with 1 element"},
      {true, R"("Connect")", "invalid type: unit variant, expected struct variant RemoteOperation::Connect"},
      {true, R"({"Connect":5})", "invalid type: integer `5`, expected struct variant RemoteOperation::Connect"},
      {true, R"({})", "invalid value: map, expected map with a single key"},
      {true, with_id(R"({"Connect":{"connection_id":"ID"},"Disconnect":{"connection_id":"ID"}})"),
       "invalid value: map, expected map with a single key"},
      {true, R"(5)", "invalid type: integer `5`, expected enum RemoteOperation"},
      {true, R"([1])", "invalid type: sequence, expected enum RemoteOperation"},
      {true, with_id(R"({"TrustSshHostKey":{"connection_id":"ID","observed":{"algorithm":"ssh-ed25519"}}})"),
       "missing field `fingerprint`"},
      {true, with_id(R"({"TrustSshHostKey":{"connection_id":"ID","observed":["ssh-ed25519"]}})"),
       "invalid length 1, expected struct HostKeyIdentity with 2 elements"},
      {true, with_id(R"({"TrustSshHostKey":{"connection_id":"ID","observed":"SHA256:x"}})"),
       R"(invalid type: string "SHA256:x", expected struct HostKeyIdentity)"},
      {true, with_id(R"({"SendText":{"connection_id":"ID","text":false}})"),
       "invalid type: boolean `false`, expected a string"},
      // The first problem in the payload's order is the one reported.
      {true, R"({"SendText":{"text":1,"connection_id":"x"}})", "invalid type: integer `1`, expected a string"},
      {true, with_id(R"({"UpsertConnection":{"id":"ID"}})"),
       "unknown variant `UpsertConnection`, expected one of `ShowConnections`, `NewConnectionForm`, "
       "`EditConnection`, `Connect`, `Disconnect`, `SendText`, `TrustSshHostKey`, `ForgetSshHostKey`"},
  };
  for (const auto& c : cases) {
    std::optional<std::string> error;
    if (c.operation) {
      auto result = parse_operation(c.payload);
      if (!result) error = result.error();
    } else {
      auto result = parse_action(c.payload);
      if (!result) error = result.error();
    }
    ASSERT_TRUE(error.has_value()) << c.payload;
    EXPECT_EQ(*error, c.message) << c.payload;
  }
}

TEST(RemoteActionJson, MalformedJsonIsRefusedWithTheParserReason) {
  const std::string deep = std::string(500, '[') + std::string(500, ']');
  const std::string_view payloads[] = {"", "{", R"("ShowConnections" x)", R"({"Connect":{"connection_id":})",
                                       "\"\xff\"", "'ShowConnections'"};
  for (std::string_view payload : payloads) {
    auto result = parse_operation(payload);
    ASSERT_FALSE(result.has_value()) << payload;
    EXPECT_TRUE(result.error().starts_with("parse error") || result.error().starts_with("syntax error"))
        << result.error();
  }
  // The parser's quote of what it read is kept valid UTF-8, so the message can travel as JSON.
  auto bad_bytes = parse_operation("\"\xff\"");
  ASSERT_FALSE(bad_bytes.has_value());
  EXPECT_EQ(bad_bytes.error().find('\xff'), std::string::npos);
  EXPECT_NE(bad_bytes.error().find("\ufffd"), std::string::npos) << bad_bytes.error();

  auto nested = parse_operation(deep);
  ASSERT_FALSE(nested.has_value());
  EXPECT_EQ(nested.error(), "recursion limit exceeded");
}

TEST(RemoteActionJson, DecodeOperationTellsForeignTypesFromFailures) {
  const std::string connect = with_id(R"({"Connect":{"connection_id":"ID"}})");
  EXPECT_FALSE(decode_operation("remote.action", connect).has_value());
  EXPECT_FALSE(decode_operation("remote.operation ", connect).has_value());
  EXPECT_FALSE(decode_operation("Remote.Operation", connect).has_value());
  auto failed = decode_operation("remote.operation", R"({"Connect":{}})");
  ASSERT_TRUE(failed.has_value());
  ASSERT_FALSE(failed->has_value());
  EXPECT_EQ(failed->error(), "missing field `connection_id`");
}

TEST(RemoteActionJson, OperationClassesAndDescriptions) {
  using kivo::actions::OperationClass;
  const struct {
    RemoteOperation operation;
    OperationClass expected;
  } cases[] = {
      {ShowConnections{}, OperationClass::View},    {NewConnectionForm{}, OperationClass::View},
      {EditConnection{kId}, OperationClass::View},  {Connect{kId}, OperationClass::Effect},
      {Disconnect{kId}, OperationClass::Effect},    {SendText{kId, "x"}, OperationClass::Effect},
      {TrustSshHostKey{kId, {}}, OperationClass::Effect}, {ForgetSshHostKey{kId}, OperationClass::Effect},
  };
  for (const auto& c : cases) EXPECT_EQ(operation_class(c.operation), c.expected) << variant_name(c.operation);

  EXPECT_EQ(debug_description(RemoteAction{RenameConnection{kId, "a\"b"}}),
            with_id(R"(RenameConnection { id: ID, name: "a\"b" })"));
  EXPECT_EQ(debug_description(RemoteOperation{ShowConnections{}}), "ShowConnections");
  EXPECT_EQ(debug_description(RemoteOperation{TrustSshHostKey{kId, {"ssh-ed25519", "SHA256:x"}}}),
            with_id(R"(TrustSshHostKey { connection_id: ID, observed: HostKeyIdentity { algorithm: )"
                    R"("ssh-ed25519", fingerprint: "SHA256:x" } })"));
}

}  // namespace
}  // namespace remote::actions
