#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "kivo/sync/oneshot.h"
#include "kivo/sync/slot.h"

namespace kivo::sync {
namespace {

TEST(Slot, ReplaceAndTakeHandBackTheOldValue) {
  Slot<std::string> slot("first");
  EXPECT_EQ(slot.load(), "first");
  EXPECT_EQ(slot.replace("second"), "first");
  EXPECT_EQ(slot.take(), "second");
  EXPECT_EQ(slot.load(), "");
  slot.store("third");
  EXPECT_EQ(slot.load(), "third");
}

TEST(Slot, ReadersNeverSeeAHalfWrittenValue) {
  auto slot = std::make_shared<Slot<std::pair<std::string, std::string>>>();
  std::atomic<bool> done{false};
  std::thread writer([slot, &done] {
    for (int i = 0; i < 5000; ++i) {
      const std::string text(static_cast<std::size_t>(i % 64), static_cast<char>('a' + i % 26));
      slot->store({text, text});
    }
    done = true;
  });
  while (!done.load()) {
    const auto value = slot->load();
    ASSERT_EQ(value.first, value.second);
  }
  writer.join();
}

TEST(Oneshot, ReceiverTellsNothingYetValueAndSenderGone) {
  {
    auto [tx, rx] = oneshot<std::string>();
    EXPECT_EQ(rx.try_recv().error(), OneshotError::NothingYet);
    EXPECT_TRUE(tx.send("done"));
    EXPECT_EQ(rx.try_recv().value(), "done");
    EXPECT_EQ(rx.try_recv().error(), OneshotError::SenderGone) << "an answer is taken once";
  }
  {
    auto [tx, rx] = oneshot<std::string>();
    { auto dropped = std::move(tx); }
    EXPECT_EQ(rx.try_recv().error(), OneshotError::SenderGone);
  }
  {
    auto [tx, rx] = oneshot<std::string>();
    { auto dropped = std::move(rx); }
    EXPECT_FALSE(tx.send("nobody listens"));
  }
}

TEST(Oneshot, AnswerCrossesThreads) {
  auto [tx, rx] = oneshot<int>();
  std::thread worker([tx = std::move(tx)]() mutable { tx.send(42); });
  std::expected<int, OneshotError> answer = std::unexpected(OneshotError::NothingYet);
  while (!answer && answer.error() == OneshotError::NothingYet) {
    answer = rx.try_recv();
    std::this_thread::yield();
  }
  worker.join();
  EXPECT_EQ(answer.value(), 42);
}

}  // namespace
}  // namespace kivo::sync
