// What callers can do wrong, or on purpose: the endpoint answers where it can, changes nothing
// and keeps serving everyone else.

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <fstream>

#include "endpoint_fixture.h"

namespace kivo::automation::test {
namespace {

using nlohmann::json;

TEST_F(EndpointTest, MalformedLinesGetErrorRepliesAndTheConnectionCarriesOn) {
  struct Case {
    std::string line;
    std::string code;
  };
  const std::vector<Case> cases = {
      {"garbage", "bad_request"},
      {"{\"command\":", "bad_request"},
      {"\x01\x02\xff\xfe", "bad_request"},
      {R"({"command":"explode"})", "unknown_command"},
      {R"({"command":"invoke","resource":7,"action":"show"})", "bad_request"},
      {R"({"command":"tree","command":"tree"})", "bad_request"},
      {std::string(5000, '[') + std::string(5000, ']'), "bad_request"},
  };
  for (const auto& c : cases) {
    const json reply = call(*client_, std::string_view(c.line));
    EXPECT_EQ(reply["ok"], false) << c.line.substr(0, 40);
    EXPECT_EQ(reply["code"], c.code) << c.line.substr(0, 40) << ": " << reply;
  }
  // Blank lines are not requests and get no reply.
  ASSERT_TRUE(client_->send_raw("\n \r\n"));
  const json reply = call({{"id", "after"}, {"command", "tree"}});
  EXPECT_EQ(reply["id"], "after");
  EXPECT_EQ(reply["ok"], true);
  EXPECT_TRUE(observed_ == std::vector<std::string>{"tree"}) << "only well-formed requests reach the application";
  EXPECT_EQ(app_.document_changes, 0);
}

TEST_F(EndpointTest, OversizedLineIsRefusedOnceAndTheNextRequestIsServed) {
  // Sent in pieces, as a large write arrives: the cap applies before the newline is seen.
  const std::string huge(3 * kMaxRequestBytes, 'x');
  for (std::size_t at = 0; at < huge.size(); at += 32 * 1024) {
    ASSERT_TRUE(client_->send_raw(std::string_view(huge).substr(at, 32 * 1024)));
    pump(0ms);
  }
  ASSERT_TRUE(client_->send_raw("tail of the same line\n"));
  auto refused = next_reply(*client_);
  ASSERT_TRUE(refused);
  EXPECT_EQ((*refused)["code"], "request_too_large");
  // A line just over the cap that arrives whole is refused the same way.
  const json whole = call(*client_, std::string_view(R"({"command":"tree","pad":")" + std::string(kMaxRequestBytes, ' ') + "\"}"));
  EXPECT_EQ(whole["code"], "request_too_large");
  expect_serving(*client_);
  EXPECT_TRUE(observed_ == std::vector<std::string>{"resources"});
}

TEST_F(EndpointTest, RequestsSplitAcrossWritesOrPipelinedAreAnsweredInOrder) {
  const std::string request = R"({"id":1,"command":"semantic-action","element":"test.button"})";
  for (std::size_t cut : {1ul, 10ul, request.size() - 1}) {
    ASSERT_TRUE(client_->send_raw(request.substr(0, cut)));
    pump(2ms);
    ASSERT_TRUE(client_->send_raw(request.substr(cut) + "\n"));
    auto reply = next_reply(*client_);
    ASSERT_TRUE(reply);
    EXPECT_EQ((*reply)["handled"], true);
  }
  EXPECT_EQ(app_.presses, 3);

  ASSERT_TRUE(client_->send_raw(R"({"id":"a","command":"journal"})" "\n" R"(nonsense)" "\n"
                                R"({"id":"c","command":"semantic-action","element":"test.button"})" "\n"));
  std::vector<json> replies;
  for (int i = 0; i < 3; ++i) {
    auto reply = next_reply(*client_);
    ASSERT_TRUE(reply);
    replies.push_back(*reply);
  }
  EXPECT_EQ(replies[0]["id"], "a");
  EXPECT_EQ(replies[1]["code"], "bad_request");
  EXPECT_EQ(replies[2]["id"], "c");
  EXPECT_EQ(app_.presses, 4);
}

TEST_F(EndpointTest, HalfClosedConnections) {
  // Closed in the middle of a line: told so, then disconnected; the partial line did nothing.
  Client partial = connect();
  ASSERT_TRUE(partial.send_raw(R"({"command":"semantic-action","element":"test.but)"));
  partial.shutdown_write();
  auto reply = next_reply(partial);
  ASSERT_TRUE(reply);
  EXPECT_EQ((*reply)["code"], "incomplete_request");
  EXPECT_FALSE(next_reply(partial));

  // Closed for writing after whole requests: each is still answered.
  Client done = connect();
  ASSERT_TRUE(done.send_raw(R"({"command":"semantic-action","element":"test.button"})" "\n"
                            R"({"command":"semantic-action","element":"test.button"})" "\n"));
  done.shutdown_write();
  for (int i = 0; i < 2; ++i) {
    auto answer = next_reply(done);
    ASSERT_TRUE(answer) << i;
    EXPECT_EQ((*answer)["handled"], true);
  }
  EXPECT_FALSE(next_reply(done));
  EXPECT_EQ(app_.presses, 2);

  // Gone entirely before its reply was ready: the reply is dropped, nobody else is disturbed.
  {
    Client gone = connect();
    ASSERT_TRUE(gone.send_raw(R"({"command":"tree"})" "\n"));
  }
  for (int i = 0; i < 20; ++i) pump(1ms);
  expect_serving(*client_);
}

TEST_F(EndpointTest, ConnectionsBeyondTheCapAreToldAndClosed) {
  std::vector<Client> clients;
  for (std::size_t i = 1; i < kMaxConnections; ++i) clients.push_back(connect());  // plus client_
  for (int i = 0; i < 20; ++i) pump(1ms);
  Client extra = connect();
  auto refusal = next_reply(extra);
  ASSERT_TRUE(refusal);
  EXPECT_EQ((*refusal)["code"], "too_many_connections");
  EXPECT_FALSE(next_reply(extra));
  for (auto& c : clients) expect_serving(c);

  clients.clear();
  // Room again once they are gone, also after many short-lived connections.
  for (int i = 0; i < 100; ++i) {
    Client brief = connect();
    if (i % 2 == 0) {
      ASSERT_TRUE(brief.send_raw("{\"comm"));
    }
    pump(0ms);
  }
  // The endpoint's own thread drops the closed connections in its own time.
  std::optional<nlohmann::json> answer;
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (int i = 0; i < 5; ++i) pump(1ms);
    Client probe = connect();
    // A refused connection may already be closed for writing; its refusal still arrives.
    (void)probe.send_raw(R"({"command":"tree"})" "\n");
    answer = next_reply(probe);
    if (answer && answer->value("code", "") != "too_many_connections") break;
  }
  ASSERT_TRUE(answer);
  EXPECT_NE(answer->value("code", ""), "too_many_connections") << answer->dump();
  Client later = connect();
  expect_serving(later);
}

TEST_F(EndpointTest, StartRefusesALiveEndpointAndReplacesAStaleSocket) {
  const auto second = Endpoint::start(socket());
  ASSERT_FALSE(second);
  EXPECT_NE(second.error().find("already serving"), std::string::npos) << second.error();
  expect_serving(*client_);

  // A socket file whose owner died without removing it.
  const auto stale = socket().parent_path() / "stale.sock";
  {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, stale.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
  }
  ASSERT_TRUE(std::filesystem::exists(stale));
  auto replaced = Endpoint::start(stale);
  ASSERT_TRUE(replaced) << replaced.error();
  EXPECT_TRUE(Client::connect(stale));

  const auto file = socket().parent_path() / "file.sock";
  { std::ofstream(file.string()) << "not a socket"; }
  const auto refused = Endpoint::start(file);
  ASSERT_FALSE(refused);
  EXPECT_NE(refused.error().find("not a socket"), std::string::npos) << refused.error();
  EXPECT_TRUE(std::filesystem::is_regular_file(file));

  // A directory others can enter is not used at all.
  const auto open_dir = dir_.path() / "open";
  std::filesystem::create_directory(open_dir);
  std::filesystem::permissions(open_dir, std::filesystem::perms(0755));
  const auto exposed = Endpoint::start(open_dir / "x.sock");
  ASSERT_FALSE(exposed);
  EXPECT_NE(exposed.error().find("accessible to other users"), std::string::npos) << exposed.error();
  EXPECT_FALSE(std::filesystem::exists(open_dir / "x.sock"));
}

TEST_F(EndpointTest, AnotherUsersConnectionIsRefusedBeforeAnythingIsRead) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a client as another user (setpriv)";
  const char* bin = std::getenv("REMOTE_BINARY_DIR");
  ASSERT_NE(bin, nullptr);
  // A copy the other user can run wherever the build lives (a home folder may be private).
  const auto kivoctl = dir_.path() / "kivoctl";
  std::filesystem::copy_file(std::filesystem::path(bin) / "tools/kivoctl/kivoctl", kivoctl);
  ASSERT_EQ(chmod(kivoctl.c_str(), 0755), 0);
  // Loosen what the endpoint set up, as a careless user might; the peer check must still hold.
  ASSERT_EQ(chmod(dir_.path().c_str(), 0711), 0);
  ASSERT_EQ(chmod(socket().parent_path().c_str(), 0711), 0);
  ASSERT_EQ(chmod(socket().c_str(), 0666), 0);

  const auto result = run_pumped({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                  kivoctl.string(), "--socket", socket().string(), "press", "test.button"});
  EXPECT_NE(result.status, 0) << result.out << result.err;
  EXPECT_NE(result.err.find("serves only the user who started it"), std::string::npos) << result.err;
  EXPECT_EQ(app_.presses, 0);
  EXPECT_TRUE(observed_.empty());
  expect_serving(*client_);
}

}  // namespace
}  // namespace kivo::automation::test
