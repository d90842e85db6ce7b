#pragma once
// A document persisted as change logs in one folder, and kept in step with other devices that
// write to the same folder (any folder the user already syncs, or a shared network folder).
//
// Each replica appends only to its own log, "<actor>.changes", so no two writers ever share a
// file and a file-sync tool never has to merge one. At open every log in the folder is read
// and merged; refresh() reads what the others appended since.
//
// Durability: each commit is one write(2) of one record, so a change survives the process
// crashing as soon as commit() returns. It is not flushed to the disk (no fdatasync) unless
// Options::sync_each_commit asks for it: a power loss may then lose the last commits, and the
// torn record it may leave is cut off at the next open, never costing an earlier change.
//
// Device identity: the device's actor id is kept in `<device folder>/actor`, which is never the
// shared folder unless the device folder is the shared folder too. A second process of the same
// device that opens the folder while the first holds its log (flock) continues as a fresh actor
// with a log of its own, so two writers never append to one log.

#include <sys/types.h>

#include <expected>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "kivo/base/unique_fd.h"
#include "kivo/doc/document.h"

namespace kivo::doc::persist {

struct Location {
  // Where the change logs live (shared between devices when synced).
  std::filesystem::path folder;
  // This device's own folder, for its actor id. May equal `folder`.
  std::filesystem::path device_dir;
};

struct Options {
  // fdatasync after every commit: survives power loss, at the cost of a disk flush per save.
  bool sync_each_commit = false;
};

// The device folder is $XDG_DATA_HOME/kivo/<app-id> (default ~/.local/share/kivo/<app-id>);
// the logs live there too unless KIVO_SYNC_DIR names another folder.
[[nodiscard]] std::expected<Location, Error> default_location(std::string_view app_id);

class PersistedDocument;

[[nodiscard]] std::expected<PersistedDocument, Error> open(std::string_view app_id, Options options = {});
[[nodiscard]] std::expected<PersistedDocument, Error> open(const Location& location, Options options = {});

class PersistedDocument {
 public:
  PersistedDocument(PersistedDocument&&) noexcept;
  PersistedDocument& operator=(PersistedDocument&&) noexcept;
  ~PersistedDocument();

  Document& document() { return doc_; }
  const Document& document() const { return doc_; }

  // Commits the pending edits and appends the change to this replica's log. True when a change
  // reached the log. On a write failure the change stays in the document and is written first
  // by the next commit() or refresh().
  [[nodiscard]] std::expected<bool, Error> commit();

  // Readable (poll for POLLIN) when something in the folder changed; then call refresh().
  // Non-blocking. -1 when the folder cannot be watched: call refresh() on a timer instead.
  int watch_fd() const { return watch_fd_.get(); }

  // Commits pending edits first, then reads what other logs gained since the last look (new
  // files, grown files) and merges it. True when the document changed. Problems with other
  // logs are warnings, never failures.
  bool refresh();

  const std::filesystem::path& folder() const { return location_.folder; }
  const std::filesystem::path& log_path() const { return log_path_; }

 private:
  struct FileState {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t offset = 0;  // where the next read starts: a record boundary
    off_t seen_size = -1;
    timespec seen_mtime{};
    off_t warned_at = -1;  // damage already reported at this offset
  };

  PersistedDocument(Location location, Options options);
  friend std::expected<PersistedDocument, Error> open(const Location&, Options);

  std::expected<void, Error> open_own_log(std::vector<Change>& own_changes);
  std::expected<void, Error> use_actor(const ActorId& actor);
  std::expected<std::size_t, Error> flush();
  void read_other_logs(std::vector<Change>& out);
  void read_log(const std::string& name, FileState& state, std::vector<Change>& out);

  Location location_;
  Options options_;
  Document doc_;
  UniqueFd log_fd_;
  std::filesystem::path log_path_;
  std::string log_name_;
  off_t log_size_ = 0;
  UniqueFd watch_fd_;
  std::map<std::string, FileState> files_;
  std::vector<std::vector<std::uint8_t>> unwritten_;
  bool log_damaged_ = false;  // a partial record could not be taken back
};

}  // namespace kivo::doc::persist
