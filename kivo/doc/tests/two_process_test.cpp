// Two processes share one folder, each appending to its own log, editing the same profiles at
// the same time and following each other through the folder watch. Both must end with the
// same document.

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "doc_test_util.h"
#include "kivo/doc/persist.h"

namespace kivo::doc::persist {
namespace {

using Clock = std::chrono::steady_clock;

std::optional<ObjId> object_at(const Document& doc, const ObjId& obj, const std::string& key, ObjType type) {
  auto value = doc.get(obj, key);
  if (!value || !*value) return std::nullopt;
  const auto* ref = std::get_if<ObjectRef>(&**value);
  if (ref == nullptr || ref->type != type) return std::nullopt;
  return ref->id;
}

ObjId ensure(Document& doc, const ObjId& obj, const std::string& key, ObjType type) {
  if (auto found = object_at(doc, obj, key, type)) return *found;
  return doc.put_object(obj, key, type).value();
}

void follow(PersistedDocument& pd, int timeout_ms) {
  pollfd p{pd.watch_fd(), POLLIN, 0};
  ::poll(&p, 1, timeout_ms);
  pd.refresh();
}

// Edits shared profiles, then waits for the other side's last change. Returns the final dump,
// or what went wrong.
std::string run_peer(const Location& location, const std::string& me, const std::string& other, std::uint32_t seed) {
  auto opened = open(location);
  if (!opened) return "open failed: " + opened.error().message;
  PersistedDocument& pd = *opened;
  std::mt19937 rng(seed);
  static const char* const names[] = {"Build server", "Build server 2", "Office NAS", "Caf\xc3\xa9 kiosk", "\xe2\x82\xac-box"};
  for (int i = 0; i < 40; ++i) {
    Document& doc = pd.document();
    const ObjId connections = ensure(doc, kRoot, "connections", ObjType::Map);
    const ObjId profile = ensure(doc, connections, "p" + std::to_string(rng() % 4), ObjType::Map);
    const ObjId name = ensure(doc, profile, "name", ObjType::Text);
    if (!splice_text_diffed(doc, name, names[rng() % std::size(names)])) return "splice failed";
    if (!doc.put(profile, "host", Value{me + "-" + std::to_string(i)})) return "put failed";
    if (rng() % 5 == 0 && !doc.delete_key(connections, "p" + std::to_string(rng() % 4))) return "delete failed";
    auto committed = pd.commit();
    if (!committed) return "commit failed: " + committed.error().message;
    // A short wait for the other side's news keeps the two writers interleaved.
    follow(pd, 1);
  }
  if (!pd.document().put(kRoot, "done-" + me, Value{true}) || !pd.commit()) return "final commit failed";
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (pd.document().get(kRoot, "done-" + other).value() != std::optional<Value>(Value{true})) {
    if (Clock::now() > deadline) return "timed out waiting for " + other;
    follow(pd, 200);
  }
  return doc::testing::dump(pd.document());
}

TEST(TwoProcesses, ConvergeThroughTheirLogsInOneFolder) {
  struct Case {
    const char* name;
    const char* parent_device;
    const char* child_device;
  };
  // Two devices; and two processes of one device, which must not share a log.
  const Case cases[] = {{"two devices", "device-a", "device-b"}, {"one device", "device-a", "device-a"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    doc::testing::TempDir tmp;
    const Location parent_location{tmp.path() / "shared", tmp.path() / c.parent_device};
    const Location child_location{tmp.path() / "shared", tmp.path() / c.child_device};
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(out[0]);
      const std::string result = run_peer(child_location, "child", "parent", 2);
      std::size_t done = 0;
      while (done < result.size()) {
        const ssize_t n = ::write(out[1], result.data() + done, result.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
      }
      ::_exit(0);
    }
    ::close(out[1]);
    const std::string mine = run_peer(parent_location, "parent", "child", 1);

    std::string theirs;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    for (char buf[4096];;) {
      pollfd p{out[0], POLLIN, 0};
      if (::poll(&p, 1, 200) == 1) {
        const ssize_t n = ::read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        theirs.append(buf, static_cast<std::size_t>(n));
      }
      if (Clock::now() > deadline) {
        ::kill(child, SIGKILL);
        break;
      }
    }
    ::close(out[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_NE(mine.find("heads:"), std::string::npos) << mine;
    EXPECT_EQ(theirs, mine);
    EXPECT_NE(mine.find("done-child"), std::string::npos);
    // Each process wrote its own log.
    std::size_t logs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(tmp.path() / "shared")) {
      logs += entry.path().extension() == ".changes";
    }
    EXPECT_EQ(logs, 2u);
  }
}

}  // namespace
}  // namespace kivo::doc::persist
