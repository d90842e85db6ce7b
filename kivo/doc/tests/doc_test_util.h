#pragma once
// Helpers for the document tests: a canonical dump of everything a replica shows (including
// conflicts and heads), fixed actors and a folder that removes itself.

#include <stdlib.h>

#include <bit>
#include <cstdio>
#include <filesystem>
#include <string>

#include "kivo/doc/document.h"
#include "kivo/testing/temp_dir.h"

namespace kivo::doc::testing {

inline ActorId actor_of(std::uint8_t fill) {
  ActorId a;
  a.bytes.fill(fill);
  return a;
}

inline std::string value_text(const Document& doc, const Value& value, int depth);

inline void dump_object(const Document& doc, const ObjId& obj, int depth, std::string& out) {
  if (doc.object_type(obj) == ObjType::Text) {
    out += "\"" + *doc.text(obj) + "\"";
    return;
  }
  out += "{";
  const std::vector<std::string> keys = doc.keys(obj).value();
  for (const std::string& key : keys) {
    out += "\n" + std::string(static_cast<std::size_t>(depth + 1) * 2, ' ') + key + " =";
    const std::vector<Value> values = doc.get_all(obj, key).value();
    for (const Value& v : values) out += " " + value_text(doc, v, depth + 1);
  }
  out += "}";
}

inline std::string value_text(const Document& doc, const Value& value, int depth) {
  return std::visit(
      [&](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, Null>) return "null";
        else if constexpr (std::is_same_v<T, bool>) return v ? "true" : "false";
        else if constexpr (std::is_same_v<T, std::int64_t>) return "i:" + std::to_string(v);
        else if constexpr (std::is_same_v<T, std::uint64_t>) return "u:" + std::to_string(v);
        else if constexpr (std::is_same_v<T, double>) return "f:" + std::to_string(std::bit_cast<std::uint64_t>(v));
        else if constexpr (std::is_same_v<T, std::string>) return "s:" + v;
        else if constexpr (std::is_same_v<T, Counter>) return "c:" + std::to_string(v.value);
        else if constexpr (std::is_same_v<T, Timestamp>) return "t:" + std::to_string(v.millis);
        else {
          std::string out;
          dump_object(doc, v.id, depth, out);
          return out;
        }
      },
      value);
}

// Everything a reader can see, plus the heads: equal dumps mean equal replicas.
inline std::string dump(const Document& doc) {
  std::string out;
  dump_object(doc, kRoot, 0, out);
  out += "\nheads:";
  for (const ChangeHash& h : doc.heads()) out += " " + h.to_string().substr(0, 16);
  return out;
}

using kivo::testing::TempDir;

}  // namespace kivo::doc::testing
