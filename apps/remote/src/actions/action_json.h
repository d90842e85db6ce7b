#pragma once
// The JSON form of remote actions and operations, which automation and assistants write and
// read directly.
//
// Written: a variant without fields is the JSON string of its name; a variant with fields is an
// object with the single member named after it, holding its fields in declaration order.
// Output is compact. Read, in addition: the fields as an array in declaration order, members in
// any order, unknown members (ignored), and any standard UUID text form. A missing or duplicate
// field, an unknown variant, a value of the wrong type, a port above 65535 or an array of the
// wrong length is refused with a message in the style of "missing field `group`".

#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "actions/remote_action.h"
#include "kivo/actions/encoded.h"

namespace remote::actions {

std::string action_json(const RemoteAction& action);
std::string operation_json(const RemoteOperation& operation);

[[nodiscard]] std::expected<RemoteAction, std::string> parse_action(std::string_view payload);
[[nodiscard]] std::expected<RemoteOperation, std::string> parse_operation(std::string_view payload);

// "remote.action" with the action's JSON. Text that is not valid UTF-8 is written with
// replacement characters, so encoding never fails.
kivo::actions::EncodedAction encode_action(const RemoteAction& action);

// "remote.operation" with the operation's JSON; should the writer refuse the operation (text
// that is not valid UTF-8), the payload is empty and decoding it later fails visibly rather
// than delivering altered text.
kivo::actions::EncodedAction encode_operation(const RemoteOperation& operation);

// None when the type name is not exactly "remote.operation" (the invocation is someone else's);
// otherwise the operation or the reader's message.
std::optional<std::expected<RemoteOperation, std::string>> decode_operation(std::string_view type_name,
                                                                            std::string_view payload);

}  // namespace remote::actions
