// The dc_ command table: one frame per call, command bytes as the reader
// defines them.
#include <string.h>

#include "dc_cmd.h"
#include "dc_link.h"
#include "payterm.h"
#include "timing.h"

namespace payterm {

int dc_simple(int fd, uint8_t cmd, const uint8_t* data, uint8_t n) {
  return dc_xfer(fd, cmd, data, n, nullptr, nullptr);
}

int dc_fixed(int fd, uint8_t cmd, const uint8_t* data, uint8_t n, uint8_t* out, size_t want) {
  uint8_t reply[255];
  uint8_t got = 0;
  int r = dc_xfer(fd, cmd, data, n, reply, &got);
  if (r != 0) return r;
  if (got < want) return kDcNoSync;
  if (out != nullptr && want > 0) memcpy(out, reply, want);
  return 0;
}

int dc_raw(int fd, uint8_t cmd, const uint8_t* data, uint8_t n, uint8_t* rlen, uint8_t* out) {
  uint8_t reply[255];
  uint8_t got = 0;
  int r = dc_xfer(fd, cmd, data, n, reply, &got);
  if (r != 0) return r;
  if (out != nullptr) memcpy(out, reply, got);
  if (rlen != nullptr) *rlen = got;
  return 0;
}

void put_le16(uint8_t* p, unsigned v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void put_le32(uint8_t* p, unsigned long v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

unsigned long get_le32(const uint8_t* p) {
  return static_cast<unsigned long>(p[0]) | static_cast<unsigned long>(p[1]) << 8 |
         static_cast<unsigned long>(p[2]) << 16 | static_cast<unsigned long>(p[3]) << 24;
}

namespace {

int mem_read(int fd, uint8_t cmd, unsigned short offset, uint8_t length, uint8_t* data) {
  uint8_t req[3];
  put_le16(req, offset);
  req[2] = length;
  return dc_fixed(fd, cmd, req, 3, data, length);
}

int mem_write(int fd, uint8_t cmd, unsigned short offset, uint8_t length, const uint8_t* data) {
  if (length > 252 || (length > 0 && data == nullptr)) return kDcBadApdu;
  uint8_t req[255];
  put_le16(req, offset);
  req[2] = length;
  if (length > 0) memcpy(req + 3, data, length);
  return dc_simple(fd, cmd, req, static_cast<uint8_t>(3 + length));
}

int block_value(int fd, uint8_t cmd, uint8_t adr, unsigned long value) {
  uint8_t req[5];
  req[0] = adr;
  put_le32(req + 1, value);
  return dc_simple(fd, cmd, req, 5);
}

int anticoll(int fd, uint8_t cmd, uint8_t bcnt, unsigned long* snr) {
  if (snr == nullptr) return kDcBadApdu;
  uint8_t req[5];
  req[0] = bcnt;
  put_le32(req + 1, *snr);
  uint8_t got[4];
  int r = dc_fixed(fd, cmd, req, 5, got, 4);
  if (r == 0) *snr = get_le32(got);
  return r;
}

int select_snr(int fd, uint8_t cmd, unsigned long snr, uint8_t* size) {
  uint8_t req[4];
  put_le32(req, snr);
  uint8_t got = 0;
  int r = dc_fixed(fd, cmd, req, 4, &got, 1);
  if (r == 0 && size != nullptr) *size = got;
  return r;
}

}  // namespace
}  // namespace payterm

using namespace payterm;

int dc_HL_decrement(int icdev, const unsigned char* req10, unsigned char* rlen, unsigned char* reply) {
  return req10 ? dc_raw(icdev, 0x30, req10, 10, rlen, reply) : kDcBadApdu;
}
int dc_HL_increment(int icdev, const unsigned char* req10, unsigned char* rlen, unsigned char* reply) {
  return req10 ? dc_raw(icdev, 0x31, req10, 10, rlen, reply) : kDcBadApdu;
}
int dc_HL_write(int icdev, const unsigned char* req22, unsigned char* rlen, unsigned char* reply) {
  return req22 ? dc_raw(icdev, 0x32, req22, 22, rlen, reply) : kDcBadApdu;
}
int dc_HL_read(int icdev, const unsigned char* req6, unsigned char* rlen, unsigned char* reply) {
  return req6 ? dc_raw(icdev, 0x33, req6, 6, rlen, reply) : kDcBadApdu;
}
int dc_HL_initval(int icdev, const unsigned char* req10, unsigned char* rlen, unsigned char* reply) {
  return req10 ? dc_raw(icdev, 0x34, req10, 10, rlen, reply) : kDcBadApdu;
}
int dc_HL_authentication(int icdev, const unsigned char* req7) {
  return req7 ? dc_simple(icdev, 0x40, req7, 7) : kDcBadApdu;
}

int srd_alleeprom(int icdev, unsigned short offset, unsigned char length, unsigned char* data) {
  return mem_read(icdev, 0x37, offset, length, data);
}
int swr_alleeprom(int icdev, unsigned short offset, unsigned char length, const unsigned char* data) {
  return mem_write(icdev, 0x38, offset, length, data);
}
int dc_setbright(int icdev, const unsigned char* data4) {
  return data4 ? dc_simple(icdev, 0x38, data4, 4) : kDcBadApdu;
}
int dc_ctl_mode(int icdev, const unsigned char* data4) {
  return data4 ? dc_simple(icdev, 0x38, data4, 4) : kDcBadApdu;
}
int dc_disp_mode(int icdev, const unsigned char* data4) {
  return data4 ? dc_simple(icdev, 0x38, data4, 4) : kDcBadApdu;
}
int dc_settime(int icdev, const unsigned char* time7) {
  return time7 ? dc_simple(icdev, 0x39, time7, 7) : kDcBadApdu;
}
int dc_gettime(int icdev, unsigned char* time7) {
  return dc_fixed(icdev, 0x3A, nullptr, 0, time7, 7);
}

int dc_request(int icdev, unsigned char mode, unsigned int* tagtype) {
  uint8_t m = mode & 0x81;
  uint8_t got[2];
  int r = dc_fixed(icdev, 0x41, &m, 1, got, 2);
  // A card just entering the field often misses the first request.
  if (r != 0) r = dc_fixed(icdev, 0x41, &m, 1, got, 2);
  if (r == 0 && tagtype != nullptr) *tagtype = got[0] | static_cast<unsigned>(got[1]) << 8;
  return r;
}
int dc_anticoll(int icdev, unsigned char bcnt, unsigned long* snr) {
  return anticoll(icdev, 0x42, bcnt, snr);
}
int dc_select(int icdev, unsigned long snr, unsigned char* size) {
  return select_snr(icdev, 0x43, snr, size);
}
int dc_card(int icdev, unsigned char mode, unsigned long* snr) {
  unsigned int tag;
  int r = dc_request(icdev, mode, &tag);
  if (r != 0) return r;
  unsigned long s = 0;
  r = dc_anticoll(icdev, 0, &s);
  if (r != 0) return r;
  unsigned char size;
  r = dc_select(icdev, s, &size);
  if (r == 0 && snr != nullptr) *snr = s;
  return r;
}
int dc_authentication(int icdev, unsigned char mode, unsigned char secnr) {
  uint8_t req[2] = {mode, secnr};
  return dc_simple(icdev, 0x44, req, 2);
}
int dc_halt(int icdev) { return dc_simple(icdev, 0x45, nullptr, 0); }
int dc_read(int icdev, unsigned char adr, unsigned char* data16) {
  return dc_fixed(icdev, 0x46, &adr, 1, data16, 16);
}
int dc_write(int icdev, unsigned char adr, const unsigned char* data16) {
  if (data16 == nullptr) return kDcBadApdu;
  uint8_t req[17];
  req[0] = adr;
  memcpy(req + 1, data16, 16);
  return dc_simple(icdev, 0x47, req, 17);
}
int dc_increment(int icdev, unsigned char adr, unsigned long value) {
  return block_value(icdev, 0x48, adr, value);
}
int dc_decrement(int icdev, unsigned char adr, unsigned long value) {
  return block_value(icdev, 0x49, adr, value);
}
int dc_decrement_ml(int icdev, unsigned char adr, unsigned long value) {
  return block_value(icdev, 0x49, adr, value);
}
int dc_restore(int icdev, unsigned char adr) { return dc_simple(icdev, 0x4A, &adr, 1); }
int dc_transfer(int icdev, unsigned char adr) { return dc_simple(icdev, 0x4B, &adr, 1); }
int dc_load_key(int icdev, unsigned char mode, unsigned char secnr, const unsigned char* key16) {
  if (key16 == nullptr) return kDcBadApdu;
  uint8_t req[18];
  req[0] = mode;
  req[1] = secnr;
  memcpy(req + 2, key16, 16);
  return dc_simple(icdev, 0x4C, req, 18);
}
int dc_check_write(int icdev, const unsigned char* req22) {
  return req22 ? dc_simple(icdev, 0x53, req22, 22) : kDcBadApdu;
}
int dc_anticoll2(int icdev, unsigned char bcnt, unsigned long* snr) {
  return anticoll(icdev, 0xA2, bcnt, snr);
}
int dc_select2(int icdev, unsigned long snr, unsigned char* size) {
  return select_snr(icdev, 0xA3, snr, size);
}

int dc_reset(int icdev, unsigned short msec) {
  uint8_t req[2];
  put_le16(req, msec);
  return dc_simple(icdev, 0x4E, req, 2);
}
int dc_get_status(int icdev, unsigned char* status) {
  return dc_fixed(icdev, 0x4F, nullptr, 0, status, 1);
}
int dc_set_control_bit(int icdev, unsigned char bit) { return dc_simple(icdev, 0x50, &bit, 1); }
int dc_clr_control_bit(int icdev, unsigned char bit) { return dc_simple(icdev, 0x51, &bit, 1); }
int dc_config(int icdev, unsigned char mode, unsigned char baud) {
  uint8_t req[2] = {mode, baud};
  return dc_simple(icdev, 0x52, req, 2);
}
int dc_beep(int icdev, unsigned short msec) {
  uint8_t req[2] = {static_cast<uint8_t>(msec), 0x00};
  int r = dc_send(icdev, 0x57, 2, req);
  if (r != 0) return r;
  // The reader answers once the beep is over.
  pause_ms(req[0]);
  return dc_receive(icdev, nullptr, nullptr);
}
int dc_light(int icdev, unsigned short state) {
  uint8_t req[2];
  put_le16(req, state);
  return dc_simple(icdev, 0x58, req, 2);
}
int dc_disp_str(int icdev, unsigned char len, const unsigned char* data) {
  return (len == 0 || data) ? dc_simple(icdev, 0x7F, data, len) : kDcBadApdu;
}
int dc_high_disp(int icdev, unsigned char len, const unsigned char* data) {
  return (len == 0 || data) ? dc_simple(icdev, 0x7F, data, len) : kDcBadApdu;
}
int dc_getver(int icdev, unsigned char* ver2) {
  return dc_fixed(icdev, 0x80, nullptr, 0, ver2, 2);
}
int dc_setbptime(int icdev, unsigned char t) { return dc_simple(icdev, 0x81, &t, 1); }
int dc_update(int icdev, unsigned char b1, unsigned char b2) {
  uint8_t req[2] = {b1, b2};
  return dc_simple(icdev, 0xFE, req, 2);
}
int dc_config_card(int icdev, unsigned char cardtype) {
  return dc_simple(icdev, 0x87, &cardtype, 1);
}
int dc_request_b(int icdev, const unsigned char* req3, unsigned char* rlen, unsigned char* reply) {
  return req3 ? dc_raw(icdev, 0x88, req3, 3, rlen, reply) : kDcBadApdu;
}
int dc_attrib(int icdev, const unsigned char* req5, unsigned char* rlen, unsigned char* reply) {
  return req5 ? dc_raw(icdev, 0x8A, req5, 5, rlen, reply) : kDcBadApdu;
}
int dc_read_all(int icdev, unsigned char param, unsigned char* rlen, unsigned char* reply) {
  return dc_raw(icdev, 0x96, &param, 1, rlen, reply);
}
int dc_write_all(int icdev, unsigned char param, unsigned char* rlen, unsigned char* reply) {
  return dc_raw(icdev, 0x97, &param, 1, rlen, reply);
}
int dc_read_one(int icdev, unsigned char param, unsigned char* rlen, unsigned char* reply) {
  return dc_raw(icdev, 0xA6, &param, 1, rlen, reply);
}
int dc_write_one(int icdev, const unsigned char* req65) {
  return req65 ? dc_simple(icdev, 0xA7, req65, 65) : kDcBadApdu;
}

int dc_setcpu(int icdev, unsigned char slot) { return dc_simple(icdev, 0x83, &slot, 1); }
int dc_setcpupara(int icdev, unsigned char cputype, unsigned char cpupro, unsigned char cpuetu) {
  uint8_t req[3] = {cputype, cpupro, cpuetu};
  return dc_simple(icdev, 0xE9, req, 3);
}
int dc_cpudown(int icdev) { return dc_simple(icdev, 0x7C, nullptr, 0); }

int dc_read_4442(int icdev, unsigned short offset, unsigned char length, unsigned char* data) {
  return mem_read(icdev, 0xB0, offset, length, data);
}
int dc_write_4442(int icdev, unsigned short offset, unsigned char length, const unsigned char* data) {
  return mem_write(icdev, 0xB1, offset, length, data);
}
int dc_verifypin_4442(int icdev, const unsigned char* pin3) {
  return pin3 ? dc_simple(icdev, 0xB2, pin3, 3) : kDcBadApdu;
}
int dc_readpin_4442(int icdev, unsigned char* rlen, unsigned char* reply) {
  return dc_raw(icdev, 0xB3, nullptr, 0, rlen, reply);
}
int dc_readpincount_4442(int icdev, unsigned char* rlen, unsigned char* reply) {
  return dc_raw(icdev, 0xB3, nullptr, 0, rlen, reply);
}
int dc_changepin_4442(int icdev, const unsigned char* pin3) {
  return pin3 ? dc_simple(icdev, 0xB4, pin3, 3) : kDcBadApdu;
}
int dc_write_24c(int icdev, unsigned short offset, unsigned char length, const unsigned char* data) {
  return mem_write(icdev, 0xB5, offset, length, data);
}
int dc_read_24c(int icdev, unsigned short offset, unsigned char length, unsigned char* data) {
  return mem_read(icdev, 0xB6, offset, length, data);
}
int dc_write_24c64(int icdev, unsigned short offset, unsigned char length, const unsigned char* data) {
  return mem_write(icdev, 0xB7, offset, length, data);
}
int dc_read_24c64(int icdev, unsigned short offset, unsigned char length, unsigned char* data) {
  return mem_read(icdev, 0xB8, offset, length, data);
}
int dc_read_4428(int icdev, unsigned short offset, unsigned char length, unsigned char* data) {
  return mem_read(icdev, 0xB9, offset, length, data);
}
int dc_write_4428(int icdev, unsigned short offset, unsigned char length, const unsigned char* data) {
  return mem_write(icdev, 0xBA, offset, length, data);
}
int dc_verifypin_4428(int icdev, const unsigned char* pin2) {
  return pin2 ? dc_simple(icdev, 0xBB, pin2, 2) : kDcBadApdu;
}
int dc_readpin_4428(int icdev, unsigned char* rlen, unsigned char* reply) {
  return dc_raw(icdev, 0xBC, nullptr, 0, rlen, reply);
}
int dc_readpincount_4428(int icdev, unsigned char* rlen, unsigned char* reply) {
  return dc_raw(icdev, 0xBC, nullptr, 0, rlen, reply);
}
int dc_changepin_4428(int icdev, const unsigned char* pin2) {
  return pin2 ? dc_simple(icdev, 0xBD, pin2, 2) : kDcBadApdu;
}
