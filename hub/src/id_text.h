// ID card fields as the hub hands them out, and the pure decoding of the
// USB-HID module's read reply. Nothing here touches a device.
#pragma once
#include <cstddef>
#include <cstdint>

#include "portico.h"

namespace portico {

// The nine outputs, each sized as the caller's buffer and always
// NUL-terminated inside it.
struct IdText {
  char name[PORTICO_ID_NAME_SIZE];
  char sex[PORTICO_ID_SEX_SIZE];
  char nation[PORTICO_ID_NATION_SIZE];
  char birth[PORTICO_ID_BIRTH_SIZE];
  char address[PORTICO_ID_ADDRESS_SIZE];
  char number[PORTICO_ID_NUMBER_SIZE];
  char authority[PORTICO_ID_AUTHORITY_SIZE];
  char validStart[PORTICO_ID_VALID_START_SIZE];
  char validEnd[PORTICO_ID_VALID_END_SIZE];
};

enum class Charset { Utf8, Gbk };

// Copies at most cap - 1 bytes of the len bytes at src into dst, never
// splitting a character of the given charset, and terminates dst. Returns
// the bytes copied. cap 0 writes nothing.
size_t copyText(char* dst, size_t cap, const char* src, size_t len, Charset cs);
template <size_t N>
size_t copyText(char (&dst)[N], const char* src, size_t len, Charset cs) {
  return copyText(dst, N, src, len, cs);
}

// Sex code character to its name: '1' "男", '2' "女", '0' "未知",
// '9' "未说明", anything else "".
const char* sexName(const char* code);

// The read reply of the ID-card module as the exchange returns it (status
// word stripped): SAM frame header, text and photo lengths, then the
// 256-byte UCS-2LE text block from byte 14.
inline constexpr size_t kIdTextOffset = 14;
inline constexpr size_t kIdTextSize = 256;

// Decodes the text block of a read reply into out. False (out untouched)
// when the reply is too short to hold the block.
bool decodeIdReply(const uint8_t* reply, size_t len, IdText& out);

// The compressed photo record as the card gives it.
struct IdPhoto {
  uint8_t bytes[PORTICO_ID_PHOTO_SIZE];
  size_t len;
};

// Takes the photo record of a read reply: text length T at byte 10, photo
// length P at byte 12 (both big-endian), the record at 14 + T. False (out
// untouched) when P exceeds PORTICO_ID_PHOTO_SIZE or the record reaches past
// the reply's len bytes.
bool takeIdPhoto(const uint8_t* reply, size_t len, IdPhoto& out);

// Copies the fields to the caller's buffers (null ones are skipped).
void deliver(const IdText& t, char* const outs[9]);

}  // namespace portico
