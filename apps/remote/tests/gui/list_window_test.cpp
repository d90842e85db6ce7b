// The list screen in the real window, driven with the keyboard and mouse of a private X
// server (xdotool) and read back through the automation endpoint.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "kivo/base/uuid.h"
#include "process.h"
#include "xvfb.h"

namespace remote::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

class ListWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    xvfb = Xvfb::start();
    ASSERT_TRUE(xvfb) << "Xvfb did not start";
    std::filesystem::create_directories(home / "run");
    ::chmod((home / "run").c_str(), 0700);
    remote.emplace(Process::start({built_program("apps/remote/remote").string()},
                                  {{"DISPLAY", xvfb->display()},
                                   {"XDG_DATA_HOME", (home / "data").string()},
                                   {"XDG_STATE_HOME", (home / "state").string()},
                                   {"XDG_RUNTIME_DIR", (home / "run").string()},
                                   {"KIVO_SYNC_DIR", std::nullopt},
                                   {"KIVO_REVIEW_STATE", std::nullopt},
                                   {"KIVO_REDUCED_MOTION", "1"},
                                   {"REMOTE_LIVE_SESSIONS", ""}},
                                  home / "remote.log"));
    ASSERT_TRUE(eventually([&] { return (window = xvfb->find_window("Remote")).has_value(); }, 20s))
        << log() << thread_stacks(remote->pid());
    ASSERT_TRUE(eventually([&] { return ctl({"tree"}).has_value(); }, 20s)) << log();
    for (const auto& [name, host_text] : {std::pair{"Lab router", "10.0.0.1"}, {"Build box", "build.example.net"},
                                          {"Archive", "archive.example.net"}}) {
      const json payload = {{"UpsertConnection",
                             {{"id", kivo::Uuid::new_v4().to_string()}, {"name", name}, {"host", host_text},
                              {"port", 22}, {"user", "me"}, {"kind", "Ssh"}, {"auth", "Password"}, {"group", "lab"}}}};
      ASSERT_TRUE(ctl({"dispatch", "remote.action", payload.dump()}));
    }
    xdo({"windowfocus", "--sync", std::to_string(*window)});
  }

  std::optional<std::string> ctl(std::vector<std::string> args) const {
    std::vector<std::string> argv = {built_program("tools/kivoctl/kivoctl").string(), "--json", "--socket",
                                     (home / "run/kivo/io.kivo.remote.sock").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_output(argv, 15s);
  }
  void xdo(std::vector<std::string> args) const {
    args.insert(args.begin(), "xdotool");
    setenv("DISPLAY", xvfb->display().c_str(), 1);
    ASSERT_TRUE(run_output(args, 10s)) << "xdotool " << args[1] << " failed";
  }
  json tree() const {
    const auto reply = ctl({"tree"});
    if (!reply) return json::object();
    const json parsed = json::parse(*reply, nullptr, false);
    if (!parsed.is_object() || !parsed.contains("tree")) return json::object();
    return parsed["tree"];
  }
  static const json* find(const json& node, const std::string& id) {
    if (!node.is_object()) return nullptr;
    if (node.value("id", "") == id) return &node;
    if (!node.contains("children")) return nullptr;
    // By reference: the pointer returned must point into `node`, not into a copy.
    for (const auto& child : node["children"]) {
      if (const json* hit = find(child, id)) return hit;
    }
    return nullptr;
  }
  // Waits until the element `id` satisfies `check`.
  bool element(const std::string& id, const std::function<bool(const json&)>& check) const {
    return eventually(
        [&] {
          const json t = tree();
          const json* n = find(t, id);
          return n != nullptr && check(*n);
        },
        10s);
  }
  std::pair<int, int> centre_of(const std::string& id) const {
    const json t = tree();
    const json* n = find(t, id);
    if (n == nullptr || !n->contains("bounds")) return {-1, -1};
    const auto& b = (*n)["bounds"];
    return {static_cast<int>(b["x"].get<double>() + b["w"].get<double>() / 2),
            static_cast<int>(b["y"].get<double>() + b["h"].get<double>() / 2)};
  }
  void click(const std::string& id) {
    const auto [x, y] = centre_of(id);
    ASSERT_GE(x, 0) << id << " has no bounds";
    xdo({"mousemove", "--sync", std::to_string(x), std::to_string(y)});
    xdo({"click", "1"});
  }
  std::vector<std::string> rows() const {
    std::vector<std::string> out;
    const json t = tree();
    if (const json* list = find(t, "remote.list")) {
      for (const auto& row : list->value("children", json::array())) {
        out.push_back(row.value("label", "") + (row.value("selected", false) ? "*" : ""));
      }
    }
    return out;
  }
  std::string log() const {
    std::ifstream in(home / "remote.log");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::optional<Xvfb> xvfb;
  TempDir home_dir;
  std::filesystem::path home = home_dir.path();
  std::optional<Process> remote;
  std::optional<unsigned long> window;
};

TEST_F(ListWindowTest, SearchSelectFavouriteRailAndTooltipsWithKeyboardAndMouse) {
  ASSERT_TRUE(eventually([&] { return rows().size() == 3; }, 10s)) << log();
  // The first profile that arrived was selected, and stays so as others arrive.
  EXPECT_EQ(rows(), (std::vector<std::string>{"Archive", "Build box", "Lab router*"}));

  // Keyboard: Up and Down move the selection; "/" focuses the search and typing filters.
  xdo({"key", "Up", "Up", "Up"});
  EXPECT_TRUE(eventually([&] { return rows() == std::vector<std::string>{"Archive*", "Build box", "Lab router"}; }, 10s));
  xdo({"key", "Down"});
  EXPECT_TRUE(eventually([&] { return rows() == std::vector<std::string>{"Archive", "Build box*", "Lab router"}; }, 10s));
  xdo({"key", "slash"});
  xdo({"type", "--delay", "20", "lab ro"});
  EXPECT_TRUE(element("remote.field:search", [](const json& n) { return n["value"] == "lab ro" && n["focused"]; }));
  EXPECT_TRUE(eventually([&] { return rows().size() == 1 && rows()[0].starts_with("Lab router"); }, 10s));
  xdo({"key", "Escape"});
  EXPECT_TRUE(eventually([&] { return rows().size() == 3; }, 10s));

  // Mouse: the star of a row toggles its favourite flag, and favourites move first.
  const json t = tree();
  std::string lab_id;
  for (const auto& row : find(t, "remote.list")->value("children", json::array())) {
    if (row.value("label", "") == "Lab router") lab_id = row.value("id", "");
  }
  ASSERT_FALSE(lab_id.empty());
  click(lab_id + ":favorite");
  EXPECT_TRUE(element(lab_id + ":favorite", [](const json& n) { return n["label"] == "Remove from favourites"; }));
  EXPECT_TRUE(eventually([&] { return !rows().empty() && rows()[0].starts_with("Lab router"); }, 10s));

  // Tooltips: resting on the rail's list item names it after the hover delay.
  const auto [x, y] = centre_of("remote.nav.list");
  xdo({"mousemove", "--sync", std::to_string(x), std::to_string(y)});
  EXPECT_TRUE(element("remote.tooltip", [](const json& n) { return n["label"] == "Connections"; }));

  // Narrow window: the rail hides behind a toggle that opens it over the list.
  xdo({"windowsize", "--sync", std::to_string(*window), "600", "800"});
  EXPECT_TRUE(element("remote.nav.toggle", [](const json& n) { return n["label"] == "Open navigation"; }));
  click("remote.nav.toggle");
  EXPECT_TRUE(element("remote.nav.toggle", [](const json& n) { return n["label"] == "Close navigation"; }));
  xdo({"mousemove", "--sync", "400", "500"});
  xdo({"click", "1"});
  EXPECT_TRUE(element("remote.nav.toggle", [](const json& n) { return n["label"] == "Open navigation"; }));
}

}  // namespace
}  // namespace remote::test
