// The standard CRC-32 (ISO-HDLC: reflected polynomial 0xEDB88320, initial value and final XOR
// 0xFFFFFFFF), computed byte by byte over a 256-entry table.
#pragma once

#include <cstddef>
#include <cstdint>

extern std::uint32_t Crc32Table[256];

// Fills Crc32Table by running the polynomial 0x04C11DB7 over each bit-reversed index.
void BuildCrc32Table();

// CRC-32 of `length` bytes; Crc32Table must have been built.
std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t length);
