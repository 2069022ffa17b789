// BER-TLV of chip cards and data object lists, pure over byte buffers.
// Every read stays inside the buffer it is given.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace payterm {

struct Tlv {
  uint32_t tag = 0;
  bool constructed = false;
  const uint8_t* value = nullptr;
  size_t len = 0;
  const uint8_t* start = nullptr;  // first tag byte
  size_t total = 0;                // tag, length and value
};

// Tag of 1..3 bytes at p (n available): bytes used, 0 when malformed.
size_t tlv_read_tag(const uint8_t* p, size_t n, uint32_t* tag);
// Bytes the tag takes and its encoding into out (3 bytes room).
size_t tlv_tag_size(uint32_t tag);
size_t tlv_put_tag(uint32_t tag, uint8_t* out);

// Next object at *pos in buf[0, n), skipping 00 and FF filler between
// objects: 1 read (pos advanced past it), 0 end of data, -1 malformed.
int tlv_next(const uint8_t* buf, size_t n, size_t* pos, Tlv* out);
// Depth-first search through constructed objects (at most 8 levels).
bool tlv_find(const uint8_t* buf, size_t n, uint32_t tag, Tlv* out);
// Appends tag, length and value at out[*at] within cap bytes; false (and
// nothing written) when it does not fit or n is above 65535.
bool tlv_append(uint8_t* out, size_t cap, size_t* at, uint32_t tag, const uint8_t* v, size_t n);

struct DolItem {
  uint32_t tag;
  size_t len;
};
// Tags and lengths of a data object list; at most max items. Count, or -1
// when a tag is cut short or has no length byte, or there are more.
int dol_parse(const uint8_t* dol, size_t n, DolItem* items, int max);
size_t dol_length(const uint8_t* dol, size_t n);

// Format letter of a tag in the kernel's table: 'n' numeric, 'c'
// compressed numeric, 'b' binary, 'a' alphanumeric, 'v' variable, 't'
// template; 0 when the table does not know it.
char tag_format(uint32_t tag);

// Terminal data list: per object the tag, one length byte and the value;
// a zero byte ends it.
bool termlist_add(uint8_t* list, size_t cap, size_t* at, uint32_t tag, const uint8_t* v,
                  size_t n);
bool termlist_find(const uint8_t* list, size_t n, uint32_t tag, const uint8_t** v,
                   size_t* len);

// Data for a data object list from a terminal data list. Templates and
// tags the table does not know are sent as zeros; numeric values keep
// their rightmost bytes or get leading zeros, compressed numeric ones are
// left-aligned and padded with FF, others left-aligned, cut or padded
// with zeros. 0, -1 a known tag missing from the list, -2 malformed list
// or out of room.
int dol_build(const uint8_t* dol, size_t n, const uint8_t* list, size_t listLen, uint8_t* out,
              size_t cap, size_t* outLen);

}  // namespace payterm
