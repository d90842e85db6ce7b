#include "kivo/sync/thread.h"

#include <pthread.h>

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <string>

namespace kivo::sync {
namespace {

TEST(ThreadName, KeepsTheLongestPrefixLinuxAccepts) {
  struct Case {
    std::string name;
    std::string shown;
  };
  const Case cases[] = {
      {"remote-ssh", "remote-ssh"},
      {"exactly-15-byte", "exactly-15-byte"},
      {"remote-kivo-decode", "remote-kivo-dec"},
      // "é" is two bytes: kept when it ends at byte 15, dropped when it would be split.
      {"remote-kivo-d\xC3\xA9"
       "code",
       "remote-kivo-d\xC3\xA9"},
      {"remote-kivo-de\xC3\xA9"
       "code",
       "remote-kivo-de"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(thread_name_prefix(c.name), c.shown) << c.name;
}

TEST(ThreadName, SpawnedThreadCarriesTheCutName) {
  // Shared, because the detached thread may still be inside set_value when we return.
  auto seen = std::make_shared<std::promise<std::string>>();
  auto future = seen->get_future();
  ASSERT_TRUE(spawn_detached("remote-kivo-decode", [seen] {
                char name[32] = {};
                pthread_getname_np(pthread_self(), name, sizeof name);
                seen->set_value(name);
              }).has_value());
  ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(future.get(), "remote-kivo-dec");
}

TEST(DetachedThreads, ExitWaitsUntilEveryWorkerReturned) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  ASSERT_TRUE(spawn_detached("held-worker", [released] { released.wait(); }));
  EXPECT_FALSE(wait_for_detached_threads(std::chrono::milliseconds(50)));
  release.set_value();
  EXPECT_TRUE(wait_for_detached_threads(std::chrono::seconds(10)));
}

}  // namespace
}  // namespace kivo::sync
