#include <windows.h>

#include "util/stops.h"

namespace mkani {
namespace {

// Held by the run while stops are held back; taken for good by the handler of a stop, which
// ends the process holding it.
struct Lock {
  Lock() { InitializeCriticalSection(&section); }
  CRITICAL_SECTION section;
} lock;

}  // namespace

void holdStops() {
  EnterCriticalSection(&lock.section);
}

void releaseStops() {
  LeaveCriticalSection(&lock.section);
}

void awaitStops() {
  EnterCriticalSection(&lock.section);
}

}  // namespace mkani
