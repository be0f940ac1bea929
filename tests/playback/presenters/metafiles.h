#pragma once

// Small Windows metafiles written record by record, for the picture tests: a
// 100 × 100 drawing whose left half is one colour and right half another,
// each half a rectangle filled by a solid brush with no outline.

#include <cstdint>
#include <string>
#include <vector>

namespace zorvak::test {

struct Rgb {
    std::uint8_t r, g, b;
};

class Bytes {
public:
    void U16(std::uint16_t v) {
        data_.push_back(static_cast<char>(v & 0xFF));
        data_.push_back(static_cast<char>(v >> 8));
    }
    void I16(std::int16_t v) { U16(static_cast<std::uint16_t>(v)); }
    void U32(std::uint32_t v) {
        U16(static_cast<std::uint16_t>(v & 0xFFFF));
        U16(static_cast<std::uint16_t>(v >> 16));
    }
    void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
    void Colour(Rgb c) {  // COLORREF: red, green, blue, 0
        data_.push_back(static_cast<char>(c.r));
        data_.push_back(static_cast<char>(c.g));
        data_.push_back(static_cast<char>(c.b));
        data_.push_back(0);
    }
    std::string& data() { return data_; }

private:
    std::string data_;
};

// WMF with the placeable header (Aldus), logical window 0,0 to 100,100.
inline std::string TwoColourWmf(Rgb left, Rgb right) {
    Bytes records;
    std::uint32_t largest = 0;
    auto record = [&](std::uint16_t function, const std::vector<std::uint16_t>& params) {
        const auto words = static_cast<std::uint32_t>(3 + params.size());
        if (words > largest) largest = words;
        records.U32(words);
        records.U16(function);
        for (std::uint16_t p : params) records.U16(p);
    };
    auto brush = [&](Rgb c) {  // META_CREATEBRUSHINDIRECT: BS_SOLID, colour, hatch 0
        const std::uint16_t low = static_cast<std::uint16_t>(c.r | (c.g << 8));
        const std::uint16_t high = c.b;
        record(0x02FC, {0, low, high, 0});
    };
    record(0x020B, {0, 0});      // META_SETWINDOWORG y, x
    record(0x020C, {100, 100});  // META_SETWINDOWEXT height, width
    record(0x02FA, {5, 0, 0, 0, 0});  // META_CREATEPENINDIRECT PS_NULL -> object 0
    record(0x012D, {0});              // META_SELECTOBJECT pen
    brush(left);                      // object 1
    record(0x012D, {1});
    record(0x041B, {100, 50, 0, 0});  // META_RECTANGLE bottom, right, top, left
    record(0x01F0, {1});              // META_DELETEOBJECT brush
    brush(right);                     // object 1 again
    record(0x012D, {1});
    record(0x041B, {100, 100, 0, 50});
    record(0x0000, {});  // META_EOF

    Bytes file;
    // Placeable header: key, handle, bounding box, units per inch, reserved,
    // checksum (XOR of the ten words before it).
    std::vector<std::uint16_t> head = {0xCDD7, 0x9AC6, 0, 0, 0, 100, 100, 96, 0, 0};
    std::uint16_t checksum = 0;
    for (std::uint16_t w : head) {
        file.U16(w);
        checksum ^= w;
    }
    file.U16(checksum);
    // META_HEADER: memory metafile, 9 words, version 3.0, size in words,
    // objects, largest record, no members.
    const auto size = static_cast<std::uint32_t>(9 + records.data().size() / 2);
    file.U16(1);
    file.U16(9);
    file.U16(0x0300);
    file.U32(size);
    file.U16(2);
    file.U32(largest);
    file.U16(0);
    return file.data() + records.data();
}

// EMF in device units, bounds 0,0 to 99,99.
inline std::string TwoColourEmf(Rgb left, Rgb right) {
    Bytes records;
    int count = 0;
    auto brush = [&](std::uint32_t index, Rgb c) {  // EMR_CREATEBRUSHINDIRECT
        records.U32(39);
        records.U32(24);
        records.U32(index);
        records.U32(0);  // BS_SOLID
        records.Colour(c);
        records.U32(0);
        ++count;
    };
    auto select = [&](std::uint32_t index) {  // EMR_SELECTOBJECT
        records.U32(37);
        records.U32(12);
        records.U32(index);
        ++count;
    };
    auto rectangle = [&](int l, int t, int r, int b) {  // EMR_RECTANGLE
        records.U32(43);
        records.U32(24);
        records.I32(l);
        records.I32(t);
        records.I32(r);
        records.I32(b);
        ++count;
    };
    select(0x80000008);  // NULL_PEN
    brush(1, left);
    select(1);
    rectangle(0, 0, 50, 100);
    records.U32(40);  // EMR_DELETEOBJECT
    records.U32(12);
    records.U32(1);
    ++count;
    brush(1, right);
    select(1);
    rectangle(50, 0, 100, 100);
    records.U32(14);  // EMR_EOF
    records.U32(20);
    records.U32(0);
    records.U32(16);
    records.U32(20);
    ++count;

    Bytes header;
    const std::uint32_t headerSize = 88;
    header.U32(1);  // EMR_HEADER
    header.U32(headerSize);
    for (int v : {0, 0, 99, 99}) header.I32(v);        // bounds, device units
    for (int v : {0, 0, 2640, 2640}) header.I32(v);    // frame, 0.01 mm (96 dpi)
    header.U32(0x464D4520);                            // " EMF"
    header.U32(0x10000);
    header.U32(static_cast<std::uint32_t>(headerSize + records.data().size()));
    header.U32(static_cast<std::uint32_t>(count + 1));
    header.U16(2);  // handles: one object plus the reserved 0
    header.U16(0);
    header.U32(0);  // no description
    header.U32(0);
    header.U32(0);  // no palette
    header.I32(1024);  // device size in pixels
    header.I32(768);
    header.I32(271);  // and in millimetres
    header.I32(203);
    return header.data() + records.data();
}

}  // namespace zorvak::test
