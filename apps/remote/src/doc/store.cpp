#include "doc/store.h"

#include <cmath>
#include <limits>
#include <map>
#include <optional>

#include "kivo/base/log.h"

namespace remote::doc {
namespace {

using kivo::doc::Document;
using kivo::doc::ObjectRef;
using kivo::doc::ObjId;
using kivo::doc::ObjType;
using kivo::doc::Value;

constexpr std::string_view kConnections = "connections";

std::optional<Value> value_at(const Document& document, const ObjId& obj, std::string_view key) {
  auto value = document.get(obj, key);
  if (!value || !*value) return std::nullopt;
  return **value;
}

std::optional<ObjId> object_at(const Document& document, const ObjId& obj, std::string_view key, ObjType type) {
  const auto value = value_at(document, obj, key);
  if (!value) return std::nullopt;
  const auto* ref = std::get_if<ObjectRef>(&*value);
  if (ref == nullptr || ref->type != type) return std::nullopt;
  return ref->id;
}

ObjId put_object_or_die(Document& document, const ObjId& obj, std::string_view key, ObjType type,
                        std::string_view broken) {
  auto created = document.put_object(obj, key, type);
  if (!created) kivo::fatal(broken);
  return *created;
}

// Every map under "connections", the winning value first. Two devices that each created
// the map before they first synchronised leave two concurrent maps there; reading only
// the winner would hide every profile saved into the other one, so all are read.
std::vector<ObjId> connection_maps(const Document& document) {
  std::vector<ObjId> maps;
  auto values = document.get_all(kivo::doc::kRoot, kConnections);
  if (!values) return maps;
  for (const auto& value : *values) {
    const auto* ref = std::get_if<ObjectRef>(&value);
    if (ref != nullptr && ref->type == ObjType::Map) maps.push_back(ref->id);
  }
  return maps;
}

// The map new profiles go into, created (replacing whatever was there) when there is none.
ObjId connections_map(Document& document) {
  const auto maps = connection_maps(document);
  if (!maps.empty()) return maps.front();
  return put_object_or_die(document, kivo::doc::kRoot, kConnections, ObjType::Map,
                           "put_object connections on root never fails");
}

// The connection maps holding a profile under `key`, in every connections map.
std::vector<std::pair<ObjId, ObjId>> profile_maps(const Document& document, const std::string& key) {
  std::vector<std::pair<ObjId, ObjId>> found;
  for (const auto& connections : connection_maps(document)) {
    if (auto map = object_at(document, connections, key, ObjType::Map)) found.emplace_back(connections, *map);
  }
  return found;
}

ObjId name_text(Document& document, const ObjId& connection) {
  if (auto existing = object_at(document, connection, "name", ObjType::Text)) return *existing;
  return put_object_or_die(document, connection, "name", ObjType::Text, "put_object name never fails");
}

void splice_name(Document& document, const ObjId& connection, std::string_view name) {
  const ObjId text = name_text(document, connection);
  if (auto spliced = kivo::doc::splice_text_diffed(document, text, name); !spliced) {
    kivo::fatal("splicing a profile name into its own text object never fails: " + spliced.error().message);
  }
}

// Writes only when the key is missing, holds an object, or holds a different scalar.
void put_if_changed(Document& document, const ObjId& obj, std::string_view key, Value value) {
  if (const auto stored = value_at(document, obj, key); stored && *stored == value) return;
  if (auto put = document.put(obj, key, std::move(value)); !put) {
    kivo::fatal("put into a connection map never fails: " + put.error().message);
  }
}

std::string string_at(const Document& document, const ObjId& obj, std::string_view key) {
  const auto value = value_at(document, obj, key);
  if (!value) return {};
  const auto* text = std::get_if<std::string>(&*value);
  return text != nullptr ? *text : std::string();
}

std::uint16_t port_at(const Document& document, const ObjId& obj) {
  const auto value = value_at(document, obj, "port");
  if (!value) return 0;
  std::int64_t number = 0;
  if (const auto* i = std::get_if<std::int64_t>(&*value)) {
    number = *i;
  } else if (const auto* u = std::get_if<std::uint64_t>(&*value)) {
    number = static_cast<std::int64_t>(*u);
  } else if (const auto* c = std::get_if<kivo::doc::Counter>(&*value)) {
    number = c->value;
  } else if (const auto* t = std::get_if<kivo::doc::Timestamp>(&*value)) {
    number = t->millis;
  } else if (const auto* f = std::get_if<double>(&*value)) {
    // Towards zero, saturating; not-a-number reads as 0.
    constexpr double kMin = static_cast<double>(std::numeric_limits<std::int64_t>::min());
    constexpr double kMax = static_cast<double>(std::numeric_limits<std::int64_t>::max());
    if (std::isnan(*f)) {
      number = 0;
    } else if (*f <= kMin) {
      number = std::numeric_limits<std::int64_t>::min();
    } else if (*f >= kMax) {
      number = std::numeric_limits<std::int64_t>::max();
    } else {
      number = static_cast<std::int64_t>(*f);
    }
  } else {
    return 0;
  }
  return static_cast<std::uint16_t>(static_cast<std::uint64_t>(number) & 0xffff);
}

// The profile stored in one connection map, every field read with its fallback.
ConnectionProfile profile_at(const Document& document, const kivo::Uuid& id, const ObjId& map_id) {
  ConnectionProfile profile;
  profile.id = id;
  if (const auto name = object_at(document, map_id, "name", ObjType::Text)) {
    if (auto text = document.text(*name)) profile.name = std::move(*text);
  }
  profile.host = string_at(document, map_id, "host");
  profile.user = string_at(document, map_id, "user");
  profile.group = string_at(document, map_id, "group");
  profile.last_used = string_at(document, map_id, "last_used");
  profile.kind = kind_from_document_text(string_at(document, map_id, "kind")).value_or(ConnectionKind::Ssh);
  profile.auth = auth_from_document_text(string_at(document, map_id, "auth")).value_or(ConnectionAuth::Password);
  profile.presence = presence_from_document_text(string_at(document, map_id, "presence")).value_or(Presence::Unknown);
  profile.port = port_at(document, map_id);
  const auto favorite = value_at(document, map_id, "favorite");
  const bool* flag = favorite ? std::get_if<bool>(&*favorite) : nullptr;
  profile.favorite = flag != nullptr && *flag;
  return profile;
}

}  // namespace

std::vector<ConnectionProfile> read_profiles(const Document& document) {
  // Keys in ascending order across every connections map; the winning map's entry first.
  std::map<std::string, ObjId> entries;
  for (const auto& connections : connection_maps(document)) {
    auto keys = document.keys(connections);
    if (!keys) continue;
    for (const auto& key : *keys) {
      if (entries.contains(key)) continue;
      if (const auto map = object_at(document, connections, key, ObjType::Map)) entries.emplace(key, *map);
    }
  }
  std::vector<ConnectionProfile> profiles;
  profiles.reserve(entries.size());
  for (const auto& [key, map_id] : entries) {
    const auto id = kivo::Uuid::parse(key);
    if (!id) continue;
    profiles.push_back(profile_at(document, *id, map_id));
  }
  return profiles;
}

std::optional<ConnectionProfile> read_profile(const Document& document, const kivo::Uuid& id) {
  const auto found = profile_maps(document, id.to_string());
  if (found.empty()) return std::nullopt;
  return profile_at(document, id, found.front().second);
}

void upsert_profile(Document& document, const ConnectionProfile& profile) {
  const std::string key = profile.id.to_string();
  ObjId map;
  if (const auto existing = profile_maps(document, key); !existing.empty()) {
    map = existing.front().second;
  } else {
    map = put_object_or_die(document, connections_map(document), key, ObjType::Map,
                            "put_object connection map never fails");
  }
  splice_name(document, map, profile.name);
  put_if_changed(document, map, "host", profile.host);
  put_if_changed(document, map, "port", static_cast<std::int64_t>(profile.port));
  put_if_changed(document, map, "user", profile.user);
  put_if_changed(document, map, "kind", std::string(document_text(profile.kind)));
  put_if_changed(document, map, "auth", std::string(document_text(profile.auth)));
  put_if_changed(document, map, "last_used", profile.last_used);
  put_if_changed(document, map, "presence", std::string(document_text(profile.presence)));
  put_if_changed(document, map, "group", profile.group);
  put_if_changed(document, map, "favorite", profile.favorite);
}

void rename_profile(Document& document, const kivo::Uuid& id, std::string_view name) {
  for (const auto& [connections, map] : profile_maps(document, id.to_string())) splice_name(document, map, name);
}

void set_favorite(Document& document, const kivo::Uuid& id, bool favorite) {
  for (const auto& [connections, map] : profile_maps(document, id.to_string())) {
    put_if_changed(document, map, "favorite", favorite);
  }
}

void delete_profile(Document& document, const kivo::Uuid& id) {
  const std::string key = id.to_string();
  for (const auto& connections : connection_maps(document)) {
    if (!value_at(document, connections, key)) continue;
    if (auto deleted = document.delete_key(connections, key); !deleted) {
      kivo::log_warn("remote::doc", "deleting a connection failed: " + deleted.error().message);
    }
  }
}

}  // namespace remote::doc
