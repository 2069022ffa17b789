// The service's log: lines on standard output, in the order they were
// logged (several lack a line end). A writer thread of its own puts them
// out, so no serving thread ever waits on a slow or stalled reader of the
// log: lines that do not fit the queue are dropped and counted, and the
// count is logged before the next line that fits.
#ifndef HWSERVICE_SVC_LOG_H
#define HWSERVICE_SVC_LOG_H

#include <cstddef>

// Queues one formatted text; never blocks on the sink (callable from any thread).
void SvcLog(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Waits up to wait_ms for the queued text to be written; true when it was.
bool SvcLogFlush(int wait_ms);

// Bytes the queue holds at most.
constexpr size_t kSvcLogQueueBytes = 256 * 1024;

#endif
