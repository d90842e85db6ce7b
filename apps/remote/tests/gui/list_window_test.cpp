// The list screen in the real window, driven with the keyboard and mouse of a private X
// server (xdotool) and read back through the automation endpoint.

#include <gtest/gtest.h>

#include "kivo/base/uuid.h"
#include "remote_program.h"

namespace remote::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

class ListWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    xvfb = Xvfb::start();
    ASSERT_TRUE(xvfb) << "Xvfb did not start";
    remote.emplace(*xvfb, home.path());
    window = remote->wait_for_window();
    ASSERT_TRUE(window)
        << remote->log() << thread_stacks(remote->process().pid());
    ASSERT_TRUE(remote->wait_until_ready()) << remote->log();
    for (const auto& [name, host_text] : {std::pair{"Lab router", "10.0.0.1"}, {"Build box", "build.example.net"},
                                          {"Archive", "archive.example.net"}}) {
      ASSERT_TRUE(remote->dispatch({{"UpsertConnection",
                                     {{"id", kivo::Uuid::new_v4().to_string()}, {"name", name}, {"host", host_text},
                                      {"port", 22}, {"user", "me"}, {"kind", "Ssh"}, {"auth", "Password"},
                                      {"group", "lab"}}}}));
    }
    xdo({"windowfocus", "--sync", std::to_string(*window)});
  }

  void xdo(const std::vector<std::string>& args) const {
    ASSERT_TRUE(remote->xdo(args)) << "xdotool " << args[0] << " failed";
  }
  // Waits until the element `id` satisfies `check`.
  bool element(const std::string& id, const std::function<bool(const json&)>& check) const {
    return remote->await(id, check, 10s).has_value();
  }
  void click(const std::string& id) const {
    const json t = remote->tree();
    const json* n = find_element(t, id);
    ASSERT_TRUE(n != nullptr && remote->click(*n)) << id << " could not be clicked";
  }
  std::vector<std::string> rows() const {
    std::vector<std::string> out;
    const json t = remote->tree();
    if (const json* list = find_element(t, "remote.list")) {
      for (const auto& row : list->value("children", json::array())) {
        out.push_back(row.value("label", "") + (row.value("selected", false) ? "*" : ""));
      }
    }
    return out;
  }
  std::string log() const { return remote->log(); }

  std::optional<Xvfb> xvfb;
  TempDir home;
  std::optional<RemoteProgram> remote;
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
  EXPECT_TRUE(eventually(
      [&] {
        const auto shown = rows();
        return shown.size() == 1 && shown[0].starts_with("Lab router");
      },
      10s));
  xdo({"key", "Escape"});
  EXPECT_TRUE(eventually([&] { return rows().size() == 3; }, 10s));

  // Mouse: the star of a row toggles its favourite flag, and favourites move first.
  const json t = remote->tree();
  const json* list = find_element(t, "remote.list");
  ASSERT_NE(list, nullptr) << t.dump(1);
  std::string lab_id;
  for (const auto& row : list->value("children", json::array())) {
    if (row.value("label", "") == "Lab router") lab_id = row.value("id", "");
  }
  ASSERT_FALSE(lab_id.empty());
  click(lab_id + ":favorite");
  EXPECT_TRUE(element(lab_id + ":favorite", [](const json& n) { return n["label"] == "Remove from favourites"; }));
  EXPECT_TRUE(eventually(
      [&] {
        const auto shown = rows();
        return !shown.empty() && shown[0].starts_with("Lab router");
      },
      10s));

  // Tooltips: resting on the rail's list item names it after the hover delay.
  const auto nav = remote->await("remote.nav.list", [](const json&) { return true; });
  ASSERT_TRUE(nav && remote->point_at(*nav));
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
