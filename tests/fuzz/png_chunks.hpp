// Walking the chunks of a PNG stream.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace fuzz {

inline std::uint32_t be32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

inline constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// Calls visit(offset of the chunk's length field, length, type) for every
// whole chunk after the signature; stops at the first that does not fit.
template <class Visit>
void for_each_png_chunk(const std::vector<std::uint8_t>& png, Visit visit) {
    if (png.size() < 8 || std::memcmp(png.data(), kPngSignature, 8) != 0) return;
    std::size_t at = 8;
    while (png.size() - at >= 12) {
        const std::uint32_t length = be32(&png[at]);
        if (length > png.size() - at - 12) return;
        visit(at, length, &png[at + 4]);
        at += 12 + std::size_t(length);
    }
}

// Rewrites the CRC of every whole chunk to match its type and content.
inline void fix_png_crcs(std::vector<std::uint8_t>& png) {
    for_each_png_chunk(png, [&](std::size_t at, std::uint32_t length, const std::uint8_t*) {
        const auto crc = std::uint32_t(::crc32(0, &png[at + 4], length + 4));
        for (int k = 0; k < 4; ++k) png[at + 8 + length + std::size_t(k)] = std::uint8_t(crc >> (24 - 8 * k));
    });
}

}  // namespace fuzz
