#include "kivo/actions/registry.h"

#include <gtest/gtest.h>

namespace kivo::actions {
namespace {

class Named final : public ApplicableAction {
 public:
  explicit Named(std::string name) : name_(std::move(name)) {}
  std::string debug_description() const override { return name_; }
  std::expected<void, std::string> apply(doc::Document&) const override { return {}; }
  bool requires_confirmation() const override { return false; }
  bool is_document_edit() const override { return true; }

 private:
  std::string name_;
};

Decoder echo_decoder(std::string prefix) {
  return [prefix](std::string_view payload) -> DecodeResult {
    if (payload.empty()) return std::unexpected(DecodeError{"test.echo", "empty payload"});
    return std::make_unique<Named>(prefix + std::string(payload));
  };
}

TEST(ActionRegistry, DecodesByTypeName) {
  ActionRegistry registry;
  registry.insert("test.echo", echo_decoder("first:"));
  registry.insert("test.null", [](std::string_view) -> DecodeResult { return std::unique_ptr<ApplicableAction>(); });
  registry.insert("test.echo", echo_decoder("second:"));  // a later registration replaces

  EXPECT_TRUE(registry.contains("test.echo"));
  EXPECT_FALSE(registry.contains("test"));
  EXPECT_EQ(registry.type_names(), (std::vector<std::string>{"test.echo", "test.null"}));

  auto decoded = registry.decode({"test.echo", "x"});
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ((*decoded)->debug_description(), "second:x");

  const struct {
    EncodedAction action;
    DecodeError error;
  } failures[] = {
      {{"test.echo", ""}, {"test.echo", "empty payload"}},
      {{"test.other", "x"}, {"test.other", "no decoder is registered for this action type"}},
      {{"", "x"}, {"", "no decoder is registered for this action type"}},
      {{"test.null", "x"}, {"test.null", "the decoder produced no action"}},
  };
  for (const auto& f : failures) {
    auto result = registry.decode(f.action);
    ASSERT_FALSE(result.has_value()) << f.action.type_name;
    EXPECT_EQ(result.error(), f.error);
  }
  EXPECT_EQ((DecodeError{"remote.action", "missing field `group`"}).display(),
            "could not decode `remote.action` action: missing field `group`");
}

}  // namespace
}  // namespace kivo::actions
