// The host-key pin store: paths and permissions, the file format, trust and forget.

#include "ssh/known_hosts.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <expected>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace remote::ssh {
namespace {

namespace fs = std::filesystem;
using testing::ScopedEnv;
using testing::TempDir;

unsigned mode_of(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

ino_t inode_of(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_ino;
}

std::vector<std::uint8_t> base64_decode(std::string_view text) {
  static constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::vector<std::uint8_t> bytes;
  std::uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    if (c == '=') break;
    bits = (bits << 6) | static_cast<std::uint32_t>(kAlphabet.find(c));
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes.push_back(static_cast<std::uint8_t>(bits >> count));
    }
  }
  return bytes;
}

// The error text of a result, or "<ok>".
template <class T>
std::string error_of(const std::expected<T, std::string>& result) {
  return result ? std::string("<ok>") : result.error();
}

const HostKeyIdentity kKeyA{"ssh-ed25519", "SHA256:rEWAEnTpMVlyelBfEm7BEy/J33cZxkmxkDsrQpaeFHw"};
const HostKeyIdentity kKeyB{"ecdsa-sha2-nistp256", "SHA256:beUv95PtOWTSeobC6F5k88oH9GNRu2NK1I8JMV6GzGc"};

TEST(HostKeyIdentity, MatchesTheFingerprintOpenSshPrints) {
  // Public keys and the fingerprints `ssh-keygen -lf` printed for them.
  struct Case {
    const char* algorithm;
    const char* blob_base64;
    HostKeyIdentity expected;
  };
  const Case cases[] = {
      {"ssh-ed25519", "AAAAC3NzaC1lZDI1NTE5AAAAINCVAtGdC8vbSRzJG1EP/YsU655o5YDCTzDGtWWqhc7+", kKeyA},
      {"ecdsa-sha2-nistp256",
       "AAAAE2VjZHNhLXNoYTItbmlzdHAyNTYAAAAIbmlzdHAyNTYAAABBBAPbzA+WH5RoFEKDKnPuot1XjKn0ZmK02+thm8uySs0atUFfwkVSEw/"
       "TC6+SfW3OflawB2AdHtb2WVDurRIfLqA=",
       kKeyB},
  };
  for (const Case& c : cases) {
    const HostKeyIdentity identity = host_key_identity(c.algorithm, base64_decode(c.blob_base64));
    EXPECT_EQ(identity, c.expected);
    EXPECT_EQ(identity.fingerprint.size(), 7u + 43u);
  }
}

// Each case builds a store location inside a fresh private directory.
struct PathCase {
  const char* what;
  std::function<fs::path(const fs::path& dir)> make;
  const char* error;  // nullptr: valid
};

TEST(StorePath, RefusesAnythingOthersCouldReadOrRedirect) {
  const PathCase cases[] = {
      {"private directory, no file yet", [](const fs::path& d) { return d / "known-hosts.json"; }, nullptr},
      {"private directory and file",
       [](const fs::path& d) {
         testing::write_file(d / "known-hosts.json", R"({"entries": []})", 0600);
         return d / "known-hosts.json";
       },
       nullptr},
      {"directory open to others",
       [](const fs::path& d) {
         ::chmod(d.c_str(), 0755);
         return d / "known-hosts.json";
       },
       "SSH host-key store parent must not be accessible to group or other users"},
      {"directory open to its group",
       [](const fs::path& d) {
         ::chmod(d.c_str(), 0710);
         return d / "known-hosts.json";
       },
       "SSH host-key store parent must not be accessible to group or other users"},
      {"file readable by others",
       [](const fs::path& d) {
         testing::write_file(d / "known-hosts.json", R"({"entries": []})", 0644);
         return d / "known-hosts.json";
       },
       "SSH host-key store must not be accessible to group or other users"},
      {"symbolic link in place of the file",
       [](const fs::path& d) {
         testing::write_file(d / "elsewhere.json", R"({"entries": []})", 0600);
         fs::create_symlink(d / "elsewhere.json", d / "known-hosts.json");
         return d / "known-hosts.json";
       },
       "SSH host-key store must be a regular file"},
      {"directory in place of the file",
       [](const fs::path& d) {
         fs::create_directory(d / "known-hosts.json");
         return d / "known-hosts.json";
       },
       "SSH host-key store must be a regular file"},
      {"parent is a link to a private directory",
       [](const fs::path& d) {
         fs::create_directory(d / "real");
         ::chmod((d / "real").c_str(), 0700);
         fs::create_directory_symlink(d / "real", d / "link");
         return d / "link" / "known-hosts.json";
       },
       "SSH host-key store parent must be a real directory"},
      {"parent is a file",
       [](const fs::path& d) {
         testing::write_file(d / "plain", "", 0600);
         return d / "plain" / "known-hosts.json";
       },
       "SSH host-key store parent must be a real directory"},
      {"parent missing", [](const fs::path& d) { return d / "missing" / "known-hosts.json"; },
       "No such file or directory"},
      {"bare file name", [](const fs::path&) { return fs::path("known-hosts.json"); },
       "SSH host-key store has no private parent directory"},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const fs::path path = c.make(dir.path());
    const std::optional<unsigned> file_mode = fs::is_regular_file(fs::symlink_status(path))
                                                  ? std::optional(mode_of(path))
                                                  : std::nullopt;
    const unsigned dir_mode = mode_of(dir.path());

    ScopedEnv override_path("REMOTE_SSH_KNOWN_HOSTS", path.c_str());
    const auto resolved = resolve_store_path();
    const auto loaded = load_known_hosts(path);
    const auto saved = save_known_hosts(path, KnownHosts{{{"host", 22, kKeyA}}});
    if (c.error == nullptr) {
      EXPECT_EQ(resolved.value_or("<error>"), path);
      EXPECT_TRUE(loaded.has_value()) << loaded.error();
      EXPECT_TRUE(saved.has_value()) << saved.error();
      EXPECT_EQ(mode_of(path), 0600u);
      continue;
    }
    EXPECT_EQ(error_of(resolved), c.error);
    EXPECT_EQ(error_of(loaded), c.error);
    EXPECT_EQ(error_of(saved), c.error);
    // Nothing is corrected or written.
    EXPECT_EQ(mode_of(dir.path()), dir_mode);
    if (file_mode) {
      EXPECT_EQ(mode_of(path), *file_mode);
    }
    EXPECT_FALSE(fs::exists(dir.path() / "real" / "known-hosts.json"));
  }
}

TEST(StorePath, StateDirectoryIsCreatedPrivateAndReused) {
  TempDir dir;
  ScopedEnv no_override("REMOTE_SSH_KNOWN_HOSTS", nullptr);
  const mode_t old_mask = ::umask(022);

  struct Case {
    const char* what;
    const char* xdg_state_home;  // relative to dir; nullptr unsets it
    fs::path expected_store_dir;
  };
  const Case cases[] = {
      {"XDG state directory", "state", dir.path() / "state" / "kivo" / "remote"},
      {"no XDG variable: home", nullptr, dir.path() / "home" / ".local" / "state" / "kivo" / "remote"},
  };
  ScopedEnv home("HOME", (dir.path() / "home").c_str());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string xdg = c.xdg_state_home ? (dir.path() / c.xdg_state_home).string() : "";
    ScopedEnv state("XDG_STATE_HOME", c.xdg_state_home ? xdg.c_str() : nullptr);
    const auto path = resolve_store_path();
    ASSERT_TRUE(path.has_value()) << path.error();
    EXPECT_EQ(*path, c.expected_store_dir / "known-hosts.json");
    EXPECT_EQ(mode_of(c.expected_store_dir), 0700u);
    EXPECT_EQ(mode_of(c.expected_store_dir.parent_path()), 0755u) << "parents keep the creation mask's mode";
    EXPECT_FALSE(fs::exists(*path)) << "resolving writes no file";

    ASSERT_TRUE(trust_host_key(*path, "machine-a", 22, kKeyA).has_value());
    EXPECT_EQ(mode_of(*path), 0600u);
    EXPECT_EQ(resolve_store_path().value_or(""), *path) << "an existing private directory is reused";
  }

  // A relative XDG_STATE_HOME is not a state directory; the home one is used instead.
  {
    ScopedEnv state("XDG_STATE_HOME", "relative/state");
    EXPECT_EQ(resolve_store_path().value_or(""), cases[1].expected_store_dir / "known-hosts.json");
  }
  // An existing store directory that others can enter is refused, not repaired.
  ::chmod(cases[1].expected_store_dir.c_str(), 0755);
  {
    ScopedEnv state("XDG_STATE_HOME", nullptr);
    EXPECT_EQ(error_of(resolve_store_path()),
              "SSH host-key store parent must not be accessible to group or other users");
  }
  EXPECT_EQ(mode_of(cases[1].expected_store_dir), 0755u);
  ::umask(old_mask);
}

TEST(StoreFormat, WritesTheExactLayout) {
  const KnownHosts one{{{"machine-a", 22, {"ssh-ed25519", "SHA256:0123456789abcdefghijklmnopqrstuvwxyzABCDEFG"}}}};
  EXPECT_EQ(serialize_known_hosts(one).value_or(""),
            "{\n"
            "  \"entries\": [\n"
            "    {\n"
            "      \"host\": \"machine-a\",\n"
            "      \"port\": 22,\n"
            "      \"identity\": {\n"
            "        \"algorithm\": \"ssh-ed25519\",\n"
            "        \"fingerprint\": \"SHA256:0123456789abcdefghijklmnopqrstuvwxyzABCDEFG\"\n"
            "      }\n"
            "    }\n"
            "  ]\n"
            "}");
  EXPECT_EQ(serialize_known_hosts(KnownHosts{}).value_or(""), "{\n  \"entries\": []\n}");

  const KnownHosts several{{{"Machine-A", 0, kKeyA}, {"10.0.0.1", 65535, kKeyB}, {"h\xC3\xA9te \"q\"", 2222, kKeyA}}};
  EXPECT_EQ(parse_known_hosts(serialize_known_hosts(several).value()).value(), several);
  EXPECT_FALSE(serialize_known_hosts(KnownHosts{{{"bad\xFF", 22, kKeyA}}}).has_value()) << "not UTF-8";
}

TEST(StoreFormat, ReadsStrictly) {
  const std::string identity = R"("identity": {"algorithm": "ssh-ed25519", "fingerprint": "SHA256:x"})";
  auto entry = [&](const std::string& port) {
    return R"({"entries": [{"host": "h", "port": )" + port + ", " + identity + "}]}";
  };
  struct Case {
    std::string text;
    std::string error;  // empty: loads
  };
  const Case cases[] = {
      {entry("22"), ""},
      {entry("0"), ""},
      {entry("65535"), ""},
      {R"({"version": 3, "entries": [{"host": "h", "port": 22, "note": "x", )" + identity + "}]}", ""},
      {entry("65536"), "entries[0].port must be an integer from 0 to 65535"},
      {entry("-1"), "entries[0].port must be an integer from 0 to 65535"},
      {entry("22.0"), "entries[0].port must be an integer from 0 to 65535"},
      {entry("\"22\""), "entries[0].port must be an integer from 0 to 65535"},
      {R"({"entries": [{"host": "h", "port": 22, "identity": {"algorithm": "ssh-ed25519"}}]})",
       "entries[0].identity: missing key \"fingerprint\""},
      {R"({"entries": [{"port": 22, )" + identity + "}]}", "entries[0]: missing key \"host\""},
      {R"({"entries": [{"host": 7, "port": 22, )" + identity + "}]}", "entries[0].host must be a string"},
      {R"({"entries": [], "entries": []})", "duplicate key \"entries\""},
      {R"({"entries": [{"host": "h", "host": "i", "port": 22, )" + identity + "}]}",
       "duplicate key \"host\" in entries[0]"},
      {R"({"entries": [{"host": "h", "port": 22, "identity": {"algorithm": "a", "algorithm": "b", "fingerprint": "f"}}]})",
       "duplicate key \"algorithm\" in entries[0].identity"},
      {R"({"entries": {}})", "entries must be an array"},
      {R"({})", "missing key \"entries\""},
      {R"([])", "the store must be a JSON object"},
      {std::string(100000, '['), "nesting deeper than 8 levels"},
      {R"({"entries": [)", "parse error at line 1, column 14: syntax error while parsing value - unexpected end of "
                           "input; expected '[', '{', or a literal"},
      {"", "parse error at line 1, column 1: syntax error while parsing value - unexpected end of input; expected "
           "'[', '{', or a literal"},
  };
  for (const Case& c : cases) {
    const auto parsed = parse_known_hosts(c.text);
    if (c.error.empty()) {
      EXPECT_TRUE(parsed.has_value()) << c.text << "\n" << parsed.error();
    } else {
      EXPECT_EQ(error_of(parsed), c.error) << c.text;
    }
  }
}

TEST(StoreFormat, UnknownKeysAreDroppedByTheNextSave) {
  TempDir dir;
  const fs::path path = dir.path() / "known-hosts.json";
  testing::write_file(path, R"({"entries": [{"host": "h", "port": 22, "comment": "mine",
      "identity": {"algorithm": "ssh-ed25519", "fingerprint": "SHA256:x", "extra": true}}]})");
  ASSERT_TRUE(trust_host_key(path, "other", 22, kKeyA).has_value());
  const std::string text = testing::read_file(path);
  EXPECT_EQ(text.find("comment"), std::string::npos);
  EXPECT_EQ(text.find("extra"), std::string::npos);
  EXPECT_EQ(load_known_hosts(path).value().entries.size(), 2u);
}

TEST(TrustAndForget, FollowThePinningRules) {
  TempDir dir;
  const fs::path path = dir.path() / "known-hosts.json";
  EXPECT_EQ(load_known_hosts(path).value(), KnownHosts{}) << "no file: nothing pinned";
  EXPECT_EQ(check_host_key(KnownHosts{}, "machine-a", 22, kKeyA), HostKeyCheck(NeedsTrust{kKeyA}));

  ASSERT_TRUE(trust_host_key(path, "machine-a", 22, kKeyA).has_value());
  EXPECT_EQ(mode_of(path), 0600u);
  const ino_t first_inode = inode_of(path);
  const std::string first_text = testing::read_file(path);

  EXPECT_TRUE(trust_host_key(path, "machine-a", 22, kKeyA).has_value()) << "the same key again";
  EXPECT_EQ(inode_of(path), first_inode) << "re-trusting the pinned key writes nothing";
  EXPECT_EQ(error_of(trust_host_key(path, "machine-a", 22, kKeyB)),
            "a different trusted host key already exists; forget it before retrusting");
  EXPECT_EQ(testing::read_file(path), first_text);

  // Other ports, letter cases and names are other targets.
  ASSERT_TRUE(trust_host_key(path, "machine-a", 2222, kKeyB).has_value());
  ASSERT_TRUE(trust_host_key(path, "Machine-A", 22, kKeyB).has_value());
  const KnownHosts store = load_known_hosts(path).value();
  ASSERT_EQ(store.entries.size(), 3u);
  EXPECT_EQ(check_host_key(store, "machine-a", 22, kKeyA), HostKeyCheck(Trusted{}));
  EXPECT_EQ(check_host_key(store, "machine-a", 2222, kKeyB), HostKeyCheck(Trusted{}));
  EXPECT_EQ(check_host_key(store, "machine-a", 22, kKeyB), HostKeyCheck(Changed{kKeyA, kKeyB}));
  EXPECT_EQ(check_host_key(store, "machine-b", 22, kKeyA), HostKeyCheck(NeedsTrust{kKeyA}));

  const ino_t before_forget = inode_of(path);
  EXPECT_EQ(forget_host_key(path, "machine-b", 22).value(), false);
  EXPECT_EQ(inode_of(path), before_forget) << "forgetting nothing writes nothing";
  EXPECT_EQ(forget_host_key(path, "machine-a", 22).value(), true);
  const KnownHosts after = load_known_hosts(path).value();
  EXPECT_EQ(after, (KnownHosts{{{"machine-a", 2222, kKeyB}, {"Machine-A", 22, kKeyB}}}));
}

TEST(TrustAndForget, FirstPinWinsAndForgetRemovesEveryCopy) {
  TempDir dir;
  const fs::path path = dir.path() / "known-hosts.json";
  const KnownHosts edited{{{"h", 22, kKeyA}, {"other", 22, kKeyB}, {"h", 22, kKeyB}}};
  ASSERT_TRUE(save_known_hosts(path, edited).has_value());
  EXPECT_EQ(check_host_key(edited, "h", 22, kKeyA), HostKeyCheck(Trusted{}));
  EXPECT_EQ(check_host_key(edited, "h", 22, kKeyB), HostKeyCheck(Changed{kKeyA, kKeyB}));
  EXPECT_EQ(forget_host_key(path, "h", 22).value(), true);
  EXPECT_EQ(load_known_hosts(path).value(), (KnownHosts{{{"other", 22, kKeyB}}}));
}

TEST(TrustAndForget, FailuresComeFromLoadingUnchanged) {
  TempDir dir;
  const fs::path path = dir.path() / "known-hosts.json";
  testing::write_file(path, "not json");
  EXPECT_TRUE(error_of(trust_host_key(path, "h", 22, kKeyA)).starts_with("parse error at line 1, column 2"));
  EXPECT_TRUE(error_of(forget_host_key(path, "h", 22)).starts_with("parse error at line 1, column 2"));
  EXPECT_EQ(testing::read_file(path), "not json");
}

TEST(HostKeyMessages, NameTheTargetAndTheKeys) {
  EXPECT_EQ(host_key_message(NeedsTrust{kKeyA}, "machine-a", 22),
            "SSH host key for machine-a:22 needs explicit trust: ssh-ed25519 "
            "SHA256:rEWAEnTpMVlyelBfEm7BEy/J33cZxkmxkDsrQpaeFHw");
  EXPECT_EQ(host_key_message(Changed{kKeyA, kKeyB}, "10.0.0.1", 2222),
            "SSH host key changed for 10.0.0.1:2222. Expected ssh-ed25519 "
            "SHA256:rEWAEnTpMVlyelBfEm7BEy/J33cZxkmxkDsrQpaeFHw; received ecdsa-sha2-nistp256 "
            "SHA256:beUv95PtOWTSeobC6F5k88oH9GNRu2NK1I8JMV6GzGc. Connection blocked.");
  EXPECT_EQ(host_key_message(StoreUnavailable{"Permission denied"}, "h", 22),
            "SSH host-key store is unavailable: Permission denied");
  EXPECT_EQ(host_key_message(Trusted{}, "h", 22), "");
}

// A process killed at any moment of a save leaves the old store or the new one.
TEST(StoreDurability, KillDuringRepeatedSavesNeverLeavesAPartialFile) {
  TempDir dir;
  const fs::path path = dir.path() / "known-hosts.json";
  KnownHosts small{{{"h", 22, kKeyA}}};
  KnownHosts large;
  for (int i = 0; i < 200; ++i) large.entries.push_back({"host-" + std::to_string(i), 22, kKeyB});
  ASSERT_TRUE(save_known_hosts(path, small).has_value());

  for (int round = 0; round < 12; ++round) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 0;; ++i) {
        if (!save_known_hosts(path, i % 2 == 0 ? large : small)) ::_exit(1);
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(3 + round * 4));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the saving child failed on its own";

    const auto loaded = load_known_hosts(path);
    ASSERT_TRUE(loaded.has_value()) << "round " << round << ": " << loaded.error();
    EXPECT_TRUE(*loaded == small || *loaded == large) << "round " << round;
    EXPECT_EQ(mode_of(path), 0600u);
  }
}

}  // namespace
}  // namespace remote::ssh
