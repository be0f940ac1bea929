#pragma once

// Picture files built byte by byte for the picture tests: JPEGs with an EXIF
// orientation, JPEGs of any size made of flat 8 × 8 blocks (written as they
// are built, no image of that size in memory), and PNG headers of any size.

#include <QByteArray>
#include <QColor>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>

namespace zorvak::test {

// The TIFF part of an EXIF segment with one entry, Orientation (0x0112) =
// value; little-endian ("II") or big-endian ("MM").
inline QByteArray ExifOrientation(int value, bool littleEndian = false) {
    QByteArray tiff;
    auto u16 = [&](int v) {
        if (littleEndian) tiff.append(char(v & 0xff)).append(char(v >> 8));
        else tiff.append(char(v >> 8)).append(char(v & 0xff));
    };
    auto u32 = [&](int v) {
        if (littleEndian) { u16(v & 0xffff); u16(v >> 16); }
        else { u16(v >> 16); u16(v & 0xffff); }
    };
    tiff.append(littleEndian ? "II" : "MM");
    u16(42);
    u32(8);                  // IFD0 right after the header
    u16(1);                  // one entry
    u16(0x0112); u16(3); u32(1);  // Orientation, SHORT, one value
    u16(value); u16(0);      // the value, left-justified in 4 bytes
    u32(0);                  // no next IFD
    return tiff;
}

// jpeg with an APP1 "Exif" segment holding tiff right after its SOI marker.
inline QByteArray WithExif(const QByteArray& jpeg, const QByteArray& tiff) {
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    const int length = int(payload.size()) + 2;
    QByteArray segment("\xFF\xE1", 2);
    segment.append(char(length >> 8)).append(char(length & 0xff));
    return jpeg.left(2) + segment + payload + jpeg.mid(2);
}

// A baseline JPEG of width × height (each up to 65535) whose 8 × 8 blocks are
// flat, of the colour colourAt(x, y) gives for the block's top-left pixel.
// Without its scan data (headerOnly) it says its size and nothing more.
inline QByteArray FlatBlockJpeg(int width, int height,
                                const std::function<QColor(int, int)>& colourAt,
                                bool headerOnly = false) {
    QByteArray out;
    auto u8 = [&](int v) { out.append(char(v & 0xff)); };
    auto u16 = [&](int v) { u8(v >> 8); u8(v); };
    u8(0xFF); u8(0xD8);
    // One quantisation table of 8s: a flat block's DC coefficient, 8 × (v − 128),
    // is stored as v − 128.
    u8(0xFF); u8(0xDB); u16(67); u8(0);
    for (int i = 0; i < 64; ++i) u8(8);
    // Three components (YCbCr), no subsampling, all on table 0.
    u8(0xFF); u8(0xC0); u16(17); u8(8); u16(height); u16(width); u8(3);
    for (int c = 1; c <= 3; ++c) { u8(c); u8(0x11); u8(0); }
    // DC: the standard luminance table (categories 0..11). AC: one code, "0",
    // for end-of-block: every block is flat.
    static const int dcBits[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
    u8(0xFF); u8(0xC4); u16(2 + 17 + 12 + 17 + 1);
    u8(0x00);
    for (int b : dcBits) u8(b);
    for (int v = 0; v < 12; ++v) u8(v);
    u8(0x10); u8(1);
    for (int i = 1; i < 16; ++i) u8(0);
    u8(0x00);
    u8(0xFF); u8(0xDA); u16(12); u8(3);
    for (int c = 1; c <= 3; ++c) { u8(c); u8(0x00); }
    u8(0); u8(63); u8(0);
    if (headerOnly) {
        u8(0xFF); u8(0xD9);
        return out;
    }

    // The DC codes of the standard table by category.
    static const std::uint16_t dcCode[12] = {0x0, 0x2, 0x3, 0x4, 0x5, 0x6,
                                             0xE, 0x1E, 0x3E, 0x7E, 0xFE, 0x1FE};
    static const int dcLength[12] = {2, 3, 3, 3, 3, 3, 4, 5, 6, 7, 8, 9};
    std::uint32_t bits = 0;
    int count = 0;
    auto put = [&](std::uint32_t value, int length) {
        for (int i = length - 1; i >= 0; --i) {
            bits = (bits << 1) | ((value >> i) & 1);
            if (++count == 8) {
                u8(int(bits));
                if ((bits & 0xff) == 0xff) u8(0);
                bits = 0;
                count = 0;
            }
        }
    };
    int previous[3] = {0, 0, 0};
    const int blocksWide = (width + 7) / 8;
    const int blocksHigh = (height + 7) / 8;
    for (int by = 0; by < blocksHigh; ++by) {
        for (int bx = 0; bx < blocksWide; ++bx) {
            const QColor c = colourAt(bx * 8, by * 8);
            const double r = c.red(), g = c.green(), b = c.blue();
            const int ycc[3] = {
                qRound(0.299 * r + 0.587 * g + 0.114 * b),
                qRound(128 - 0.168736 * r - 0.331264 * g + 0.5 * b),
                qRound(128 + 0.5 * r - 0.418688 * g - 0.081312 * b)};
            for (int k = 0; k < 3; ++k) {
                const int dc = std::clamp(ycc[k], 0, 255) - 128;
                const int diff = dc - previous[k];
                previous[k] = dc;
                int magnitude = diff < 0 ? -diff : diff;
                int category = 0;
                while (magnitude > 0) { ++category; magnitude >>= 1; }
                put(dcCode[category], dcLength[category]);
                if (category > 0) {
                    const int extra = diff < 0 ? diff - 1 : diff;
                    put(std::uint32_t(extra) & ((1u << category) - 1), category);
                }
                put(0, 1);  // end of block
            }
        }
    }
    if (count > 0) put(0xff, 8 - count);  // padded with ones
    u8(0xFF); u8(0xD9);
    return out;
}

// Which corner of the stored picture shows at each corner of the screen
// (top-left, top-right, bottom-left, bottom-right; 0..3 in that order) for an
// EXIF orientation 1..8.
inline std::array<int, 4> UprightCorners(int orientation) {
    static const std::array<int, 4> table[9] = {
        {0, 1, 2, 3}, {0, 1, 2, 3}, {1, 0, 3, 2}, {3, 2, 1, 0}, {2, 3, 0, 1},
        {0, 2, 1, 3}, {2, 0, 3, 1}, {3, 1, 2, 0}, {1, 3, 0, 2}};
    return table[orientation >= 1 && orientation <= 8 ? orientation : 1];
}

// The colours of a picture's quarters, in the order of UprightCorners:
// red, green / blue, yellow.
inline const QColor kQuarterColours[4] = {QColor(255, 0, 0), QColor(0, 255, 0),
                                          QColor(0, 0, 255), QColor(255, 255, 0)};

// A width × height JPEG in those four quarters, as flat blocks.
inline QByteArray QuartersJpeg(int width, int height) {
    return FlatBlockJpeg(width, height, [=](int x, int y) {
        return kQuarterColours[(y < height / 2 ? 0 : 2) + (x < width / 2 ? 0 : 1)];
    });
}

// The CRC of a PNG chunk over its type and data.
inline std::uint32_t PngCrc(const QByteArray& bytes) {
    std::uint32_t crc = 0xffffffffu;
    for (char ch : bytes) {
        crc ^= std::uint8_t(ch);
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1)));
    }
    return crc ^ 0xffffffffu;
}

// The start of an RGBA PNG of width × height: its header and a first data
// chunk, enough for a reader to know its size; the pixels are not there.
inline QByteArray PngHeaderOf(int width, int height) {
    QByteArray out("\x89PNG\r\n\x1a\n", 8);
    auto chunk = [&](const char* type, const QByteArray& data) {
        char length[4];
        qToBigEndian(quint32(data.size()), length);
        out.append(length, 4);
        const QByteArray body = QByteArray(type) + data;
        out.append(body);
        char crc[4];
        qToBigEndian(quint32(PngCrc(body)), crc);
        out.append(crc, 4);
    };
    QByteArray header(13, '\0');
    qToBigEndian(quint32(width), header.data());
    qToBigEndian(quint32(height), header.data() + 4);
    header[8] = 8;  // bits per sample
    header[9] = 6;  // RGBA
    chunk("IHDR", header);
    chunk("IDAT", QByteArray("\x78\x9c\x63\x00\x00\x00\x01\x00\x01", 9));
    chunk("IEND", QByteArray());
    return out;
}

}  // namespace zorvak::test
