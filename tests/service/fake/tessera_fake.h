// libtessera_fake: the card operations that hwservice calls (same plain
// names as libtessera), with outcomes scripted by the test and every call
// recorded. Used by the dispatcher and server tests and by hwservice_fake.
//
// Script: a JSON object keyed by function name, for example
//   {"QMX_ReadCarNo": {"ret": 0, "out": {"cardNo": "123456789"}},
//    "QMX_ECard_Read": {"ret": -3, "err": "Instruction execution error!"}}
// per function: "ret" (default 0), "err" (text written into the error buffer
// with its terminator), "out" (buffer name to text, copied without a
// terminator; a text as long as the buffer fills it completely),
// "out_hex" (the same as hex, for bytes that are not UTF-8) and "sleep_ms"
// (a delay before returning, like a slow card). Unscripted functions return
// 0 and write nothing.
//
// Buffer names and the sizes the fake checks (the dispatcher's sizes):
//   QMX_ReadCarNo       cardNo 32
//   QMX_ReadCardCertID  cardNo 32, certId 64
//   QMX_ReadCardCity    region 64
//   QMX_ReadCardBas     certId 64, cardType 8, specVer 8, initOrgNo 25,
//                       issueDate 24, validDate 32, cardNo 16, socialNo 20,
//                       name 66, sex 4, nation 13, birthPlace 16, birthDate 9
//   QMX_IDCard_Read     name 46, sex 32, nation 32, birthDate 32, address 256,
//                       idNumber 32, authority 256, validStart 256, validEnd 64
//   QMX_IDCard_ReadPhoto the nine of QMX_IDCard_Read, photo 1024 (and
//                       *photoLen set to the length it received)
//   QMX_ICBankCard_ReadNO accountNo 32
//   QMX_ECard_Read      out 1024 (and *outLen set to the text's length)
// The error buffer is 1024 bytes.
//
// Record of a call, one compact JSON object per call:
//   {"fn": name, "zeroed": every output and the error buffer were all
//    zero over their sizes, plus the scalar arguments: "mode", "interval",
//    "timeout", "outLen" (value of *outLen on entry)}
//
// In-process control: the functions below. Another process (hwservice_fake)
// is controlled through the environment: TESSERA_FAKE_SCRIPT names a file
// holding the script, read again at every call; TESSERA_FAKE_CALLS names a
// file to which every record is appended as one line.
#ifndef TESSERA_FAKE_H
#define TESSERA_FAKE_H

#include <string>
#include <vector>

#define TESSERA_FAKE_API __attribute__((visibility("default")))

// Replaces the script (false when json does not parse) and forgets the calls.
TESSERA_FAKE_API bool TesseraFake_SetScript(const std::string &json);
// Empty script, no calls.
TESSERA_FAKE_API void TesseraFake_Reset();
// Records of the calls since the last reset, oldest first.
TESSERA_FAKE_API std::vector<std::string> TesseraFake_Calls();

#endif
