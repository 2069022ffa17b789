// Fuzz target: the driver's report reassembly, through its commands.
//
// Input: byte 0 picks a command, byte 1 flags (bit 0: one stale report is
// queued before the command; bit 1: verbose log with hex dumps of every
// exchange), then 64-byte input reports that the stand-in reader plays
// back after each command. Outputs are heap buffers of exactly the size the
// header documents, so any write past them is caught.
//
// Checked: a single exchange gives what the framing makes of the reports
// (a model reassembles them independently: sequence numbers, length bytes,
// more-follows bit, the response limit, status word last); fixed-size
// answers never overrun; the ID card read gives NUL-terminated JSON of its
// stated length with the ten members. The pure report codec is checked on
// its own: any command cut into reports reassembles to itself.
#include <cJSON.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "fake_hid.h"
#include "fuzz_check.h"
#include "hidlink_internal.h"

// The log goes nowhere unless the run names a file: set before the
// driver's own load-time set-up reads it.
__attribute__((constructor(101))) static void QuietLog() { setenv("HIDLINK_LOG_FILE", "/dev/null", 0); }

namespace {

void *g_handle = HV_INVALID_HANDLE;

// One response as the framing defines it, from report *next on; false when
// the reports run out or one breaks the framing.
bool ModelResponse(const uint8_t *reports, size_t count, size_t *next, std::vector<uint8_t> *resp) {
  resp->clear();
  for (uint32_t seq = 0;; seq++) {
    if (*next >= count) return false;
    const uint8_t *r = reports + 64 * (*next)++;
    if (r[2] > HV_REPORT_DATA || (r[1] & 0x1F) != (seq & 0x1F)) return false;
    if (resp->size() + r[2] > HV_MAX_RESPONSE) return false;
    resp->insert(resp->end(), r + 3, r + 3 + r[2]);
    if ((r[1] & 0x20) == 0) return true;
  }
}

// Status word and reply data an exchange must give for the reports from
// *next on (cap: room for the reply data).
uint32_t ModelNext(const uint8_t *reports, size_t count, size_t *next, size_t cap,
                   std::vector<uint8_t> *data) {
  std::vector<uint8_t> resp;
  data->clear();
  if (!ModelResponse(reports, count, next, &resp)) return HV_SW_IO_FAILED;
  if (resp.size() < 2) return HV_SW_BAD_RESPONSE;
  if (resp.size() - 2 > cap) return HV_SW_BAD_RESPONSE;
  data->assign(resp.begin(), resp.end() - 2);
  return static_cast<uint32_t>(resp[resp.size() - 2]) << 8 | resp.back();
}

// The same for a command's single exchange (a stale report is drained first).
uint32_t ModelExchange(const uint8_t *reports, size_t count, bool stale, size_t cap,
                       std::vector<uint8_t> *data) {
  size_t next = stale ? 1 : 0;
  return ModelNext(reports, count, &next, cap, data);
}

void CheckIdcardJson(const uint8_t *resp, uint32_t len) {
  FUZZ_CHECK(len < HV_IDCARD_JSON_SIZE && resp[len] == 0 && strlen(reinterpret_cast<const char *>(resp)) == len);
  cJSON *root = cJSON_Parse(reinterpret_cast<const char *>(resp));
  FUZZ_CHECK(root != nullptr && cJSON_IsObject(root));
  static const char *const kMembers[] = {"ImgBase64", "name",    "sex",        "nations",   "birthday",
                                         "address",   "id_num",  "department", "startDate", "endDate"};
  FUZZ_CHECK(cJSON_GetArraySize(root) == 10);
  for (const char *m : kMembers) FUZZ_CHECK(cJSON_IsString(cJSON_GetObjectItemCaseSensitive(root, m)));
  cJSON_Delete(root);
}

// Any command cut into reports by the encoder comes back whole.
void CheckCodec(const uint8_t *cmd, size_t len, uint8_t nad) {
  std::vector<uint8_t> back(len);
  hl_rx_t rx;
  hl_rx_start(&rx, back.data(), back.size());
  uint8_t report[HV_REPORT_SIZE];
  size_t i = 0, total = 0;
  int st = HL_RX_MORE;
  for (size_t n; (n = hl_build_report(report, nad, cmd, len, i)) > 0; i++) {
    FUZZ_CHECK(st == HL_RX_MORE && report[0] == nad && report[2] == n);
    total += n;
    st = hl_rx_feed(&rx, report);
  }
  FUZZ_CHECK(total == len && i == (len + HV_REPORT_DATA - 1) / HV_REPORT_DATA);
  if (len == 0) return;
  FUZZ_CHECK(st == HL_RX_DONE && rx.len == len && memcmp(back.data(), cmd, len) == 0);
  // One byte less room: the last report no longer fits.
  if (len > 1) {
    hl_rx_start(&rx, back.data(), len - 1);
    st = HL_RX_MORE;
    for (size_t k = 0; k < i && st == HL_RX_MORE; k++) {
      hl_build_report(report, nad, cmd, len, k);
      st = hl_rx_feed(&rx, report);
    }
    FUZZ_CHECK(st == HL_RX_OVERFLOW && rx.len <= len - 1);
  }
}

// memcmp that accepts empty ranges (whose pointers may be null).
bool Same(const uint8_t *a, const uint8_t *b, size_t n) { return n == 0 || memcmp(a, b, n) == 0; }

template <typename T>
T *Exact(std::vector<T> &v, size_t n) {
  v.assign(n, 0);
  return v.data();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***) {
  // ID-card text conversion failures are reported on standard output:
  // dropped under libFuzzer (which passes its arguments), kept in the
  // corpus replay.
  if (argc != nullptr && freopen("/dev/null", "w", stdout) == nullptr) return 0;
  fakehid::script(nullptr, 0, false);
  g_handle = HV_open("hid", 0, nullptr);
  FUZZ_CHECK(g_handle != HV_INVALID_HANDLE);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (g_handle == HV_INVALID_HANDLE) LLVMFuzzerInitialize(nullptr, nullptr);
  if (size < 2) return 0;
  const uint8_t op = data[0], flags = data[1];
  CheckCodec(data + 2, size - 2, op);

  // Reports in a buffer of their own exact size.
  const size_t count = (size - 2) / 64;
  std::vector<uint8_t> reports(data + 2, data + 2 + 64 * count);
  const bool stale = flags & 1;
  fakehid::script(reports.data(), count, stale);
  HV_set_debug_level(flags & 2 ? HV_DEBUG_LVL_VERBOSE : HV_DEBUG_LVL_ERROR);
  HV_set_nad(g_handle, NAD_ICCARD);

  std::vector<uint8_t> buf, model;
  uint32_t len = 0xA5A5A5A5u;
  switch (op % 10) {
    case 0: {
      uint32_t sw = Idcard_read_information(g_handle, &len, Exact(buf, HV_IDCARD_JSON_SIZE));
      FUZZ_CHECK(sw == HV_SW_OK || sw == HV_SW_IO_FAILED || sw == HV_SW_NO_IDCARD_MODULE);
      if (sw == HV_SW_OK) CheckIdcardJson(buf.data(), len);
      FUZZ_CHECK(g_NAD == NAD_IDCARD);
      break;
    }
    case 1: {
      static const uint8_t kSelect[] = {0x00, 0xA4, 0x04, 0x00, 0x02, 0x3F, 0x00};
      uint32_t sw = ICC_apdu_exchange(g_handle, sizeof kSelect, kSelect, &len, Exact(buf, HV_MAX_REPLY_DATA));
      FUZZ_CHECK(sw == ModelExchange(reports.data(), count, stale, HV_MAX_REPLY_DATA, &model));
      if (sw != HV_SW_IO_FAILED && sw != HV_SW_BAD_RESPONSE)
        FUZZ_CHECK(len == model.size() && Same(buf.data(), model.data(), len));
      FUZZ_CHECK(fakehid::commands() == 1);
      break;
    }
    case 2: {
      // Memory-card read into exactly the count asked for.
      const uint32_t want = flags >> 2;
      uint32_t sw = ICC_logic_read(g_handle, 0x20, want, Exact(buf, want));
      FUZZ_CHECK(sw == ModelExchange(reports.data(), count, stale, want, &model));
      if (sw != HV_SW_IO_FAILED && sw != HV_SW_BAD_RESPONSE)
        FUZZ_CHECK(model.size() <= want && Same(buf.data(), model.data(), model.size()));
      break;
    }
    case 3: {
      uint32_t sw = Mifare1_Read(g_handle, 4, Exact(buf, 16));
      FUZZ_CHECK(sw == ModelExchange(reports.data(), count, stale, 16, &model));
      FUZZ_CHECK(g_NAD == NAD_ICCARD);
      break;
    }
    case 4: {
      uint8_t type = 0xEE;
      uint32_t sw = ICC_get_card_type(g_handle, &type);
      FUZZ_CHECK(sw == ModelExchange(reports.data(), count, stale, HV_REPORT_SIZE, &model));
      // The model's data stay empty whenever the reply is refused (a card's
      // own status word may equal the driver's codes).
      FUZZ_CHECK(type == (model.empty() ? 0 : model[0]));
      break;
    }
    case 5: {
      uint32_t sw = Magcard_get_track_data(g_handle, 2, &len, Exact(buf, HV_MAX_REPLY_DATA));
      FUZZ_CHECK(sw == ModelExchange(reports.data(), count, stale, HV_MAX_REPLY_DATA, &model));
      break;
    }
    case 6: {
      uint32_t sw = Barcode_start_scan(g_handle, &len, Exact(buf, HV_MAX_REPLY_DATA), 0);
      FUZZ_CHECK(sw == ModelExchange(reports.data(), count, stale, HV_MAX_REPLY_DATA, &model));
      break;
    }
    case 7: {
      uint32_t sw = HV_get_application_version(g_handle, &len, Exact(buf, HV_MAX_REPLY_DATA));
      FUZZ_CHECK(sw == ModelExchange(reports.data(), count, stale, HV_MAX_REPLY_DATA, &model));
      break;
    }
    case 8: {
      // Two exchanges without reply data: the stripe is armed, then swiped.
      uint32_t sw = Magcard_start_swip(g_handle, 0);
      size_t next = stale ? 1 : 0;
      uint32_t want = ModelNext(reports.data(), count, &next, 0, &model);
      if (want == HV_SW_OK) want = ModelNext(reports.data(), count, &next, 0, &model);
      FUZZ_CHECK(sw == want);
      FUZZ_CHECK(g_NAD == NAD_ICCARD);
      break;
    }
    default: {
      uint32_t sw = ICC_reset(g_handle, &len, Exact(buf, HV_MAX_REPLY_DATA));
      FUZZ_CHECK(sw == ModelExchange(reports.data(), count, stale, HV_MAX_REPLY_DATA, &model));
      break;
    }
  }
  return 0;
}
