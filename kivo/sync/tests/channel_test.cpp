#include "kivo/sync/channel.h"

#include <poll.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kivo/sync/oneshot.h"

namespace kivo::sync {
namespace {

using namespace std::chrono_literals;

bool readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

TEST(Channel, FullQueueRefusesWithoutLosingQueuedItems) {
  auto [tx, rx] = channel<int>(3);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(tx.try_send(i).has_value());
  const auto refused = tx.try_send(99);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error(), SendError::Full);

  for (int i = 0; i < 3; ++i) {
    auto item = rx.try_recv();
    ASSERT_TRUE(item.has_value());
    EXPECT_EQ(*item, i);
  }
  EXPECT_EQ(rx.try_recv().error(), RecvError::Empty);
  EXPECT_TRUE(tx.try_send(3).has_value());
}

TEST(Channel, DroppingTheSendersDeliversWhatWasQueuedThenCloses) {
  auto [tx, rx] = channel<std::string>(4);
  Sender<std::string> second = tx.clone();
  ASSERT_TRUE(tx.try_send("a").has_value());
  ASSERT_TRUE(second.try_send("b").has_value());
  tx = Sender<std::string>();
  EXPECT_FALSE(rx.senders_gone()) << "a clone still exists";
  second = Sender<std::string>();
  EXPECT_TRUE(rx.senders_gone());

  EXPECT_EQ(rx.try_recv().value(), "a");
  EXPECT_EQ(rx.recv().value(), "b");
  EXPECT_EQ(rx.try_recv().error(), RecvError::Closed);
  EXPECT_FALSE(rx.recv().has_value());
  EXPECT_EQ(rx.recv_for(1ms).error(), RecvError::Closed);
}

TEST(Channel, DroppingTheReceiverClosesAndDestroysQueuedItems) {
  auto [tx, rx] = channel<OneshotSender<int>>(2);
  auto [reply_tx, reply_rx] = oneshot<int>();
  ASSERT_TRUE(tx.try_send(std::move(reply_tx)).has_value());
  EXPECT_EQ(reply_rx.try_recv().error(), OneshotError::NothingYet);

  { auto gone = std::move(rx); }
  EXPECT_TRUE(tx.is_closed());
  EXPECT_EQ(reply_rx.try_recv().error(), OneshotError::SenderGone) << "the queued reply sender was dropped";

  // A refused item is destroyed too, so its reply reports the sender gone.
  auto [late_tx, late_rx] = oneshot<int>();
  EXPECT_EQ(tx.try_send(std::move(late_tx)).error(), SendError::Closed);
  EXPECT_EQ(late_rx.try_recv().error(), OneshotError::SenderGone);
  EXPECT_EQ(tx.send(OneshotSender<int>()).error(), SendError::Closed);
}

TEST(Channel, WakeFdIsReadableExactlyWhileItemsWaitOrTheChannelIsClosed) {
  auto [tx, rx] = channel<int>(2);
  ASSERT_TRUE(tx.try_send(1).has_value());
  const auto fd = rx.wake_fd();  // created late: must reflect the item already queued
  ASSERT_TRUE(fd.has_value());
  EXPECT_TRUE(readable(*fd));
  EXPECT_EQ(rx.wake_fd().value(), *fd);

  struct Step {
    const char* what;
    bool send;  // send one item, else receive one
    bool readable_after;
  };
  const Step steps[] = {
      {"second item", true, true},
      {"one of two taken", false, true},
      {"queue drained", false, false},
      {"new item", true, true},
      {"drained again", false, false},
  };
  for (const Step& step : steps) {
    if (step.send) {
      ASSERT_TRUE(tx.try_send(7).has_value()) << step.what;
    } else {
      ASSERT_TRUE(rx.try_recv().has_value()) << step.what;
    }
    EXPECT_EQ(readable(*fd), step.readable_after) << step.what;
  }
  EXPECT_EQ(rx.try_recv().error(), RecvError::Empty);
  EXPECT_FALSE(readable(*fd)) << "an empty try_recv must not raise it";

  tx = Sender<int>();
  EXPECT_TRUE(readable(*fd)) << "closed";
}

TEST(Channel, BlockingSendWaitsForRoomAndFailsWhenTheReceiverLeaves) {
  auto [tx, rx] = channel<int>(1);
  ASSERT_TRUE(tx.try_send(0).has_value());

  std::atomic<int> stage{0};
  std::thread producer([&tx, &stage] {
    EXPECT_TRUE(tx.send(1).has_value());
    stage = 1;
    EXPECT_EQ(tx.send(2).error(), SendError::Closed);
    stage = 2;
  });
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(stage.load(), 0) << "send must wait while the queue is full";
  EXPECT_EQ(rx.recv_for(10s).value(), 0);

  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (stage.load() < 1 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(stage.load(), 1) << "the second send must wait behind item 1";
  { auto gone = std::move(rx); }
  producer.join();
  EXPECT_EQ(stage.load(), 2);
}

TEST(Channel, RecvForTimesOutWhenNothingArrives) {
  auto [tx, rx] = channel<int>(1);
  EXPECT_EQ(rx.recv_for(5ms).error(), RecvError::Empty);
}

TEST(Channel, ProducerAndConsumerThreadsKeepOrderAndLoseNothing) {
  constexpr int kItems = 20000;
  auto [tx, rx] = channel<std::unique_ptr<int>>(8);
  std::thread producer([tx = std::move(tx)]() mutable {
    for (int i = 0; i < kItems; ++i) {
      if (i % 2 == 0) {
        ASSERT_TRUE(tx.send(std::make_unique<int>(i)).has_value());
      } else {
        // The try form spins on Full; it must never drop an item it reports as queued.
        while (true) {
          auto sent = tx.try_send(std::make_unique<int>(i));
          if (sent) break;
          ASSERT_EQ(sent.error(), SendError::Full);
          std::this_thread::yield();
        }
      }
    }
  });
  const auto fd = rx.wake_fd();
  ASSERT_TRUE(fd.has_value());
  int expected = 0;
  while (true) {
    pollfd p{*fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 10000), 1) << "the wake-up fd must fire for every item and for the close";
    auto item = rx.try_recv();
    if (!item) {
      if (item.error() == RecvError::Closed) break;
      continue;
    }
    ASSERT_EQ(**item, expected);
    ++expected;
  }
  producer.join();
  EXPECT_EQ(expected, kItems);
}

}  // namespace
}  // namespace kivo::sync
