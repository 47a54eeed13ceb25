#include "browser/devtools/base64.h"

#include <array>
#include <cstring>

namespace devtools {

namespace {

// Base64 four characters at a time: one table per position of a character in its group holds
// its six bits already shifted to where they land in the three output bytes (the low three
// bytes of a little-endian word), so a group decodes with four look-ups and three ORs. A
// character outside the alphabet has bits 24 and up set in every table; they survive the ORs,
// so one test per group catches them. Snapshots are a megabyte of base64 several times a
// second, decoded on the I/O thread while the next message waits.
constexpr std::uint32_t invalid = 0xFF000000u;
using DecodeTable = std::array<std::uint32_t, 256>;

constexpr DecodeTable makeDecodeTable(int position) {
    DecodeTable table{};
    for (auto& v : table) v = invalid;
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::uint32_t i = 0; i < 64; ++i) {
        std::uint32_t placed = 0;
        switch (position) {
        case 0: placed = i << 2; break;                                // byte 0, bits 7..2
        case 1: placed = (i >> 4) | ((i & 0x0F) << 12); break;         // byte 0 bits 1..0, byte 1 bits 7..4
        case 2: placed = ((i >> 2) << 8) | ((i & 0x03) << 22); break;  // byte 1 bits 3..0, byte 2 bits 7..6
        default: placed = i << 16; break;                              // byte 2, bits 5..0
        }
        table[static_cast<unsigned char>(alphabet[i])] = placed;
    }
    return table;
}

constexpr DecodeTable decode0 = makeDecodeTable(0);
constexpr DecodeTable decode1 = makeDecodeTable(1);
constexpr DecodeTable decode2 = makeDecodeTable(2);
constexpr DecodeTable decode3 = makeDecodeTable(3);

inline std::uint32_t decodeGroup(const unsigned char* in) {
    return decode0[in[0]] | decode1[in[1]] | decode2[in[2]] | decode3[in[3]];
}

}  // namespace

bool decodeBase64(std::string_view text, std::vector<std::uint8_t>& out) {
    out.clear();
    if (text.size() % 4 != 0) return false;
    if (text.empty()) return true;
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t groups = text.size() / 4;
    // '=' only as padding at the very end: one or two of them in the last group.
    const std::size_t padding = text.back() != '=' ? 0 : text[text.size() - 2] != '=' ? 1 : 2;
    out.resize(groups * 3 - padding);
    std::uint8_t* o = out.data();

    // Every group but the last writes a whole word, whose fourth byte the next group
    // overwrites; the last group stops at its own bytes.
    std::uint32_t bad = 0;
    for (std::size_t g = 0; g + 1 < groups; ++g, in += 4, o += 3) {
        const std::uint32_t word = decodeGroup(in);
        bad |= word;
        const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8),
                                       static_cast<std::uint8_t>(word >> 16), 0};
        std::memcpy(o, bytes, 4);
    }
    // The last group, its padding read as 'A' (zero bits).
    const unsigned char last[4] = {in[0], in[1], padding == 2 ? static_cast<unsigned char>('A') : in[2],
                                   padding >= 1 ? static_cast<unsigned char>('A') : in[3]};
    const std::uint32_t word = decodeGroup(last);
    bad |= word;
    if ((bad & invalid) != 0) return false;
    const std::uint8_t bytes[3] = {static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8),
                                   static_cast<std::uint8_t>(word >> 16)};
    std::memcpy(o, bytes, 3 - padding);
    return true;
}

}  // namespace devtools
