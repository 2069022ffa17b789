// The vendor-family calls, carried to the virtual reader (dcwire.h).
#include "dcrf32.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "bytes.h"
#include "dcwire.h"
#include "sockpath.h"

namespace {

constexpr int kMaxDevices = 8;

struct Device {
  bool open = false;
  int fd = -1;
};

Device g_devices[kMaxDevices];
std::mutex g_table;  // guards the table; exchanges on one device are the caller's to serialise

int timeoutMs() {
  const char* e = getenv("VREADER_DC_TIMEOUT_MS");
  int v = e ? atoi(e) : 0;
  return v > 0 ? v : 5000;
}

int connectDc() {
  int fd = vr::connectTo(vr::defaultSocketPath());
  if (fd < 0) return -1;
  std::string line;
  if (!vr::writeAll(fd, "HELLO dc\n", 9) || !vr::readLine(fd, line, 256, 3000) || line != "OK dc") {
    close(fd);
    return -1;
  }
  return fd;
}

Device* device(int icdev) {
  if (icdev < 1 || icdev > kMaxDevices) return nullptr;
  Device* d = &g_devices[icdev - 1];
  return d->open ? d : nullptr;
}

// One request and its reply. Returns the reader's result, or DC_ERR_* .
int exchange(int icdev, uint8_t op, const vr::Bytes& payload, vr::Bytes& reply) {
  Device* d = device(icdev);
  if (!d) return DC_ERR_DEVICE;
  if (d->fd < 0 && (d->fd = connectDc()) < 0) return DC_ERR_COMM;
  vr::Bytes req{op};
  vr::put16(req, unsigned(payload.size()));
  vr::append(req, payload);
  uint8_t head[5];
  int limit = timeoutMs();
  bool ok = vr::writeAll(d->fd, req.data(), req.size()) && vr::readExact(d->fd, head, 5, limit) == 1 &&
            head[0] == vr::dc::kReplyMark;
  size_t n = ok ? size_t(head[3]) << 8 | head[4] : 0;
  if (ok && n <= vr::dc::kMaxPayload) {
    reply.assign(n, 0);
    ok = n == 0 || vr::readExact(d->fd, reply.data(), n, limit) == 1;
  } else {
    ok = false;
  }
  if (!ok) {
    // A late or garbled answer would desynchronise the stream: start afresh.
    close(d->fd);
    d->fd = -1;
    return DC_ERR_COMM;
  }
  return int16_t(uint16_t(head[1] << 8 | head[2]));
}

short apdu(int icdev, uint8_t op, unsigned char slen, const unsigned char* cmd, unsigned char* rlen,
           unsigned char* out) {
  if (!cmd || !rlen || !out || slen < 4) return DC_ERR_ARG;
  vr::Bytes reply;
  int r = exchange(icdev, op, vr::Bytes(cmd, cmd + slen), reply);
  if (r != 0) return short(r);
  if (reply.size() < 2) return DC_ERR_COMM;
  if (reply.size() > 255) return DC_ERR_TOO_LONG;
  std::memcpy(out, reply.data(), reply.size());
  *rlen = static_cast<unsigned char>(reply.size());
  return 0;
}

short resetCard(int icdev, uint8_t op, unsigned char* rlen, unsigned char* out) {
  if (!rlen || !out) return DC_ERR_ARG;
  vr::Bytes reply;
  int r = exchange(icdev, op, vr::Bytes(), reply);
  if (r != 0) return short(r);
  if (reply.size() > 64) return DC_ERR_TOO_LONG;
  std::memcpy(out, reply.data(), reply.size());
  *rlen = static_cast<unsigned char>(reply.size());
  return 0;
}

}  // namespace

extern "C" {

int dc_init(short, long) {
  int fd = connectDc();
  if (fd < 0) return DC_ERR_DEVICE;
  std::lock_guard<std::mutex> lock(g_table);
  for (int i = 0; i < kMaxDevices; ++i) {
    if (!g_devices[i].open) {
      g_devices[i].open = true;
      g_devices[i].fd = fd;
      return i + 1;
    }
  }
  close(fd);
  return DC_ERR_DEVICE;
}

short dc_exit(int icdev) {
  std::lock_guard<std::mutex> lock(g_table);
  Device* d = device(icdev);
  if (!d) return DC_ERR_DEVICE;
  if (d->fd >= 0) close(d->fd);
  *d = Device();
  return 0;
}

short dc_setcpu(int icdev, unsigned char address) {
  vr::Bytes reply;
  return short(exchange(icdev, vr::dc::kSetCpu, vr::Bytes{address}, reply));
}

short dc_cpureset(int icdev, unsigned char* rlen, unsigned char* databuffer) {
  return resetCard(icdev, vr::dc::kCpuReset, rlen, databuffer);
}

short dc_pro_reset(int icdev, unsigned char* rlen, unsigned char* receive_data) {
  return resetCard(icdev, vr::dc::kProReset, rlen, receive_data);
}

short dc_cpuapdu(int icdev, unsigned char slen, unsigned char* sendbuffer, unsigned char* rlen,
                 unsigned char* databuffer) {
  return apdu(icdev, vr::dc::kCpuApdu, slen, sendbuffer, rlen, databuffer);
}

short dc_pro_command(int icdev, unsigned char slen, unsigned char* sendbuffer, unsigned char* rlen,
                     unsigned char* databuffer, unsigned char) {
  return apdu(icdev, vr::dc::kProApdu, slen, sendbuffer, rlen, databuffer);
}

short dc_SamAReadCardInfo(int icdev, int type, unsigned int* text_len, unsigned char* text, unsigned int* photo_len,
                          unsigned char* photo, unsigned int* fingerprint_len, unsigned char* fingerprint,
                          unsigned int* extra_len, unsigned char*) {
  if (type < 1 || type > 3 || !text_len || !text) return DC_ERR_ARG;
  if (type >= 2 && (!photo_len || !photo)) return DC_ERR_ARG;
  if (type == 3 && (!fingerprint_len || !fingerprint)) return DC_ERR_ARG;
  vr::Bytes reply;
  int r = exchange(icdev, vr::dc::kIdRead, vr::Bytes(), reply);
  if (r != 0) return short(r);
  if (reply.size() < 6) return DC_ERR_COMM;
  size_t t = size_t(reply[0]) << 8 | reply[1], p = size_t(reply[2]) << 8 | reply[3],
         f = size_t(reply[4]) << 8 | reply[5];
  if (6 + t + p + f != reply.size() || t > 256 || p > 1024 || f > 1024) return DC_ERR_COMM;
  std::memcpy(text, &reply[6], t);
  *text_len = unsigned(t);
  if (type >= 2) {
    std::memcpy(photo, &reply[6 + t], p);
    *photo_len = unsigned(p);
  }
  if (type == 3) {
    if (f) std::memcpy(fingerprint, &reply[6 + t + p], f);
    *fingerprint_len = unsigned(f);
  }
  if (extra_len) *extra_len = 0;
  return 0;
}

}  // extern "C"
