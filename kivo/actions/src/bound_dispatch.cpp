#include "kivo/actions/bound_dispatch.h"

#include "kivo/doc/document.h"

namespace kivo::actions::bound_dispatch {

ActionJournal::ActionJournal(std::size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {}

std::vector<JournalEntry> ActionJournal::entries_since(std::uint64_t after) const {
  std::vector<JournalEntry> out;
  for (const JournalEntry& entry : entries_) {
    if (entry.sequence > after) out.push_back(entry);
  }
  return out;
}

void ActionJournal::append(PendingRecord record, std::vector<doc::ChangeHash> heads_after) {
  JournalEntry entry;
  entry.sequence = next_sequence_++;
  entry.action = std::move(record.action);
  entry.caller = std::move(record.caller);
  entry.heads_before = std::move(record.heads_before);
  entry.heads_after = std::move(heads_after);
  entries_.push_back(std::move(entry));
  while (entries_.size() > capacity_) entries_.pop_front();
}

std::optional<PendingRecord> typed_action_before(ActionJournal* journal, const doc::Document& document,
                                                 const EncodedAction& action,
                                                 std::optional<context::CallerContext> caller) {
  if (!journal || !journal->recording()) return std::nullopt;
  return PendingRecord{action, std::move(caller), document.heads()};
}

void report_typed_action(ActionJournal* journal, PendingRecord record, std::vector<doc::ChangeHash> heads_after) {
  if (!journal || !journal->recording()) return;
  journal->append(std::move(record), std::move(heads_after));
}

}  // namespace kivo::actions::bound_dispatch
