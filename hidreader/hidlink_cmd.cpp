// Card, memory-card, Mifare, magnetic-stripe and barcode commands.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "elog_internal.h"
#include "hidlink_internal.h"

namespace {

using Header = std::array<uint8_t, 5>;
constexpr Header kIccReset = {0x00, 0x12, 0x00, 0x00, 0x00};
constexpr Header kIccPresent = {0x80, 0x17, 0x00, 0x00, 0x01};
constexpr Header kIccPowerOff = {0x00, 0x15, 0x00, 0x00, 0x00};
constexpr Header kIccCardType = {0x00, 0x59, 0x00, 0x00, 0x01};
constexpr Header kLogicRead = {0x00, 0xB0, 0x00, 0x00, 0x00};
constexpr Header kLogicWrite = {0x00, 0xD0, 0x00, 0x00, 0x00};
constexpr Header kLogicVerify = {0x00, 0x20, 0x00, 0x00, 0x00};
constexpr Header kLogicModify = {0x00, 0x24, 0x00, 0x00, 0x00};
constexpr Header kLogicTryTime = {0xB0, 0x17, 0x20, 0x20, 0x01};
constexpr Header kMifareReset = {0x80, 0x11, 0x09, 0x00, 0x00};
constexpr Header kMifareVerify = {0x80, 0x11, 0x02, 0x00, 0x08};
constexpr Header kMifareRead = {0x80, 0x11, 0x03, 0x00, 0x01};
constexpr Header kMifareWrite = {0x80, 0x11, 0x04, 0x00, 0x11};
constexpr Header kMifareInit = {0x80, 0x11, 0x05, 0x00, 0x05};
constexpr Header kMifareIncrease = {0x80, 0x11, 0x06, 0x00, 0x05};
constexpr Header kMifareDecrease = {0x80, 0x11, 0x07, 0x00, 0x05};
constexpr Header kStripeMode = {0x00, 0x19, 0x06, 0x00, 0x00};
constexpr Header kStripeWait = {0x00, 0x19, 0x20, 0x00, 0x00};
constexpr Header kStripeData = {0x00, 0xB0, 0x00, 0x00, 0x00};
constexpr Header kStripeClear = {0x00, 0x19, 0x21, 0x00, 0x00};
constexpr Header kScan = {0x00, 0xB0, 0x00, 0x00, 0x00};
constexpr Header kScanInterval = {0xB0, 0xD0, 0x00, 0x00, 0x00};

constexpr size_t kMemcardBuf = 4096;
constexpr uint32_t kMemcardMaxData = kMemcardBuf - 5;
constexpr size_t kMifareBlock = 16;
constexpr uint32_t kIntervalMax = 9999;

// A command of N bytes that begins with a header.
template <size_t N>
std::array<uint8_t, N> command(const Header &h) {
  std::array<uint8_t, N> c{};
  std::copy(h.begin(), h.end(), c.begin());
  return c;
}

uint32_t done(const char *func, uint32_t sw) {
  log_i("%s END SW = 0x%04X", func, sw);
  return sw;
}

// Input that cannot be sent as asked: nothing goes out.
uint32_t refused(const char *func, const char *why) {
  log_e("%s refused: %s", func, why);
  return done(func, HV_SW_IO_FAILED);
}

// The card interfaces: user card, ESAM, TSAM, the contactless antenna (0x15:
// a contactless card is opened with the same reset) and PSAM 1-4.
bool currentNadIsCardSlot() { return g_NAD >= uint8_t(Nad::IcCard) && g_NAD <= uint8_t(Nad::Psam4); }

// One-byte answers: the first byte of a zeroed reply buffer, so a failed
// exchange gives 0.
uint32_t byteQuery(void *handle, const Header &cmd, uint8_t *out) {
  std::array<uint8_t, HV_REPORT_SIZE> reply{};
  uint32_t len = 0;
  uint32_t sw = hl_exchange_with_nad(handle, Nad::IcCard, 5, cmd.data(), &len, reply.data(), reply.size(),
                                     HL_LIMIT_DEFAULT);
  if (out) *out = reply[0];
  return sw;
}

// Memory-card commands carrying data: header, then the data.
uint32_t memcardSend(const char *func, void *handle, const Header &header, uint32_t offset, uint32_t lenw,
                     const uint8_t *data) {
  if (offset > 0xFFFF) return refused(func, "offset above 0xFFFF");
  if (lenw > kMemcardMaxData) return refused(func, "more than 4091 data bytes");
  if (lenw > 0 && !data) return refused(func, "no data");
  auto cmd = command<kMemcardBuf>(header);
  cmd[2] = uint8_t(cmd[2] | (offset >> 8));
  cmd[3] = uint8_t(cmd[3] | offset);
  cmd[4] = uint8_t(lenw);
  if (lenw > 0) std::memcpy(cmd.data() + 5, data, lenw);
  return done(func, apdu_exchange_with_nad(handle, Nad::IcCard, lenw + 5, cmd.data(), nullptr, nullptr,
                                           HL_LIMIT_DEFAULT));
}

// Value commands: block, then the amount least significant byte first.
uint32_t mifareValue(void *handle, const Header &header, uint8_t block, uint32_t amount) {
  auto cmd = command<10>(header);
  cmd[5] = block;
  for (int i = 0; i < 4; i++) cmd[6 + i] = uint8_t(amount >> (8 * i));
  return apdu_exchange_with_nad(handle, Nad::Rfid, cmd.size(), cmd.data(), nullptr, nullptr, HL_LIMIT_DEFAULT);
}

}  // namespace

uint32_t ICC_reset(void *handle, uint32_t *lenr, uint8_t *resp) {
  if (!currentNadIsCardSlot()) return done(__func__, HV_SW_BAD_NAD);
  return done(__func__, apdu_exchange(handle, 5, kIccReset.data(), lenr, resp, HL_LIMIT_DEFAULT));
}

uint32_t ICC_present(void *handle) {
  return done(__func__,
              apdu_exchange_with_nad(handle, Nad::IcCard, 5, kIccPresent.data(), nullptr, nullptr, HL_LIMIT_DEFAULT));
}

uint32_t ICC_power_off(void *handle) {
  if (!currentNadIsCardSlot()) return done(__func__, HV_SW_BAD_NAD);
  return done(__func__, apdu_exchange(handle, 5, kIccPowerOff.data(), nullptr, nullptr, HL_LIMIT_DEFAULT));
}

uint32_t ICC_get_card_type(void *handle, uint8_t *type) {
  return done(__func__, byteQuery(handle, kIccCardType, type));
}

uint32_t ICC_logic_get_try_time(void *handle, uint8_t *trytime) {
  return done(__func__, byteQuery(handle, kLogicTryTime, trytime));
}

uint32_t ICC_logic_read(void *handle, uint32_t offset, uint32_t lenr, uint8_t *resp) {
  if (offset > 0xFFFF) return refused(__func__, "offset above 0xFFFF");
  Header cmd = kLogicRead;
  cmd[2] = uint8_t(offset >> 8);
  cmd[3] = uint8_t(offset);
  cmd[4] = uint8_t(lenr);
  uint32_t len = 0;
  return done(__func__, hl_exchange_with_nad(handle, Nad::IcCard, 5, cmd.data(), &len, resp, resp ? lenr : 0,
                                             HL_LIMIT_DEFAULT));
}

uint32_t ICC_logic_write(void *handle, uint32_t offset, uint32_t lenw, const uint8_t *data) {
  return memcardSend(__func__, handle, kLogicWrite, offset, lenw, data);
}

uint32_t ICC_logic_verify(void *handle, uint32_t lenw, const uint8_t *pin) {
  return memcardSend(__func__, handle, kLogicVerify, 0, lenw, pin);
}

uint32_t ICC_logic_modify(void *handle, uint32_t lenw, const uint8_t *pin) {
  return memcardSend(__func__, handle, kLogicModify, 0, lenw, pin);
}

uint32_t Mifare1_Reset(void *handle, uint32_t *lenr, uint8_t *resp) {
  return done(__func__,
              apdu_exchange_with_nad(handle, Nad::Rfid, 5, kMifareReset.data(), lenr, resp, HL_LIMIT_DEFAULT));
}

uint32_t Mifare1_Verify(void *handle, uint8_t BlockNum, bool bKeyType, const uint8_t *uKey) {
  if (!uKey) return refused(__func__, "no key");
  auto cmd = command<13>(kMifareVerify);
  cmd[5] = bKeyType ? 0x60 : 0x61;
  cmd[6] = BlockNum;
  std::memcpy(cmd.data() + 7, uKey, 6);
  return done(__func__, apdu_exchange_with_nad(handle, Nad::Rfid, cmd.size(), cmd.data(), nullptr, nullptr,
                                               HL_LIMIT_DEFAULT));
}

uint32_t Mifare1_Read(void *handle, uint8_t BlockNum, uint8_t *resp) {
  auto cmd = command<6>(kMifareRead);
  cmd[5] = BlockNum;
  uint32_t len = 0;
  return done(__func__, hl_exchange_with_nad(handle, Nad::Rfid, cmd.size(), cmd.data(), &len, resp, kMifareBlock,
                                             HL_LIMIT_DEFAULT));
}

uint32_t Mifare1_Write(void *handle, uint8_t BlockNum, const uint8_t *uData) {
  if (!uData) return refused(__func__, "no data");
  auto cmd = command<6 + kMifareBlock>(kMifareWrite);
  cmd[5] = BlockNum;
  std::memcpy(cmd.data() + 6, uData, kMifareBlock);
  return done(__func__, apdu_exchange_with_nad(handle, Nad::Rfid, cmd.size(), cmd.data(), nullptr, nullptr,
                                               HL_LIMIT_DEFAULT));
}

uint32_t Mifare1_InitAmount(void *handle, uint8_t BlockNum, uint32_t uAmount) {
  return done(__func__, mifareValue(handle, kMifareInit, BlockNum, uAmount));
}

uint32_t Mifare1_IncreaseAmount(void *handle, uint8_t BlockNum, uint32_t uAmount) {
  return done(__func__, mifareValue(handle, kMifareIncrease, BlockNum, uAmount));
}

uint32_t Mifare1_DecreaseAmount(void *handle, uint8_t BlockNum, uint32_t uAmount) {
  return done(__func__, mifareValue(handle, kMifareDecrease, BlockNum, uAmount));
}

uint32_t Mifare1_Halt(void *handle) {
  apdu_exchange_with_nad(handle, Nad::Rfid, 5, kIccPowerOff.data(), nullptr, nullptr, HL_LIMIT_SHORT);
  return done(__func__, HV_SW_OK);
}

uint32_t Magcard_start_swip(void *handle, uint32_t timeout) {
  Header cmd = kStripeMode;
  cmd[3] = 0x01;
  uint32_t sw = apdu_exchange_with_nad(handle, Nad::MCard, 5, cmd.data(), nullptr, nullptr, HL_LIMIT_DEFAULT);
  if (sw == HV_SW_OK) {
    cmd = kStripeWait;
    cmd[3] = uint8_t(timeout);
    sw = apdu_exchange_with_nad(handle, Nad::MCard, 5, cmd.data(), nullptr, nullptr, hl_wait_limit(timeout));
  }
  return done(__func__, sw);
}

uint32_t Magcard_get_track_data(void *handle, uint8_t track, uint32_t *lenr, uint8_t *resp) {
  Header cmd = kStripeData;
  cmd[2] = track;
  return done(__func__, apdu_exchange_with_nad(handle, Nad::MCard, 5, cmd.data(), lenr, resp, HL_LIMIT_DEFAULT));
}

uint32_t Magcard_clear_data(void *handle) {
  return done(__func__,
              apdu_exchange_with_nad(handle, Nad::MCard, 5, kStripeClear.data(), nullptr, nullptr, HL_LIMIT_DEFAULT));
}

uint32_t Barcode_start_scan(void *handle, uint32_t *lenr, uint8_t *resp, uint32_t timeout) {
  Header cmd = kScan;
  cmd[3] = uint8_t(timeout);
  return done(__func__,
              apdu_exchange_with_nad(handle, Nad::Barcode, 5, cmd.data(), lenr, resp, hl_wait_limit(timeout)));
}

uint32_t Barcode_set_interval(void *handle, uint32_t interval) {
  // 5 header bytes and 14 characters; snprintf's NUL lands in the spare
  // byte and is not sent.
  auto cmd = command<5 + 15>(kScanInterval);
  std::snprintf(reinterpret_cast<char *>(cmd.data()) + 5, 15, "FP-3N010=%04u;",
                unsigned(std::min(interval, kIntervalMax)));
  return done(__func__, apdu_exchange_with_nad(handle, Nad::Barcode, 19, cmd.data(), nullptr, nullptr, HL_LIMIT_SHORT));
}
