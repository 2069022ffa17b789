// The writing side of a trace: one JSON object per line, appended with one
// write() per line so that two layers (or threads) sharing the file never
// interleave inside a line. Used by the preloaded recording layers only.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace hwtrace {

// Opens $HWTRACE_FILE (mode 0600: traces hold personal data) on first use and
// writes the header line naming the layer, the program and `libs`. False when
// no trace is wanted or the file cannot be opened (calls then pass through
// unrecorded).
bool traceOn(const char* layer, const std::string& libs);

// True once traceOn() has opened the trace.
bool active();

// Microseconds since the layer started.
int64_t nowUs();

// Builds one event line: {"t":..,"us":..,"ev":"..", members...}.
class Line {
 public:
  Line(const char* ev, int64_t startUs);
  Line& num(const char* key, long long v);
  Line& str(const char* key, const std::string& v);
  Line& hex(const char* key, const void* data, size_t n);
  Line& raw(const char* key, const std::string& json);  // an already-formed JSON value
  // Appends the line to the trace.
  void write();

 private:
  std::string s_;
  int64_t start_;
};

std::string quoted(const std::string& s);
std::string hexOf(const void* data, size_t n);

}  // namespace hwtrace
