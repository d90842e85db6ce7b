#pragma once
// The JSON form of a resource tree, as automation reads it.

#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "kivo/actions/bound_dispatch.h"
#include "kivo/actions/resource.h"

namespace kivo::actions {

// {"id","kind","label","actions":[…],"children":[…]}; each action carries name, label,
// description (or null), risk (ordinal) and risk_name, operation_class, input_schema (object),
// payload ({"type_name","payload"} or null) or argument_type, contract ({"capabilities":[…]} or
// null), destructive, available and unavailable ({"code","reason"} or null).
nlohmann::ordered_json resource_json(const Resource& resource);
nlohmann::ordered_json resources_json(const std::vector<Resource>& resources);

// The same as compact text.
std::string resources_json_text(const std::vector<Resource>& resources);

// [{"sequence","type_name","payload","caller":{"app_id","app_name","label"} or null,
//   "heads_before":[hex…],"heads_after":[hex…]}, …]
nlohmann::ordered_json journal_json(const std::vector<bound_dispatch::JournalEntry>& entries);

}  // namespace kivo::actions
