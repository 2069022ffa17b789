// Where the virtual reader listens, and the small socket helpers its
// clients share (control tool, hidapi shim, vendor library).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace vr {

// $VREADER_SOCKET, else $XDG_RUNTIME_DIR/vreader.sock, else /tmp/vreader-<uid>.sock.
std::string defaultSocketPath();
// Connected stream socket or -1 (errno kept).
int connectTo(const std::string& path);
// Writes all bytes; false on failure. Never raises SIGPIPE.
bool writeAll(int fd, const void* p, size_t n);
// Reads exactly n bytes within timeoutMs (-1: no limit); 1 ok, 0 time-out, -1 closed or failed.
int readExact(int fd, void* p, size_t n, int timeoutMs);
// Reads one line (without the newline) of at most `max` bytes; false on failure.
bool readLine(int fd, std::string& line, size_t max, int timeoutMs);
int64_t monotonicMs();

}  // namespace vr
