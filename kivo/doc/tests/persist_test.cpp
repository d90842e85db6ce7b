#include "kivo/doc/persist.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <functional>

#include "doc_test_util.h"
#include "kivo/doc/change_log.h"

namespace kivo::doc::persist {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using doc::testing::dump;

Bytes read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void write_file(const fs::path& path, const Bytes& bytes, std::ios::openmode mode = std::ios::trunc) {
  std::ofstream out(path, std::ios::binary | mode);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

int count_warnings(const std::string& log) {
  int n = 0;
  for (std::size_t at = log.find("WARN"); at != std::string::npos; at = log.find("WARN", at + 1)) ++n;
  return n;
}

// Waits (at most two seconds) for the folder watch to report something.
bool wait_for_change(const PersistedDocument& pd) {
  pollfd p{pd.watch_fd(), POLLIN, 0};
  return ::poll(&p, 1, 2000) == 1;
}

std::vector<std::string> root_keys(const PersistedDocument& pd) { return *pd.document().keys(kRoot); }

void put_and_commit(PersistedDocument& pd, const std::string& key, const std::string& value = "v") {
  ASSERT_TRUE(pd.document().put(kRoot, key, Value{value}).has_value());
  auto written = pd.commit();
  ASSERT_TRUE(written.has_value()) << written.error().message;
  EXPECT_TRUE(*written);
}

class Persist : public ::testing::Test {
 protected:
  Location device(const std::string& name, const std::string& folder = "shared") {
    return Location{tmp_.path() / folder, tmp_.path() / name};
  }
  fs::path shared() const { return tmp_.path() / "shared"; }

  PersistedDocument open_ok(const Location& location, Options options = {}) {
    auto pd = open(location, options);
    if (!pd) {
      ADD_FAILURE() << pd.error().message;
      std::abort();
    }
    return std::move(*pd);
  }

  doc::testing::TempDir tmp_;
};

mode_t mode_of(const fs::path& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 0777;
}

TEST_F(Persist, ReopeningRestoresTheDocumentUnderTheSameActor) {
  for (bool sync_each_commit : {false, true}) {
    SCOPED_TRACE(sync_each_commit ? "fdatasync" : "write only");
    const std::string name = sync_each_commit ? "synced" : "plain";
    const Location location = device(name, name + "-folder");
    std::string saved;
    fs::path log;
    {
      PersistedDocument pd = open_ok(location, Options{sync_each_commit});
      Document& doc = pd.document();
      const ObjId profile = *doc.put_object(kRoot, "profile", ObjType::Map);
      const ObjId name = *doc.put_object(profile, "name", ObjType::Text);
      ASSERT_TRUE(splice_text_diffed(doc, name, "Build server").has_value());
      ASSERT_TRUE(doc.put(profile, "port", Value{std::int64_t{22}}).has_value());
      EXPECT_EQ(pd.commit().value(), true);
      EXPECT_EQ(pd.commit().value(), false) << "a commit without edits wrote something";
      ASSERT_TRUE(splice_text_diffed(doc, name, "Build server 2").has_value());
      EXPECT_EQ(pd.commit().value(), true);
      saved = dump(doc);
      log = pd.log_path();
    }
    PersistedDocument again = open_ok(location, Options{sync_each_commit});
    EXPECT_EQ(dump(again.document()), saved);
    EXPECT_EQ(again.log_path(), log);
    EXPECT_EQ(mode_of(log), 0600u);
    EXPECT_EQ(mode_of(location.device_dir), 0700u);
    EXPECT_EQ(mode_of(location.folder), 0700u);
    EXPECT_TRUE(fs::exists(location.device_dir / "actor"));
    EXPECT_FALSE(fs::exists(location.folder / "actor")) << "the device identity leaked into the shared folder";
  }
}

// Offsets of every record in a log file.
std::vector<std::size_t> record_starts(const Bytes& file) {
  std::vector<std::size_t> starts;
  for (std::size_t at = kLogHeaderBytes; at + kLogRecordHeaderBytes <= file.size();) {
    starts.push_back(at);
    const std::size_t length = file[at] | file[at + 1] << 8 | file[at + 2] << 16 | std::size_t{file[at + 3]} << 24;
    at += kLogRecordHeaderBytes + length;
  }
  return starts;
}

TEST_F(Persist, DamagedTailIsCutOffWithOneWarningAndTheLogStaysAppendable) {
  struct Case {
    const char* name;
    std::function<void(Bytes& file, std::size_t last)> damage;
    std::vector<std::string> kept;
    // A record that was whole once (it fails its checksum or its length limit) may already be
    // on other devices, so the device continues as a new actor in a new log; a record cut
    // short never left the device, so the log goes on.
    bool new_actor;
  };
  const std::vector<Case> cases = {
      {"cut inside the last record", [](Bytes& f, std::size_t last) { f.resize(last + 20); }, {"k1", "k2"}, false},
      {"cut inside the last record header", [](Bytes& f, std::size_t last) { f.resize(last + 5); }, {"k1", "k2"}, false},
      {"bit flip in the last payload", [](Bytes& f, std::size_t) { f.back() ^= 0x40; }, {"k1", "k2"}, true},
      {"length grown past the file", [](Bytes& f, std::size_t last) { f[last + 1] ^= 0x01; }, {"k1", "k2"}, false},
      {"length over the limit", [](Bytes& f, std::size_t last) { f[last + 3] = 0xff; }, {"k1", "k2"}, true},
      {"bit flip in the first record", [](Bytes& f, std::size_t) { f[kLogHeaderBytes + 20] ^= 0x04; }, {}, true},
      {"garbage appended", [](Bytes& f, std::size_t) { f.insert(f.end(), {'g', 'a', 'r', 'b', 'a', 'g', 'e', '!'}); },
       {"k1", "k2", "k3"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string n = std::to_string(&c - cases.data());
    const Location location = device("device-" + n, "folder-" + n);
    fs::path log;
    {
      PersistedDocument pd = open_ok(location);
      for (const char* key : {"k1", "k2", "k3"}) put_and_commit(pd, key);
      log = pd.log_path();
    }
    Bytes file = read_file(log);
    c.damage(file, record_starts(file).back());
    write_file(log, file);

    ::testing::internal::CaptureStderr();
    fs::path continued;
    {
      PersistedDocument pd = open_ok(location);
      const std::string warnings = ::testing::internal::GetCapturedStderr();
      EXPECT_EQ(count_warnings(warnings), 1) << warnings;
      EXPECT_EQ(root_keys(pd), c.kept);
      EXPECT_EQ(pd.log_path() != log, c.new_actor);
      continued = pd.log_path();
      put_and_commit(pd, "later");
    }
    ::testing::internal::CaptureStderr();
    PersistedDocument pd = open_ok(location);
    const std::string warnings = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(count_warnings(warnings), 0) << warnings;
    // The next start takes up the log the device continued in, never the old actor again.
    EXPECT_EQ(pd.log_path(), continued);
    std::vector<std::string> expected = c.kept;
    expected.push_back("later");
    EXPECT_EQ(root_keys(pd), expected);
  }
}

TEST_F(Persist, OwnLogThatIsNotALogIsLeftAloneForANewOne) {
  fs::path log;
  {
    PersistedDocument pd = open_ok(device("a"));
    put_and_commit(pd, "k");
    log = pd.log_path();
  }
  const Bytes garbage = {'n', 'o', 't', ' ', 'a', ' ', 'l', 'o', 'g', '\n'};
  write_file(log, garbage);
  ::testing::internal::CaptureStderr();
  PersistedDocument pd = open_ok(device("a"));
  const std::string warnings = ::testing::internal::GetCapturedStderr();
  EXPECT_GE(count_warnings(warnings), 1) << warnings;
  EXPECT_NE(pd.log_path(), log);
  put_and_commit(pd, "new");
  EXPECT_EQ(read_file(log), garbage);
}

TEST_F(Persist, ForeignFilesInTheFolderAreIgnored) {
  {
    PersistedDocument other = open_ok(device("other"));
    for (const char* key : {"o1", "o2", "o3"}) put_and_commit(other, key);
    // A second copy of its log with its last record cut short, as if still being written.
    Bytes file = read_file(other.log_path());
    file.resize(record_starts(file).back() + 15);
    write_file(shared() / (std::string(32, 'b') + ".changes"), file);
    // A third with its second record damaged in the middle.
    file = read_file(other.log_path());
    file[record_starts(file)[1] + 14] ^= 0x10;
    write_file(shared() / (std::string(32, 'c') + ".changes"), file);
    fs::remove(other.log_path());
  }
  write_file(shared() / (std::string(32, 'a') + ".changes"), Bytes{'{', '}', '\n'});
  write_file(shared() / "notes.txt", Bytes{'h', 'i'});
  ASSERT_EQ(::mkfifo((shared() / (std::string(32, 'd') + ".changes")).c_str(), 0600), 0);
  fs::create_directory(shared() / (std::string(32, 'e') + ".changes"));

  ::testing::internal::CaptureStderr();
  PersistedDocument pd = open_ok(device("me"));
  std::string warnings = ::testing::internal::GetCapturedStderr();
  // One for the file that is not a log, one for the damaged record; none for the rest.
  EXPECT_EQ(count_warnings(warnings), 2) << warnings;
  EXPECT_NE(warnings.find(std::string(32, 'a')), std::string::npos) << warnings;
  EXPECT_NE(warnings.find(std::string(32, 'c')), std::string::npos) << warnings;
  EXPECT_EQ(root_keys(pd), (std::vector<std::string>{"o1", "o2"}));

  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(pd.refresh());
  warnings = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(count_warnings(warnings), 0) << warnings;
}

TEST_F(Persist, RefreshMergesWhatAnotherDeviceAppends) {
  PersistedDocument a = open_ok(device("a"));
  PersistedDocument b = open_ok(device("b"));
  ASSERT_NE(a.log_path(), b.log_path());

  put_and_commit(a, "from-a");
  ASSERT_TRUE(wait_for_change(b));
  EXPECT_TRUE(b.refresh());
  EXPECT_FALSE(b.refresh());
  EXPECT_EQ(root_keys(b), std::vector<std::string>{"from-a"});

  // Edits left uncommitted are written by refresh before it merges.
  ASSERT_TRUE(b.document().put(kRoot, "from-b", Value{true}).has_value());
  EXPECT_FALSE(b.refresh());
  ASSERT_TRUE(wait_for_change(a));
  EXPECT_TRUE(a.refresh());
  EXPECT_EQ(dump(a.document()), dump(b.document()));

  // A third device's record arriving in two pieces: nothing, then the change, and no warning.
  Document third(doc::testing::actor_of(7));
  ASSERT_TRUE(third.apply_changes(std::vector<Change>{}).has_value());
  ASSERT_TRUE(third.put(kRoot, "from-c", Value{true}).has_value());
  const Change change = *third.commit();
  Bytes file = log_file_header();
  const Bytes record = log_record(change);
  const fs::path third_log = shared() / (third.actor().to_string() + ".changes");
  file.insert(file.end(), record.begin(), record.begin() + 16);
  ::testing::internal::CaptureStderr();
  write_file(third_log, file);
  EXPECT_FALSE(a.refresh());
  write_file(third_log, Bytes(record.begin() + 16, record.end()), std::ios::app);
  EXPECT_TRUE(a.refresh());
  const std::string warnings = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(count_warnings(warnings), 0) << warnings;
  EXPECT_EQ(*a.document().get(kRoot, "from-c"), Value{true});

  // A log replaced wholesale (as sync tools do) is read again from its start.
  // Its records come in another order here, so the old read offset is no record boundary.
  const fs::path replacement = shared() / "incoming.tmp";
  ASSERT_TRUE(third.put(kRoot, "from-c-2", Value{true}).has_value());
  const Bytes second = log_record(*third.commit());
  Bytes whole = log_file_header();
  whole.insert(whole.end(), second.begin(), second.end());
  whole.insert(whole.end(), record.begin(), record.end());
  write_file(replacement, whole);
  fs::rename(replacement, third_log);
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(a.refresh());
  const std::string replaced_warnings = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(count_warnings(replaced_warnings), 0) << replaced_warnings;
  EXPECT_EQ(*a.document().get(kRoot, "from-c-2"), Value{true});
}

TEST_F(Persist, SecondProcessOfOneDeviceWritesItsOwnLog) {
  PersistedDocument first = open_ok(device("a"));
  PersistedDocument second = open_ok(device("a"));
  EXPECT_NE(first.log_path(), second.log_path());
  EXPECT_NE(first.document().actor(), second.document().actor());
  put_and_commit(first, "first");
  put_and_commit(second, "second");
  EXPECT_TRUE(first.refresh());
  EXPECT_TRUE(second.refresh());
  EXPECT_EQ(dump(first.document()), dump(second.document()));
  const fs::path device_log = first.log_path();
  first = open_ok(device("b"));  // closes the device's log
  second = open_ok(device("b"));
  EXPECT_EQ(open_ok(device("a")).log_path(), device_log);
}

TEST_F(Persist, OwnChangesWaitingForAMissingLogAreNotContinued) {
  const fs::path b_log_copy = tmp_.path() / "b-log";
  fs::path a_log, b_log;
  {
    PersistedDocument a = open_ok(device("a"));
    PersistedDocument b = open_ok(device("b"));
    put_and_commit(b, "from-b");
    ASSERT_TRUE(a.refresh());
    put_and_commit(a, "from-a");  // depends on b's change
    a_log = a.log_path();
    b_log = b.log_path();
  }
  fs::rename(b_log, b_log_copy);
  // Reopened without b's log, a's own change cannot apply yet: continuing its actor would
  // write a second, different change under the same sequence number.
  ::testing::internal::CaptureStderr();
  PersistedDocument a = open_ok(device("a"));
  const std::string warnings = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(count_warnings(warnings), 1) << warnings;
  EXPECT_NE(a.log_path(), a_log);
  EXPECT_TRUE(root_keys(a).empty());
  put_and_commit(a, "meanwhile");
  // b's log comes back (the sync tool caught up): everything applies.
  fs::rename(b_log_copy, b_log);
  EXPECT_TRUE(a.refresh());
  EXPECT_EQ(root_keys(a), (std::vector<std::string>{"from-a", "from-b", "meanwhile"}));
  EXPECT_EQ(a.document().held_changes(), 0u);
}

TEST_F(Persist, FailedAppendIsWrittenByTheNextCommit) {
  PersistedDocument pd = open_ok(device("a"));
  put_and_commit(pd, "small");
  const auto size_before = fs::file_size(pd.log_path());

  // Let the log grow by only a few bytes, so the next record is written in part.
  ::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit tight = old;
  tight.rlim_cur = size_before + 10;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
  ASSERT_TRUE(pd.document().put(kRoot, "big", Value{std::string(1000, 'x')}).has_value());
  auto failed = pd.commit();
  const auto size_after_failure = fs::file_size(pd.log_path());
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &old), 0);
  ::signal(SIGXFSZ, SIG_DFL);

  ASSERT_FALSE(failed.has_value());
  EXPECT_NE(failed.error().message.find("could not append to the change log"), std::string::npos) << failed.error().message;
  EXPECT_EQ(size_after_failure, size_before) << "a partial record was left behind";
  EXPECT_EQ(pd.commit().value(), true);

  PersistedDocument reader = open_ok(device("b"));
  EXPECT_EQ(root_keys(reader), (std::vector<std::string>{"big", "small"}));
}

TEST(PersistLocation, FollowsTheEnvironment) {
  struct Case {
    const char *xdg, *home, *sync, *app;
    std::string device, folder, error;
  };
  const std::vector<Case> cases = {
      {"/x/data", "/h", nullptr, "remote", "/x/data/kivo/remote", "/x/data/kivo/remote", ""},
      {nullptr, "/h", nullptr, "remote", "/h/.local/share/kivo/remote", "/h/.local/share/kivo/remote", ""},
      {"relative", "/h", nullptr, "remote", "/h/.local/share/kivo/remote", "/h/.local/share/kivo/remote", ""},
      {"/x/data", "/h", "/sync/kivo", "remote", "/x/data/kivo/remote", "/sync/kivo", ""},
      {"/x/data", "/h", "", "remote", "/x/data/kivo/remote", "/x/data/kivo/remote", ""},
      {nullptr, nullptr, nullptr, "remote", "", "", "cannot find the data folder: neither XDG_DATA_HOME nor HOME is set"},
      {"/x/data", "/h", nullptr, "", "", "", "application id must be a plain folder name"},
      {"/x/data", "/h", nullptr, "..", "", "", "application id must be a plain folder name"},
      {"/x/data", "/h", nullptr, "a/b", "", "", "application id must be a plain folder name"},
  };
  const char* names[] = {"XDG_DATA_HOME", "HOME", "KIVO_SYNC_DIR"};
  std::vector<std::optional<std::string>> saved;
  for (const char* name : names) {
    const char* v = std::getenv(name);
    saved.push_back(v ? std::optional<std::string>(v) : std::nullopt);
  }
  auto set = [](const char* name, const char* value) {
    if (value) ::setenv(name, value, 1);
    else ::unsetenv(name);
  };
  for (const Case& c : cases) {
    set("XDG_DATA_HOME", c.xdg);
    set("HOME", c.home);
    set("KIVO_SYNC_DIR", c.sync);
    auto location = default_location(c.app);
    if (c.error.empty()) {
      ASSERT_TRUE(location.has_value()) << location.error().message;
      EXPECT_EQ(location->device_dir, c.device);
      EXPECT_EQ(location->folder, c.folder);
    } else {
      ASSERT_FALSE(location.has_value()) << c.app;
      EXPECT_EQ(location.error().message, c.error);
    }
  }
  // And open by application id lands there.
  doc::testing::TempDir tmp;
  set("XDG_DATA_HOME", tmp.path().c_str());
  set("KIVO_SYNC_DIR", nullptr);
  {
    auto pd = open("remote");
    ASSERT_TRUE(pd.has_value()) << pd.error().message;
    EXPECT_EQ(pd->log_path().parent_path(), tmp.path() / "kivo" / "remote");
  }
  for (std::size_t i = 0; i < std::size(names); ++i) set(names[i], saved[i] ? saved[i]->c_str() : nullptr);
}

}  // namespace
}  // namespace kivo::doc::persist
