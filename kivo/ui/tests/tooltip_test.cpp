#include "kivo/ui/widget/tooltip.h"

#include <gtest/gtest.h>

namespace kivo::ui::widget::tooltip {
namespace {

using namespace std::chrono_literals;

TEST(TooltipHost, AppearsAfterTheHoverDelayOnly) {
  TooltipHost host;
  const auto t0 = Clock::time_point{} + 10s;
  EXPECT_FALSE(host.on_pointer("Connections", {10, 10}, t0));
  EXPECT_TRUE(host.pending());
  EXPECT_FALSE(host.tick(t0 + 499ms));
  EXPECT_FALSE(host.visible());
  // Moving within the same control keeps the timer running.
  EXPECT_FALSE(host.on_pointer("Connections", {12, 11}, t0 + 300ms));
  EXPECT_TRUE(host.tick(t0 + 500ms));
  EXPECT_TRUE(host.visible());
  EXPECT_EQ(host.anchor(), (Point{12, 11}));
  EXPECT_FALSE(host.tick(t0 + 900ms));
}

TEST(TooltipHost, ANewControlRestartsTheDelayAndHidesTheOldTip) {
  TooltipHost host;
  const auto t0 = Clock::time_point{} + 10s;
  host.on_pointer("A", {0, 0}, t0);
  host.tick(t0 + 600ms);
  ASSERT_TRUE(host.visible());
  EXPECT_TRUE(host.on_pointer("B", {5, 5}, t0 + 700ms));
  EXPECT_FALSE(host.visible());
  EXPECT_FALSE(host.tick(t0 + 1100ms));
  EXPECT_TRUE(host.tick(t0 + 1200ms));
  EXPECT_TRUE(host.on_pointer(std::nullopt, {50, 50}, t0 + 1300ms));
  EXPECT_FALSE(host.pending());
}

TEST(TooltipHost, DismissHidesUntilThePointerReachesAnotherControl) {
  TooltipHost host;
  const auto t0 = Clock::time_point{} + 10s;
  host.on_pointer("A", {0, 0}, t0);
  host.tick(t0 + 600ms);
  EXPECT_TRUE(host.dismiss());
  EXPECT_FALSE(host.dismiss());
  host.on_pointer("A", {1, 1}, t0 + 700ms);
  EXPECT_FALSE(host.tick(t0 + 2s));
  host.on_pointer("B", {1, 1}, t0 + 3s);
  EXPECT_TRUE(host.tick(t0 + 3500ms));
}

}  // namespace
}  // namespace kivo::ui::widget::tooltip
