// Helpers of the driver tests: response reports built here (independently
// of the driver's framing code), byte-string helpers and a log file reader.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "fake_hidapi.h"
#include "hidlink.h"

using Bytes = std::vector<uint8_t>;

inline Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes bytes_of(const std::string &s) { return Bytes(s.begin(), s.end()); }

inline Bytes counting(size_t n, uint8_t first = 0)
{
    Bytes b(n);
    for (size_t i = 0; i < n; i++)
        b[i] = static_cast<uint8_t>(first + i);
    return b;
}

// The reports a reader sends for one response: 61 data bytes each, control
// byte = sequence | 0x20 when more follow | 0x40 on odd reports.
inline std::vector<fakehid::Read> frames(uint8_t nad, const Bytes &response)
{
    std::vector<fakehid::Read> out;
    size_t off = 0, seq = 0;
    do {
        size_t n = std::min<size_t>(61, response.size() - off);
        bool more = response.size() - off > 61;
        Bytes r(64, 0);
        r[0] = nad;
        r[1] = static_cast<uint8_t>((seq & 0x1F) | (more ? 0x20 : 0) | ((seq & 1) ? 0x40 : 0));
        r[2] = static_cast<uint8_t>(n);
        std::copy_n(response.begin() + off, n, r.begin() + 3);
        out.push_back(fakehid::report(r));
        off += n;
        seq++;
    } while (off < response.size());
    return out;
}

// The command carried by the written reports from index `first`: data bytes
// of each report concatenated until a report without more-follows.
inline Bytes sent_command(size_t first = 0, size_t *next = nullptr)
{
    const auto &w = fakehid::writes();
    Bytes cmd;
    size_t i = first;
    for (; i < w.size(); i++) {
        cmd.insert(cmd.end(), w[i].begin() + 4, w[i].begin() + 4 + w[i][3]);
        if (!(w[i][2] & 0x20)) {
            i++;
            break;
        }
    }
    if (next)
        *next = i;
    return cmd;
}

// All commands written, in order, with the node address of each.
struct Sent {
    uint8_t nad;
    Bytes bytes;
};
inline std::vector<Sent> sent_commands()
{
    std::vector<Sent> out;
    size_t i = 0;
    while (i < fakehid::writes().size()) {
        uint8_t nad = fakehid::writes()[i][1];
        Bytes b = sent_command(i, &i);
        out.push_back({nad, b});
    }
    return out;
}

inline std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline bool file_exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

// A fresh log file for one test: the driver log writes to it from now on.
class LogFile {
public:
    explicit LogFile(const std::string &tag, size_t max_size = 1024 * 1024, int rotate = 5)
    {
        char tmpl[] = "/tmp/hidlink-test-XXXXXX";
        dir_ = mkdtemp(tmpl);
        path_ = dir_ + "/" + tag + ".log";
        ElogFileCfg cfg = {const_cast<char *>(path_.c_str()), max_size, rotate};
        elog_file_config(&cfg);
    }
    ~LogFile()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    const std::string &path() const { return path_; }
    const std::string &dir() const { return dir_; }
    std::string text() const { return read_file(path_); }

private:
    std::string dir_;
    std::string path_;
};
