// The reader's end of a serial line for the fuzz targets of libpayterm: the
// bytes the reader sends are queued on a socket pair before the call, then
// the reader falls silent (the library reads the end of the line at once
// instead of waiting). What the library writes is collected as it comes,
// so that its writes never wait for room, and kept for the checks.
// Socket descriptors pass the library's terminal calls (tcgetattr,
// tcsetattr, tcflush), which the targets link wrapped (see line.cpp).
#ifndef HW_FUZZ_PAYTERM_LINE_H
#define HW_FUZZ_PAYTERM_LINE_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <thread>

class ReaderLine {
 public:
  ReaderLine(const uint8_t *reader_bytes, size_t n);
  ~ReaderLine();
  ReaderLine(const ReaderLine &) = delete;
  ReaderLine &operator=(const ReaderLine &) = delete;

  int fd() const { return lib_; }
  // Everything the library wrote; ends the library's side for writing, so
  // call it once the library is done with the line.
  const std::string &written();

 private:
  int lib_ = -1;
  int reader_ = -1;
  std::thread collector_;
  bool done_ = false;
  std::string written_;
};

// Shortest line timings and no pauses; line.cpp's LLVMFuzzerInitialize
// calls it before the first input.
void QuickLineTimings();

// An output buffer of n bytes filled with 0xEE, so that what the library
// leaves unwritten shows; valid until the next call.
uint8_t *Buf(size_t n);

#endif
