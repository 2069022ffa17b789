// The service's log: lines on standard output, written at once so that a
// reader of a pipe or file sees them in order (several lack a line end).
#ifndef HWSERVICE_SVC_LOG_H
#define HWSERVICE_SVC_LOG_H

void SvcLog(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

#endif
