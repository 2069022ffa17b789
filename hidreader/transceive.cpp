// Report framing and the transport over hidapi.
#include "transceive.h"

#include <hidapi.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>

#include "elog_internal.h"

namespace {

using Report = std::array<uint8_t, HV_REPORT_SIZE>;

hid_device *hid(void *dev) { return static_cast<hid_device *>(dev); }

int64_t nowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

size_t hl_build_report(uint8_t *report, uint8_t nad, const uint8_t *cmd, size_t len, size_t index) {
  if (!report || !cmd || index >= (len + HV_REPORT_DATA - 1) / HV_REPORT_DATA) return 0;
  size_t offset = index * HV_REPORT_DATA;
  size_t left = len - offset;
  size_t n = std::min<size_t>(left, HV_REPORT_DATA);

  report[0] = nad;
  report[1] = uint8_t((index & HL_CTRL_SEQ_MASK) | (left > HV_REPORT_DATA ? HL_CTRL_MORE : 0) |
                      ((index & 1) ? HL_CTRL_TOGGLE : 0));
  report[2] = uint8_t(n);
  std::memcpy(report + 3, cmd + offset, n);
  std::memset(report + 3 + n, 0, HV_REPORT_DATA - n);
  return n;
}

void hl_rx_start(hl_rx_t *rx, uint8_t *buf, size_t cap) { *rx = hl_rx_t{buf, cap, 0, 0}; }

int hl_rx_feed(hl_rx_t *rx, const uint8_t *report) {
  size_t n = report[2];
  if (n > HV_REPORT_DATA) return HL_RX_BAD_LEN;
  if ((report[1] & HL_CTRL_SEQ_MASK) != (rx->seq & HL_CTRL_SEQ_MASK)) return HL_RX_BAD_SEQ;
  if (n > rx->cap - rx->len) return HL_RX_OVERFLOW;
  std::memcpy(rx->buf + rx->len, report + 3, n);
  rx->len += n;
  if (report[1] & HL_CTRL_MORE) {
    rx->seq++;
    return HL_RX_MORE;
  }
  return HL_RX_DONE;
}

int hl_write_report(void *dev, const uint8_t *report_with_id) {
  if (!dev) return -1;
  if (hid_write(hid(dev), report_with_id, HV_REPORT_SIZE + 1) < 0) return -4;
  return 0;
}

int hl_drain_input(void *dev) {
  if (!dev) return 0;
  Report report;
  int n = 0;
  // Bounded: a reader streaming reports must not hold us here.
  while (n < 64 && hid_read_timeout(hid(dev), report.data(), report.size(), 0) > 0) n++;
  return n;
}

int usb_device_write(void *dev, const uint8_t *data, uint32_t len) {
  if (!dev) return -1;
  if (!data || len > HV_REPORT_SIZE) return -4;
  std::array<uint8_t, HV_REPORT_SIZE + 1> out{};
  std::memcpy(out.data() + 1, data, len);
  return hl_write_report(dev, out.data());
}

int usb_device_read(void *dev, uint8_t *InputReport, int Millisecond) {
  if (!dev || !InputReport) return -1;
  int ret = hid_read_timeout(hid(dev), InputReport, HV_REPORT_SIZE, Millisecond);
  if (ret == HV_REPORT_SIZE || ret == 0) return ret;
  log_e("ret is %d", ret);
  return -1;
}

void usb_device_close(void *dev) {
  if (dev) hid_close(hid(dev));
}

int usb_device_cancel_read(void *dev) { return dev ? 0 : -1; }

int transmit(void *dev, uint8_t tag, const uint8_t *in_data, uint32_t in_len) {
  if (!in_data || in_len == 0) return -1;
  // Byte 0 stays the report ID; each report is built in place after it.
  std::array<uint8_t, HV_REPORT_SIZE + 1> out{};
  for (size_t i = 0; hl_build_report(out.data() + 1, tag, in_data, in_len, i) > 0; i++) {
    if (hl_write_report(dev, out.data()) != 0) {
      log_e("transmit fail!");
      return -4;
    }
  }
  return 0;
}

// timeout bounds the whole response, not each report: a reader that keeps
// sending (or keeps silent) cannot hold the caller past it.
int receive(void *dev, uint8_t, uint8_t *receive_data, uint32_t *receive_len, int timeout) {
  if (!receive_len) return -1;
  *receive_len = 0;
  if (!receive_data) return -1;

  hl_rx_t rx;
  Report report;
  const int64_t deadline = nowMs() + std::max(timeout, 0);
  hl_rx_start(&rx, receive_data, HV_MAX_RESPONSE);
  for (;;) {
    int64_t left = deadline - nowMs();
    int ret = usb_device_read(dev, report.data(), left > 0 ? int(left) : 0);
    if (ret < 0) {
      log_e("receive error %d", ret);
      return -1;
    }
    if (ret > 0) {
      switch (hl_rx_feed(&rx, report.data())) {
        case HL_RX_DONE:
          log_d("receive valide package");
          *receive_len = uint32_t(rx.len);
          return 0;
        case HL_RX_BAD_LEN:
          log_e("receive bad length %u", report[2]);
          return -1;
        case HL_RX_OVERFLOW:
          log_e("receive overflow past %d bytes", HV_MAX_RESPONSE);
          return -1;
        case HL_RX_BAD_SEQ:
          return -1;
        default:
          break;
      }
    }
    if (nowMs() >= deadline) {
      log_e("receive timeout %d ms", timeout);
      return -1;
    }
  }
}
