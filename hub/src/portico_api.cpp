// The exported calls: each picks the selected family's table and forwards.
#include <cstring>

#include "family.h"
#include "messages.h"

extern "C" {
int32_t DevType = PORTICO_DEV_NONE;
unsigned char IsDcFeiJie = 0;
}

namespace portico {

namespace {

int64_t noOpen() { return -1; }
int noClose(int64_t, char* msg) {
  putMessage(msg, msgs::kNoFamily);
  return -1;
}
void noSetNad(int64_t, uint8_t) {}
int noCpuReset(int64_t, int*, uint8_t*) { return -1; }
int noCpuProtocol(int64_t, int, const uint8_t*, int*, uint8_t*) { return -1; }
int noIdcardRead(int64_t, IdText&, IdPhoto*, char*) { return -1; }

}  // namespace

const ReaderFamily kNoFamily = {PORTICO_DEV_NONE, noOpen,        noClose,     noSetNad,
                                noCpuReset,       noCpuProtocol, noIdcardRead};

const ReaderFamily* const kOpenOrder[2] = {&kHidFamily, &kVendorFamily};

const ReaderFamily& familyOf(int32_t devType) {
  for (const ReaderFamily* f : kOpenOrder)
    if (f->devType == devType) return *f;
  return kNoFamily;
}

void putMessage(char* msg, const char* text) {
  if (msg) std::memcpy(msg, text, std::strlen(text) + 1);
}

}  // namespace portico

using portico::familyOf;

extern "C" {

int64_t OpenDev(void*, char*, char* msg) {
  for (const portico::ReaderFamily* f : portico::kOpenOrder) {
    int64_t h = f->open();
    if (h > 0) {
      DevType = f->devType;
      return h;
    }
  }
  portico::putMessage(msg, portico::msgs::kNoReader);
  return -1;
}

int CloseDev(int64_t handle, char* msg) { return familyOf(DevType).close(handle, msg); }

void Set_Nad(int64_t handle, unsigned char nad) { familyOf(DevType).setNad(handle, nad); }

int Cpu_Reset(int64_t handle, int* rlen, unsigned char* atr) { return familyOf(DevType).cpuReset(handle, rlen, atr); }

int CPU_Protocol(int64_t handle, int slen, const unsigned char* sbuf, int* rlen, unsigned char* rbuf) {
  return familyOf(DevType).cpuProtocol(handle, slen, sbuf, rlen, rbuf);
}

int IDCard_Read(int64_t handle, char* name, char* sex, char* nation, char* birth, char* address,
                char* id_number, char* authority, char* valid_start, char* valid_end, char* msg) {
  portico::IdText t;
  int rc = familyOf(DevType).idcardRead(handle, t, nullptr, msg);
  if (rc == 0) {
    char* const outs[9] = {name, sex, nation, birth, address, id_number, authority, valid_start, valid_end};
    portico::deliver(t, outs);
  }
  return rc;
}

int IDCard_ReadPhoto(int64_t handle, char* name, char* sex, char* nation, char* birth, char* address,
                     char* id_number, char* authority, char* valid_start, char* valid_end, unsigned char* photo,
                     int* photo_len, char* msg) {
  portico::IdText t;
  portico::IdPhoto p;
  int rc = familyOf(DevType).idcardRead(handle, t, &p, msg);
  if (rc == 0) {
    char* const outs[9] = {name, sex, nation, birth, address, id_number, authority, valid_start, valid_end};
    portico::deliver(t, outs);
    if (photo) std::memcpy(photo, p.bytes, p.len);
    if (photo_len) *photo_len = int(p.len);
  }
  return rc;
}

}  // extern "C"
