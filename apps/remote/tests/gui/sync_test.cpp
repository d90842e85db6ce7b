// Two running instances of the real program as two devices that share their saved
// profiles through a folder, driven through their automation endpoints.

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <mutex>
#include <thread>

#include "kivo/base/uuid.h"
#include "remote_program.h"

namespace remote::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

// One device: the real program with folders of its own, sharing `sync_dir` with others.
class Device {
 public:
  Device(const Xvfb& xvfb, const std::filesystem::path& sync_dir)
      : remote_(xvfb, home_.path(), Environment{{"KIVO_SYNC_DIR", sync_dir.string()}}) {
    ready();
  }

  void ready() { ASSERT_TRUE(remote_.wait_until_ready()) << "the endpoint did not come up:\n" << log(); }
  void kill() {
    remote_.process().signal(SIGKILL);
    remote_.process().wait(5s);
  }
  void restart() {
    remote_.restart();
    ready();
  }

  bool upsert(const kivo::Uuid& id, const std::string& name) const {
    return remote_.dispatch({{"UpsertConnection",
                              {{"id", id.to_string()}, {"name", name}, {"host", "lab.example.net"}, {"port", 22},
                               {"user", "me"}, {"kind", "Ssh"}, {"auth", "Password"}, {"group", ""}}}});
  }
  bool rename(const kivo::Uuid& id, const std::string& name) const {
    return remote_.dispatch({{"RenameConnection", {{"id", id.to_string()}, {"name", name}}}});
  }
  bool remove(const kivo::Uuid& id) const {
    return remote_.dispatch({{"DeleteConnection", {{"id", id.to_string()}}}});
  }

  // Saved profiles as the device's resource tree lists them: id → label.
  std::map<std::string, std::string> profiles() const {
    std::map<std::string, std::string> out;
    const auto reply = remote_.ctl({"resources"});
    if (!reply) return out;
    const auto parsed = json::parse(*reply, nullptr, false);
    const std::function<void(const json&)> walk = [&](const json& resource) {
      const std::string id = resource.value("id", "");
      if (id.starts_with("remote.connection:")) out[id.substr(18)] = resource.value("label", "");
      for (const auto& child : resource.value("children", json::array())) walk(child);
    };
    for (const auto& resource : parsed.value("resources", json::array())) walk(resource);
    return out;
  }

  std::string log() const { return remote_.log(); }

 private:
  TempDir home_;
  RemoteProgram remote_;
};

// What a file-sync tool does: brings every change log of one folder into another,
// replacing older copies atomically.
void sync_folder(const std::filesystem::path& from, const std::filesystem::path& to) {
  for (const auto& entry : std::filesystem::directory_iterator(from)) {
    if (entry.path().extension() != ".changes") continue;
    const auto staged = to / (".sync-" + entry.path().filename().string());
    std::filesystem::copy_file(entry.path(), staged, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::rename(staged, to / entry.path().filename());
  }
}

class SyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    xvfb = Xvfb::start();
    ASSERT_TRUE(xvfb) << "Xvfb did not start";
  }
  std::optional<Xvfb> xvfb;
  TempDir folders;
};

TEST_F(SyncTest, AProfileSavedOnOneDeviceAppearsOnTheOther) {
  const auto shared = folders / "shared";
  std::filesystem::create_directories(shared);
  Device a(*xvfb, shared);
  Device b(*xvfb, shared);
  const auto id = kivo::Uuid::new_v4();
  ASSERT_TRUE(a.upsert(id, "Lab"));
  EXPECT_TRUE(eventually([&] { return b.profiles()[id.to_string()] == "Lab"; }, 10s)) << b.log();
  ASSERT_TRUE(b.remove(id));
  EXPECT_TRUE(eventually([&] { return !a.profiles().contains(id.to_string()); }, 10s)) << a.log();
}

TEST_F(SyncTest, ConcurrentRenamesEndWithTheSameNameOnBothDevices) {
  const auto folder_a = folders / "a";
  const auto folder_b = folders / "b";
  std::filesystem::create_directories(folder_a);
  std::filesystem::create_directories(folder_b);
  Device a(*xvfb, folder_a);
  Device b(*xvfb, folder_b);
  const auto id = kivo::Uuid::new_v4();
  ASSERT_TRUE(a.upsert(id, "Lab"));
  sync_folder(folder_a, folder_b);
  ASSERT_TRUE(eventually([&] { return b.profiles()[id.to_string()] == "Lab"; }, 10s)) << b.log();

  // Both devices rename while neither sees the other, then the folders are synced.
  ASSERT_TRUE(a.rename(id, "Lab West"));
  ASSERT_TRUE(b.rename(id, "Main Lab"));
  sync_folder(folder_a, folder_b);
  sync_folder(folder_b, folder_a);
  // Neither edit is lost, and both devices agree on the result.
  EXPECT_TRUE(eventually([&] { return a.profiles()[id.to_string()] == "Main Lab West"; }, 10s)) << a.log();
  EXPECT_TRUE(eventually([&] { return b.profiles()[id.to_string()] == "Main Lab West"; }, 10s)) << b.log();
}

TEST_F(SyncTest, KillingTheProgramDuringABurstOfSavesLosesNoCommittedChange) {
  const auto folder = folders / "burst";
  std::filesystem::create_directories(folder);
  Device a(*xvfb, folder);
  std::vector<kivo::Uuid> acknowledged;
  std::mutex mutex;
  std::atomic<bool> stop{false};
  std::thread burst([&] {
    for (int i = 0; i < 200 && !stop; ++i) {
      const auto id = kivo::Uuid::new_v4();
      if (!a.upsert(id, "burst " + std::to_string(i))) break;
      std::lock_guard lock(mutex);
      acknowledged.push_back(id);
    }
  });
  ASSERT_TRUE(eventually(
      [&] {
        std::lock_guard lock(mutex);
        return acknowledged.size() >= 25;
      },
      60s));
  a.kill();
  stop = true;
  burst.join();
  a.restart();
  const auto stored = a.profiles();
  std::lock_guard lock(mutex);
  for (const auto& id : acknowledged) EXPECT_TRUE(stored.contains(id.to_string())) << id.to_string();
  EXPECT_GE(stored.size(), acknowledged.size());
}

}  // namespace
}  // namespace remote::test
