#include <gtest/gtest.h>

#include <thread>

#include "platform/Event.h"

TEST(Event, OpensSignalledResetsAutomaticallyAndClosingWakesAWaiter) {
  vorta::Event e;
  EXPECT_FALSE(e.wait(10));  // created closed: at once, no signal
  e.open();
  EXPECT_TRUE(e.wait(0));    // opened signalled
  EXPECT_FALSE(e.wait(10));  // auto-reset
  e.set();
  EXPECT_TRUE(e.wait(10));
  bool took = true;
  std::thread waiter([&] { took = e.wait(3600 * 1000); });  // only the close ends it
  e.close();
  waiter.join();
  e.set();
  EXPECT_FALSE(took || e.wait(0));
}
