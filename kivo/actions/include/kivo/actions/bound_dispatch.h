#pragma once
// The action journal: which typed actions changed the shared document, for whom, and between
// which document heads. The automation endpoint reads it to tell callers what happened.

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "kivo/actions/context.h"
#include "kivo/actions/encoded.h"
#include "kivo/doc/types.h"

namespace kivo::doc {
class Document;
}

namespace kivo::actions::bound_dispatch {

// Started before a dispatch, completed by report_typed_action after it succeeded.
struct PendingRecord {
  EncodedAction action;
  std::optional<context::CallerContext> caller;
  std::vector<doc::ChangeHash> heads_before;
};

struct JournalEntry {
  // Increases by one per entry over the journal's life, so readers can ask for what is new.
  std::uint64_t sequence = 0;
  EncodedAction action;
  std::optional<context::CallerContext> caller;
  std::vector<doc::ChangeHash> heads_before;
  std::vector<doc::ChangeHash> heads_after;
};

// The most recent entries, oldest first, up to a fixed capacity. Not synchronised: it lives
// with the document on the thread that owns both.
class ActionJournal {
 public:
  static constexpr std::size_t kDefaultCapacity = 256;
  explicit ActionJournal(std::size_t capacity = kDefaultCapacity);

  // While not recording, typed_action_before yields nothing and nothing is journalled.
  void set_recording(bool recording) { recording_ = recording; }
  bool recording() const { return recording_; }

  const std::deque<JournalEntry>& entries() const { return entries_; }
  // Entries with a sequence above `after`, oldest first.
  std::vector<JournalEntry> entries_since(std::uint64_t after) const;
  // The sequence of the newest entry; 0 before the first.
  std::uint64_t last_sequence() const { return next_sequence_ - 1; }

  void append(PendingRecord record, std::vector<doc::ChangeHash> heads_after);

 private:
  std::size_t capacity_;
  bool recording_ = true;
  std::uint64_t next_sequence_ = 1;
  std::deque<JournalEntry> entries_;
};

// Starts a record with the document's current heads; none without a recording journal.
std::optional<PendingRecord> typed_action_before(ActionJournal* journal, const doc::Document& document,
                                                 const EncodedAction& action,
                                                 std::optional<context::CallerContext> caller);

// Completes a record with the heads taken after the dispatch.
void report_typed_action(ActionJournal* journal, PendingRecord record, std::vector<doc::ChangeHash> heads_after);

}  // namespace kivo::actions::bound_dispatch
