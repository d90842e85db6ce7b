#include "doc/store.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace remote::doc {
namespace {

using kivo::doc::Document;
using kivo::doc::ObjType;
using kivo::doc::Value;

ConnectionProfile sample(std::string name = "Build Box") {
  ConnectionProfile p;
  p.id = *kivo::Uuid::parse("67e55044-10b1-426f-9247-bb680e5fe0c8");
  p.name = std::move(name);
  p.host = "build.example.net";
  p.port = 2222;
  p.user = "admin";
  p.kind = ConnectionKind::Ssh;
  p.auth = ConnectionAuth::PublicKey;
  p.group = "lab";
  p.favorite = true;
  p.last_used = "12m ago";
  p.presence = Presence::Online;
  return p;
}

// A connection map written by hand, as another device (or an older program) might have.
kivo::doc::ObjId raw_connection(Document& document, const std::string& key) {
  auto connections = document.get(kivo::doc::kRoot, "connections");
  kivo::doc::ObjId map;
  if (connections && *connections && std::holds_alternative<kivo::doc::ObjectRef>(**connections)) {
    map = std::get<kivo::doc::ObjectRef>(**connections).id;
  } else {
    map = *document.put_object(kivo::doc::kRoot, "connections", ObjType::Map);
  }
  return *document.put_object(map, key, ObjType::Map);
}

TEST(Store, RoundTripsEveryField) {
  Document document;
  const auto profile = sample();
  upsert_profile(document, profile);
  const auto read = read_profiles(document);
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0], profile);
}

TEST(Store, SavingAnUnchangedProfileWritesNothing) {
  Document document;
  upsert_profile(document, sample());
  ASSERT_TRUE(document.commit());
  upsert_profile(document, sample());
  EXPECT_EQ(document.pending_ops(), 0u);
  auto renamed = sample("Build Box 2");
  renamed.port = 22;
  upsert_profile(document, renamed);
  EXPECT_GT(document.pending_ops(), 0u);
  EXPECT_EQ(read_profiles(document).at(0), renamed);
}

TEST(Store, ReadsStoredValuesWithTheirFallbacks) {
  struct Case {
    const char* what;
    Value port;
    std::string kind;
    std::string auth;
    std::string presence;
    std::uint16_t expected_port;
    ConnectionKind expected_kind;
    ConnectionAuth expected_auth;
    Presence expected_presence;
  };
  const Case cases[] = {
      {"low 16 bits", std::int64_t{22 + 65536}, "ssh", "Public key", "online", 22, ConnectionKind::Ssh,
       ConnectionAuth::PublicKey, Presence::Online},
      {"unsigned", std::uint64_t{5900}, "VNC", "Password", "offline", 5900, ConnectionKind::Vnc,
       ConnectionAuth::Password, Presence::Offline},
      {"counter", kivo::doc::Counter{3389}, "RDP", "password", "Online", 3389, ConnectionKind::Rdp,
       ConnectionAuth::Password, Presence::Unknown},
      {"timestamp", kivo::doc::Timestamp{22}, "Kivo", "Device identity", "", 22, ConnectionKind::Kivo,
       ConnectionAuth::DeviceIdentity, Presence::Unknown},
      {"float", 22.9, "Kivo device", "", "unknown", 22, ConnectionKind::Ssh, ConnectionAuth::Password,
       Presence::Unknown},
      {"negative", std::int64_t{-1}, "", "", "", 65535, ConnectionKind::Ssh, ConnectionAuth::Password,
       Presence::Unknown},
      {"not a number", std::numeric_limits<double>::quiet_NaN(), "", "", "", 0, ConnectionKind::Ssh,
       ConnectionAuth::Password, Presence::Unknown},
      {"huge float", 1e300, "", "", "", 65535, ConnectionKind::Ssh, ConnectionAuth::Password, Presence::Unknown},
      {"text", std::string("22"), "", "", "", 0, ConnectionKind::Ssh, ConnectionAuth::Password, Presence::Unknown},
  };
  for (const auto& c : cases) {
    Document document;
    const auto map = raw_connection(document, "67e55044-10b1-426f-9247-bb680e5fe0c8");
    ASSERT_TRUE(document.put(map, "port", c.port));
    ASSERT_TRUE(document.put(map, "kind", c.kind));
    ASSERT_TRUE(document.put(map, "auth", c.auth));
    ASSERT_TRUE(document.put(map, "presence", c.presence));
    ASSERT_TRUE(document.put(map, "favorite", std::string("yes")));
    ASSERT_TRUE(document.put(map, "host", std::int64_t{7}));
    const auto read = read_profiles(document);
    ASSERT_EQ(read.size(), 1u) << c.what;
    EXPECT_EQ(read[0].port, c.expected_port) << c.what;
    EXPECT_EQ(read[0].kind, c.expected_kind) << c.what;
    EXPECT_EQ(read[0].auth, c.expected_auth) << c.what;
    EXPECT_EQ(read[0].presence, c.expected_presence) << c.what;
    EXPECT_FALSE(read[0].favorite) << c.what;
    EXPECT_EQ(read[0].host, "") << c.what;
    EXPECT_EQ(read[0].name, "") << c.what;
    EXPECT_EQ(read[0].last_used, "") << c.what;
  }
}

TEST(Store, SkipsEntriesThatAreNotProfiles) {
  Document document;
  upsert_profile(document, sample());
  raw_connection(document, "not-a-uuid");
  auto connections = std::get<kivo::doc::ObjectRef>(**document.get(kivo::doc::kRoot, "connections")).id;
  ASSERT_TRUE(document.put(connections, "11111111-1111-4111-8111-111111111111", std::string("scalar")));
  const auto read = read_profiles(document);
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0].name, "Build Box");
}

TEST(Store, ReplacesAConnectionsValueThatIsNotAMap) {
  Document document;
  ASSERT_TRUE(document.put(kivo::doc::kRoot, "connections", std::string("oops")));
  EXPECT_TRUE(read_profiles(document).empty());
  upsert_profile(document, sample());
  EXPECT_EQ(read_profiles(document).size(), 1u);
}

TEST(Store, EditsOfMissingProfilesDoNothing) {
  Document document;
  const auto missing = kivo::Uuid::new_v4();
  rename_profile(document, missing, "x");
  set_favorite(document, missing, true);
  delete_profile(document, missing);
  EXPECT_EQ(document.pending_ops(), 0u);
  upsert_profile(document, sample());
  ASSERT_TRUE(document.commit());
  rename_profile(document, missing, "x");
  set_favorite(document, missing, true);
  delete_profile(document, missing);
  EXPECT_EQ(document.pending_ops(), 0u);
}

TEST(Store, RenamesFavouritesAndDeletes) {
  Document document;
  upsert_profile(document, sample());
  rename_profile(document, sample().id, "Build Box (old)");
  set_favorite(document, sample().id, false);
  auto read = read_profiles(document);
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0].name, "Build Box (old)");
  EXPECT_FALSE(read[0].favorite);
  delete_profile(document, sample().id);
  EXPECT_TRUE(read_profiles(document).empty());
}

TEST(Store, ConcurrentRenamesOfOneProfileMergeTheSameEverywhere) {
  Document a;
  upsert_profile(a, sample("Lab"));
  auto base = a.commit();
  ASSERT_TRUE(base);
  Document b;
  ASSERT_TRUE(b.apply_changes(std::span(&*base, 1)));
  rename_profile(a, sample().id, "Lab West");
  rename_profile(b, sample().id, "Main Lab");
  auto change_a = a.commit();
  auto change_b = b.commit();
  ASSERT_TRUE(a.apply_changes(std::span(&*change_b, 1)));
  ASSERT_TRUE(b.apply_changes(std::span(&*change_a, 1)));
  const auto name_a = read_profiles(a).at(0).name;
  EXPECT_EQ(name_a, read_profiles(b).at(0).name);
  // Both edits survive: nothing typed on either device is lost.
  EXPECT_NE(name_a.find("West"), std::string::npos);
  EXPECT_NE(name_a.find("Main"), std::string::npos);
}

}  // namespace
}  // namespace remote::doc

namespace remote::doc {
namespace {

// Two fresh devices each save a profile before they first synchronise: each creates its
// own connections map, and after the merge both profiles must still be there.
TEST(Store, ProfilesSavedOnTwoFreshDevicesBothSurviveTheMerge) {
  Document a;
  Document b;
  auto first = sample("On A");
  auto second = sample("On B");
  second.id = kivo::Uuid::new_v4();
  upsert_profile(a, first);
  upsert_profile(b, second);
  auto change_a = a.commit();
  auto change_b = b.commit();
  ASSERT_TRUE(a.apply_changes(std::span(&*change_b, 1)));
  ASSERT_TRUE(b.apply_changes(std::span(&*change_a, 1)));
  const auto read = read_profiles(a);
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read_profiles(b), read);
  // Edits reach a profile whichever map holds it.
  for (const auto& p : {first, second}) {
    rename_profile(a, p.id, "renamed");
    set_favorite(a, p.id, false);
  }
  for (const auto& p : read_profiles(a)) {
    EXPECT_EQ(p.name, "renamed");
    EXPECT_FALSE(p.favorite);
  }
  delete_profile(a, first.id);
  delete_profile(a, second.id);
  EXPECT_TRUE(read_profiles(a).empty());
  upsert_profile(a, first);
  EXPECT_EQ(read_profiles(a).size(), 1u);
}

}  // namespace
}  // namespace remote::doc
