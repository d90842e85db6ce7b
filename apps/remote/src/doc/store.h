#pragma once
// The saved profiles inside the shared document. Every device reads and writes this
// layout identically:
//
//   root "connections" → map, one entry per profile under its hyphenated lower-case id:
//     "name" text object (spliced, so concurrent renames merge), "host", "user", "kind",
//     "auth", "last_used", "presence", "group" strings, "port" signed integer,
//     "favorite" boolean.
//
// Reading never fails: malformed entries are skipped or read with defaults. Writes put a
// value only when it differs from what is stored, so saving an unchanged profile adds
// no operations.

#include <string_view>
#include <vector>

#include "doc/profile.h"
#include "kivo/doc/document.h"

namespace remote::doc {

// The profiles in document order (ascending id text).
std::vector<ConnectionProfile> read_profiles(const kivo::doc::Document& document);

// One stored profile, when the document holds it.
std::optional<ConnectionProfile> read_profile(const kivo::doc::Document& document, const kivo::Uuid& id);

void upsert_profile(kivo::doc::Document& document, const ConnectionProfile& profile);
// Does nothing when the id is not stored.
void rename_profile(kivo::doc::Document& document, const kivo::Uuid& id, std::string_view name);
void set_favorite(kivo::doc::Document& document, const kivo::Uuid& id, bool favorite);
// A missing id is not an error.
void delete_profile(kivo::doc::Document& document, const kivo::Uuid& id);

}  // namespace remote::doc
