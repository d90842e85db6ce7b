#include "actions/apply.h"

#include "actions/action_json.h"
#include "doc/store.h"
#include "kivo/base/overloaded.h"

namespace remote::actions {
namespace {

class ApplicableRemoteAction final : public kivo::actions::ApplicableAction {
 public:
  explicit ApplicableRemoteAction(RemoteAction action) : action_(std::move(action)) {}
  std::string debug_description() const override { return actions::debug_description(action_); }
  std::expected<void, std::string> apply(kivo::doc::Document& document) const override {
    apply_action(document, action_);
    return {};
  }
  // Document edits from automation run without a confirmation sheet; they are document
  // edits and are committed and journalled as such.
  bool requires_confirmation() const override { return false; }
  bool is_document_edit() const override { return true; }
  bool infallible() const override { return true; }

 private:
  RemoteAction action_;
};

}  // namespace

void apply_action(kivo::doc::Document& document, const RemoteAction& action) {
  std::visit(kivo::Overloaded{
                 [&](const UpsertConnection& a) {
                   doc::ConnectionProfile profile;
                   profile.id = a.id;
                   if (const auto stored = doc::read_profile(document, a.id)) {
                     profile.favorite = stored->favorite;
                     profile.presence = stored->presence;
                     profile.last_used = stored->last_used;
                   }
                   profile.name = a.name;
                   profile.host = a.host;
                   profile.port = a.port;
                   profile.user = a.user;
                   profile.kind = a.kind;
                   profile.auth = a.auth;
                   profile.group = a.group;
                   doc::upsert_profile(document, profile);
                 },
                 [&](const RenameConnection& a) { doc::rename_profile(document, a.id, a.name); },
                 [&](const SetFavorite& a) { doc::set_favorite(document, a.id, a.favorite); },
                 [&](const DeleteConnection& a) { doc::delete_profile(document, a.id); },
             },
             action);
}

kivo::actions::DecodeResult decode_action(std::string_view payload) {
  auto action = parse_action(payload);
  if (!action) {
    return std::unexpected(kivo::actions::DecodeError{std::string(kActionTypeName), std::move(action.error())});
  }
  return std::make_unique<ApplicableRemoteAction>(std::move(*action));
}

}  // namespace remote::actions
