// Fuzz target: the ID-card decode of the driver (Idcard_decode).
//
// The input is the data of the module's read reply: text length and photo
// length (two bytes each, big-endian), the UCS-2LE text fields, the photo.
// Checked: the JSON text is NUL-terminated at its stated length and parses
// with its ten string members; "ImgBase64" is the photo's base64 when both
// lengths lie inside the reply and empty otherwise; fields beyond the text
// are empty; the text needs exactly its length plus the NUL of room (one
// byte less fails and leaves the output alone).
#include <cJSON.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_check.h"
#include "hidlink_internal.h"

__attribute__((constructor(101))) static void QuietLog() { setenv("HIDLINK_LOG_FILE", "/dev/null", 0); }

namespace {

std::string Base64(const uint8_t *p, size_t n) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < n; i += 3) {
    uint32_t v = static_cast<uint32_t>(p[i]) << 16;
    if (i + 1 < n) v |= static_cast<uint32_t>(p[i + 1]) << 8;
    if (i + 2 < n) v |= p[i + 2];
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += i + 1 < n ? kAlphabet[v >> 6 & 63] : '=';
    out += i + 2 < n ? kAlphabet[v & 63] : '=';
  }
  return out;
}

const char *Member(cJSON *root, const char *name) {
  cJSON *item = cJSON_GetObjectItemCaseSensitive(root, name);
  FUZZ_CHECK(cJSON_IsString(item));
  return item->valuestring;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***) {
  // Conversion failures are reported on standard output: dropped under
  // libFuzzer (which passes its arguments), kept in the corpus replay.
  if (argc != nullptr && freopen("/dev/null", "w", stdout) == nullptr) return 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
  std::vector<uint8_t> reply(data, data + size);  // exactly the reply's bytes
  std::vector<uint8_t> out(HV_IDCARD_JSON_SIZE, 0xEE);
  uint32_t len = 0xA5A5A5A5u;
  int rc = Idcard_decode(static_cast<uint32_t>(size), reply.data(), &len, out.data(), out.size());
  if (rc != 0) {
    FUZZ_CHECK(rc == -1 && len == 0xA5A5A5A5u);
    return 0;
  }
  FUZZ_CHECK(len < out.size() && out[len] == 0 && strlen(reinterpret_cast<char *>(out.data())) == len);

  size_t text_len = size >= 4 ? (static_cast<size_t>(data[0]) << 8 | data[1]) : 0;
  size_t photo_len = size >= 4 ? (static_cast<size_t>(data[2]) << 8 | data[3]) : 0;
  bool text_ok = size >= 4 && 4 + text_len <= size;
  bool photo_ok = text_ok && 4 + text_len + photo_len <= size;

  cJSON *root = cJSON_Parse(reinterpret_cast<char *>(out.data()));
  FUZZ_CHECK(root != nullptr && cJSON_IsObject(root) && cJSON_GetArraySize(root) == 10);
  FUZZ_CHECK(Member(root, "ImgBase64") == (photo_ok ? Base64(data + 4 + text_len, photo_len) : ""));
  static const struct {
    const char *name;
    size_t end;  // the field's last byte + 1 in the text
  } kFields[] = {{"name", 30},       {"sex", 32},         {"nations", 36},     {"birthday", 52},
                 {"address", 122},   {"id_num", 158},     {"department", 188}, {"startDate", 204},
                 {"endDate", 220}};
  for (const auto &f : kFields) {
    const char *v = Member(root, f.name);
    if (!text_ok || f.end > text_len) FUZZ_CHECK(v[0] == '\0');
  }
  const std::string sex = Member(root, "sex");
  FUZZ_CHECK(sex.empty() || sex == "未知" || sex == "男" || sex == "女" || sex == "未说明");
  cJSON_Delete(root);

  // Room for the text and its NUL is enough; one byte less is not.
  std::vector<uint8_t> exact(len + 1, 0xEE), tight(len, 0xEE);
  uint32_t len2 = 0;
  FUZZ_CHECK(Idcard_decode(static_cast<uint32_t>(size), reply.data(), &len2, exact.data(), exact.size()) == 0);
  FUZZ_CHECK(len2 == len && memcmp(exact.data(), out.data(), len + 1) == 0);
  uint32_t len3 = 0xA5A5A5A5u;
  FUZZ_CHECK(Idcard_decode(static_cast<uint32_t>(size), reply.data(), &len3, tight.data(), tight.size()) == -1);
  FUZZ_CHECK(len3 == 0xA5A5A5A5u);
  for (uint8_t b : tight) FUZZ_CHECK(b == 0xEE);
  return 0;
}
