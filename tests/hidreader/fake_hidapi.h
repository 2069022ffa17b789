// Test double of the hidapi calls the driver makes. Linked into a test
// program, it takes the place of libhidapi: it records every report written
// and plays scripted input reports back.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace fakehid {

using Report = std::vector<uint8_t>;  // one input report as read (usually 64 bytes)

// One scripted read: a report of `ret` bytes, or a bare result (0, -1).
struct Read {
    int ret;
    std::array<uint8_t, 64> data;
};

// Forgets devices, scripts and records; open device objects stay valid
// until the driver closes them.
void reset();

void plug(const std::string &path, int interface_number = 1,
          const std::wstring &serial = L"SN0001");
void unplug(const std::string &path);
void set_open_fails(const std::string &path, bool fails);
void set_serial_fails(bool fails);

// Reads that become available once the next whole command has been written
// (a written report whose more-follows bit is clear).
void reply(const std::vector<Read> &reads);
// Reads available at once (answers nobody asked for).
void inject_now(const std::vector<Read> &reads);
// Makes write number n (0-based, counted from reset) fail.
void fail_write(int n);

Read report(const Report &bytes);  // a full 64-byte report (zero-padded)
Read result(int ret);              // a bare read result

// Every report written, 65 bytes each (report ID first).
const std::vector<std::vector<uint8_t>> &writes();
// Millisecond arguments of every hid_read_timeout call.
const std::vector<int> &read_waits();
int enumerate_calls();
int open_calls();
std::vector<std::string> closed_paths();
unsigned short last_vendor_id();
unsigned short last_product_id();

// Benchmark mode: no recording; after every whole command the same reads
// are played back, without allocation.
void loop_reply(const std::vector<Read> &reads);

}  // namespace fakehid
