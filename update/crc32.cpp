#include "update/crc32.h"

std::uint32_t Crc32Table[256];

namespace {

std::uint32_t ReverseBits(std::uint32_t value, int width) {
    std::uint32_t reversed = 0;
    for (int bit = 0; bit < width; ++bit) {
        reversed = (reversed << 1) | ((value >> bit) & 1u);
    }
    return reversed;
}

}  // namespace

void BuildCrc32Table() {
    constexpr std::uint32_t POLYNOMIAL = 0x04C11DB7u;
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t w = ReverseBits(i, 8) << 24;
        for (int step = 0; step < 8; ++step) {
            const bool carry = (w & 0x80000000u) != 0;
            w <<= 1;
            if (carry) {
                w ^= POLYNOMIAL;
            }
        }
        Crc32Table[i] = ReverseBits(w, 32);
    }
}

std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t length) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i) {
        c = (c >> 8) ^ Crc32Table[(c ^ bytes[i]) & 0xFFu];
    }
    return c ^ 0xFFFFFFFFu;
}
