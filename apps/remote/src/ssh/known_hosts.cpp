#include "ssh/known_hosts.h"

#include <fcntl.h>
#include <nettle/base64.h>
#include <nettle/sha2.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <system_error>
#include <utility>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "kivo/base/file.h"
#include "kivo/base/unique_fd.h"

namespace remote::ssh {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr std::string_view kParentName = "SSH host-key store parent";
constexpr std::string_view kStoreName = "SSH host-key store";

using kivo::errno_text;

std::string private_text(std::string_view name) {
  return fmt::format("{} must not be accessible to group or other users", name);
}

// The directory that holds the store, opened after checking that it is a real directory
// (not a link to one) that only its owner can use. The checks that matter are made on
// the opened descriptor, so a directory swapped in between cannot slip through.
std::expected<kivo::UniqueFd, std::string> open_private_dir(const fs::path& dir) {
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0) return std::unexpected(errno_text(errno));
  if (!S_ISDIR(st.st_mode)) return std::unexpected(fmt::format("{} must be a real directory", kParentName));
  kivo::UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ELOOP || errno == ENOTDIR) {
      return std::unexpected(fmt::format("{} must be a real directory", kParentName));
    }
    return std::unexpected(errno_text(errno));
  }
  if (::fstat(fd.get(), &st) != 0) return std::unexpected(errno_text(errno));
  if ((st.st_mode & 0077) != 0) return std::unexpected(private_text(kParentName));
  return fd;
}

// Checks what a store file's metadata says about it.
std::expected<void, std::string> check_store_file(const struct stat& st) {
  if (!S_ISREG(st.st_mode)) return std::unexpected(fmt::format("{} must be a regular file", kStoreName));
  if ((st.st_mode & 0077) != 0) return std::unexpected(private_text(kStoreName));
  return {};
}

struct StoreLocation {
  kivo::UniqueFd dir;
  std::string name;
};

// Validates a store path and returns its directory, opened, with the file name in it.
std::expected<StoreLocation, std::string> open_store_location(const fs::path& path) {
  const fs::path parent = path.parent_path();
  if (parent.empty()) return std::unexpected(std::string("SSH host-key store has no private parent directory"));
  auto dir = open_private_dir(parent);
  if (!dir) return std::unexpected(std::move(dir.error()));

  const std::string name = path.filename().string();
  // "dir/", "dir/." and "dir/.." name directories, never a file.
  if (name.empty() || name == "." || name == "..") {
    return std::unexpected(fmt::format("{} must be a regular file", kStoreName));
  }
  struct stat st {};
  if (::fstatat(dir->get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) return std::unexpected(errno_text(errno));
  } else if (auto checked = check_store_file(st); !checked) {
    return std::unexpected(std::move(checked.error()));
  }
  return StoreLocation{std::move(*dir), name};
}

std::expected<void, std::string> validate_store_path(const fs::path& path) {
  auto location = open_store_location(path);
  if (!location) return std::unexpected(std::move(location.error()));
  return {};
}

// The platform's private per-user state directory (XDG): $XDG_STATE_HOME when it is an
// absolute path, else ~/.local/state with the home from $HOME or the password database.
std::optional<fs::path> state_directory() {
  if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && xdg[0] == '/') return fs::path(xdg);
  fs::path home;
  if (const char* env_home = std::getenv("HOME"); env_home != nullptr && env_home[0] != '\0') {
    home = env_home;
  } else {
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::string buffer(16384, '\0');
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] != '\0') {
      home = found->pw_dir;
    }
  }
  if (home.empty()) return std::nullopt;
  return home / ".local" / "state";
}

// Creates the store directory and its missing parents, then makes the store directory
// itself private. Parents keep the modes the file-creation mask gives them.
std::expected<void, std::string> create_store_directory(const fs::path& dir) {
  std::error_code error;
  fs::create_directories(dir, error);
  if (error) return std::unexpected(error.message());
  kivo::UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) return std::unexpected(errno_text(errno));
  if (::fchmod(fd.get(), 0700) != 0) return std::unexpected(errno_text(errno));
  return {};
}

// --- reading -----------------------------------------------------------------------

// Builds a DOM like nlohmann's own parser, but refuses a key given twice in one object,
// which the plain parser would silently resolve.
class StrictDomBuilder final : public nlohmann::json_sax<json> {
 public:
  json& root() { return root_; }
  const std::string& error() const { return error_; }

  bool null() override { return put(nullptr) != nullptr; }
  bool boolean(bool value) override { return put(value) != nullptr; }
  bool number_integer(number_integer_t value) override { return put(value) != nullptr; }
  bool number_unsigned(number_unsigned_t value) override { return put(value) != nullptr; }
  bool number_float(number_float_t value, const string_t&) override { return put(value) != nullptr; }
  bool string(string_t& value) override { return put(std::move(value)) != nullptr; }
  bool binary(binary_t& value) override { return put(std::move(value)) != nullptr; }

  bool start_object(std::size_t) override {
    if (too_deep()) return false;
    std::string location = location_of_next();
    json* object = put(json::object());
    containers_.push_back({object, std::move(location)});
    return true;
  }
  bool key(string_t& name) override {
    Container& top = containers_.back();
    if (top.value->contains(name)) {
      error_ = top.location.empty() ? fmt::format("duplicate key \"{}\"", name)
                                    : fmt::format("duplicate key \"{}\" in {}", name, top.location);
      return false;
    }
    key_ = std::move(name);
    return true;
  }
  bool end_object() override {
    containers_.pop_back();
    return true;
  }
  bool start_array(std::size_t) override {
    if (too_deep()) return false;
    std::string location = location_of_next();
    json* array = put(json::array());
    containers_.push_back({array, std::move(location)});
    return true;
  }
  bool end_array() override {
    containers_.pop_back();
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) override {
    // Drop the "[json.exception.parse_error.101] " tag; the rest is the reader's description.
    std::string_view text = error.what();
    if (!text.empty() && text.front() == '[') {
      if (const auto end = text.find("] "); end != std::string_view::npos) text.remove_prefix(end + 2);
    }
    error_ = std::string(text);
    return false;
  }

 private:
  struct Container {
    json* value;
    std::string location;  // e.g. entries[0].identity; empty for the top level
  };

  // The store nests three levels. A corrupt file of brackets must not make every level
  // keep a longer copy of its parent's location.
  static constexpr std::size_t kMaxDepth = 8;
  bool too_deep() {
    if (containers_.size() < kMaxDepth) return false;
    error_ = fmt::format("nesting deeper than {} levels", kMaxDepth);
    return true;
  }

  // Where the value about to be put will live, for error texts.
  std::string location_of_next() const {
    if (containers_.empty()) return {};
    const Container& top = containers_.back();
    if (top.value->is_array()) return fmt::format("{}[{}]", top.location, top.value->size());
    return top.location.empty() ? key_ : fmt::format("{}.{}", top.location, key_);
  }

  json* put(json value) {
    if (containers_.empty()) {
      root_ = std::move(value);
      return &root_;
    }
    json& top = *containers_.back().value;
    if (top.is_array()) {
      top.push_back(std::move(value));
      return &top.back();
    }
    json& slot = top[key_];
    slot = std::move(value);
    return &slot;
  }

  json root_;
  std::vector<Container> containers_;
  std::string key_;
  std::string error_;
};

std::expected<std::string, std::string> string_field(const json& object, std::string_view where, const char* name) {
  const auto it = object.find(name);
  if (it == object.end()) return std::unexpected(fmt::format("{}: missing key \"{}\"", where, name));
  if (!it->is_string()) return std::unexpected(fmt::format("{}.{} must be a string", where, name));
  return it->get<std::string>();
}

std::expected<KnownHostEntry, std::string> entry_from_json(const json& value, std::size_t index) {
  const std::string where = fmt::format("entries[{}]", index);
  if (!value.is_object()) return std::unexpected(fmt::format("{} must be an object", where));
  KnownHostEntry entry;

  auto host = string_field(value, where, "host");
  if (!host) return std::unexpected(std::move(host.error()));
  entry.host = std::move(*host);

  const auto port = value.find("port");
  if (port == value.end()) return std::unexpected(fmt::format("{}: missing key \"port\"", where));
  if (!port->is_number_unsigned() || port->get<std::uint64_t>() > 65535) {
    return std::unexpected(fmt::format("{}.port must be an integer from 0 to 65535", where));
  }
  entry.port = static_cast<std::uint16_t>(port->get<std::uint64_t>());

  const auto identity = value.find("identity");
  const std::string identity_where = where + ".identity";
  if (identity == value.end()) return std::unexpected(fmt::format("{}: missing key \"identity\"", where));
  if (!identity->is_object()) return std::unexpected(fmt::format("{} must be an object", identity_where));
  auto algorithm = string_field(*identity, identity_where, "algorithm");
  if (!algorithm) return std::unexpected(std::move(algorithm.error()));
  auto fingerprint = string_field(*identity, identity_where, "fingerprint");
  if (!fingerprint) return std::unexpected(std::move(fingerprint.error()));
  entry.identity = {std::move(*algorithm), std::move(*fingerprint)};
  return entry;
}

// The file's bytes; none when there is no file.
std::expected<std::optional<std::string>, std::string> read_store_file(const StoreLocation& location) {
  // O_NONBLOCK: a FIFO put in the file's place must not hang the open.
  kivo::UniqueFd fd(::openat(location.dir.get(), location.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOENT) return std::nullopt;
    if (errno == ELOOP) return std::unexpected(fmt::format("{} must be a regular file", kStoreName));
    return std::unexpected(errno_text(errno));
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return std::unexpected(errno_text(errno));
  if (auto checked = check_store_file(st); !checked) return std::unexpected(std::move(checked.error()));
  if (static_cast<std::uint64_t>(st.st_size) > kMaxKnownHostsBytes) {
    return std::unexpected(fmt::format("{} exceeds the {} MiB limit", kStoreName, kMaxKnownHostsBytes >> 20));
  }
  auto text = kivo::read_bounded(fd.get(), kMaxKnownHostsBytes, static_cast<std::size_t>(st.st_size));
  if (!text) return std::unexpected(errno_text(text.error()));
  // The file may have grown past the limit since fstat.
  if (text->size() > kMaxKnownHostsBytes) {
    return std::unexpected(fmt::format("{} exceeds the {} MiB limit", kStoreName, kMaxKnownHostsBytes >> 20));
  }
  return std::optional<std::string>(std::move(*text));
}

// --- writing -----------------------------------------------------------------------

std::expected<void, std::string> write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t wrote = ::write(fd, bytes.data(), bytes.size());
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(errno_text(errno));
    }
    bytes.remove_prefix(static_cast<std::size_t>(wrote));
  }
  return {};
}

std::string temporary_name(std::string_view name) {
  static std::atomic<std::uint64_t> counter{0};
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  return fmt::format(".{}.tmp-{}-{}-{:x}", name, ::getpid(), counter.fetch_add(1), static_cast<std::uint64_t>(now));
}

// Writes a complete new file next to the store and renames it over the store, so a reader
// (or a crash at any point) sees either the old or the new store, never a partial one.
std::expected<void, std::string> replace_file(const StoreLocation& location, std::string_view bytes) {
  const int dir = location.dir.get();
  std::string temporary;
  kivo::UniqueFd fd;
  for (int attempt = 0; attempt < 16 && fd.get() < 0; ++attempt) {
    temporary = temporary_name(location.name);
    fd = kivo::UniqueFd(::openat(dir, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0 && errno != EEXIST) return std::unexpected(errno_text(errno));
  }
  if (fd.get() < 0) return std::unexpected(errno_text(EEXIST));

  auto fail = [&](int error) -> std::expected<void, std::string> {
    ::unlinkat(dir, temporary.c_str(), 0);
    return std::unexpected(errno_text(error));
  };
  // The creation mode is reduced by the file-creation mask; the store must be exactly 0600.
  if (::fchmod(fd.get(), 0600) != 0) return fail(errno);
  if (auto wrote = write_all(fd.get(), bytes); !wrote) {
    ::unlinkat(dir, temporary.c_str(), 0);
    return wrote;
  }
  if (::fsync(fd.get()) != 0) return fail(errno);
  if (const int error = fd.close_checked(); error != 0) return fail(error);
  if (::renameat(dir, temporary.c_str(), dir, location.name.c_str()) != 0) return fail(errno);
  // Makes the rename itself durable.
  if (::fsync(dir) != 0) return std::unexpected(errno_text(errno));
  return {};
}

}  // namespace

std::expected<fs::path, std::string> resolve_store_path() {
  if (const char* override_path = std::getenv("REMOTE_SSH_KNOWN_HOSTS"); override_path != nullptr) {
    fs::path path(override_path);
    if (auto valid = validate_store_path(path); !valid) return std::unexpected(std::move(valid.error()));
    return path;
  }
  const auto state = state_directory();
  if (!state) return std::unexpected(std::string("no private state directory is available for SSH host trust"));
  const fs::path dir = *state / "kivo" / "remote";
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0) {
    if (errno != ENOENT) return std::unexpected(errno_text(errno));
    if (auto created = create_store_directory(dir); !created) return std::unexpected(std::move(created.error()));
  }
  if (auto valid = open_private_dir(dir); !valid) return std::unexpected(std::move(valid.error()));
  fs::path path = dir / "known-hosts.json";
  if (auto valid = validate_store_path(path); !valid) return std::unexpected(std::move(valid.error()));
  return path;
}

std::expected<KnownHosts, std::string> parse_known_hosts(std::string_view text) {
  StrictDomBuilder builder;
  if (!json::sax_parse(text, &builder)) return std::unexpected(builder.error());
  const json& root = builder.root();
  if (!root.is_object()) return std::unexpected(std::string("the store must be a JSON object"));
  const auto entries = root.find("entries");
  if (entries == root.end()) return std::unexpected(std::string("missing key \"entries\""));
  if (!entries->is_array()) return std::unexpected(std::string("entries must be an array"));
  KnownHosts store;
  store.entries.reserve(entries->size());
  for (std::size_t i = 0; i < entries->size(); ++i) {
    auto entry = entry_from_json((*entries)[i], i);
    if (!entry) return std::unexpected(std::move(entry.error()));
    store.entries.push_back(std::move(*entry));
  }
  return store;
}

std::expected<std::string, std::string> serialize_known_hosts(const KnownHosts& store) {
  nlohmann::ordered_json entries = nlohmann::ordered_json::array();
  for (const KnownHostEntry& entry : store.entries) {
    nlohmann::ordered_json identity;
    identity["algorithm"] = entry.identity.algorithm;
    identity["fingerprint"] = entry.identity.fingerprint;
    nlohmann::ordered_json object;
    object["host"] = entry.host;
    object["port"] = entry.port;
    object["identity"] = std::move(identity);
    entries.push_back(std::move(object));
  }
  nlohmann::ordered_json root;
  root["entries"] = std::move(entries);
  try {
    return root.dump(2);
  } catch (const nlohmann::ordered_json::exception& error) {
    // Only text that is not UTF-8 can fail here.
    return std::unexpected(std::string(error.what()));
  }
}

std::expected<KnownHosts, std::string> load_known_hosts(const fs::path& path) {
  auto location = open_store_location(path);
  if (!location) return std::unexpected(std::move(location.error()));
  auto text = read_store_file(*location);
  if (!text) return std::unexpected(std::move(text.error()));
  if (!*text) return KnownHosts{};
  return parse_known_hosts(**text);
}

std::expected<void, std::string> save_known_hosts(const fs::path& path, const KnownHosts& store) {
  auto location = open_store_location(path);
  if (!location) return std::unexpected(std::move(location.error()));
  auto text = serialize_known_hosts(store);
  if (!text) return std::unexpected(std::move(text.error()));
  if (auto replaced = replace_file(*location, *text); !replaced) return replaced;
  return validate_store_path(path);
}

HostKeyIdentity host_key_identity(std::string_view algorithm, std::span<const std::uint8_t> key_blob) {
  sha256_ctx context;
  sha256_init(&context);
  sha256_update(&context, key_blob.size(), key_blob.data());
  std::uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&context, sizeof digest, digest);

  char encoded[BASE64_ENCODE_RAW_LENGTH(SHA256_DIGEST_SIZE)];
  base64_encode_raw(encoded, sizeof digest, digest);
  std::string_view text(encoded, sizeof encoded);
  while (!text.empty() && text.back() == '=') text.remove_suffix(1);
  return {std::string(algorithm), "SHA256:" + std::string(text)};
}

HostKeyCheck check_host_key(const KnownHosts& store, std::string_view host, std::uint16_t port,
                            const HostKeyIdentity& observed) {
  for (const KnownHostEntry& entry : store.entries) {
    if (entry.host != host || entry.port != port) continue;
    if (entry.identity == observed) return Trusted{};
    return Changed{entry.identity, observed};
  }
  return NeedsTrust{observed};
}

std::string host_key_message(const HostKeyCheck& problem, std::string_view host, std::uint16_t port) {
  struct Message {
    std::string_view host;
    std::uint16_t port;
    std::string operator()(const Trusted&) const { return {}; }
    std::string operator()(const NeedsTrust& p) const {
      return fmt::format("SSH host key for {}:{} needs explicit trust: {} {}", host, port, p.observed.algorithm,
                         p.observed.fingerprint);
    }
    std::string operator()(const Changed& p) const {
      return fmt::format("SSH host key changed for {}:{}. Expected {} {}; received {} {}. Connection blocked.", host,
                         port, p.expected.algorithm, p.expected.fingerprint, p.observed.algorithm,
                         p.observed.fingerprint);
    }
    std::string operator()(const StoreUnavailable& p) const {
      return fmt::format("SSH host-key store is unavailable: {}", p.error);
    }
  };
  return std::visit(Message{host, port}, problem);
}

std::expected<void, std::string> trust_host_key(const fs::path& path, std::string_view host, std::uint16_t port,
                                                const HostKeyIdentity& identity) {
  auto store = load_known_hosts(path);
  if (!store) return std::unexpected(std::move(store.error()));
  for (const KnownHostEntry& entry : store->entries) {
    if (entry.host != host || entry.port != port) continue;
    if (entry.identity == identity) return {};
    return std::unexpected(std::string("a different trusted host key already exists; forget it before retrusting"));
  }
  store->entries.push_back({std::string(host), port, identity});
  return save_known_hosts(path, *store);
}

std::expected<bool, std::string> forget_host_key(const fs::path& path, std::string_view host, std::uint16_t port) {
  auto store = load_known_hosts(path);
  if (!store) return std::unexpected(std::move(store.error()));
  const auto removed = std::erase_if(
      store->entries, [&](const KnownHostEntry& entry) { return entry.host == host && entry.port == port; });
  if (removed == 0) return false;
  if (auto saved = save_known_hosts(path, *store); !saved) return std::unexpected(std::move(saved.error()));
  return true;
}

}  // namespace remote::ssh
