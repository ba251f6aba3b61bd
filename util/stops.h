// Requests to stop the run (SIGINT, SIGTERM, SIGHUP; Ctrl-C, Ctrl-Break, a closing console), held
// back while a step runs that must not be cut short.
#ifndef MKANI_UTIL_STOPS_H_
#define MKANI_UTIL_STOPS_H_

namespace mkani {

// Holds stop requests back until the matching releaseStops; a request that comes meanwhile
// takes effect then. Calls nest.
void holdStops();
void releaseStops();

// Waits while stop requests are held back, and keeps them from being held again: what a stop
// handler does first where it runs beside the run (on Windows, in a thread of its own).
void awaitStops();

}  // namespace mkani

#endif  // MKANI_UTIL_STOPS_H_
