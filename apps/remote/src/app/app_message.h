#pragma once
// The closed set of state changes of the application, and the screens.

#include <cstddef>
#include <variant>

#include "doc/profile.h"
#include "kivo/base/uuid.h"

namespace remote::app {

using kivo::Uuid;

namespace msg {
struct ShowList { bool operator==(const ShowList&) const = default; };
struct OpenNewForm { bool operator==(const OpenNewForm&) const = default; };
struct OpenEditForm { Uuid id; bool operator==(const OpenEditForm&) const = default; };
struct Connect { Uuid id; bool operator==(const Connect&) const = default; };
struct RequestConnect { Uuid id; bool operator==(const RequestConnect&) const = default; };
struct Select { Uuid id; bool operator==(const Select&) const = default; };
struct ToggleFavorite { Uuid id; bool operator==(const ToggleFavorite&) const = default; };
struct RequestDelete { Uuid id; bool operator==(const RequestDelete&) const = default; };
struct RequestTrustHostKey { Uuid id; bool operator==(const RequestTrustHostKey&) const = default; };
struct RequestForgetHostKey { Uuid id; bool operator==(const RequestForgetHostKey&) const = default; };
struct ConfirmPending { bool operator==(const ConfirmPending&) const = default; };
struct CancelPending { bool operator==(const CancelPending&) const = default; };
struct FocusField { int field = 0; bool operator==(const FocusField&) const = default; };
struct SetKind { doc::ConnectionKind kind; bool operator==(const SetKind&) const = default; };
struct SetAuth { doc::ConnectionAuth auth; bool operator==(const SetAuth&) const = default; };
struct SaveForm { bool operator==(const SaveForm&) const = default; };
struct CancelForm { bool operator==(const CancelForm&) const = default; };
struct ToggleScale { bool operator==(const ToggleScale&) const = default; };
struct ToggleFullscreen { bool operator==(const ToggleFullscreen&) const = default; };
struct Disconnect { bool operator==(const Disconnect&) const = default; };
struct PickDevice { std::size_t index = 0; bool operator==(const PickDevice&) const = default; };
struct ToggleNavigation { bool operator==(const ToggleNavigation&) const = default; };
}  // namespace msg

using AppMessage =
    std::variant<msg::ShowList, msg::OpenNewForm, msg::OpenEditForm, msg::Connect, msg::RequestConnect, msg::Select,
                 msg::ToggleFavorite, msg::RequestDelete, msg::RequestTrustHostKey, msg::RequestForgetHostKey,
                 msg::ConfirmPending, msg::CancelPending, msg::FocusField, msg::SetKind, msg::SetAuth, msg::SaveForm,
                 msg::CancelForm, msg::ToggleScale, msg::ToggleFullscreen, msg::Disconnect, msg::PickDevice,
                 msg::ToggleNavigation>;

// The form edits a new profile or the saved one with this id.
struct FormNew { bool operator==(const FormNew&) const = default; };
struct FormEdit { Uuid id; bool operator==(const FormEdit&) const = default; };
using FormMode = std::variant<FormNew, FormEdit>;

namespace screen {
struct List { bool operator==(const List&) const = default; };
struct Form { FormMode mode; bool operator==(const Form&) const = default; };
struct Session { Uuid id; bool operator==(const Session&) const = default; };
}  // namespace screen
using Screen = std::variant<screen::List, screen::Form, screen::Session>;

// Field numbers of the six text fields.
inline constexpr int kSearchField = 0;
inline constexpr int kNameField = 1;
inline constexpr int kHostField = 2;
inline constexpr int kPortField = 3;
inline constexpr int kUserField = 4;
inline constexpr int kGroupField = 5;
inline constexpr int kFieldCount = 6;

}  // namespace remote::app
