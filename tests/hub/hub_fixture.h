// A private vreader, the hub opened on it, and small helpers for the exact
// bytes of commands and outputs.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bytes.h"
#include "hidlink.h"
#include "portico.h"
#include "vreader_log.h"

inline std::string hubProfile() { return std::string(getenv("HW_SOURCE_DIR")) + "/tests/hub/profiles/hub.json"; }

// A caller buffer of `size` bytes followed by a guard that must stay intact.
struct Guarded {
  explicit Guarded(size_t size, char fill = '\0') : size(size), bytes(size + 16, '#') {
    std::memset(bytes.data(), fill, size);
  }
  char* data() { return bytes.data(); }
  std::string text() const { return std::string(bytes.data(), strnlen(bytes.data(), size)); }
  bool guardIntact() const { return std::string(bytes.data() + size, 16) == std::string(16, '#'); }
  size_t size;
  std::vector<char> bytes;
};

// The nine ID outputs at the hub's documented minimum sizes.
struct IdOutputs {
  IdOutputs(char fill = '\0')
      : f{Guarded(PORTICO_ID_NAME_SIZE, fill),      Guarded(PORTICO_ID_SEX_SIZE, fill),
          Guarded(PORTICO_ID_NATION_SIZE, fill),    Guarded(PORTICO_ID_BIRTH_SIZE, fill),
          Guarded(PORTICO_ID_ADDRESS_SIZE, fill),   Guarded(PORTICO_ID_NUMBER_SIZE, fill),
          Guarded(PORTICO_ID_AUTHORITY_SIZE, fill), Guarded(PORTICO_ID_VALID_START_SIZE, fill),
          Guarded(PORTICO_ID_VALID_END_SIZE, fill)} {}
  int read(int64_t h, char* msg) {
    return IDCard_Read(h, f[0].data(), f[1].data(), f[2].data(), f[3].data(), f[4].data(), f[5].data(),
                       f[6].data(), f[7].data(), f[8].data(), msg);
  }
  std::vector<std::string> texts() const {
    std::vector<std::string> t;
    for (const Guarded& g : f) t.push_back(g.text());
    return t;
  }
  bool guardsIntact() const {
    for (const Guarded& g : f)
      if (!g.guardIntact()) return false;
    return true;
  }
  Guarded f[9];
};

// Connections of one family ("hid" or "dc") the reader holds.
inline long clients(VreaderProcess& vr, const std::string& fam) {
  std::string s = vr.ctl("state");
  size_t at = s.find("\"clients\":{");
  if (at == std::string::npos) return -1;
  at = s.find("\"" + fam + "\":", at);
  return at == std::string::npos ? -1 : std::strtol(s.c_str() + at + fam.size() + 3, nullptr, 10);
}

struct HubTest : ::testing::Test {
  // Starts the reader with the given families and opens the hub on it.
  void open(const std::string& family = "both", const std::string& profile = hubProfile()) {
    ASSERT_TRUE(vr.start(profile, family));
    h = OpenDev(nullptr, nullptr, msg);
    ASSERT_GT(h, 0) << msg;
    ASSERT_EQ(vr.ctl("clearlog"), "OK");
  }
  void TearDown() override {
    if (h > 0) CloseDev(h, msg);
    unsetenv("VREADER_DC_TIMEOUT_MS");
  }
  // CPU_Protocol with a hex command: "result:data" in hex.
  std::string apdu(const char* hex) {
    vr::Bytes c = vr::hx(hex);
    unsigned char out[PORTICO_RESPONSE_SIZE];
    int len = -1;
    int r = CPU_Protocol(h, int(c.size()), c.data(), &len, out);
    char head[16];
    snprintf(head, sizeof head, r < 0 ? "%d" : "%04X", r);
    return std::string(head) + ":" + (r == 0x9000 ? vr::toHex(out, size_t(len)) : "");
  }
  std::string reset() {
    unsigned char atr[PORTICO_ATR_SIZE];
    int len = -1;
    int r = Cpu_Reset(h, &len, atr);
    char head[16];
    snprintf(head, sizeof head, r < 0 ? "%d" : "%04X", r);
    return std::string(head) + ":" + (r == 0x9000 ? vr::toHex(atr, size_t(len)) : "");
  }

  VreaderProcess vr;
  int64_t h = -1;
  char msg[1024] = {0};
};

inline const char kAtrSs3[] = "3B6C00000A1A2B3C4D5E6F708192A3B4C5D6";
// SELECT of the social-security application, DF name "sx3.sh.社会保障" in GBK
inline const char kSelectSs3[] = "00A404000F7378332E73682EC9E7BBE1B1A3D5CF";
