// Builds ID-card read replies from known field texts.
#pragma once

#include <string>

#include "wire.h"

struct CardText {
    std::u16string name = u"张三";
    std::u16string sex = u"1";
    std::u16string nation = u"01";
    std::u16string birthday = u"19900101";
    std::u16string address = u"北京市东城区景山前街4号";
    std::u16string id_num = u"11010119900101123X";
    std::u16string department = u"北京市公安局东城分局";
    std::u16string start = u"20200101";
    std::u16string end = u"20400101";
};

// UCS-2LE, padded with blanks to `bytes`.
inline Bytes ucs2(const std::u16string &s, size_t bytes)
{
    Bytes out;
    for (char16_t c : s) {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    while (out.size() < bytes) {
        out.push_back(0x20);
        out.push_back(0x00);
    }
    out.resize(bytes);
    return out;
}

// The 256-byte text block.
inline Bytes text_block(const CardText &t)
{
    Bytes b = ucs2(t.name, 30) + ucs2(t.sex, 2) + ucs2(t.nation, 4) + ucs2(t.birthday, 16) +
              ucs2(t.address, 70) + ucs2(t.id_num, 36) + ucs2(t.department, 30) +
              ucs2(t.start, 16) + ucs2(t.end, 16);
    return b + Bytes(36, 0x20);
}

// Read-reply data: T, P (big-endian), text, photo.
inline Bytes read_data(const Bytes &text, const Bytes &photo)
{
    Bytes b{static_cast<uint8_t>(text.size() >> 8), static_cast<uint8_t>(text.size()),
            static_cast<uint8_t>(photo.size() >> 8), static_cast<uint8_t>(photo.size())};
    return b + text + photo;
}

// A SAM reply frame: preamble, length, SW1 SW2 SW3, data, checksum.
inline Bytes sam_frame(uint8_t sw3, const Bytes &data = {})
{
    size_t len = 3 + data.size() + 1;
    Bytes f{0xAA, 0xAA, 0xAA, 0x96, 0x69, static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len),
            0x00, 0x00, sw3};
    f = f + data;
    uint8_t x = 0;
    for (size_t i = 5; i < f.size(); i++)
        x ^= f[i];
    f.push_back(x);
    return f;
}
