#pragma once
// Decoders from encoded actions to objects that can be applied to the shared document.

#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kivo/actions/encoded.h"

namespace kivo::doc {
class Document;
}

namespace kivo::actions {

// A decoded action, ready to be applied.
class ApplicableAction {
 public:
  virtual ~ApplicableAction() = default;

  // The variant and its fields, for logs.
  virtual std::string debug_description() const = 0;

  // Changes the document; the executor commits what this adds, or discards it on failure.
  virtual std::expected<void, std::string> apply(doc::Document& document) const = 0;

  // Whether a person must confirm the action before it runs.
  virtual bool requires_confirmation() const = 0;

  // Whether applying it changes the document (and is therefore committed and journalled).
  virtual bool is_document_edit() const = 0;
  // A document edit whose apply can never fail: the executor then takes no snapshot of the
  // document to restore (a snapshot costs as much as the document is large).
  virtual bool infallible() const { return false; }
};

struct DecodeError {
  std::string type_name;
  std::string message;

  // "could not decode `<type>` action: <message>"
  std::string display() const;

  friend bool operator==(const DecodeError&, const DecodeError&) = default;
};

using DecodeResult = std::expected<std::unique_ptr<ApplicableAction>, DecodeError>;
using Decoder = std::function<DecodeResult(std::string_view payload)>;

// Type name → decoder. Only the UI thread uses it; it is not synchronised.
class ActionRegistry {
 public:
  // Registers a decoder; an earlier one under the same name is replaced.
  void insert(std::string type_name, Decoder decoder);
  bool contains(std::string_view type_name) const;
  std::vector<std::string> type_names() const;

  // Decodes with the decoder registered for the action's type. An unregistered type is a
  // decode error carrying that type name.
  DecodeResult decode(const EncodedAction& action) const;

 private:
  std::map<std::string, Decoder, std::less<>> decoders_;
};

}  // namespace kivo::actions
