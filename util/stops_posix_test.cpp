// Holding stop requests back on POSIX systems.
#include <gtest/gtest.h>

#include <csignal>

#include "util/stops.h"

namespace mkani {

// Returns true when SIGTERM is blocked in this thread.
bool termHeld() {
  sigset_t set;
  sigprocmask(SIG_BLOCK, nullptr, &set);
  return sigismember(&set, SIGTERM) == 1;
}

TEST(StopsPosixTest, HoldsNestAndTheLastReleaseLetsStopsThrough) {
  holdStops();
  holdStops();
  releaseStops();
  EXPECT_TRUE(termHeld()) << "one hold is left";
  releaseStops();
  EXPECT_FALSE(termHeld());
}

}  // namespace mkani
