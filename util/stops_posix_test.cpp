// Holding stop requests back on POSIX systems.
#include <gtest/gtest.h>

#include <csignal>

#include "util/stops.h"

namespace mkani {

// Returns true when `signal` is blocked in this thread.
bool held(int signal) {
  sigset_t set;
  sigprocmask(SIG_BLOCK, nullptr, &set);
  return sigismember(&set, signal) == 1;
}

// Returns true when SIGTERM is held back in this thread.
bool termHeld() {
  return held(SIGTERM);
}

TEST(StopsPosixTest, HoldsNestAndHoldTheStopsAloneTillTheLastRelease) {
  holdStops();
  holdStops();
  releaseStops();
  for (const int stop : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) EXPECT_TRUE(held(stop)) << stop;
  EXPECT_FALSE(held(SIGUSR1));
  EXPECT_FALSE(held(SIGCHLD));
  releaseStops();
  EXPECT_FALSE(held(SIGTERM));
}

}  // namespace mkani
