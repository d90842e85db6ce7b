// Request parsing, socket locations and the codecs, without a running endpoint.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "kivo/automation/client.h"
#include "kivo/automation/paths.h"
#include "kivo/automation/protocol.h"

namespace kivo::automation {
namespace {

TEST(Protocol, RefusesMalformedRequestsWithACodeAndTheirId) {
  const std::string deep = std::string(40, '[') + std::string(40, ']');
  struct Case {
    std::string line;
    std::string code;
    nlohmann::json id;
  };
  const std::vector<Case> cases = {
      {"not json", "bad_request", nullptr},
      {"[1,2]", "bad_request", nullptr},
      {R"({"command":5})", "bad_request", nullptr},
      {R"({"id":7})", "bad_request", 7},
      {R"({"id":[1],"command":"tree"})", "bad_request", nullptr},
      {R"({"id":"a","command":"fly"})", "unknown_command", "a"},
      {R"({"command":"tree","command":"screenshot"})", "bad_request", nullptr},
      {R"({"command":"dispatch","type":"x","payload":{"a":1,"a":2}})", "bad_request", nullptr},
      {R"({"command":"dispatch","payload":{}})", "bad_request", nullptr},
      {R"({"command":"dispatch","type":"","payload":{}})", "bad_request", nullptr},
      {R"({"command":"dispatch","type":"x"})", "bad_request", nullptr},
      {R"({"id":1,"command":"dispatch","type":"x","payload":1,"caller":"me"})", "bad_request", 1},
      {R"({"command":"invoke","resource":"r"})", "bad_request", nullptr},
      {R"({"command":"invoke","resource":"r","action":"a","arguments":[1]})", "bad_request", nullptr},
      {R"({"command":"poll","invocation":"00"})", "bad_request", nullptr},
      {R"({"command":"poll","invocation":"zz000000000000000000000000000000"})", "bad_request", nullptr},
      {R"({"command":"poll","invocation":"00000000000000000000000000000000","cancel":"yes"})", "bad_request", nullptr},
      {R"({"command":"journal","since":-1})", "bad_request", nullptr},
      {R"({"command":"journal","since":1.5})", "bad_request", nullptr},
      {R"({"command":"semantic-action","element":"e","action":"smash"})", "bad_request", nullptr},
      {R"({"command":"semantic-action","element":"e","action":"set-value"})", "bad_request", nullptr},
      {R"({"command":"semantic-action","element":3})", "bad_request", nullptr},
      {"{\"command\":\"tree\",\"x\":\"\xff\"}", "bad_request", nullptr},
      {R"({"command":"dispatch","type":"x","payload":)" + deep + "}", "bad_request", nullptr},
      {std::string(kMaxRequestBytes + 1, ' '), "request_too_large", nullptr},
  };
  for (const auto& c : cases) {
    const auto parsed = parse_request(c.line);
    ASSERT_FALSE(parsed) << c.line.substr(0, 80);
    EXPECT_EQ(parsed.error().code, c.code) << c.line.substr(0, 80) << ": " << parsed.error().message;
    EXPECT_EQ(parsed.error().id, c.id) << c.line.substr(0, 80);
  }
}

TEST(Protocol, ParsesEveryCommand) {
  const auto dispatch = parse_request(
      R"({"id":"d1","command":"dispatch","type":"t.edit","payload":{"Rename":{"to":"x"}},"caller":{"app_id":"io.x"}})");
  ASSERT_TRUE(dispatch) << dispatch.error().message;
  EXPECT_EQ(dispatch->id, "d1");
  const auto& d = std::get<command::Dispatch>(dispatch->command);
  EXPECT_EQ(d.action.type_name, "t.edit");
  EXPECT_EQ(nlohmann::json::parse(d.action.payload), nlohmann::json::parse(R"({"Rename":{"to":"x"}})"));
  ASSERT_TRUE(d.caller);
  EXPECT_EQ(d.caller->app_id, "io.x");

  const auto invoke = parse_request(R"({"command":"invoke","resource":"r","action":"a","arguments":{"value":"v","n":2}})");
  ASSERT_TRUE(invoke);
  const auto& i = std::get<command::Invoke>(invoke->command);
  EXPECT_EQ(i.arguments.text("value"), "v");
  EXPECT_EQ(i.arguments.text("n"), std::nullopt);  // present, but not text
  EXPECT_TRUE(i.arguments.contains("n"));

  const auto poll = parse_request(R"({"command":"poll","invocation":"000102030405060708090A0B0C0D0E0F","cancel":true})");
  ASSERT_TRUE(poll);
  const auto& p = std::get<command::Poll>(poll->command);
  EXPECT_EQ(p.invocation[10], 10);
  EXPECT_TRUE(p.cancel);

  const auto set_value = parse_request(R"({"command":"semantic-action","element":"f","action":"set-value","value":"hi"})");
  ASSERT_TRUE(set_value);
  const auto& s = std::get<command::SemanticAction>(set_value->command);
  EXPECT_EQ(s.action.kind, ui::a11y::SemanticActionKind::SetValue);
  EXPECT_EQ(s.action.value, "hi");
  const auto press = parse_request(R"({"command":"semantic-action","element":"b"})");
  ASSERT_TRUE(press);
  EXPECT_EQ(std::get<command::SemanticAction>(press->command).action.kind, ui::a11y::SemanticActionKind::Primary);

  const auto journal = parse_request(R"({"command":"journal","since":18446744073709551615})");
  ASSERT_TRUE(journal);
  EXPECT_EQ(std::get<command::Journal>(journal->command).since, 18446744073709551615ull);
  for (const std::string name : {"resources", "tree", "screenshot"}) {
    const auto plain = parse_request(R"({"command":")" + name + R"(","extra":{"ignored":true}})");
    ASSERT_TRUE(plain) << name;
    EXPECT_EQ(plain->name, name);
  }
}

TEST(Protocol, CodecsRoundTripAndRefuseGarbage) {
  const std::vector<std::uint8_t> bytes = {0, 1, 0x7f, 0x80, 0xfe, 0xff, 42};
  EXPECT_EQ(hex_encode(bytes), "00017f80feff2a");
  EXPECT_EQ(hex_decode("00017F80feff2a"), bytes);
  EXPECT_EQ(hex_decode("0"), std::nullopt);
  EXPECT_EQ(hex_decode("0g"), std::nullopt);
  for (std::size_t n = 0; n <= bytes.size(); ++n) {
    const std::vector<std::uint8_t> part(bytes.begin(), bytes.begin() + static_cast<long>(n));
    EXPECT_EQ(base64_decode(base64_encode(part)), part) << n;
  }
  EXPECT_EQ(base64_encode(std::vector<std::uint8_t>{'M', 'a'}), "TWE=");
  EXPECT_EQ(base64_decode("TW!="), std::nullopt);
  EXPECT_EQ(base64_decode("TWE"), std::nullopt);
}

class Env {
 public:
  Env(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~Env() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(Paths, SocketLivesInTheRuntimeDirectoryOrAPerUserFallback) {
  {
    Env runtime("XDG_RUNTIME_DIR", "/run/user/1000");
    EXPECT_EQ(socket_path("io.kivo.remote"), std::filesystem::path("/run/user/1000/kivo/io.kivo.remote.sock"));
    for (const char* bad : {"", ".hidden", "a/b", "..", "a b"}) EXPECT_FALSE(socket_path(bad)) << bad;
    EXPECT_FALSE(socket_path(std::string(120, 'a')));
  }
  for (const char* unusable : {static_cast<const char*>(nullptr), "relative/dir"}) {
    Env runtime("XDG_RUNTIME_DIR", unusable);
    EXPECT_EQ(socket_path("io.kivo.remote"),
              std::filesystem::path("/tmp/kivo-" + std::to_string(geteuid()) + "/io.kivo.remote.sock"));
  }
}

TEST(Paths, PrivateDirectoryIsCreatedOrRefusedWhenOthersCouldReachIt) {
  char templ[] = "/tmp/kivo-paths-XXXXXX";
  ASSERT_NE(mkdtemp(templ), nullptr);
  const std::filesystem::path base(templ);

  const auto created = base / "new";
  ASSERT_TRUE(ensure_private_directory(created));
  struct stat st{};
  ASSERT_EQ(stat(created.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_TRUE(ensure_private_directory(created));  // already there and fine

  const auto open_to_group = base / "group";
  ASSERT_EQ(mkdir(open_to_group.c_str(), 0700), 0);
  ASSERT_EQ(chmod(open_to_group.c_str(), 0750), 0);
  const auto link = base / "link";
  std::filesystem::create_directory_symlink(created, link);
  const auto file = base / "file";
  { std::ofstream(file.string()) << "x"; }
  for (const auto& refused : {open_to_group, link, file, base / "missing-parent" / "dir"}) {
    EXPECT_FALSE(ensure_private_directory(refused)) << refused;
  }
  if (geteuid() == 0) {
    const auto foreign = base / "foreign";
    ASSERT_EQ(mkdir(foreign.c_str(), 0700), 0);
    ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
    const auto refused = ensure_private_directory(foreign);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().find("another user"), std::string::npos) << refused.error();
  }
  std::filesystem::remove_all(base);
}

}  // namespace
}  // namespace kivo::automation
