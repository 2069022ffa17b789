#include "fake_hidapi.h"

#include <hidapi.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <thread>

struct hid_device_ {
    std::string path;
};

namespace fakehid {
namespace {

struct Plugged {
    std::string path;
    int interface_number;
    std::wstring serial;
    bool open_fails = false;
};

struct State {
    std::vector<Plugged> devices;
    std::deque<std::vector<Read>> pending;
    std::deque<Read> readable;
    std::vector<std::vector<uint8_t>> writes;
    std::vector<int> waits;
    std::vector<std::string> closed;
    int enumerate_calls = 0;
    int open_calls = 0;
    int write_count = 0;
    int failing_write = -1;
    bool serial_fails = false;
    unsigned short vid = 0, pid = 0;
    bool loop = false;
    std::vector<Read> loop_reads;
    size_t loop_next = 0;
    size_t loop_left = 0;
};

State &st()
{
    static State s;
    return s;
}

}  // namespace

void reset()
{
    st() = State();
}

void plug(const std::string &path, int interface_number, const std::wstring &serial)
{
    st().devices.push_back({path, interface_number, serial});
}

void unplug(const std::string &path)
{
    auto &d = st().devices;
    d.erase(std::remove_if(d.begin(), d.end(), [&](const Plugged &p) { return p.path == path; }),
            d.end());
}

void set_open_fails(const std::string &path, bool fails)
{
    for (auto &p : st().devices)
        if (p.path == path)
            p.open_fails = fails;
}

void set_serial_fails(bool fails) { st().serial_fails = fails; }

void reply(const std::vector<Read> &reads) { st().pending.push_back(reads); }

void inject_now(const std::vector<Read> &reads)
{
    for (const auto &r : reads)
        st().readable.push_back(r);
}

void fail_write(int n) { st().failing_write = n; }

Read report(const Report &bytes)
{
    Read r{64, {}};
    std::copy_n(bytes.begin(), std::min<size_t>(bytes.size(), 64), r.data.begin());
    return r;
}

Read result(int ret) { return Read{ret, {}}; }

const std::vector<std::vector<uint8_t>> &writes() { return st().writes; }
const std::vector<int> &read_waits() { return st().waits; }
int enumerate_calls() { return st().enumerate_calls; }
int open_calls() { return st().open_calls; }
std::vector<std::string> closed_paths() { return st().closed; }
unsigned short last_vendor_id() { return st().vid; }
unsigned short last_product_id() { return st().pid; }

void loop_reply(const std::vector<Read> &reads)
{
    st().loop = true;
    st().loop_reads = reads;
}

}  // namespace fakehid

using fakehid::st;

// Visible to the dynamic linker so that libhidlink binds to these functions
// instead of libhidapi's.
#define FAKE_EXPORT __attribute__((visibility("default")))

extern "C" {

FAKE_EXPORT struct hid_device_info *hid_enumerate(unsigned short vendor_id, unsigned short product_id)
{
    st().enumerate_calls++;
    st().vid = vendor_id;
    st().pid = product_id;
    struct hid_device_info *head = nullptr, **tail = &head;
    for (const auto &p : st().devices) {
        auto *e = static_cast<struct hid_device_info *>(calloc(1, sizeof(struct hid_device_info)));
        e->path = strdup(p.path.c_str());
        e->vendor_id = vendor_id;
        e->product_id = product_id;
        e->interface_number = p.interface_number;
        *tail = e;
        tail = &e->next;
    }
    return head;
}

FAKE_EXPORT void hid_free_enumeration(struct hid_device_info *devs)
{
    while (devs) {
        struct hid_device_info *next = devs->next;
        free(devs->path);
        free(devs);
        devs = next;
    }
}

FAKE_EXPORT hid_device *hid_open_path(const char *path)
{
    st().open_calls++;
    for (const auto &p : st().devices)
        if (p.path == path && !p.open_fails)
            return new hid_device_{path};
    return nullptr;
}

FAKE_EXPORT void hid_close(hid_device *dev)
{
    st().closed.push_back(dev->path);
    delete dev;
}

FAKE_EXPORT int hid_write(hid_device *dev, const unsigned char *data, size_t length)
{
    (void)dev;
    auto &s = st();
    if (s.write_count++ == s.failing_write)
        return -1;
    bool last = length >= 3 && (data[2] & 0x20) == 0;
    if (s.loop) {
        if (last)
            s.loop_left = s.loop_reads.size();
        return static_cast<int>(length);
    }
    s.writes.emplace_back(data, data + length);
    if (last && !s.pending.empty()) {
        for (const auto &r : s.pending.front())
            s.readable.push_back(r);
        s.pending.pop_front();
    }
    return static_cast<int>(length);
}

FAKE_EXPORT int hid_read_timeout(hid_device *dev, unsigned char *data, size_t length, int milliseconds)
{
    (void)dev;
    auto &s = st();
    if (s.loop) {
        if (s.loop_left == 0)
            return 0;
        s.loop_left--;
        const auto &r = s.loop_reads[s.loop_next++ % s.loop_reads.size()];
        std::memcpy(data, r.data.data(), std::min<size_t>(length, 64));
        return r.ret;
    }
    s.waits.push_back(milliseconds);
    if (s.readable.empty()) {
        // Like the real call: nothing comes within the wait.
        if (milliseconds > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(milliseconds, 20)));
        return 0;
    }
    fakehid::Read r = s.readable.front();
    s.readable.pop_front();
    if (r.ret > 0)
        std::memcpy(data, r.data.data(), std::min<size_t>({length, size_t(64), size_t(r.ret)}));
    return r.ret;
}

FAKE_EXPORT int hid_get_serial_number_string(hid_device *dev, wchar_t *string, size_t maxlen)
{
    if (st().serial_fails || maxlen == 0)
        return -1;
    for (const auto &p : st().devices) {
        if (p.path == dev->path) {
            size_t n = std::min(p.serial.size(), maxlen - 1);
            std::wmemcpy(string, p.serial.c_str(), n);
            string[n] = L'\0';
            return 0;
        }
    }
    return -1;
}

}  // extern "C"
