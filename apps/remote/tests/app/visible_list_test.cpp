#include "app/visible_list.h"

#include <gtest/gtest.h>

namespace remote::app {
namespace {

using doc::ConnectionKind;
using doc::ConnectionProfile;

ConnectionProfile profile(std::string name, ConnectionKind kind = ConnectionKind::Ssh, bool favorite = false,
                          std::string host = "h", std::string user = "", std::string group = "") {
  ConnectionProfile p;
  p.id = kivo::Uuid::new_v4();
  p.name = std::move(name);
  p.kind = kind;
  p.favorite = favorite;
  p.host = std::move(host);
  p.user = std::move(user);
  p.group = std::move(group);
  return p;
}

std::vector<std::string> names(const std::vector<const ConnectionProfile*>& list) {
  std::vector<std::string> out;
  for (const auto* p : list) out.push_back(p->name);
  return out;
}

TEST(VisibleList, FavouritesFirstThenLowerCasedNameWithStableTies) {
  std::vector<ConnectionProfile> profiles = {
      profile("alpha"), profile("Zulu", ConnectionKind::Ssh, true), profile("Beta box"), profile("beta"),
      profile("Same"), profile("same"), profile("\xC3\x89lan"), profile("echo"),
  };
  profiles[4].host = "first";
  const auto list = visible_list(profiles, "");
  EXPECT_EQ(names(list), (std::vector<std::string>{"Zulu", "alpha", "beta", "Beta box", "echo", "Same", "same",
                                                   "\xC3\x89lan"}));
  EXPECT_EQ(list[5]->host, "first");
}

TEST(VisibleList, SearchMatchesNameHostUserGroupAndKindOnly) {
  std::vector<ConnectionProfile> profiles = {
      profile("Build Box", ConnectionKind::Ssh, false, "build.example.net", "admin", "lab"),
      profile("Office NAS", ConnectionKind::Vnc, false, "10.0.0.20", "", "home"),
      profile("Win", ConnectionKind::Rdp, false, "10.0.0.31", "winuser", "work"),
      profile("Studio", ConnectionKind::Kivo, false, "abcdef", "", "Kivo"),
  };
  profiles[0].port = 2222;
  profiles[0].last_used = "vnc yesterday";
  struct Case {
    const char* query;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"  BUILD ", {"Build Box"}},
      {"10.0.0", {"Office NAS", "Win"}},
      {"winuser", {"Win"}},
      {"HOME", {"Office NAS"}},
      {"vnc", {"Office NAS"}},    // the kind's document text, not the last-used label
      {"RdP", {"Win"}},
      {"kivo", {"Studio"}},
      {"2222", {}},               // ports are not searched
      {"", {"Build Box", "Office NAS", "Studio", "Win"}},
  };
  for (const auto& c : cases) EXPECT_EQ(names(visible_list(profiles, c.query)), c.expected) << c.query;
}

}  // namespace
}  // namespace remote::app
