#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/Event.h"

using namespace std::chrono_literals;

TEST(Event, OpensSignalledResetsAutomaticallyAndClosingWakesAWaiter) {
  vorta::Event e;
  EXPECT_FALSE(e.wait(10ms));  // created closed: at once, no signal
  e.open();
  EXPECT_TRUE(e.wait(0ms));    // opened signalled
  EXPECT_FALSE(e.wait(10ms));  // auto-reset
  e.set();
  EXPECT_TRUE(e.wait(10ms));
  bool took = true;
  std::thread waiter([&] { took = e.wait(1h); });  // only the close ends it
  e.close();
  waiter.join();
  e.set();
  EXPECT_FALSE(took || e.wait(0ms));
}
