// The built kivoctl against the test endpoint: exit statuses, readable and JSON output.

#include <fstream>

#include "endpoint_fixture.h"

namespace kivo::automation::test {
namespace {

using nlohmann::json;

class KivoctlTest : public EndpointTest {
 protected:
  ProcessResult kivoctl(std::vector<std::string> args) {
    const char* bin = std::getenv("REMOTE_BINARY_DIR");
    EXPECT_NE(bin, nullptr);
    std::vector<std::string> argv = {(std::filesystem::path(bin ? bin : ".") / "tools/kivoctl/kivoctl").string(),
                                     "--socket", socket().string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_pumped(argv);
  }
};

TEST_F(KivoctlTest, ReadsAndActsWithExitStatusesThatScriptsCanUse) {
  const auto tree = kivoctl({"--json", "tree"});
  ASSERT_EQ(tree.status, 0) << tree.err;
  const json parsed = json::parse(tree.out, nullptr, false);
  ASSERT_TRUE(parsed.is_object()) << tree.out;
  EXPECT_EQ(parsed["tree"]["id"], "test.root");

  const auto set = kivoctl({"press", "test.field", "set-value", "typed by kivoctl"});
  EXPECT_EQ(set.status, 0) << set.err;
  EXPECT_EQ(set.out, "handled\n");
  EXPECT_EQ(app_.field, "typed by kivoctl");
  EXPECT_EQ(kivoctl({"press", "test.missing"}).status, 1);

  const auto readable = kivoctl({"tree"});
  EXPECT_NE(readable.out.find("  text-field test.field \"Name\" = \"typed by kivoctl\" [focused] {focus, set-value}"),
            std::string::npos)
      << readable.out;

  const auto rename = kivoctl({"invoke", "test.root", "rename", "value=Gamma"});
  EXPECT_EQ(rename.status, 0) << rename.err;
  EXPECT_EQ(rename.out, "committed (journal 1)\n");
  EXPECT_EQ(app_.saved_name, "Gamma");
  const auto journal = kivoctl({"journal"});
  EXPECT_NE(journal.out.find("\"Rename\" by kivoctl (io.kivo.kivoctl)"), std::string::npos) << journal.out;

  const auto resources = kivoctl({"resources"});
  EXPECT_EQ(resources.status, 0);
  EXPECT_NE(resources.out.find("  - locked: Locked  [effect]  unavailable (test_locked): Locked for the test"),
            std::string::npos)
      << resources.out;
  const auto locked = kivoctl({"invoke", "test.root", "locked"});
  EXPECT_EQ(locked.status, 1);
  EXPECT_NE(locked.err.find("Locked for the test (unavailable: test_locked)"), std::string::npos) << locked.err;

  const auto png_path = dir_.path() / "shot.png";
  const auto shot = kivoctl({"screenshot", png_path.string()});
  EXPECT_EQ(shot.status, 0) << shot.err;
  std::ifstream in(png_path, std::ios::binary);
  const std::vector<std::uint8_t> png((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto decoded = decode_png(png);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->width, kWidth);
}

TEST_F(KivoctlTest, WaitFollowsABackgroundOperationToItsOutcome) {
  struct Case {
    std::string action;
    int status;
    std::string out;
  };
  const std::vector<Case> cases = {
      {"slow", 0, "completed\n"},
      {"quick", 0, "completed\n"},
      {"doomed", 1, "failed test.doomed: the doomed operation failed\n"},
  };
  for (const auto& c : cases) {
    const auto result = kivoctl({"invoke", "test.root", c.action, "--wait"});
    EXPECT_EQ(result.status, c.status) << c.action << ": " << result.err;
    EXPECT_EQ(result.out, c.out) << c.action;
  }

  const auto started = kivoctl({"--json", "invoke", "test.root", "slow"});
  ASSERT_EQ(started.status, 0);
  const std::string id = json::parse(started.out)["invocation"];
  const auto cancelled = kivoctl({"poll", id, "--cancel"});
  EXPECT_EQ(cancelled.status, 1);
  EXPECT_EQ(cancelled.out, "cancelled: cancelled on request\n");
}

TEST_F(KivoctlTest, UsageAndUnreachableEndpointsAreTold) {
  const auto nowhere = run_pumped({(std::filesystem::path(std::getenv("REMOTE_BINARY_DIR")) / "tools/kivoctl/kivoctl").string(),
                                   "--socket", (dir_.path() / "none.sock").string(), "tree"});
  EXPECT_EQ(nowhere.status, 3);
  EXPECT_NE(nowhere.err.find("nothing is listening at"), std::string::npos) << nowhere.err;

  for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
           {}, {"fly"}, {"press"}, {"press", "x", "set-value"}, {"invoke", "r", "a", "novalue"},
           {"dispatch", "t", "{not json"}, {"--timeout", "0", "tree"}}) {
    const auto result = kivoctl(wrong);
    EXPECT_EQ(result.status, 2) << (wrong.empty() ? "" : wrong[0]) << result.err;
  }
  EXPECT_TRUE(observed_.empty());
}

}  // namespace
}  // namespace kivo::automation::test
