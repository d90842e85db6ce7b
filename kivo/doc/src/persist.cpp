#include "kivo/doc/persist.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <system_error>
#include <utility>

#include "kivo/base/file.h"
#include "kivo/base/log.h"
#include "kivo/base/unique_fd.h"
#include "kivo/doc/change_log.h"

namespace kivo::doc::persist {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kTarget = "kivo::doc";
constexpr std::string_view kLogSuffix = ".changes";
constexpr std::string_view kActorFile = "actor";
constexpr std::size_t kReadChunk = std::size_t{4} << 20;

using kivo::errno_text;

std::unexpected<Error> fail(std::string message) { return std::unexpected(Error{std::move(message)}); }

bool is_log_name(std::string_view name) {
  if (name.size() != 32 + kLogSuffix.size() || !name.ends_with(kLogSuffix)) return false;
  return std::all_of(name.begin(), name.begin() + 32, [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::string log_name_for(const ActorId& actor) { return actor.to_string() + std::string(kLogSuffix); }

// Creates the folder and any missing parent; the ones we create are private (0700).
std::expected<void, Error> make_dirs(const fs::path& dir) {
  fs::path current;
  for (const fs::path& part : dir) {
    current /= part;
    if (::mkdir(current.c_str(), 0700) != 0 && errno != EEXIST) {
      return fail("could not create folder " + current.string() + ": " + errno_text(errno));
    }
  }
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return fail(dir.string() + " is not a folder");
  return {};
}

bool write_all(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Fewer bytes than asked only at the end of the file; -1 on an error.
ssize_t pread_full(int fd, std::uint8_t* data, std::size_t size, off_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, data + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

struct FileRead {
  std::vector<Change> changes;
  std::vector<Error> skipped;
  off_t end = 0;  // the first byte not read as part of a whole, valid record
  LogTail tail = LogTail::End;
  std::string problem;
  int read_error = 0;  // errno of a failed read: the file may be intact past `end`
};

// Reads whole records from `offset` up to `size`, a chunk at a time. A declared record length is
// checked against what the file still holds before a buffer for it is made.
FileRead read_records(int fd, off_t offset, off_t size) {
  FileRead r;
  r.end = offset;
  std::size_t need = 0;
  while (r.end < size) {
    const auto left = static_cast<std::size_t>(size - r.end);
    const std::size_t want = std::min(left, std::max(kReadChunk, need));
    std::vector<std::uint8_t> buf(want);
    const ssize_t got = pread_full(fd, buf.data(), want, r.end);
    if (got < 0) {
      r.read_error = errno;
      r.tail = LogTail::Incomplete;
      r.problem = "read failed: " + errno_text(r.read_error);
      return r;
    }
    if (static_cast<std::size_t>(got) < want) {
      // The file shrank while we read it.
      buf.resize(static_cast<std::size_t>(got));
      size = r.end + got;
    }
    LogScan scan = scan_log(buf, r.end == 0);
    std::move(scan.changes.begin(), scan.changes.end(), std::back_inserter(r.changes));
    std::move(scan.skipped.begin(), scan.skipped.end(), std::back_inserter(r.skipped));
    r.end += static_cast<off_t>(scan.consumed);
    if (scan.tail == LogTail::End) {
      need = 0;
      continue;
    }
    r.tail = scan.tail;
    r.problem = scan.problem;
    if (scan.tail != LogTail::Incomplete) return r;
    need = scan.needed != 0 ? scan.needed : kLogRecordHeaderBytes;
    if (r.end + static_cast<off_t>(need) > size) return r;
    r.tail = LogTail::End;
  }
  return r;
}

std::optional<ActorId> read_actor_file(const fs::path& path, int& err) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (fd.get() < 0) {
    err = errno;
    return std::nullopt;
  }
  err = 0;
  std::uint8_t buf[64];
  const ssize_t n = pread_full(fd.get(), buf, sizeof buf, 0);
  if (n < 0) {
    err = errno;
    return std::nullopt;
  }
  std::string_view text(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
  return ActorId::parse(text);
}

// Writes `actor` as the device's actor id: to a temporary file, then linked into place (or,
// with `replace`, renamed over the old one), so a reader never sees half an id. EEXIST when
// another process placed one first.
std::expected<void, int> write_actor_file(const fs::path& dir, const ActorId& actor, bool replace) {
  const fs::path path = dir / kActorFile;
  const fs::path tmp = dir / (".actor-" + actor.to_string() + ".tmp");
  UniqueFd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (fd.get() < 0) return std::unexpected(errno);
  const std::string text = actor.to_string() + "\n";
  const bool written = write_all(fd.get(), reinterpret_cast<const std::uint8_t*>(text.data()), text.size()) &&
                       ::fsync(fd.get()) == 0;
  const int write_err = errno;
  fd.reset();
  if (!written) {
    ::unlink(tmp.c_str());
    return std::unexpected(write_err);
  }
  const int placed = replace ? ::rename(tmp.c_str(), path.c_str()) : ::link(tmp.c_str(), path.c_str());
  const int place_err = errno;
  ::unlink(tmp.c_str());
  if (placed != 0) return std::unexpected(place_err);
  return {};
}

// The device's actor id, made on first use; two processes starting at once agree on one.
std::expected<ActorId, Error> device_actor(const fs::path& dir) {
  const fs::path path = dir / kActorFile;
  for (int attempt = 0; attempt < 2; ++attempt) {
    int err = 0;
    auto existing = read_actor_file(path, err);
    if (existing) return *existing;
    if (err != 0 && err != ENOENT) return fail("could not read " + path.string() + ": " + errno_text(err));
    const bool replace = err == 0;
    if (replace) kivo::log_warn(kTarget, path.string() + " does not hold an actor id; writing a new one");

    const ActorId actor = ActorId::random();
    auto placed = write_actor_file(dir, actor, replace);
    if (placed) return actor;
    if (placed.error() != EEXIST) return fail("could not write " + path.string() + ": " + errno_text(placed.error()));
    // Another process made it first: use theirs.
  }
  return fail("could not settle the device actor id in " + path.string());
}

// Opens and locks a log for appending. Sets `busy` when another process holds it.
std::expected<UniqueFd, Error> open_locked_log(const fs::path& path, bool& busy) {
  busy = false;
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (fd.get() < 0) return fail("could not open the change log " + path.string() + ": " + errno_text(errno));
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      busy = true;
      return fail("the change log " + path.string() + " is in use");
    }
    return fail("could not lock the change log " + path.string() + ": " + errno_text(errno));
  }
  return fd;
}

}  // namespace

std::expected<Location, Error> default_location(std::string_view app_id) {
  if (app_id.empty() || app_id == "." || app_id == ".." || app_id.find('/') != std::string_view::npos ||
      app_id.find('\0') != std::string_view::npos) {
    return fail("application id must be a plain folder name");
  }
  fs::path data_home;
  const char* xdg = std::getenv("XDG_DATA_HOME");
  // Relative values are invalid and ignored.
  if (xdg != nullptr && xdg[0] == '/') {
    data_home = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') return fail("cannot find the data folder: neither XDG_DATA_HOME nor HOME is set");
    data_home = fs::path(home) / ".local" / "share";
  }
  Location location;
  location.device_dir = data_home / "kivo" / std::string(app_id);
  const char* sync = std::getenv("KIVO_SYNC_DIR");
  location.folder = sync != nullptr && sync[0] != '\0' ? fs::path(sync) : location.device_dir;
  return location;
}

std::expected<PersistedDocument, Error> open(std::string_view app_id, Options options) {
  auto location = default_location(app_id);
  if (!location) return std::unexpected(location.error());
  return open(*location, options);
}

std::expected<PersistedDocument, Error> open(const Location& location, Options options) {
  if (location.folder.empty() || location.device_dir.empty()) return fail("the document folder is not set");
  if (auto ok = make_dirs(location.device_dir); !ok) return std::unexpected(ok.error());
  if (auto ok = make_dirs(location.folder); !ok) return std::unexpected(ok.error());

  PersistedDocument pd(location, options);

  // Watch before reading, so nothing written in between goes unnoticed.
  pd.watch_fd_.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!pd.watch_fd_.valid() ||
      ::inotify_add_watch(pd.watch_fd_.get(), location.folder.c_str(),
                          IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_ATTRIB) < 0) {
    kivo::log_warn(kTarget, "cannot watch " + location.folder.string() + " for changes: " + errno_text(errno));
    pd.watch_fd_.reset();
  }

  std::vector<Change> changes;
  if (auto ok = pd.open_own_log(changes); !ok) return std::unexpected(ok.error());
  const std::size_t own_count = changes.size();
  pd.read_other_logs(changes);

  auto applied = pd.doc_.apply_changes(changes);
  if (!applied) kivo::fatal("a freshly opened document has uncommitted edits");
  for (const Error& e : applied->refused) kivo::log_warn(kTarget, "change refused: " + e.message);

  // Continuing an actor whose history did not load whole would reuse its sequence numbers and
  // op counters for different changes; a fresh actor keeps every op id unique.
  const bool own_whole = std::all_of(changes.begin(), changes.begin() + static_cast<std::ptrdiff_t>(own_count),
                                     [&](const Change& c) { return pd.doc_.has_change(c.hash()); });
  if (!own_whole) {
    kivo::log_warn(kTarget, "some changes in " + pd.log_path_.string() +
                                " cannot be applied yet; continuing with a new log so that they stay intact");
    if (auto ok = pd.use_actor(ActorId::random()); !ok) return std::unexpected(ok.error());
  }
  return pd;
}

PersistedDocument::PersistedDocument(Location location, Options options)
    : location_(std::move(location)), options_(options) {}

PersistedDocument::PersistedDocument(PersistedDocument&&) noexcept = default;
PersistedDocument& PersistedDocument::operator=(PersistedDocument&&) noexcept = default;

PersistedDocument::~PersistedDocument() {
  // A change whose append failed earlier gets one last chance; say so if it is lost.
  if (log_fd_.valid() && !unwritten_.empty()) {
    if (auto written = flush(); !written) {
      kivo::log_error(kTarget, std::to_string(unwritten_.size()) + " saved change(s) never reached the disk: " +
                                   written.error().message);
    }
  }
}

// Switches to a new, empty log of a fresh actor.
std::expected<void, Error> PersistedDocument::use_actor(const ActorId& actor) {
  bool busy = false;
  const fs::path path = location_.folder / log_name_for(actor);
  auto fd = open_locked_log(path, busy);
  if (!fd) return std::unexpected(fd.error());
  const auto header = log_file_header();
  if (::ftruncate(fd->get(), 0) != 0 || !write_all(fd->get(), header.data(), header.size())) {
    return fail("could not write the change log " + path.string() + ": " + errno_text(errno));
  }
  const ActorId leaving = doc_.actor();
  if (auto ok = doc_.set_actor(actor); !ok) return ok;
  // Leaving the device's actor for good: the next start must not take it up again.
  int err = 0;
  if (read_actor_file(location_.device_dir / kActorFile, err) == leaving) {
    if (auto written = write_actor_file(location_.device_dir, actor, /*replace=*/true); !written) {
      kivo::log_warn(kTarget, "could not record the new actor id of this device: " + errno_text(written.error()));
    }
  }
  log_fd_ = std::move(*fd);
  log_path_ = path;
  log_name_ = log_name_for(actor);
  log_size_ = static_cast<off_t>(header.size());
  log_damaged_ = false;
  return {};
}

std::expected<void, Error> PersistedDocument::open_own_log(std::vector<Change>& own_changes) {
  auto device = device_actor(location_.device_dir);
  if (!device) return std::unexpected(device.error());
  ActorId actor = *device;
  for (;;) {
    const fs::path path = location_.folder / log_name_for(actor);
    bool busy = false;
    auto fd = open_locked_log(path, busy);
    if (!fd && busy) {
      // Another process of this device is running on this folder: never share its log.
      actor = ActorId::random();
      kivo::log_info(kTarget, path.string() + " is in use by another process; continuing as actor " + actor.to_string());
      continue;
    }
    if (!fd) return std::unexpected(fd.error());

    struct stat st {};
    if (::fstat(fd->get(), &st) != 0) return fail("could not read the change log " + path.string() + ": " + errno_text(errno));
    FileRead r = read_records(fd->get(), 0, st.st_size);
    // A failed read says nothing about the bytes it did not reach: never cut the log for it.
    if (r.read_error != 0) return fail("could not read the change log " + path.string() + ": " + errno_text(r.read_error));
    if (r.tail == LogTail::NotALog) {
      // Leave the file as it is for whoever wants to look at it.
      kivo::log_warn(kTarget, "ignoring " + path.string() + ": " + r.problem + "; continuing as a new actor");
      actor = ActorId::random();
      continue;
    }
    for (const Error& e : r.skipped) kivo::log_warn(kTarget, path.string() + ": skipped a record: " + e.message);
    if (r.end < st.st_size) {
      // Nobody else writes this log (we hold its lock), so what follows the last intact record is
      // a torn or damaged write; cut it off so that new records follow intact ones.
      kivo::log_warn(kTarget, "change log " + path.string() + " is damaged at byte " + std::to_string(r.end) + " (" +
                                  (r.problem.empty() ? std::string("cut short") : r.problem) + "); cutting it off there");
      if (::ftruncate(fd->get(), r.end) != 0) {
        return fail("could not repair the change log " + path.string() + ": " + errno_text(errno));
      }
    }
    if (r.end == 0) {
      const auto header = log_file_header();
      if (!write_all(fd->get(), header.data(), header.size())) {
        return fail("could not write the change log " + path.string() + ": " + errno_text(errno));
      }
      r.end = static_cast<off_t>(header.size());
    }
    if (auto ok = doc_.set_actor(actor); !ok) return ok;
    log_fd_ = std::move(*fd);
    log_path_ = path;
    log_name_ = log_name_for(actor);
    log_size_ = r.end;
    own_changes = std::move(r.changes);
    if (!r.skipped.empty()) {
      // Keep the actor's history consistent: a change we cannot read may still be someone's dependency.
      own_changes.clear();
      return use_actor(ActorId::random());
    }
    if (r.tail == LogTail::Corrupt) {
      // A record that was once whole may already be on other devices: continuing this actor
      // would give its sequence number to a different change, which they would refuse.
      return use_actor(ActorId::random());
    }
    return {};
  }
}

std::expected<std::size_t, Error> PersistedDocument::flush() {
  if (log_damaged_ && !unwritten_.empty()) {
    return std::unexpected(Error{"the change log " + log_path_.string() + " ends in a partial record; not appending"});
  }
  std::size_t written = 0;
  std::optional<Error> error;
  for (const auto& record : unwritten_) {
    if (!write_all(log_fd_.get(), record.data(), record.size())) {
      error = Error{"could not append to the change log " + log_path_.string() + ": " + errno_text(errno)};
      // Take back a partial record so that the next append starts on a record boundary. If
      // that fails, later records would follow a damaged one and be cut off at the next open:
      // append nothing more to this log.
      if (::ftruncate(log_fd_.get(), log_size_) != 0) {
        kivo::log_error(kTarget, "could not take back a partial record in " + log_path_.string() +
                                     ": " + errno_text(errno) + "; saving stops until Remote is restarted");
        log_damaged_ = true;
      }
      break;
    }
    log_size_ += static_cast<off_t>(record.size());
    ++written;
  }
  unwritten_.erase(unwritten_.begin(), unwritten_.begin() + static_cast<std::ptrdiff_t>(written));
  if (!error && written > 0 && options_.sync_each_commit && ::fdatasync(log_fd_.get()) != 0) {
    error = Error{"could not flush the change log " + log_path_.string() + " to disk: " + errno_text(errno)};
  }
  if (error) return std::unexpected(*error);
  return written;
}

std::expected<bool, Error> PersistedDocument::commit() {
  auto change = doc_.commit();
  if (change) unwritten_.push_back(log_record(*change));
  auto written = flush();
  if (!written) return std::unexpected(written.error());
  return *written > 0;
}

bool PersistedDocument::refresh() {
  if (watch_fd_.valid()) {
    alignas(inotify_event) char buf[4096];
    while (::read(watch_fd_.get(), buf, sizeof buf) > 0) {
    }
  }
  if (doc_.pending_ops() > 0 || !unwritten_.empty()) {
    if (auto ok = commit(); !ok) kivo::log_warn(kTarget, ok.error().message);
  }
  std::vector<Change> changes;
  read_other_logs(changes);
  if (changes.empty()) return false;
  auto applied = doc_.apply_changes(changes);
  if (!applied) {
    kivo::log_warn(kTarget, applied.error().message);
    return false;
  }
  for (const Error& e : applied->refused) kivo::log_warn(kTarget, "change refused: " + e.message);
  return applied->applied > 0;
}

void PersistedDocument::read_other_logs(std::vector<Change>& out) {
  DIR* dir = ::opendir(location_.folder.c_str());
  if (dir == nullptr) {
    kivo::log_warn(kTarget, "cannot read " + location_.folder.string() + ": " + errno_text(errno));
    return;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    // Anything else in the folder (our actor file, a sync tool's own files) is not ours to read.
    if (!is_log_name(name) || name == log_name_) continue;
    read_log(name, files_[name], out);
  }
  ::closedir(dir);
}

void PersistedDocument::read_log(const std::string& name, FileState& state, std::vector<Change>& out) {
  const fs::path path = location_.folder / name;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (fd.get() < 0) return;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  if (st.st_dev != state.dev || st.st_ino != state.ino || st.st_size < state.offset) {
    // A new file, or one replaced or cut short (by its owner or a sync tool): read it from the
    // start; changes we have already are ignored.
    state = FileState{};
    state.dev = st.st_dev;
    state.ino = st.st_ino;
  }
  if (st.st_size == state.seen_size && st.st_mtim.tv_sec == state.seen_mtime.tv_sec &&
      st.st_mtim.tv_nsec == state.seen_mtime.tv_nsec) {
    return;
  }
  state.seen_size = st.st_size;
  state.seen_mtime = st.st_mtim;

  FileRead r = read_records(fd.get(), state.offset, st.st_size);
  if (r.read_error != 0) {
    // Try again at the next refresh even if the file does not change in the meantime.
    state.seen_size = -1;
    kivo::log_warn(kTarget, "cannot read " + path.string() + ": " + errno_text(r.read_error));
  }
  for (const Error& e : r.skipped) kivo::log_warn(kTarget, path.string() + ": skipped a record: " + e.message);
  std::move(r.changes.begin(), r.changes.end(), std::back_inserter(out));
  state.offset = r.end;
  // A record cut short at the end is still being written: wait for the rest without a word.
  if ((r.tail == LogTail::Corrupt || r.tail == LogTail::NotALog) && state.warned_at != r.end) {
    state.warned_at = r.end;
    if (r.tail == LogTail::NotALog) {
      kivo::log_warn(kTarget, "ignoring " + path.string() + ": " + r.problem);
    } else {
      kivo::log_warn(kTarget, "change log " + path.string() + " is damaged at byte " + std::to_string(r.end) + " (" +
                                  r.problem + "); skipping the rest of it");
    }
  }
}

}  // namespace kivo::doc::persist
