#include <signal.h>

#include <initializer_list>

#include "util/stops.h"

namespace mkani {
namespace {

int held = 0;

// Blocks or unblocks the signals that ask the run to stop.
void mask(int how) {
  sigset_t stops;
  sigemptyset(&stops);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&stops, signal);
  sigprocmask(how, &stops, nullptr);
}

}  // namespace

void holdStops() {
  if (held++ == 0) mask(SIG_BLOCK);
}

void releaseStops() {
  if (--held == 0) mask(SIG_UNBLOCK);
}

void awaitStops() {}  // a blocked signal is not delivered: its handler never runs while held

}  // namespace mkani
