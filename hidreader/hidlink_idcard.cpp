// Resident ID card: the SAM dialogue of the ID-card module and the JSON text.
#include <cJSON.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "elog_internal.h"
#include "hidlink_internal.h"

namespace {

// SAM frames: AA AA AA 96 69, length (2, big-endian), command, parameter,
// XOR checksum of length..parameter; one 00 follows.
using SamFrame = std::array<uint8_t, 12>;
constexpr uint8_t kModulePower[5] = {0x00, 0x12, 0x00, 0x00, 0x00};
constexpr SamFrame kSamIdentity = {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x12, 0xFF, 0xEE, 0x00, 0x00};
constexpr SamFrame kSamFind = {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x20, 0x01, 0x22, 0x00, 0x00};
constexpr SamFrame kSamSelect = {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x20, 0x02, 0x21, 0x00, 0x00};
constexpr SamFrame kSamRead = {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x30, 0x01, 0x32, 0x00, 0x00};

constexpr uint32_t kSamFrameSent = 11;
constexpr uint32_t kSamSw3 = 9;    // offset of SW3 in a reply frame
constexpr uint32_t kSamData = 10;  // offset of the data in a reply frame
constexpr size_t kReplyBuf = 4096;
constexpr size_t kWorkBuf = 4096;
constexpr int kSamLimitRead = 5000;

using Reply = std::array<uint8_t, kReplyBuf>;

// One SAM step: the exchange must succeed and the frame carry sw3.
bool samStep(void *handle, const SamFrame &frame, int limit, uint8_t sw3, Reply &reply, uint32_t &len) {
  len = 0;
  uint32_t sw = hl_exchange(handle, kSamFrameSent, frame.data(), &len, reply.data(), reply.size(), limit);
  // A frame too short to hold SW3 fails instead of reading stale bytes.
  return sw == HV_SW_OK && len > kSamSw3 && reply[kSamSw3] == sw3;
}

constexpr const char *kSexNames[] = {"未知", "男", "女", "未说明"};

// Row n for codes 0..56; codes 97 and 98 use rows 57 and 58.
constexpr const char *kNations[59] = {
    "  ", "汉族", "蒙古族", "回族", "藏族", "维吾尔族", "苗族", "彝族", "壮族", "布依族", "朝鲜族", "满族",
    "侗族", "瑶族", "白族", "土家族", "哈尼族", "哈萨克族", "傣族", "黎族", "傈僳族", "佤族", "畲族",
    "高山族", "拉祜族", "水族", "东乡族", "纳西族", "景颇族", "柯尔克孜族", "土族", "达斡尔族", "仫佬族",
    "羌族", "布朗族", "撒拉族", "毛难族", "仡佬族", "锡伯族", "阿昌族", "普米族", "塔吉克族", "怒族",
    "乌孜别克族", "俄罗斯族", "鄂温克族", "崩龙族", "保安族", "裕固族", "京族", "塔塔尔族", "独龙族",
    "鄂伦春族", "赫哲族", "门巴族", "珞巴族", "基诺族", "其他", "外国血统中国人士",
};

const char *sexName(const char *code) {
  switch (code[0]) {
    case '0': return kSexNames[0];
    case '1': return kSexNames[1];
    case '2': return kSexNames[2];
    case '9': return kSexNames[3];
    default: return "";
  }
}

const char *nationName(const char *code) {
  if (code[0] < '0' || code[0] > '9') return "";
  int value = code[0] - '0';
  if (code[1] >= '0' && code[1] <= '9') value = value * 10 + (code[1] - '0');
  if (value <= 56) return kNations[value];
  if (value == 97) return kNations[57];
  if (value == 98) return kNations[58];
  return "";
}

enum class Field { Name, Sex, Nation, Birth, Address, Id, Dept, Start, End };

struct FieldSpec {
  Field field;
  const char *key;
  size_t offset;
  size_t size;
  bool trim;
};

constexpr FieldSpec kFields[] = {
    {Field::Name, "name", 0, 30, true},          {Field::Sex, "sex", 30, 2, false},
    {Field::Nation, "nations", 32, 4, false},    {Field::Birth, "birthday", 36, 16, false},
    {Field::Address, "address", 52, 70, true},   {Field::Id, "id_num", 122, 36, false},
    {Field::Dept, "department", 158, 30, true},  {Field::Start, "startDate", 188, 16, false},
    {Field::End, "endDate", 204, 16, false},
};

constexpr size_t kFieldMax = 70;

struct JsonDeleter {
  void operator()(cJSON *p) const { cJSON_Delete(p); }
};
struct FreeDeleter {
  void operator()(void *p) const { std::free(p); }
};
struct PrintedDeleter {
  void operator()(char *p) const { cJSON_free(p); }
};

}  // namespace

void idcard_cal_checksum(uint8_t *cmd, size_t cmd_len) {
  if (!cmd || cmd_len < 7) return;
  uint8_t x = 0;
  for (size_t i = 5; i <= cmd_len - 2; i++) x ^= cmd[i];
  cmd[cmd_len - 1] = x;
}

uint32_t Idcard_read_information(void *handle, uint32_t *lenr, uint8_t *resp) {
  if (!lenr || !resp) {
    log_i("%s RET = 0x%04X", __func__, HV_SW_BAD_RESPONSE);
    return HV_SW_BAD_RESPONSE;
  }
  Reply reply{};
  uint32_t len = 0;
  HV_set_nad(handle, uint8_t(Nad::IdCard));

  if (hl_exchange(handle, 5, kModulePower, &len, reply.data(), reply.size(), HL_LIMIT_SHORT) != HV_SW_OK) {
    log_i("%s RET = 0x%04X", __func__, HV_SW_NO_IDCARD_MODULE);
    return HV_SW_NO_IDCARD_MODULE;
  }

  SamFrame identity = kSamIdentity;
  idcard_cal_checksum(identity.data(), kSamFrameSent);

  if (samStep(handle, identity, HL_LIMIT_SHORT, 0x90, reply, len) &&
      samStep(handle, kSamFind, HL_LIMIT_DEFAULT, 0x9F, reply, len) &&
      samStep(handle, kSamSelect, HL_LIMIT_DEFAULT, 0x90, reply, len) &&
      samStep(handle, kSamRead, kSamLimitRead, 0x90, reply, len) && len > kSamData &&
      Idcard_decode(len - kSamData - 1, reply.data() + kSamData, lenr, resp, HV_IDCARD_JSON_SIZE) == 0) {
    log_i("%s END SW = 0x%04X", __func__, HV_SW_OK);
    return HV_SW_OK;
  }
  log_i("%s RET = 0x%04X", __func__, HV_SW_IO_FAILED);
  return HV_SW_IO_FAILED;
}

int Idcard_decode(uint32_t len, const uint8_t *data, uint32_t *lenr, uint8_t *resp, size_t resp_cap) {
  if (!data || !lenr || !resp) return -1;
  size_t textLen = 0, photoLen = 0;
  if (len >= 4) {
    textLen = size_t(data[0]) << 8 | data[1];
    photoLen = size_t(data[2]) << 8 | data[3];
  }
  // Lengths pointing past the reply give empty members.
  const bool textOk = len >= 4 && 4 + textLen <= len;
  const bool photoOk = textOk && 4 + textLen + photoLen <= len;
  const uint8_t *text = data + 4;

  std::unique_ptr<cJSON, JsonDeleter> root(cJSON_CreateObject());
  std::unique_ptr<char, FreeDeleter> photo(
      base64_encode(photoOk ? text + textLen : nullptr, photoOk ? photoLen : 0));
  if (!root || !photo) return -1;
  cJSON_AddStringToObject(root.get(), "ImgBase64", photo.get());

  std::array<char, kWorkBuf> work;
  for (const FieldSpec &f : kFields) {
    std::array<char, kFieldMax + 2> field{};
    const char *value = "";
    // The field plus a UCS-2 NUL, so the converted text ends with one. The
    // work buffer is cleared per field: a failed conversion must not show
    // the previous field's text.
    work.fill(0);
    if (textOk && f.offset + f.size <= textLen) {
      std::memcpy(field.data(), text + f.offset, f.size);
      wstring2string(field.data(), f.size + 2, work.data(), work.size());
      value = work.data();
      if (f.field == Field::Sex)
        value = sexName(work.data());
      else if (f.field == Field::Nation)
        value = nationName(work.data());
      else if (f.trim)
        value = killblank(work.data());
    }
    if (!cJSON_AddStringToObject(root.get(), f.key, value)) return -1;
  }

  std::unique_ptr<char, PrintedDeleter> printed(cJSON_PrintUnformatted(root.get()));
  if (!printed) return -1;
  size_t n = std::strlen(printed.get());
  if (n >= resp_cap) return -1;
  std::memcpy(resp, printed.get(), n + 1);
  *lenr = uint32_t(n);
  return 0;
}
