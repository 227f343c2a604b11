#include <gtest/gtest.h>

#include <thread>

#include "platform/Event.h"

namespace vorta {
namespace {

TEST(Event, StartsClosedOpensSignalledAndResetsAutomatically) {
  Event e;
  EXPECT_FALSE(e.isOpen());
  EXPECT_FALSE(e.wait(10));  // closed: returns at once, no signal
  e.open();
  EXPECT_TRUE(e.wait(0));    // created signalled
  EXPECT_FALSE(e.wait(10));  // auto-reset
  e.set();
  EXPECT_TRUE(e.wait(10));
}

TEST(Event, CloseWakesAWaiterAndSetOnAClosedEventDoesNothing) {
  Event e;
  e.open();
  ASSERT_TRUE(e.wait(0));
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    e.close();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(e.wait(5000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  closer.join();
  e.set();
  EXPECT_FALSE(e.wait(0));
}

}  // namespace
}  // namespace vorta
