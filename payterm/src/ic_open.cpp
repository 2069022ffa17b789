// Opening and closing IC_ ports, directly or through the auxiliary port
// of the terminal the program runs on.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "ic_frame.h"
#include "ic_link.h"
#include "payterm.h"
#include "port.h"

namespace payterm {
namespace {

// Terminal definitions are small; a larger file is not one.
constexpr size_t kTermDefMax = 64 * 1024;

int open_plain(const char* path) {
  int fd = open_line(path, 9600, 8, 'N', 1, 0, 5, BaudTable::Ic);
  if (fd >= 0) tcflush(fd, TCIOFLUSH);
  return fd;
}

// Opens the terminal on standard output as the auxiliary port and writes
// its OPEN sequence.
int open_aux(const TermDef& def) {
  IcState& st = ic_state();
  if (st.aux_active) return kIcAuxBusy;
  if (!isatty(0) || !isatty(1)) return -1;
  char name[256];
  if (ttyname_r(1, name, sizeof name) != 0) return -1;
  int fd = open(name, O_RDWR | O_NOCTTY);
  if (fd < 0) return -1;
  if (!isatty(fd) || (def.open.n > 0 && write_all(fd, def.open.bytes, def.open.n) != 0)) {
    close(fd);
    return -1;
  }
  st.aux = def;
  st.aux_fd = fd;
  st.aux_active = true;
  return fd;
}

int open_from_definition(const char* path) {
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return -1;
  static char text[kTermDefMax];
  size_t n = fread(text, 1, sizeof text, f);
  bool too_big = (n == sizeof text) && fgetc(f) != EOF;
  fclose(f);
  if (too_big) return -1;
  TermDef def;
  parse_term_def(text, n, &def);
  return open_aux(def);
}

}  // namespace
}  // namespace payterm

using namespace payterm;

int IC_InitComm(const char* path) {
  if (path == nullptr) return -1;
  int probe = open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK);
  if (probe < 0) return -1;
  bool tty = isatty(probe);
  struct stat sb;
  bool regular = fstat(probe, &sb) == 0 && S_ISREG(sb.st_mode);
  close(probe);
  if (tty) return open_plain(path);
  if (!regular) return -1;
  return open_from_definition(path);
}

int IC_ExitComm(int icdev) {
  IcState& st = ic_state();
  if (ic_is_aux(icdev)) {
    if (st.aux.close.n > 0) write_all(icdev, st.aux.close.bytes, st.aux.close.n);
    st.aux_active = false;
    st.aux_fd = -1;
  }
  return close(icdev) == 0 ? 0 : -1;
}

int IC_InitComm_Para(int port, const char* open1, const char* open2, const char* close_seq,
                     const char* wrBegin, const char* wrEnd, const char* open3, char prefix,
                     char suffix, const char* open4) {
  if (port == 0) return open_plain("//dev//tty1a");
  if (port == 1) return open_plain("//dev//tty2a");
  if (port != 200) return -1;
  TermDef def;
  def.open.append(open1);
  def.open.append(open3);
  def.open.append(open2);
  def.open.append(open4);
  Sequence tmp;
  tmp.append(close_seq);
  def.close.set(tmp.bytes, tmp.n, kTermSeqMax);
  tmp.n = 0;
  tmp.append(wrBegin);
  def.wr_begin.set(tmp.bytes, tmp.n, kTermSeqMax);
  tmp.n = 0;
  tmp.append(wrEnd);
  def.wr_end.set(tmp.bytes, tmp.n, kTermSeqMax);
  def.prefix = static_cast<uint8_t>(prefix);
  def.suffix = static_cast<uint8_t>(suffix);
  return open_aux(def);
}
