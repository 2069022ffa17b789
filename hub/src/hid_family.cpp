// USB-HID readers through libhidlink: a thin pass-through of the driver's
// status words, and the ID card read frame by frame.
#include <cstdio>
#include <cstring>

#include "family.h"
#include "hidlink.h"
#include "messages.h"

namespace portico {

namespace {

void* dev(int64_t handle) { return reinterpret_cast<void*>(static_cast<intptr_t>(handle)); }

int64_t hidOpen() {
  void* h = HV_open("hid1", 0, nullptr);
  auto v = static_cast<int64_t>(reinterpret_cast<intptr_t>(h));
  if (v <= 0) return -1;
  // A reader that is listed but could not be opened (held by another
  // program) answers nothing: let the next family have its turn.
  if (!static_cast<phvrd_device_t>(h)->dev) return -1;
  return v;
}

int hidClose(int64_t handle, char*) {
  HV_close(dev(handle));
  return 0;
}

void hidSetNad(int64_t handle, uint8_t nad) { HV_set_nad(dev(handle), nad); }

// The driver writes whatever the reader answers; its answer lands here
// first so that the caller's buffer is never overrun.
int hidCpuReset(int64_t handle, int* rlen, uint8_t* atr) {
  if (!rlen || !atr) return int(HV_SW_BAD_RESPONSE);
  uint8_t buf[HV_MAX_REPLY_DATA];
  uint32_t len = UINT32_MAX;
  uint32_t sw = ICC_reset(dev(handle), &len, buf);
  if (len == UINT32_MAX) return int(sw);  // no answer data: rlen stays as it was
  if (len > PORTICO_ATR_SIZE) return int(HV_SW_BAD_RESPONSE);
  std::memcpy(atr, buf, len);
  *rlen = int(len);
  return int(sw);
}

int hidCpuProtocol(int64_t handle, int slen, const uint8_t* sbuf, int* rlen, uint8_t* rbuf) {
  if (slen <= 0 || !sbuf) return int(HV_SW_IO_FAILED);  // as the driver does for an empty command
  if (!rlen || !rbuf) return int(HV_SW_BAD_RESPONSE);
  uint8_t buf[HV_MAX_REPLY_DATA];
  uint32_t len = UINT32_MAX;
  uint32_t sw = ICC_apdu_exchange(dev(handle), uint32_t(slen), sbuf, &len, buf);
  if (len == UINT32_MAX) return int(sw);
  if (len > PORTICO_RESPONSE_SIZE) return int(HV_SW_BAD_RESPONSE);
  std::memcpy(rbuf, buf, len);
  *rlen = int(len);
  return int(sw);
}

// The frames of one ID card read, to the ID-card module (node address 27).
struct IdStep {
  uint8_t bytes[11];
  uint8_t len;
  int failure;
};
const IdStep kIdSteps[] = {
    {{0x00, 0x12, 0x00, 0x00, 0x00}, 5, -3},                                         // power the module
    {{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x12, 0xFF, 0xEE}, 10, -4},          // SAM identity
    {{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x04, 0x61, 0xFF, 0x78, 0xE2}, 11, -5},    // SAM setting 61 FF, 78
    {{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x20, 0x01, 0x22}, 10, -6},          // find a card
    {{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x20, 0x02, 0x21}, 10, -7},          // select it
    {{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x30, 0x01, 0x32}, 10, -1},          // read text and photo
};
constexpr int kIdentityStep = 1;
constexpr int kReadStep = 5;
// A read reply must be longer than this to carry the text block and photo.
constexpr uint32_t kReadReplyMin = 512;

// Every step must give 0x9000 (the SAM status inside the reply is not
// examined); the reader is closed afterwards whatever happened.
int hidIdcardRead(int64_t handle, IdText& out, IdPhoto* photo, char* msg) {
  void* h = dev(handle);
  HV_set_nad(h, NAD_IDCARD);
  uint8_t reply[HV_MAX_REPLY_DATA];
  uint32_t len = 0;
  int rc = 0;
  for (int i = 0; i <= kReadStep && rc == 0; ++i) {
    const IdStep& s = kIdSteps[i];
    len = 0;
    uint32_t sw = ICC_apdu_exchange(h, s.len, s.bytes, &len, reply);
    if (sw != HV_SW_OK && i == kIdentityStep) std::printf("uiRet=%d\n", int(sw));
    if (sw != HV_SW_OK || (i == kReadStep && len <= kReadReplyMin)) {
      putMessage(msg, i == kReadStep ? msgs::kIdReadFailed : msgs::kIdStepFailed);
      rc = s.failure;
    }
  }
  // Both parts are taken before either is handed out: a failed photo
  // leaves the text untouched too.
  IdPhoto taken;
  if (rc == 0 && photo && !takeIdPhoto(reply, len, taken)) {
    putMessage(msg, msgs::kIdReadFailed);
    rc = kIdSteps[kReadStep].failure;
  }
  if (rc == 0 && !decodeIdReply(reply, len, out)) {
    putMessage(msg, msgs::kIdReadFailed);
    rc = kIdSteps[kReadStep].failure;
  }
  if (rc == 0 && photo) *photo = taken;
  HV_close(h);
  return rc;
}

}  // namespace

const ReaderFamily kHidFamily = {PORTICO_DEV_HID, hidOpen,        hidClose,     hidSetNad,
                                 hidCpuReset,     hidCpuProtocol, hidIdcardRead};

}  // namespace portico
