// The IC_ command table.
#include <string.h>

#include "dc_cmd.h"
#include "ic_cmd.h"
#include "ic_frame.h"
#include "ic_link.h"
#include "payterm.h"
#include "timing.h"

namespace payterm {

namespace {
size_t build(uint8_t cmd, const uint8_t* params, size_t np, uint8_t* frame) {
  frame[0] = static_cast<uint8_t>(np + 2);
  frame[1] = cmd;
  if (np > 0) memcpy(frame + 2, params, np);
  return np + 2;
}
}  // namespace

int ic_cmd(int fd, uint8_t cmd, const uint8_t* params, size_t np, uint8_t* out) {
  if (np > 253) return kIcBadParam;
  uint8_t frame[256];
  build(cmd, params, np, frame);
  uint8_t scratch[255];
  return ic_datacomm(fd, frame, out != nullptr ? out : scratch);
}

int ic_send_only(int fd, uint8_t cmd, const uint8_t* params, size_t np) {
  if (np > 253) return kIcBadParam;
  uint8_t frame[256];
  build(cmd, params, np, frame);
  return ic_mysend(fd, frame);
}

int ic_fixed(int fd, uint8_t cmd, const uint8_t* params, size_t np, uint8_t* out, size_t want) {
  uint8_t reply[255];
  int r = ic_cmd(fd, cmd, params, np, reply);
  if (r < 0) return r;
  if (static_cast<size_t>(r) < want) return -1;
  if (out != nullptr && want > 0) memcpy(out, reply, want);
  return 0;
}

namespace {

int status_of(int r) { return r < 0 ? r : 0; }

int mem_read(int fd, uint8_t cmd, unsigned short offset, uint8_t len, uint8_t* data) {
  uint8_t p[3];
  put_le16(p, offset);
  p[2] = len;
  return ic_fixed(fd, cmd, p, 3, data, len);
}

int block_value(int fd, uint8_t cmd, uint8_t adr, unsigned long value) {
  uint8_t p[5];
  p[0] = adr;
  put_le32(p + 1, value);
  return status_of(ic_cmd(fd, cmd, p, 5, nullptr));
}

}  // namespace
}  // namespace payterm

using namespace payterm;

int IC_Read(int icdev, unsigned short offset, unsigned char len, unsigned char* data) {
  return mem_read(icdev, 'R', offset, len, data);
}
int IC_Read_Float(int icdev, unsigned short offset, float* value) {
  uint8_t b[sizeof(float)];
  int r = mem_read(icdev, 'R', offset, sizeof b, b);
  if (r == 0 && value != nullptr) memcpy(value, b, sizeof b);
  return r;
}
int IC_Read_Int(int icdev, unsigned short offset, int* value) {
  uint8_t b[4];
  int r = mem_read(icdev, 'R', offset, 4, b);
  if (r == 0 && value != nullptr) *value = static_cast<int>(get_le32(b));
  return r;
}
int IC_ReadProtection(int icdev, unsigned short offset, unsigned char len, unsigned char* data) {
  return mem_read(icdev, 'r', offset, len, data);
}
int IC_ReadWithProtection(int icdev, unsigned short offset, unsigned char len, unsigned char* data) {
  return mem_read(icdev, 'r', offset, len, data);
}
int IC_Write_All(int icdev, unsigned short offset, unsigned char len, const unsigned char* data) {
  if (len > 250 || (len > 0 && data == nullptr)) return kIcBadParam;
  uint8_t p[253];
  put_le16(p, offset);
  p[2] = len;
  if (len > 0) memcpy(p + 3, data, len);
  return status_of(ic_cmd(icdev, 'W', p, 3u + len, nullptr));
}
int IC_Write(int icdev, unsigned short offset, unsigned char len, const unsigned char* data) {
  return IC_Write_All(icdev, offset, len, data);
}
int IC_Write_Float(int icdev, unsigned short offset, float value) {
  uint8_t b[sizeof(float)];
  memcpy(b, &value, sizeof b);
  return IC_Write_All(icdev, offset, sizeof b, b);
}
int IC_Write_Int(int icdev, unsigned short offset, int value) {
  uint8_t b[4];
  put_le32(b, static_cast<unsigned long>(static_cast<unsigned int>(value)));
  return IC_Write_All(icdev, offset, 4, b);
}
int IC_CheckPass_SLE4442(int icdev, const unsigned char* pin3) {
  if (pin3 == nullptr) return kIcBadParam;
  uint8_t p[5] = {0x01, 0x00, pin3[0], pin3[1], pin3[2]};
  return status_of(ic_cmd(icdev, 'S', p, 5, nullptr));
}
int IC_ReadCount_SLE4442(int icdev) {
  uint8_t c;
  int r = ic_fixed(icdev, 'U', nullptr, 0, &c, 1);
  return r < 0 ? r : c;
}
int IC_InitType(int icdev, unsigned char cardtype) {
  if (cardtype == 0xFE) return kIcBadParam;
  int r = ic_send_only(icdev, 'T', &cardtype, 1);
  if (r != 0) return r;
  ic_state().ctype = cardtype;
  // Memory cards are woken by a first read; its outcome does not decide
  // whether the type was set.
  if (cardtype < 0x0C || cardtype > 0x0F) {
    uint8_t d[2];
    mem_read(icdev, 'R', 0, 2, d);
  }
  return 0;
}
int IC_Down(int icdev) {
  uint8_t t = 0x7F;
  int r = ic_send_only(icdev, 'T', &t, 1);
  pause_ms(2000);
  return r;
}
int IC_Pushout(int icdev) {
  uint8_t t = 0xFF;
  return ic_send_only(icdev, 'T', &t, 1);
}
int IC_Beep(int icdev, unsigned char b1, unsigned char b2) {
  uint8_t p[2] = {b1, b2};
  int r = ic_send_only(icdev, 0xC8, p, 2);
  pause_ms(2000);
  return r;
}
int IC_CpuSetProtocol(int icdev, unsigned char protocol) {
  uint8_t p[2] = {protocol, 0x00};
  int r = ic_send_only(icdev, 0xCB, p, 2);
  if (r == 0) {
    ic_state().tpro = protocol == 1 ? 1 : 0;
    ic_state().cpcb = 0x00;
  }
  return r;
}
int IC_Request(int icdev, unsigned char mode, unsigned int* tagtype) {
  uint8_t t[2];
  int r = ic_fixed(icdev, 0xD0, &mode, 1, t, 2);
  if (r == 0 && tagtype != nullptr) *tagtype = t[0] | static_cast<unsigned>(t[1]) << 8;
  return r;
}
int IC_Anticoll(int icdev, unsigned char bcnt, unsigned long* snr) {
  uint8_t s[4];
  int r = ic_fixed(icdev, 0xD1, &bcnt, 1, s, 4);
  if (r == 0 && snr != nullptr) *snr = get_le32(s);
  return r;
}
int IC_Select(int icdev, unsigned long snr, unsigned char* size) {
  uint8_t p[4];
  put_le32(p, snr);
  uint8_t reply[255];
  int r = ic_cmd(icdev, 0xD2, p, 4, reply);
  if (r < 0) return r;
  if (size != nullptr) *size = r > 0 ? reply[0] : 0;
  return 0;
}
int IC_Card(int icdev, unsigned char mode, unsigned long* snr) {
  unsigned int tag;
  int r = IC_Request(icdev, mode, &tag);
  pause_ms(10);
  if (r != 0) return r;
  unsigned long s = 0;
  r = IC_Anticoll(icdev, 0, &s);
  pause_ms(10);
  if (r != 0) return r;
  unsigned char size;
  r = IC_Select(icdev, s, &size);
  pause_ms(10);
  if (r == 0 && snr != nullptr) *snr = s;
  return r;
}
int IC_Authentication(int icdev, unsigned char mode, unsigned char secnr) {
  uint8_t p[2] = {mode, secnr};
  return status_of(ic_cmd(icdev, 0xD3, p, 2, nullptr));
}
int IC_Authentication_Passaddr(int icdev, unsigned char mode, unsigned char block,
                               const unsigned char* key6) {
  if (key6 == nullptr) return kIcBadParam;
  uint8_t p[9];
  p[0] = mode;
  p[1] = block;
  memcpy(p + 2, key6, 6);
  p[8] = 0x00;
  return status_of(ic_cmd(icdev, 0xDD, p, 9, nullptr));
}
int IC_Halt(int icdev) { return status_of(ic_cmd(icdev, 0xD4, nullptr, 0, nullptr)); }
int IC_ReadMifare(int icdev, unsigned char adr, unsigned char* data16) {
  return ic_fixed(icdev, 0xD5, &adr, 1, data16, 16);
}
int IC_WriteMifare(int icdev, unsigned char adr, const unsigned char* data16) {
  if (data16 == nullptr) return kIcBadParam;
  uint8_t p[17];
  p[0] = adr;
  memcpy(p + 1, data16, 16);
  return status_of(ic_cmd(icdev, 0xD6, p, 17, nullptr));
}
int IC_Read_Value(int icdev, unsigned char adr, long* value) {
  uint8_t b[16];
  int r = IC_ReadMifare(icdev, adr, b);
  if (r != 0) return r;
  unsigned long v = get_le32(b);
  // A value block keeps the value, its complement and the value again.
  if (get_le32(b + 4) != (~v & 0xFFFFFFFFul) || get_le32(b + 8) != v) return -1;
  if (value != nullptr) *value = static_cast<long>(static_cast<int32_t>(v));
  return 0;
}
int IC_Init_Value(int icdev, unsigned char adr, long value) {
  unsigned long v = static_cast<unsigned long>(value) & 0xFFFFFFFFul;
  uint8_t b[16];
  put_le32(b, v);
  put_le32(b + 4, ~v & 0xFFFFFFFFul);
  put_le32(b + 8, v);
  b[12] = adr;
  b[13] = static_cast<uint8_t>(~adr);
  b[14] = adr;
  b[15] = static_cast<uint8_t>(~adr);
  return IC_WriteMifare(icdev, adr, b);
}
int IC_Increment(int icdev, unsigned char adr, unsigned long value) {
  return block_value(icdev, 0xD7, adr, value);
}
int IC_Decrement(int icdev, unsigned char adr, unsigned long value) {
  return block_value(icdev, 0xD8, adr, value);
}
int IC_Restore(int icdev, unsigned char adr) { return status_of(ic_cmd(icdev, 0xD9, &adr, 1, nullptr)); }
int IC_Transfer(int icdev, unsigned char adr) { return status_of(ic_cmd(icdev, 0xDA, &adr, 1, nullptr)); }
int IC_Load_Key(int icdev, unsigned char mode, unsigned char secnr, const unsigned char* key6) {
  if (key6 == nullptr) return kIcBadParam;
  uint8_t p[8];
  p[0] = mode;
  p[1] = secnr;
  memcpy(p + 2, key6, 6);
  return status_of(ic_cmd(icdev, 0xDB, p, 8, nullptr));
}
int IC_ResetMifare(int icdev, unsigned short msec) {
  uint8_t p[2];
  put_le16(p, msec);
  return status_of(ic_cmd(icdev, 0xDC, p, 2, nullptr));
}
int IC_Config_Card(int icdev, unsigned char cardtype) {
  return status_of(ic_cmd(icdev, 0xE0, &cardtype, 1, nullptr));
}
int IC_ResetDevice(int icdev) { return status_of(ic_cmd(icdev, 0xFB, nullptr, 0, nullptr)); }
int IC_ReadReaderSnr(int icdev, unsigned char* snr16) {
  return ic_fixed(icdev, 0xFC, nullptr, 0, snr16, 16);
}

int IC_ReadMagCard(int, unsigned char*, unsigned char*) { return PAYTERM_E_NOT_SUPPORTED; }
int IC_PosBeep(int, unsigned char) { return PAYTERM_E_NOT_SUPPORTED; }
int DEV_CommandMcu(int, const unsigned char*, int, unsigned char*, int*) {
  return PAYTERM_E_NOT_SUPPORTED;
}
int SendDevCmd(int, const unsigned char*, int) { return PAYTERM_E_NOT_SUPPORTED; }
