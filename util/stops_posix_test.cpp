// Holding stop requests back on POSIX systems.
#include <gtest/gtest.h>

#include <csignal>

#include "util/stops.h"

namespace mkani {

// Returns true when `signal` is held back (blocked) in this thread.
bool signalHeld(int signal) {
  sigset_t set;
  sigprocmask(SIG_BLOCK, nullptr, &set);
  return sigismember(&set, signal) == 1;
}

TEST(StopsPosixTest, HoldsNestAndHoldTheStopsAloneTillTheLastRelease) {
  holdStops();
  holdStops();
  releaseStops();
  for (const int stop : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) EXPECT_TRUE(signalHeld(stop)) << stop;
  EXPECT_FALSE(signalHeld(SIGUSR1));
  EXPECT_FALSE(signalHeld(SIGCHLD));
  releaseStops();
  EXPECT_FALSE(signalHeld(SIGTERM));
}

}  // namespace mkani
