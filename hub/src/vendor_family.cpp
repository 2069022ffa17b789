// Readers of the vendor SDK libdcrf32: node addresses become SDK slots,
// 61 xx answers are completed here, and the SDK reads and parses ID cards.
#include <cstdlib>
#include <cstring>

#include "Qmxtool.h"
#include "dcrf32.h"
#include "family.h"
#include "messages.h"

namespace portico {

namespace {

// The SDK takes the low 32 bits of the handle as its device number.
int dev(int64_t handle) { return static_cast<int>(handle); }

constexpr size_t kSdkBuffer = 1024;  // what the SDK may write for one answer
constexpr unsigned kSwOk = 0x9000;

int64_t vendorOpen() { return dc_init(100, 0); }

int vendorClose(int64_t handle, char*) {
  dc_exit(dev(handle));
  return 0;
}

// Node addresses 0, 19, 20 and 26-28 have no slot on these readers: the
// SDK keeps the slot selected last, and IsDcFeiJie keeps its value.
void vendorSetNad(int64_t handle, uint8_t nad) {
  uint8_t slot;
  switch (nad) {
    case 18: slot = 0x0C; break;
    case 21: IsDcFeiJie = 1; return;
    case 22: slot = 0x0D; break;
    case 23: slot = 0x0E; break;
    case 24: slot = 0x0F; break;
    case 25: slot = 0x11; break;
    default: return;
  }
  dc_setcpu(dev(handle), slot);
  IsDcFeiJie = 0;
}

int vendorCpuReset(int64_t handle, int* rlen, uint8_t* atr) {
  if (!rlen || !atr) return PORTICO_ERR_LENGTH;
  unsigned char len = 0;
  uint8_t buf[256];  // the length is one byte: the SDK cannot write more
  short r = IsDcFeiJie ? dc_pro_reset(dev(handle), &len, buf) : dc_cpureset(dev(handle), &len, buf);
  if (r != 0) return r;
  if (len > PORTICO_ATR_SIZE) return PORTICO_ERR_LENGTH;
  std::memcpy(atr, buf, len);
  *rlen = len;
  return int(kSwOk);
}

// One command on the interface IsDcFeiJie selects.
short send(int d, uint8_t slen, const uint8_t* cmd, unsigned char* len, uint8_t* out) {
  auto* c = const_cast<uint8_t*>(cmd);  // the SDK takes non-const buffers and does not write them
  return IsDcFeiJie ? dc_pro_command(d, slen, c, len, out, 7) : dc_cpuapdu(d, slen, c, len, out);
}

unsigned statusOf(const uint8_t* r, unsigned len) { return unsigned(r[len - 2]) << 8 | r[len - 1]; }

int vendorCpuProtocol(int64_t handle, int slen, const uint8_t* sbuf, int* rlen, uint8_t* rbuf) {
  if (slen < 1 || slen > 255 || !sbuf || !rlen || !rbuf) return PORTICO_ERR_SEND;
  int d = dev(handle);
  uint8_t buf[kSdkBuffer];
  unsigned char len = 0;
  if (send(d, uint8_t(slen), sbuf, &len, buf) != 0) return PORTICO_ERR_SEND;
  *rlen = len;
  if (len < 2) return PORTICO_ERR_LENGTH;
  unsigned sw = statusOf(buf, len);
  if ((sw & 0xFF00) == 0x6100) {
    // Fetched from the card that announced it: over the contactless
    // interface too, where a contact call would ask another card.
    const uint8_t getResponse[5] = {0x00, 0xC0, 0x00, 0x00, uint8_t(sw & 0xFF)};
    if (send(d, sizeof getResponse, getResponse, &len, buf) != 0) return PORTICO_ERR_GET_RESPONSE;
    *rlen = len;
    if (len < 2) return PORTICO_ERR_LENGTH;
    if (statusOf(buf, len) != kSwOk) return PORTICO_ERR_GR_STATUS;
  } else if (sw != kSwOk) {
    return PORTICO_ERR_STATUS;
  }
  *rlen = len - 2;
  std::memcpy(rbuf, buf, len - 2u);  // a one-byte length: at most 253 data bytes
  return int(kSwOk);
}

// ---------------------------------------------------------------- ID card

constexpr size_t kText = 256, kPhoto = 1024, kFingerprint = 1024, kExtra = 4096;
constexpr size_t kTypeOffset = 248;  // UCS-2 card-type character
constexpr size_t kWork = 256;        // each parse output; above every SDK minimum

enum class CardKind { Resident, Foreigner, HkMoTw };

CardKind kindOf(const uint8_t* text, unsigned len) {
  if (len < kTypeOffset + 2 || text[kTypeOffset + 1] != 0) return CardKind::Resident;
  if (text[kTypeOffset] == 'I') return CardKind::Foreigner;
  if (text[kTypeOffset] == 'J') return CardKind::HkMoTw;
  return CardKind::Resident;
}

struct Work {
  unsigned char b[12][kWork];
  unsigned char reserved[1024];
};

void put(char* dst, size_t cap, const unsigned char* src) {
  const char* s = reinterpret_cast<const char*>(src);
  copyText(dst, cap, s, strnlen(s, kWork), Charset::Utf8);
}
template <size_t N>
void put(char (&dst)[N], const unsigned char* src) {
  put(dst, N, src);
}

// The SDK's translation of a sex code; the hub's own names when it has none.
void putSex(int d, IdText& t, unsigned char* code) {
  unsigned char named[kWork] = {0};
  if (dc_ParseOtherInfo(d, 32, code, named) == 0) return put(t.sex, named);
  const char* s = sexName(reinterpret_cast<char*>(code));
  copyText(t.sex, s, std::strlen(s), Charset::Utf8);
}

int vendorIdcardRead(int64_t handle, IdText& out, IdPhoto* photoOut, char* msg) {
  int d = dev(handle);
  uint8_t text[kText] = {0}, photo[kPhoto], fp[kFingerprint], extra[kExtra];
  unsigned int textLen = 0, photoLen = 0, fpLen = 0, extraLen = 0;
  if (dc_SamAReadCardInfo(d, 3, &textLen, text, &photoLen, photo, &fpLen, fp, &extraLen, extra) != 0 ||
      textLen > kText || (photoOut && photoLen > kPhoto)) {
    putMessage(msg, msgs::kVendorIdFailed);
    return -1;
  }
  Work w{};
  auto b = [&w](int i) { return w.b[i]; };
  IdText t{};
  unsigned char translated[kWork] = {0};
  short r = -1;
  switch (kindOf(text, textLen)) {
    case CardKind::Resident:
      // name sex nation birth address number authority start end
      r = dc_ParseTextInfo(d, 2, textLen, text, b(0), b(1), b(2), b(3), b(4), b(5), b(6), b(7), b(8), w.reserved);
      if (r != 0) break;
      put(t.name, b(0));
      putSex(d, t, b(1));
      if (dc_ParseOtherInfo(d, 33, b(2), translated) == 0) {
        put(t.nation, translated);
      } else {
        char scratch[8] = "", name[64] = "";
        CodeTranslate(2, std::atoi(reinterpret_cast<char*>(b(2))), scratch, name);
        copyText(t.nation, name, std::strlen(name), Charset::Utf8);
      }
      put(t.birth, b(3));
      put(t.address, b(4));
      put(t.number, b(5));
      put(t.authority, b(6));
      put(t.validStart, b(7));
      put(t.validEnd, b(8));
      break;
    case CardKind::Foreigner:
      // English name, sex, number, country, Chinese name, start, end, birth,
      // card version, authority code, card type
      r = dc_ParseTextInfoForForeigner(d, 2, textLen, text, b(0), b(1), b(2), b(3), b(4), b(5), b(6), b(7),
                                       b(8), b(9), b(10), w.reserved);
      if (r != 0) break;
      put(t.name, b(4)[0] ? b(4) : b(0));
      putSex(d, t, b(1));
      put(t.nation, dc_ParseOtherInfo(d, 34, b(3), translated) == 0 ? translated : b(3));
      put(t.birth, b(7));
      put(t.number, b(2));
      put(t.authority, b(9));
      put(t.validStart, b(5));
      put(t.validEnd, b(6));
      break;
    case CardKind::HkMoTw:
      // name, sex, birth, address, number, authority, start, end, pass
      // number, issue count, card type
      r = dc_ParseTextInfoForHkMoTw(d, 2, textLen, text, b(0), b(1), b(2), b(3), b(4), b(5), b(6), b(7), b(8),
                                    b(9), b(10), w.reserved);
      if (r != 0) break;
      put(t.name, b(0));
      putSex(d, t, b(1));
      put(t.birth, b(2));
      put(t.address, b(3));
      put(t.number, b(4));
      put(t.authority, b(5));
      put(t.validStart, b(6));
      put(t.validEnd, b(7));
      break;
  }
  if (r != 0) {
    putMessage(msg, msgs::kVendorIdFailed);
    return -1;
  }
  out = t;
  if (photoOut) {
    std::memcpy(photoOut->bytes, photo, photoLen);
    photoOut->len = photoLen;
  }
  return 0;
}

}  // namespace

const ReaderFamily kVendorFamily = {PORTICO_DEV_VENDOR, vendorOpen,        vendorClose,     vendorSetNad,
                                    vendorCpuReset,     vendorCpuProtocol, vendorIdcardRead};

}  // namespace portico
