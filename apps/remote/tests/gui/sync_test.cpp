// Two running instances of the real program as two devices that share their saved
// profiles through a folder, driven through their automation endpoints.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <csignal>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "kivo/base/uuid.h"
#include "process.h"
#include "xvfb.h"

namespace remote::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

class Device {
 public:
  Device(const Xvfb& xvfb, std::filesystem::path sync_dir) : sync_dir_(std::move(sync_dir)) {
    std::filesystem::create_directories(home_ / "run");
    ::chmod((home_ / "run").c_str(), 0700);
    start(xvfb);
  }

  void start(const Xvfb& xvfb) {
    remote_.emplace(Process::start({built_program("apps/remote/remote").string()},
                                   {{"DISPLAY", xvfb.display()},
                                    {"XDG_DATA_HOME", (home_ / "data").string()},
                                    {"XDG_STATE_HOME", (home_ / "state").string()},
                                    {"XDG_RUNTIME_DIR", (home_ / "run").string()},
                                    {"KIVO_SYNC_DIR", sync_dir_.string()},
                                    {"KIVO_REVIEW_STATE", std::nullopt},
                                    {"KIVO_REMOTE_SAMPLE", std::nullopt}},
                                   home_ / "remote.log"));
    ASSERT_TRUE(eventually([&] { return ctl({"tree"}).has_value() || !remote_->running(); }, 20s))
        << "the endpoint did not come up:\n" << log();
    ASSERT_TRUE(remote_->running()) << log();
  }

  void kill() {
    remote_->signal(SIGKILL);
    remote_->wait(5s);
  }

  std::optional<std::string> ctl(std::vector<std::string> args) const {
    std::vector<std::string> argv = {built_program("tools/kivoctl/kivoctl").string(), "--json", "--socket",
                                     (home_ / "run/kivo/io.kivo.remote.sock").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_output(argv, 15s);
  }

  bool upsert(const kivo::Uuid& id, const std::string& name) const {
    const json payload = {{"UpsertConnection",
                           {{"id", id.to_string()}, {"name", name}, {"host", "lab.example.net"}, {"port", 22},
                            {"user", "me"}, {"kind", "Ssh"}, {"auth", "Password"}, {"group", ""}}}};
    return ctl({"dispatch", "remote.action", payload.dump()}).has_value();
  }

  bool rename(const kivo::Uuid& id, const std::string& name) const {
    const json payload = {{"RenameConnection", {{"id", id.to_string()}, {"name", name}}}};
    return ctl({"dispatch", "remote.action", payload.dump()}).has_value();
  }

  // Saved profiles as the device's resource tree lists them: id → label.
  std::map<std::string, std::string> profiles() const {
    std::map<std::string, std::string> out;
    const auto reply = ctl({"resources"});
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

  std::string log() const {
    std::ifstream in(home_ / "remote.log");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  const std::filesystem::path& sync_dir() const { return sync_dir_; }

 private:
  TempDir home_dir_;
  std::filesystem::path home_ = home_dir_.path();
  std::filesystem::path sync_dir_;
  std::optional<Process> remote_;
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
  const json remove = {{"DeleteConnection", {{"id", id.to_string()}}}};
  ASSERT_TRUE(b.ctl({"dispatch", "remote.action", remove.dump()}));
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
  a.start(*xvfb);
  const auto stored = a.profiles();
  std::lock_guard lock(mutex);
  for (const auto& id : acknowledged) EXPECT_TRUE(stored.contains(id.to_string())) << id.to_string();
  EXPECT_GE(stored.size(), acknowledged.size());
}

}  // namespace
}  // namespace remote::test
