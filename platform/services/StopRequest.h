#pragma once

#include <chrono>

namespace platform {

/// SIGINT and SIGTERM, turned into something every wait can watch.
///
/// A handler installed with std::signal restarts an interrupted read on glibc, so a run blocked on a
/// FIFO would never notice Ctrl+C. Instead the handlers set a flag and make a descriptor readable:
/// whoever waits (poll on a device, a pipe, the display connection, a queue) watches that descriptor
/// beside its own and returns when it is readable.
namespace stop {

/// Installs the handlers for SIGINT and SIGTERM, without SA_RESTART. Call once, on the main thread,
/// before any other thread starts. Throws std::system_error if the descriptor cannot be made.
void installHandlers();

/// Blocks SIGINT and SIGTERM in the calling thread, so that they reach the main thread, which ends
/// the run; in a worker they would only cut a write short. Call first thing in a worker thread.
void keepSignalsFromThisThread();

/// True once a stop was asked for (by a signal or by request()).
bool requested();

/// Readable once a stop was asked for, and for good: poll it for POLLIN beside what you wait on.
/// -1 before installHandlers(); poll() passes over a negative descriptor.
int fd();

/// Asks for a stop as a signal would; for tests and for the program's own reasons.
void request();

/// Forgets an earlier request, so that tests can ask again; not for the program itself.
void resetForTesting();

/// Sleeps until `deadline`, or until `descriptor` (-1: none) is readable or hung up, or a stop is
/// asked for; true when the wait ended before the deadline. The deadline is kept to the
/// nanosecond, as a sleep's would be; the maximum time point waits for ever.
bool sleepUntil(std::chrono::steady_clock::time_point deadline, int descriptor = -1);

} // namespace stop

} // namespace platform
