// Firmware files for the tests of the window and of the command-line tool
// (no widgets here, so both can include it).
#pragma once

#include <QByteArray>
#include <QtEndian>

#include <cstdint>

namespace firmware_test {

// Bytes that are never zero, so no write chunk of them ends in zero bytes
// (which the units would take as padding).
inline QByteArray non_zero_bytes(qsizetype size, unsigned seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    std::uint32_t x = seed * 2654435761u + 1;
    for (qsizetype i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        bytes[i] = static_cast<char>(1 + (x >> 24) % 255);
    }
    return bytes;
}

// A firmware file: 64-byte header with total_size, encrypted_size and the
// image offset, then the body. Header bytes the tool does not read are filler.
inline QByteArray firmware_image(std::uint32_t total_size, std::uint32_t body_size, std::uint32_t image_offset,
                                 unsigned seed = 1) {
    QByteArray image = non_zero_bytes(64 + body_size, seed);
    auto* header = reinterpret_cast<uchar*>(image.data());
    qToLittleEndian<quint32>(total_size, header + 8);
    qToLittleEndian<quint32>(body_size, header + 16);
    qToLittleEndian<quint32>(image_offset, header + 44);
    return image;
}

}  // namespace firmware_test
